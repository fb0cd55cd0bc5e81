#!/usr/bin/env bash
# One Windows PC, no DAC: tavro-play.exe plays through the real driver DLL to
# tavro-sink.exe, which plays to the stand-in DAC's ASIO driver; what the
# stand-in was given is checked against the test signal, never the sink's
# word. Then the refusals the host sees, a stalled DAC and a vanished one.
# Usage: sink_asio.sh WINE_RUN SINK_EXE PLAY_EXE DRIVER_DLL TEST_DAC_DLL CAPTURE_CHECK_EXE LISTENER_EXE
set -u
wine_run=$1 sink=$2 play=$3 driver=$4 dac=$5 capture_check=$6 listener=$7
"$wine_run" --probe || exit $?
source "$(dirname "$0")/checks.sh"
source "$(dirname "$0")/sink_rows.sh"
device="ASIO: TAVRO Test DAC"
work=$(mktemp -d)
export WINEPREFIX=$work/prefix
trap 'WINEPREFIX=$WINEPREFIX timeout 60 wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
address="127.$((1 + ($$ / 254) % 254)).$((1 + $$ % 254)).$((1 + RANDOM % 254))"
"$wine_run" regsvr32 /s "Z:$dac" >"$work/reg" 2>&1
check "regsvr32 registers the stand-in DAC" 0 "$?"
"$wine_run" regsvr32 /s "Z:$driver" >"$work/reg" 2>&1
check "regsvr32 registers the driver" 0 "$?"
export TAVRO_TEST_DAC_CONFIG="Z:$work/dac.conf"
mkdir -p "$work/control"

# dac TYPE RATES DSD_RATES: the stand-in's configuration for the next row.
dac() {
  printf 'type %s\nrates %s\n%sbuffer 256\ncapture Z:%s\ncontrol Z:%s\n' "$1" "$2" \
    "${3:+dsd $3
}" "$capture" "$work/control" >"$work/dac.conf"
}

capture=$work/listing.raw
dac Int24LSB "44100 96000" "2822400"
"$wine_run" "$sink" --list-devices >"$work/list" 2>&1
check "--list-devices asks the DAC's driver what it takes" yes "$(yes_no grep -qx \
  '    PCM: Int24LSB at 44100 96000' <(tr -d '\r' <"$work/list"))"
check "--list-devices names its native DSD" yes "$(yes_no grep -qx \
  '    DSD native: DSDInt8MSB1 at DSD64' <(tr -d '\r' <"$work/list"))"
check "--list-devices never offers the TAVRO Driver itself" no \
  "$(yes_no grep -q 'TAVRO Driver' <(tr -d '\r' <"$work/list"))"

# name | stand-in type | its rates | its DSD rates | sink options | play options | capture as
rows=(
  "pcm16-int16|Int16LSB|44100||--word-length 16 --interface Speakers|--signal --rate 44100|pcm 2 16"
  "pcm16-padded-into-int32|Int32LSB|44100||--word-length 16 --interface Speakers|--signal --rate 44100|pcm 4 16"
  "pcm24-int24|Int24LSB|96000||--word-length 24 --interface Speakers|--signal --rate 96000|pcm 3 24"
  "pcm24-int32-udp|Int32LSB|48000||--word-length 24 --interface Speakers --transport 2|--signal --rate 48000|pcm 4 24"
  "pcm32-int32|Int32LSB|192000||--word-length 32 --interface Speakers|--signal --rate 192000|pcm 4 32"
  # The sink's own interface list names the DAC: the driver sends it 32 bits.
  "asio-interface-chosen|Int32LSB|44100||--word-length 16|--signal --rate 44100|pcm 4 32"
  "dop-as-pcm|Int24LSB|176400||--word-length 24 --dsd dop|--dsd-signal --rate 2822400|dop 3"
  "dsd64-native|Int32LSB|44100|2822400|--word-length 24 --dsd native|--dsd-signal --rate 2822400|dsd"
  "dsd128-auto|Int32LSB|44100|2822400 5644800|--word-length 24 --dsd auto --transport 2|--dsd-signal --rate 5644800|dsd"
)
for row in "${rows[@]}"; do
  IFS='|' read -r name type rates dsd sink_options play_options as <<<"$row"
  capture=$work/$name.raw
  dac "$type" "$rates" "$dsd"
  # shellcheck disable=SC2086
  stream "$name" $sink_options -- $play_options --seconds 1
  check "$name: the host plays" 0 "$?"
  # shellcheck disable=SC2086
  "$wine_run" "$capture_check" "Z:$capture" $as --gaps >"$work/$name.check" 2>&1
  result=$?
  check "$name: the DAC was given the signal bit-exact" 0 "$result"
  # A machine too busy to keep the DAC fed shows as an underrun the sink
  # counts; silence the sink does not account for would be a fault.
  check "$name: silence only where the sink counted an underrun" "$(underruns "$name")" \
    "$(sed -nE 's/.* ([0-9]+) silent gaps.*/\1/p' < <(tr -d '\r' <"$work/$name.check"))"
  [ "$result" -eq 0 ] || { show "$name"; tr -d '\r' <"$work/$name.check"; }
done

# Refusals: the sink answers the announcement, the host gets its error and
# the driver's notification reaches a window.
capture=$work/refused.raw
dac Int32LSB 44100 ""
refusal rate-not-taken 2 --word-length 24 -- --signal --rate 96000 --seconds 1
dac Int16LSB 44100 ""
refusal type-too-narrow 3 --word-length 24 --interface Speakers -- --signal --rate 44100 --seconds 1
dac Int32LSB 44100 ""
refusal no-native-dsd 3 --word-length 24 --dsd native -- --dsd-signal --rate 2822400 --seconds 1
# A DAC whose driver fails init or createBuffers: "ERROR 1", with the
# driver's own words in the sink's refusal.
for step in init buffers; do
  touch "$work/control/refuse-$step"
  refusal "refused-$step" 1 --word-length 24 -- --signal --rate 44100 --seconds 1
  rm -f "$work/control/refuse-$step"
done
check "refused-init: the driver's own text is told" yes \
  "$(yes_no grep -q "the test DAC is switched off" <(tr -d "\r" <"$work/refused-init.sink"))"
check "refused-buffers: the driver's own text is told" yes \
  "$(yes_no grep -q 'the test DAC has no memory left' <(tr -d '\r' <"$work/refused-buffers.sink"))"

# A DAC that stalls for a second, then catches up as a real one would: the
# sink counts the underrun and the signal goes on in order after silence.
capture=$work/stall.raw
dac Int32LSB 48000 ""
# once_playing SECONDS FILE: after the DAC has played that long, FILE appears.
once_playing() {
  local bytes=$(($1 * 48000 * 8))
  for _ in $(seq 600); do
    [ "$(stat -c %s "$capture" 2>/dev/null || echo 0)" -ge "$bytes" ] && break
    sleep 0.05
  done
  mv "$2.pending" "$2"
}
echo 1000 >"$work/control/stall.pending"
once_playing 1 "$work/control/stall" &
stream stall --word-length 24 -- --signal --rate 48000 --seconds 4
"$wine_run" "$capture_check" "Z:$capture" pcm 4 32 --gaps >"$work/stall.check" 2>&1
check "stall: the DAC was given the signal in order, silence only where it ran dry" 0 "$?"
check "stall: the sink counts the underrun" yes \
  "$(yes_no grep -qE 'underruns=[1-9]' <(tr -d '\r' <"$work/stall.sink"))"
tr -d '\r' <"$work/stall.check"

# The DAC vanishes mid-stream (its driver asks for a reset): the stream ends,
# and the next one plays bit-exact.
capture=$work/vanish.raw
dac Int32LSB 48000 ""
touch "$work/control/vanish.pending"
once_playing 1 "$work/control/vanish" &
stream vanish --word-length 24 -- --signal --rate 48000 --seconds 10
check "vanish: the sink tells the device is gone" yes \
  "$(yes_no grep -qi 'end=device-gone\|device gone' <(tr -d '\r' <"$work/vanish.sink"))"
rm -f "$work/control/vanish"
capture=$work/after-vanish.raw
dac Int32LSB 48000 ""
stream after-vanish --word-length 24 -- --signal --rate 48000 --seconds 1
check "after vanish: the next stream plays" 0 "$?"
"$wine_run" "$capture_check" "Z:$capture" pcm 4 32 >"$work/after.check" 2>&1
check "after vanish: bit-exact" 0 "$?"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }

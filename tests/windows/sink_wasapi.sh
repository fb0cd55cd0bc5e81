#!/usr/bin/env bash
# One Windows PC, a DAC without an ASIO driver: tavro-play.exe plays through
# the real driver DLL to tavro-sink.exe, which plays to a WASAPI endpoint in
# exclusive mode. Wine's endpoints go through its ALSA driver, so the
# endpoint here is the test tree's paced ALSA card, named to Wine in the
# registry and declared in an ALSA configuration of the test's own; what the
# card was given is checked against the test signal, never the sink's word.
# Usage: sink_wasapi.sh WINE_RUN SINK_EXE PLAY_EXE DRIVER_DLL ALSA_PLUGIN CAPTURE_CHECK_EXE LISTENER_EXE
set -u
wine_run=$1 sink=$2 play=$3 driver=$4 plugin=$5 capture_check=$6 listener=$7
"$wine_run" --probe || exit $?
if [ ! -f "$plugin" ]; then
  echo "skipped: the native build's ALSA test card $plugin is not built (scripts/test-all builds it)"
  exit 77
fi
source "$(dirname "$0")/checks.sh"
source "$(dirname "$0")/sink_rows.sh"
work=$(mktemp -d)
export WINEPREFIX=$work/prefix
server=$(command -v /usr/lib/wine/wineserver64 wineserver | head -n 1)
trap 'WINEPREFIX=$WINEPREFIX timeout 60 "$server" -k >/dev/null 2>&1; rm -rf "$work"' EXIT
address="127.$((1 + ($$ / 254) % 254)).$((1 + $$ % 254)).$((1 + RANDOM % 254))"
export ALSA_CONFIG_PATH=$work/asound.conf
mkdir -p "$work/control"
# card FORMATS RATES: the card's configuration for the next row. alsa-lib
# reads it anew in each sink process.
card() {
  cat >"$ALSA_CONFIG_PATH" <<CONF
pcm_type.tavrotest { lib "$plugin" }
pcm.tavrocard {
  type tavrotest
  capture "$capture"
  control "$work/control"
  formats "$1"
  rates "$2"
}
CONF
}
capture=$work/listing.raw
card "S16_LE S24_3LE S32_LE" "44100 96000 192000"
"$wine_run" regsvr32 /s "Z:$driver" >"$work/reg" 2>&1
check "regsvr32 registers the driver" 0 "$?"
"$wine_run" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d alsa /f >"$work/reg" 2>&1
check "Wine's audio goes through ALSA" 0 "$?"
"$wine_run" reg add 'HKCU\Software\Wine\Drivers\winealsa.drv' /v ALSAOutputDevices \
  /t REG_MULTI_SZ /d tavrocard /f >"$work/reg" 2>&1
check "the card is one of Wine's endpoints" 0 "$?"
device="WASAPI: Out: tavrocard"
# One server for the whole test: a program started just as the last one's
# server shuts down loses its connection to it.
"$server" -p >/dev/null 2>&1

"$wine_run" "$sink" --list-devices >"$work/list" 2>&1
listed() { yes_no grep -qx -- "$1" <(tr -d '\r' <"$work/list"); }
check "--list-devices names the endpoint" yes "$(yes_no grep -q "^$device " <(tr -d '\r' <"$work/list"))"
check "--list-devices shows what exclusive mode takes" yes \
  "$(listed '    PCM: 24/24 (S24_3LE) at 44100 48000 88200 96000 176400 192000 352800 384000 705600 768000')"
check "--list-devices says WASAPI has no native DSD" yes \
  "$(listed '    DSD native: none (DoP goes as 24-bit PCM)')"

received_frames() {  # packets times the frames of each, as the sink tells them
  local log
  log=$(tr -d '\r' <"$work/$1.sink")
  echo $(($(sed -nE 's/^summary:.* packets=([0-9]+) .*/\1/p' <<<"$log" | tail -n 1) *
    $(sed -nE 's/^stream 1: .*, ([0-9]+) frames per packet.*/\1/p' <<<"$log")))
}

# The driver sends 16 bits as asked only up to 48 kHz, 24 above.
# name | the card's formats | its rates | sink options | play options | layout said | capture as
rows=(
  "pcm16-44k|S16_LE|44100|--word-length 16|--signal --rate 44100|16/16 (S16_LE)|pcm 2 16"
  "pcm16-48k-in-32|S32_LE|48000|--word-length 16|--signal --rate 48000|24-in-32 (S32_LE)|pcm 4 16"
  "pcm24-96k-packed|S24_3LE S32_LE|96000|--word-length 24|--signal --rate 96000|24/24 (S24_3LE)|pcm 3 24"
  "pcm24-192k-in-32-udp|S32_LE|192000|--word-length 24 --transport 2|--signal --rate 192000|24-in-32 (S32_LE)|pcm 4 24"
  "pcm24-44k|S24_3LE|44100|--word-length 24|--signal --rate 44100|24/24 (S24_3LE)|pcm 3 24"
  "pcm32-192k|S16_LE S24_3LE S32_LE|192000|--word-length 32|--signal --rate 192000|32/32 (S32_LE)|pcm 4 32"
  "pcm32-44k|S32_LE|44100|--word-length 32|--signal --rate 44100|32/32 (S32_LE)|pcm 4 32"
  "dop64-packed|S24_3LE|176400|--word-length 24 --dsd dop|--dsd-signal --rate 2822400|24/24 (S24_3LE)|dop 3"
  "dop128-in-32-auto|S32_LE|352800|--word-length 24 --dsd auto|--dsd-signal --rate 5644800|24-in-32 (S32_LE)|dop 4"
)
for row in "${rows[@]}"; do
  IFS='|' read -r name formats rates sink_options play_options layout as <<<"$row"
  capture=$work/$name.raw
  card "$formats" "$rates"
  # shellcheck disable=SC2086
  stream "$name" $sink_options -- $play_options --seconds 1
  check "$name: the host plays" 0 "$?"
  check "$name: the sink plays $layout in exclusive mode" yes \
    "$(yes_no grep -qF ": $layout at ${rates##* } Hz, exclusive mode" <(tr -d '\r' <"$work/$name.sink"))"
  # shellcheck disable=SC2086
  "$wine_run" "$capture_check" "Z:$capture" $as --gaps >"$work/$name.check" 2>&1
  result=$?
  check "$name: the card was given the signal bit-exact" 0 "$result"
  check "$name: silence only where the sink counted an underrun" "$(underruns "$name")" \
    "$(sed -nE 's/.* ([0-9]+) silent gaps.*/\1/p' < <(tr -d '\r' <"$work/$name.check"))"
  # Every frame that came was played, the last ones too: the endpoint is
  # drained before it is stopped.
  check "$name: the card played every frame the sink received" "$(received_frames "$name")" \
    "$(sed -nE 's/^bit-exact: ([0-9]+) frames.*/\1/p' < <(tr -d '\r' <"$work/$name.check"))"
  [ "$result" -eq 0 ] || { show "$name"; tr -d '\r' <"$work/$name.check"; }
done

# Refusals: the sink answers the announcement, the host gets its error and
# the driver's notification reaches a window. Wine's endpoint refuses a
# format its card does not take, but not a rate: it sets the card's nearest
# rate, so a rate refusal cannot be shown here.
capture=$work/refused.raw
card "S16_LE" "44100"
refusal format-too-narrow 3 --word-length 24 -- --signal --rate 44100 --seconds 1
card "S24_3LE S32_LE" "176400"
refusal no-native-dsd 3 --word-length 24 --dsd native -- --dsd-signal --rate 2822400 --seconds 1
# A card another program holds: Wine, which opens each card to list it,
# then lists no endpoint for it, and the sink says so.
card "S24_3LE" "44100"
touch "$work/control/busy"
refusal card-held-elsewhere 1 --word-length 24 -- --signal --rate 44100 --seconds 1
rm -f "$work/control/busy"
check "card-held-elsewhere: the sink says why" yes \
  "$(yes_no grep -q "no active WASAPI endpoint" <(tr -d '\r' <"$work/card-held-elsewhere.sink"))"

# The card vanishes mid-stream: the endpoint stops taking frames, the sink
# ends the stream as for a vanished card, and the next stream plays once it
# is back.
capture=$work/vanish.raw
card "S24_3LE" "48000"
(
  for _ in $(seq 600); do
    [ "$(stat -c %s "$capture" 2>/dev/null || echo 0)" -ge $((48000 * 6)) ] && break
    sleep 0.05
  done
  touch "$work/control/vanish"
) &
stream vanish --word-length 24 -- --signal --rate 48000 --seconds 10
check "vanish: the host's stream ends" yes \
  "$(yes_no grep -q 'stopped asking for buffers' <(tr -d '\r' <"$work/vanish.play"))"
check "vanish: the sink tells the device is gone" yes \
  "$(yes_no grep -q "device $device is gone" <(tr -d '\r' <"$work/vanish.sink"))"
check "vanish: the sink ends the stream" yes \
  "$(yes_no grep -q 'end=device-gone' <(tr -d '\r' <"$work/vanish.sink"))"
rm -f "$work/control/vanish"
# By the endpoint's id this time, which stays when names or order change.
device="WASAPI: $(tr -d '\r' <"$work/list" | sed -nE 's/^WASAPI: Out: tavrocard  "(.*)"$/\1/p')"
capture=$work/after-vanish.raw
card "S24_3LE" "48000"
stream after-vanish --word-length 24 -- --signal --rate 48000 --seconds 1
check "after vanish: the next stream plays, to the endpoint named by its id" 0 "$?"
"$wine_run" "$capture_check" "Z:$capture" pcm 3 24 >"$work/after.check" 2>&1
check "after vanish: bit-exact" 0 "$?"
grep -q "end=device-gone" "$work/vanish.sink" || show vanish

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }

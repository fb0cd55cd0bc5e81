#!/usr/bin/env bash
# The driver's notifications as a real window sees them: a listener program
# with a top-level window records every code it receives while tavro-play.exe
# runs against a misbehaving native streamer (or none), and tavro-play
# prints the error text the host gets.
# Usage: notifications.sh WINE_RUN SINK PLAY_EXE DLL LISTENER_EXE [drives]
# SINK: tavro-test-sink, whose --close-at and --refuse the control cases use;
# the drive cases need only tavro-sink.
# With "drives" it runs the drive-mode cases instead, in a prefix whose drive
# Q: it makes removable, then fixed ($WINEPREFIX: that prefix, used only here).
set -u
wine_run=$1 sink=$2 play=$3 dll=$4 listener=$5 which=${6:-control}
"$wine_run" --probe || exit $?
[ -x "$sink" ] || { echo "native ${sink##*/} not found at $sink: build the native preset first"; exit 1; }
address="127.$((1 + ($$ / 254) % 254)).$((1 + $$ % 254)).$((1 + RANDOM % 254))"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

# case NAME EXPECTED-CODES EXPECTED-TEXT SINK-OPTIONS... -- PLAY-OPTIONS...
# SINK-OPTIONS "none" runs no sink: nobody listens at the address.
case_() {
  local name=$1 expected=$2 text=$3
  shift 3
  local sink_options=()
  while [ "$1" != "--" ]; do sink_options+=("$1"); shift; done
  shift
  local stop="$work/$name.stop"
  "$wine_run" "$listener" "Z:${stop//\//\\}" >"$work/$name.codes" 2>&1 &
  local listener_pid=$!
  for _ in $(seq 300); do grep -qs '^listening' "$work/$name.codes" && break; sleep 0.1; done
  local sink_pid=
  if [ "${sink_options[0]}" != none ]; then
    timeout 120 "$sink" --address "${case_address:-$address}" --once "${sink_options[@]}" >"$work/$name.sink" 2>&1 &
    sink_pid=$!
    for _ in $(seq 50); do grep -qs '^listening' "$work/$name.sink" && break; sleep 0.1; done
  fi
  "$wine_run" "$play" --driver "Z:$dll" --host "${case_address:-$address}" "$@" >"$work/$name.play" 2>&1
  touch "$stop"
  wait "$listener_pid"
  [ -n "$sink_pid" ] && { kill "$sink_pid" 2>/dev/null; wait "$sink_pid" 2>/dev/null; }
  local codes
  codes=$(tr -d '\r' <"$work/$name.codes" | sed -n 's/^code //p' | paste -sd, -)
  if ! grep -q '^end' <(tr -d '\r' <"$work/$name.codes"); then
    echo "FAIL: $name: the listener did not run to its end"
    tr -d '\r' <"$work/$name.codes"
    status=1
  elif [ "$codes" != "$expected" ]; then
    echo "FAIL: $name: the window saw codes '$codes', expected '$expected'"
    status=1
  elif ! tr -d '\r' <"$work/$name.play" | grep -qF "$text"; then
    echo "FAIL: $name: the host did not get '$text'"
    tr -d '\r' <"$work/$name.play"
    status=1
  else
    echo "ok: $name: codes '$codes', $text"
  fi
}

if [ "$which" = drives ]; then
  # Drive mode counts only with the streamer on this PC: 127.0.0.1.
  case_address=127.0.0.1
  server=$(command -v /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver wineserver | head -n 1)
  drive_type() {  # floppy: a removable drive to Windows; hd: a fixed one
    mkdir -p "$work/q" "$WINEPREFIX/dosdevices"
    ln -sfn "$work/q" "$WINEPREFIX/dosdevices/q:"
    # Wine reads them from the 64-bit view, whichever program writes them.
    "$wine_run" reg add 'HKLM\Software\Wine\Drives' /v q: /d "$1" /f /reg:64 \
      >"$work/reg.out" 2>&1
    # Drive types are read when the prefix starts.
    timeout 60 "$server" -k >/dev/null 2>&1
  }
  trap 'rm -f "$WINEPREFIX/dosdevices/q:"; timeout 60 "$server" -k >/dev/null 2>&1; rm -rf "$work"' EXIT
  # The prefix is made before its drives are touched.
  "$wine_run" cmd /c exit >"$work/boot.out" 2>&1
  drive_type floppy
  case_ drive-mode-removable "" "played:   " --drive-mode 1 --ticks 20 -- --signal --seconds 1
  drive_type hd
  case_ drive-mode-fixed 10 "play:     start failed: " --drive-mode 1 -- --signal --seconds 1
  exit $status
fi

connect="init:     failed: Unable to connect to TAVROStreamer: Is server running?"
no_response="Error receiving response from TAVROStreamer"
case_ no-streamer 20 "$connect" none --
case_ greeting-closed "" "init:     failed: $no_response" --close-at greeting --
# The settings query names no cause: the host reads init's own text.
case_ settings-closed 30 "init:     failed: TAVROdriver open failure!" --close-at settings --
for code in 1 2 3; do
  case_ "announcement-refused-$code" "$code" "play:     start failed: $no_response" \
    --refuse "$code" -- --signal --seconds 1
done
exit $status

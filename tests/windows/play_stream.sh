#!/usr/bin/env bash
# The shipped DLL plays under Wine: the Windows tavro-play.exe loads it and
# plays the test signal to the native tavro-sink over TCP and plain UDP, PCM
# and DSD; the sink checks every sample where it arrives.
# Usage: play_stream.sh WINE_RUN SINK PLAY_EXE DLL
set -u
wine_run=$1 sink=$2 play=$3 dll=$4
"$wine_run" --probe || exit $?
if [ ! -x "$sink" ]; then
  echo "native tavro-sink not found at $sink: build the native preset first" >&2
  exit 1
fi
address="127.$((1 + ($$ / 254) % 254)).$((1 + $$ % 254)).$((1 + RANDOM % 254))"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

# case NAME SINK-OPTIONS -- PLAY-OPTIONS
case_() {
  local name=$1
  shift
  local sink_options=()
  while [ "$1" != "--" ]; do sink_options+=("$1"); shift; done
  shift
  local log="$work/$name.log"
  timeout 300 "$sink" --address "$address" --once --verify "${sink_options[@]}" >"$log" 2>&1 &
  local sink_pid=$!
  for _ in $(seq 50); do
    grep -q '^listening' "$log" && break
    sleep 0.1
  done
  "$wine_run" "$play" --driver "Z:$dll" --host "$address" "$@" >"$work/$name.play" 2>&1
  local played=$?
  wait "$sink_pid" 2>/dev/null
  local summary
  summary=$(grep '^summary:' "$log" | tail -n 1)
  if [ "$played" -ne 0 ] || [[ "$summary" != *"verify=bit-exact"* ]]; then
    echo "FAIL: $name (tavro-play exit $played)"
    tr -d '\r' <"$work/$name.play"
    cat "$log"
    status=1
  else
    echo "ok: $name: $summary"
  fi
}

case_ pcm24-tcp --transport 1 --word-length 24 --buffer-index 3 -- --signal --rate 48000 --seconds 1
case_ pcm16-udp --transport 2 --word-length 16 --buffer-index 3 -- --signal --rate 44100 --seconds 1
case_ dsd64-tcp --transport 1 --word-length 24 --buffer-index 3 -- --dsd-signal --rate 2822400 --seconds 1
case_ dsd128-udp --transport 2 --word-length 24 --buffer-index 3 -- --dsd-signal --rate 5644800 --seconds 1
exit $status

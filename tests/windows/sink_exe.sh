#!/usr/bin/env bash
# tavro-sink.exe is the same streamer on Windows: under Wine it takes the
# test signal that tavro-play.exe plays through the shipped DLL, over TCP and
# UDP, checks every sample where it arrives and writes the stream to a file.
# Each stream is ended by the sink after a number of ticks, so the packets
# it must have are known: one per tick and the one the driver sends first.
# Usage: sink_exe.sh WINE_RUN SINK_EXE PLAY_EXE DLL
set -u
wine_run=$1 sink=$2 play=$3 dll=$4
"$wine_run" --probe || exit $?
source "$(dirname "$0")/checks.sh"
address="127.$((1 + ($$ / 254) % 254)).$((1 + $$ % 254)).$((1 + RANDOM % 254))"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ticks=150
status=0

fail() {
  echo "FAIL: $1: $2"
  tr -d '\r' <"$work/$1.play"
  tr -d '\r' <"$work/$1.log"
  status=1
}


# summary_lacks SUMMARY WANT...: the first of WANT the summary lacks.
summary_lacks() {
  local summary=$1 want
  shift
  for want in "$@"; do
    [[ $summary == *" $want"* ]] || { echo "$want"; return; }
  done
}
checked=("ticks=$ticks " "packets=$((ticks + 1)) " "missing=0 " "malformed=0 " "mismatched=0 "
         "verify=bit-exact " "end=tick-limit ")

# case NAME SINK-OPTIONS -- PLAY-OPTIONS
case_() {
  local name=$1
  shift
  local sink_options=()
  while [ "$1" != "--" ]; do sink_options+=("$1"); shift; done
  shift
  local log="$work/$name.log" files="$work/$name"
  mkdir -p "$files"
  local sink_pid
  start_sink "$log" --verify --ticks "$ticks" --once --output "Z:$files" "${sink_options[@]}"
  # The sink ends the stream: tavro-play then says the streamer went away (4).
  "$wine_run" "$play" --driver "Z:$dll" --host "$address" "$@" >"$work/$name.play" 2>&1
  local played=$?
  wait "$sink_pid" 2>/dev/null
  local summary
  summary=$(tr -d '\r' <"$log" | grep '^summary:' | tail -n 1)
  if [ "$played" -ne 0 ] && [ "$played" -ne 4 ]; then
    fail "$name" "tavro-play exit $played"
    return
  fi
  local lacking
  lacking=$(summary_lacks "$summary" "${checked[@]}")
  if [ -n "$lacking" ]; then
    fail "$name" "the summary lacks '$lacking': ${summary:-no summary}"
    return
  fi
  # The file holds every byte received behind its header (44 bytes for
  # 16-bit WAV, 68 for the extensible one): nothing added, as a text-mode
  # write would add before each newline byte.
  local bytes file size
  bytes=$(sed -n 's/.* bytes=\([0-9]*\) .*/\1/p' <<<"$summary")
  file=$(ls "$files"/*.wav 2>/dev/null | head -n 1)
  size=$(stat -c %s "$file" 2>/dev/null || echo 0)
  if [ -z "$file" ] || { [ $((size - bytes)) -ne 44 ] && [ $((size - bytes)) -ne 68 ]; }; then
    fail "$name" "the WAV file (${file:-none}, $size bytes) does not hold the $bytes bytes received"
    return
  fi
  echo "ok: $name: $summary"
}

# The settings TAVRO Settings keeps for the sink on this PC apply where the
# command line leaves them, and are read again at each connection: one sink,
# two streams, the stored word length and transport changed between them. A
# value of the wrong kind is ignored with one line, however many connections
# see it. What the sink says is in its log file too.
streamer_key='HKCU\Software\TAVRO7\Streamer'
store() {  # NAME TYPE DATA
  "$wine_run" reg add "$streamer_key" /v "$1" /t "$2" /d "$3" /f >/dev/null 2>&1 ||
    { echo "FAIL: reg add $1"; status=1; }
}
stored_settings() {
  local name=stored-settings log="$work/stored-settings.log" sink_pid
  : >"$work/$name.play"
  "$wine_run" reg delete "$streamer_key" /f >/dev/null 2>&1
  trap '"$wine_run" reg delete "$streamer_key" /f >/dev/null 2>&1; rm -rf "$work"' EXIT
  store Transport REG_DWORD 2
  store WordLength REG_DWORD 16
  store BufferIndex REG_DWORD 3
  store BufferPackets REG_SZ lots
  start_sink "$log" --verify --ticks "$ticks"
  local round number bits transport
  for round in "1 16 udp" "2 24 tcp"; do
    read -r number bits transport <<<"$round"
    if [ "$number" = 2 ]; then
      store Transport REG_DWORD 1
      store WordLength REG_DWORD 24
    fi
    "$wine_run" "$play" --driver "Z:$dll" --host "$address" --signal --rate 48000 --seconds 20 \
      >>"$work/$name.play" 2>&1
    local played=$?
    local summary lacking
    for _ in $(seq 100); do
      [ "$(tr -d '\r' <"$log" | grep -c '^summary:')" -ge "$number" ] && break
      sleep 0.1
    done
    summary=$(tr -d '\r' <"$log" | grep '^summary:' | sed -n "${number}p")
    if [ "$played" -ne 0 ] && [ "$played" -ne 4 ]; then
      fail "$name" "stream $number: tavro-play exit $played"
    elif ! tr -d '\r' <"$log" | grep -q "^stream $number: $bits-bit at 48000 Hz"; then
      fail "$name" "stream $number is not the stored $bits-bit"
    elif lacking=$(summary_lacks "$summary" "${checked[@]}" "transport=$transport "); [ -n "$lacking" ]; then
      fail "$name" "stream $number: the summary lacks '$lacking': ${summary:-no summary}"
    else
      echo "ok: $name: stream $number: $summary"
    fi
  done
  kill "$sink_pid" 2>/dev/null
  wait "$sink_pid" 2>/dev/null
  local ignored
  ignored=$(tr -d '\r' <"$log" | grep -c '^ignoring the stored setting BufferPackets: it is text')
  [ "$ignored" = 1 ] || fail "$name" "the wrong BufferPackets is told $ignored times, not once"
  local file
  file=$(tr -d '\r' <"$log" | sed -n 's/^log: //p' | head -n 1)
  file=$("$wine_run" winepath -u "$file" 2>/dev/null | tr -d '\r')
  if [ -z "$summary" ] || ! tr -d '\r' <"$file" 2>/dev/null | grep -qF "  $summary"; then
    fail "$name" "the log file (${file:-none}) lacks the last summary"
  else
    echo "ok: $name: the log file holds the summary"
  fi
  "$wine_run" reg delete "$streamer_key" /f >/dev/null 2>&1
}

stored_settings
case_ pcm24-tcp --transport 1 --word-length 24 --buffer-index 3 -- --signal --rate 48000 --seconds 20
case_ pcm16-udp --transport 2 --word-length 16 --buffer-index 3 -- --signal --rate 44100 --seconds 20
exit $status

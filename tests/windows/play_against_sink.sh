#!/usr/bin/env bash
# The Windows tavro-play loads the real DLL, stores the sink's address in the
# user's registry and calls init through the DLL's slot table; the driver must
# connect and read the sink's settings (buffer-size index 3: 192 frames).
# Usage (through run_with_sink.sh): play_against_sink.sh WINE_RUN PLAY_EXE DLL
set -u
wine_run=$1 play=$2 dll=$3
"$wine_run" --probe || exit $?
output=$(mktemp)
"$wine_run" "$play" --driver "Z:$dll" --host "$TAVRO_SINK_ADDRESS" >"$output" 2>&1
status=$?
tr -d '\r' <"$output"
expect() {
  if ! tr -d '\r' <"$output" | grep -qF -- "$1"; then
    echo "missing: $1" >&2
    status=1
  fi
}
expect "init:     connected to the streamer"
expect "buffer 192 frames"
expect "output 1: \"TAVROStreamer\", sample type 18, buffers ready"
expect "unload:   library idle, may unload"
rm -f "$output"
exit $status

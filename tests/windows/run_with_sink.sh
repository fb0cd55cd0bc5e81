#!/usr/bin/env bash
# Runs a Windows test program under Wine while the native tavro-sink listens
# on a loopback address of this run's own, named in TAVRO_SINK_ADDRESS.
# Usage: run_with_sink.sh SINK COMMAND [ARGS...], COMMAND being the build's
# wine-run or a script that calls it; its exit status (77: skipped) is kept.
# Fails when the native sink has not been built: build the native preset first.
set -u
sink=$1 wine_run=$2
shift 2
if [ ! -x "$sink" ]; then
  echo "native tavro-sink not found at $sink: build the native preset first" >&2
  exit 1
fi
address="127.$((1 + ($$ / 254) % 254)).$((1 + $$ % 254)).$((1 + RANDOM % 254))"
log=$(mktemp)
timeout 600 "$sink" --address "$address" --buffer-index 3 --transport 2 --word-length 24 \
  --interface Speakers --interface "ASIO: Studio" --interface-index 1 >"$log" 2>&1 &
sink_pid=$!
for _ in $(seq 50); do
  grep -q '^listening' "$log" && break
  kill -0 "$sink_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^listening' "$log"; then
  cat "$log" >&2
  kill "$sink_pid" 2>/dev/null
  rm -f "$log"
  exit 1
fi
TAVRO_SINK_ADDRESS=$address "$wine_run" "$@"
status=$?
kill "$sink_pid" 2>/dev/null
wait "$sink_pid" 2>/dev/null
echo "--- tavro-sink:"
cat "$log"
rm -f "$log"
exit $status

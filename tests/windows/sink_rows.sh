# Sourced (after checks.sh) by the Wine tests that play tavro-play.exe
# through the driver ($driver) to tavro-sink.exe ($sink) on one device
# ($device), a stream a row; $wine_run, $play, $address, $work and, for
# refusals, the notification listener $listener come from the test.

# stream NAME SINK-OPTIONS... -- PLAY-OPTIONS...: one stream through the
# sink; leaves the host's words in $work/NAME.play, the sink's in NAME.sink.
stream() {
  local name=$1
  shift
  local sink_options=()
  while [ "$1" != "--" ]; do sink_options+=("$1"); shift; done
  shift
  local log="$work/$name.sink" sink_pid
  start_sink "$log" --once --device "$device" "${sink_options[@]}"
  "$wine_run" "$play" --driver "Z:$driver" --host "$address" "$@" >"$work/$name.play" 2>&1
  local played=$?
  wait "$sink_pid"
  return $played
}

underruns() {
  tr -d '\r' <"$work/$1.sink" | sed -nE 's/^summary:.* underruns=([0-9]+) .*/\1/p' | tail -n 1
}
show() { echo "--- $1"; tr -d '\r' <"$work/$1.play"; tr -d '\r' <"$work/$1.sink"; }

# refusal NAME CODE SINK-OPTIONS... -- PLAY-OPTIONS...: the sink answers the
# announcement with ERROR CODE, the host's start fails and the driver's
# notification reaches a window.
refusal() {
  local name=$1 code=$2
  shift 2
  local stop="$work/$name.stop"
  "$wine_run" "$listener" "Z:${stop//\//\\}" >"$work/$name.codes" 2>&1 &
  local listener_pid=$!
  for _ in $(seq 300); do grep -qs '^listening' "$work/$name.codes" && break; sleep 0.1; done
  stream "$name" "$@"
  touch "$stop"
  wait "$listener_pid"
  check "$name: the sink refuses with ERROR $code" yes \
    "$(yes_no grep -q "ERROR $code" <(tr -d '\r' <"$work/$name.sink"))"
  check "$name: the host's start fails" yes \
    "$(yes_no grep -q 'start failed' <(tr -d '\r' <"$work/$name.play"))"
  check "$name: a window hears code $code" "$code" \
    "$(tr -d '\r' <"$work/$name.codes" | sed -n 's/^code //p' | paste -sd, -)"
}

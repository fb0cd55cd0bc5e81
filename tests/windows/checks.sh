# Sourced by the Wine tests that count their own checks: each prints "ok:" or
# "FAIL:" and a test fails when any check failed.
failures=0
check() {  # description, expected, actual
  if [ "$2" == "$3" ]; then
    echo "ok: $1"
  else
    echo "FAIL: $1: expected '$2', got '$3'"
    failures=$((failures + 1))
  fi
}
yes_no() { "$@" && echo yes || echo no; }

# start_sink LOG SINK-OPTIONS...: $sink under $wine_run on $address, its pid
# in sink_pid, once it listens. Wine binds a UDP socket for one 127.x.y.z
# address to all of them, so a test elsewhere on this machine that holds
# port 48168 on its own address keeps the sink from it for a while: it is
# tried again then.
start_sink() {
  local log=$1 attempt
  shift
  for attempt in $(seq 20); do
    "$wine_run" "$sink" --address "$address" "$@" >"$log" 2>&1 &
    sink_pid=$!
    for _ in $(seq 300); do
      grep -q '^listening' "$log" && break
      kill -0 "$sink_pid" 2>/dev/null || break
      sleep 0.1
    done
    grep -q '^listening' "$log" && break
    wait "$sink_pid" 2>/dev/null
    grep -q 'cannot take datagrams' "$log" || break
    echo "port 48168 is taken on this machine (attempt $attempt); trying again"
    sleep 3
  done
}

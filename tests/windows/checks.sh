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

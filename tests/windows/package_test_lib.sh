# Sourced by the tests of the release packages under Wine (package_install.sh,
# package_msi.sh): the checks they count, a Wine prefix of the test's own, and
# the play through Windows' COM that the native tavro-sink checks bit-exact.
# The sourcing script sets wine_run (the build's wine-run), source_dir and sink
# first.

source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

# Whether this machine runs 32-bit programs decides which halves of a test
# run; a 32-bit loader that is there but broken is a failure, not a skip.
# Without them, no_32_bit_reason says why: the machine cannot execute them, or
# wine32 could not be installed.
probe=$(TAVRO_WINE_ARCH=32 "$source_dir/cmake/wine-run" --probe 2>&1)
case $? in
  0) runs_32_bit=yes ;;
  77)
    runs_32_bit=no
    no_32_bit_reason=$(sed -E 's/^wine-run: skipped: //; s/: the win32 Wine tests are skipped.*//' <<<"$probe")
    ;;
  *) echo "FAIL: $probe"; exit 1 ;;
esac

# A fresh prefix in a scratch folder ($work), removed with its wineserver at
# exit, so that what a package writes meets nothing an earlier test left.
work=$(mktemp -d)
export WINEPREFIX=$work/prefix
wine_server=$(command -v /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver wineserver | head -n 1)
remove_own_prefix() {
  [ -n "${sink_pid:-}" ] && kill "$sink_pid" 2>/dev/null
  WINEPREFIX=$WINEPREFIX timeout 60 "$wine_server" -k >/dev/null 2>&1
  rm -rf "$work"
}
trap remove_own_prefix EXIT
out=$work/out
# Output to a file, never a pipe: a wineserver started here may outlive the
# program and hold a pipe open.
wine() { "$wine_run" "$@" >"$out" 2>&1; }

# play_through_com PLAY_EXE: the installed tavro-play creates "TAVRO Driver"
# as a host does and plays one second of the test signal to the sink on an
# address of this test's own. tavro-play's output stays in $out.
play_through_com() {
  local address="127.$((1 + ($$ / 254) % 254)).$((1 + $$ % 254)).$((1 + RANDOM % 254))"
  timeout 60 "$sink" --address "$address" --once --verify --transport 1 --word-length 24 \
    --buffer-index 3 >"$work/sink.log" 2>&1 &
  sink_pid=$!
  for _ in $(seq 50); do grep -qs '^listening' "$work/sink.log" && break; sleep 0.1; done
  wine "$1" --asio "TAVRO Driver" --host "$address" --signal --rate 48000 --seconds 1
  local played=$?
  # A play that failed never reaches the end of the stream: don't wait out
  # the sink's time limit for it.
  [ "$played" = 0 ] || kill "$sink_pid" 2>/dev/null
  wait "$sink_pid" 2>/dev/null
  sink_pid=
  check "played through COM" 0 "$played"
  check "created through COM" yes "$(yes_no grep -q "COM $clsid" "$out")"
  check "the sink saw the stream bit-exact" yes \
    "$(yes_no grep -q '^summary:.*verify=bit-exact' "$work/sink.log")"
  [ "$played" = 0 ] || { tr -d '\r' <"$out"; cat "$work/sink.log"; }
}

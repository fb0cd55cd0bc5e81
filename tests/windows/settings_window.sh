#!/usr/bin/env bash
# TAVROSettings.exe under Wine on a virtual display, driven through its
# control ids by settings_window_driver.exe, with the real DLL, tavro-play.exe
# and the native streamers over loopback. Keeps screenshots in OUT.
# Usage: settings_window.sh WINE_RUN SINK TEST_SINK DRIVER_EXE SETTINGS_EXE PLAY_EXE DLL OUT
# $WINEPREFIX: a prefix of this test's own (its windows need the X11 driver,
# and it writes the user's settings).
set -u
wine_run=$1 sink=$2 test_sink=$3 driver=$4 settings=$5 play=$6 dll=$7 out=$8
"$wine_run" --probe || exit $?
for tool in Xvfb xwd xwdtopnm pnmtopng; do
  command -v "$tool" >/dev/null ||
    { echo "$tool is missing: .ci/install-deps installs xvfb, x11-apps and netpbm"; exit 1; }
done
for peer in "$sink" "$test_sink"; do
  [ -x "$peer" ] || { echo "native ${peer##*/} not found at $peer: build the native preset first"; exit 1; }
done
work=$(mktemp -d)
pids=()
server=$(command -v /usr/lib/wine/wineserver64 wineserver | head -n 1)
cleanup() {
  timeout 60 "$server" -k >/dev/null 2>&1
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A display of its own: Xvfb picks a free number and writes it to fd 5.
timeout 600 Xvfb -displayfd 5 -screen 0 800x700x24 -nolisten tcp 5>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

# The panel beside the DLL, as the packages put it.
app="$work/app"
mkdir -p "$app" "$out"
cp "$dll" "$settings" "$play" "$app/"
win() { echo "Z:${1//\//\\}"; }
dll_here=$(win "$app/${dll##*/}")
base="127.$((1 + ($$ / 254) % 254)).$((1 + $$ % 254))"
address="$base.$((1 + RANDOM % 120))" nobody="$base.$((130 + RANDOM % 60))" refusing="$base.250"

status=0
row() { echo "== $1"; }
fail() { echo "FAIL: $*"; status=1; }
drive() { "$wine_run" "$driver" "$@" || { fail "window steps: $*"; return 1; }; }
screenshot() {
  xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$out/$1.png" && echo "screenshot: $out/$1.png"
}
listening() {
  for _ in $(seq 50); do grep -qs '^listening' "$1" && return 0; sleep 0.1; done
  cat "$1"
  return 1
}

timeout 400 "$sink" --address "$address" --buffer-index 3 --transport 2 --word-length 24 \
  --interface Speakers --interface "ASIO: Studio" --interface-index 1 >"$work/sink.log" 2>&1 &
pids+=($!)
listening "$work/sink.log" || exit 1

row "it opens its window, holds the mutex, and a second start hands over and exits"
TAVRO_WINE_TIMEOUT=500 "$wine_run" "$app/TAVROSettings.exe" >"$work/panel.out" 2>&1 &
pids+=($!)
drive wait-window 120000 wait-running 1000 && screenshot settings-window-opened
"$wine_run" "$app/TAVROSettings.exe" >"$work/second.out" 2>&1 || fail "the second instance exited $?"
drive windows 1

row "another computer and OK write the values; tavro-play's init then reaches the sink there"
drive click 1002 set 1003 "$address" click 1 wait-hidden 5000
reg_out=$("$wine_run" reg query 'HKCU\Software\TAVRO7' 2>&1 | tr -d '\r')
grep -Eq "SinglePCOnly +REG_SZ +0" <<<"$reg_out" && grep -Eq "Host +REG_SZ +$address" <<<"$reg_out" ||
  fail "the registry holds: $reg_out"
"$wine_run" "$play" --driver "$dll_here" >"$work/play.out" 2>&1
grep -q "init:     connected to the streamer" <(tr -d '\r' <"$work/play.out") ||
  { fail "tavro-play did not reach the sink"; tr -d '\r' <"$work/play.out"; }

row "a start the sink refuses with ERROR 2 reaches the status as its sentence"
timeout 120 "$test_sink" --address "$refusing" --once --refuse 2 >"$work/refusing.log" 2>&1 &
pids+=($!)
listening "$work/refusing.log" || exit 1
"$wine_run" "$play" --driver "$dll_here" --host "$refusing" --signal --seconds 1 >"$work/refused.out" 2>&1
drive wait-text 1020 "does not play this sample rate" 20000

row "the next stream that starts well clears the error state"
"$wine_run" "$play" --driver "$dll_here" --host "$address" --signal --seconds 2 >"$work/good.out" 2>&1 ||
  { fail "the good stream did not play"; tr -d '\r' <"$work/good.out"; }
drive wait-text 1020 "A stream started well: no problem since." 20000

row "Test shows the driver's text where nobody listens, and the sink's settings and interfaces"
drive command 2001 wait-window 5000 click 1002 set 1003 "$nobody" click 1004 \
  wait-text 1005 "$nobody: Unable to connect to TAVROStreamer: Is server running?" 30000
drive set 1003 "$address" click 1004 \
  wait-text 1005 "Buffer: 192 frames (4.4 ms at 44.1 kHz)" 30000 \
  wait-text 1005 "ASIO: Studio  (chosen)" 1000 wait-text 1005 "Transport: UDP" 1000 &&
  screenshot settings-window

row "Exit ends it; the driver's init starts it once, quiet; a host's controlPanel opens its window"
drive command 2002 wait-gone 20000
drive host-init "$dll_here" wait-running 30000 wait-hidden 30000 host-init "$dll_here" windows 1 \
  host-panel "$dll_here" wait-window 20000 windows 1
drive command 2002 wait-gone 20000
exit $status

#!/usr/bin/env bash
# The stand-in DAC's ASIO driver meets a host as a real one would: regsvr32
# installs it, tavro-play.exe lists it, creates it through COM and plays the
# test signal to it; what it was given is checked against the signal. Its
# refusals reach the host.
# Usage: asio_dac_host.sh WINE_RUN PLAY_EXE TEST_DAC_DLL CAPTURE_CHECK_EXE
set -u
wine_run=$1 play=$2 dac=$3 capture_check=$4
"$wine_run" --probe || exit $?
source "$(dirname "$0")/checks.sh"
work=$(mktemp -d)
export WINEPREFIX=$work/prefix
trap 'WINEPREFIX=$WINEPREFIX timeout 60 wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
out=$work/out

"$wine_run" regsvr32 /s "Z:$dac" >"$out" 2>&1
check "regsvr32 registers the stand-in" 0 "$?"
"$wine_run" "$play" --list >"$out" 2>&1
check "a host lists it" yes \
  "$(yes_no grep -qF 'asio:     TAVRO Test DAC | TAVRO Test DAC | {6C1E9A52-3D07-4B8F-A1E4-58D2C09B7F31}' \
     < <(tr -d '\r' <"$out"))"

mkdir -p "$work/control"
export TAVRO_TEST_DAC_CONFIG="Z:$work/dac.conf"
cat >"$work/dac.conf" <<CONF
type Int32LSB
rates 44100 48000
buffer 256
capture Z:$work/played.raw
control Z:$work/control
CONF
"$wine_run" "$play" --asio "TAVRO Test DAC" --signal --rate 48000 --seconds 1 >"$out" 2>&1
check "the host plays to it" 0 "$?"
"$wine_run" "$capture_check" "Z:$work/played.raw" pcm 4 32 >"$out" 2>&1
check "it was given the signal bit-exact" 0 "$?"
tr -d '\r' <"$out"
frames=$(sed -nE 's/^bit-exact: ([0-9]+) frames.*/\1/p' "$out" | tr -d '\r')
check "at its clock's pace: about a second of frames" yes \
  "$(yes_no test "${frames:-0}" -ge 40000 -a "${frames:-0}" -le 56000)"

"$wine_run" "$play" --asio "TAVRO Test DAC" --signal --rate 96000 --seconds 1 >"$out" 2>&1
check "a rate it does not list is refused" "4 yes" \
  "$? $(yes_no grep -q 'refused the rate' "$out")"

touch "$work/control/refuse-init"
"$wine_run" "$play" --asio "TAVRO Test DAC" --signal --seconds 1 >"$out" 2>&1
check "a refused init reaches the host with its text" "3 yes" \
  "$? $(yes_no grep -q 'init:     failed: the test DAC is switched off' "$out")"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }

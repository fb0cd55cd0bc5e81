#!/usr/bin/env bash
# The release package as a user meets it, in a Wine prefix of its own: the
# zip is made and unpacked, install.cmd registers the DLLs with the system's
# regsvr32s, the packaged tavro-play lists the drivers and creates this
# build's one through Windows' COM (HKLM\SOFTWARE\ASIO, then CoCreateInstance)
# and plays the test signal to the native tavro-sink, which checks it
# bit-exact; uninstall.cmd then removes every key.
#
# usage: package_install.sh WINE_RUN BITS SOURCE_DIR SINK
set -u
wine_run=$1 bits=$2 source_dir=$3 sink=$4
"$wine_run" --probe || exit $?
[ -x "$sink" ] || { echo "native tavro-sink not found at $sink: build the native preset first"; exit 1; }

clsid='{B7C1E3A4-5D2F-4E8B-9A61-3F0D7C25E914}'
class_key="HKCR\\CLSID\\$clsid"
driver_key='HKLM\SOFTWARE\ASIO\TAVRO Driver'
if [ "$bits" = 64 ]; then
  dll=TAVRODriver64.dll play=tavro-play.exe objdump=x86_64-w64-mingw32-objdump
else
  dll=TAVRODriver.dll play=tavro-play32.exe objdump=i686-w64-mingw32-objdump
fi
export TAVRO_WINE_TIMEOUT=${TAVRO_WINE_TIMEOUT:-60}
source "$(dirname "$0")/package_test_lib.sh"
# A prefix made where 32-bit programs cannot run is 64-bit Windows without
# its 32-bit subsystem: install.cmd registers TAVRODriver64.dll alone there,
# says so in one line, and succeeds.
[ "$runs_32_bit" = yes ] ||
  echo "note: $no_32_bit_reason: the 32-bit registration is left out"
# The command prompt of 64-bit Windows runs the scripts, whichever DLL is tested.
cmd64() { TAVRO_WINE_ARCH=64 "$source_dir/cmake/wine-run" cmd /c "$@" >"$out" 2>&1; }
value() {  # key, value name (empty: the default value)
  if [ -z "$2" ]; then
    wine reg query "$1" /ve "/reg:$bits" || { echo "<missing>"; return; }
  else
    wine reg query "$1" /v "$2" "/reg:$bits" || { echo "<missing>"; return; }
  fi
  tr -d '\r' <"$out" | sed -n 's/^    .*    REG_SZ    //p'
}
exists() { wine reg query "$1" "/reg:$bits" && echo yes || echo no; }

# The package.
zip=$("$source_dir/scripts/package" --no-build --output "$work" 2>"$out" | tail -n 1)
[ -f "$zip" ] || { echo "FAIL: scripts/package made no zip"; cat "$out"; exit 1; }
check "zip name" "TAVRODriver-$(sed -nE 's/^project\(TAVRODriver VERSION ([0-9.]+).*/\1/p' \
  "$source_dir/CMakeLists.txt")-windows.zip" "$(basename "$zip")"
(cd "$work" && cmake -E tar xf "$zip")
folder=$work/$(basename "$zip" .zip)
for file in TAVRODriver64.dll TAVRODriver.dll tavro-play.exe tavro-play32.exe TAVROSettings.exe tavro-sink.exe \
            install.cmd uninstall.cmd README-Windows.txt; do
  check "package holds $file" yes "$([ -s "$folder/$file" ] && echo yes || echo no)"
done
check "the DLLs carry no debug information" no \
  "$("$objdump" -h "$folder/$dll" 2>/dev/null | grep -q '\.debug_' && echo yes || echo no)"
echo "size: $dll $(stat -c %s "$folder/$dll") bytes"
win_folder="Z:${folder//\//\\}"

# Install.
cmd64 "$win_folder\\install.cmd" /q
installed=$?
tr -d '\r' <"$out"
check "install.cmd reports $dll" yes \
  "$(tr -d '\r' <"$out" | grep -q "^registered: $dll" && echo yes || echo no)"
check "install.cmd exit status" 0 "$installed"
if [ "$runs_32_bit" = yes ]; then
  check "install.cmd reports TAVRODriver.dll" yes \
    "$(tr -d '\r' <"$out" | grep -q '^registered: TAVRODriver.dll for 32-bit hosts' && echo yes || echo no)"
else
  check "install.cmd says 32-bit hosts are not served" yes \
    "$(tr -d '\r' <"$out" | grep -q '^skipped: TAVRODriver.dll: 32-bit hosts are not served' && echo yes || echo no)"
fi
check "server path" "$(printf '%s' "$win_folder\\$dll" | tr 'A-Z' 'a-z')" \
  "$(value "$class_key\\InprocServer32" '')"
check "driver CLSID" "$clsid" "$(value "$driver_key" CLSID)"

# Listed and created as a host does it.
wine "$folder/$play" --list
check "tavro-play --list shows the driver" yes \
  "$(tr -d '\r' <"$out" | grep -qxF "asio:     TAVRO Driver | TAVRO Driver | $clsid" && echo yes || echo no)"
# The opt-in log, in the Windows user's profile folder: on for this run only.
wine cmd /c echo %USERPROFILE%
profile=$(tr -d '\r' <"$out" | tail -n 1)
unix_profile=$WINEPREFIX/drive_c/${profile#[Cc]:\\}
unix_profile=${unix_profile//\\//}
touch "$unix_profile/TAVRODriver.log"
play_through_com "$folder/$play"
log=$(tr -d '\r' <"$unix_profile/TAVRODriver.log")
for event in "loaded: $dll" "announcement reply: \"+OK\"" "start: rate 48000 Hz" "stop: "; do
  check "the log shows '$event'" yes "$(grep -qF "$event" <<<"$log" && echo yes || echo no)"
done
check "the log's stop line counts the stream" yes \
  "$(grep -qE 'stop: .*packets [1-9][0-9]*, ticks [1-9][0-9]*, ignored ticks [0-9]+$' <<<"$log" &&
    echo yes || echo no)"
rm -f "$unix_profile/TAVRODriver.log"

# Uninstall.
cmd64 "$win_folder\\uninstall.cmd" /q
uninstalled=$?
tr -d '\r' <"$out"
check "uninstall.cmd exit status" 0 "$uninstalled"
check "class key removed" no "$(exists "$class_key")"
check "driver key removed" no "$(exists "$driver_key")"
wine "$folder/$play" --list
check "tavro-play --list shows no driver" yes \
  "$(tr -d '\r' <"$out" | grep -q '^no ASIO driver is installed' && echo yes || echo no)"

[ "$failures" -eq 0 ] && echo "package_install ($bits-bit): all checks passed"
exit $((failures > 0))

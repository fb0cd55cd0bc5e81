#!/usr/bin/env bash
# The Windows Installer package as a user meets it, under 64-bit Wine in a
# prefix of its own: installed by msiexec, the driver listed and created
# through Windows' COM by the installed tavro-play and played bit-exact to the
# native tavro-sink, installed again, upgraded by a later version, then
# uninstalled, leaving the user's settings and other drivers' keys alone. The
# streamer's start at logon comes only with SINGLEPC=1 (given here to the
# upgrade), and goes with the package.
#
# usage: package_msi.sh WINE_RUN SOURCE_DIR SINK
set -u
wine_run=$1 source_dir=$2 sink=$3
started=$SECONDS
"$wine_run" --probe || exit $?
[ -x "$sink" ] || { echo "native tavro-sink not found at $sink: build the native preset first"; exit 1; }
for tool in wixl msiinfo; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run .ci/install-deps"; exit 1; }
done

clsid='{B7C1E3A4-5D2F-4E8B-9A61-3F0D7C25E914}'
class_key="HKCR\\CLSID\\$clsid"
driver_key='HKLM\SOFTWARE\ASIO\TAVRO Driver'
other_driver_key='HKLM\SOFTWARE\ASIO\Other Driver'
settings_key='HKCU\Software\TAVRO7'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
files=(TAVRODriver64.dll TAVRODriver.dll tavro-play.exe tavro-play32.exe TAVROSettings.exe
       tavro-sink.exe README-Windows.txt LICENSE)
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
for tool in msibuild; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run .ci/install-deps"; exit 1; }
done
export TAVRO_WINE_TIMEOUT=${TAVRO_WINE_TIMEOUT:-60}
source "$(dirname "$0")/package_test_lib.sh"
winpath() { local path=${1//\//\\}; echo "Z:$path"; }

# package VERSION-OR-EMPTY DIR: the msi and the zip scripts/package makes there.
package() {
  local lines
  lines=$("$source_dir/scripts/package" --no-build ${1:+--version "$1"} --output "$2" 2>"$out" |
    tail -n 2)
  msi=$(head -n 1 <<<"$lines") zip=$(tail -n 1 <<<"$lines")
  [ -f "$msi" ] && [ -f "$zip" ] || { echo "FAIL: scripts/package made no msi or zip"; cat "$out"; exit 1; }
}
msi_property() { msiinfo export "$1" Property | tr -d '\r' | awk -F '\t' -v name="$2" '$1 == name { print $2 }'; }
table_rows() { msiinfo export "$1" "$2" 2>/dev/null | tail -n +4 | grep -c .; }

package "" "$work/first"
first_msi=$msi first_zip=$zip
version=$(msi_property "$first_msi" ProductVersion)
echo "size: $(basename "$first_msi") $(stat -c %s "$first_msi") bytes"
mkdir "$work/zip" && (cd "$work/zip" && cmake -E tar xf "$first_zip")
packaged=$work/zip/$(basename "$first_zip" .zip)
msi_files=$(msiinfo export "$first_msi" File | tail -n +4 | cut -f 3)
for file in "${files[@]}"; do
  check "the zip holds $file" yes "$(yes_no test -s "$packaged/$file")"
  check "the msi holds $file" yes "$(yes_no grep -qx "$file" <<<"$msi_files")"
done
check "LICENSE has Windows line ends" yes "$(yes_no grep -q $'\r$' "$packaged/LICENSE")"
# Anything the installer runs would need a program of its own bitness, which
# a 64-bit Windows without its 32-bit half lacks; the tables register instead.
for table in CustomAction SelfReg; do
  check "the msi has no $table rows" 0 "$(table_rows "$first_msi" "$table")"
done
package "" "$work/again"
check "a rebuilt package of one version is the same product" \
  "$(msi_property "$first_msi" ProductCode)" "$(msi_property "$msi" ProductCode)"
# The next version up, as Windows Installer compares them (three fields).
IFS=. read -r major minor build <<<"$version"
later=$major.$minor.$((${build:-0} + 1))
package "$later" "$work/later"
later_msi=$msi later_zip=$zip
check "a later version is another product" yes \
  "$([ "$(msi_property "$first_msi" ProductCode)" != "$(msi_property "$later_msi" ProductCode)" ] &&
    echo yes || echo no)"

# What the user and other drivers keep, written before anything is installed.
wine reg add "$settings_key" /v Marker /d kept /f
wine reg add "$other_driver_key" /v CLSID /d '{00000000-0000-0000-0000-000000000001}' /f /reg:64

folder=$WINEPREFIX/drive_c/Program\ Files/TAVRO\ Driver
# The Start menu entry: the machine's Programs folder, or the user's where
# Wine's msiexec takes the package for a per-user one.
start_menu_entry() {
  find "$WINEPREFIX/drive_c/ProgramData" "$WINEPREFIX/drive_c/users" -name 'TAVRO Settings.lnk' \
    2>/dev/null | head -n 1
}
win_folder='c:\program files\tavro driver'
# registry VIEW: every key of both registrations in that view, as reg prints them.
registry() {
  : >"$work/reg-$1"
  for key in "$class_key" "$driver_key"; do
    wine reg query "$key" /s "/reg:$1" && tr -d '\r' <"$out" >>"$work/reg-$1"
  done
}
# value VIEW KEY NAME: a REG_SZ from the last registry VIEW; NAME "" is the default.
value() {
  awk -v key="$2" -v name="${3:-(Default)}" '
    /^HKEY_/ { here = tolower($0) == tolower(key) }
    here && index($0, "    " name "    REG_SZ    ") == 1 {
      print substr($0, length("    " name "    REG_SZ    ") + 1); found = 1
    }
    END { if (!found) print "<missing>" }' "$work/reg-$1"
}
full() { sed -e 's/^HKCR/HKEY_CLASSES_ROOT/' -e 's/^HKLM/HKEY_LOCAL_MACHINE/' <<<"$1"; }
check_registration() {  # when
  local view dll
  for view in 64 32; do
    registry "$view"
    [ "$view" = 64 ] && dll=tavrodriver64.dll || dll=tavrodriver.dll
    local class=$(full "$class_key") driver=$(full "$driver_key")
    while IFS='|' read -r key name expected; do
      local actual
      actual=$(value "$view" "$key" "$name")
      [ "$name" = "" ] && [[ $key == *InprocServer32 ]] && actual=${actual,,}
      check "$1: $view-bit $(basename "${key//\\//}") ${name:-default}" "$expected" "$actual"
    done <<EOF
$class||TAVRO Driver
$class\\InprocServer32||$win_folder\\$dll
$class\\InprocServer32|ThreadingModel|Apartment
$driver|CLSID|$clsid
$driver|Description|TAVRO Driver
EOF
  done
}
# entries VIEW: "DisplayVersion/Publisher" of every uninstall entry named TAVRO Driver.
entries() {
  wine reg query "$uninstall_key" /s "/reg:$1" || return
  tr -d '\r' <"$out" | awk '
    function entry() { if (v["DisplayName"] == "TAVRO Driver") print v["DisplayVersion"] "/" v["Publisher"] }
    /^HKEY_/ { entry(); delete v }
    /^    [A-Za-z]+    REG_SZ    / { name = $1; sub(/^    [A-Za-z]+    REG_SZ    /, ""); v[name] = $0 }
    END { entry() }'
}
check_entry() {  # when, version (empty: no entry)
  local listed
  listed=$({ entries 64; entries 32; } | sort | paste -sd ' ')
  check "$1: the uninstall entries named TAVRO Driver" "${2:+$2/TAVRO Driver authors}" "$listed"
}
check_files() {  # when, the zip's folder holding the same files
  for file in "${files[@]}"; do
    check "$1: installed $file is the packaged one" yes "$(yes_no cmp -s "$2/$file" "$folder/$file")"
  done
}
# reg_sz KEY NAME: the REG_SZ value, or <missing>.
reg_sz() {
  wine reg query "$1" /v "$2" || { echo "<missing>"; return; }
  tr -d '\r' <"$out" | sed -n "s/^    $2    REG_SZ    //p"
}
check_one_pc() {  # when, expected start at logon (empty: none), expected SinglePCOnly
  local logon
  logon=$(reg_sz "$run_key" 'TAVRO Streamer')
  check "$1: the start at logon" "${2:-<missing>}" "${logon,,}"
  check "$1: SinglePCOnly" "$3" "$(reg_sz "$settings_key" SinglePCOnly)"
}
msiexec() {  # when, expected exit status, msiexec arguments
  local when=$1 expected=$2
  shift 2
  wine msiexec "$@" /qn
  local status=$?
  check "$when: msiexec exit status" "$expected" "$status"
  [ "$status" = "$expected" ] || tr -d '\r' <"$out"
}

# Install.
msiexec install 0 /i "$(winpath "$first_msi")"
check_files install "$packaged"
check_registration install
check_entry install "$version"
check_one_pc install "" "<missing>"
shortcut=$(start_menu_entry)
check "install: the Start menu holds TAVRO Settings" yes "$(yes_no test -s "$shortcut")"
check "install: the shortcut starts the installed TAVROSettings.exe" yes \
  "$(yes_no grep -aiq 'TAVROSettings.exe' "$shortcut")"
wine "$folder/tavro-play.exe" --list
check "tavro-play --list shows the driver" yes \
  "$(yes_no grep -qxF "asio:     TAVRO Driver | TAVRO Driver | $clsid" < <(tr -d '\r' <"$out"))"
play_through_com "$folder/tavro-play.exe"
if [ "$runs_32_bit" = yes ]; then
  TAVRO_WINE_ARCH=32 "$source_dir/cmake/wine-run" "$folder/tavro-play32.exe" --list >"$out" 2>&1
  check "tavro-play32 --list shows the driver" yes \
    "$(yes_no grep -qxF "asio:     TAVRO Driver | TAVRO Driver | $clsid" < <(tr -d '\r' <"$out"))"
else
  echo "note: tavro-play32.exe left out: $no_32_bit_reason"
fi

# The same package again changes nothing.
msiexec "same again" 0 /i "$(winpath "$first_msi")"
check_entry "same again" "$version"
check_files "same again" "$packaged"

# The installed tavro-play's init has started the installed TAVRO Settings,
# which holds its file. Windows Installer's Restart Manager ends it (it quits
# at WM_ENDSESSION); Wine's msiexec has none, so it is ended here.
end_settings() { wine taskkill /f /im TAVROSettings.exe; sleep 1; }
end_settings

# A later version replaces this one, now for one PC.
msiexec upgrade 0 /i "$(winpath "$later_msi")" SINGLEPC=1
check_entry upgrade "$later"
check_one_pc upgrade "\"$win_folder\\tavro-sink.exe\"" 1
mkdir "$work/later-zip" && (cd "$work/later-zip" && cmake -E tar xf "$later_zip")
check_files upgrade "$work/later-zip/$(basename "$later_zip" .zip)"
check_registration upgrade

# Uninstall.
end_settings
msiexec uninstall 0 /x "$(winpath "$later_msi")"
check "uninstall: the install folder is gone" no "$(yes_no test -e "$folder")"
check "uninstall: the Start menu entry is gone" "" "$(start_menu_entry)"
for view in 64 32; do
  for key in "$class_key" "$driver_key"; do
    check "uninstall: $view-bit $key is gone" no "$(yes_no wine reg query "$key" "/reg:$view")"
  done
done
check_entry uninstall ""
# The driver's setting is the user's once made; a start at logon of a
# program no longer there is not.
check_one_pc uninstall "" 1
wine reg query "$settings_key" /v Marker
check "uninstall: the user's settings stay" yes "$(yes_no grep -q 'REG_SZ    kept' "$out")"
check "uninstall: another driver's key stays" yes \
  "$(yes_no wine reg query "$other_driver_key" /v CLSID /reg:64)"

echo "time: $((SECONDS - started)) s"
[ "$failures" -eq 0 ] && echo "package_msi: all checks passed"
exit $((failures > 0))

#!/usr/bin/env bash
# install.cmd and uninstall.cmd on every kind of Windows they meet, from one
# 64-bit prefix: each row makes a Windows folder of its own with recording
# regsvr32s in the folders that kind of Windows has, sets the processor
# architecture a command prompt there sees, and checks which regsvr32 got
# which DLL, what the script printed and its exit status.
#
# usage: install_scripts.sh WINE_RUN SOURCE_DIR FAKE_REGSVR32
set -u
wine_run=$1 source_dir=$2 fake=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
win() { local path=$1; printf 'Z:%s' "${path//\//\\}"; }
failures=0
check() {  # description, expected, actual
  if [ "$2" == "$3" ]; then
    echo "ok: $1"
  else
    printf 'FAIL: %s:\n  expected: %s\n  got:      %s\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}

folder=$work/package
mkdir -p "$folder"
for script in install uninstall; do
  sed -e 's/\r$//' -e 's/$/\r/' "$source_dir/package/$script.cmd" >"$folder/$script.cmd"
done
touch "$folder/TAVRODriver64.dll" "$folder/TAVRODriver.dll"

skip_line='skipped: TAVRODriver.dll: 32-bit hosts are not served, because this Windows has no 32-bit subsystem'
# name | PROCESSOR_ARCHITECTURE | PROCESSOR_ARCHITEW6432 | folders holding regsvr32 |
# its exit code | expected calls (install, ';' between) | expected extra line | expected status
rows=(
  "64-bit Windows|AMD64||System32 SysWOW64|0|System32 /s TAVRODriver64.dll;SysWOW64 /s TAVRODriver.dll||0"
  "64-bit Windows without a 32-bit subsystem|AMD64||System32|0|System32 /s TAVRODriver64.dll|$skip_line|0"
  "32-bit prompt on 64-bit Windows|x86|AMD64|System32 SysWOW64 Sysnative|0|Sysnative /s TAVRODriver64.dll;SysWOW64 /s TAVRODriver.dll||0"
  "32-bit Windows|x86||System32|0|System32 /s TAVRODriver.dll||0"
  "regsvr32 fails without a 32-bit subsystem|AMD64||System32|5|System32 /s TAVRODriver64.dll|FAILED: TAVRODriver64.dll was not registered|1"
)
row_number=0
for row in "${rows[@]}"; do
  IFS='|' read -r name arch arch6432 folders code calls extra status <<<"$row"
  row_number=$((row_number + 1))
  root=$work/windows$row_number
  for sub in $folders; do
    mkdir -p "$root/$sub"
    cp "$fake" "$root/$sub/regsvr32.exe"
  done
  for script in install uninstall; do
    log=$root/$script.log
    : >"$log"
    cat >"$root/$script-here.cmd" <<CMD
@echo off
set "SystemRoot=$(win "$root")"
set "PROCESSOR_ARCHITECTURE=$arch"
set "PROCESSOR_ARCHITEW6432=$arch6432"
set "TAVRO_FAKE_REGSVR32_LOG=$(win "$log")"
set "TAVRO_FAKE_REGSVR32_EXIT=$code"
call "$(win "$folder")\\$script.cmd" /q
CMD
    "$wine_run" cmd /c "$(win "$root/$script-here.cmd")" >"$root/$script.out" 2>&1
    got_status=$?
    expected_calls=$calls expected_extra=$extra
    if [ "$script" = uninstall ]; then
      expected_calls=${calls//\/s//u /s}
      expected_extra=${extra/not registered/not unregistered}
      expected_extra=${expected_extra/$skip_line/skipped: TAVRODriver.dll: this Windows has no 32-bit subsystem, so it served no 32-bit hosts}
    fi
    check "$name: $script.cmd calls" "$expected_calls" "$(tr -d '\r' <"$log" | paste -sd ';')"
    check "$name: $script.cmd exit status" "$status" "$got_status"
    if [ -n "$expected_extra" ]; then
      check "$name: $script.cmd says" yes \
        "$(tr -d '\r' <"$root/$script.out" | grep -qF "$expected_extra" && echo yes || echo no)"
    fi
    [ "$got_status" = "$status" ] || tr -d '\r' <"$root/$script.out"
  done
done
[ "$failures" -eq 0 ] && echo "install_scripts: all checks passed"
exit $((failures > 0))

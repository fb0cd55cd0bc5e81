#!/usr/bin/env bash
# Registers the DLL with Wine's regsvr32, checks every key and value a host
# relies on with Wine's reg, unregisters it and checks that the keys are gone.
#
# usage: registration.sh <wine-run> <dll> <32|64>
#
# A 32-bit DLL registers into the 32-bit view of the registry, so reg looks
# there (/reg:32). Every Wine process goes through wine-run (time limit,
# prefix); its output goes to a file, not a pipe, since a wineserver started
# by it may outlive it and hold a pipe open.
set -u
wine_run=$1
dll=$2
bits=$3

clsid='{B7C1E3A4-5D2F-4E8B-9A61-3F0D7C25E914}'
class_key="HKCR\\CLSID\\$clsid"
driver_key='HKLM\SOFTWARE\ASIO\TAVRO Driver'
export TAVRO_WINE_TIMEOUT=${TAVRO_WINE_TIMEOUT:-120}
prefix=${WINEPREFIX:-${TMPDIR:-/tmp}/tavro-wineprefix-$(id -u)}
# A machine that cannot run this build's programs skips here, saying why.
"$wine_run" --probe || exit $?
out=$(mktemp)
trap 'rm -f "$out"' EXIT
source "$(dirname "$0")/checks.sh"

# The registration is global to the prefix: builds sharing it take turns.
exec 8>"$prefix.registration.lock"
flock -w 600 8 || { echo "registration lock not taken"; exit 1; }

win_dll="Z:${dll//\//\\}"
win_dll_lower=$(printf '%s' "$win_dll" | tr 'A-Z' 'a-z')

# The lock stays with this script: a wineserver started below must not hold it.
wine() { "$wine_run" "$@" >"$out" 2>/dev/null 8>&-; }
# The data of one REG_SZ value; an empty name means the default value.
value() {
  if [ -z "$2" ]; then
    wine reg query "$1" /ve "/reg:$bits" || { echo "<missing>"; return; }
  else
    wine reg query "$1" /v "$2" "/reg:$bits" || { echo "<missing>"; return; }
  fi
  tr -d '\r' <"$out" | sed -n 's/^    .*    REG_SZ    //p'
}
exists() { wine reg query "$1" "/reg:$bits" && echo yes || echo no; }

wine regsvr32 /s "$win_dll"
check "regsvr32 /s succeeds" 0 $?
check "class description" "TAVRO Driver" "$(value "$class_key" '')"
check "server path" "$win_dll_lower" "$(value "$class_key\\InprocServer32" '')"
check "threading model" "Apartment" "$(value "$class_key\\InprocServer32" ThreadingModel)"
check "driver CLSID" "$clsid" "$(value "$driver_key" CLSID)"
check "driver description" "TAVRO Driver" "$(value "$driver_key" Description)"

wine regsvr32 /s "$win_dll"
check "registering again succeeds" 0 $?
check "server path after registering again" "$win_dll_lower" \
  "$(value "$class_key\\InprocServer32" '')"

wine regsvr32 /u /s "$win_dll"
check "regsvr32 /u /s succeeds" 0 $?
check "class key removed" no "$(exists "$class_key")"
check "driver key removed" no "$(exists "$driver_key")"

wine regsvr32 /u /s "$win_dll"
check "unregistering again succeeds" 0 $?

[ "$failures" -eq 0 ] && echo "registration: all checks passed"
exit $((failures > 0))

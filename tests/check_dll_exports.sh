#!/usr/bin/env bash
# Checks the driver library's binary interface with the outside world:
#   pe  OBJDUMP DLL  exports exactly the five COM entry points, undecorated,
#                    and imports nothing but Windows system DLLs (the compiler
#                    runtimes must be linked in, or a user's regsvr32 fails);
#   elf NM LIB       the shared library defines exactly those five dynamic
#                    symbols.
set -euo pipefail

readonly EXPECTED_EXPORTS="DllCanUnloadNow DllGetClassObject DllMain DllRegisterServer DllUnregisterServer"
# Lower case; api-ms-win-* API sets are allowed as well.
readonly SYSTEM_DLLS="kernel32.dll user32.dll advapi32.dll ws2_32.dll ole32.dll oleaut32.dll msvcrt.dll"

usage() {
  echo "usage: $0 pe OBJDUMP DLL | elf NM LIBRARY" >&2
  exit 2
}
[ $# -eq 3 ] || usage
mode=$1 tool=$2 file=$3
[ -f "$file" ] || { echo "FAIL: $file does not exist" >&2; exit 1; }

failed=0
fail() {
  echo "FAIL: $*" >&2
  failed=1
}

sorted_words() { tr ' ' '\n' | sed '/^$/d' | LC_ALL=C sort; }

compare_exports() {
  local actual=$1
  local expected
  expected=$(echo "$EXPECTED_EXPORTS" | sorted_words)
  if [ "$actual" != "$expected" ]; then
    fail "$file exports"$'\n'"$actual"$'\n'"but must export exactly"$'\n'"$expected"
  fi
}

case $mode in
  pe)
    dump=$("$tool" -p "$file")
    # The name table lists one "[ n] Name" line per exported name.
    exports=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
              sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | LC_ALL=C sort)
    compare_exports "$exports"
    # Decorated stdcall names (_Name@12, Name@12) would not be found by COM.
    if echo "$exports" | grep -q '@'; then fail "decorated export names: $exports"; fi
    imports=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
    [ -n "$imports" ] || fail "$file imports no DLL at all: the import table was not read"
    for dll in $imports; do
      lower=$(echo "$dll" | tr '[:upper:]' '[:lower:]')
      case " $SYSTEM_DLLS " in
        *" $lower "*) ;;
        *) case $lower in
             api-ms-win-*) ;;
             *) fail "$file imports $dll, which is not a Windows system DLL" ;;
           esac ;;
      esac
    done
    ;;
  elf)
    exports=$("$tool" -D --defined-only "$file" | awk 'NF >= 3 { print $3 }' | LC_ALL=C sort)
    compare_exports "$exports"
    ;;
  *) usage ;;
esac

if [ $failed -eq 0 ]; then
  echo "OK: $file exports exactly: $(echo "$exports" | tr '\n' ' ')"
  [ "$mode" = pe ] && echo "OK: imports only: $(echo "$imports" | tr '\n' ' ')"
fi
exit $failed

#!/usr/bin/env bash
# Runs a Windows program under Wine in a prefix of its own that reports
# Windows 8 (6.2), the first version where the driver asks for Registered I/O.
# Usage: windows8_prefix.sh WINE_RUN PREFIX PROGRAM [ARGS...]
# WINE_RUN is the build's own, which knows its loader: a 32-bit program run
# by the 64-bit one would need the 32-bit one all the same, behind its back.
set -u
wine_run=$1 prefix=$2
shift 2
# Where the build's programs cannot run, the test is skipped (77) before any
# prefix is made.
"$wine_run" --probe || exit $?
export WINEPREFIX=$prefix
mkdir -p "$prefix"
(
  flock 9
  # The first wine-run prepares the prefix; winecfg then records the version.
  # A prefix whose preparation was cut short cannot start programs: it is
  # made again, once.
  for attempt in 1 2; do
    [ -f "$prefix/.windows8" ] && break
    if TAVRO_WINE_TIMEOUT=240 "$wine_run" winecfg -v win8 >/dev/null 2>&1 9>&-; then
      touch "$prefix/.windows8"
    elif [ "$attempt" -eq 1 ]; then
      timeout 60 wineserver -k 9>&- 2>/dev/null
      rm -rf "$prefix"
      mkdir -p "$prefix"
    fi
  done
) 9>"$prefix.windows8.lock"
[ -f "$prefix/.windows8" ] || { echo "could not set $prefix to Windows 8" >&2; exit 1; }
exec "$wine_run" "$@"

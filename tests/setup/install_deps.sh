#!/usr/bin/env bash
# .ci/install-deps against stand-ins for apt-get, dpkg and dpkg-query on PATH,
# so a package index mid-sync and a wine32 that cannot be installed are shown
# without the real registry. Each row starts from its own installed set.
set -u
source "$(dirname "$0")/../windows/checks.sh"
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
source "$source_dir/.ci/packages"
unset TAVRO_WINE32_STATUS TAVRO_INSTALL_STATE
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/bin"
cat >"$work/bin/apt-get" <<'STANDIN'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE/calls"
if [[ " $* " == *" update "* ]]; then
  left=$(cat "$FAKE/update-failures")
  if [ "$left" -gt 0 ]; then
    echo $((left - 1)) >"$FAKE/update-failures"
    echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100
  fi
  exit 0
fi
packages=()
for arg in "$@"; do [[ $arg == -* || $arg == install ]] || packages+=("$arg"); done
# One transaction: a package that cannot be had fails it whole, as apt does.
for package in "${packages[@]}"; do
  if grep -qxF "$package" "$FAKE/uninstallable"; then
    echo "The following packages have unmet dependencies:"
    echo " $package : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100
  fi
done
printf '%s\n' "${packages[@]}" >>"$FAKE/installed"
STANDIN
cat >"$work/bin/dpkg-query" <<'STANDIN'
#!/usr/bin/env bash
grep -qxF "${*: -1}" "$FAKE/installed" && printf 'ii ' && exit 0
echo "dpkg-query: no packages found matching ${*: -1}" >&2
exit 1
STANDIN
cat >"$work/bin/dpkg" <<'STANDIN'
#!/usr/bin/env bash
case "$1" in
  --print-foreign-architectures) cat "$FAKE/architectures" ;;
  --add-architecture) echo "$2" >>"$FAKE/architectures" ;;
esac
STANDIN
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin"/*

everything=("${tests_packages[@]}" "${tests_optional_packages[@]}")
# run_row NAME PURPOSE INSTALLED(all|none) UPDATE-FAILURES UNINSTALLABLE
run_row() {
  export FAKE=$work/$1
  mkdir -p "$FAKE"
  if [ "$3" = all ]; then printf '%s\n' "${everything[@]}" >"$FAKE/installed"; else : >"$FAKE/installed"; fi
  echo "$4" >"$FAKE/update-failures"
  tr ' ' '\n' <<<"$5" >"$FAKE/uninstallable"
  : >"$FAKE/architectures" >"$FAKE/calls"
  PATH=$work/bin:$PATH TAVRO_APT_PAUSE=0 TAVRO_INSTALL_STATE=$FAKE/state \
    "$source_dir/.ci/install-deps" "$2" >"$FAKE/out" 2>&1
  status=$?
  updates=$(grep -c ' update' "$FAKE/calls")
}
said() { yes_no grep -qF "$1" "$FAKE/out"; }
installed_all() {
  local package
  for package in "$@"; do grep -qxF "$package" "$FAKE/installed" || { echo "no: $package"; return; }; done
  echo yes
}

run_row present tests all 0 ""
check "all present: succeeds" 0 "$status"
check "all present: no apt-get at all" 0 "$(grep -c '^apt-get' "$FAKE/calls")"
check "all present: one line" 1 "$(wc -l <"$FAKE/out")"

run_row mid-sync tests none 99 ""
check "index mid-sync: succeeds" 0 "$status"
check "index mid-sync: update tried 3 times" 3 "$updates"
check "index mid-sync: said in one line" 1 "$(grep -c 'a package index still fails after 3 tries' "$FAKE/out")"
check "index mid-sync: everything installed" yes "$(installed_all "${everything[@]}")"

run_row back-again demo none 1 ""
check "index back on the second try: succeeds" 0 "$status"
check "index back on the second try: update tried twice" 2 "$updates"
check "index back on the second try: nothing said of it" no "$(said 'still fails')"

run_row no-wine32 tests none 99 "wine32:i386"
check "wine32 not installable: succeeds" 0 "$status"
check "wine32 not installable: said loudly, with apt's reason" yes \
  "$(said 'wine32 could not be installed (apt: E: Unable to correct problems, you have held broken packages.): the win32 Wine tests are skipped')"
check "wine32 not installable: the rest installed" yes "$(installed_all "${tests_packages[@]}")"
probe=$(TAVRO_WINE_ARCH=32 TAVRO_WINE32_LOADER=$work/no-such-loader TAVRO_INSTALL_STATE=$FAKE/state \
  "$source_dir/cmake/wine-run" --probe 2>&1)
check "wine32 not installable: the win32 Wine run is a skip" 77 "$?"
check "wine32 not installable: the skip gives apt's reason" yes \
  "$(yes_no grep -qF 'skipped: wine32 could not be installed (apt: E: Unable to correct problems' <<<"$probe")"
probe=$(TAVRO_WINE_ARCH=32 TAVRO_WINE32_LOADER=$work/no-such-loader TAVRO_INSTALL_STATE=$work/none \
  "$source_dir/cmake/wine-run" --probe 2>&1)
check "wine32 never installed: a skip that says so" "77 yes" \
  "$? $(yes_no grep -qF 'skipped: wine32 is not installed' <<<"$probe")"

run_row no-alsa tests none 0 "libasound2-dev"
check "a needed package not installable: fails" 1 "$status"
check "a needed package not installable: named, with apt's reason" "yes yes" \
  "$(said 'cannot install libasound2-dev:') $(said 'E: Unable to correct problems')"
check "a needed package not installable: the others installed" yes \
  "$(installed_all g++ wine64 cmake)"

run_row demo demo none 0 ""
check "demo: its packages installed" yes "$(installed_all "${demo_packages[@]}")"
check "demo: nothing else installed" "${#demo_packages[@]}" "$(wc -l <"$FAKE/installed")"
check "demo: no i386 architecture" 0 "$(wc -l <"$FAKE/architectures")"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"

#!/usr/bin/env bash
# Checks the package helper of the set-up scripts against stand-ins for
# dpkg-query, apt-get and sudo on PATH: nothing real is installed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"

# dpkg-query: the packages listed in $work/installed are installed, those in
# $work/config-files are removed with their configuration left.
cat >"$work/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
pkg=${!#}
if grep -qx "$pkg" "$STUB_DIR/installed"; then printf installed
elif grep -qx "$pkg" "$STUB_DIR/config-files"; then printf config-files
else echo "dpkg-query: no packages found matching $pkg" >&2; exit 1
fi
STUB
# apt-get: records its arguments; fails with a lock error while the counter
# in $work/locked is above 0, or with $work/fail's text when that exists.
cat >"$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "$*" >>"$STUB_DIR/calls"
left=$(cat "$STUB_DIR/locked")
if [ "$left" -gt 0 ]; then
  echo $((left - 1)) >"$STUB_DIR/locked"
  echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 1 (apt-get)" >&2
  exit 100
fi
if [ -e "$STUB_DIR/fail" ]; then cat "$STUB_DIR/fail" >&2; exit 100; fi
exit 0
STUB
chmod +x "$work/bin/"*
export PATH="$work/bin:$PATH" STUB_DIR="$work" KELPO_APT_RETRY_DELAY=0
failures=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3" >&2
    failures=$((failures + 1))
  fi
}
reset() {
  : >"$work/calls"; echo 0 >"$work/locked"; rm -f "$work/fail"
  printf '%s\n' cmake g++ >"$work/installed"
  printf '%s\n' make >"$work/config-files"
}
# shellcheck source=SCRIPTDIR/../../scripts/packages.sh
run() { (cd "$work" && . "$here/../../scripts/packages.sh" && "$@"); }

reset
check "only missing packages are listed; configuration leftovers count as missing" \
  "make ninja-build" "$(run missing_packages cmake make g++ ninja-build | tr '\n' ' ' | sed 's/ $//')"

reset
run install_packages cmake g++ >/dev/null 2>&1
check "apt is not run when everything is present" "" "$(cat "$work/calls")"

reset
run install_packages cmake make g++ >/dev/null 2>&1
check "missing packages are installed by name, without recommends, waiting for dpkg's lock" \
  "-q -o DPkg::Lock::Timeout=900 update|-q -o DPkg::Lock::Timeout=900 install -y --no-install-recommends make" \
  "$(paste -sd'|' "$work/calls")"

reset
echo 2 >"$work/locked"
status=0; run install_packages make >/dev/null 2>&1 || status=$?
check "a held lock is waited for, then the install goes on" "0 4" "$status $(wc -l <"$work/calls")"

reset
echo 100 >"$work/locked"
status=0; KELPO_APT_LOCK_TIMEOUT=0 run install_packages make >/dev/null 2>&1 || status=$?
check "a lock held past the deadline fails" "100 1" "$status $(wc -l <"$work/calls")"

reset
echo "E: Unable to locate package make" >"$work/fail"
status=0; run install_packages make >/dev/null 2>&1 || status=$?
check "other apt failures fail at once" "100 1" "$status $(wc -l <"$work/calls")"

[ "$failures" = 0 ] && echo "all package helper checks passed"
exit "$failures"

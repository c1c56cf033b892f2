#!/usr/bin/env bash
# Checks scripts/format.sh in a scratch repository against a stand-in
# clang-format (it squeezes repeated blanks) and dpkg-query on PATH.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/repo/scripts" "$work/repo/build"
cp "$here/../../scripts/format.sh" "$here/../../scripts/packages.sh" "$work/repo/scripts/"

cat >"$work/bin/clang-format" <<'STUB'
#!/usr/bin/env bash
if [ "$1" = --version ]; then echo "$STUB_VERSION"; exit 0; fi
if [ "$1" = -i ]; then
  shift 2
  for f in "$@"; do tr -s ' ' <"$f" >"$f.new" && mv "$f.new" "$f"; done
else
  tr -s ' ' <"$2"
fi
STUB
printf '#!/bin/sh\nprintf installed\n' >"$work/bin/dpkg-query"
chmod +x "$work/bin/"*
export PATH="$work/bin:$PATH" STUB_VERSION="Debian clang-format version 14.0.6"

cd "$work/repo"
git init -q . && echo build/ >.gitignore
echo 'int x;' >a.cpp
echo 'int  y;' >b.h
git add . && git -c user.name=t -c user.email=t@t commit -qm scratch
echo 'int  z;' >c.cpp        # new, not yet tracked
echo 'int  w;' >build/d.cpp  # ignored

failures=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3" >&2
    failures=$((failures + 1))
  fi
}

status=0
listed=$(bash scripts/format.sh 2>&1 | grep '^  ' | tr -d ' ' | tr '\n' ' ') || status=$?
check "tracked and new files that differ are listed, ignored ones are not" "b.h c.cpp " "$listed"
status=0
bash scripts/format.sh >/dev/null 2>&1 || status=$?
check "a difference fails the check" 1 "$status"

bash scripts/format.sh --fix
check "--fix rewrites the files" "int y;" "$(cat b.h)"
check "the check passes after --fix" "all 3 C++ files formatted" "$(bash scripts/format.sh)"

status=0
message=$(STUB_VERSION="Ubuntu clang-format version 15.0.7" bash scripts/format.sh 2>&1) || status=$?
check "another major version is refused" 1 "$status"
case "$message" in *"must be major version 14"*) ;; *) check "the refusal says why" "" "$message" ;; esac

[ "$failures" -eq 0 ] && echo "format script: all checks passed"
exit "$failures"

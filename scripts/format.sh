#!/usr/bin/env bash
# Checks that every C++ file of the repository is exactly what clang-format
# makes of it under the root's .clang-format, and lists the files that are
# not; exits non-zero when there are any. With --fix it rewrites them in
# place instead.
#
# The formatter is pinned to Debian's clang-format, major version 14 (the
# one bookworm ships), because another version formats the same file
# differently; it is installed when missing, and any other version is
# refused.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh

pinned_major=14
fix=false
case "${1:-}" in
  "") ;;
  --fix) fix=true ;;
  *)
    echo "usage: scripts/format.sh [--fix]" >&2
    exit 2
    ;;
esac

install_packages clang-format
version=$(clang-format --version)
if ! [[ "$version" =~ version\ ${pinned_major}\. ]]; then
  echo "clang-format must be major version $pinned_major (Debian's); found: $version" >&2
  exit 1
fi

# The tracked and the new (not ignored) C++ files; outside a git checkout,
# every one below the root but the build folders.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.h' '*.cpp' |
    sort -u | while read -r f; do [ -f "$f" ] && printf '%s\n' "$f"; done)
else
  mapfile -t files < <(find . -path './build*' -prune -o \( -name '*.h' -o -name '*.cpp' \) \
    -type f -print | sed 's|^\./||' | sort)
fi

if $fix; then
  clang-format -i -- "${files[@]}"
  exit 0
fi

unformatted=()
for f in "${files[@]}"; do
  clang-format -- "$f" | cmp -s - "$f" || unformatted+=("$f")
done
if [ "${#unformatted[@]}" -ne 0 ]; then
  echo "not formatted by clang-format ($version):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  echo "run: bash scripts/format.sh --fix" >&2
  exit 1
fi
echo "all ${#files[@]} C++ files formatted"

#!/usr/bin/env bash
# Reproducible packages: a second build of the same commit, in another
# folder, minutes later and under another umask, must give the very bytes of
# the .deb and the .zip that the package and Windows steps made.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
fail() { echo "FAIL: $*" >&2; exit 1; }
firsts=(build/release/brisel_*.deb build/mingw-i686/brisel-*-win32.zip)
for first in "${firsts[@]}"; do
  [ -f "$first" ] || fail "no $first: the package and Windows steps make it"
done
work=$(mktemp -d /tmp/brisel-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT

git clone --quiet --no-checkout "$root" "$work/src"
git -C "$work/src" checkout --quiet "$(git rev-parse HEAD)"
cd "$work/src"
umask 027
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
(cd build/release && cpack -G DEB >/dev/null)
cmake --preset mingw-i686 -DBRISEL_BUILD_TESTS=OFF >/dev/null
cmake --build --preset mingw-i686 >/dev/null
(cd build/mingw-i686 && cpack -G ZIP >/dev/null)

for first in "${firsts[@]}"; do
  cmp "$root/$first" "$first" || fail "two builds of one commit differ: $first"
  echo "the same bytes: $first"
done

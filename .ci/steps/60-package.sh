#!/usr/bin/env bash
# The Debian package: built from a release build, checked by lintian
# (no errors, no warnings), installed with apt like any downloaded .deb, run,
# and removed again.
set -euo pipefail
cd "$(dirname "$0")/../.."
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d /tmp/brisel-package.XXXXXX)
trap 'rm -rf "$work"' EXIT

cmake --preset release
cmake --build --preset release
rm -f build/release/brisel_*.deb
(cd build/release && cpack -G DEB)
deb=$(ls build/release/brisel_*.deb)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
lintian --fail-on error,warning --display-info "$deb" ||
  fail "lintian finds errors or warnings in $deb"

# cmake --install lays out the same files under any prefix.
cmake --install build/release --prefix "$work/root"
for file in bin/brisel share/man/man1/brisel.1.gz share/doc/brisel/copyright \
            share/doc/brisel/changelog.gz; do
  [ -f "$work/root/$file" ] || fail "cmake --install did not put $file in place"
done

# Start from a machine without it, so the check sees a first install.
if dpkg-query -W -f='${Status}' brisel 2>/dev/null | grep -q "install ok installed"; then
  echo "removing the brisel package installed before"
  DEBIAN_FRONTEND=noninteractive apt-get remove -y brisel >/dev/null
fi
(cd build/release && DEBIAN_FRONTEND=noninteractive apt-get install -y -o Dpkg::Use-Pty=0 ./brisel_*.deb)
trap 'DEBIAN_FRONTEND=noninteractive apt-get remove -y brisel >/dev/null; rm -rf "$work"' EXIT

[ "$(command -v brisel)" = /usr/bin/brisel ] || fail "brisel is not on the PATH"
[ -f /usr/share/man/man1/brisel.1.gz ] || fail "the man page is not installed"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
title=$(zcat /usr/share/man/man1/brisel.1.gz | sed -n 1p)
[[ "$title" == *"\"brisel $version\""* ]] ||
  fail "the man page's footer does not name brisel $version: $title"
set +e
out=$(brisel)
status=$?
set -e
[ "$status" = 255 ] && [ "$out" = "usage: brisel filename" ] ||
  fail "brisel without arguments: status $status, printed '$out'"
cp examples/example.tga "$work/example.tga"
out=$(cd "$work" && brisel example.tga)
[ "$out" = "written example_brisel.tga" ] || fail "brisel printed '$out'"
[ -s "$work/example_brisel.tga" ] || fail "no output file"
echo "package checks passed"

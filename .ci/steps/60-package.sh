#!/usr/bin/env bash
# The Debian package: built from a release build, installed with apt like
# any downloaded .deb, run, and removed again.
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

# cmake --install lays out the same files under any prefix.
cmake --install build/release --prefix "$work/root"
[ -x "$work/root/bin/brisel" ] && [ -f "$work/root/share/man/man1/brisel.1" ] ||
  fail "cmake --install did not put bin/brisel and share/man/man1/brisel.1 in place"

# Start from a machine without it, so the check sees a first install.
if dpkg-query -W -f='${Status}' brisel 2>/dev/null | grep -q "install ok installed"; then
  echo "removing the brisel package installed before"
  DEBIAN_FRONTEND=noninteractive apt-get remove -y brisel >/dev/null
fi
(cd build/release && DEBIAN_FRONTEND=noninteractive apt-get install -y -o Dpkg::Use-Pty=0 ./brisel_*.deb)
trap 'DEBIAN_FRONTEND=noninteractive apt-get remove -y brisel >/dev/null; rm -rf "$work"' EXIT

[ "$(command -v brisel)" = /usr/bin/brisel ] || fail "brisel is not on the PATH"
[ -f /usr/share/man/man1/brisel.1 ] || fail "the man page is not installed"
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

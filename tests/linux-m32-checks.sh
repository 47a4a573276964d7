#!/usr/bin/env bash
# Checks of a 32-bit x86 Linux build of brisel beyond its ctest suite:
#   linux-m32-checks.sh BRISEL
# (after `cmake --workflow --preset linux-m32`, BRISEL is
# build/linux-m32/brisel). Where this kernel runs 32-bit x86 programs
# itself: the file tests, and the largest image the format holds, 16 GiB
# of pixels, from a file and through a pipe. qemu-user hands file calls to
# the 64-bit kernel, which takes any file size, and would take many minutes
# over the image; under it the suite's own streamed-image test
# (platform_tests) stands for both.
set -euo pipefail
cd "$(dirname "$0")/.."
tool=$(realpath "$1")
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d /tmp/brisel-m32.XXXXXX)
trap 'rm -rf "$work"' EXIT

printf 'int main(void) { return sizeof(void *) == 4 ? 0 : 1; }\n' >"$work/probe.c"
gcc -m32 -o "$work/probe" "$work/probe.c"
if ! "$work/probe" 2>/dev/null; then
  echo "32-bit checks not run: this kernel runs no 32-bit x86 programs itself"
  exit 0
fi

echo "--- the 32-bit tool run natively: files and outputs"
/usr/bin/python3 tests/e2e/run.py test_files -- "$tool" ||
  fail "the natively run 32-bit tool fails the file tests"

echo "--- the 32-bit tool on 65535 x 65535, from a file and through a pipe"
/usr/bin/python3 - "$work" <<'PY'
import os, struct, sys
side = 65535
row = b"".join(bytes([0xFF]) + b"\1\2\3\4" for _ in range(side // 128)) + bytes([0x7F + side % 128]) + b"\1\2\3\4"
head = struct.pack("<BBB5sHHHHBB", 0, 0, 10, bytes(5), 0, 0, side, side, 32, 8)
for name, body in (("flat.tga", row), ("flat_expected.tga", row.replace(b"\1\2\3\4", b"\1\2\3\xff"))):
    with open(os.path.join(sys.argv[1], name), "wb") as f:
        f.write(head)
        for _ in range(side):
            f.write(body)
PY
ln -s /dev/stdin "$work/piped.tga"
out=$(cd "$work" && "$tool" flat.tga piped.tga <flat.tga)
[ "$out" = $'written flat_brisel.tga\nwritten piped_brisel.tga' ] ||
  fail "65535x65535: printed '$out'"
for name in flat piped; do
  cmp -s "$work/${name}_brisel.tga" "$work/flat_expected.tga" ||
    fail "65535x65535 ($name): the output is not the image made opaque"
done
echo "32-bit checks passed"

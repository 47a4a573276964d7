#!/usr/bin/env bash
# 32-bit x86 Linux build (gcc -m32): its tests run under qemu-i386-static,
# then the tool itself is shown an image whose pixels cannot fit a 32-bit
# address space.
set -euo pipefail
cd "$(dirname "$0")/../.."
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d /tmp/brisel-m32.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Whether this kernel runs 32-bit x86 programs itself; qemu does either way.
printf 'int main(void) { return sizeof(void *) == 4 ? 0 : 1; }\n' >"$work/probe.c"
gcc -m32 -o "$work/probe" "$work/probe.c"
if "$work/probe" 2>/dev/null; then
  native=yes
else
  native=no
fi
echo "kernel runs 32-bit x86 programs: $native"
qemu-i386-static -L / "$work/probe" || fail "qemu-i386-static cannot run a 32-bit program"

cmake --workflow --preset linux-m32

# qemu hands file calls to the 64-bit kernel, which takes any file size, so
# only a native run shows whether the tool opens files over 2 GiB.
if [ "$native" = yes ]; then
  echo "--- the 32-bit tool run natively: files and outputs"
  /usr/bin/python3 tests/e2e/run.py test_files -- "$PWD/build/linux-m32/brisel" ||
    fail "the natively run 32-bit tool fails the file tests"
fi

echo "--- the 32-bit tool on an image beyond its address space"
tool=(qemu-i386-static -L / "$PWD/build/linux-m32/brisel")
/usr/bin/python3 - "$work" <<'PY'
import os, struct, sys
def header(width, height, kind):
    return struct.pack("<BBB5sHHHHBB", 0, 0, kind, bytes(5), 0, 0, width, height, 32, 8)
with open(os.path.join(sys.argv[1], "huge.tga"), "wb") as f:
    f.write(header(65535, 65535, 10) + bytes([0xFF, 1, 2, 3, 4]) * 100)
with open(os.path.join(sys.argv[1], "wide.tga"), "wb") as f:
    f.write(header(32768, 32768, 2) + bytes(4096))
with open(os.path.join(sys.argv[1], "small.tga"), "wb") as f:
    f.write(header(2, 1, 2) + bytes([1, 2, 3, 4, 5, 6, 7, 8]))
PY
out=$(cd "$work" && "${tool[@]}" huge.tga wide.tga small.tga)
expected="huge.tga is too large
wide.tga is too large
written small_brisel.tga"
[ "$out" = "$expected" ] || fail "printed '$out', expected '$expected'"
[ ! -e "$work/huge_brisel.tga" ] && [ ! -e "$work/wide_brisel.tga" ] ||
  fail "an output was written for an image that is too large"
echo "32-bit checks passed"

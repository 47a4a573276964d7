#!/usr/bin/env bash
# Windows builds with mingw-w64: the shipped 32-bit brisel.exe is built and
# packed as a zip (this machine has no 32-bit Wine to run it); the 64-bit
# build runs its tests under Wine, followed by a check of what differs on
# Windows: backslashes, drive letters, replacing an existing output, the
# exit status.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
wine=/usr/lib/wine/wine64
fail() { echo "FAIL: $*" >&2; exit 1; }

echo "--- 32-bit brisel.exe"
cmake --workflow --preset mingw-i686
exe=build/mingw-i686/brisel.exe
headers=$(i686-w64-mingw32-objdump -p "$exe")
grep -q 'file format pei-i386' <<<"$headers" && grep -q '(Windows CUI)' <<<"$headers" ||
  fail "$exe is not a 32-bit console program"
# Only DLLs that every Windows has: the C and C++ runtimes are linked in.
dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | sort | tr '\n' ' ')
[ "$dlls" = "KERNEL32.dll msvcrt.dll " ] || fail "$exe needs DLLs: $dlls"
(cd build/mingw-i686 && cpack -G ZIP >/dev/null)
zip=$(ls build/mingw-i686/brisel-*-win32.zip)
/usr/bin/python3 -c 'import sys, zipfile; print(sys.argv[1], zipfile.ZipFile(sys.argv[1]).namelist())' "$zip"

echo "--- 64-bit build, tests under Wine"
WINEPREFIX=$(mktemp -d /tmp/brisel-wine.XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d /tmp/brisel-windows.XXXXXX)
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$work"
}
trap cleanup EXIT
start=$SECONDS
# One server for the whole step, so no test pays for starting one.
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
"$wine" wineboot --init </dev/null >/dev/null 2>&1
: >"$WINEPREFIX/.brisel-ready"  # tells cmake/wine-run the prefix is set up
echo "Wine prefix ready in $((SECONDS - start)) s"
cmake --workflow --preset mingw-x64

echo "--- Windows paths and outputs under Wine"
exe=$root/build/mingw-x64/brisel.exe
# Runs the tool in $work; its output, without Wine's CR, goes to $out and
# its exit status to $status.
run() {
  local raw
  set +e
  raw=$(cd "$work" && "$wine" "$exe" "$@")
  status=$?
  set -e
  out=$(printf '%s' "$raw" | tr -d '\r')
}
expect() {  # expect STATUS OUTPUT
  [ "$status" = "$1" ] || fail "exit status $status, expected $1 (output: $out)"
  [ "$out" = "$2" ] || fail "printed '$out', expected '$2'"
}
# A 3x2 image, uncompressed, alpha 0..5; its output must have alpha 255.
make_tga() {
  /usr/bin/python3 - "$1" <<'PY'
import struct, sys
pixels = b"".join(bytes([10 * i, 20, 30, i]) for i in range(6))
with open(sys.argv[1], "wb") as f:
    f.write(struct.pack("<BBB5sHHHHBB", 0, 0, 2, bytes(5), 0, 0, 3, 2, 32, 8) + pixels)
PY
}
check_output() {
  /usr/bin/python3 - "$1" <<'PY' || fail "$1 does not hold the opaque image"
import sys
data = open(sys.argv[1], "rb").read()
assert data[2] == 2 and len(data) == 18 + 24, (data[2], len(data))
assert data[18:] == b"".join(bytes([10 * i, 20, 30, 255]) for i in range(6))
PY
}

run
expect 255 "usage: brisel filename"

make_tga "$work/plain.tga"
run plain.tga
expect 0 "written plain_brisel.tga"
check_output "$work/plain_brisel.tga"

# Replacing an existing output: the new file takes the place of the old one.
echo "an older, longer file that must be replaced entirely" >"$work/plain_brisel.tga"
run plain.tga
expect 0 "written plain_brisel.tga"
check_output "$work/plain_brisel.tga"

# Run-length output, from bytes that text-mode I/O would alter (LF, CR, ^Z).
/usr/bin/python3 - "$work/runs.tga" <<'PY'
import struct, sys
with open(sys.argv[1], "wb") as f:
    f.write(struct.pack("<BBB5sHHHHBB", 0, 0, 2, bytes(5), 0, 0, 130, 1, 32, 8))
    f.write(bytes([0x0A, 0x1A, 0x0D, 0x00]) * 130)
PY
run runs.tga
expect 0 "written runs_brisel.tga"
/usr/bin/python3 - "$work/runs_brisel.tga" <<'PY' || fail "runs_brisel.tga is not the expected packets"
import sys
data = open(sys.argv[1], "rb").read()
pixel = bytes([0x0A, 0x1A, 0x0D, 0xFF])
assert data[2] == 10 and data[18:] == bytes([0xFF]) + pixel + bytes([0x81]) + pixel, data
PY

mkdir -p "$work/sub dir"
make_tga "$work/sub dir/back.tga"
run 'sub dir\back.tga'
expect 0 'written sub dir\back_brisel.tga'
check_output "$work/sub dir/back_brisel.tga"

# Drive letter: Wine maps Z: to the Unix root.
winpath="Z:${work//\//\\}\\sub dir\\back.tga"
run "$winpath"
expect 0 "written ${winpath%.tga}_brisel.tga"
check_output "$work/sub dir/back_brisel.tga"

# A folder in the output's place cannot be replaced: one message, the folder
# untouched, no temporary file left behind; the next argument still runs.
mkdir "$work/blocked_brisel.tga"
make_tga "$work/blocked.tga"
run blocked.tga missing.tga plain.tga
expect 0 "blocked_brisel.tga cannot be written
missing.tga not found
written plain_brisel.tga"
[ -d "$work/blocked_brisel.tga" ] || fail "the folder in the output's place is gone"
leftover=$(find "$work" -name '*brisel-tmp*')
[ -z "$leftover" ] || fail "temporary files left: $leftover"
echo "Windows checks passed"

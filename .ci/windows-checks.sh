#!/usr/bin/env bash
# What differs on Windows, checked on one brisel.exe under Wine:
#   windows-checks.sh WINE EXE
# WINE is the loader (/usr/lib/wine/wine for 32-bit programs, wine64 for
# 64-bit ones); WINEPREFIX and the rest of Wine's settings come from the
# caller (.ci/steps/40-windows.sh). Backslashes, drive letters, wildcards,
# paths longer than 260 characters, replacing an existing output, the exit
# status.
set -euo pipefail
wine=$1
exe=$2
fail() { echo "FAIL ($exe): $*" >&2; exit 1; }
work=$(mktemp -d /tmp/brisel-windows.XXXXXX)
trap 'rm -rf "$work" "$work.err"' EXIT

# Runs the tool in $work; its output, without Wine's CR, goes to $out and
# its exit status to $status.
# Once in a while Wine itself fails to start a program, ending with status 1
# and no output at all, which no check here expects of brisel (its status 1
# comes with a line on standard error); such a run is tried once more.
run() {
  local raw attempt
  for attempt in 1 2; do
    set +e
    raw=$(cd "$work" && "$wine" "$exe" "$@" 2>"$work.err")
    status=$?
    set -e
    [ "$status" = 1 ] && [ -z "$raw" ] && [ ! -s "$work.err" ] || break
    echo "Wine did not start $exe (status 1, no output); trying once more" >&2
    sleep 1
  done
  cat "$work.err" >&2
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

# Wildcards, which the program expands itself: the folder part is kept, and
# a pattern that matches nothing stays as given. The lines are compared
# sorted, since their order is the file system's.
mkdir "$work/sub"
for name in a.tga b.tga ab.tga sub/c.tga; do make_tga "$work/$name"; done
run '*.tga' '?.tga' 'sub\*.tga' 'none*.tga'
out=$(LC_ALL=C sort <<<"$out")
expect 0 'none*.tga not found
written a_brisel.tga
written a_brisel.tga
written ab_brisel.tga
written b_brisel.tga
written b_brisel.tga
written sub\c_brisel.tga'
check_output "$work/sub/c_brisel.tga"

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

# Longer than 260 characters, from a drive letter and relative: the program
# opens such paths in their extended form (\\?\Z:\...), yet names them as
# given. Wine takes long paths in either form, so this checks the form, not
# the limit.
long="$(printf 'l%.0s' {1..150})\\$(printf 'm%.0s' {1..150})"
mkdir -p "$work/${long//\\//}"
make_tga "$work/${long//\\//}/deep.tga"
winpath="Z:${work//\//\\}\\$long\\deep.tga"
run "$winpath" "$long\\deep.tga"
expect 0 "written ${winpath%.tga}_brisel.tga
written $long\\deep_brisel.tga"
check_output "$work/${long//\\//}/deep_brisel.tga"

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
echo "Windows checks passed: $exe"

#!/usr/bin/env bash
# What differs on Windows, checked on one brisel.exe under Wine:
#   windows-checks.sh WINE EXE
# WINE is the loader (/usr/lib/wine/wine for 32-bit programs, wine64 for
# 64-bit ones); WINEPREFIX and the rest of Wine's settings come from the
# caller (.ci/steps/40-windows.sh), or, run by hand without them, are those
# of the tests (cmake/wine-run). Backslashes, drive letters, wildcards,
# paths longer than 260 characters, replacing an existing output, the exit
# status, device names, a killed run, read-only outputs, names in a console
# and redirected.
set -euo pipefail
wine=$1
exe=$2
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=${TMPDIR:-/tmp}/brisel-wine-$(id -u) WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml="
  "$(dirname "$0")/../cmake/wine-run" "$wine" cmd /c exit >/dev/null 2>&1 || true
fi
fail() { echo "FAIL ($exe): $*" >&2; exit 1; }
work=$(mktemp -d /tmp/brisel-windows.XXXXXX)
winwork="Z:${work//\//\\}"  # the same folder as Windows programs name it
# Drive letters and serial ports that the checks add to the Wine prefix;
# one that the prefix has already is put back afterwards.
devices=${WINEPREFIX:?}/dosdevices
added_devices=()
holder=
cleanup() {
  [ -z "$holder" ] || kill "$holder" 2>/dev/null || true
  for device in "${added_devices[@]}"; do
    rm -f "$devices/$device"
    [ ! -L "$devices/$device.saved" ] || mv "$devices/$device.saved" "$devices/$device"
  done
  rm -rf "$work" "$work.err"
}
trap cleanup EXIT
# add_device NAME TARGET: a DOS device (y:, com9) that Wine maps to TARGET.
add_device() {
  [ ! -L "$devices/$1" ] || mv "$devices/$1" "$devices/$1.saved"
  ln -s "$2" "$devices/$1"
  added_devices+=("$1")
}

# Runs the tool in $work; its output, without Wine's CR, goes to $out and
# its exit status to $status. run_program does so for another program.
# Once in a while Wine itself fails to start a program, ending with status 1
# and no output at all, which no check here expects of brisel (its status 1
# comes with a line on standard error); such a run is tried once more.
run() { run_program "$exe" "$@"; }
run_program() {
  local raw attempt
  for attempt in 1 2; do
    set +e
    # A run that hangs (a device read for good) fails instead of holding up CI.
    raw=$(cd "$work" && timeout 300 "$wine" "$@" 2>"$work.err" </dev/null)
    status=$?
    set -e
    [ "$status" = 1 ] && [ -z "$raw" ] && [ ! -s "$work.err" ] || break
    echo "Wine did not start $1 (status 1, no output); trying once more" >&2
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

# Wildcards, which the program expands itself: matches in name order, the
# folder part kept as typed (drive letters too), folders matched but never
# "." or "..". A pattern that matches nothing, or one in quotes (Wine quotes
# an argument holding a space), stays as given.
mkdir "$work/sub" "$work/sub dir"
for name in a.tga b.tga ab.tga sub/c.tga "sub dir/d.tga"; do make_tga "$work/$name"; done
run '*.tga' '?.tga' 'sub\*.tga' 'none*.tga' 'su*' '.*' 'sub dir\*.tga'
expect 0 'written a_brisel.tga
written ab_brisel.tga
written b_brisel.tga
written a_brisel.tga
written b_brisel.tga
written sub\c_brisel.tga
none*.tga not found
sub cannot be read
sub dir cannot be read
.* not found
sub dir\*.tga not found'
check_output "$work/sub/c_brisel.tga"

# Names that a plain path would not reach, made here as other systems make
# them: a match with a trailing dot or space, or with a device's name, is
# handed on in the extended form, so it is the very file matched that is
# read (the junk t.tga., not t.tga) and written beside.
mkdir "$work/odd"
for name in t.tga 'u.tga ' aux.tga; do make_tga "$work/odd/$name"; done
printf 'no' >"$work/odd/t.tga."
run 'odd\*'
expect 0 "written \\\\?\\$winwork\\odd\\aux_brisel.tga
written odd\\t_brisel.tga
\\\\?\\$winwork\\odd\\t.tga. is not tga file
written \\\\?\\$winwork\\odd\\u._brisel.tga"
check_output "$work/odd/u._brisel.tga"
check_output "$work/odd/aux_brisel.tga"
[ ! -e "$work/odd/t._brisel.tga" ] || fail "t.tga. was read as t.tga"

# A command line as typed in cmd, which reaches the program unchanged: the
# program's path quoted up to a folder with a space is one name, and a
# quoted extended folder still takes a pattern after it.
mkdir "$work/bin dir"
cp "$exe" "$work/bin dir/brisel.exe"
printf '@echo off\r\n"%s\\bin dir"\\brisel.exe "\\\\?\\%s\\sub dir"\\*.tga\r\n' \
  "$winwork" "$winwork" >"$work/typed.bat"
run_program cmd /c typed.bat
expect 0 "written \\\\?\\$winwork\\sub dir\\d_brisel.tga"
check_output "$work/sub dir/d_brisel.tga"

# Drive-relative patterns: Y: is a drive whose current folder is sub/, and
# Z:, the current drive, has the current folder of the run.
add_device y: "$work/sub"
run 'Y:?.tga' 'Z:sub\?.tga' 'y:c.tga'
expect 0 'written Y:c_brisel.tga
written Z:sub\c_brisel.tga
written y:c_brisel.tga'

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
# given; so are wildcards in such a folder. Wine takes long paths in either
# form, so this checks the form, not the limit.
long="$(printf 'l%.0s' {1..150})\\$(printf 'm%.0s' {1..150})"
mkdir -p "$work/${long//\\//}"
make_tga "$work/${long//\\//}/deep.tga"
winpath="Z:${work//\//\\}\\$long\\deep.tga"
run "$winpath" "$long\\deep.tga" "${winpath%deep.tga}de?p.tga" "$long\\d*p.tga"
expect 0 "written ${winpath%.tga}_brisel.tga
written $long\\deep_brisel.tga
written ${winpath%.tga}_brisel.tga
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

# Reserved names (CON, PRN, AUX, NUL, COM1-9, COM¹-³, LPT1-9, LPT¹-³, in any
# case, with any extension, trailing dots or spaces, in any folder) are
# devices: each is refused at once, whether the device exists or not, and
# the batch goes on; com0.tga is a file. COM9 is a pipe here that has a
# writer but no data, so reading it would wait for good. A real file with
# such a name is read through the \\?\ form. The lines are in code page
# 1252 (Wine's under C.UTF-8), where ¹ and ³ are the bytes B9 and B3.
mkfifo "$work/serial"
sleep 100000 >"$work/serial" &
holder=$!
add_device com9 "$work/serial"
for name in aux.tga COM¹.tga LPT³.x.tga com0.tga; do
  cp "$work/plain.tga" "$work/$name"
done
LC_ALL=C.UTF-8 run NUL.tga CON.tga COM9.tga LPT1 prn.TGA 'sub\Com3.x.tga. ' \
  NUL: '\\.\NUL' COM¹.tga LPT³.x.tga com0.tga \
  "\\\\?\\Z:${work//\//\\}\\aux.tga" plain.tga
expect 0 "NUL.tga cannot be read
CON.tga cannot be read
COM9.tga cannot be read
LPT1 cannot be read
prn.TGA cannot be read
sub\\Com3.x.tga.  cannot be read
NUL: cannot be read
\\\\.\\NUL cannot be read
COM"$'\xb9'".tga cannot be read
LPT"$'\xb3'".x.tga cannot be read
written com0_brisel.tga
written \\\\?\\Z:${work//\//\\}\\aux_brisel.tga
written plain_brisel.tga"
check_output "$work/aux_brisel.tga"
check_output "$work/com0_brisel.tga"
kill "$holder"
holder=

# A run killed while it writes leaves the old output and nothing else (or,
# killed just as it finished, the whole new one).
/usr/bin/python3 - "$work/big.tga" <<'PY'
import os, struct, sys
side = 4096
with open(sys.argv[1], "wb") as f:
    f.write(struct.pack("<BBB5sHHHHBB", 0, 0, 2, bytes(5), 0, 0, side, side, 32, 8))
    f.write(os.urandom(side * side * 4))
PY
echo "an older output" >"$work/big_brisel.tga"
/usr/bin/python3 - "$work" "$wine" "$exe" <<'PY' || fail "the kill did not strike while the output was written"
import os, subprocess, sys
folder = sys.argv[1]
tool = subprocess.Popen(sys.argv[2:] + ["big.tga"], cwd=folder, stdin=subprocess.DEVNULL,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
while tool.poll() is None:  # until a part of the output is in a temporary file
    names = [n for n in os.listdir(folder) if "brisel-tmp" in n]
    if names and os.path.getsize(os.path.join(folder, names[0])) > 0:
        tool.kill()
        tool.wait()
        sys.exit(0)
sys.exit(1)
PY
run missing.tga  # Wine closes the killed program's files before it serves this run
expect 0 "missing.tga not found"
leftover=$(find "$work" -name '*brisel-tmp*')
[ -z "$leftover" ] || fail "a killed run left: $leftover"
[ "$(head -c 64 "$work/big_brisel.tga" | tr -d '\0')" = "an older output" ] ||
  [ "$(stat -c %s "$work/big_brisel.tga")" = $((18 + 4096 * 4096 * 4)) ] ||
  fail "a killed run left a torn output"
rm "$work/big.tga"

# A read-only output is protected, as everywhere on Windows: not replaced,
# and kept as it was.
echo "a protected file" >"$work/plain_brisel.tga"
chmod a-w "$work/plain_brisel.tga"
run plain.tga runs.tga
expect 0 "plain_brisel.tga cannot be written
written runs_brisel.tga"
[ "$(cat "$work/plain_brisel.tga")" = "a protected file" ] || fail "a read-only output was replaced"
chmod u+w "$work/plain_brisel.tga"

# Redirected, a line is in the ANSI code page (1252 here), and a letter it
# lacks is "?": never a look-alike (Ω as O) that names another file.
make_tga "$work/Ωmega.tga"
LC_ALL=C.UTF-8 run Ωmega.tga
expect 0 "written ?mega_brisel.tga"
check_output "$work/Ωmega_brisel.tga"

# In a console a name shows as typed, in any script: Wine's console is the
# UTF-8 terminal that script(1) gives it (its cursor codes stripped).
make_tga "$work/ёлка.tga"
command="$(printf '%q ' "$wine" "$exe")ёлка.tga"
shown=$(cd "$work" && LANG=C.UTF-8 script -qec "$command" /dev/null </dev/null |
  sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' | tr -d '\r\0')
[[ "$shown" == *"ёлка_brisel.tga"* ]] || fail "the console showed: $shown"
check_output "$work/ёлка_brisel.tga"
echo "Windows checks passed: $exe"

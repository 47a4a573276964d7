#!/usr/bin/env bash
# Windows builds with mingw-w64, each with its tests run under Wine: the
# shipped 32-bit brisel.exe, packed as a zip, and a 64-bit build. Then both
# programs go through a check of what differs on Windows: backslashes, drive
# letters, wildcards, paths longer than 260 characters, device names,
# replacing an existing or read-only output, a killed run, names in a
# console, the exit status (.ci/windows-checks.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
fail() { echo "FAIL: $*" >&2; exit 1; }
# Most of the step is compiling GoogleTest and the tests twice over.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}

WINEPREFIX=$(mktemp -d /tmp/brisel-wine.XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
start=$SECONDS
# One server for the whole step, so no test pays for starting one. The
# prefix is a 64-bit one, which runs 32-bit programs as well.
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
/usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1
: >"$WINEPREFIX/.brisel-ready"  # tells cmake/wine-run the prefix is set up
echo "Wine prefix ready in $((SECONDS - start)) s"

echo "--- 32-bit brisel.exe, tests under Wine"
cmake --workflow --preset mingw-i686
exe=build/mingw-i686/brisel.exe
headers=$(i686-w64-mingw32-objdump -p "$exe")
grep -q 'file format pei-i386' <<<"$headers" && grep -q '(Windows CUI)' <<<"$headers" ||
  fail "$exe is not a 32-bit console program"
# Only DLLs that every Windows has: the C and C++ runtimes are linked in.
dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | sort | tr '\n' ' ')
[ "$dlls" = "KERNEL32.dll msvcrt.dll " ] || fail "$exe needs DLLs: $dlls"
# The manifest that lets the program take long paths where Windows allows.
grep -q '<longPathAware[^>]*>true<' "$exe" || fail "$exe has no long-path manifest"
(cd build/mingw-i686 && cpack -G ZIP >/dev/null)
zip=$(ls build/mingw-i686/brisel-*-win32.zip)
/usr/bin/python3 -c 'import sys, zipfile; print(sys.argv[1], zipfile.ZipFile(sys.argv[1]).namelist())' "$zip"

echo "--- 64-bit build, tests under Wine"
cmake --workflow --preset mingw-x64

echo "--- Windows paths and outputs under Wine"
bash .ci/windows-checks.sh /usr/lib/wine/wine "$root/build/mingw-i686/brisel.exe"
bash .ci/windows-checks.sh /usr/lib/wine/wine64 "$root/build/mingw-x64/brisel.exe"

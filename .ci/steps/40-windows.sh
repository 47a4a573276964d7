#!/usr/bin/env bash
# Windows builds with mingw-w64, each with its tests run under Wine: the
# shipped 32-bit brisel.exe, with its version resource, packed as a zip with
# its licence and guide, and a 64-bit build. Then both programs go through a
# check of what differs on Windows: backslashes, drive letters, wildcards,
# paths longer than 260 characters, device names, replacing an existing or
# read-only output, a killed run, names in a console and redirected, the
# exit status (tests/windows-checks.sh).
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

# 32-bit Wine is itself a 32-bit x86 Linux program. A kernel built or
# started without 32-bit support refuses it ("Exec format error"); then the
# 32-bit program is still built, checked and packed, but not run.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "--- 32-bit brisel.exe, tests under Wine"
  cmake --workflow --preset mingw-i686
  run32=yes
else
  echo "--- 32-bit brisel.exe, built only: this machine cannot run 32-bit x86 programs," \
    "so neither can 32-bit Wine ($(/usr/lib/wine/wine --version 2>&1 | tail -n 1 | sed "s/.*: //"))"
  cmake --preset mingw-i686 -DBRISEL_BUILD_TESTS=OFF
  cmake --build --preset mingw-i686
  run32=no
fi
exe=build/mingw-i686/brisel.exe
headers=$(i686-w64-mingw32-objdump -p "$exe")
grep -q 'file format pei-i386' <<<"$headers" && grep -q '(Windows CUI)' <<<"$headers" ||
  fail "$exe is not a 32-bit console program"
# Only DLLs that every Windows has: the C and C++ runtimes are linked in.
dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | sort | tr '\n' ' ')
[ "$dlls" = "KERNEL32.dll msvcrt.dll " ] || fail "$exe needs DLLs: $dlls"
# The manifest that lets the program take long paths where Windows allows.
grep -q '<longPathAware[^>]*>true<' "$exe" || fail "$exe has no long-path manifest"
# The version resource that Explorer shows, with the version of project().
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/mingw-i686/CMakeCache.txt)
resources=$(i686-w64-mingw32-windres --input "$exe" --output-format rc)
for value in '"ProductName", "brisel"' "\"ProductVersion\", \"$version\"" \
             "\"FileVersion\", \"$version\"" '"FileDescription", "' '"LegalCopyright", "Copyright'; do
  grep -qF "VALUE $value" <<<"$resources" || fail "$exe has no version resource with $value"
done
rm -f build/mingw-i686/brisel-*-win32.zip
(cd build/mingw-i686 && cpack -G ZIP >/dev/null)
zip=build/mingw-i686/brisel-$version-win32.zip
/usr/bin/python3 - "$zip" <<'PY' || fail "$zip does not hold what it should"
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    names = sorted(z.namelist())
    print(sys.argv[1], names)
    assert names == ["LICENSE.txt", "README.txt", "brisel.exe"], names
    for name in ("LICENSE.txt", "README.txt"):
        text = z.read(name)
        assert text.count(b"\n") == text.count(b"\r\n") > 0, name + " has other line ends than CRLF"
PY

echo "--- 64-bit build, tests under Wine"
cmake --workflow --preset mingw-x64

echo "--- Windows paths and outputs under Wine"
[ "$run32" = no ] ||
  bash tests/windows-checks.sh /usr/lib/wine/wine "$root/build/mingw-i686/brisel.exe"
bash tests/windows-checks.sh /usr/lib/wine/wine64 "$root/build/mingw-x64/brisel.exe"

#!/bin/sh
# Makes the Windows zip and follows its install text under Wine: unpack, copy the module to the
# system folder, regsvr32, read a document through the registered filter with the unpacked
# cvxtext.exe, regsvr32 /u and delete the module.
# Usage: test-zip.sh BUILD-FOLDER HOST-CVXTEXT SAMPLE
set -eu
bin="$1" host="$2" sample="$3"
run="$bin/wine-run"
scratch="$bin/package-test"
rm -rf "$scratch"
mkdir -p "$scratch"
fail() { echo "FAIL: $*" >&2; exit 1; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$bin/CMakeCache.txt")
top="cvxfilter-$version-win32"
cpack -G ZIP --config "$bin/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack"; }
zip="$scratch/$top.zip"
[ -f "$zip" ] || fail "no $top.zip"

# Exactly these files, in one folder.
(cd "$scratch" && cmake -E tar xf "$zip")
listed=$(cd "$scratch" && find "$top" -type f | LC_ALL=C sort | tr '\n' ' ')
expected="$top/CVXFilter.dll $top/INSTALL.txt $top/cvxfilter.reg $top/cvxtext.exe "
[ "$listed" = "$expected" ] || fail "zip holds: $listed; expected: $expected"
unpacked="$scratch/$top"

# The .reg file is what --registration prints; the install text is CR LF throughout.
"$host" --registration >"$scratch/expected.reg"
cmp -s "$unpacked/cvxfilter.reg" "$scratch/expected.reg" || fail "cvxfilter.reg differs from --registration"
if tr -d '\r' <"$unpacked/INSTALL.txt" | cmp -s - "$unpacked/INSTALL.txt"; then
    fail "INSTALL.txt has no CR LF line ends"
fi
[ "$(grep -c "$(printf '[^\r]$')" "$unpacked/INSTALL.txt" || true)" = 0 ] || fail "INSTALL.txt mixes line ends"
grep -q "regsvr32 CVXFilter.dll" "$unpacked/INSTALL.txt" || fail "INSTALL.txt names no regsvr32 step"
# The module and the program load at a random address and keep data out of execution.
for binary in CVXFilter.dll cvxtext.exe; do
    traits=$(i686-w64-mingw32-objdump -p "$unpacked/$binary") || fail "objdump $binary"
    case "$traits" in *DYNAMIC_BASE*) ;; *) fail "$binary is not built for address randomisation" ;; esac
    case "$traits" in *NX_COMPAT*) ;; *) fail "$binary is not marked for data execution prevention" ;; esac
done

# The install text's steps. The prefix is 32-bit: its system folder is System32.
system="$("$run" cmd /c echo %SystemRoot%\\System32 </dev/null 2>/dev/null | tr -d '\r')"
dll_unix="$(WINEPREFIX="$bin/wineprefix" winepath -u "$system\\CVXFilter.dll" 2>/dev/null)"
[ ! -e "$dll_unix" ] || fail "a CVXFilter.dll is in the system folder already"
cleanup() {
    "$run" regsvr32 /u /s CVXFilter.dll </dev/null >/dev/null 2>&1 || true
    rm -f "$dll_unix"
}
trap cleanup EXIT
(cd "$unpacked" && "$run" cmd /c copy CVXFilter.dll "$system" </dev/null >/dev/null 2>&1) || fail "copy"
[ -f "$dll_unix" ] || fail "copy left no CVXFilter.dll in $system"
(cd "$scratch" && "$run" regsvr32 /s CVXFilter.dll </dev/null >/dev/null 2>&1) || fail "regsvr32"

# cvxtext.exe alone in its folder now, so it reads through the registered module only.
rm "$unpacked/CVXFilter.dll"
"$host" "$sample" >"$scratch/expected.txt"
sample_windows="$(WINEPREFIX="$bin/wineprefix" winepath -w "$sample" 2>/dev/null)"
"$run" "$unpacked/cvxtext.exe" "$sample_windows" </dev/null >"$scratch/read.txt" 2>"$scratch/read.err" ||
    { cat "$scratch/read.err" >&2; fail "cvxtext.exe through the registered filter"; }
cmp -s "$scratch/read.txt" "$scratch/expected.txt" || fail "cvxtext.exe's text differs from the native cvxtext's"

(cd "$scratch" && "$run" regsvr32 /u /s CVXFilter.dll </dev/null >/dev/null 2>&1) || fail "regsvr32 /u"
rm -f "$dll_unix"
trap - EXIT
status=0
"$run" "$unpacked/cvxtext.exe" "$sample_windows" </dev/null >/dev/null 2>"$scratch/after.err" || status=$?
[ "$status" = 2 ] || fail "after regsvr32 /u, cvxtext.exe exits $status, expected 2 (no filter)"
grep -q "no filter is registered for .zcv documents" "$scratch/after.err" || fail "after removal: $(cat "$scratch/after.err")"
echo "windows zip: $top.zip unpacked, registered, read and removed"

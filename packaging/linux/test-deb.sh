#!/usr/bin/env bash
# Builds the .deb from the build tree and checks what it installs: the exact files and their
# modes, the control fields, that the packaged cvxtext prints what the built one prints, and
# that its man page renders cleanly and names every option. Then checks that a plain
# `cmake --install` lays out the same files.
#
# test-deb.sh CPACK BUILD_DIR SOURCE_DIR VERSION BUILT_CVXTEXT SCRATCH
set -euo pipefail
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND failed" >&2' ERR

cpack=$1 build=$2 source=$3 version=$4 built=$5 scratch=$6
cmake=$(dirname "$cpack")/cmake
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# A group-writable umask, as some users have: the package's modes must not follow it.
umask 0002
rm -rf "$scratch"
mkdir -p "$scratch"

# Every path in the package, with its mode and owner; directories end in /.
expected_package=(
    "drwxr-xr-x root/root ./usr/"
    "drwxr-xr-x root/root ./usr/bin/"
    "-rwxr-xr-x root/root ./usr/bin/cvxtext"
    "drwxr-xr-x root/root ./usr/share/"
    "drwxr-xr-x root/root ./usr/share/cvxtext/"
    "drwxr-xr-x root/root ./usr/share/cvxtext/recoll/"
    "-rw-r--r-- root/root ./usr/share/cvxtext/recoll/mimeconf"
    "-rw-r--r-- root/root ./usr/share/cvxtext/recoll/mimemap"
    "-rw-r--r-- root/root ./usr/share/cvxtext/recoll/mimeview"
    "drwxr-xr-x root/root ./usr/share/doc/"
    "drwxr-xr-x root/root ./usr/share/doc/cvxtext/"
    "-rw-r--r-- root/root ./usr/share/doc/cvxtext/copyright"
    "drwxr-xr-x root/root ./usr/share/man/"
    "drwxr-xr-x root/root ./usr/share/man/man1/"
    "-rw-r--r-- root/root ./usr/share/man/man1/cvxtext.1.gz"
    "drwxr-xr-x root/root ./usr/share/mime/"
    "drwxr-xr-x root/root ./usr/share/mime/packages/"
    "-rw-r--r-- root/root ./usr/share/mime/packages/cvxfilter.xml"
)

# ---- The package ----

if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" \
        >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    echo "FAIL: cpack could not build the package" >&2
    exit 1
fi
arch=$(dpkg --print-architecture)
deb="$scratch/out/cvxtext_${version}_${arch}.deb"
if [ ! -f "$deb" ]; then
    echo "FAIL: no $(basename "$deb"); cpack made:" >&2
    ls "$scratch/out" >&2
    exit 1
fi

listed=$(dpkg-deb -c "$deb" | awk '$6 != "./" { print $1, $2, $6 }' | sort)
wanted=$(printf '%s\n' "${expected_package[@]}" | sort)
if [ "$listed" != "$wanted" ]; then
    fail "the package holds other files or modes than expected (- expected, + packaged):"
    diff <(echo "$wanted") <(echo "$listed") | grep '^[<>]' | sed 's/^</-/; s/^>/+/' >&2 || true
fi

# Control fields: name, value (an extended pattern, matched whole).
control_fields=(
    "Package:cvxtext"
    "Version:${version//./\\.}"
    "Architecture:$arch"
    "Section:utils"
    "Priority:optional"
    "Maintainer:CVXFilter maintainers"
    "Suggests:recoll"
    "Description:text extractor for \.zcv desktop-publishing documents"
    # A C++ program needs at least the C and C++ runtimes.
    "Depends:(.*, )?libc6( \(.*\))?(, .*)?"
    "Depends:(.*, )?libstdc\+\+6( \(.*\))?(, .*)?"
)
for entry in "${control_fields[@]}"; do
    field=${entry%%:*} pattern=${entry#*:}
    value=$(dpkg-deb -f "$deb" "$field" | sed -n 1p)  # a description's synopsis
    [[ $value =~ ^($pattern)$ ]] || fail "control field $field is '$value', expected /$pattern/"
done

[ "$(dpkg-deb -f "$deb" Description | wc -l)" -gt 1 ] || fail "the description has no extended part"

# ---- What it installs ----

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
installed="$root/usr/bin/cvxtext"
sample="$source/samples/brochure.zcv"

for format in "" --json --chunks; do
    # shellcheck disable=SC2086 # an empty format is no argument
    if ! "$built" $format "$sample" >"$scratch/built.out" 2>&1; then
        fail "the built cvxtext failed on the sample ($format)"
    fi
    # shellcheck disable=SC2086
    if ! "$installed" $format "$sample" >"$scratch/installed.out" 2>&1; then
        fail "the packaged cvxtext failed on the sample ($format)"
    fi
    cmp -s "$scratch/built.out" "$scratch/installed.out" ||
        fail "the packaged cvxtext prints other output than the built one (${format:-plain})"
done
[ -s "$scratch/built.out" ] || fail "cvxtext printed nothing for the sample"

shown=$("$installed" --version 2>&1) || fail "cvxtext --version failed"
[ "$shown" = "cvxtext $version" ] || fail "cvxtext --version says '$shown', not 'cvxtext $version'"

if readelf -S --wide "$installed" | grep -c '\.debug_info' >/dev/null; then
    fail "the packaged cvxtext is not stripped"
fi
# Built hardened: position-independent, relocations read-only and bound at start, stack
# protected, fortified calls. (readelf's output is taken whole: grep -q would cut its pipe.)
header=$(readelf -h "$installed") segments=$(readelf -l --wide "$installed")
dynamic=$(readelf -d "$installed") symbols=$(readelf --dyn-syms --wide "$installed")
grep -q 'Type:.*DYN' <<<"$header" || fail "the packaged cvxtext is not position-independent"
grep -q GNU_RELRO <<<"$segments" || fail "the packaged cvxtext has no read-only relocations"
grep -q 'FLAGS.*BIND_NOW' <<<"$dynamic" || fail "the packaged cvxtext is not bound at start (-z now)"
grep -q '__stack_chk_fail' <<<"$symbols" || fail "the packaged cvxtext has no stack protection"
grep -q '_chk@' <<<"$symbols" || fail "the packaged cvxtext has no fortified calls"

# ---- The man page ----

page="$root/usr/share/man/man1/cvxtext.1.gz"
gzip -t "$page" || fail "the man page is not a valid gzip file"
if ! LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l "$page" >"$scratch/man.txt" \
        2>"$scratch/man.err"; then
    fail "man cannot render the man page"
fi
[ ! -s "$scratch/man.err" ] || fail "man warns: $(cat "$scratch/man.err")"
if ! zcat "$page" | groff -man -ww -z 2>"$scratch/groff.err" || [ -s "$scratch/groff.err" ]; then
    fail "groff warns: $(cat "$scratch/groff.err")"
fi

for heading in NAME SYNOPSIS DESCRIPTION OPTIONS OUTPUT "EXIT STATUS" RECOLL EXAMPLES "SEE ALSO"; do
    grep -qx "$heading" "$scratch/man.txt" || fail "the man page has no $heading section"
done
for text in "cvxtext - print the text of" /usr/share/cvxtext/recoll/ "~/.recoll/" "recollindex(1)"; do
    grep -qF -- "$text" "$scratch/man.txt" || fail "the man page does not mention '$text'"
done

# Every option the program lists, and no long option the program does not have.
"$built" --help >"$scratch/help.txt"
options=$(sed -n 's/^  \(-[^ ]*\).*/\1/p' "$scratch/help.txt" | tr ',' '\n')
[ -n "$options" ] || fail "no options found in cvxtext --help"
for option in $options; do
    grep -qE -- "(^|[^-[:alnum:]])$option([^-[:alnum:]]|$)" "$scratch/man.txt" ||
        fail "the man page does not document $option"
done
for option in $(grep -oE -- '--[a-z][a-z-]*' "$scratch/man.txt" | sort -u); do
    grep -qx -- "$option" <<<"$options" ||
        fail "the man page documents $option, which cvxtext --help does not list"
done

# ---- A plain install gives the same files ----

prefix="$scratch/install"
if "$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
    installed_files=$(cd "$prefix" && find . -mindepth 1 -printf '%M ./usr/%P%y\n' |
                          sed 's/d$/\//; t; s/.$//' | sort)
    wanted_files=$(printf '%s\n' "${expected_package[@]}" | awk '{ print $1, $3 }' |
                       grep -v ' \./usr/$' | sort)
    if [ "$installed_files" != "$wanted_files" ]; then
        fail "cmake --install lays out other files or modes than the package (- package, + install):"
        diff <(echo "$wanted_files") <(echo "$installed_files") | grep '^[<>]' |
            sed 's/^</-/; s/^>/+/' >&2 || true
    fi
else
    cat "$scratch/install.log" >&2
    fail "cmake --install failed"
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package $(basename "$deb"): every check passed"

#!/bin/sh
# Runs a Windows program under Wine with the prefix's reported Windows version set (nt40, win98,
# ...; processes started afterwards see it), and restores the default afterwards.
# Usage: with-windows-version.sh WINE-RUN VERSION PROGRAM [ARGUMENTS...]
set -u
run="$1" version="$2"
shift 2
"$run" reg add 'HKCU\Software\Wine' /v Version /d "$version" /f </dev/null >/dev/null 2>&1 || exit 1
"$run" "$@"
status=$?
"$run" reg delete 'HKCU\Software\Wine' /v Version /f </dev/null >/dev/null 2>&1
exit $status

#!/bin/sh
# Runs a Windows program under Wine with the filter module registered (regsvr32), as cvxtext
# finds its filter through the registry, and unregisters it afterwards.
# Usage: with-registered-filter.sh WINE-RUN MODULE PROGRAM [ARGUMENTS...]
set -u
run="$1" module="$2"
shift 2
if ! "$run" regsvr32 /s "$module" </dev/null >/dev/null 2>&1; then
    echo "regsvr32 $module failed" >&2
    exit 1
fi
"$run" "$@"
status=$?
"$run" regsvr32 /u /s "$module" </dev/null >/dev/null 2>&1
exit $status

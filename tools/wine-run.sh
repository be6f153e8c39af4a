#!/bin/sh
# Runs one Windows program under Wine for the build and the tests.
#   OSM_WINEPREFIX    prefix to use (default: $HOME/.osm-wine)
#   OSM_WINE_TIMEOUT  seconds before the program is killed (default 300; 0: none)
#   OSM_WINE_STREAM=1 pass the program's output straight through (live)
# Standard input is closed so that a stray prompt can never hang a test.
#
# Wine starts helper processes on demand (the desktop process, for one) that
# inherit the descriptors of whoever needed them and outlive that program. If
# they inherited a test runner's pipe, the runner would wait on it for ever, so
# unless asked to stream, the output goes through files and is copied out when
# the program has ended.
: "${OSM_WINEPREFIX:=$HOME/.osm-wine}"
WINEPREFIX="$OSM_WINEPREFIX"
WINEDEBUG="${WINEDEBUG:--all}"
WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winedbg.exe=d;mscoree=d;mshtml=d}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
limit=${OSM_WINE_TIMEOUT:-300}
if [ "${OSM_WINE_STREAM:-0}" = 1 ]; then
  exec timeout --kill-after=10 "$limit" wine "$@" </dev/null
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/wine-run.XXXXXX") || exit 125
timeout --kill-after=10 "$limit" wine "$@" </dev/null >"$dir/out" 2>"$dir/err"
rc=$?
cat "$dir/out"
cat "$dir/err" >&2
rm -rf "$dir"
exit $rc

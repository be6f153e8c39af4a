#!/bin/sh
# Runs one Windows program under Wine for the build and the tests.
#   OSM_WINEPREFIX  prefix to use (default: $HOME/.osm-wine)
#   OSM_WINE_TIMEOUT  seconds before the program is killed (default 300)
# Standard input is closed so that a stray prompt can never hang a test.
: "${OSM_WINEPREFIX:=$HOME/.osm-wine}"
WINEPREFIX="$OSM_WINEPREFIX"
WINEDEBUG="${WINEDEBUG:--all}"
WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winedbg.exe=d;mscoree=d;mshtml=d}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
exec timeout --kill-after=10 "${OSM_WINE_TIMEOUT:-300}" wine "$@" </dev/null

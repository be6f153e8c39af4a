#!/bin/sh
# Registers osmperf.dll with regsvr32, runs the COM client against it, then
# unregisters it and checks that the keys are gone.
#   osmperf_com_test.sh WINE_RUN DLL CLIENT
# WINE_RUN runs a Windows program (tools/wine-run.sh, OSM_WINEPREFIX set).
set -u
run=$1
dll=$2
client=$3
windows_path() { printf 'Z:%s' "$1" | tr '/' '\\'; }
dll_w=$(windows_path "$dll")
cd "$(dirname "$client")" || exit 1

"$run" regsvr32 /s "$dll_w"
rc=$?
if [ $rc -ne 0 ]; then echo "regsvr32 $dll_w failed: $rc"; exit 1; fi

OSM_TEST_OSMPERF_PATH="$dll_w" "$run" "$client" --gtest_brief=1 --gtest_filter='Registered.*:ComClient.*'
client_rc=$?

"$run" regsvr32 /u /s "$dll_w"
rc=$?
if [ $rc -ne 0 ]; then echo "regsvr32 /u $dll_w failed: $rc"; exit 1; fi
"$run" "$client" --gtest_brief=1 --gtest_filter='Unregistered.*' || exit 1
exit $client_rc

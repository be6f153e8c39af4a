#!/bin/bash
# End-to-end checks of osmagent's command line and start-up under Wine.
#   agent_e2e.sh OSMAGENT OSMPERF EXITCODE SIGNAL_EVENT WINE_RUN
set -u
agent=$1 perf=$2 exitcode=$3 signal=$4 run=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Paths through the test prefix's own server, never a default prefix.
win() { WINEPREFIX=$OSM_WINEPREFIX winepath -w "$1"; }
export BSL_RAS1_FILE="$(win "$work/agent.trc" 2>/dev/null || echo stderr)"
export OSM_WINE_TIMEOUT=120
failures=0
pass() { echo "ok: $1"; }
fail() { echo "FAILED: $1"; failures=$((failures + 1)); }
expect() {  # expect NAME FILE TEXT
  if grep -qF -- "$3" "$2"; then pass "$1"; else fail "$1 (missing: $3)"; sed 's/^/    | /' "$2"; fi
}
absent() {  # absent NAME FILE TEXT
  if grep -qF -- "$3" "$2"; then fail "$1 (unexpected: $3)"; else pass "$1"; fi
}

# An unknown option: banner, 10103 with the argument, exit code 1.
"$run" "$exitcode" "$(win "$agent")" -bogus >"$work/out" 2>"$work/err"
expect "banner" "$work/out" "OSMI100: "
expect "unknown option message" "$work/out" 'OSME103: Unknown option "-bogus" was specified. Ending process.'
expect "unknown option exit code" "$work/out" "exit code: 1"

# A longer word that begins with TEST is not TEST.
"$run" "$exitcode" "$(win "$agent")" TESTING >"$work/out" 2>"$work/err"
expect "TESTING is unknown" "$work/out" 'OSME103: Unknown option "TESTING"'

# No argument outside the service manager: usage, 10102, the dispatcher's code.
"$run" "$exitcode" "$(win "$agent")" >"$work/out" 2>"$work/err"
expect "usage text" "$work/err" " TEST - To run as a console application for debugging."
expect "dispatcher note" "$work/err" "StartServiceCtrlDispatcher being called."
expect "dispatcher failure message" "$work/out" "OSME102: Error starting as a system service."
expect "dispatcher exit code 1063" "$work/out" "exit code: 1063"

# A Perflib counter value that is present but empty stops start-up before COM.
OSM_PERFLIB_COUNTER_SIZE=0 "$run" "$exitcode" "$(win "$agent")" test >"$work/out" 2>"$work/err"
expect "console mode message" "$work/out" "OSMI101: Starting "
absent "no counter service with corrupt counters" "$work/out" "OSME106"
expect "corrupt counters end console mode with an error" "$work/out" "exit code: 1"
# Each console line ends in one line end, also when the output is a file.
if grep -q $'\r\r' "$work/out"; then fail "console lines end in CR CR LF"; else pass "console line ends"; fi

# The counter service is neither registered nor loadable: 10106, then 10104.
# (Unregistered through a real copy, whatever an earlier test registered.)
"$run" regsvr32 /s /u "$(win "$perf")" >/dev/null 2>&1
"$run" "$exitcode" "$(win "$agent")" 1 >"$work/out" 2>"$work/err"
expect "console mode with 1" "$work/out" "OSMI101: Starting "
expect "load failure message" "$work/out" "OSME106: Unable to Load DLL during registration"
expect "null class id message" "$work/out" "OSME104: Failed to register the DLL"
expect "null class id on stderr" "$work/err" "MxMain: Null class id, EXITING"
expect "failed start ends in error" "$work/out" "exit code: 1"

echo "agent end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

#!/bin/bash
# osmagent as the service "mx_agent" under Wine's service manager, and the
# console-mode stop through the named event "OSM-SHUTDOWN".
#   service_e2e.sh OSMAGENT OSMPERF SVCCTL SIGNAL_EVENT WINE_RUN
set -u
agent=$1 perf=$2 svcctl=$3 signal=$4 run=$5
work=$(mktemp -d)
export OSM_WINE_TIMEOUT=120
failures=0
pass() { echo "ok: $1"; }
fail() { echo "FAILED: $1"; failures=$((failures + 1)); }
expect() {  # expect NAME FILE TEXT
  if grep -qF -- "$3" "$2"; then pass "$1"; else fail "$1 (missing: $3)"; sed 's/^/    | /' "$2" | tail -40; fi
}
win() { WINEPREFIX=$OSM_WINEPREFIX winepath -w "$1"; }
cleanup() {
  "$run" "$svcctl" stop mx_agent >/dev/null 2>&1
  "$run" "$svcctl" delete mx_agent >/dev/null 2>&1
  "$run" reg delete 'HKLM\SOFTWARE\Velmor' /f >/dev/null 2>&1
  # No registration may point into the removed folder for the next test.
  "$run" regsvr32 /s /u "$(win "$work/osmperf.dll")" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

# The agent and its counter server side by side, as installed.
cp "$agent" "$perf" "$work/"
"$run" regsvr32 /s "$(win "$work/osmperf.dll")" || fail "regsvr32"
: >"$work/requests.txt"
# A service sees the environment of the service manager, not ours: give it its
# settings through the agent's registry environment.
envkey='HKLM\SOFTWARE\Velmor\OSM\Ver610\Primary\Environment'
"$run" reg add "$envkey" /v OSM_PERF_SOURCE /d system /f >/dev/null
"$run" reg add "$envkey" /v OSM_REQUESTS /d "$(win "$work/requests.txt")" /f >/dev/null
"$run" reg add "$envkey" /v BSL_RAS1 /d "ERROR,ServiceCtrlHandler=DETAIL" /f >/dev/null
"$run" reg add "$envkey" /v BSL_RAS1_FILE /d "$(win "$work/service.trc")" /f >/dev/null

"$run" "$svcctl" create mx_agent "$(win "$work/osmagent.exe")" >"$work/out" 2>&1 || { fail "create"; cat "$work/out"; }
"$run" "$svcctl" start mx_agent >"$work/out" 2>&1
expect "service running" "$work/out" "state: 4 "
"$run" "$svcctl" control mx_agent 4 >"$work/out" 2>&1
expect "interrogate keeps RUNNING" "$work/out" "state: 4 "
"$run" "$svcctl" control mx_agent 200 >"$work/out" 2>&1
expect "control 200 answered" "$work/out" "state: 4 "
"$run" "$svcctl" control mx_agent 201 >"$work/out" 2>&1
expect "control 201 answered" "$work/out" "state: 4 "
# A code the agent does not define is answered with the unchanged state. (Pause
# never reaches the handler: a running agent does not accept it.)
"$run" "$svcctl" control mx_agent 150 >"$work/out" 2>&1
expect "undefined code ignored, still RUNNING" "$work/out" "state: 4 "
"$run" "$svcctl" stop mx_agent >"$work/out" 2>&1
expect "stopped with exit code 0" "$work/out" "state: 1 exit: 0"
expect "disarm traced" "$work/service.trc" "SERVICE_CONTROL_DISARM_WATCHDOG received."
expect "rearm traced" "$work/service.trc" "SERVICE_CONTROL_REARM_WATCHDOG received."
expect "undefined code traced" "$work/service.trc" "Control Code - 00000096 undefined.  Ignored."
expect "stop traced" "$work/service.trc" "Control Code - SERVICE_CONTROL_STOP"

# Started with "rereg": the counter server is registered again first.
"$run" "$svcctl" start mx_agent rereg >"$work/out" 2>&1
expect "running after rereg start" "$work/out" "state: 4 "
"$run" "$svcctl" stop mx_agent >"$work/out" 2>&1
expect "stopped again with exit code 0" "$work/out" "state: 1 exit: 0"
expect "rereg noticed" "$work/service.trc" "MxMain: Forcing Reregistration of DLL"

# A start-up that fails is no orderly stop: without a counter service to
# create, the service stops with its own exit code 10104 (OSME104).
"$run" regsvr32 /s /u "$(win "$work/osmperf.dll")" >/dev/null 2>&1
mv "$work/osmperf.dll" "$work/osmperf.dll.away"
"$run" "$svcctl" start mx_agent >"$work/out" 2>&1
for _ in $(seq 1 50); do
  grep -q "state: 1 " "$work/out" && break
  sleep 0.2
  "$run" "$svcctl" query mx_agent >"$work/out" 2>&1
done
expect "failed start reported" "$work/out" "state: 1 exit: 1066 specific: 10104"
mv "$work/osmperf.dll.away" "$work/osmperf.dll"
"$run" regsvr32 /s "$(win "$work/osmperf.dll")" || fail "regsvr32 again"

# Console mode ends when OSM-SHUTDOWN is signalled by name. The signal waits
# until the agent serves (its framework log says so): a running agent is the
# one to stop, not one that is still starting.
(
  export OSM_PERF_SOURCE=system OSM_REQUESTS="$(win "$work/requests.txt")"
  export OSM_FRAMEWORK_LOG="$(win "$work/console.log")"
  "$run" "$work/osmagent.exe" TEST >"$work/console.out" 2>"$work/console.err"
  echo "exit=$?" >>"$work/console.out"
) &
console=$!
for _ in $(seq 1 300); do
  grep -qs "framework running" "$work/console.log" && break
  kill -0 "$console" 2>/dev/null || break
  sleep 0.2
done
expect "console mode serving" "$work/console.log" "framework running"
"$run" "$signal" OSM-SHUTDOWN >"$work/out" 2>&1
expect "event signalled" "$work/out" "signalled OSM-SHUTDOWN"
for _ in $(seq 1 300); do kill -0 "$console" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$console" 2>/dev/null; then
  fail "console mode did not end after OSM-SHUTDOWN"
  kill "$console"
fi
wait "$console" 2>/dev/null
expect "console mode started" "$work/console.out" "OSMI101: Starting "
expect "console mode ended normally" "$work/console.out" "exit=0"

echo "service end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

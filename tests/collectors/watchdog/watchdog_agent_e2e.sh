#!/bin/bash
# osmagent as the service "mx_agent" supervises a test agent described by a
# capability file: a take-action line of the requests file starts it, its
# memory alert reaches an event request and the alert report, reports on all
# four tables answer, the service
# control code 200 disarms the watchdog (the agent, ended, stays down) and 201
# re-arms it (the agent is restarted).
#   watchdog_agent_e2e.sh OSMAGENT OSMPERF TESTPROC SVCCTL SIGNAL_EVENT WINE_RUN
set -u
agent=$1 perf=$2 testproc=$3 svcctl=$4 signal=$5 run=$6
work=$(mktemp -d)
export OSM_WINE_TIMEOUT=120
failures=0
pass() { echo "ok: $1"; }
fail() { echo "FAILED: $1"; failures=$((failures + 1)); }
win() { WINEPREFIX=$OSM_WINEPREFIX winepath -w "$1" 2>/dev/null; }
# wait_for NAME COMMAND...: polls the command (for at most 60 s) until it succeeds.
wait_for() {
  local name=$1 until=$((SECONDS + 60))
  shift
  while ! "$@" >/dev/null 2>&1; do
    if [ "$SECONDS" -ge "$until" ]; then fail "$name"; return 1; fi
    sleep 0.2
  done
  pass "$name"
}
# Rows of a request written after line $mark of the output.
rows() { tail -n +"$((mark + 1))" "$work/out.jsonl" | grep "\"record\":\"row\",\"request\":\"$1\""; }
has_row() { rows "$1" | grep -q -- "$2"; }
logged() { grep -q "$1" "$work/framework.log"; }
last_pid() { rows status | grep -o '"PID":[0-9]*' | tail -1 | cut -d: -f2; }
restarted() { rows status | tail -1 | grep -q '"STATUS":[15],' && [ "$(last_pid)" != "$p1" ]; }
cleanup() {
  "$run" "$svcctl" stop mx_agent >/dev/null 2>&1
  "$run" "$svcctl" delete mx_agent >/dev/null 2>&1
  "$run" "$signal" OSM-WDG-E2E >/dev/null 2>&1
  "$run" reg delete 'HKLM\SOFTWARE\Velmor' /f >/dev/null 2>&1
  "$run" regsvr32 /s /u "$(win "$work/osmperf.dll")" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

cp "$agent" "$perf" "$work/"
cp "$testproc" "$work/uxagent.exe"
mkdir "$work/watchdog"
cat >"$work/watchdog/ux.cap" <<EOF
Name = ux
Process = uxagent.exe
Start = "$(win "$work/uxagent.exe")" 64 OSM-WDG-E2E
CheckFrequency = 1
MaxRestarts = 3
MemoryThreshold = 32
MemoryUnit = MB
EOF
cat >"$work/requests.txt" <<EOF
action start-ux NT WDM_Start_Agent "ux" "uxagent.exe"
event  alerts   OSMWDGALRT
report status   OSMWDGSTAT every 1
report kept     OSMWDGALRT every 2
report caps     OSMWDGCAP
report mgmt     OSMWDGMGMT
EOF
"$run" regsvr32 /s "$(win "$work/osmperf.dll")" || fail "regsvr32"
envkey='HKLM\SOFTWARE\Velmor\OSM\Ver610\Primary\Environment'
for setting in OSM_PERF_SOURCE=system "OSM_REQUESTS=$(win "$work/requests.txt")" \
               "OSM_OUTPUT=$(win "$work/out.jsonl")" "OSM_FRAMEWORK_LOG=$(win "$work/framework.log")" \
               "OSM_WATCHDOG_DIR=$(win "$work/watchdog")" "BSL_RAS1_FILE=$(win "$work/agent.trc")" \
               "BSL_RAS1=ERROR,ServiceCtrlHandler=DETAIL,SendStatusToSCM=DETAIL,WDC*=ALL,Disarm*=ALL"; do
  "$run" reg add "$envkey" /v "${setting%%=*}" /d "${setting#*=}" /f >/dev/null
done
"$run" "$svcctl" create mx_agent "$(win "$work/osmagent.exe")" >/dev/null 2>&1 || fail "create"
"$run" "$svcctl" start mx_agent >"$work/svc.out" 2>&1
grep -q "state: 4 " "$work/svc.out" && pass "service running" || fail "service running"

mark=0
if wait_for "the start command succeeds" grep -q '"record":"action","request":"start-ux".*"result":0,"message":"Agent starting"' "$work/out.jsonl"; then
  wait_for "the memory alert reaches the event request" has_row alerts '"MESSAGE":5,'
  wait_for "the memory alert is kept for the report" has_row kept '"MESSAGE":5,'
  wait_for "the status shows the agent above its threshold" has_row status '"STATUS":5,'
  has_row caps '"WDGAGTNAME":"ux",.*"MEMTHRES":32,"MEMUNIT":2,' && pass "capability report" || fail "capability report"
  has_row mgmt '"WDGAGTNAME":"ux","MGTYPE":1,"MGMTSTAT":1,' && pass "management report" || fail "management report"
  p1=$(last_pid)

  "$run" "$svcctl" control mx_agent 200 >/dev/null 2>&1
  wait_for "code 200 disarms the watchdog" logged "WDL KNTWDM022 "
  mark=$(wc -l <"$work/out.jsonl")
  "$run" "$signal" OSM-WDG-E2E >/dev/null 2>&1
  wait_for "the ended agent is reported" has_row alerts '"MESSAGE":6,'
  wait_for "disarmed, it stays down" has_row status '"STATUS":2,'

  "$run" "$svcctl" control mx_agent 201 >/dev/null 2>&1
  wait_for "code 201 re-arms the watchdog" logged "WDL KNTWDM023 "
  wait_for "re-armed, it is restarted" has_row alerts '"MESSAGE":4,'
  wait_for "the status shows a new process" restarted
fi

"$run" "$svcctl" query mx_agent >"$work/query.out" 2>&1
"$run" "$svcctl" stop mx_agent >"$work/svc.out" 2>&1
grep -q "state: 1 exit: 0" "$work/svc.out" && pass "service stopped" || fail "service stopped"

if [ "$failures" -ne 0 ]; then
  echo "--- service before the stop: $(cat "$work/query.out"); after: $(cat "$work/svc.out")"
  echo "--- trace"; tail -40 "$work/agent.trc" 2>/dev/null
  echo "--- output"; grep -v '"record":"table"' "$work/out.jsonl" 2>/dev/null | tail -20
  echo "--- framework log"; tail -30 "$work/framework.log" 2>/dev/null
fi
echo "watchdog end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

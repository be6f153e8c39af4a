#!/bin/bash
# osmagent in console mode with the Application log read from a backup file:
# reports on NTEVTLOG and NTLOGINFO, an event situation that receives a
# record appended to the file, and a restart that delivers what was written
# while the agent was down.
#   eventlog_e2e.sh OSMAGENT OSMPERF_DLL EVTFILE_TOOL SIGNAL_EVENT WINE_RUN
set -u
agent=$(readlink -f "$1") dll=$(readlink -f "$2") tool=$(readlink -f "$3") signal=$(readlink -f "$4") run=$5
source "$(dirname "$0")/../e2e_checks.sh"
req_rows() { grep '"record":"row"' "$1" 2>/dev/null | grep "\"request\":\"$2\"" || true; }
count() { req_rows "$1" "$2" | grep -c . || true; }
field() { sed -n "s/.*\"$2\":\\(\"[^\"]*\"\\|-\\{0,1\\}[0-9]*\\).*/\\1/p" <<<"$1" | tr -d '"'; }
wait_for() {  # wait_for WHAT COMMAND...: up to 60 s
  local what=$1; shift
  for _ in $(seq 1 300); do "$@" && return 0; sleep 0.2; done
  fail "$what (waited 60 s)"; return 1
}
evtfile() { "$run" "$tool" "$(windows_path "$work/app.evt")" "$@" >>"$work/tool.out" 2>&1 || fail "osm_evtfile $*"; }

# Three old records (an hour ago): reports see them, the situation does not.
old=("1:0xC0000064:1:3600:OsmE2E:disk|full" "2:200:2:3600:OsmE2E:" "3:300:4:3600:OsmE2E:x")
evtfile "${old[@]}"
cat >"$work/requests.txt" <<'REQ'
report all  NTEVTLOG where LOGNAME EQ "Application"
report errs NTEVTLOG where LOGNAME EQ "Application" AND TYPE EQ "Error"
report sys  NTEVTLOG where LOGNAME EQ "System"
report info NTLOGINFO
event  new  NTEVTLOG where LOGNAME EQ "Application"
REQ

"$run" regsvr32 /s "$(windows_path "$dll")" || { echo "regsvr32 failed"; exit 1; }
start_agent() {  # start_agent N: console mode in the background, output to out.N.jsonl
  (
    export OSM_PERF_SOURCE=system NT_PERFMON_MEMORY_CHECK=0 OSM_REQUESTS="$(windows_path "$work/requests.txt")"
    export OSM_OUTPUT="$(windows_path "$work/out.$1.jsonl")" OSM_FRAMEWORK_LOG="$(windows_path "$work/framework.log")"
    export OSM_APPLICATION_LOG_FILE="$(windows_path "$work/app.evt")"
    export OSM_EVTLOG_STATE="$(windows_path "$work/evtlog.state")"
    export BSL_RAS1_FILE="$(windows_path "$work/agent.$1.trc")" OSM_WINE_TIMEOUT=300
    "$run" "$agent" TEST >"$work/stdout.$1" 2>"$work/stderr.$1"
    echo "exit=$?" >>"$work/stdout.$1"
  ) &
  agent_pid=$!
}
stop_agent() {
  "$run" "$signal" OSM-SHUTDOWN >/dev/null 2>&1
  for _ in $(seq 1 150); do kill -0 "$agent_pid" 2>/dev/null || break; sleep 0.2; done
  kill -0 "$agent_pid" 2>/dev/null && { fail "agent did not stop"; kill "$agent_pid"; }
  wait "$agent_pid" 2>/dev/null
}
at_least() { [ "$(count "$1" "$2")" -ge "$3" ]; }  # at_least FILE REQUEST N
answered() { grep -q "\"record\":\"answered\",\"request\":\"$2\"" "$1" 2>/dev/null; }

start_agent 1
out=$work/out.1.jsonl
for r in all errs sys info; do wait_for "report $r answered" answered "$out" "$r" && pass "report $r answered"; done
check "NTEVTLOG rows of the file" "$(count "$out" all)" 3
check "NTEVTLOG rows of type Error" "$(count "$out" errs)" 1
check "NTEVTLOG rows of System (Wine keeps no records)" "$(count "$out" sys)" 0
e=$(req_rows "$out" errs)
check "EVENTID" "$(field "$e" EVENTID)" 100
check "SOURCE" "$(field "$e" SOURCE)" OsmE2E
check "first row is the newest" "$(field "$(req_rows "$out" all | head -1)" EVENTID)" 300
grep -q 'part of the event:        disk, full\.' <<<"$e" && pass "DESCRIP with the insertion strings" ||
  fail "DESCRIP: $(field "$e" DESCRIP)"
i=$(req_rows "$out" info)
check "NTLOGINFO rows (only the file-backed log under Wine)" "$(count "$out" info)" 1
check "NTLOGINFO LOGNAME" "$(field "$i" LOGNAME)" Application
check "NTLOGINFO COUNT8" "$(field "$i" COUNT8)" 3
check "NTLOGINFO CURSIZE8" "$(field "$i" CURSIZE8)" "$(stat -c %s "$work/app.evt")"
check "NTLOGINFO RETENTION (days)" "$(field "$i" RETENTION)" 7

# A record appended to the file arrives as a new event.
evtfile "${old[@]}" "4:400:4:0:OsmE2E:fresh"
wait_for "the appended record arrives" at_least "$out" new 1 && pass "appended record arrived"
check "situation row" "$(field "$(req_rows "$out" new)" EVENTID)" 400
stop_agent
grep -q "exit=0" "$work/stdout.1" && pass "agent ended normally" || fail "agent exit: $(cat "$work/stdout.1")"
grep -q "^Application	4	" "$work/evtlog.state" && pass "bookmark kept" ||
  fail "bookmark: $(cat "$work/evtlog.state" 2>/dev/null)"

# Written while the agent was down: delivered once at its restart.
evtfile "${old[@]}" "4:400:4:0:OsmE2E:fresh" "5:500:4:0:OsmE2E:" "6:600:4:0:OsmE2E:"
start_agent 2
out=$work/out.2.jsonl
wait_for "events since the bookmark" at_least "$out" new 2 && pass "events since the bookmark arrived"
sleep 1
stop_agent
check "restart rows" "$(req_rows "$out" new | while read -r l; do field "$l" EVENTID; done | tr '\n' ' ')" "600 500 "
"$run" regsvr32 /s /u "$(windows_path "$dll")"

if [ "$failures" -ne 0 ]; then
  for n in 1 2; do
    echo "--- output $n"; cut -c1-400 "$work/out.$n.jsonl" 2>/dev/null
    echo "--- stderr $n"; grep -v invoked "$work/stderr.$n" | head -20
  done
  cat "$work/tool.out"
fi
echo "event log end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

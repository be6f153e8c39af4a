#!/bin/bash
# osmagent in console mode watches a scratch directory: changes made by Linux
# processes reach an event request on NTFLCHG (also in a subdirectory that
# existed before the watch), a growing file gives NTFLTREND rows, reports on
# both tables answer, and the named event stops the agent.
#   files_agent_e2e.sh OSMAGENT OSMPERF_DLL SIGNAL_EVENT WINE_RUN
set -u
agent=$(readlink -f "$1") dll=$(readlink -f "$2") signal=$3 run=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export OSM_WINE_TIMEOUT=120
win() { WINEPREFIX=$OSM_WINEPREFIX winepath -w "$1" 2>/dev/null; }
failures=0
pass() { echo "ok: $1"; }
fail() { echo "FAILED: $1"; failures=$((failures + 1)); }
# wait_for NAME SECONDS COMMAND...: polls the command until it succeeds.
wait_for() {
  local name=$1 until=$((SECONDS + $2))
  shift 2
  while ! "$@" >/dev/null 2>&1; do
    if [ "$SECONDS" -ge "$until" ]; then fail "$name"; return 1; fi
    sleep 0.2
  done
  pass "$name"
}
rows() { grep "\"record\":\"row\",\"request\":\"$1\"" "$work/out.jsonl"; }
has_row() { rows "$1" | grep -qF -- "$2"; }
trend_grew() { rows growth | grep -q '"CHGTOT":[1-9][0-9][0-9]'; }
answered() { grep -q "\"record\":\"answered\",\"request\":\"$1\".*\"rows\":1," "$work/out.jsonl"; }

mkdir -p "$work/watched/sub"
head -c 1000 /dev/zero >"$work/watched/app.log"
watched=$(win "$work/watched")
cat >"$work/requests.txt" <<EOF
event     changes  NTFLCHG where WATCHDIR EQ "$watched" AND MONITORALL EQ "Y" AND WATCHTREE EQ "Y"
situation growth   NTFLTREND every 1 where WATCHDIR EQ "$watched" AND WATCHFILE EQ "app.log" AND SAMPNUM EQ 3
report    monitors NTFLCHG every 2
report    trends   NTFLTREND every 2
EOF

"$run" regsvr32 /s "$(win "$dll")" || { echo "regsvr32 failed"; exit 1; }
(
  OSM_PERF_SOURCE=system OSM_REQUESTS=$(win "$work/requests.txt") OSM_OUTPUT=$(win "$work/out.jsonl") \
    OSM_FRAMEWORK_LOG=$(win "$work/framework.log") BSL_RAS1_FILE=$(win "$work/agent.trc") \
    "$run" "$(win "$agent")" TEST >"$work/stdout" 2>"$work/stderr"
  echo "exit=$?" >>"$work/stdout"
) &
console=$!

if wait_for "the requests are open" 60 grep -q "framework running; 4 requests open" "$work/framework.log"; then
  echo hello >"$work/watched/sub/new.txt"
  wait_for "a file created by Linux in a subdirectory is reported" 30 has_row changes '"UWATCHFILE":"sub\\new.txt"'
  head -c 500 /dev/zero >>"$work/watched/app.log"
  wait_for "the trend sees the growth" 30 trend_grew
  wait_for "the NTFLCHG report lists the monitor" 30 answered monitors
  wait_for "the NTFLTREND report lists the watched file" 30 answered trends
  has_row monitors '"UWATCHDIR":"'"${watched//\\/\\\\}"'"' && pass "report row names the directory" ||
    fail "report row names the directory"
  rows changes | grep -q '"WATCHFILE":"sub\\\\new.txt".*"CURSIZE":6,' && pass "created file examined" ||
    fail "created file examined"
fi

"$run" "$signal" OSM-SHUTDOWN >/dev/null 2>&1
for _ in $(seq 1 300); do kill -0 "$console" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$console" 2>/dev/null; then
  fail "the agent did not stop"
  kill "$console"
fi
wait "$console" 2>/dev/null
"$run" regsvr32 /s /u "$(win "$dll")"
grep -q "^exit=0" "$work/stdout" && pass "the agent ended normally" || fail "the agent ended normally"

if [ "$failures" -ne 0 ]; then
  echo "--- output"; grep -v '"record":"table"' "$work/out.jsonl" 2>/dev/null | tail -20
  echo "--- framework log"; cat "$work/framework.log" 2>/dev/null
  echo "--- stderr"; grep -v invoked "$work/stderr" | head -40
fi
echo "files end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

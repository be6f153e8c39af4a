#!/bin/bash
# osmagent in console mode monitors two values of a scratch key: a report
# lists both, a situation fires once a value changes to the text it waits
# for, and the named event stops the agent.
#   registry_e2e.sh OSMAGENT OSMPERF_DLL SIGNAL_EVENT WINE_RUN
set -u
agent=$(readlink -f "$1") dll=$(readlink -f "$2") signal=$3 run=$4
work=$(mktemp -d)
key='HKCU\Software\OsmRegistryE2E'
trap '"$run" reg delete "$key" /f >/dev/null 2>&1; rm -rf "$work"' EXIT
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
answered() { grep -q "\"record\":\"answered\",\"request\":\"$1\".*\"rows\":$2," "$work/out.jsonl"; }

"$run" reg add "$key" /v Mode /d off /f >/dev/null &&
  "$run" reg add "$key" /v Level /t REG_DWORD /d 7 /f >/dev/null || { echo "reg add failed"; exit 1; }
cat >"$work/requests.txt" <<'EOF'
situation mode-on WTREGISTRY every 1 where ROOTKEY EQ 1 AND PATHNAME EQ "Software\OsmRegistryE2E\Mode" AND STRVALUE EQ "on"
situation level   WTREGISTRY every 1 where ROOTKEY EQ 1 AND PATHNAME EQ "Software\OsmRegistryE2E\Level"
report    values  WTREGISTRY every 1
EOF

"$run" regsvr32 /s "$(win "$dll")" || { echo "regsvr32 failed"; exit 1; }
(
  OSM_PERF_SOURCE=system OSM_REQUESTS=$(win "$work/requests.txt") OSM_OUTPUT=$(win "$work/out.jsonl") \
    OSM_FRAMEWORK_LOG=$(win "$work/framework.log") BSL_RAS1_FILE=$(win "$work/agent.trc") \
    "$run" "$(win "$agent")" TEST >"$work/stdout" 2>"$work/stderr"
  echo "exit=$?" >>"$work/stdout"
) &
console=$!

if wait_for "the requests are open" 60 grep -q "framework running; 3 requests open" "$work/framework.log"; then
  wait_for "the report lists both monitored values" 30 answered values 2
  rows values | grep -q '"PATHNAME":"Software\\\\OsmRegistryE2E\\\\Level","TYPE":4,"STRVALUE":"","NUMVALUE":7}' &&
    pass "the number is in its row" || fail "the number is in its row"
  wait_for "the level situation samples" 30 rows level
  rows mode-on >/dev/null && fail "the situation waits while the value is off" ||
    pass "the situation waits while the value is off"
  "$run" reg add "$key" /v Mode /d on /f >/dev/null
  wait_for "the situation fires once the value is on" 30 rows mode-on
  rows mode-on | grep -q '"ROOTKEY":1,"PATHNAME":"Software\\\\OsmRegistryE2E\\\\Mode","TYPE":1,"STRVALUE":"on"' &&
    pass "its row shows the value" || fail "its row shows the value"
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
  echo "--- stderr"; grep -v "invoked\|monitor $" "$work/stderr" | head -40
fi
echo "registry end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

#!/bin/bash
# osmagent TEST monitors two values of a scratch key: the report lists both,
# the situation fires once reg.exe sets its value to "on".
#   registry_e2e.sh OSMAGENT OSMPERF_DLL SIGNAL_EVENT WINE_RUN
set -u
agent=$(readlink -f "$1") dll=$(readlink -f "$2") signal=$3 run=$4 work=$(mktemp -d) failures=0
key='HKCU\Software\OsmRegistryE2E'
trap '"$run" reg delete "$key" /f >/dev/null 2>&1; rm -rf "$work"' EXIT
export OSM_WINE_TIMEOUT=120
win() { WINEPREFIX=$OSM_WINEPREFIX winepath -w "$1" 2>/dev/null; }
# expect WHAT PATTERN [FILE]: waits up to 30 s for a line with the pattern.
expect() {
  for _ in $(seq 150); do grep -q -- "$2" "${3:-$work/out.jsonl}" 2>/dev/null && { echo "ok: $1"; return 0; }; sleep 0.2; done
  echo "FAILED: $1"; failures=$((failures + 1)); return 1
}
"$run" reg add "$key" /v Mode /d off /f >/dev/null && "$run" reg add "$key" /v Level /t REG_DWORD /d 7 /f >/dev/null
cat >"$work/requests.txt" <<'EOF'
situation mode-on WTREGISTRY every 1 where ROOTKEY EQ 1 AND PATHNAME EQ "Software\OsmRegistryE2E\Mode" AND STRVALUE EQ "on"
situation level   WTREGISTRY every 1 where ROOTKEY EQ 1 AND PATHNAME EQ "Software\OsmRegistryE2E\Level"
report    values  WTREGISTRY every 1
EOF
"$run" regsvr32 /s "$(win "$dll")" || exit 1
OSM_PERF_SOURCE=system OSM_REQUESTS=$(win "$work/requests.txt") OSM_OUTPUT=$(win "$work/out.jsonl") \
  OSM_FRAMEWORK_LOG=$(win "$work/framework.log") BSL_RAS1_FILE=$(win "$work/agent.trc") \
  "$run" "$(win "$agent")" TEST >"$work/stdout" 2>"$work/stderr" &
console=$!
path='"PATHNAME":"Software\\\\OsmRegistryE2E\\\\'
if expect "the requests are open" "running; 3 requests open" "$work/framework.log"; then
  expect "the report lists both values" '"request":"values".*"rows":2,'
  expect "the report shows the number" "\"values\".*${path}Level\",\"TYPE\":4,\"STRVALUE\":\"\",\"NUMVALUE\":7}"
  expect "the level situation samples" '"request":"level"'
  grep -q '"request":"mode-on"' "$work/out.jsonl" && { echo "FAILED: fired while off"; failures=$((failures + 1)); }
  "$run" reg add "$key" /v Mode /d on /f >/dev/null
  expect "the situation fires once the value is on" "\"mode-on\".*${path}Mode\",\"TYPE\":1,\"STRVALUE\":\"on\""
fi
"$run" "$signal" OSM-SHUTDOWN >/dev/null 2>&1
wait "$console" || { echo "FAILED: the agent ended with $?"; failures=$((failures + 1)); }
"$run" regsvr32 /s /u "$(win "$dll")"
[ "$failures" -eq 0 ] || { grep -v '"record":"table"' "$work/out.jsonl"; cat "$work/framework.log"; }
echo "registry end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

#!/bin/bash
# The metrics endpoint end to end: osmagent TEST on a test block (file source)
# exports WTSYSTEM, WTMEMORY and NTPAGEFILE on a loopback port; curl reads
# /metrics and /health, promtool checks a payload, and a Prometheus started
# here scrapes the agent every second until its query API has ten samples.
#   metrics_e2e.sh OSMAGENT OSMPERF_DLL PERFBLOCK_TOOL SIGNAL_EVENT WINE_RUN
set -u
agent=$(readlink -f "$1") dll=$(readlink -f "$2") tool=$(readlink -f "$3") signal=$(readlink -f "$4") run=$5
for t in curl prometheus promtool; do
  command -v "$t" >/dev/null || { echo "FAILED: $t is missing (tools/setup-debian.sh installs it)"; exit 1; }
done
work=$(mktemp -d)
agent_pid= prom_pid= slow_pid=
failures=0
export OSM_WINE_TIMEOUT=300
win() { WINEPREFIX=$OSM_WINEPREFIX winepath -w "$1" 2>/dev/null; }
cleanup() {
  [ -n "$slow_pid" ] && kill "$slow_pid" 2>/dev/null
  [ -n "$prom_pid" ] && kill "$prom_pid" 2>/dev/null && wait "$prom_pid" 2>/dev/null
  if [ -n "$agent_pid" ]; then "$run" "$signal" OSM-SHUTDOWN >/dev/null 2>&1; wait "$agent_pid"; fi
  "$run" regsvr32 /s /u "$(win "$work/osmperf.dll")" >/dev/null 2>&1
  [ -n "${OSM_KEEP_WORK:-}" ] && echo "work kept: $work" || rm -rf "$work"
}
trap cleanup EXIT
check() {  # check NAME CONDITION...
  local name=$1; shift
  if "$@"; then echo "ok: $name"; else echo "FAILED: $name"; failures=$((failures + 1)); fi
}
equal() { [ "$1" = "$2" ] || { echo "  got '$1', expected '$2'"; return 1; }; }
# until_true SECONDS CONDITION...: polls the condition; false when time runs out.
until_true() {
  local end=$((SECONDS + $1)); shift
  until "$@" 2>/dev/null; do [ $SECONDS -lt $end ] || return 1; sleep 0.2; done
}
free_port() {
  local p
  while :; do
    p=$((20000 + RANDOM % 30000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
  done
}
# value NAME{LABELS}: the value of that series in $work/metrics.txt.
value() { S="$1" awk 'index($0, ENVIRON["S"] " ") == 1 { print $2 }' "$work/metrics.txt"; }

# A block with System, Memory and two paging files, one named with a backslash.
cat >"$work/block.txt" <<'EOF'
name 2 System
name 4 Memory
name 6 Paging File
name 10 % Total Processor Time
name 12 System Up Time
name 14 Available Bytes
name 16 % Usage
name 18 % Usage Peak
object 2
counter 10 0x00010100 8
counter 12 0x00010100 8
values 42 259199
object 4
counter 14 0x00010100 8
values 1073741824
object 6
counter 16 0x00010100 8
counter 18 0x00010100 8
instance "C:\pagefile.sys" 12 20
instance "D:\pagefile.sys" 3 4
EOF
"$run" "$tool" "$(win "$work/block.txt")" "$(win "$work")\\perf.block" "$(win "$work")\\perf.names" \
  >"$work/tool.out" 2>&1 || { echo "block tool failed"; cat "$work/tool.out"; exit 1; }
cat >"$work/requests.txt" <<'EOF'
export sys  WTSYSTEM   every 1
export mem  WTMEMORY   every 1
export page NTPAGEFILE every 1
EOF
cp "$agent" "$dll" "$work/"
"$run" regsvr32 /s "$(win "$work/osmperf.dll")" || { echo "regsvr32 failed"; exit 1; }

port=$(free_port)
url="http://127.0.0.1:$port"
(
  export OSM_PERFDATA_FILE="$(win "$work")\\perf.block" OSM_PERFNAMES_FILE="$(win "$work")\\perf.names"
  export NT_PERFMON_MEMORY_CHECK=0 OSM_METRICS_URL="$url/" OSM_REQUESTS="$(win "$work/requests.txt")"
  export OSM_OUTPUT="$(win "$work/out.jsonl")" OSM_FRAMEWORK_LOG="$(win "$work/framework.log")"
  "$run" "$work/osmagent.exe" TEST >"$work/stdout" 2>"$work/stderr"
  echo "exit=$?" >>"$work/stdout"
) &
agent_pid=$!
healthy() { [ "$(curl -s -m 30 -o "$work/health.json" -w '%{http_code}' "$url/health")" = 200 ]; }
sampled() { grep -q '"rows":2' "$work/health.json" && ! grep -q '"lastSample":null' "$work/health.json"; }
check "/health answers 200 with every table sampled" until_true 180 eval 'healthy && sampled'

# The text format: the block's values, the -1 left out, escaped labels.
curl -s -m 30 -D "$work/headers.txt" "$url/metrics" >"$work/metrics.txt"
node=$(sed -n 's/^osm_wtsystem_numofprcsr{node="\([^"]*\)"}.*/\1/p' "$work/metrics.txt")
check "text format content type" grep -qi '^content-type: text/plain; version=0.0.4' "$work/headers.txt"
check "WTSYSTEM processors" equal "$(value "osm_wtsystem_numofprcsr{node=\"$node\"}")" "$(nproc --all)"
check "WTSYSTEM processor time" equal "$(value "osm_wtsystem_pcttlpcsrt{node=\"$node\"}")" 42
check "WTSYSTEM up time" equal "$(value "osm_wtsystem_sysuptime8{node=\"$node\"}")" 259199
check "WTMEMORY available bytes" equal "$(value "osm_wtmemory_availbtmem{node=\"$node\"}")" 1073741824
check "WTMEMORY working-set total (-1) left out" eval '! grep -q "^osm_wtmemory_totwsbytes" "$work/metrics.txt"'
check "NTPAGEFILE C: usage, backslash escaped" \
  equal "$(value "osm_ntpagefile_usage{node=\"$node\",uinstcname=\"C:\\\\pagefile.sys\"}")" 12
check "NTPAGEFILE D: peak" \
  equal "$(value "osm_ntpagefile_usagepeak{node=\"$node\",uinstcname=\"D:\\\\pagefile.sys\"}")" 4
check "agent info" grep -q '^osm_agent_info{version="[^"]*",source="file"} 1$' "$work/metrics.txt"
check "samples counted" grep -q '^osm_table_samples_total{table="NTPAGEFILE"} [1-9]' "$work/metrics.txt"
check "rows counted" equal "$(value 'osm_table_rows{table="NTPAGEFILE"}')" 2
lint() { promtool check metrics <"$work/metrics.txt" >"$work/lint.out" 2>&1 || { cat "$work/lint.out"; false; }; }
check "promtool check metrics" lint
check "health names the source and the tables" \
  grep -q '"counterService":{"state":"running","source":"file"}.*"table":"NTPAGEFILE","request":"page"' \
  "$work/health.json"

# OpenMetrics on request; HEAD, 404 and 405.
om='application/openmetrics-text; version=1.0.0'
curl -s -m 30 -D "$work/om-headers.txt" -H "Accept: $om" "$url/metrics" >"$work/om.txt"
check "OpenMetrics content type" grep -qi "^content-type: $om" "$work/om-headers.txt"
check "OpenMetrics ends in # EOF" equal "$(tail -1 "$work/om.txt")" "# EOF"
check "OpenMetrics counter family" grep -q '^# TYPE osm_table_samples counter$' "$work/om.txt"
check "HEAD: status and length, no body" \
  equal "$(curl -s -m 30 -I -o "$work/head.txt" -w '%{http_code} %{size_download}' "$url/metrics")" "200 0"
check "HEAD: the length of the page" grep -qi '^content-length: [1-9]' "$work/head.txt"
check "unknown path: 404" equal "$(curl -s -m 30 -o /dev/null -w '%{http_code}' "$url/nothing")" 404
check "POST: 405" equal "$(curl -s -m 30 -o /dev/null -w '%{http_code}' -d 'a=1' "$url/metrics")" 405
check "GET with a body: the body is ignored" \
  equal "$(curl -s -m 30 -o /dev/null -w '%{http_code}' -X GET -d 'a=1' "$url/health")" 200

# Prometheus scrapes every second; its query API then has the values.
pport=$(free_port)
cat >"$work/prometheus.yml" <<EOF
global:
  scrape_interval: 1s
scrape_configs:
  - job_name: osm
    static_configs:
      - targets: ['127.0.0.1:$port']
EOF
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/tsdb" \
  --web.listen-address="127.0.0.1:$pport" >"$work/prometheus.log" 2>&1 &
prom_pid=$!
query() {  # query EXPR: the first result's value
  curl -s -m 30 --data-urlencode "query=$1" "http://127.0.0.1:$pport/api/v1/query" |
    sed -n 's/.*"value":\[[0-9.]*,"\([^"]*\)"\].*/\1/p'
}
# Ten good scrapes (a loaded machine may let one pass its 1 s timeout).
scraped_ten() { [ "$(query 'sum_over_time(up{job="osm"}[5m])')" -ge 10 ] 2>/dev/null; }
check "Prometheus scrapes the agent ten times" until_true 180 scraped_ten
check "query: osm_wtsystem_numofprcsr" equal "$(query 'last_over_time(osm_wtsystem_numofprcsr[5m])')" "$(nproc --all)"
check "query: osm_ntpagefile_usage of C:" \
  equal "$(query 'last_over_time(osm_ntpagefile_usage{uinstcname="C:\\pagefile.sys"}[5m])')" 12
[ "$failures" -ne 0 ] && curl -s -m 30 "http://127.0.0.1:$pport/api/v1/targets" | grep -o '"lastError":.*'

# Stopping through the named event while a slow client reads closes the endpoint.
curl -s --limit-rate 200 "$url/metrics" -o /dev/null &
slow_pid=$!
"$run" "$signal" OSM-SHUTDOWN >/dev/null 2>&1
stopped() { ! kill -0 "$agent_pid" 2>/dev/null; }
check "the agent stops during a slow scrape" until_true 120 stopped
wait "$agent_pid" 2>/dev/null; agent_pid=
check "it ends normally" grep -q '^exit=0' "$work/stdout"
check "the endpoint is closed" eval '! curl -s -m 30 -o /dev/null "$url/health"'
check "the framework log says so" grep -q 'metrics endpoint closed' "$work/framework.log"
check "the agent named the URL" grep -q "metrics at $url/metrics, health at $url/health" "$work/stderr"
kill "$slow_pid" 2>/dev/null; slow_pid=

# A second agent on a port in use (Prometheus's) runs on without the endpoint.
# (Not the first agent's port: under Wine a refused second claim of a port
# ends the first claimant's listener. And not while the first agent runs: the
# second one signals the shared shutdown event as it ends.)
cat >"$work/one.txt" <<'EOF'
report once WTSYSTEM
EOF
(
  export OSM_PERFDATA_FILE="$(win "$work")\\perf.block" OSM_PERFNAMES_FILE="$(win "$work")\\perf.names"
  export NT_PERFMON_MEMORY_CHECK=0 OSM_METRICS_URL="http://127.0.0.1:$pport/" OSM_REQUESTS="$(win "$work/one.txt")"
  export OSM_OUTPUT="$(win "$work/second.jsonl")" OSM_EXIT_WHEN_DONE=Y OSM_FRAMEWORK_LOG="$(win "$work/second.log")"
  export BSL_RAS1_FILE="$(win "$work/second.trc")"
  "$run" "$work/osmagent.exe" TEST >"$work/second.out" 2>"$work/second.err"
)
check "a URL in use is reported" \
  grep -q "metrics endpoint off: the URL http://127.0.0.1:$pport/ cannot be served: another program" "$work/second.err"
check "and the agent runs on" grep -q '"record":"answered","request":"once".*"rows":1' "$work/second.jsonl"
kill "$prom_pid"; wait "$prom_pid" 2>/dev/null; prom_pid=

if [ "$failures" -ne 0 ]; then
  echo "--- metrics"; head -40 "$work/metrics.txt"; echo "--- health"; cat "$work/health.json"
  echo "--- stderr"; grep -v invoked "$work/stderr" | head -30; tail -20 "$work/prometheus.log"
fi
echo "metrics end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

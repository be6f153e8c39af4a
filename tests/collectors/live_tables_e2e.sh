#!/bin/bash
# osmagent in console mode with the system source (live data under Wine): the
# processor and disk tables answer with values in their ranges, and while
# busy loops run, the processor times read clearly above 0.
#   live_tables_e2e.sh OSMAGENT OSMPERF_DLL SIGNAL_EVENT WINE_RUN
set -u
agent=$1 dll=$2 signal=$3 run=$4
work=$(mktemp -d)
busy=()
agent_pid=
stop_busy() { for p in "${busy[@]}"; do kill "$p" 2>/dev/null; done; busy=(); }
win() { WINEPREFIX=$OSM_WINEPREFIX winepath -w "$1" 2>/dev/null; }
stop_agent() {
  [ -n "$agent_pid" ] || return
  "$run" "$signal" OSM-SHUTDOWN >/dev/null 2>&1
  wait "$agent_pid"
  agent_pid=
}
trap 'stop_busy; stop_agent; "$run" regsvr32 /s /u "$(win "$work/osmperf.dll")" >/dev/null 2>&1; rm -rf "$work"' EXIT
export OSM_WINE_TIMEOUT=300
failures=0
check() {  # check NAME CONDITION...
  local name=$1; shift
  if "$@"; then echo "ok: $name"; else echo "FAILED: $name"; failures=$((failures + 1)); fi
}
rows() { grep '"record":"row"' "$work/out.jsonl" 2>/dev/null | grep "\"request\":\"$1\""; }
values() { rows "$1" | sed -n "s/.*\"$2\":\\(-\\{0,1\\}[0-9]*\\).*/\\1/p"; }  # values REQUEST ATTRIBUTE
highest() { values "$@" | sort -n | tail -1; }
within() { local v; for v in $(values "$1" "$2"); do [ "$v" -ge "$3" ] && [ "$v" -le "$4" ] || return 1; done; }
answered() { grep -q "\"record\":\"answered\",\"request\":\"$1\".*\"rows\":${2:-}" "$work/out.jsonl" 2>/dev/null; }

cp "$agent" "$dll" "$work/"
"$run" regsvr32 /s "$(win "$work/osmperf.dll")" || { echo "regsvr32 failed"; exit 1; }
cat >"$work/requests.txt" <<'EOF'
report cpu      NTPROCSSR  every 5
report cpusum   NTPROCRSUM every 5
report sys      WTSYSTEM   every 5
report logical  WTLOGCLDSK
report physical WTPHYSDSK
EOF

# One busy loop per processor, from before the counter service's first snapshot.
for _ in $(seq 1 "$(nproc)"); do
  (while :; do :; done) &
  busy+=($!)
done
(
  export OSM_PERF_SOURCE=system OSM_REQUESTS="$(win "$work/requests.txt")" OSM_OUTPUT="$(win "$work/out.jsonl")"
  "$run" "$work/osmagent.exe" TEST >"$work/stdout" 2>"$work/stderr"
  echo "exit=$?" >>"$work/stdout"
) &
agent_pid=$!

# Wait until the busy processors show in all three tables, or the agent ends.
busy_seen() {
  [ "$(rows cpu | grep '"INSTCNAME":"_Total"' | sed -n 's/.*"PROCTIME":\([0-9]*\).*/\1/p' | sort -n | tail -1)" -ge 20 ] &&
    [ "$(highest sys PCTTLPCSRT)" -ge 20 ] && [ "$(highest cpusum TOPCPUTIME)" -ge 20 ]
} 2>/dev/null
for _ in $(seq 1 900); do
  kill -0 "$agent_pid" 2>/dev/null || break
  busy_seen && answered logical && answered physical && break
  sleep 0.2
done
stop_busy
stop_agent

check "busy processors: WTSYSTEM PCTTLPCSRT up to $(highest sys PCTTLPCSRT), NTPROCRSUM TOPCPUTIME up to \
$(highest cpusum TOPCPUTIME), and NTPROCSSR _Total" busy_seen
check "agent ended normally" grep -q "exit=0" "$work/stdout"
cpus=$(nproc --all)
check "NTPROCSSR rows per sample: $cpus and _Total" [ "$(rows cpu | tail -n $((cpus + 1)) | head -1 | grep -c '"INSTCNAME":"0"')" = 1 ]
for a in PROCTIME PRIVTIME USERTIME; do check "NTPROCSSR $a within 0..100" within cpu $a 0 100; done
for a in TOPCPUTIME LOWCPUTIME PROCDIFF; do check "NTPROCRSUM $a within 0..100" within cpusum $a 0 100; done
check "WTSYSTEM PCTTLPCSRT within 0..100" within sys PCTTLPCSRT 0 100
for a in PCFREE PCUSED; do check "WTLOGCLDSK $a within 0..100" within logical $a 0 100; done
# The drives are sized, on physical disk 0, and "_Total" (last) is their sum.
sizes=$(values logical TOTALSIZE)
check "WTLOGCLDSK has C:" grep -q '"INSTCNAME":"C:"' <(rows logical)
check "WTLOGCLDSK drive sizes positive" within logical TOTALSIZE 1 2147483647
check "WTLOGCLDSK _Total is the sum" [ "$(head -n -1 <<<"$sizes" | awk '{s += $1} END {print s + 0}')" = "$(tail -1 <<<"$sizes")" ]
check "WTLOGCLDSK drives on disk 0" [ "$(rows logical | grep -vc '"PHYDISKNUM":"0"')" = 1 ]
# Wine gives no per-disk figures: no PhysicalDisk object, no rows.
check "WTPHYSDSK answered with 0 rows" answered physical 0

if [ "$failures" -ne 0 ]; then
  echo "--- output"; grep -v '"record":"table"' "$work/out.jsonl" 2>/dev/null | head -60
  echo "--- stderr"; grep -v invoked "$work/stderr" | head -40
fi
echo "live tables end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

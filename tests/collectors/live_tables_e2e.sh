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
cleanup() {
  for p in "${busy[@]}"; do kill "$p" 2>/dev/null; done
  if [ -n "$agent_pid" ] && kill -0 "$agent_pid" 2>/dev/null; then
    "$run" "$signal" OSM-SHUTDOWN >/dev/null 2>&1
    wait "$agent_pid" 2>/dev/null
  fi
  "$run" regsvr32 /s /u "$(win "$work/osmperf.dll")" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
win() { WINEPREFIX=$OSM_WINEPREFIX winepath -w "$1" 2>/dev/null; }
export OSM_WINE_TIMEOUT=300
failures=0
pass() { echo "ok: $1"; }
fail() { echo "FAILED: $1"; failures=$((failures + 1)); }
int() { sed -n "s/.*\"$2\":\\(-\\{0,1\\}[0-9]*\\).*/\\1/p" <<<"$1"; }
text() { sed -n "s/.*\"$2\":\"\\([^\"]*\\)\".*/\\1/p" <<<"$1"; }
rows() { grep '"record":"row"' "$work/out.jsonl" 2>/dev/null | grep "\"request\":\"$1\""; }
in_range() {  # in_range NAME VALUE LOW HIGH
  if [ -n "$2" ] && [ "$2" -ge "$3" ] && [ "$2" -le "$4" ]; then pass "$1 = $2"; else fail "$1 = '$2', not in $3..$4"; fi
}
busiest() {  # busiest REQUEST ATTRIBUTE [INSTANCE]: the highest value shipped so far
  rows "$1" | { if [ -n "${3:-}" ]; then grep "\"INSTCNAME\":\"$3\""; else cat; fi; } |
    sed -n "s/.*\"$2\":\\(-\\{0,1\\}[0-9]*\\).*/\\1/p" | sort -n | tail -1
}
answered() { grep -q "\"record\":\"answered\",\"request\":\"$1\"" "$work/out.jsonl" 2>/dev/null; }

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
  export OSM_PERF_SOURCE=system OSM_INTERVAL=5 OSM_REQUESTS="$(win "$work/requests.txt")"
  export OSM_OUTPUT="$(win "$work/out.jsonl")" OSM_FRAMEWORK_LOG="$(win "$work/framework.log")"
  export BSL_RAS1_FILE="$(win "$work/agent.trc")"
  "$run" "$work/osmagent.exe" TEST >"$work/stdout" 2>"$work/stderr"
  echo "exit=$?" >>"$work/stdout"
) &
agent_pid=$!

# Wait until the busy processors show in all three tables (or the agent ends).
threshold=20
seen=no
for _ in $(seq 1 900); do
  kill -0 "$agent_pid" 2>/dev/null || break
  total=$(busiest cpu PROCTIME _Total) system=$(busiest sys PCTTLPCSRT) top=$(busiest cpusum TOPCPUTIME)
  if [ "${total:-0}" -ge $threshold ] && [ "${system:-0}" -ge $threshold ] && [ "${top:-0}" -ge $threshold ] &&
     answered logical && answered physical; then
    seen=yes
    break
  fi
  sleep 0.2
done
for p in "${busy[@]}"; do kill "$p" 2>/dev/null; done
busy=()
"$run" "$signal" OSM-SHUTDOWN >/dev/null 2>&1
for _ in $(seq 1 300); do kill -0 "$agent_pid" 2>/dev/null || break; sleep 0.2; done
wait "$agent_pid" 2>/dev/null
agent_pid=

if [ "$seen" = yes ]; then
  pass "busy loops seen: NTPROCSSR _Total $total, WTSYSTEM PCTTLPCSRT $system, NTPROCRSUM TOPCPUTIME $top"
else
  fail "busy loops not seen: NTPROCSSR _Total '${total:-}', WTSYSTEM PCTTLPCSRT '${system:-}', NTPROCRSUM TOPCPUTIME '${top:-}'"
fi
grep -q "exit=0" "$work/stdout" && pass "agent ended normally" || fail "agent did not end normally"

# Processors: one row each and "_Total", every percentage within 0..100.
cpus=$(nproc --all)
last_sample=$(rows cpu | tail -n $((cpus + 1)))
[ "$(grep -c '"INSTCNAME":"_Total"' <<<"$last_sample")" -eq 1 ] && [ "$(grep -c . <<<"$last_sample")" -eq $((cpus + 1)) ] &&
  pass "NTPROCSSR rows $((cpus + 1))" || fail "NTPROCSSR rows"
while read -r r; do
  name=$(text "$r" INSTCNAME)
  for a in PROCTIME PRIVTIME USERTIME; do in_range "NTPROCSSR $name $a" "$(int "$r" $a)" 0 100; done
done <<<"$last_sample"
s=$(rows cpusum | tail -1)
in_range "NTPROCRSUM TOPCPUTIME" "$(int "$s" TOPCPUTIME)" 0 100
in_range "NTPROCRSUM LOWCPUTIME" "$(int "$s" LOWCPUTIME)" 0 100
in_range "NTPROCRSUM PROCDIFF" "$(int "$s" PROCDIFF)" 0 100
in_range "NTPROCRSUM TOPCPUNAME" "$(text "$s" TOPCPUNAME)" 0 $((cpus - 1))
in_range "WTSYSTEM PCTTLPCSRT" "$(int "$(rows sys | tail -1)" PCTTLPCSRT)" 0 100

# Logical disks: the fixed drives and "_Total", sized; their sizes add up.
sum=0 total_size=
while read -r r; do
  name=$(text "$r" INSTCNAME) size=$(int "$r" TOTALSIZE)
  in_range "WTLOGCLDSK $name PCFREE" "$(int "$r" PCFREE)" 0 100
  in_range "WTLOGCLDSK $name PCUSED" "$(int "$r" PCUSED)" 0 100
  if [ "$name" = _Total ]; then total_size=$size; continue; fi
  in_range "WTLOGCLDSK $name TOTALSIZE" "$size" 1 2147483647
  [ "$(text "$r" PHYDISKNUM)" = 0 ] && pass "WTLOGCLDSK $name PHYDISKNUM 0" || fail "WTLOGCLDSK $name PHYDISKNUM"
  sum=$((sum + size))
done < <(rows logical)
[ "$(rows logical | grep -c '"INSTCNAME":"C:"')" -eq 1 ] && pass "WTLOGCLDSK has C:" || fail "WTLOGCLDSK has no C:"
[ "$total_size" = "$sum" ] && pass "WTLOGCLDSK _Total TOTALSIZE $sum" || fail "WTLOGCLDSK _Total '$total_size' != $sum"

# Physical disks: the platform gives no per-disk figures here, so no rows.
grep -q '"record":"answered","request":"physical".*"rows":0' "$work/out.jsonl" &&
  pass "WTPHYSDSK answered with 0 rows" || fail "WTPHYSDSK not answered with 0 rows"

if [ "$failures" -ne 0 ]; then
  echo "--- output"; grep -v '"record":"table"' "$work/out.jsonl" 2>/dev/null | head -60
  echo "--- stderr"; grep -v invoked "$work/stderr" | head -40
fi
echo "live tables end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

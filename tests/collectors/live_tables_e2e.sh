#!/bin/bash
# osmagent in console mode with the system source (live data under Wine): the
# processor and disk tables answer with values in their ranges, and while
# busy loops run, the processor times read clearly above 0.
#   live_tables_e2e.sh OSMAGENT OSMPERF_DLL SIGNAL_EVENT WINE_RUN
set -u
agent=$1 dll=$2 signal=$3 run=$4
source "$(dirname "$0")/live_e2e.sh"
busy=()
stop_load() { for p in "${busy[@]}"; do kill "$p" 2>/dev/null; done; busy=(); }

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
start_agent

# Wait until the busy processors show in all three tables, or the agent ends.
busy_seen() {
  [ "$(rows cpu | grep '"INSTCNAME":"_Total"' | sed -n 's/.*"PROCTIME":\([0-9]*\).*/\1/p' | sort -n | tail -1)" -ge 20 ] &&
    [ "$(highest sys PCTTLPCSRT)" -ge 20 ] && [ "$(highest cpusum TOPCPUTIME)" -ge 20 ]
} 2>/dev/null
ready() { busy_seen && answered logical && answered physical; }
wait_for ready
stop_load
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

finish "live tables"

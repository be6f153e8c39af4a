#!/bin/bash
# osmagent in console mode answers reports on the memory, system, objects and
# paging file tables from a test block read by the registered osmperf.dll.
#   agent_collectors_e2e.sh OSMAGENT OSMPERF_DLL PERFBLOCK_TOOL WINE_RUN
set -u
agent=$(readlink -f "$1") dll=$(readlink -f "$2") tool=$(readlink -f "$3") run=$4
source "$(dirname "$0")/e2e_checks.sh"

# The block: Memory, Objects, System and Paging File with raw counts.
n=10
names=""
counter_lines() {  # counter_lines NAME... : a name and a counter line for each
  for c in "$@"; do
    n=$((n + 2))
    names+="name $n $c"$'\n'
    printf 'counter %d 0x00010100 8\n' "$n"
  done
}
memory_counters=("Available Bytes" "Available KBytes" "Cache Bytes" "Cache Bytes Peak" "Cache Faults/sec"
  "Commit Limit" "Committed Bytes" "% Committed Bytes In Use" "Demand Zero Faults/sec"
  "Free System Page Table Entries" "Page Faults/sec" "Page Reads/sec" "Page Writes/sec" "Pages Input/sec"
  "Pages Output/sec" "Pages/sec" "Pool Nonpaged Allocs" "Pool Nonpaged Bytes" "Pool Paged Allocs"
  "Pool Paged Bytes" "Pool Paged Resident Bytes" "System Cache Resident Bytes" "System Code Total Bytes"
  "System Driver Resident Bytes" "System Driver Total Bytes" "Transition Faults/sec" "Write Copies/sec")
memory_values="1073741824 1048576 536870912 600000000 11 3221225472 1610612736 50 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30"
object_counters=("Events" "Mutexes" "Processes" "Sections" "Semaphores" "Threads")
system_counters=("% Total Privileged Time" "% Total Processor Time" "% Total User Time" "Context Switches/sec"
  "File Control Bytes/sec" "File Control Operations/sec" "File Data Operations/sec" "File Read Bytes/sec"
  "File Read Operations/sec" "File Write Bytes/sec" "File Write Operations/sec" "Processor Queue Length"
  "System Calls/sec" "System Up Time" "Total Interrupts/sec" "Alignment Fixups/sec" "Exception Dispatches/sec"
  "Floating Emulations/sec")
system_values="20 42 22 1000 5000 31 32 6000 33 7000 34 100 35 259199 36 37 38 39"
{
  echo "name 2 Memory"
  echo "name 4 Objects"
  echo "name 6 System"
  echo "name 8 Paging File"
  echo "object 2"
  counter_lines "${memory_counters[@]}"
  echo "values $memory_values"
  echo "object 4"
  counter_lines "${object_counters[@]}"
  echo "values 101 102 103 104 105 106"
  echo "object 6"
  counter_lines "${system_counters[@]}"
  echo "values $system_values"
  echo "object 8"
  counter_lines "% Usage" "% Usage Peak"
  echo 'instance "C:\pagefile.sys" 12 20'
  echo 'instance "D:\pagefile.sys" 3 4'
} >"$work/body.txt"
printf '%s' "$names" >"$work/names.txt"
cat "$work/names.txt" "$work/body.txt" >"$work/block.txt"
"$run" "$tool" "$(windows_path "$work/block.txt")" "$(windows_path "$work/perf.block")" \
  "$(windows_path "$work/perf.names")" >"$work/tool.out" 2>&1 || { echo "block tool failed"; cat "$work/tool.out"; exit 1; }

cat >"$work/requests.txt" <<'EOF'
report mem   WTMEMORY
report ntmem NTMEMORY
report sys   WTSYSTEM
report obj   WTOBJECTS
report page  NTPAGEFILE
EOF

run_agent OSM_PERFDATA_FILE="$(windows_path "$work/perf.block")" \
  OSM_PERFNAMES_FILE="$(windows_path "$work/perf.names")" NT_PERFMON_MEMORY_CHECK=0
for r in mem ntmem sys obj page; do
  grep -q "\"request\":\"$r\".*\"rows\":" "$work/out.jsonl" 2>/dev/null && pass "report $r answered" || fail "report $r answered"
done

# The console banner, the console-mode message and the published definitions.
grep -q "^OSMI100: " "$work/stdout" && pass "banner" || fail "banner"
grep -q "^OSMI101: Starting .* in console mode." "$work/stdout" && pass "console mode message" || fail "console mode message"
for t in WTMEMORY:388 NTMEMORY:348 WTSYSTEM:896 WTOBJECTS:240 NTPAGEFILE:552; do
  grep -q "\"record\":\"table\",\"table\":\"${t%%:*}\",\"rowsize\":${t##*:}," "$work/out.jsonl" &&
    pass "definition of ${t%%:*}" || fail "definition of ${t%%:*}"
done

# Physical memory as the platform reports it (Wine: the host's).
mem_kb=$(sed -n 's/^MemTotal: *\([0-9]*\) kB/\1/p' /proc/meminfo)

m=$(row WTMEMORY)
check "WTMEMORY AVAILBTMEM" "$(int "$m" AVAILBTMEM)" 1073741824
check "WTMEMORY AVAILKB" "$(int "$m" AVAILKB)" 1048576
check "WTMEMORY CACHEKB" "$(int "$m" CACHEKB)" 524288
check "WTMEMORY TOTWSBYTES without a Process object" "$(int "$m" TOTWSBYTES)" -1
check "WTMEMORY TOTWSPCT without a Process object" "$(int "$m" TOTWSPCT)" -1
check "WTMEMORY COMAVLKBYT" "$(int "$m" COMAVLKBYT)" $(( $(int "$m" COMMITLKB) - $(int "$m" COMMKBYTE) ))
near "WTMEMORY COMMITLKB" "$(int "$m" COMMITLKB)" 3145728 1  # the scale is a little above 1/1024
near "WTMEMORY TOTMEMKB" "$(int "$m" TOTMEMKB)" "$mem_kb" $(( mem_kb / 50 ))
totkb=$(int "$m" TOTMEMKB)
check "WTMEMORY TOTMEMMB" "$(int "$m" TOTMEMMB)" $(( (totkb + 512) / 1024 ))
[ "$totkb" -gt 2097151 ] && exp_bytes=2147483647 || exp_bytes=$(( totkb * 1024 ))
near "WTMEMORY TOTMEMBYTE" "$(int "$m" TOTMEMBYTE)" "$exp_bytes" 1024
near "WTMEMORY AVAILPCT" "$(int "$m" AVAILPCT)" $(( (1048576 * 100 * 2 + totkb) / (2 * totkb) )) 1
near "WTMEMORY MEMUPCT" "$(int "$m" MEMUPCT)" $(( (1572864 * 100 * 2 + totkb) / (2 * totkb) )) 1

nm=$(row NTMEMORY)
check "NTMEMORY AVAILBTMEM" "$(int "$nm" AVAILBTMEM)" 1073741824
check "NTMEMORY COMMLIMIT" "$(int "$nm" COMMLIMIT)" 3221225472
check "NTMEMORY COMMITLKB" "$(int "$nm" COMMITLKB)" 3145728
check "NTMEMORY CACHEKB" "$(int "$nm" CACHEKB)" 524288
check "NTMEMORY COMAVLKBYT" "$(int "$nm" COMAVLKBYT)" 1572864
check "NTMEMORY TOTWSBYTES without a Process object" "$(int "$nm" TOTWSBYTES)" -1
check "NTMEMORY TOTMEMKB" "$(int "$nm" TOTMEMKB)" "$totkb"
near "NTMEMORY TOTMEMBYTE" "$(int "$nm" TOTMEMBYTE)" $(( totkb * 1024 )) 1024

s=$(row WTSYSTEM)
cpus=$(int "$s" NUMOFPRCSR)
check "WTSYSTEM NUMOFPRCSR" "$cpus" "$(nproc --all)"
check "WTSYSTEM SYSUPDAYS" "$(int "$s" SYSUPDAYS)" 2
check "WTSYSTEM SYSUPTIME8" "$(int "$s" SYSUPTIME8)" 259199
check "WTSYSTEM PRCQEX" "$(int "$s" PRCQEX)" $(( 100 > cpus ? 100 - cpus : 0 ))
check "WTSYSTEM PCTTLPCSRT (System's own without a Processor object)" "$(int "$s" PCTTLPCSRT)" 42
check "WTSYSTEM FLEREADBT8" "$(int "$s" FLEREADBT8)" 6000
check "WTSYSTEM TOTMEMMB" "$(int "$s" TOTMEMMB)" $(( (totkb + 512) / 1024 ))
check "WTSYSTEM NUMLPRCSR" "$(int "$s" NUMLPRCSR)" "$(nproc --all)"
check "WTSYSTEM PAGESIZE" "$(int "$s" PAGESIZE)" 4096
check "WTSYSTEM OSTYPE" "$(text "$s" OSTYPE)" Windows_7
check "WTSYSTEM VERSION" "$(text "$s" VERSION)" 6.1
user=$(text "$s" USERNAME)
[ -n "$user" ] && pass "WTSYSTEM USERNAME $user" || fail "WTSYSTEM USERNAME is empty"
check "WTSYSTEM UUSERNAME" "$(text "$s" UUSERNAME)" "$user"
addr=$(text "$s" NETADDRESS)
[ -n "$addr" ] && [ ${#addr} -le 16 ] && pass "WTSYSTEM NETADDRESS $addr" || fail "WTSYSTEM NETADDRESS '$addr'"
[ -n "$(text "$s" NETADDR6)" ] && pass "WTSYSTEM NETADDR6 written" || fail "WTSYSTEM NETADDR6 missing"

o=$(row WTOBJECTS)
check "WTOBJECTS EVENTS" "$(int "$o" EVENTS)" 101
check "WTOBJECTS THREADS" "$(int "$o" THREADS)" 106

p1=$(row NTPAGEFILE 1) p2=$(row NTPAGEFILE 2)
check "NTPAGEFILE rows" "$(grep '"record":"row"' "$work/out.jsonl" | grep -c '"table":"NTPAGEFILE"')" 2
check "NTPAGEFILE INSTCNAME" "$(text "$p1" INSTCNAME)" 'C:\\pagefile.sys'
check "NTPAGEFILE USAGE" "$(int "$p1" USAGE)" 12
check "NTPAGEFILE USAGEPEAK 2" "$(int "$p2" USAGEPEAK)" 4
grep -q "osm_ntpagefile_agent::TakeSample()  invoked" "$work/stderr" && pass "progress line" || fail "progress line"

if [ "$failures" -ne 0 ]; then
  echo "--- output"; cat "$work/out.jsonl" 2>/dev/null
  echo "--- stderr"; grep -v invoked "$work/stderr" | head -40
fi
echo "collectors end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

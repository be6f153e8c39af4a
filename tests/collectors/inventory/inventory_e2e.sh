#!/bin/bash
# osmagent in console mode answers one report on each inventory table from
# the platform's own data: rows where Wine has the data, none where it has
# none (dependencies, jobs, mount points).
#   inventory_e2e.sh OSMAGENT OSMPERF_DLL WINE_RUN
set -u
agent=$(readlink -f "$1") dll=$(readlink -f "$2") run=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
windows_path() { printf 'Z:%s' "$1" | tr '/' '\\'; }
export OSM_WINE_TIMEOUT=120
failures=0
check() {  # check NAME ACTUAL EXPECTED
  if [ "$2" = "$3" ]; then echo "ok: $1 = $3"; return; fi
  echo "FAILED: $1: got '$2', expected '$3'"
  failures=$((failures + 1))
}
rows() { grep '"record":"row"' "$work/out.jsonl" | grep "\"table\":\"$1\"" | grep "${2:-.}"; }
count() { rows "$@" | wc -l | tr -d ' '; }
text() { sed -n "s/.*\"$2\":\"\\([^\"]*\\)\".*/\\1/p" <<<"$1"; }

tables="NTNETWPORT NTSERVICE NTSVCDEP NTDEVICE NTDEVDEP NTPRINTER NTPRTJOB NTPROCINFO NTBIOSINFO NTCOMPINFO
  NTIPADDR NTMNTPT"
for t in $tables; do echo "report r-$t $t"; done >"$work/requests.txt"

"$run" regsvr32 /s "$(windows_path "$dll")" || { echo "regsvr32 failed"; exit 1; }
OSM_PERF_SOURCE=system NT_PERFMON_MEMORY_CHECK=0 OSM_REQUESTS=$(windows_path "$work/requests.txt") \
  OSM_OUTPUT=$(windows_path "$work/out.jsonl") OSM_EXIT_WHEN_DONE=Y \
  OSM_FRAMEWORK_LOG=$(windows_path "$work/framework.log") BSL_RAS1_FILE=$(windows_path "$work/agent.trc") \
  "$run" "$(windows_path "$agent")" TEST >"$work/stdout" 2>"$work/stderr"
echo "osmagent exit code: $?"
"$run" regsvr32 /s /u "$(windows_path "$dll")"
[ -s "$work/out.jsonl" ] || { echo "FAILED: osmagent wrote no output"; head -40 "$work/stderr"; exit 1; }

for t in $tables; do
  answered=$(grep -c "\"record\":\"answered\",\"request\":\"r-$t\".*\"status\":0" "$work/out.jsonl")
  check "report on $t answered" "$answered" 1
done
for t in NTSVCDEP NTDEVDEP NTPRTJOB NTMNTPT; do check "$t rows (none under Wine)" "$(count $t)" 0; done
check "NTSERVICE Spooler" "$(text "$(rows NTSERVICE '"SRVCNAME":"Spooler"')" DISPNAME)" "Print Spooler"
check "NTDEVICE has rows" "$([ "$(count NTDEVICE)" -gt 0 ] && echo yes)" yes
check "NTPROCINFO has a PNAME" "$([ -n "$(text "$(rows NTPROCINFO | head -1)" PNAME)" ] && echo yes)" yes
check "NTBIOSINFO rows" "$(count NTBIOSINFO)" 1
c=$(rows NTCOMPINFO)
check "NTCOMPINFO COMPHNAM" "$(text "$c" COMPHNAM)" "$(text "$c" ORIGINNODE)"
check "NTIPADDR 127.0.0.1" "$(count NTIPADDR '"IPADDRESS":"127.0.0.1".*"IPVERSION":4')" 1
check "NTNETWPORT rows of another protocol" "$(rows NTNETWPORT | grep -cv '"PROTOCOL":"\(TCP\|UDP\)6\{0,1\}"')" 0

if [ "$failures" -ne 0 ]; then
  echo "--- output"; cat "$work/out.jsonl"
  echo "--- stderr"; head -40 "$work/stderr"
fi
echo "inventory end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

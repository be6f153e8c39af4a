#!/bin/bash
# osmagent in console mode with the system source answers reports on the
# process, thread and job object tables from the running Wine processes.
#   process_tables_e2e.sh OSMAGENT OSMPERF_DLL WINE_RUN
set -u
agent=$(readlink -f "$1") dll=$(readlink -f "$2") run=$3
source "$(dirname "$0")/e2e_checks.sh"
answered() { sed -n "s/.*\"record\":\"answered\".*\"table\":\"$1\".*\"rows\":\\([0-9]*\\).*/\\1/p" "$work/out.jsonl"; }

cat >"$work/requests.txt" <<'EOF'
report procs   WTPROCESS
report ntprocs NTPROCESS
report procio  PROCESSIO
report threads WTTHREAD
report jobs    JOBOBJ
report jobd    JOBOBJD
report ntjobd  NTJOBOBJD
report mem     WTMEMORY
report ntmem   NTMEMORY
report sys     WTSYSTEM
EOF

run_agent OSM_PERF_SOURCE=system

# The agent's own account, as the system table names it.
user=$(text "$(rows WTSYSTEM)" UUSERNAME)
agent_path=$(windows_path "$agent" | sed 's/\\/\\\\/g')  # as JSON writes it

for t in WTPROCESS NTPROCESS WTTHREAD; do
  n=$(answered $t)
  [ "${n:-0}" -ge 3 ] && pass "$t answered with $n rows" || fail "$t answered with '${n:-}' rows"
done
for t in WTPROCESS NTPROCESS; do
  own=$(rows $t | grep -F "\"BINPATH\":\"$agent_path\"")
  [ -n "$own" ] && pass "$t lists osmagent with its path" || fail "$t lists no row with BINPATH $agent_path"
  owner=$(text "$own" USERID)
  [ "${owner##*\\}" = "$user" ] && pass "$t osmagent owner $owner" || fail "$t osmagent owner '$owner', user '$user'"
  rows $t | grep -q '"BINPATH":"C:\\\\windows\\\\system32\\\\services.exe"' &&
    pass "$t lists services.exe" || fail "$t lists no services.exe"
  # Every process of an executable counts all of them; ids 0 and 4 count 0.
  bad=$(rows $t | while read -r r; do
      printf '%s\t%s\t%s\n' "$(int "$r" IDPROCESS)" "$(int "$r" PROCCOUNT)" "$(text "$r" BINPATH)"
    done | awk -F'\t' '{ pid[NR] = $1; count[NR] = $2; k[NR] = tolower($3); if ($1 != 0 && $1 != 4) n[k[NR]]++ }
      END { for (i = 1; i <= NR; i++) {
              want = (pid[i] == 0 || pid[i] == 4) ? 0 : n[k[i]]
              if (count[i] != want) print pid[i] ":" count[i] "!=" want } }')
  [ -z "$bad" ] && pass "$t PROCCOUNT adds up" || fail "$t PROCCOUNT does not add up: $bad"
done

check "PROCESSIO rows" "$(answered PROCESSIO)" "$(answered WTPROCESS)"
io=$(rows PROCESSIO | grep -F "\"BINPATH\":\"$agent_path\"")
[ -n "$io" ] && pass "PROCESSIO lists osmagent with its path" || fail "PROCESSIO has no osmagent row"
# Wine keeps no process I/O counts: the system source leaves them out.
check "PROCESSIO IORDOPRPSC under Wine" "$(int "$io" IORDOPRPSC)" 0

for t in JOBOBJ JOBOBJD NTJOBOBJD; do check "$t rows (no job objects offered)" "$(answered $t)" 0; done

for t in WTMEMORY NTMEMORY; do
  ws=$(int "$(rows $t)" TOTWSBYTES)
  [ "${ws:-0}" -gt 0 ] && pass "$t TOTWSBYTES $ws from the Process table" || fail "$t TOTWSBYTES '$ws'"
done

if [ "$failures" -ne 0 ]; then
  echo "--- output"; grep -v '"record":"table"' "$work/out.jsonl" | grep -v WTTHREAD | cut -c1-400
  echo "--- stderr"; grep -v invoked "$work/stderr" | head -40
fi
echo "process tables end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

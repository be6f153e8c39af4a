#!/bin/bash
# The README's main command, tools/run-agent.sh, in a fresh prefix of its own:
# it reports, names the node type, and leaves no Wine process behind.
#   run_agent_e2e.sh WINDOWS_BUILD_DIR
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
build=$work/build  # the script looks for its binaries in BUILD/win
mkdir -p "$build" && ln -s "$(cd "$1" && pwd)" "$build/win"
prefix=$work/prefix
trap 'WINEPREFIX=$prefix timeout 60 wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
failures=0
pass() { echo "ok: $1"; }
fail() { echo "FAILED: $1"; failures=$((failures + 1)); }
expect() {  # expect NAME FILE TEXT
  if grep -qF -- "$3" "$2"; then pass "$1"; else fail "$1 (missing: $3)"; tail -20 "$2" | sed 's/^/    | /'; fi
}
# The processes of the prefix: whatever carries it in its environment.
prefix_processes() { grep -lsz "^WINEPREFIX=$prefix\$" /proc/[0-9]*/environ | wc -l; }

# The metrics endpoint on a free port rather than the fixed default.
port=$((20000 + RANDOM % 30000))
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((20000 + RANDOM % 30000)); done
OSM_NO_BUILD=1 OSM_BUILD_DIR=$build OSM_RUN_PREFIX=$prefix OSM_RUN_SECONDS=40 OSM_METRICS_URL=http://127.0.0.1:$port/ \
  bash "$root/tools/run-agent.sh" >"$work/out" 2>"$work/err"
echo "run-agent.sh exit code: $?"
expect "prefix prepared" "$work/err" "wine prefix ready"
expect "agent record with node type nt" "$work/out" '"nodetype":"nt"'
expect "a report answered" "$work/out" '"record":"answered","request":"memory"'
n=$(prefix_processes)
[ "$n" -eq 0 ] && pass "no process of the prefix left" || fail "$n processes of the prefix left"

# A step that fails says so and ends the script with an error.
OSM_NO_BUILD=1 OSM_BUILD_DIR=$work/nothing OSM_RUN_PREFIX=$prefix bash "$root/tools/run-agent.sh" \
  >/dev/null 2>"$work/err2"
rc=$?
[ "$rc" -ne 0 ] && pass "failed step ends in error" || fail "failed step ended with 0"
expect "failed step named" "$work/err2" "run-agent: finding $work/nothing/win/host/osmagent.exe failed"

echo "run-agent end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

# Shared by the osmagent end-to-end scripts of the collectors (sourced): a
# work directory removed on exit, the checks that count failures, and the
# readers of the JSON Lines output in $work/out.jsonl.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
windows_path() { printf 'Z:%s' "$1" | tr '/' '\\'; }
export OSM_WINE_TIMEOUT=120
failures=0
pass() { echo "ok: $1"; }
fail() { echo "FAILED: $1"; failures=$((failures + 1)); }
check() {  # check NAME ACTUAL EXPECTED
  if [ "$2" = "$3" ]; then pass "$1 = $3"; else fail "$1: got '$2', expected '$3'"; fi
}
near() {  # near NAME ACTUAL EXPECTED TOLERANCE
  local d=$(( $2 - $3 ))
  if [ "${d#-}" -le "$4" ]; then pass "$1 = $2 (expected $3)"; else fail "$1: got '$2', expected $3 +- $4"; fi
}
int() { sed -n "s/.*\"$2\":\\(-\\{0,1\\}[0-9]*\\).*/\\1/p" <<<"$1"; }
text() { sed -n "s/.*\"$2\":\"\\([^\"]*\\)\".*/\\1/p" <<<"$1"; }
# rows TABLE: every row of the table; row TABLE [N]: its Nth row (1st).
rows() { grep "\"record\":\"row\"" "$work/out.jsonl" | grep "\"table\":\"$1\""; }
row() { rows "$1" | sed -n "${2:-1}p"; }
# run_agent VAR=VALUE...: osmagent TEST ($agent, with $dll registered through
# $run) on the requests in $work/requests.txt, with these variables set, until
# every report is answered; its output goes to $work. Ends the script when
# the agent wrote no output.
run_agent() {
  "$run" regsvr32 /s "$(windows_path "$dll")" || { echo "regsvr32 failed"; exit 1; }
  env "$@" OSM_REQUESTS="$(windows_path "$work/requests.txt")" OSM_OUTPUT="$(windows_path "$work/out.jsonl")" \
    OSM_EXIT_WHEN_DONE=Y OSM_FRAMEWORK_LOG="$(windows_path "$work/framework.log")" \
    BSL_RAS1_FILE="$(windows_path "$work/agent.trc")" \
    "$run" "$(windows_path "$agent")" TEST >"$work/stdout" 2>"$work/stderr"
  echo "osmagent exit code: $?"
  "$run" regsvr32 /s /u "$(windows_path "$dll")"
  if [ ! -s "$work/out.jsonl" ]; then
    echo "FAILED: osmagent wrote no output"; grep -v invoked "$work/stderr" | head -40; cat "$work/stdout"
    exit 1
  fi
}

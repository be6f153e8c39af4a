# Shared by the live end-to-end scripts (sourced once agent, dll, signal and
# run are set): a work directory with osmagent and the registered
# osmperf.dll, the agent run on the system source and stopped through its
# shutdown event, the checks that count failures and the readers of the JSON
# Lines output. A script redefines stop_load to end the load it starts; it
# runs before the agent is stopped on every exit path.
work=$(mktemp -d)
agent_pid=
failures=0
export OSM_WINE_TIMEOUT=300
stop_load() { :; }
win() { WINEPREFIX=$OSM_WINEPREFIX winepath -w "$1" 2>/dev/null; }
stop_agent() {
  [ -n "$agent_pid" ] || return
  "$run" "$signal" OSM-SHUTDOWN >/dev/null 2>&1
  wait "$agent_pid"
  agent_pid=
}
trap 'stop_load; stop_agent; "$run" regsvr32 /s /u "$(win "$work/osmperf.dll")" >/dev/null 2>&1; rm -rf "$work"' EXIT
check() {  # check NAME CONDITION...
  local name=$1; shift
  if "$@"; then echo "ok: $name"; else echo "FAILED: $name"; failures=$((failures + 1)); fi
}
rows() { grep '"record":"row"' "$work/out.jsonl" 2>/dev/null | grep "\"request\":\"$1\""; }
values() { rows "$1" | sed -n "s/.*\"$2\":\\(-\\{0,1\\}[0-9]*\\).*/\\1/p"; }  # values REQUEST ATTRIBUTE
texts() { rows "$1" | sed -n "s/.*\"$2\":\"\\([^\"]*\\)\".*/\\1/p"; }
highest() { values "$@" | sort -n | tail -1; }
within() { local v; for v in $(values "$1" "$2"); do [ "$v" -ge "$3" ] && [ "$v" -le "$4" ] || return 1; done; }
answered() { grep -q "\"record\":\"answered\",\"request\":\"$1\".*\"rows\":${2:-}" "$work/out.jsonl" 2>/dev/null; }

cp "$agent" "$dll" "$work/"
"$run" regsvr32 /s "$(win "$work/osmperf.dll")" || { echo "regsvr32 failed"; exit 1; }

# start_agent: osmagent TEST on $work/requests.txt, in the background.
start_agent() {
  (
    export OSM_PERF_SOURCE=system OSM_REQUESTS="$(win "$work/requests.txt")" OSM_OUTPUT="$(win "$work/out.jsonl")"
    "$run" "$work/osmagent.exe" TEST >"$work/stdout" 2>"$work/stderr"
    echo "exit=$?" >>"$work/stdout"
  ) &
  agent_pid=$!
}
# wait_for CONDITION...: until the condition holds, the agent ends or three minutes pass.
wait_for() {
  for _ in $(seq 1 900); do
    kill -0 "$agent_pid" 2>/dev/null || return 1
    "$@" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}
# finish NAME: the output on failure and the summary; the script's status.
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "--- output"; grep -v '"record":"table"' "$work/out.jsonl" 2>/dev/null | head -60
    echo "--- stderr"; grep -v invoked "$work/stderr" | head -40
  fi
  echo "$1 end-to-end: $failures failure(s)"
  [ "$failures" -eq 0 ]
}

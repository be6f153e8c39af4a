#!/bin/bash
# Builds osmagent and osmperf, prepares a Wine prefix, registers the counter
# server and runs the agent in console mode with live performance data from the
# system source, reporting a few tables every few seconds as JSON Lines.
#   OSM_BUILD_DIR   where the build goes (default: ./build)
#   OSM_RUN_PREFIX  the Wine prefix to use (default: ./build/agent-prefix)
#   OSM_REPORTS     the requests file to use instead of the built-in one
#   OSM_METRICS_URL where the metrics endpoint serves (default http://127.0.0.1:9182/;
#                   empty: off)
#   OSM_RUN_SECONDS how long to run before stopping (default: until Ctrl-C)
#   OSM_SHOW_DEFINITIONS=1 also show the table definitions published at start
#   OSM_NO_BUILD=1  use the binaries already built in OSM_BUILD_DIR/win
# The agent is installed in C:\osm of the prefix. When the script ends, the
# prefix's Wine server and the Wine processes it started end with it.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OSM_BUILD_DIR:-$root/build}
prefix=${OSM_RUN_PREFIX:-$build/agent-prefix}
jobs=$(nproc 2>/dev/null || echo 2)
log=$(mktemp "${TMPDIR:-/tmp}/run-agent.XXXXXX")

# Every step says what failed, with the end of what it wrote.
fail() {
  echo "run-agent: $1 failed" >&2
  [ -s "$log" ] && tail -20 "$log" | sed 's/^/  | /' >&2
  exit 1
}
# Steps that can fail while a fresh prefix is still starting are retried.
retry() {
  local attempt
  for attempt in 1 2 3 4 5; do
    "$@" >"$log" 2>&1 && return 0
    sleep 2
  done
  return 1
}
windows_path() { printf 'Z:%s' "$1" | tr '/' '\\'; }

if [ "${OSM_NO_BUILD:-0}" != 1 ]; then
  cmake -S "$root" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >"$log" 2>&1 || fail "configuring the build in $build/win"
  cmake --build "$build/win" -j "$jobs" --target osmagent osmperf >"$log" 2>&1 ||
    fail "building osmagent and osmperf"
fi
for f in host/osmagent.exe perfsvc/osmperf.dll; do
  [ -f "$build/win/$f" ] || fail "finding $build/win/$f"
done

export OSM_WINEPREFIX=$prefix WINEPREFIX=$prefix WINEDEBUG=-all
stop_wine() {
  timeout 60 wineserver -k >/dev/null 2>&1
  timeout 60 wineserver -w >/dev/null 2>&1
  rm -f "$log"
}
trap stop_wine EXIT
if [ ! -f "$prefix/system.reg" ]; then
  echo "== preparing the Wine prefix $prefix (once)" >&2
  "$root/tools/wine-prefix.sh" start "$prefix" >"$log" 2>&1 || fail "preparing the Wine prefix $prefix"
  cat "$log" >&2
else
  (setsid wineserver -p </dev/null >/dev/null 2>&1 &)
fi
run="$root/tools/wine-run.sh"

# The agent and its counter server side by side, as they are installed.
bin="$prefix/drive_c/osm"
mkdir -p "$bin" || fail "creating $bin"
cp "$build/win/host/osmagent.exe" "$build/win/perfsvc/osmperf.dll" "$bin/" || fail "copying the agent to $bin"
retry "$run" regsvr32 /s "$(windows_path "$bin/osmperf.dll")" || fail "registering osmperf.dll"

requests=${OSM_REPORTS:-$bin/live-requests.txt}
if [ -z "${OSM_REPORTS:-}" ]; then
  cat >"$requests" <<'REQ'
# Live tables, answered every 10 seconds, and the performance tables also
# served as metrics.
report system    WTSYSTEM   every 10
report memory    WTMEMORY   every 10
report memory-nt NTMEMORY   every 10
report cpu       NTPROCSSR  every 10
report cpu-sum   NTPROCRSUM every 10
report disks     WTLOGCLDSK every 10
report processes WTPROCESS  every 10
report network   NETWRKIN   every 10
report tcp       TCPSTATS   every 10
report objects   WTOBJECTS  every 10
report pagefile  NTPAGEFILE every 10
export system-m    WTSYSTEM   every 10
export memory-m    WTMEMORY   every 10
export memory-nt-m NTMEMORY   every 10
export cpu-m       NTPROCSSR  every 10
export disks-m     WTLOGCLDSK every 10
export processes-m WTPROCESS  every 10
export network-m   NETWRKIN   every 10
export tcp-m       TCPSTATS   every 10
export objects-m   WTOBJECTS  every 10
REQ
fi
[ -r "$requests" ] || fail "reading the requests file $requests"

export OSM_PERF_SOURCE=system
export OSM_INTERVAL=${OSM_INTERVAL:-5}
export OSM_REQUESTS="$(windows_path "$requests")"
export OSM_FRAMEWORK_LOG="$(windows_path "$bin/osm_framework.log")"
export BSL_RAS1_FILE="$(windows_path "$bin/osmagent.trc")"
export OSM_METRICS_URL=${OSM_METRICS_URL-http://127.0.0.1:9182/}
echo "== osmagent TEST (requests: $requests; trace: $bin/osmagent.trc)" >&2
base=${OSM_METRICS_URL%/}
[ -z "$base" ] || echo "== metrics at $base/metrics, health at $base/health" >&2
# The long table definitions are left out of the terminal unless asked for.
show() {
  if [ "${OSM_SHOW_DEFINITIONS:-0}" = 1 ]; then cat; else grep --line-buffered -v '^{"record":"table"'; fi
}
OSM_WINE_STREAM=1 OSM_WINE_TIMEOUT=${OSM_RUN_SECONDS:-0} "$run" "$bin/osmagent.exe" TEST | show
rc=${PIPESTATUS[0]}
# 124: OSM_RUN_SECONDS ran out; 130 and 143: interrupted or stopped.
case $rc in
  0 | 124 | 130 | 143) ;;
  *) : >"$log"; fail "osmagent (exit code $rc; trace: $bin/osmagent.trc)" ;;
esac

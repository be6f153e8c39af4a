#!/bin/bash
# The installer package under Wine's msiexec, in a prefix of its own: install,
# start, upgrade over an edited requests file, remove, refuse a downgrade.
#   msi_e2e.sh OSMAGENT OSMPERF SVCCTL TOOLS_DIR WORK_DIR
set -u
agent=$1 perf=$2 svcctl=$3 tools=$4 work=$5 failures=0
prefix=$work/prefix
export OSM_WINEPREFIX=$prefix OSM_WINE_TIMEOUT=120
run=$tools/wine-run.sh
check() {  # check NAME ACTUAL EXPECTED
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAILED: $1: got '$2', expected '$3'"; failures=$((failures + 1)); return 1; fi
}
same() { cmp -s "$2" "$3"; check "$1" $? 0; }
reg() { "$run" reg "$@" 2>/dev/null | tr -d '\r' | grep -v '^reg: '; }  # a missing key reads as nothing
values() {  # values KEY NAME...: NAME=DATA for each value
  local key=$1 out n
  out=$(reg query "$key")
  for n in "${@:2}"; do printf '%s=%s\n' "$n" "$(sed -n "s/^ *$n *REG_[A-Z_]* *//p" <<<"$out" | tr -d '"')"; done
}
com_keys() {
  for k in 'CLSID\{9A487EC4-9A47-11D0-8F6E-F44D6C000000}' Velmor.OSMSRV.KOUNTER1 Velmor.OSMSRV.KOUNTER1.2; do
    reg query "HKCR\\$k" /s
  done
}
msiexec() { "$run" msiexec "$@" /qn; }
svcctl() { "$run" "$svcctl" "$@" mx_agent 2>&1 | tr -d '\r' | sed 's/ specific: .*//'; }
wait_row() {  # wait_row REQUEST: a row of that request reaches the output within 120 s
  local i
  for i in $(seq 600); do grep -q "\"record\":\"row\",\"request\":\"$1\"" "$data/rows.jsonl" 2>/dev/null && break; sleep 0.2; done
  grep -q "\"record\":\"row\",\"request\":\"$1\"" "$data/rows.jsonl" 2>/dev/null
  check "rows of $1 in the configured output (after $((i / 5)) s)" $? 0 || tail -n 5 "$data"/* 2>&1
}

rm -rf "$work" && mkdir -p "$work"
"$tools/wine-prefix.sh" start "$prefix" >/dev/null || exit 1
trap '"$tools/wine-prefix.sh" stop "$prefix" >/dev/null; rm -rf "$prefix"' EXIT
# Wine publishes no performance data in its registry: the agent reads the system.
printf '[osmperf]\r\nPerfSource=system\r\n' >"$prefix/drive_c/windows/osmperf.ini"
programs="$prefix/drive_c/Program Files/OSM" data=$prefix/drive_c/ProgramData/OSM
svc='HKLM\SYSTEM\CurrentControlSet\Services\mx_agent'
env='HKLM\SOFTWARE\Velmor\OSM\Ver610\Primary\Environment'

# Two builds: the agent's own version, and a newer one whose agent differs.
package() { OSM_PERF_DLL=$perf OSM_PACKAGE_DIR=$work bash "$tools/package.sh" 2>>"$work/package.log"; }
old=$(OSM_AGENT_EXE=$agent package) || { cat "$work/package.log"; exit 1; }
version=${old##*/osm-} && version=${version%-x64.msi}
newer=${version%.*}.$((${version##*.} + 1))
cp "$agent" "$work/newer.exe" && printf 'newer build' >>"$work/newer.exe"
new=$(OSM_AGENT_EXE=$work/newer.exe OSM_PACKAGE_VERSION=$newer package) || { cat "$work/package.log"; exit 1; }
old_w=$(WINEPREFIX=$prefix winepath -w "$old" 2>/dev/null) new_w=$(WINEPREFIX=$prefix winepath -w "$new" 2>/dev/null)

# What regsvr32 writes for the DLL at the installed path is the reference.
mkdir -p "$programs" && cp "$perf" "$programs/"
"$run" regsvr32 /s 'C:\Program Files\OSM\osmperf.dll'
com_keys >"$work/com-regsvr32.txt"
check "regsvr32 wrote the reference" "$(grep -c REG_SZ "$work/com-regsvr32.txt")" 9
"$run" regsvr32 /u /s 'C:\Program Files\OSM\osmperf.dll'
rm -rf "$programs"

msiexec /i "$old_w" START_SERVICE=0 'OUTPUT=C:\ProgramData\OSM\rows.jsonl'
check "install" $? 0
for f in "$agent" "$perf" "$tools/../README.md" "$tools/../packaging/osm_requests.txt"; do
  same "installed ${f##*/}" "$f" "$programs/${f##*/}"
done
check "COM keys as regsvr32 writes them" "$(com_keys)" "$(cat "$work/com-regsvr32.txt")"
check "service key" "$(values "$svc" ImagePath Start DisplayName Description)" 'ImagePath=C:\Program Files\OSM\osmagent.exe
Start=0x2
DisplayName=OSM Monitoring Agent for Windows
Description=Collects processor, memory, disk, network, service and event log data and answers the requests in its requests file.'
check "registry environment" "$(values "$env" OSM_REQUESTS OSM_OUTPUT OSM_FRAMEWORK_LOG BSL_RAS1_FILE)" 'OSM_REQUESTS=C:\Program Files\OSM\osm_requests.txt
OSM_OUTPUT=C:\ProgramData\OSM\rows.jsonl
OSM_FRAMEWORK_LOG=C:\ProgramData\OSM\osm_framework.log
BSL_RAS1_FILE=C:\ProgramData\OSM\osmagent.trc'
check "START_SERVICE=0 leaves it stopped" "$(svcctl query)" "state: 1 exit: 1077"
check "started by the helper" "$(svcctl start)" "state: 4 exit: 0"
wait_row memory

# Upgrade over an edited requests file: the restarted agent reads the edit.
echo 'report objects WTOBJECTS' >>"$programs/osm_requests.txt"
cp "$programs/osm_requests.txt" "$work/edited.txt"
# Wine's msiexec sends the stop without waiting for it (Windows waits), so a slow
# stop would leave the old program in use: stop it here and let the upgrade start it.
check "stopped by the helper" "$(svcctl stop)" "state: 1 exit: 0"
msiexec /i "$new_w"
check "upgrade" $? 0
same "edited requests kept" "$work/edited.txt" "$programs/osm_requests.txt"
same "newer agent installed" "$work/newer.exe" "$programs/osmagent.exe"
check "output setting kept" "$(values "$env" OSM_OUTPUT)" 'OSM_OUTPUT=C:\ProgramData\OSM\rows.jsonl'
check "running again" "$(svcctl query)" "state: 4 exit: 0"
wait_row objects
check "older product removed" \
  "$(reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' /s | grep -c 'DisplayName.*OSM Monitoring')" 1

msiexec /x "$new_w"
check "removal" $? 0
check "programs, service, COM keys and settings removed" \
  "$([ -e "$programs" ] && echo "$programs"; reg query "$svc"; com_keys; reg query "$env")" ""
check "output, log and trace kept" "$(ls "$data" | tr '\n' ' ')" "osm_framework.log osmagent.trc rows.jsonl "

# A fresh install takes given and default settings; an older package is refused.
msiexec /i "$new_w" START_SERVICE=0 'REQUESTS=C:\osm\mine.txt'
check "given and default settings" "$(values "$env" OSM_REQUESTS OSM_OUTPUT)" 'OSM_REQUESTS=C:\osm\mine.txt
OSM_OUTPUT=C:\ProgramData\OSM\osm_output.jsonl'
msiexec /i "$old_w"
check "downgrade refused (1603)" $? $((1603 % 256))
same "newer agent left in place" "$work/newer.exe" "$programs/osmagent.exe"
msiexec /x "$new_w"

echo "package end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

#!/bin/bash
# The Windows Installer package under Wine's msiexec, in a prefix of its own:
# install, start, upgrade over an edited requests file, remove, refuse a downgrade.
#   msi_e2e.sh OSMAGENT OSMPERF SVCCTL TOOLS_DIR WORK_DIR
set -u
agent=$1 perf=$2 svcctl=$3 tools=$4 work=$5
prefix=$work/prefix
export OSM_WINEPREFIX=$prefix OSM_WINE_TIMEOUT=120
run=$tools/wine-run.sh
failures=0
pass() { echo "ok: $1"; }
fail() { echo "FAILED: $1"; failures=$((failures + 1)); }
check() {  # check NAME ACTUAL EXPECTED
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: got '$2', expected '$3'"; fi
}
wait_for() {  # wait_for NAME FILE PATTERN: up to 60 s for a matching line
  for _ in $(seq 1 300); do grep -q -- "$3" "$2" 2>/dev/null && { pass "$1"; return; }; sleep 0.2; done
  fail "$1 (no line with $3 in $2)"
}
reg() { "$run" reg "$@" 2>/dev/null | tr -d '\r' | grep -v '^reg: '; }  # a missing key reads as nothing
value() {  # value KEY NAME: the data of one registry value
  reg query "$1" /v "$2" | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
com_keys() {  # every key and value of the counter server's registration
  local k
  for k in 'CLSID\{9A487EC4-9A47-11D0-8F6E-F44D6C000000}' Velmor.OSMSRV.KOUNTER1 Velmor.OSMSRV.KOUNTER1.2; do
    reg query "HKCR\\$k" /s
  done
}
msiexec() { "$run" msiexec "$@" /qn; }
state() { "$run" "$svcctl" query mx_agent 2>&1 | tr -d '\r'; }
cleanup() {
  "$tools/wine-prefix.sh" stop "$prefix" >/dev/null
  rm -rf "$prefix"
}

rm -rf "$work"
mkdir -p "$work"
"$tools/wine-prefix.sh" start "$prefix" >/dev/null || { echo "no Wine prefix"; exit 1; }
trap cleanup EXIT
# Wine publishes no performance data in its registry: the agent reads the system.
printf '[osmperf]\r\nPerfSource=system\r\n' >"$prefix/drive_c/windows/osmperf.ini"
programs="$prefix/drive_c/Program Files/OSM"
data=$prefix/drive_c/ProgramData/OSM
envkey='HKLM\SOFTWARE\Velmor\OSM\Ver610\Primary\Environment'

# Two builds: the agent's own version, and a newer one whose agent differs.
old=$(OSM_AGENT_EXE=$agent OSM_PERF_DLL=$perf OSM_PACKAGE_DIR=$work/old bash "$tools/package.sh" 2>"$work/package.log") ||
  { cat "$work/package.log"; exit 1; }
version=$(basename "$old" -x64.msi)
version=${version#osm-}
newer=${version%.*}.$((${version##*.} + 1))
cp "$agent" "$work/newer-osmagent.exe"
printf 'newer build %s' "$newer" >>"$work/newer-osmagent.exe"
new=$(OSM_AGENT_EXE=$work/newer-osmagent.exe OSM_PERF_DLL=$perf OSM_PACKAGE_DIR=$work/new OSM_PACKAGE_VERSION=$newer \
      bash "$tools/package.sh" 2>"$work/package.log") || { cat "$work/package.log"; exit 1; }
old_w=$(WINEPREFIX=$prefix winepath -w "$old" 2>/dev/null) new_w=$(WINEPREFIX=$prefix winepath -w "$new" 2>/dev/null)
check "package named by version" "$(basename "$new")" "osm-$newer-x64.msi"

# What regsvr32 writes for the DLL at the installed path, as the reference.
mkdir -p "$programs"
cp "$perf" "$programs/osmperf.dll"
"$run" regsvr32 /s 'C:\Program Files\OSM\osmperf.dll' || fail "regsvr32"
com_keys >"$work/com-regsvr32.txt"
"$run" regsvr32 /u /s 'C:\Program Files\OSM\osmperf.dll' || fail "regsvr32 /u"
rm -rf "$programs"
check "reference keys gone again" "$(com_keys)" ""

# Install, the service left stopped, the output somewhere of our choosing.
msiexec /i "$old_w" START_SERVICE=0 'OUTPUT=C:\ProgramData\OSM\rows.jsonl'
check "install exit code" $? 0
for f in osmagent.exe osmperf.dll README.md osm_requests.txt; do
  src=$agent
  case $f in osmperf.dll) src=$perf ;; README.md) src=$tools/../README.md ;; osm_requests.txt) src=$tools/../packaging/osm_requests.txt ;; esac
  cmp -s "$src" "$programs/$f" && pass "installed $f" || fail "installed $f"
done
com_keys >"$work/com-msi.txt"
if [ -s "$work/com-msi.txt" ] && diff "$work/com-regsvr32.txt" "$work/com-msi.txt"; then
  pass "COM keys equal those of regsvr32"
else
  fail "COM keys differ from those of regsvr32"
fi
svc='HKLM\SYSTEM\CurrentControlSet\Services\mx_agent'
check "service image" "$(value "$svc" ImagePath)" 'C:\Program Files\OSM\osmagent.exe'
check "service starts automatically" "$(value "$svc" Start)" 0x2
check "service name shown" "$(value "$svc" DisplayName)" "OSM Monitoring Agent for Windows"
[ -n "$(value "$svc" Description)" ] && pass "service description" || fail "service description"
check "requests setting" "$(value "$envkey" OSM_REQUESTS)" 'C:\Program Files\OSM\osm_requests.txt'
check "output setting" "$(value "$envkey" OSM_OUTPUT)" 'C:\ProgramData\OSM\rows.jsonl'
check "framework log setting" "$(value "$envkey" OSM_FRAMEWORK_LOG)" 'C:\ProgramData\OSM\osm_framework.log'
check "trace setting" "$(value "$envkey" BSL_RAS1_FILE)" 'C:\ProgramData\OSM\osmagent.trc'
check "START_SERVICE=0 leaves it stopped" "$(state)" "state: 1 exit: 1077"

"$run" "$svcctl" start mx_agent >"$work/out" 2>&1
check "service started" "$(tr -d '\r' <"$work/out")" "state: 4 exit: 0"
wait_for "rows in the configured output" "$data/rows.jsonl" '"record":"row","request":"memory"'

# Upgrade over an edited requests file; the installer restarts the service.
echo 'report objects WTOBJECTS' >>"$programs/osm_requests.txt"
cp "$programs/osm_requests.txt" "$work/edited.txt"
msiexec /i "$new_w"
check "upgrade exit code" $? 0
cmp -s "$work/edited.txt" "$programs/osm_requests.txt" && pass "edited requests kept" || fail "edited requests kept"
cmp -s "$work/newer-osmagent.exe" "$programs/osmagent.exe" && pass "newer agent installed" || fail "newer agent installed"
check "output setting kept" "$(value "$envkey" OSM_OUTPUT)" 'C:\ProgramData\OSM\rows.jsonl'
check "running after the upgrade" "$(state)" "state: 4 exit: 0"
wait_for "the restarted agent answers the edited request" "$data/rows.jsonl" '"record":"row","request":"objects"'
check "agent started twice" "$(grep -c '"record":"agent"' "$data/rows.jsonl")" 2
check "one product installed" \
  "$(reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' /s | grep -c 'DisplayName.*OSM Monitoring Agent')" 1

# Removal: program, service, COM and settings go; what the agent wrote stays.
msiexec /x "$new_w"
check "removal exit code" $? 0
[ -e "$programs" ] && fail "program folder removed" || pass "program folder removed"
check "service removed" "$(reg query "$svc")" ""
check "COM keys removed" "$(com_keys)" ""
check "settings removed" "$(reg query "$envkey")" ""
for f in rows.jsonl osm_framework.log osmagent.trc; do
  [ -s "$data/$f" ] && pass "$f kept" || fail "$f kept"
done

# A fresh install takes given and default settings; an older package is refused.
msiexec /i "$new_w" START_SERVICE=0 'REQUESTS=C:\osm\mine.txt'
check "reinstall exit code" $? 0
check "given requests setting" "$(value "$envkey" OSM_REQUESTS)" 'C:\osm\mine.txt'
check "default output setting" "$(value "$envkey" OSM_OUTPUT)" 'C:\ProgramData\OSM\osm_output.jsonl'
msiexec /i "$old_w"
rc=$?
[ "$rc" -ne 0 ] && pass "downgrade refused ($rc)" || fail "downgrade refused"
cmp -s "$work/newer-osmagent.exe" "$programs/osmagent.exe" && pass "newer agent left in place" || fail "newer agent left in place"
msiinfo export "$old" LaunchCondition | grep -q "A newer version of the OSM Monitoring Agent is already installed" &&
  pass "downgrade message" || fail "downgrade message"
msiexec /x "$new_w"

echo "package end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

#!/bin/bash
# osmagent TEST monitors two values of a scratch key: the report lists both,
# and the situation fires once reg.exe sets its value to "on".
#   registry_e2e.sh OSMAGENT OSMPERF_DLL SIGNAL_EVENT WINE_RUN
set -u
agent=$1 dll=$2 signal=$3 run=$4
source "$(dirname "$0")/../live_e2e.sh"
key='HKCU\Software\OsmRegistryE2E'
path='"PATHNAME":"Software\\\\OsmRegistryE2E\\\\'
level_shown() { rows values | grep -q "${path}Level\",\"TYPE\":4,\"STRVALUE\":\"\",\"NUMVALUE\":7}"; }
fired() { rows mode-on | grep -q "${path}Mode\",\"TYPE\":1,\"STRVALUE\":\"on\""; }

"$run" reg add "$key" /v Mode /d off /f >/dev/null && "$run" reg add "$key" /v Level /t REG_DWORD /d 7 /f >/dev/null
cat >"$work/requests.txt" <<'EOT'
situation mode-on WTREGISTRY every 1 where ROOTKEY EQ 1 AND PATHNAME EQ "Software\OsmRegistryE2E\Mode" AND STRVALUE EQ "on"
situation level   WTREGISTRY every 1 where ROOTKEY EQ 1 AND PATHNAME EQ "Software\OsmRegistryE2E\Level"
report    values  WTREGISTRY every 1
EOT
start_agent
wait_for level_shown && wait_for rows level
check "the report lists both values" answered values 2,
check "the report shows the number" level_shown
check "the situation waits while the value is off" [ -z "$(rows mode-on)" ]
"$run" reg add "$key" /v Mode /d on /f >/dev/null
wait_for fired
check "the situation fires once the value is on" fired
stop_agent
check "agent ended normally" grep -q "exit=0" "$work/stdout"
"$run" reg delete "$key" /f >/dev/null 2>&1
finish "registry"

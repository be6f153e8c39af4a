#!/bin/bash
# osmagent in console mode with the system source and a web server of major
# version 6 in the registry: the service-application tables are offered by
# the web server's version, and, as none of their objects exists under Wine,
# each report answers with no rows at every sample while the agent runs on,
# without a failure in the error trace.
#   service_app_e2e.sh OSMAGENT OSMPERF_DLL SIGNAL_EVENT WINE_RUN
set -u
agent=$1 dll=$2 signal=$3 run=$4
source "$(dirname "$0")/live_e2e.sh"
# The test prefix has no web server: the key is there for this run only.
iis_root='HKLM\SOFTWARE\Microsoft\INetMgr'
stop_load() { "$run" reg delete "$iis_root" /f >/dev/null 2>&1; }
"$run" reg add "$iis_root\Parameters" /v MajorVersion /t REG_DWORD /d 6 /f >/dev/null || { echo "reg failed"; exit 1; }

tables="WEBSVC SMTPSRV MSMQQUE PRINTQ FTPSVC NNTPCMD NNTPSRV HTTPCNDX ACTSRVPG IISSTATS INDEXSVC INDEXSVCF
MSMQIS MSMQSVC MSMQSESS DHCPSRV DNSMEMORY DNSZONET DNSDYNUPD DNSQUERY DNSWINS OSMRASPT OSMRASTOT"
for t in $tables; do echo "report r-$t $t every 5"; done >"$work/requests.txt"
echo "report r-HTTPSRVC HTTPSRVC" >>"$work/requests.txt"  # only before web server 4
export BSL_RAS1_FILE="$(win "$work/agent.trc")"
start_agent

answers() { grep -c "\"record\":\"answered\",\"request\":\"$1\"" "$work/out.jsonl" 2>/dev/null; }
# Answers of a request that shipped rows or failed.
not_empty() { grep "\"record\":\"answered\",\"request\":\"$1\"" "$work/out.jsonl" | grep -vc '"rows":0,"status":0}'; }
all_answered_twice() {
  local t
  for t in $tables; do [ "$(answers "r-$t")" -ge 2 ] || return 1; done
}
wait_for all_answered_twice
stop_agent

check "agent ended normally" grep -q "exit=0" "$work/stdout"
check "every report answered at least twice" all_answered_twice
for t in $tables; do check "$t: answered with no rows and no failure" [ "$(not_empty "r-$t")" = 0 ]; done
check "HTTPSRVC refused: not offered with web server 6" grep -q "HTTPSRVC" "$work/stderr"
check "HTTPSRVC never answered" [ "$(answers r-HTTPSRVC)" = 0 ]
# At the default trace level only the print queue names its missing object.
check "print queue's missing object traced" grep -q "Print Queue performance object: <80070005>" "$work/agent.trc"
check "no other failure traced" [ "$(grep -c 'Error retrieving\|OsmKountInterface() returns' "$work/agent.trc")" = \
  "$(grep -c 'Print Queue performance object' "$work/agent.trc")" ]
finish "service-application tables"

#!/bin/bash
# osmagent in console mode with the system source (live data under Wine): the
# network tables show the host's interfaces and protocol counters while UDP
# datagrams to a closed local port (answered by ICMP) and refused TCP
# connections run; the server, redirector and cache tables, whose objects
# Wine lacks, answer with no rows.
#   network_live_e2e.sh OSMAGENT OSMPERF_DLL SIGNAL_EVENT WINE_RUN
set -u
agent=$1 dll=$2 signal=$3 run=$4
source "$(dirname "$0")/live_e2e.sh"
traffic=
stop_load() { [ -n "$traffic" ] && kill "$traffic" 2>/dev/null; traffic=; }
active_opens() { awk '/^Tcp:/ && ++n == 2 {print $6}' /proc/net/snmp; }

cat >"$work/requests.txt" <<'EOF'
report net    NETWRKIN   every 5
report ntnet  NTNETWRKIN every 5
report tcp    TCPSTATS   every 5
report udp    UDPSTATS   every 5
report ip     IPSTATS    every 5
report icmp   ICMPSTAT   every 5
report srv    WTSERVER
report srvq   WTSERVERQ
report ntsrvq NTSERVERQ
report rdr    NTREDIRECT
report cache  NTCACHE
EOF

opens_before=$(active_opens)
(
  while :; do
    echo x 2>/dev/null >/dev/udp/127.0.0.1/9
    (echo x >/dev/tcp/127.0.0.1/9) 2>/dev/null
    sleep 0.02
  done
) &
traffic=$!
start_agent

# Wait until the traffic shows in the rates, or the agent ends.
traffic_seen() {
  [ "$(highest udp DGSNTSEC)" -ge 1 ] && [ "$(highest icmp MSGRECSE)" -ge 1 ] && [ "$(highest ip DATAGSEC)" -ge 1 ] &&
    [ "$(rows net | grep '"UINTFINST":"lo"' | sed -n 's/.*"BYTTOTSE":\([0-9]*\).*/\1/p' | sort -n | tail -1)" -ge 1 ]
} 2>/dev/null
ready() { traffic_seen && answered tcp && answered ntnet && answered cache; }
wait_for ready
stop_load
stop_agent
opens_after=$(active_opens)

check "traffic in UDPSTATS DGSNTSEC ($(highest udp DGSNTSEC)), ICMPSTAT MSGRECSE ($(highest icmp MSGRECSE)), \
IPSTATS DATAGSEC ($(highest ip DATAGSEC)) and the loopback's NETWRKIN BYTTOTSE" traffic_seen
check "agent ended normally" grep -q "exit=0" "$work/stdout"
host=$(ls /sys/class/net | sort | tr '\n' ' ')
for r in net ntnet; do
  check "$r: the host's interfaces ($host)" [ "$(texts $r UINTFINST | sort -u | tr '\n' ' ')" = "$host" ]
done
# Wine reports no link speeds: no bandwidth, so no use of it.
check "NETWRKIN BANDUTLPCT 0 without a bandwidth" \
  [ "$(rows net | grep -c '"CURBANDW":0,.*"BANDUTLPCT":0,')" = "$(rows net | grep -c '"CURBANDW":0,')" ]
# At most one address per row, the others "NO_DNS_ENTRY" (an address shows only when it has a DNS name).
one_address() { rows "$1" | awk -F'"NO_DNS_ENTRY"' 'NF < 3 {bad = 1} END {exit bad}'; }
for r in net ntnet; do check "$r: at most one address per interface" one_address $r; done
tcp=$(values tcp CONNACTV | tail -1)
check "TCPSTATS CONNACTV $tcp between the host's $opens_before and $opens_after" \
  [ "${tcp:-0}" -ge "$opens_before" -a "${tcp:-0}" -le "$opens_after" ]
check "IPSTATS DGMFRAGPCT within 0..100" within ip DGMFRAGPCT 0 100
for r in srv srvq ntsrvq rdr cache; do check "$r answered with 0 rows (no such object under Wine)" answered $r 0; done

finish "network tables"

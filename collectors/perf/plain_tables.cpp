// The performance tables whose rows are handed over as the counter service
// delivers them: one agent class each, all sharing the collector pattern.
#include "collectors/perf/perf_collector.h"
#include "tables/tables.h"

namespace {

using osm::perf::CollectorSpec;
using osm::perf::ProgressForm;

const ProgressForm kStd = ProgressForm::kStandard;
const ProgressForm kDot = ProgressForm::kDotted;
const ProgressForm kSp2 = ProgressForm::kSpaced2;
const ProgressForm kSp3 = ProgressForm::kSpaced3;
const ProgressForm kSp4 = ProgressForm::kSpaced4;

// Machine-wide objects.
const CollectorSpec kNtPageFile = {"NTPAGEFILE", "Paging File", kStd};
const CollectorSpec kWtObjects = {"WTOBJECTS", "Objects", kStd};
// Threads and job objects.
const CollectorSpec kWtThread = {"WTTHREAD", "Thread", kStd, "NT_THREAD  TakeSample.",
                                 "NT_THREAD  TakeSample default."};
const CollectorSpec kJobObj = {"JOBOBJ", "Job Object", kDot};
const CollectorSpec kJobObjD = {"JOBOBJD", "Job Object Details", kDot};
const CollectorSpec kNtJobObjD = {"NTJOBOBJD", "Job Object Details", kDot};
// Network protocol statistics.
const CollectorSpec kNetSegmt = {"NETSEGMT", "Network Segment", kSp2};
const CollectorSpec kUdpStats = {"UDPSTATS", "UDP", kSp2};
const CollectorSpec kTcpStats = {"TCPSTATS", "TCP", kSp2};
const CollectorSpec kIcmpStat = {"ICMPSTAT", nullptr, kSp2};
// Server work queues.
const CollectorSpec kWtServerQ = {"WTSERVERQ", "Server Work Queues", kStd};
const CollectorSpec kNtServerQ = {"NTSERVERQ", "Server Queue", kStd};
// Service applications.
const CollectorSpec kHttpSrvc = {"HTTPSRVC", nullptr, kSp2};
const CollectorSpec kFtpStats = {"FTPSTATS", nullptr, kSp2};
const CollectorSpec kGophrSvc = {"GOPHRSVC", nullptr, kSp2};
const CollectorSpec kHttpCndx = {"HTTPCNDX", nullptr, kSp2};
const CollectorSpec kActSrvPg = {"ACTSRVPG", nullptr, kSp2};
const CollectorSpec kIisStats = {"IISSTATS", nullptr, kSp2};
const CollectorSpec kFtpSvc = {"FTPSVC", nullptr, kDot};
const CollectorSpec kNntpCmd = {"NNTPCMD", nullptr, kDot};
const CollectorSpec kNntpSrv = {"NNTPSRV", nullptr, kDot};
const CollectorSpec kIndexSvc = {"INDEXSVC", nullptr, kDot};
const CollectorSpec kIndexSvcF = {"INDEXSVCF", nullptr, kDot};
const CollectorSpec kMsmqIs = {"MSMQIS", nullptr, kSp4};
const CollectorSpec kMsmqSvc = {"MSMQSVC", nullptr, kSp3};
const CollectorSpec kMsmqSess = {"MSMQSESS", nullptr, kSp3};
const CollectorSpec kDhcpSrv = {"DHCPSRV", nullptr, kDot};
const CollectorSpec kDnsMemory = {"DNSMEMORY", nullptr, kDot};
const CollectorSpec kDnsZoneT = {"DNSZONET", nullptr, kDot};
const CollectorSpec kDnsDynUpd = {"DNSDYNUPD", nullptr, kDot};
const CollectorSpec kDnsQuery = {"DNSQUERY", nullptr, kDot};
const CollectorSpec kDnsWins = {"DNSWINS", nullptr, kDot};
const CollectorSpec kOsmRasPt = {"OSMRASPT", nullptr, kSp4};
const CollectorSpec kOsmRasTot = {"OSMRASTOT", nullptr, kSp4};

}  // namespace

OSM_PERF_AGENT(ntpagefile, kNtPageFile)
OSM_PERF_AGENT(wtobjects, kWtObjects)
OSM_PERF_AGENT(wtthread, kWtThread)
OSM_PERF_AGENT(jobobj, kJobObj)
OSM_PERF_AGENT(jobobjd, kJobObjD)
OSM_PERF_AGENT(ntjobobjd, kNtJobObjD)
OSM_PERF_AGENT(netsegmt, kNetSegmt)
OSM_PERF_AGENT(udpstats, kUdpStats)
OSM_PERF_AGENT(tcpstats, kTcpStats)
OSM_PERF_AGENT(icmpstat, kIcmpStat)
OSM_PERF_AGENT(wtserverq, kWtServerQ)
OSM_PERF_AGENT(ntserverq, kNtServerQ)
OSM_PERF_AGENT(httpsrvc, kHttpSrvc)
OSM_PERF_AGENT(ftpstats, kFtpStats)
OSM_PERF_AGENT(gophrsvc, kGophrSvc)
OSM_PERF_AGENT(httpcndx, kHttpCndx)
OSM_PERF_AGENT(actsrvpg, kActSrvPg)
OSM_PERF_AGENT(iisstats, kIisStats)
OSM_PERF_AGENT(ftpsvc, kFtpSvc)
OSM_PERF_AGENT(nntpcmd, kNntpCmd)
OSM_PERF_AGENT(nntpsrv, kNntpSrv)
OSM_PERF_AGENT(indexsvc, kIndexSvc)
OSM_PERF_AGENT(indexsvcf, kIndexSvcF)
OSM_PERF_AGENT(msmqis, kMsmqIs)
OSM_PERF_AGENT(msmqsvc, kMsmqSvc)
OSM_PERF_AGENT(msmqsess, kMsmqSess)
OSM_PERF_AGENT(dhcpsrv, kDhcpSrv)
OSM_PERF_AGENT(dnsmemory, kDnsMemory)
OSM_PERF_AGENT(dnszonet, kDnsZoneT)
OSM_PERF_AGENT(dnsdynupd, kDnsDynUpd)
OSM_PERF_AGENT(dnsquery, kDnsQuery)
OSM_PERF_AGENT(dnswins, kDnsWins)
OSM_PERF_AGENT(osmraspt, kOsmRasPt)
OSM_PERF_AGENT(osmrastot, kOsmRasTot)

#include "host/registration.h"

namespace {

bool V6(const PlatformVersion& v) { return v.major >= 6 || (v.major == 5 && v.minor >= 2); }

}  // namespace

std::vector<TableRegistration> SelectTables(const PlatformVersion& v) {
  const int M = v.major, I = v.iisMajor;
  std::vector<TableRegistration> out;
  auto add = [&out](const char* table, int id, int fixed) { out.push_back({table, id, fixed, id ? 1 : 0}); };

  add("NTPAGEFILE", 400, 240);
  add("NTPROCSSR", 405, 240);
  add("NTPROCRSUM", 0, 0);
  add("WTLOGCLDSK", M < 5 ? 410 : 525, 243);
  add("WTMEMORY", 415, 243);
  add("NTMEMORY", 2005, 264);
  add("WTOBJECTS", 420, 243);
  add("WTPHYSDSK", M == 3 ? 460 : 425, 240);
  add("WTPROCESS", 430, 243);
  add("NTPROCESS", 2010, 264);
  add("PROCESSIO", 530, 240);
  add("NTREDIRECT", 2000, 264);
  add("WTTHREAD", 560, 243);
  add("WTSYSTEM", 435, 261);
  out.back().fixedCount = 10;  // the origin and nine system values
  add("NETWRKIN", 835, 240);
  add("NTNETWRKIN", 2015, 264);
  add("NETSEGMT", 840, 240);
  add("UDPSTATS", V6(v) ? 910 : 845, 243);
  add("TCPSTATS", V6(v) ? 920 : 850, 243);
  add("IPSTATS", V6(v) ? 915 : 855, 243);
  add("ICMPSTAT", 860, 243);
  if (!(M < 5 && I < 4)) {
    add("INDEXSVC", 1070, 243);
    add("INDEXSVCF", 520, 243);
  }
  if (I != 0) {
    add("HTTPCNDX", I < 5 ? 870 : 1100, 243);
    add("ACTSRVPG", I < 4 ? 875 : 470, 243);
    add("IISSTATS", I < 4 ? 890 : 465, 243);
  }
  if (I > 0 && I < 4) {
    add("HTTPSRVC", 865, 243);
    add("FTPSTATS", 885, 243);
    add("GOPHRSVC", 880, 243);
  }
  if (I >= 4) {
    add("WEBSVC", I < 5 ? 480 : 515, 243);
    add("FTPSVC", 475, 243);
    add("NNTPCMD", 495, 243);
    add("NNTPSRV", 500, 243);
    add("SMTPSRV", I < 5 ? 505 : 510, 243);
  }
  add("MSMQIS", 895, 243);
  add("MSMQQUE", 905, 240);
  add("MSMQSVC", 900, 243);
  add("MSMQSESS", M == 6 && (v.productType == 2 || v.productType == 3) ? 1010 : 1005, 240);
  if (M >= 5) {
    add("JOBOBJ", 1050, 243);
    add("JOBOBJD", 1055, 243);
    add("NTJOBOBJD", 2020, 264);
    add("DHCPSRV", 1060, 243);
    add("DNSMEMORY", 1065, 243);
    add("DNSZONET", 1080, 243);
    add("DNSDYNUPD", 1085, 243);
    add("DNSQUERY", 1090, 243);
    add("DNSWINS", 1095, 243);
    add("PRINTQ", 1075, 243);
    add("WTSERVER", 565, 243);
    add("WTSERVERQ", 570, 240);
    add("NTSERVERQ", 2025, 264);
  }
  for (const char* t : {"NTFLCHG", "NTFLTREND", "NTLOGINFO", "NTEVTLOG", "NTPRINTER", "NTPRTJOB", "NTSERVICE",
                        "NTSVCDEP", "NTDEVICE", "NTDEVDEP", "WTREGISTRY", "NTNETWPORT", "NTPROCINFO", "NTBIOSINFO",
                        "NTCOMPINFO", "NTIPADDR", "NTMNTPT"})
    add(t, 0, 0);
  add("OSMRASPT", 440, 240);
  add("OSMRASTOT", 445, 243);
  add("NTCACHE", 450, 243);
  for (const char* t : {"OSMWDGCAP", "OSMWDGMGMT", "OSMWDGSTAT", "OSMWDGALRT"}) add(t, 0, 0);
  return out;
}

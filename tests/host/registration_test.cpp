#include "host/registration.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "tables/catalogue.h"

namespace {

std::map<std::string, TableRegistration> ByName(const PlatformVersion& v) {
  std::map<std::string, TableRegistration> m;
  for (const auto& r : SelectTables(v)) m[r.table] = r;
  return m;
}

PlatformVersion Version(int major, int minor, int product, int iis) {
  PlatformVersion v;
  v.major = major;
  v.minor = minor;
  v.productType = product;
  v.iisMajor = iis;
  return v;
}

TEST(Registration, EveryTableIsInTheCatalogueAndTheTwoWebGenerationsCoverAll) {
  std::set<std::string> all;
  for (int iis : {3, 7}) {
    for (const auto& r : SelectTables(Version(6, 1, 3, iis))) {
      const osm::TableDef* def = osm::FindTable(r.table);
      ASSERT_NE(nullptr, def) << r.table;
      if (r.resourceId) {
        EXPECT_EQ(def->fixedData, r.fixedDataId) << r.table;
        bool listed = def->samples[0].id == r.resourceId || def->samples[1].id == r.resourceId;
        EXPECT_TRUE(listed) << r.table << " " << r.resourceId;
      } else {
        EXPECT_EQ(0, def->samples[0].id) << r.table;
      }
      all.insert(r.table);
    }
  }
  EXPECT_EQ(75u, all.size());
  EXPECT_EQ(osm::TableCount(), all.size());
}

TEST(Registration, OrderStartsAndEndsAsRegistered) {
  auto list = SelectTables(Version(6, 1, 3, 7));
  ASSERT_FALSE(list.empty());
  EXPECT_STREQ("NTPAGEFILE", list.front().table);
  EXPECT_STREQ("OSMWDGALRT", list.back().table);
  EXPECT_STREQ("WTSYSTEM", list[13].table);
  EXPECT_EQ(10, list[13].fixedCount);
  EXPECT_EQ(1, list[0].fixedCount);
  EXPECT_EQ(0, list[2].fixedCount);  // NTPROCRSUM has no description
}

TEST(Registration, WebServerVersionChoosesItsGroup) {
  auto none = ByName(Version(6, 1, 3, 0));
  for (const char* t : {"HTTPCNDX", "ACTSRVPG", "IISSTATS", "HTTPSRVC", "FTPSTATS", "GOPHRSVC", "WEBSVC", "FTPSVC",
                        "NNTPCMD", "NNTPSRV", "SMTPSRV"})
    EXPECT_EQ(0u, none.count(t)) << t;
  EXPECT_EQ(1u, none.count("INDEXSVC"));

  auto iis4 = ByName(Version(5, 0, 3, 4));
  EXPECT_EQ(0u, iis4.count("HTTPSRVC"));
  EXPECT_EQ(480, iis4["WEBSVC"].resourceId);
  EXPECT_EQ(505, iis4["SMTPSRV"].resourceId);
  EXPECT_EQ(470, iis4["ACTSRVPG"].resourceId);
  EXPECT_EQ(465, iis4["IISSTATS"].resourceId);
  EXPECT_EQ(870, iis4["HTTPCNDX"].resourceId);

  auto iis3 = ByName(Version(4, 0, 3, 3));
  EXPECT_EQ(865, iis3["HTTPSRVC"].resourceId);
  EXPECT_EQ(875, iis3["ACTSRVPG"].resourceId);
  EXPECT_EQ(890, iis3["IISSTATS"].resourceId);
  EXPECT_EQ(0u, iis3.count("WEBSVC"));
  EXPECT_EQ(0u, iis3.count("INDEXSVC"));  // below Windows 5 and web server 4

  auto iis5 = ByName(Version(5, 0, 3, 5));
  EXPECT_EQ(515, iis5["WEBSVC"].resourceId);
  EXPECT_EQ(510, iis5["SMTPSRV"].resourceId);
  EXPECT_EQ(1100, iis5["HTTPCNDX"].resourceId);

  auto iis6 = ByName(Version(5, 2, 3, 6));
  EXPECT_EQ(515, iis6["WEBSVC"].resourceId);
  EXPECT_EQ(510, iis6["SMTPSRV"].resourceId);
  EXPECT_EQ(1100, iis6["HTTPCNDX"].resourceId);
}

TEST(Registration, WindowsVersionChoosesDescriptionsAndTables) {
  auto nt4 = ByName(Version(4, 0, 3, 0));
  EXPECT_EQ(410, nt4["WTLOGCLDSK"].resourceId);
  EXPECT_EQ(845, nt4["UDPSTATS"].resourceId);
  EXPECT_EQ(425, nt4["WTPHYSDSK"].resourceId);
  EXPECT_EQ(0u, nt4.count("JOBOBJ"));
  EXPECT_EQ(0u, nt4.count("NTSERVERQ"));
  EXPECT_EQ(460, ByName(Version(3, 51, 3, 0))["WTPHYSDSK"].resourceId);

  auto w2000 = ByName(Version(5, 0, 1, 0));
  EXPECT_EQ(525, w2000["WTLOGCLDSK"].resourceId);
  EXPECT_EQ(850, w2000["TCPSTATS"].resourceId);  // 5.0 is below the V6 line
  EXPECT_EQ(855, ByName(Version(5, 1, 1, 0))["IPSTATS"].resourceId);  // so is 5.1
  EXPECT_EQ(1u, w2000.count("JOBOBJ"));

  auto w2003 = ByName(Version(5, 2, 3, 0));
  EXPECT_EQ(910, w2003["UDPSTATS"].resourceId);
  EXPECT_EQ(920, w2003["TCPSTATS"].resourceId);
  EXPECT_EQ(915, w2003["IPSTATS"].resourceId);
  EXPECT_EQ(1005, w2003["MSMQSESS"].resourceId);

  EXPECT_EQ(1010, ByName(Version(6, 1, 3, 0))["MSMQSESS"].resourceId);  // server
  EXPECT_EQ(1010, ByName(Version(6, 0, 2, 0))["MSMQSESS"].resourceId);  // domain controller
  EXPECT_EQ(1005, ByName(Version(6, 1, 1, 0))["MSMQSESS"].resourceId);  // workstation
  EXPECT_EQ(1005, ByName(Version(10, 0, 3, 0))["MSMQSESS"].resourceId);
}

}  // namespace

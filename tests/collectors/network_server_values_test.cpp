// The network, server and cache tables' own values: saturated bandwidths,
// the choice of an interface's address, and the cases a single test block
// cannot show (no interface sample, several samples of the cache).
#include "collectors/perf/network_values.h"
#include "collectors/perf/server_values.h"

#include <gtest/gtest.h>

#include "tests/collectors/row_block.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace osm::perf;

namespace {

const std::int64_t k100Mb = 100000000, k10Gb = 10000000000;

// The NTNETWRKIN sample of interfaces named "lan" (100 Mb/s) and "fast" (10 Gb/s).
InterfaceBandwidths TwoInterfaces() {
  Rows nt("NTNETWRKIN", 2);
  nt.Text(0, "UINTFINST", "lan").Set64(0, "CURBANDW", k100Mb).Set64(0, "BYTTOTSE", 1250000);
  nt.Text(1, "UINTFINST", "fast").Set64(1, "CURBANDW", k10Gb).Set64(1, "BYTTOTSE", 3000000000);
  InterfaceBandwidths b;
  for (std::size_t i = 0; i < 2; ++i) b.AddRow(nt.Row(i));
  return b;
}

TEST(NetworkInterface, BandwidthUseTakesTheWideBandwidthOrIsUnknown) {
  InterfaceBandwidths two = TwoInterfaces(), none;
  struct Case {
    const char* name;
    std::int32_t bandwidth32, bytes32;
    const InterfaceBandwidths* interfaces;
    std::int32_t use;
  } cases[] = {
      {"lan", 100000000, 1250000, &two, 10},
      {"fast", 2147483647, 1000000000, &two, 80},  // not 373 from the saturated 32-bit bandwidth
      {"fast", 2147483647, 2147483647, &two, 240},  // the byte rate saturated too: 3 GB/s
      {"fast", 2147483647, 1000000000, nullptr, -1},
      {"other", 100000000, 1250000, &none, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rows wt("NETWRKIN", 1);
    wt.Text(0, "UINTFINST", c.name).Set(0, "CURBANDW", c.bandwidth32).Set(0, "BYTTOTSE", c.bytes32);
    CompleteNetwrkinBandwidth(wt.Row(0), c.interfaces);
    EXPECT_EQ(c.use, wt.Get(0, "BANDUTLPCT"));
  }
  Rows nt("NTNETWRKIN", 2);
  nt.Set64(0, "CURBANDW", k10Gb).Set64(0, "BYTTOTSE", 1000000000).Set64(1, "BYTTOTSE", 5);
  for (std::size_t i = 0; i < 2; ++i) CompleteNtNetwrkinBandwidth(nt.Row(i));
  EXPECT_EQ(80, nt.Get(0, "BANDUTLPCT"));
  EXPECT_EQ(0, nt.Get(1, "BANDUTLPCT"));  // no bandwidth
}

TEST(NetworkInterface, TheFirstAddressWithANameIsShownOverBlanks) {
  std::map<std::string, std::string> dns = {
      {"192.0.2.7", "host7"}, {"fec0::7", "site"}, {"2001:db8::7", "host7v6"}, {"fe80::7%3", "local"}};
  AddressResolver resolve = [&dns](const std::string& a, int) { return dns.count(a) ? dns[a] : "NO_DNS_ENTRY"; };
  // Descriptions as the adapter list normalises them ("Adapter (PCI) #2").
  const std::string second = "Adapter [PCI] _2";
  std::vector<osm::inventory::AdapterAddress> list = {
      {"192.0.2.1", "Adapter [PCI]", "", 2},  // another adapter
      {"fec0::7", second, "", 23},            // site-local: never shown
      {"192.0.2.9", second, "", 2},           // no DNS name
      {"2001:db8::7", second, "", 23},        // the first shown
      {"192.0.2.7", second, "", 2},
      {"fe80::7%3", "Loopback", "", 23},
  };
  struct Case {
    const char* table;
    std::string name;
    const char* netAddr;
    const char* global;
    const char* local;
  } cases[] = {
      {"NETWRKIN", second + "          ", "NO_DNS_ENTRY", "2001:db8::7", "NO_DNS_ENTRY"},
      {"NTNETWRKIN", "Loopback", "NO_DNS_ENTRY", "NO_DNS_ENTRY", "fe80::7%3"},
      {"NETWRKIN", "Adapter [PCI]", "NO_DNS_ENTRY", "NO_DNS_ENTRY", "NO_DNS_ENTRY"},
  };
  const std::string stale(52, '9');  // an address left from an earlier sample
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rows r(c.table, 1);
    r.Text(0, "UINTFINST", c.name).Text(0, "NETADDR", stale).Text(0, "GLOBALADDR", stale).Text(0, "LLOCALADDR", stale);
    AssignInterfaceAddress(c.table, r.Row(0), list, resolve);
    EXPECT_EQ(c.netAddr + std::string(16 - std::strlen(c.netAddr), ' '), r.Text(0, "NETADDR"));
    EXPECT_EQ(c.global + std::string(52 - std::strlen(c.global), ' '), r.Text(0, "GLOBALADDR"));
    EXPECT_EQ(c.local + std::string(52 - std::strlen(c.local), ' '), r.Text(0, "LLOCALADDR"));
  }
  // Without a list the fields stay as the sample delivered them.
  Rows r("NETWRKIN", 1);
  AssignInterfaceAddress("NETWRKIN", r.Row(0), {}, resolve);
  EXPECT_EQ(std::string(16, '\0'), r.Text(0, "NETADDR"));
}

TEST(IpStats, FragmentPercentage) {
  const std::int32_t cases[][3] = {{5, 200, 3}, {5, 0, 0}, {0, 1, 0}};  // fragments, datagrams, percent
  for (const auto& c : cases) {
    Rows ip("IPSTATS", 1);
    ip.Set(0, "FRGRECSE", c[0]).Set(0, "DGRECSEC", c[1]);
    CompleteIpStatsRow(ip.Row(0));
    EXPECT_EQ(c[2], ip.Get(0, "DGMFRAGPCT")) << c[0] << "/" << c[1];
  }
}

TEST(Server, EndedSessionsAndTheFastestInterfacesShare) {
  Rows nt("NTNETWRKIN", 2);
  nt.Set64(0, "CURBANDW", 10000000).Set64(1, "CURBANDW", k100Mb);
  InterfaceBandwidths slow, none;
  for (std::size_t i = 0; i < 2; ++i) slow.AddRow(nt.Row(i));
  struct Case {
    std::int32_t errored, forced, loggedOff, timedOut;
    std::int64_t bytes;
    const InterfaceBandwidths* interfaces;
    std::int32_t ended, errorPct, highest;
  } cases[] = {
      {1, 1, 2, 0, 1250000, &slow, 4, 25, 10},
      {0, 0, 0, 0, 1250000, nullptr, 0, 0, -1},
      {2147483647, 1, 0, 0, 1, &none, 2147483647, 100, 800},  // no interface: a bandwidth of 1 bit/s
  };
  for (const Case& c : cases) {
    Rows s("WTSERVER", 1);
    s.Set(0, "SESSERROUT", c.errored).Set(0, "SESSFRCOFF", c.forced).Set(0, "SESSLOGOFF", c.loggedOff);
    s.Set(0, "SESSTIMOUT", c.timedOut).Set(0, "BYTSTOTSEC", 1).Set64(0, "BYTSTOTSE8", c.bytes);
    CompleteWtServerRow(s.Row(0), c.interfaces);
    EXPECT_EQ(c.ended, s.Get(0, "TOTENDSESS"));
    EXPECT_EQ(static_cast<std::int64_t>(c.errored) + c.forced + c.loggedOff + c.timedOut, s.Get64(0, "TOTENDSES8"));
    EXPECT_EQ(c.errorPct, s.Get(0, "ERRSESSPCT"));
    EXPECT_EQ(c.highest, s.Get(0, "HIPRCBTSEC"));
  }
}

TEST(Redirector, CommandsPerInterfaceAndUnknownValues) {
  InterfaceBandwidths two = TwoInterfaces(), none;
  struct Case {
    const InterfaceBandwidths* interfaces;
    std::int32_t highest, perInterface;
  } cases[] = {{&two, 80, 3}, {&none, 2147483647, -1}, {nullptr, -1, -1}};
  for (const Case& c : cases) {
    Rows r("NTREDIRECT", 1);
    r.Set(0, "CURRCMDS", 5).Set64(0, "BYTTOTALP8", 1000000000);
    CompleteNtRedirectRow(r.Row(0), c.interfaces);
    EXPECT_EQ(c.highest, r.Get(0, "HIPRCBTSEC"));
    EXPECT_EQ(c.perInterface, r.Get(0, "HICURMOD"));  // 5 / 2 rounded half up
  }
}

TEST(Cache, AveragesRunOverSamples) {
  CacheAverages averages;
  const std::int32_t hits[] = {80, 100, 100}, expected[] = {80, 90, 95};
  for (int s = 0; s < 3; ++s) {
    Rows c("NTCACHE", 1);
    c.Set(0, "CPRDHPCT", hits[s]).Set(0, "DMPHTPCT", 2147483647).Set(0, "PINDYNAVG", 7);
    averages.Advance(c.Row(0));
    EXPECT_EQ(expected[s], c.Get(0, "COPYDYNAVG"));
    EXPECT_EQ(2147483647, c.Get(0, "DMAPDYNAVG"));  // no overflow on the way
    EXPECT_EQ(0, c.Get(0, "PINDYNAVG"));
  }
}

}  // namespace

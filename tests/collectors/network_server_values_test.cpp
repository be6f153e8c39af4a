// The network, server and cache tables' own values in the cases a test block
// does not reach: no 64-bit interface sample, saturated byte rates, the
// choice of an interface's address, several samples of the cache. The common
// cases run through the framework (framework_test.cpp).
#include "collectors/perf/network_values.h"
#include "collectors/perf/server_values.h"

#include <gtest/gtest.h>

#include "tests/collectors/row_block.h"

#include <map>
#include <string>
#include <vector>

using namespace osm::perf;

namespace {

TEST(NetworkInterface, BandwidthUseIsUnknownWithoutTheWideSample) {
  Rows nt("NTNETWRKIN", 1);
  nt.Text(0, "UINTFINST", "fast").Set64(0, "CURBANDW", 10000000000).Set64(0, "BYTTOTSE", 3000000000);
  InterfaceBandwidths fast, none;
  fast.AddRow(nt.Row(0));
  // A saturated 32-bit byte rate is taken from the wide sample: 3 GB/s on 10 Gb/s.
  struct Case {
    const InterfaceBandwidths* interfaces;
    std::int32_t bytes, use;
  } cases[] = {{&fast, 2147483647, 240}, {&none, 1000, -1}, {nullptr, 1000, -1}};
  for (const Case& c : cases) {
    Rows wt("NETWRKIN", 1);
    wt.Text(0, "UINTFINST", "fast").Set(0, "BYTTOTSE", c.bytes);
    CompleteNetwrkinBandwidth(wt.Row(0), c.interfaces);
    EXPECT_EQ(c.use, wt.Get(0, "BANDUTLPCT"));
  }
}

TEST(NetworkInterface, TheFirstAddressWithANameIsShownOverStaleText) {
  std::map<std::string, std::string> dns = {
      {"192.0.2.7", "a"}, {"fec0::7", "b"}, {"2001:db8::7", "c"}, {"fe80::7", "d"}};
  AddressResolver resolve = [&dns](const std::string& a, int) { return dns.count(a) ? dns[a] : "NO_DNS_ENTRY"; };
  std::vector<osm::inventory::AdapterAddress> list = {
      {"192.0.2.1", "Adapter [PCI]", "", 2},     // another adapter
      {"fec0::7", "Adapter [PCI] _2", "", 23},   // site-local: never shown
      {"192.0.2.9", "Adapter [PCI] _2", "", 2},  // no DNS name
      {"2001:db8::7", "Adapter [PCI] _2", "", 23},
      {"192.0.2.7", "Adapter [PCI] _2", "", 2},  // named, but after the first
      {"fe80::7", "lo", "", 23},
  };
  // {table, interface, expected NETADDR GLOBALADDR LLOCALADDR}
  const char* cases[][3] = {{"NETWRKIN", "Adapter [PCI] _2     ", "NO_DNS_ENTRY 2001:db8::7 NO_DNS_ENTRY"},
                            {"NTNETWRKIN", "lo", "NO_DNS_ENTRY NO_DNS_ENTRY fe80::7"},
                            {"NETWRKIN", "Adapter [PCI]", "NO_DNS_ENTRY NO_DNS_ENTRY NO_DNS_ENTRY"}};
  for (const auto& c : cases) {
    Rows r(c[0], 1);
    std::string stale(52, '9');
    r.Text(0, "UINTFINST", c[1]).Text(0, "NETADDR", stale).Text(0, "GLOBALADDR", stale).Text(0, "LLOCALADDR", stale);
    AssignInterfaceAddress(c[0], r.Row(0), list, resolve);
    std::string shown;
    for (const char* f : {"NETADDR", "GLOBALADDR", "LLOCALADDR"}) {
      std::string text = r.Text(0, f);
      EXPECT_EQ(std::string::npos, text.find('9', text.find(' '))) << f;  // blank after the value
      shown += (shown.empty() ? "" : " ") + text.substr(0, text.find(' '));
    }
    EXPECT_EQ(c[2], shown);
  }
}

TEST(Server, FiguresOfTheFastestInterfaceAreUnknownWithoutItsSample) {
  InterfaceBandwidths none;
  Rows s("WTSERVER", 1);
  s.Set(0, "SESSERROUT", 2147483647).Set(0, "SESSLOGOFF", 1).Set64(0, "BYTSTOTSE8", 1);
  CompleteWtServerRow(s.Row(0), &none);  // no interface: a bandwidth of 1 bit/s
  EXPECT_EQ(2147483647, s.Get(0, "TOTENDSESS"));
  EXPECT_EQ(2147483648, s.Get64(0, "TOTENDSES8"));
  EXPECT_EQ(100, s.Get(0, "ERRSESSPCT"));
  EXPECT_EQ(800, s.Get(0, "HIPRCBTSEC"));
  CompleteWtServerRow(s.Row(0), nullptr);
  EXPECT_EQ(-1, s.Get(0, "HIPRCBTSEC"));
  Rows r("NTREDIRECT", 1);
  CompleteNtRedirectRow(r.Row(0), &none);
  EXPECT_EQ(-1, r.Get(0, "HICURMOD"));  // no interface to share the commands
  CompleteNtRedirectRow(r.Row(0), nullptr);
  EXPECT_EQ(-1, r.Get(0, "HIPRCBTSEC"));
}

TEST(Cache, AveragesRunOverSamples) {
  CacheAverages averages;
  const std::int32_t hits[] = {80, 100, 100}, expected[] = {80, 90, 95};
  for (int s = 0; s < 3; ++s) {
    Rows c("NTCACHE", 1);
    c.Set(0, "CPRDHPCT", hits[s]).Set(0, "DMPHTPCT", 2147483647);
    averages.Advance(c.Row(0));
    EXPECT_EQ(expected[s], c.Get(0, "COPYDYNAVG"));
    EXPECT_EQ(2147483647, c.Get(0, "DMAPDYNAVG"));  // no overflow on the way
  }
}

}  // namespace

// The inventory collectors' platform-free work: services-file names, address
// texts and states, the reverse-lookup budget of a port sample, status and
// name texts, one-time loading, and mount point discovery.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <map>
#include <thread>

#include "collectors/inventory/inventory_text.h"
#include "collectors/inventory/mount_points.h"
#include "collectors/inventory/port_rows.h"
#include "resources/resource_ids.h"

using namespace osm::inventory;

namespace {

TEST(ServicesFile, NamesAPortOnlyByAWholeFieldOutsideComments) {
  const std::vector<std::string> lines = {
      "# telnet 23/tcp is a comment",  "ntp\t123/udp",  "web    80/tcp alias",
      "http 8080/tcp # also 23/udp",   "telnet 23/tcp", "dns 53/udp  domain"};
  struct Case {
    const char* protocol;
    int port;
    const char* name;
  } cases[] = {{"TCP", 80, "web"}, {"TCP6", 80, ""},     {"udp", 23, ""},   {"UDP", 123, "ntp"},
               {"TCP", 23, "telnet"}, {"UDP", 53, "dns"}, {"TCP", 8, ""},    {"TCP", 8080, "http"}};
  for (const Case& c : cases)
    EXPECT_EQ(c.name, ServiceNameOfPort(lines, c.protocol, c.port)) << c.protocol << " " << c.port;
}

TEST(PortFields, AddressesPortsAndStates) {
  const unsigned char v4[4] = {127, 0, 0, 1};
  const unsigned char v6[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0xfc, 0, 0xff, 0xfe, 0, 0, 1};
  EXPECT_EQ("127.0.0.1", AddressText(v4, true));
  EXPECT_EQ("fe80:0:0:0:fc:ff:fe00:1", AddressText(v6, false));
  EXPECT_EQ(80, PortFromNetwork(0x5000));
  EXPECT_EQ(443, PortFromNetwork(0xBB01));
  EXPECT_EQ(2, TcpStateValue(2));
  EXPECT_EQ(12, TcpStateValue(12));
  EXPECT_EQ(-1, TcpStateValue(13));
  EXPECT_EQ(-1, TcpStateValue(0));
}

TEST(PortFields, AcceptedFailuresSetting) {
  struct Case {
    const char* text;
    int value;
    AcceptedFailures::Source source;
  } cases[] = {{nullptr, 30, AcceptedFailures::kMissing}, {"12x", 30, AcceptedFailures::kInvalid},
               {"-1", 30, AcceptedFailures::kInvalid},     {"", 0, AcceptedFailures::kSet},
               {"2", 2, AcceptedFailures::kSet},          {"99999999999999", INT_MAX, AcceptedFailures::kSet}};
  for (const Case& c : cases) {
    AcceptedFailures a = ParseAcceptedFailures(c.text);
    EXPECT_EQ(c.value, a.value) << (c.text ? c.text : "null");
    EXPECT_EQ(c.source, a.source) << (c.text ? c.text : "null");
  }
}

// Endpoints whose addresses end in the given bytes; the lookup answers
// "host<last byte>" for those listed as known and counts its calls.
struct LookupWorld {
  std::map<int, bool> known;
  int calls = 0;
  long long now = 1000;
  long long secondsPerLookup = 0;
  ReverseLookup Lookup() {
    return [this](const unsigned char* a, bool, std::string* name) {
      ++calls;
      now += secondsPerLookup;
      if (!known[a[3]]) return false;
      *name = "host" + std::to_string(a[3]);
      return true;
    };
  }
  SecondsClock Clock() {
    return [this] { return now; };
  }
};

Endpoint Tcp(int local, int remote, std::uint32_t state) {
  Endpoint e;
  e.protocol = "TCP";
  e.local[0] = e.remote[0] = 10;
  e.local[3] = static_cast<unsigned char>(local);
  e.remote[3] = static_cast<unsigned char>(remote);
  e.localPort = 80;
  e.remotePort = state == 2 ? 0 : 5000;
  e.state = TcpStateValue(state);
  return e;
}

TEST(PortRows, OneLookupPerEndpointAndDirectionWithNames) {
  LookupWorld w;
  w.known = {{1, true}, {2, true}, {3, true}};
  Endpoint udp;
  udp.protocol = "UDP";
  udp.local[3] = 3;
  udp.localPort = 53;
  std::vector<RowRecord> rows =
      BuildPortRows({Tcp(1, 2, 5), Tcp(1, 0, 2), udp}, {"dns 53/udp"}, 30, w.Lookup(), w.Clock());
  ASSERT_EQ(3u, rows.size());
  EXPECT_EQ(5, w.calls);  // two per TCP endpoint, one for UDP
  EXPECT_EQ("host1", rows[0].TextOf("LOCALNAME"));
  EXPECT_EQ("host2", rows[0].TextOf("REMOTENAME"));
  EXPECT_EQ("10.0.0.2", rows[0].TextOf("REMOTEADDR"));
  EXPECT_EQ(2, rows[1].Int32Of("STATE"));
  EXPECT_EQ(0, rows[1].Int32Of("REMOTEPT"));
  EXPECT_EQ("UDP", rows[2].TextOf("PROTOCOL"));
  EXPECT_EQ(kUdpState, rows[2].Int32Of("STATE"));
  EXPECT_EQ(0, rows[2].Int32Of("REMOTEPT"));
  EXPECT_EQ("", rows[2].TextOf("REMOTEADDR"));
  EXPECT_EQ("dns", rows[2].TextOf("LOCPTNAM"));
  EXPECT_EQ("host3", rows[2].TextOf("LOCALNAME"));
}

TEST(PortRows, TooManyFailuresBlankThatDirectionInEveryRow) {
  LookupWorld w;
  w.known = {{1, true}, {9, true}};  // local 1 resolves, locals 2..4 fail; remote 9 resolves
  std::vector<RowRecord> rows = BuildPortRows({Tcp(1, 9, 5), Tcp(2, 9, 5), Tcp(3, 9, 5), Tcp(4, 9, 5), Tcp(5, 9, 5)},
                                              {}, 2, w.Lookup(), w.Clock());
  ASSERT_EQ(5u, rows.size());
  EXPECT_EQ(4 + 5, w.calls);  // the third local failure ends local lookups
  for (const RowRecord& r : rows) {
    EXPECT_EQ("", r.TextOf("LOCALNAME"));
    EXPECT_EQ("host9", r.TextOf("REMOTENAME"));
  }
}

TEST(PortRows, LookupsPastTheTimeBudgetBlankAllNames) {
  LookupWorld w;
  w.known = {{1, true}, {9, true}};
  w.secondsPerLookup = 41;  // budget 4 x 30 s: passed during the second endpoint
  std::vector<RowRecord> rows =
      BuildPortRows({Tcp(1, 9, 5), Tcp(1, 9, 5), Tcp(1, 9, 5)}, {}, 30, w.Lookup(), w.Clock());
  EXPECT_EQ(4, w.calls);
  for (const RowRecord& r : rows) {
    EXPECT_EQ("", r.TextOf("LOCALNAME"));
    EXPECT_EQ("", r.TextOf("REMOTENAME"));
    EXPECT_EQ("10.0.0.1", r.TextOf("LOCALADDR"));
  }
}

TEST(InventoryText, StatusWords) {
  EXPECT_EQ(":Ready:", PrinterStatusText(0, 0));
  EXPECT_EQ(":Check Jobs:", PrinterStatusText(0, 3));
  EXPECT_EQ(":Paused:Error:", PrinterStatusText(0x3, 3));
  EXPECT_EQ(":Busy:Paper Jam:Power Save:", PrinterStatusText(0x1000208, 0));
  EXPECT_EQ(":Waiting:", JobStatusText(0));
  EXPECT_EQ(":Spooling:Printing:User Intervention:", JobStatusText(0x418));
}

TEST(InventoryText, NameIdsAddressVersionsAndAdapters) {
  EXPECT_EQ(IDS_STATE_FIRST + 4u, NameIdOf(kServiceStateNames, 4, "8"));
  EXPECT_EQ(IDS_NAME_UNKNOWN + 0u, NameIdOf(kServiceStateNames, 8, "8"));
  EXPECT_EQ(IDS_NAME_UNKNOWN + 0u, NameIdOf(kStartTypeNames, 0xFFFFFFFFu, "5"));
  EXPECT_EQ(IDS_START_TYPE_FIRST + 3u, NameIdOf(kStartTypeNames, 3, "5"));
  EXPECT_EQ(4, IpVersionOf("192.0.2.2"));
  EXPECT_EQ(6, IpVersionOf("fe80::1%eth0"));
  EXPECT_EQ(10, IpVersionOf("::ffff:192.0.2.2"));
  EXPECT_EQ("Adapter [2] a_b_c _2", NormalisedAdapterName("Adapter (2) a/b\\c #2"));
  const unsigned char mac[] = {0x02, 0xfc, 0, 0xab};
  EXPECT_EQ("02fc00ab", HardwareAddressText(mac, 4));
  EXPECT_EQ("a | b", JoinWmiTexts({"a", "b"}));
}

TEST(MadeOnce, TwoFirstCallersMakeTheValueOnceAndAFailedMakeIsRepeated) {
  MadeOnce<int> value;
  std::atomic<int> makes{0};
  auto slowMake = [&makes] {
    ++makes;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return std::make_shared<const int>(7);
  };
  std::thread a([&] { EXPECT_EQ(7, *value.Get(slowMake)); });
  std::thread b([&] { EXPECT_EQ(7, *value.Get(slowMake)); });
  a.join();
  b.join();
  EXPECT_EQ(1, makes.load());

  MadeOnce<int> retried;
  EXPECT_EQ(nullptr, retried.Get([] { return std::shared_ptr<const int>(); }));
  EXPECT_EQ(5, *retried.Get([] { return std::make_shared<const int>(5); }));
}

class FakeVolumes : public VolumeSource {
 public:
  std::map<std::string, std::string> mounted;             // path -> volume
  std::map<std::string, std::vector<std::string>> folders;  // volume -> mount points
  std::vector<std::string> unreadable, withoutMountPoints;
  bool VolumeNameOf(const std::string& path, std::string* volume) override {
    auto it = mounted.find(path);
    if (it == mounted.end()) return false;
    *volume = it->second;
    return true;
  }
  std::vector<std::string> Volumes() override {
    std::vector<std::string> out;
    for (auto& f : folders) out.push_back(f.first);
    return out;
  }
  bool SupportsMountPoints(const std::string& v) override { return !Listed(withoutMountPoints, v); }
  std::vector<std::string> MountPoints(const std::string& v) override { return folders[v]; }
  bool CanList(const std::string& pattern) override { return !Listed(unreadable, pattern); }

 private:
  static bool Listed(const std::vector<std::string>& list, const std::string& s) {
    for (const std::string& x : list)
      if (x == s) return true;
    return false;
  }
};

TEST(MountPoints, FoldersOfLetteredDrivesOnly) {
  FakeVolumes v;
  v.mounted = {{"C:\\", "VC"}, {"Z:\\", "VZ"}, {"E:\\", "VE"}, {"C:\\Data\\", "VD"},
               {"C:\\Off\\", "VO"}, {"Z:\\Mnt\\", "VM"}};
  v.folders = {{"VC", {"Data\\", "Off\\", "Gone\\"}}, {"VZ", {"Mnt\\"}}, {"VE", {"X\\"}}, {"VD", {}}};
  v.unreadable = {"C:\\Off\\*"};
  v.withoutMountPoints = {"VE"};
  std::vector<MountPoint> m = DiscoverMountPoints(v);
  ASSERT_EQ(2u, m.size());
  EXPECT_EQ("C:\\", m[0].root);
  EXPECT_EQ("C:\\Data\\", m[0].path);
  EXPECT_EQ("VD", m[0].volume);
  EXPECT_EQ("READY", m[0].state);
  EXPECT_EQ("C:\\Off\\", m[1].path);
  EXPECT_EQ("NOT_READY", m[1].state);
}

}  // namespace

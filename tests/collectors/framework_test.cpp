// The collectors run through the framework over a test block: the counter
// service (linked in) reads the block file, the table loader registers every
// table with a collector, the framework answers one report per table, and
// the rows it writes are checked against the block.
#include <winsock2.h>

#include "collectors/perf/machine_tables.h"
#include "collectors/perf/service_app_tables.h"
#include "collectors/perf/service_app_values.h"
#include "collectors/perf/system_identity.h"
#include "framework/cfw.h"
#include "host/mxmain.h"
#include "host/registration.h"
#include "host/table_binding.h"
#include "perfclient/osmclient.h"
#include "perfsvc/osmperf_server.h"
#include "support/fields.h"
#include "tables/catalogue.h"
#include "tests/perfsvc/perf_block_builder.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::uint64_t kGiB = 1024ull * 1024 * 1024;
const std::uint32_t kLargeRawCount = 0x00010100;  // PERF_COUNTER_LARGE_RAWCOUNT: the value as it is

std::string LoadText(UINT id) {
  char buffer[4096];
  int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string Trim(const std::string& s) {
  std::size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

template <class T>
std::vector<T> Numbers(const std::string& text) {
  std::istringstream in(text);
  std::vector<T> out;
  T v;
  while (in >> v) out.push_back(v);
  return out;
}

// One sample description: its object, columns and where they land.
struct Description {
  std::string object;
  std::vector<std::string> counters;  // column names, "_INSTANCE_" included
  std::vector<int> offsets, types;
  std::vector<double> scales;
  bool PerInstance() const {
    for (int t : types)
      if (t == 3 || t == 4) return true;
    return false;
  }
};

Description Describe(UINT id) {
  Description d;
  std::string header = LoadText(id);
  std::size_t open = header.find('('), close = header.rfind(')');
  std::istringstream head(header.substr(0, open));
  int n, r, x;
  head >> n >> r >> x;
  std::string rest;
  std::getline(head, rest);
  d.object = Trim(rest);
  std::istringstream names(header.substr(open + 1, close - open - 1));
  names >> n;
  std::string name;
  while (std::getline(names, name, ',')) d.counters.push_back(Trim(name));
  d.offsets = Numbers<int>(LoadText(id + 2));
  d.scales = Numbers<double>(LoadText(id + 3));
  d.types = Numbers<int>(LoadText(id + 4));
  return d;
}

// The test block: every object the registered tables describe, each counter
// with a value of its own unless the test fixes it.
class World {
 public:
  // The value of a counter in an object (the same in every instance).
  std::uint64_t Value(const std::string& object, const std::string& counter) {
    auto fixed = fixed_.find(object + "|" + counter);
    if (fixed != fixed_.end()) return fixed->second;
    std::uint64_t h = 17;
    for (char c : object + "|" + counter) h = (h * 131 + static_cast<unsigned char>(c)) % 900000;
    return 1000 + h;
  }
  void Fix(const std::string& object, const std::string& counter, std::uint64_t value) {
    fixed_[object + "|" + counter] = value;
  }
  void FixInstance(const std::string& object, const std::string& instance, const std::string& counter,
                   std::uint64_t value) {
    fixed_[object + "|" + instance + "|" + counter] = value;
  }
  void Instances(const std::string& object, std::vector<std::string> names) { instances_[object] = names; }
  std::vector<std::string> InstancesOf(const std::string& object) {
    auto it = instances_.find(object);
    return it != instances_.end() ? it->second : std::vector<std::string>{object + "-1"};
  }
  void Add(const Description& d) {
    Obj& o = objects_[d.object];
    o.perInstance = o.perInstance || d.PerInstance();
    for (std::size_t i = 0; i < d.counters.size(); ++i)
      if (d.types[i] != 3 && d.types[i] != 4) {
        if (std::find(o.counters.begin(), o.counters.end(), d.counters[i]) == o.counters.end())
          o.counters.push_back(d.counters[i]);
        // Scaled up, a counter must stay small to fit its column.
        if (d.scales[i] > 1 && !fixed_.count(d.object + "|" + d.counters[i])) Fix(d.object, d.counters[i], 2);
      }
  }
  // Writes the names and block files.
  void Write(const std::string& namesPath, const std::string& blockPath) {
    perfbuild::BlockBuilder b;
    b.SystemTime(2024, 5, 6, 7, 8, 9, 100).PerfTime(1000).PerfFreq(10000000);
    for (auto& entry : objects_) {
      perfbuild::ObjectSpec& o = b.Object(Index(entry.first));
      for (const std::string& c : entry.second.counters) o.Counter(Index(c), kLargeRawCount, 8);
      if (!entry.second.perInstance) {
        std::vector<std::uint64_t> values;
        for (const std::string& c : entry.second.counters) values.push_back(Value(entry.first, c));
        o.Values(values);
        continue;
      }
      for (const std::string& inst : InstancesOf(entry.first)) {
        std::vector<std::uint64_t> values;
        for (const std::string& c : entry.second.counters) {
          auto fixed = fixed_.find(entry.first + "|" + inst + "|" + c);
          values.push_back(fixed != fixed_.end() ? fixed->second : Value(entry.first, c));
        }
        o.Instance(std::u16string(inst.begin(), inst.end()), values);
      }
    }
    perfbuild::NameList names;
    for (auto& n : index_) names.emplace_back(n.second, n.first);
    ASSERT_TRUE(perfbuild::WriteNamesFile(namesPath, names));
    ASSERT_TRUE(perfbuild::WriteBlockFile(blockPath, b.Build()));
  }

 private:
  struct Obj {
    bool perInstance = false;
    std::vector<std::string> counters;
  };
  std::uint32_t Index(const std::string& name) {
    auto it = index_.find(name);
    if (it != index_.end()) return it->second;
    std::uint32_t i = static_cast<std::uint32_t>(2 + 2 * index_.size());
    index_[name] = i;
    return i;
  }
  std::map<std::string, Obj> objects_;
  std::map<std::string, std::uint32_t> index_;
  std::map<std::string, std::uint64_t> fixed_;
  std::map<std::string, std::vector<std::string>> instances_;
};

// The tables this test registers: those of a web server 6 and of a web
// server 3 together, so that every plain table is present once.
std::vector<TableRegistration> Registrations() {
  PlatformVersion v;
  v.major = 6;
  v.minor = 1;
  v.productType = 1;
  std::vector<TableRegistration> out;
  std::set<std::string> seen;
  for (int iis : {6, 3}) {
    v.iisMajor = iis;
    for (const TableRegistration& r : SelectTables(v))
      if (seen.insert(r.table).second) out.push_back(r);
  }
  return out;
}

// The table loader of the test: what LoadAgents does, for the tables above.
int TestLoader() {
  std::string origin = "TESTNODE";
  origin.resize(64, ' ');
  SetOriginNodeName(origin.data(), 65);
  char scratch[4096];
  for (const TableRegistration& r : Registrations()) {
    if (!TableHasCollector(r.table)) continue;
    if (!r.resourceId) {  // a table of no sample of its own
      RegisterTable(r.table);
      continue;
    }
    OsmSampleBfr* buffer = OsmTableSampleBuffer(r.table);
    std::string name = std::string("OSM.") + r.table;
    if (!InitializeBfr(buffer, name.c_str(), static_cast<UINT>(r.resourceId), scratch, sizeof scratch)) continue;
    RegisterTable(r.table);
    OsmStartInterface(buffer, static_cast<UINT>(r.resourceId), static_cast<UINT>(r.fixedDataId), "_ORIGIN_",
                      origin.data(), 64, static_cast<UINT>(r.fixedCount));
    if (std::strcmp(r.table, "WTSYSTEM") == 0) osm::perf::HandOverSystemFixedData(buffer);
  }
  return 0;
}

osm::perf::MemoryStatus EightGiB() {
  osm::perf::MemoryStatus m;
  m.ok = true;
  m.totalPhys = 8 * kGiB;
  m.totalPageFile = 12 * kGiB;
  m.availPageFile = 10 * kGiB;
  return m;
}

// The message-queuing runtime as a machine below Windows 6 with two active
// queues would answer, in the runtime's own record layout.
const std::string kLongQueue = "node\\private$\\orders-" + std::string(50, 'o');  // 72 characters
const std::string kGoneQueue = "node\\private$\\gone-" + std::string(50, 'g');
int g_queueAllocations = 0;

HRESULT WINAPI FakeMgmtGetInfo(LPCWSTR computer, LPCWSTR object, MQMGMTPROPS* props) {
  if (computer || std::wstring(object) != L"MACHINE" || props->aPropID[0] != PROPID_MGMT_MSMQ_ACTIVEQUEUES)
    return E_INVALIDARG;
  const std::wstring names[] = {L"", L"node\\private$\\other",
                                L"DIRECT=OS:" + std::wstring(kLongQueue.begin(), kLongQueue.end())};
  MQPROPVARIANT& v = props->aPropVar[0];
  v.vt = VT_VECTOR | VT_LPWSTR;
  v.calpwstr.cElems = 3;
  v.calpwstr.pElems = static_cast<LPWSTR*>(CoTaskMemAlloc(3 * sizeof(LPWSTR)));
  for (int i = 0; i < 3; ++i) {
    v.calpwstr.pElems[i] = static_cast<LPWSTR>(CoTaskMemAlloc((names[i].size() + 1) * sizeof(wchar_t)));
    std::memcpy(v.calpwstr.pElems[i], names[i].c_str(), (names[i].size() + 1) * sizeof(wchar_t));
  }
  g_queueAllocations += 4;
  return S_OK;
}
VOID WINAPI FakeFreeMemory(PVOID memory) {
  CoTaskMemFree(memory);
  --g_queueAllocations;
}
const osm::perf::MqRuntime& FakeMqRuntime() {
  static const osm::perf::MqRuntime runtime = {&FakeMgmtGetInfo, &FakeFreeMemory};
  return runtime;
}
std::string WindowsServer2003() { return "5.2"; }

// A JSON Lines row, read by attribute.
struct JsonRow {
  std::string line;
  bool Has(const std::string& name) const { return line.find("\"" + name + "\":") != std::string::npos; }
  long long Int(const std::string& name) const {
    std::size_t at = line.find("\"" + name + "\":");
    if (at == std::string::npos) return -999999999;
    return std::strtoll(line.c_str() + at + name.size() + 3, nullptr, 10);
  }
  std::string Text(const std::string& name) const {
    std::size_t at = line.find("\"" + name + "\":\"");
    if (at == std::string::npos) return "<missing>";
    std::string text;
    for (at += name.size() + 4; at < line.size() && line[at] != '"'; ++at) {
      if (line[at] == '\\' && at + 1 < line.size()) ++at;  // an escaped character
      text.push_back(line[at]);
    }
    return text;
  }
  // The attributes' values, texts and numbers, joined by blanks.
  std::string Join(std::initializer_list<const char*> names) const {
    std::string out;
    for (const char* n : names) {
      std::string text = Text(n);
      out += (out.empty() ? "" : " ") + (text != "<missing>" ? text : std::to_string(Int(n)));
    }
    return out;
  }
};

// The attribute that receives a column of a description.
std::string AttributeAt(const char* table, int offset) {
  const osm::TableDef* t = osm::FindTable(table);
  for (std::uint32_t i = 0; t && i < t->attrCount; ++i)
    if (t->attrs[i].offset == offset) return t->attrs[i].name;
  return "?";
}

class ThroughFramework : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char dir[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, dir);
    std::string base = std::string(dir) + "\\collectors_fw";
    names_ = base + ".names";
    block_ = base + ".block";
    requests_ = base + ".requests";
    output_ = base + ".jsonl";
    DeleteFileA(output_.c_str());

    World world;
    for (const TableRegistration& r : Registrations())
      if (r.resourceId && TableHasCollector(r.table)) {
        Description d = Describe(static_cast<UINT>(r.resourceId));
        world.Add(d);
        descriptions_[r.table] = d;
      }
    // The values the derived columns are checked on.
    world.Fix("Memory", "Cache Bytes", kGiB);            // 1048576 KB: 12.5 % of 8 GiB
    world.Fix("Memory", "Available Bytes", 2 * kGiB - 1);
    world.Fix("Memory", "Committed Bytes", kGiB / 2);
    world.Fix("Memory", "Commit Limit", 3 * kGiB / 2);
    world.Fix("System", "System Up Time", 259199);  // 2.99 days
    world.Fix("System", "Processor Queue Length", 1000);
    // Per instance, one row of the named counters' values.
    auto fixRows = [&world](const char* object, std::vector<std::string> instances, std::vector<const char*> counters,
                            std::vector<std::vector<std::uint64_t>> values) {
      world.Instances(object, instances);
      for (std::size_t i = 0; i < values.size(); ++i)
        for (std::size_t c = 0; c < counters.size(); ++c)
          world.FixInstance(object, instances[i], counters[c], values[i][c]);
    };
    fixRows("Process", {"Idle", "busy", "_Total"}, {"% Processor Time", "ID Process"}, {{10, 1}, {250, 4242}, {999, 0}});
    world.FixInstance("Process", "_Total", "Working Set", 858993459);
    // Two processors tie on time, two impossible times, one ties with a corrected one.
    fixRows("Processor", {"0", "1", "2", "3", "4", "_Total"},
            {"% Processor Time", "% Privileged Time", "% User Time", "Interrupts/sec"},
            {{40, 10, 30, 100}, {40, 11, 29, 300}, {120, 30, 20, 50}, {4294967295u, 70, 45, 50}, {100, 60, 40, 500},
             {150, 60, 30, 900}});
    // C and D on disk 2, E on disk 1; mounted and device-named volumes.
    fixRows("PhysicalDisk", {"2 C: D:", "1 E:", "_Total"},
            {"% Disk Time", "% Idle Time", "% Disk Read Time", "% Disk Write Time"},
            {{80, 30, 60, 50}, {20, 110, 5, 5}, {0, 0, 0, 0}});
    world.Fix("PhysicalDisk", "Avg. Disk Bytes/Read", 0x100000005ull);
    world.Instances("LogicalDisk", {"C:", "E:", "Q:", "C:\\mnt\\fat", "HarddiskVolume1", "X", "_Total"});
    world.Fix("LogicalDisk", "% Free Space", 25);
    world.Fix("LogicalDisk", "Free Megabytes", 500);
    world.Instances("Paging File", {"C:\\pagefile.sys", "D:\\pagefile.sys"});
    // A 100 Mb/s and a 10 Gb/s interface; the server, redirector, IP and cache figures.
    fixRows("Network Interface", {"lan", "fast"}, {"Current Bandwidth", "Bytes Total/sec"},
            {{100000000, 1250000}, {10000000000ull, 1000000000}});
    world.Fix("IPv4", "Fragments Received/sec", 5);
    world.Fix("IPv4", "Datagrams Received/sec", 200);
    world.Fix("Server", "Sessions Errored Out", 1);
    world.Fix("Server", "Sessions Forced Off", 1);
    world.Fix("Server", "Sessions Logged Off", 2);
    world.Fix("Server", "Sessions Timed Out", 0);
    world.Fix("Server", "Bytes Total/sec", 125000000);
    world.Fix("Redirector", "Bytes Total/sec", 1000000000);
    world.Fix("Redirector", "Current Commands", 5);
    world.Fix("Cache", "Copy Read Hits %", 80);
    world.Instances("MSMQ Queue", {kLongQueue, kGoneQueue, "node\\short"});
    world.Instances("Print Queue", {"Laser", "_Total"});
    world.Fix("Print Queue", "Job Errors", 25);
    world.Fix("Print Queue", "Not Ready Errors", 15);
    world.Fix("Print Queue", "Out of Paper Errors", 4);
    world.Write(names_, block_);
    world_ = new World(world);

    std::ofstream req(requests_);
    for (const auto& d : descriptions_) req << "report r-" << d.first << " " << d.first << "\n";
    req << "report r-NTPROCRSUM NTPROCRSUM\n";
    req.close();

    SetEnvironmentVariableA("OSM_PERFNAMES_FILE", names_.c_str());
    SetEnvironmentVariableA("OSM_PERFDATA_FILE", block_.c_str());
    SetEnvironmentVariableA("NT_PERFMON_MEMORY_CHECK", "0");
    SetEnvironmentVariableA("OSM_REQUESTS", requests_.c_str());
    SetEnvironmentVariableA("OSM_OUTPUT", output_.c_str());
    SetEnvironmentVariableA("OSM_EXIT_WHEN_DONE", "Y");
    SetEnvironmentVariableA("OSM_FRAMEWORK_LOG", (base + ".log").c_str());

    osm::perf::MemoryStatusHook() = &EightGiB;
    osm::perf::QueueNameSourcesHook() = {&WindowsServer2003, &FakeMqRuntime};
    CoInitialize(nullptr);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, osmperf::OsmDllGetClassObject(CLSID_OsmKounter, IID_IClassFactory,
                                                  reinterpret_cast<void**>(&factory)));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IOsmKount, reinterpret_cast<void**>(&g_osmKount)));
    factory->Release();
    ASSERT_EQ(S_OK, g_osmKount->Initialize(5, 0, nullptr));

    DCF_RegisterAgentLoader(&TestLoader);
    char name[] = "mx_agent";
    char empty[] = "";
    char* argv[] = {name, empty, nullptr};
    ASSERT_EQ(0, cfwmain(1, argv));

    std::ifstream in(output_);
    std::string line;
    while (std::getline(in, line))
      if (line.find("\"record\":\"row\"") != std::string::npos) {
        std::size_t at = line.find("\"table\":\"") + 9;
        rows_[line.substr(at, line.find('"', at) - at)].push_back(JsonRow{line});
      }
  }
  static void TearDownTestSuite() {
    if (g_osmKount) {
      g_osmKount->Terminate();
      g_osmKount->Release();
      g_osmKount = nullptr;
    }
    osm::perf::MemoryStatusHook() = nullptr;
    osm::perf::QueueNameSourcesHook() = saved_queue_sources_;
    for (const std::string& f : {names_, block_, requests_, output_}) DeleteFileA(f.c_str());
  }

  static std::string names_, block_, requests_, output_;
  static std::map<std::string, Description> descriptions_;
  static std::map<std::string, std::vector<JsonRow>> rows_;
  static World* world_;
  static osm::perf::QueueNameSources saved_queue_sources_;

  // Every row of the table holds the block's values, but in the attributes
  // that its collector fills itself.
  static void ExpectBlockRows(const char* table, const std::set<std::string>& own = {}) {
    SCOPED_TRACE(table);
    ASSERT_TRUE(descriptions_.count(table)) << "not registered";
    const Description& d = descriptions_[table];
    std::vector<std::string> instances = d.PerInstance() ? world_->InstancesOf(d.object) : std::vector<std::string>{""};
    const std::vector<JsonRow>& rows = rows_[table];
    ASSERT_EQ(instances.size(), rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
      EXPECT_EQ("TESTNODE", rows[r].Text("ORIGINNODE"));
      for (std::size_t c = 0; c < d.counters.size(); ++c) {
        std::string attr = AttributeAt(table, d.offsets[c]);
        if (own.count(attr)) continue;
        if (d.types[c] == 3 || d.types[c] == 4) {
          EXPECT_EQ(instances[r], rows[r].Text(attr)) << attr;
          continue;
        }
        double expected = static_cast<double>(world_->Value(d.object, d.counters[c])) * d.scales[c];
        EXPECT_LE(std::fabs(static_cast<double>(rows[r].Int(attr)) - expected), 1.0)
            << attr << " (" << d.counters[c] << ")";
      }
    }
  }
};
std::string ThroughFramework::names_, ThroughFramework::block_, ThroughFramework::requests_,
    ThroughFramework::output_;
std::map<std::string, Description> ThroughFramework::descriptions_;
std::map<std::string, std::vector<JsonRow>> ThroughFramework::rows_;
World* ThroughFramework::world_ = nullptr;
osm::perf::QueueNameSources ThroughFramework::saved_queue_sources_ = osm::perf::QueueNameSourcesHook();


TEST_F(ThroughFramework, EveryPlainTableReportsTheBlocksValues) {
  const char* plain[] = {"NTPAGEFILE", "WTOBJECTS", "WTTHREAD", "JOBOBJ", "JOBOBJD", "NTJOBOBJD", "NETSEGMT",
                         "UDPSTATS", "TCPSTATS", "ICMPSTAT", "WTSERVERQ", "NTSERVERQ", "HTTPSRVC", "FTPSTATS",
                         "GOPHRSVC", "HTTPCNDX", "ACTSRVPG", "IISSTATS", "FTPSVC", "NNTPCMD", "NNTPSRV", "INDEXSVC",
                         "INDEXSVCF", "MSMQIS", "MSMQSVC", "MSMQSESS", "DHCPSRV", "DNSMEMORY", "DNSZONET",
                         "DNSDYNUPD", "DNSQUERY", "DNSWINS", "OSMRASPT", "OSMRASTOT"};
  for (const char* table : plain) ExpectBlockRows(table);
}

TEST_F(ThroughFramework, MemoryTablesDeriveFromTheBlockAndTheMemorySize) {
  ASSERT_EQ(1u, rows_["WTMEMORY"].size());
  const JsonRow& wt = rows_["WTMEMORY"][0];
  EXPECT_EQ(2147483647, wt.Int("TOTMEMBYTE"));
  EXPECT_EQ(8388608, wt.Int("TOTMEMKB"));
  EXPECT_EQ(8192, wt.Int("TOTMEMMB"));
  EXPECT_EQ(1048576, wt.Int("CACHEKB"));
  EXPECT_EQ(13, wt.Int("CACHEPCT"));  // 12.5 rounded half up
  EXPECT_EQ(25, wt.Int("AVAILPCT"));
  EXPECT_EQ(6, wt.Int("MEMUPCT"));    // 6.25
  EXPECT_EQ(wt.Int("COMMITLKB") - wt.Int("COMMKBYTE"), wt.Int("COMAVLKBYT"));
  EXPECT_EQ(1048576, wt.Int("COMAVLKBYT"));
  EXPECT_EQ(858993459, wt.Int("TOTWSBYTES"));
  EXPECT_EQ(10, wt.Int("TOTWSPCT"));

  ASSERT_EQ(1u, rows_["NTMEMORY"].size());
  const JsonRow& nt = rows_["NTMEMORY"][0];
  EXPECT_EQ(8589934592ll, nt.Int("TOTMEMBYTE"));
  EXPECT_EQ(8388608, nt.Int("TOTMEMKB"));
  EXPECT_EQ(1048576, nt.Int("CACHEKB"));
  EXPECT_EQ(1572864, nt.Int("COMMITLKB"));
  EXPECT_EQ(524288, nt.Int("COMMKBYTE"));
  EXPECT_EQ(1048576, nt.Int("COMAVLKBYT"));
  EXPECT_EQ(858993459, nt.Int("TOTWSBYTES"));
  EXPECT_EQ(838860, nt.Int("TOTWSKBYTE"));
  EXPECT_EQ(13, nt.Int("CACHEPCT"));
}

TEST_F(ThroughFramework, SystemTableCarriesTheIdentityAndItsDerivedValues) {
  ASSERT_EQ(1u, rows_["WTSYSTEM"].size());
  const JsonRow& s = rows_["WTSYSTEM"][0];
  const osm::perf::SystemIdentity& id = osm::perf::SystemIdentityRecord();
  EXPECT_EQ(2, s.Int("SYSUPDAYS"));  // 259199 seconds
  EXPECT_EQ(id.processors, s.Int("NUMOFPRCSR"));
  EXPECT_EQ(1000 - id.processors, s.Int("PRCQEX"));
  EXPECT_EQ(90, s.Int("PCTTLPCSRT"));  // 150 corrected to 60 + 30
  EXPECT_EQ(60, s.Int("PCTTLPRIVT"));
  EXPECT_EQ(30, s.Int("PCTTLUSERT"));
  EXPECT_EQ(8192, s.Int("TOTMEMMB"));
  EXPECT_EQ(2048, s.Int("PAGEFILEMB"));
  EXPECT_EQ(id.logicalProcessors, s.Int("NUMLPRCSR"));
  EXPECT_EQ(osm::perf::GetLogicalProcessorCount(), s.Int("NUMLPRCSR"));
  EXPECT_EQ(id.pageSize, s.Int("PAGESIZE"));
  EXPECT_EQ(Trim(std::string(id.osType, 16)), s.Text("OSTYPE"));
  EXPECT_EQ(Trim(std::string(id.osVersion, 8)), s.Text("VERSION"));
  EXPECT_EQ(Trim(std::string(id.userName, 64)), s.Text("USERNAME"));
  EXPECT_EQ(Trim(osm::perf::NetworkAddressFixedValue(id).substr(0, 16)), s.Text("NETADDRESS"));
  EXPECT_NE("<missing>", s.Text("NETADDR6"));
  EXPECT_EQ(static_cast<long long>(world_->Value("System", "File Read Bytes/sec")), s.Int("FLEREADBT8"));
}

TEST_F(ThroughFramework, ProcessorTablesCorrectTimesAndSummarize) {
  const std::vector<JsonRow>& cpus = rows_["NTPROCSSR"];
  const long long corrected[] = {40, 40, 50, 100, 100, 90};
  ASSERT_EQ(6u, cpus.size());
  for (std::size_t i = 0; i < cpus.size(); ++i) EXPECT_EQ(corrected[i], cpus[i].Int("PROCTIME")) << i;

  ASSERT_EQ(1u, rows_["NTPROCRSUM"].size());
  const JsonRow& s = rows_["NTPROCRSUM"][0];
  // "4" ties with "3" on time and has more interrupts; "0" ties with "1" and has fewer.
  EXPECT_EQ("4 100 500 0 100", s.Join({"TOPCPUNAME", "TOPCPUTIME", "TOPINTSEC", "LOWCPUNAME", "LOWINTSEC"}));
  EXPECT_EQ("60 50 10", s.Join({"PROCDIFF", "PRIVDIFF", "USERDIFF"}));
  EXPECT_EQ("busy 4242 250", s.Join({"TOPPROCNAM", "TOPPROCID", "TOPPROCCPU"}));
  EXPECT_EQ(250 / osm::perf::SystemIdentityRecord().processors, s.Int("TOPPROCAVG"));
}

TEST_F(ThroughFramework, DiskTablesAdjustTimesMapDrivesAndSizeVolumes) {
  const std::vector<JsonRow>& disks = rows_["WTPHYSDSK"];
  const char* expectedDisks[] = {"70 30 52 43 2 5", "0 100 0 0 1 5", "0 0 0 0  5"};
  ASSERT_EQ(3u, disks.size());
  for (std::size_t d = 0; d < 3; ++d)
    EXPECT_EQ(expectedDisks[d],
              disks[d].Join({"PCTDSKTIME", "PCTDSKIDTM", "PCTDSKRDTM", "PCTDSKWRTM", "DISKNUMBER", "AVGDSKBYTS"}));

  ULARGE_INTEGER callerFree, total, free;
  ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &callerFree, &total, &free));
  long long c = static_cast<long long>((total.QuadPart + 524288) / 1048576);
  // E and Q are no drives here; no volume is mounted at C:\mnt\fat, so its
  // size comes from the free space counters; under Wine the file system
  // refuses the volume-data request.
  const std::string expected[] = {"C: " + std::to_string(c) + " 75 2", "E: 0 75 1", "Q: 0 75 0",
                                  "C:\\mnt\\fat 2000 75 Mnt", "HarddiskVolume1 0 75 Mnt", "X 0 0 ",
                                  "_Total " + std::to_string(c + 2000) + " 75 "};
  const std::vector<JsonRow>& logical = rows_["WTLOGCLDSK"];
  ASSERT_EQ(7u, logical.size());
  for (std::size_t i = 0; i < logical.size(); ++i)
    EXPECT_EQ(expected[i], logical[i].Join({"INSTCNAME", "TOTALSIZE", "PCUSED", "PHYDISKNUM"}));
}

TEST_F(ThroughFramework, NetworkAndServerTablesMeasureAgainstTheWideBandwidths) {
  // The 32-bit bandwidth of the 10 Gb/s link is saturated; its use comes from NTNETWRKIN.
  const std::vector<JsonRow>& wt = rows_["NETWRKIN"];
  ASSERT_EQ(2u, wt.size());
  EXPECT_EQ("lan 100000000 10 NO_DNS_ENTRY", wt[0].Join({"UINTFINST", "CURBANDW", "BANDUTLPCT", "NETADDR"}));
  EXPECT_EQ("fast 2147483647 80 NO_DNS_ENTRY", wt[1].Join({"UINTFINST", "CURBANDW", "BANDUTLPCT", "GLOBALADDR"}));
  const std::vector<JsonRow>& nt = rows_["NTNETWRKIN"];
  ASSERT_EQ(2u, nt.size());
  EXPECT_EQ("fast 10000000000 80 NO_DNS_ENTRY", nt[1].Join({"UINTFINST", "CURBANDW", "BANDUTLPCT", "LLOCALADDR"}));
  ASSERT_EQ(1u, rows_["IPSTATS"].size());
  EXPECT_EQ(3, rows_["IPSTATS"][0].Int("DGMFRAGPCT"));  // 2.5 rounded half up
  ASSERT_EQ(1u, rows_["WTSERVER"].size());
  EXPECT_EQ("4 4 25 10", rows_["WTSERVER"][0].Join({"TOTENDSESS", "TOTENDSES8", "ERRSESSPCT", "HIPRCBTSEC"}));
  ASSERT_EQ(1u, rows_["NTREDIRECT"].size());
  EXPECT_EQ("80 3", rows_["NTREDIRECT"][0].Join({"HIPRCBTSEC", "HICURMOD"}));
  ASSERT_EQ(1u, rows_["NTCACHE"].size());
  EXPECT_EQ(80, rows_["NTCACHE"][0].Int("COPYDYNAVG"));
}

TEST_F(ThroughFramework, ServiceApplicationTablesCompleteTheirRows) {
  ExpectBlockRows("WEBSVC", {"SYSCRBYTE"});
  for (const JsonRow& r : rows_["WEBSVC"]) EXPECT_EQ(-1, r.Int("SYSCRBYTE"));

  // This machine's version and registry decide the unavailable counters.
  OSVERSIONINFOEXA v = {};
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&v)));
  bool retrieved = !osm::perf::SmtpRetrievedUnavailable(static_cast<int>(v.dwMajorVersion),
                                                        static_cast<int>(v.dwMinorVersion), v.wProductType);
  HKEY key = nullptr;
  bool pickup = !RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                               "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\IISInfoCtrs", 0,
                               KEY_READ, &key);
  if (pickup) RegCloseKey(key);
  ExpectBlockRows("SMTPSRV", {"MSGRETTOT", "MSGRETSEC", "DIRPICQLEN"});
  auto value = [](bool kept, const char* counter) {
    return kept ? static_cast<long long>(world_->Value("SMTP Server", counter)) : -1LL;
  };
  for (const JsonRow& r : rows_["SMTPSRV"]) {
    EXPECT_EQ(value(retrieved, "Pickup Directory Messages Retrieved Total"), r.Int("MSGRETTOT"));
    EXPECT_EQ(value(pickup, "Directory Pickup Queue Length"), r.Int("DIRPICQLEN"));
  }

  // 25, 15 and 4 errors over 2 whole days.
  ExpectBlockRows("PRINTQ", {"AVGJOBERRS", "AVGNRERRS", "AVGOOPERRS"});
  for (const JsonRow& r : rows_["PRINTQ"]) EXPECT_EQ("13 8 2", r.Join({"AVGJOBERRS", "AVGNRERRS", "AVGOOPERRS"}));

  // Below Windows 6 a full short name takes the active queue's long name, or
  // "INACTIVE"; a shorter one keeps the sample's; the runtime's memory is freed.
  ExpectBlockRows("MSMQQUE", {"QUEINST", "QUEINSTLG"});
  const std::vector<JsonRow>& queues = rows_["MSMQQUE"];
  ASSERT_EQ(3u, queues.size());
  EXPECT_EQ(kLongQueue.substr(0, 64), queues[0].Text("QUEINST"));
  EXPECT_EQ("DIRECT=OS:" + kLongQueue, queues[0].Text("QUEINSTLG"));
  EXPECT_EQ("INACTIVE", queues[1].Text("QUEINSTLG"));
  EXPECT_EQ("node\\short", queues[2].Text("QUEINSTLG"));
  EXPECT_EQ(0, g_queueAllocations);
}

}  // namespace

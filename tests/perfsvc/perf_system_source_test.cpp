// The system source on the running platform: the counter service core reads
// it through the source seam, its blocks pass the walkers, every counter has
// the type Windows gives it, two queries give values within their ranges, and
// the setting selects it.
#include "framework/ras1.h"
#include "perfsvc/perf_name.h"
#include "perfsvc/perf_registry_source.h"
#include "perfsvc/perf_snap.h"
#include "perfsvc/perf_source_select.h"
#include "perfsvc/perf_system_source.h"
#include "tests/perfsvc/system_sample_probe.h"

#include <windows.h>
#include <tlhelp32.h>
#include <winperf.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

using namespace osmperf;

namespace {

std::string Narrow(const char16_t* s) {
  std::string out;
  for (; s != nullptr && *s; ++s) out.push_back(static_cast<char>(*s));
  return out;
}

// The process count of the platform's own process list.
int ToolhelpProcessCount() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return -1;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  int n = 0;
  for (BOOL ok = Process32FirstW(snap, &entry); ok; ok = Process32NextW(snap, &entry)) ++n;
  CloseHandle(snap);
  return n;
}

// The service core over one shared system source.
struct Core {
  CSystemPerfSource source;
  CPerfName names{&source};
  CSnapCatalog catalogue;
  CPerfSnap snap{&source};

  bool Snap(const char* request) { return snap.Snap(request); }
};

Core& SharedCore() {
  static Core* core = new Core();
  return *core;
}

class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : name_(name) {}
  ~EnvGuard() { BSS1_PutEnv((name_ + "=").c_str()); }
  void Set(const std::string& value) { BSS1_PutEnv((name_ + "=" + value).c_str()); }

 private:
  std::string name_;
};

}  // namespace

TEST(SystemSource, NamesAndFirstObjectListThroughTheSeam) {
  Core& core = SharedCore();
  ASSERT_TRUE(core.names.Loaded()) << core.names.Result();
  EXPECT_EQ(core.names.LastCounter(), sysperf::LastIndex());
  EXPECT_EQ(Narrow(core.names.Name(238)), "Processor");
  EXPECT_EQ(Narrow(core.names.Name(6)), "% Processor Time");
  EXPECT_EQ(core.names.FindIndex(u"paging file"), 700u);

  FirstObjectList list;
  ASSERT_TRUE(BuildFirstObjectList(&core.source, "", &list));
  EXPECT_FALSE(list.corrupt);
  std::set<std::uint32_t> listed(list.indexes.begin(), list.indexes.end());
  for (std::uint32_t object : sysperf::SupportedObjects()) EXPECT_TRUE(listed.count(object)) << object;
}

TEST(SystemSource, GlobalBlockIsStructurallyValidAndTyped) {
  Core& core = SharedCore();
  ASSERT_TRUE(core.Snap("Global"));
  const CPerfBlock& block = core.snap.Block();
  ASSERT_TRUE(block.Valid());
  EXPECT_EQ(block.TotalByteLength(), core.snap.DataSize());
  EXPECT_GT(block.PerfFreq(), 0);
  EXPECT_GT(block.PerfTime(), 0);
  EXPECT_GT(block.PerfTime100nSec(), 0);
  EXPECT_GE(block.SystemTime().wYear, 2020);

  // The types Windows gives these counters, by object and counter name (timers,
  // fractions and elapsed times are checked by their arithmetic in the
  // portable tests).
  const std::map<std::pair<std::string, std::string>, DWORD> expected = {
      {{"Memory", "Available Bytes"}, PERF_COUNTER_LARGE_RAWCOUNT},
      {{"Memory", "Committed Bytes"}, PERF_COUNTER_LARGE_RAWCOUNT},
      {{"Memory", "Commit Limit"}, PERF_COUNTER_LARGE_RAWCOUNT},
      {{"System", "Processes"}, PERF_COUNTER_RAWCOUNT},
      {{"System", "Processor Queue Length"}, PERF_COUNTER_RAWCOUNT},
      {{"System", "File Read Bytes/sec"}, PERF_COUNTER_BULK_COUNT},
      {{"Objects", "Processes"}, PERF_COUNTER_RAWCOUNT},
      {{"Objects", "Threads"}, PERF_COUNTER_RAWCOUNT},
      {{"Process", "ID Process"}, PERF_COUNTER_RAWCOUNT},
      {{"Process", "Working Set"}, PERF_COUNTER_LARGE_RAWCOUNT},
      {{"Process", "Private Bytes"}, PERF_COUNTER_LARGE_RAWCOUNT},
      {{"Process", "Handle Count"}, PERF_COUNTER_RAWCOUNT},
      {{"Process", "Thread Count"}, PERF_COUNTER_RAWCOUNT},
      {{"Process", "IO Read Bytes/sec"}, PERF_COUNTER_BULK_COUNT},
      {{"Thread", "ID Thread"}, PERF_COUNTER_RAWCOUNT},
      {{"LogicalDisk", "Free Megabytes"}, PERF_COUNTER_RAWCOUNT},
      {{"Network Interface", "Bytes Total/sec"}, PERF_COUNTER_BULK_COUNT},
      {{"Network Interface", "Packets/sec"}, PERF_COUNTER_COUNTER},
      {{"Network Interface", "Output Queue Length"}, PERF_COUNTER_RAWCOUNT},
      {{"TCP", "Segments/sec"}, PERF_COUNTER_COUNTER},
      {{"TCP", "Connections Established"}, PERF_COUNTER_RAWCOUNT},
      {{"TCPv4", "Segments/sec"}, PERF_COUNTER_COUNTER},
      {{"UDP", "Datagrams/sec"}, PERF_COUNTER_COUNTER},
      {{"UDPv4", "Datagrams Received Errors"}, PERF_COUNTER_RAWCOUNT},
      {{"IP", "Datagrams Forwarded/sec"}, PERF_COUNTER_COUNTER},
      {{"IPv4", "Fragmentation Failures"}, PERF_COUNTER_RAWCOUNT},
      {{"ICMP", "Messages/sec"}, PERF_COUNTER_COUNTER},
      {{"ICMP", "Received Echo/sec"}, PERF_COUNTER_COUNTER},
  };
  std::set<std::pair<std::string, std::string>> checked;
  std::set<std::string> objectsSeen;
  CObjectWalker objects(block);
  std::size_t end = block.HeaderLength();
  for (bool ok = objects.First(); ok; ok = objects.Next()) {
    const CPerfObject& o = objects.Current();
    const std::string object = Narrow(core.names.Name(o.nameIndex));
    ASSERT_FALSE(object.empty()) << "object " << o.nameIndex << " has no name";
    objectsSeen.insert(object);
    EXPECT_EQ(o.offset, end) << object << " follows the previous record";
    EXPECT_EQ(o.offset % 8, 0u) << object;
    end = o.offset + o.totalByteLength;
    CCounterWalker counters(o);
    std::uint32_t n = 0;
    std::uint32_t previousType = 0;
    for (bool c = counters.First(); c; c = counters.Next(), ++n) {
      const CPerfCounterDef& d = counters.Current();
      const std::string counter = Narrow(core.names.Name(d.nameIndex));
      ASSERT_FALSE(counter.empty()) << object << " counter " << d.nameIndex;
      EXPECT_EQ(d.size, (d.type & PERF_SIZE_LARGE) ? 8u : 4u) << object << " / " << counter;
      EXPECT_EQ(d.offset % d.size, 0u) << object << " / " << counter;
      if (d.type == PERF_RAW_BASE) {
        EXPECT_EQ(previousType, static_cast<std::uint32_t>(PERF_RAW_FRACTION)) << object << " / " << counter;
      } else {
        auto it = expected.find({object, counter});
        if (it != expected.end()) {
          EXPECT_EQ(d.type, it->second) << object << " / " << counter;
          checked.insert(it->first);
        }
      }
      previousType = d.type;
    }
    EXPECT_EQ(n, o.numCounters) << object;
    CInstanceWalker instances(o);
    ASSERT_NE(instances.GetKind(), CInstanceWalker::Kind::Refused) << object;
    std::uint32_t visited = 0;
    for (bool i = instances.First(); i; i = instances.Next()) {
      ++visited;
      EXPECT_EQ(instances.Current().counterBlock.size % 8, 0u) << object;
      CCounterWalker counters2(o);
      for (bool c = counters2.First(); c; c = counters2.Next()) {
        std::uint64_t value;
        EXPECT_TRUE(ReadCounterValue(instances.Current().counterBlock, counters2.Current(), &value)) << object;
      }
    }
    EXPECT_EQ(visited, instances.Count()) << object;
  }
  EXPECT_EQ(end, block.TotalByteLength());
  EXPECT_EQ(objects.Visited(), block.NumObjectTypes());
  for (const char* name : {"Processor", "Memory", "System", "Objects", "Paging File", "Process", "Thread",
                           "LogicalDisk", "Network Interface", "TCP", "TCPv4", "UDP", "UDPv4", "IP", "IPv4", "ICMP"})
    EXPECT_TRUE(objectsSeen.count(name)) << name << " is missing from the Global block";
  // Every counter of the table present in the block was checked; the ones the
  // platform does not supply are absent, never typed otherwise.
  EXPECT_GE(checked.size(), 25u);
}

TEST(SystemSource, TwoQueriesGiveValuesWithinTheirRanges) {
  Core& core = SharedCore();
  ASSERT_TRUE(core.Snap("238 4 2 260 230 236"));
  core.catalogue.Build(&core.names, core.snap.Block());

  // Processor rows and their ranges: the live collector tests, under load.
  std::unique_ptr<CSample> memory = systest::MakeSample("Memory", {"Available Bytes", "Commit Limit", "% Committed Bytes In Use"});
  std::unique_ptr<CSample> system = systest::MakeSample("System", {"System Up Time", "Processes", "Threads"});
  std::unique_ptr<CSample> objects = systest::MakeSample("Objects", {"Processes", "Threads"});
  std::unique_ptr<CSample> process = systest::MakeSample("Process", {"% Processor Time", "ID Process", "Working Set", "Thread Count", "Priority Base"});
  std::unique_ptr<CSample> disk = systest::MakeSample("LogicalDisk", {"% Free Space", "Free Megabytes"});
  CSample* all[] = {memory.get(), system.get(), objects.get(), process.get(), disk.get()};
  for (CSample* s : all) systest::Resolve(*s, core.catalogue, core.names);

  int platformBefore = 0, platformAfter = 0;
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) Sleep(1500);
    platformBefore = ToolhelpProcessCount();
    ASSERT_TRUE(core.Snap("238 4 2 260 230 236"));
    platformAfter = ToolhelpProcessCount();
    for (CSample* s : all) ASSERT_TRUE(systest::Feed(*s, core.snap.Block())) << Narrow(s->ObjectName().c_str());
  }

  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  ASSERT_TRUE(GlobalMemoryStatusEx(&status));
  ASSERT_EQ(memory->RowCount(), 1u);
  EXPECT_GT(systest::Value(*memory, 0, 0), 0.0);
  EXPECT_LT(systest::Value(*memory, 0, 0), static_cast<double>(status.ullTotalPhys));
  EXPECT_GT(systest::Value(*memory, 0, 1), 0.0);
  EXPECT_GT(systest::Value(*memory, 0, 2), 0.0);
  EXPECT_LE(systest::Value(*memory, 0, 2), 100.0);

  ASSERT_EQ(system->RowCount(), 1u);
  const double upTime = systest::Value(*system, 0, 0);
  EXPECT_GT(upTime, 0.0);
  EXPECT_NEAR(upTime, GetTickCount64() / 1000.0, 5.0);

  // The process count of the platform's list, when it held still during the query.
  if (platformBefore == platformAfter) {
    EXPECT_EQ(systest::Value(*objects, 0, 0), platformAfter);
    EXPECT_EQ(systest::Value(*system, 0, 1), platformAfter);
    EXPECT_EQ(process->RowCount(), static_cast<std::size_t>(platformAfter) + 1u) << "instances and _Total";
  }
  EXPECT_EQ(systest::Value(*objects, 0, 1), systest::Value(*system, 0, 2));
  bool self = false;
  for (std::size_t r = 0; r < process->RowCount(); ++r) {
    double pct = systest::Value(*process, r, 0);
    EXPECT_GE(pct, 0.0);
    if (systest::RowName(*process, r) != "_Total") {
      EXPECT_LE(pct, 100.0 * info.dwNumberOfProcessors + 1.0);
    }
    if (systest::Value(*process, r, 1) == GetCurrentProcessId()) {
      self = true;
      EXPECT_EQ(systest::RowName(*process, r), "perfsvc_system_tests");
      EXPECT_GT(systest::Value(*process, r, 2), 0.0) << "own working set";
      EXPECT_GE(systest::Value(*process, r, 3), 1.0) << "own threads";
      const double base = systest::Value(*process, r, 4);
      EXPECT_TRUE(base == 4 || base == 6 || base == 8 || base == 10 || base == 13 || base == 24)
          << "a process base priority, not a priority class number: " << base;
    }
  }
  EXPECT_TRUE(self) << "the test process is among the instances";

  ASSERT_GE(disk->RowCount(), 2u) << "at least one fixed volume and _Total";
  for (std::size_t r = 0; r < disk->RowCount(); ++r) {
    const CCounter& freeSpace = disk->Row(r).Cell(0);
    EXPECT_GE(freeSpace.Value(), 0.0);
    EXPECT_LE(freeSpace.Value(), 100.0) << systest::RowName(*disk, r);
    EXPECT_LE(freeSpace.NewRaw(), freeSpace.NewBase()) << "free space above the size of " << systest::RowName(*disk, r);
    EXPECT_EQ(systest::Value(*disk, r, 1), static_cast<double>(freeSpace.NewRaw()));
  }
  ULARGE_INTEGER available{}, total{}, freeBytes{};
  ASSERT_TRUE(GetDiskFreeSpaceExW(L"C:\\", &available, &total, &freeBytes));
  EXPECT_EQ(systest::RowName(*disk, 0), "C:");
  EXPECT_EQ(disk->Row(0).Cell(0).NewBase(), total.QuadPart >> 20);
}

TEST(SystemSource, ShortBufferIsAnsweredWithTheSameBlockOnRetry) {
  CSystemPerfSource source;
  std::uint32_t size = 16;
  std::uint8_t small[16];
  ASSERT_EQ(source.QueryData("230 232", small, &size), kErrorMoreData);
  ASSERT_GT(size, 16u);
  std::vector<std::uint8_t> first(size);
  std::uint32_t got = size;
  ASSERT_EQ(source.QueryData("230 232", first.data(), &got), kErrorSuccess);
  EXPECT_EQ(got, size) << "the retry gets the block that did not fit";
  // A later query reads the platform afresh.
  Sleep(20);
  std::vector<std::uint8_t> second(size + 65536);
  got = static_cast<std::uint32_t>(second.size());
  ASSERT_EQ(source.QueryData("230 232", second.data(), &got), kErrorSuccess);
  CPerfBlock a, b;
  ASSERT_TRUE(a.Attach(first.data(), size));
  ASSERT_TRUE(b.Attach(second.data(), got));
  EXPECT_GT(b.PerfTime(), a.PerfTime());
  EXPECT_EQ(source.QueryData("Global", nullptr, &got), kErrorMoreData);
  EXPECT_EQ(source.QueryData(nullptr, second.data(), &got), ERROR_INVALID_PARAMETER);
}

TEST(SourceSetting, EnvironmentBeatsProfileAndDefaultStays) {
  EnvGuard source("OSM_PERF_SOURCE");
  EnvGuard dataFile("OSM_PERFDATA_FILE");
  char dir[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, dir), 0u);
  const std::string profile = std::string(dir) + "osm_source_test.ini";
  DeleteFileA(profile.c_str());

  EXPECT_EQ(ParsePerfSourceKind(" System "), PerfSourceKind::System);
  EXPECT_EQ(ParsePerfSourceKind("REGISTRY"), PerfSourceKind::Registry);
  EXPECT_EQ(ParsePerfSourceKind("file"), PerfSourceKind::File);
  EXPECT_EQ(ParsePerfSourceKind("  "), PerfSourceKind::Default);
  EXPECT_EQ(ParsePerfSourceKind("wmi"), PerfSourceKind::Invalid);

  std::string origin;
  EXPECT_EQ(ConfiguredPerfSourceKind(&origin, nullptr, profile.c_str()), PerfSourceKind::Default);
  EXPECT_EQ(CreateConfiguredPerfSource(nullptr, profile.c_str()), nullptr);

  ASSERT_TRUE(WritePrivateProfileStringA("osmperf", "PerfSource", "system", profile.c_str()));
  EXPECT_EQ(ConfiguredPerfSourceKind(&origin, nullptr, profile.c_str()), PerfSourceKind::System);
  EXPECT_EQ(origin, "osmperf.ini");
  std::unique_ptr<IPerfDataSource> chosen = CreateConfiguredPerfSource(nullptr, profile.c_str());
  ASSERT_NE(chosen, nullptr);
  EXPECT_STREQ(chosen->Name(), "system");
  EXPECT_EQ(CreateConfiguredPerfSource("\\\\elsewhere", profile.c_str()), nullptr)
      << "another computer's data never comes from local interfaces";

  source.Set("registry");
  EXPECT_EQ(ConfiguredPerfSourceKind(&origin, nullptr, profile.c_str()), PerfSourceKind::Registry);
  EXPECT_EQ(origin, "OSM_PERF_SOURCE");
  dataFile.Set("C:\\nowhere\\block.dat");
  chosen = CreateConfiguredPerfSource(nullptr, profile.c_str());
  ASSERT_NE(chosen, nullptr);
  EXPECT_STREQ(chosen->Name(), "registry") << "an explicit registry setting beats OSM_PERFDATA_FILE";

  source.Set("file");
  chosen = CreateConfiguredPerfSource(nullptr, profile.c_str());
  ASSERT_NE(chosen, nullptr);
  EXPECT_STREQ(chosen->Name(), "file");
  dataFile.Set("");
  chosen = CreateConfiguredPerfSource(nullptr, profile.c_str());
  ASSERT_NE(chosen, nullptr) << "file without a data file: a file source whose queries fail";
  EXPECT_STREQ(chosen->Name(), "file");
  std::uint32_t size = 0;
  EXPECT_NE(chosen->QueryData("Global", nullptr, &size), kErrorSuccess);

  source.Set("bogus");
  EXPECT_EQ(CreateConfiguredPerfSource(nullptr, profile.c_str()), nullptr) << "an unknown value keeps the default";
  DeleteFileA(profile.c_str());

  // The service's own entry point: the default stays the registry, the
  // variable selects the system source.
  source.Set("");
  EXPECT_STREQ(OsmCreatePerfSource(nullptr)->Name(), "registry");
  source.Set("system");
  EXPECT_STREQ(OsmCreatePerfSource(nullptr)->Name(), "system");
}

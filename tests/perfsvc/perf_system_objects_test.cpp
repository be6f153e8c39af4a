// The system source's portable half: the block writer against the test
// builder and the walkers, the name table, request parsing, the supply probe,
// and readings turned into values by the counter service's own arithmetic.
#include "perfsvc/perf_block_writer.h"
#include "perfsvc/perf_layout.h"
#include "perfsvc/perf_name.h"
#include "perfsvc/perf_system_objects.h"
#include "tests/perfsvc/memory_source.h"
#include "tests/perfsvc/perf_block_builder.h"
#include "tests/perfsvc/system_sample_probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <set>

using namespace osmperf;
using namespace osmperf::sysperf;

namespace {

perfbuild::NameList SourceNames() {
  perfbuild::NameList names;
  for (const NameEntry& e : NameTable()) names.emplace_back(e.index, e.name);
  return names;
}

// The counter names of the source's view of an object, bases left out.
std::vector<std::string> CounterNames(std::uint32_t object, const SystemSupply& supply) {
  std::vector<std::string> out;
  for (const PerfCounterSpec& c : ObjectCounters(object, supply)) {
    if (c.type == PERF_RAW_BASE) continue;
    for (const NameEntry& e : NameTable())
      if (e.index == c.index) out.push_back(e.name);
  }
  return out;
}

SystemSupply Everything() {
  SystemSupply s;
  s.processorDpc = s.kernelIo = s.kernelPaging = s.kernelPool = s.kernelSwitches = true;
  s.threadStates = s.threadSwitches = s.processFaults = s.processPool = s.processIo = s.linkSpeed = true;
  return s;
}

// Two successive blocks of the same objects, fed through samples.
struct TwoBlocks {
  perfbuild::MemoryPerfSource source;
  std::unique_ptr<CPerfName> names;
  CSnapCatalog catalogue;
  std::vector<std::uint8_t> first, second;
  CPerfBlock firstBlock, secondBlock;

  TwoBlocks(const SystemReadings& a, const SystemReadings& b, const SystemSupply& supply) {
    source.SetNames(SourceNames());
    names.reset(new CPerfName(&source));
    EXPECT_TRUE(names->Loaded());
    std::vector<std::uint32_t> all = SelectObjects(ParsePerfRequest("Global"));
    EXPECT_TRUE(WritePerfBlock(a.header, BuildObjects(a, supply, all), &first));
    EXPECT_TRUE(WritePerfBlock(b.header, BuildObjects(b, supply, all), &second));
    EXPECT_TRUE(firstBlock.Attach(first.data(), first.size()));
    EXPECT_TRUE(secondBlock.Attach(second.data(), second.size()));
    catalogue.Build(names.get(), firstBlock);
  }
  std::unique_ptr<CSample> Sample(const std::string& object, const std::vector<std::string>& counters) {
    std::unique_ptr<CSample> s = systest::MakeSample(object, counters);
    systest::Resolve(*s, catalogue, *names);
    EXPECT_TRUE(systest::Feed(*s, firstBlock));
    EXPECT_TRUE(systest::Feed(*s, secondBlock));
    return s;
  }
};

// The values of one row, column by column (NaN: not checked).
void ExpectRow(const CSample& s, std::size_t row, std::initializer_list<double> values) {
  ASSERT_LT(row, s.RowCount());
  std::size_t column = 0;
  for (double v : values) {
    if (v == v) {
      EXPECT_DOUBLE_EQ(systest::Value(s, row, column), v) << systest::RowName(s, row) << " column " << column;
    }
    ++column;
  }
}
const double kAny = std::numeric_limits<double>::quiet_NaN();

SystemReadings At(std::int64_t seconds) {
  SystemReadings r;
  r.header.perfFreq = 1000;
  r.header.perfTime = seconds * 1000;
  r.header.perfTime100nSec = seconds * 10000000;
  r.header.systemName = u"HOST";
  r.now100ns = r.header.perfTime100nSec;
  return r;
}

}  // namespace

TEST(SystemBlockWriter, SameBytesAsTheTestBuilderAndWalkable) {
  PerfBlockHeader h;
  h.systemTime.wYear = 2010;
  h.systemTime.wMonth = 4;
  h.systemTime.wDay = 12;
  h.systemTime.wHour = 6;
  h.systemTime.wMilliseconds = 500;
  h.perfTime = 123;
  h.perfFreq = 456;
  h.perfTime100nSec = 789;
  h.systemName = u"TESTHOST";
  PerfObjectData process;
  process.index = 230;
  process.perfTime = 11;
  process.perfFreq = 22;
  process.counters = {{6, PERF_100NSEC_TIMER}, {180, PERF_COUNTER_RAWCOUNT}, {184, PERF_COUNTER_LARGE_RAWCOUNT}};
  process.instances.resize(2);
  process.instances[0].name = u"svchost";
  process.instances[0].values = {0x1122334455667788ull, 42, 7};
  process.instances[1].name = u"a";
  process.instances[1].parentObject = 230;
  process.instances[1].values = {1, 0xFFFFFFFFull, 0xFFFFFFFFFull};
  PerfObjectData system;
  system.index = 2;
  system.counters = {{44, PERF_COUNTER_RAWCOUNT}};
  system.hasInstances = false;
  system.values = {3};
  PerfObjectData paging;  // instances, none at the moment
  paging.index = 700;
  paging.counters = {{702, PERF_RAW_FRACTION}, {702, PERF_RAW_BASE}};
  std::vector<std::uint8_t> ours;
  ASSERT_TRUE(WritePerfBlock(h, {process, system, paging}, &ours));

  perfbuild::BlockBuilder b;
  b.SystemTime(2010, 4, 12, 6, 0, 0, 500).PerfTime(123).PerfFreq(456).PerfTime100nSec(789);
  b.Object(230).PerfTime(11).PerfFreq(22).Counter(6, PERF_100NSEC_TIMER).Counter(180, PERF_COUNTER_RAWCOUNT)
      .Counter(184, PERF_COUNTER_LARGE_RAWCOUNT)
      .Instance(u"svchost", {0x1122334455667788ull, 42, 7})
      .Instance(u"a", {1, 0xFFFFFFFFull, 0xFFFFFFFFFull}, 230, 0);
  b.Object(2).Counter(44, PERF_COUNTER_RAWCOUNT).Values({3});
  b.Object(700).Counter(702, PERF_RAW_FRACTION).Counter(702, PERF_RAW_BASE).NoInstanceData();
  EXPECT_EQ(ours, b.Build());

  CPerfBlock block;
  ASSERT_TRUE(block.Attach(ours.data(), ours.size()));
  EXPECT_EQ(block.TotalByteLength(), ours.size());
  EXPECT_EQ(block.HeaderLength() % 8, 0u);
  CObjectWalker objects(block);
  std::vector<std::uint32_t> seen;
  for (bool ok = objects.First(); ok; ok = objects.Next()) {
    const CPerfObject& o = objects.Current();
    seen.push_back(o.nameIndex);
    EXPECT_EQ(o.offset % 8, 0u);
    EXPECT_EQ(o.totalByteLength % 8, 0u);
    CInstanceWalker instances(o);
    for (bool in = instances.First(); in; in = instances.Next()) {
      EXPECT_EQ(instances.Current().counterBlock.size % 8, 0u);
      CCounterWalker counters(o);
      for (bool c = counters.First(); c; c = counters.Next()) {
        const CPerfCounterDef& d = counters.Current();
        EXPECT_EQ(d.offset % d.size, 0u) << "counter " << d.nameIndex << " is not aligned to its size";
      }
    }
  }
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{230, 2, 700}));
  CPerfObject paged;
  ASSERT_TRUE(CObjectWalker(block).Find(700, &paged));
  EXPECT_EQ(CInstanceWalker(paged).GetKind(), CInstanceWalker::Kind::None);
}

TEST(SystemNameTable, UniqueNamesCoverEveryObjectAndCounter) {
  std::set<std::uint32_t> indexes;
  std::set<std::string> names;
  std::uint32_t previous = 0;
  for (const NameEntry& e : NameTable()) {
    EXPECT_GT(e.index, previous) << e.name << ": the table is ascending";
    previous = e.index;
    EXPECT_TRUE(indexes.insert(e.index).second) << e.index;
    EXPECT_TRUE(names.insert(e.name).second) << e.name << " has two indexes";
  }
  EXPECT_EQ(LastIndex(), previous);
  for (std::uint32_t object : SupportedObjects()) {
    EXPECT_TRUE(indexes.count(object)) << object;
    std::vector<PerfCounterSpec> counters = ObjectCounters(object, Everything());
    EXPECT_FALSE(counters.empty()) << object;
    std::set<std::uint32_t> once;
    for (std::size_t i = 0; i < counters.size(); ++i) {
      EXPECT_TRUE(indexes.count(counters[i].index)) << "counter " << counters[i].index << " of " << object;
      if (counters[i].type == PERF_RAW_BASE) {
        // A base follows its fraction and answers to the same index.
        ASSERT_GT(i, 0u);
        EXPECT_EQ(counters[i - 1].type, PERF_RAW_FRACTION);
        EXPECT_EQ(counters[i - 1].index, counters[i].index);
      } else {
        EXPECT_TRUE(once.insert(counters[i].index).second) << "counter " << counters[i].index << " twice in " << object;
      }
    }
  }
  // Every supported object is one the service asks for by name.
  for (std::uint32_t object : SupportedObjects()) {
    std::string name;
    for (const NameEntry& e : NameTable())
      if (e.index == object) name = e.name;
    bool builtIn = false;
    for (std::size_t i = 0; i < kBuiltInObjectCount; ++i) builtIn = builtIn || name == kBuiltInObjects[i];
    EXPECT_TRUE(builtIn) << name;
  }
}

TEST(SystemRequests, GlobalIndexesAndParents) {
  EXPECT_EQ(SelectObjects(ParsePerfRequest("Global")), SupportedObjects());
  EXPECT_EQ(SelectObjects(ParsePerfRequest("  global ")), SupportedObjects());
  EXPECT_EQ(SelectObjects(ParsePerfRequest("4 238 999 ")), (std::vector<std::uint32_t>{kProcessor, kMemory}));
  EXPECT_EQ(SelectObjects(ParsePerfRequest("232")), (std::vector<std::uint32_t>{kProcess, kThread}))
      << "threads name their processes";
  EXPECT_TRUE(SelectObjects(ParsePerfRequest("Costly")).empty());
  EXPECT_TRUE(SelectObjects(ParsePerfRequest("")).empty());
  EXPECT_TRUE(SelectObjects(ParsePerfRequest(nullptr)).empty());
  EXPECT_TRUE(SelectObjects(ParsePerfRequest("Foreign 23x 99999999999999")).empty());
  PerfRequest r = ParsePerfRequest("2 700 Costly");
  EXPECT_TRUE(r.costly);
  EXPECT_FALSE(r.global);
  EXPECT_EQ(SelectObjects(r), (std::vector<std::uint32_t>{kSystem, kPagingFile}));
}

TEST(SystemSupplyProbe, ZeroFieldsLeaveTheirCountersOut) {
  SystemReadings r;
  r.haveKernel = true;
  r.cpus.resize(2);
  ProcessReading p;
  p.threads.resize(2);
  r.processes.push_back(p);
  r.interfaces.resize(1);
  auto has = [](std::uint32_t object, const SystemSupply& s, const std::string& counter) {
    std::vector<std::string> names = CounterNames(object, s);
    return std::find(names.begin(), names.end(), counter) != names.end();
  };
  SystemSupply none = ProbeSupply(r);
  r.kernel.pageFaults = 5;
  r.kernel.pagedPoolPages = r.kernel.nonPagedPoolPages = 7;
  r.kernel.ioReadOps = 1;
  r.cpus[1].interrupts = 9;
  r.processes[0].ioOtherOps = 3;
  r.processes[0].threads[1].state = 5;
  r.interfaces[0].speed = 1000000000;
  SystemSupply some = ProbeSupply(r);
  // Counters that depend on a reading, and (last) some that every platform supplies.
  const struct {
    std::uint32_t object;
    const char* counter;
    bool withZeros, withReadings;
  } cases[] = {
      {kMemory, "Pages/sec", false, true},           {kMemory, "Pool Paged Bytes", false, true},
      {kSystem, "Processor Queue Length", false, true}, {kSystem, "File Read Bytes/sec", false, true},
      {kSystem, "Context Switches/sec", false, false}, {kProcessor, "Interrupts/sec", false, true},
      {kProcess, "IO Read Operations/sec", false, true}, {kThread, "Thread State", false, true},
      {kNetworkInterface, "Current Bandwidth", false, true}, {kMemory, "Available Bytes", true, true},
      {kSystem, "System Up Time", true, true},       {kProcess, "Private Bytes", true, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(has(c.object, none, c.counter), c.withZeros) << c.counter;
    EXPECT_EQ(has(c.object, some, c.counter), c.withReadings) << c.counter;
  }
  // A reading without the kernel counters supplies none of them.
  r.haveKernel = false;
  EXPECT_FALSE(ProbeSupply(r).kernelPaging);
}

TEST(SystemObjects, ProcessorPercentagesAndTotalThroughTheCounterArithmetic) {
  // Two processors over 2 seconds (20,000,000 x 100 ns): processor 0 idle
  // for 25% of it, processor 1 for 75%; kernel times include the idle time.
  SystemReadings a = At(100), b = At(102);
  a.haveCpus = b.haveCpus = true;
  a.cpus.resize(2);
  b.cpus.resize(2);
  a.cpus[0] = {1000, 3000, 500, 0, 0, 0};
  b.cpus[0] = {1000 + 5000000, 3000 + 5000000 + 10000000, 500 + 5000000, 0, 0, 0};
  a.cpus[1] = {0, 0, 0, 0, 0, 0};
  b.cpus[1] = {15000000, 15000000 + 2000000, 3000000, 0, 0, 0};
  TwoBlocks run(a, b, SystemSupply());
  std::unique_ptr<CSample> s = run.Sample("Processor", {"% Processor Time", "% User Time", "% Privileged Time"});
  ASSERT_EQ(s->RowCount(), 3u);
  EXPECT_EQ(systest::RowName(*s, 0), "0");
  EXPECT_EQ(systest::RowName(*s, 1), "1");
  EXPECT_EQ(systest::RowName(*s, 2), "_Total");
  ExpectRow(*s, 0, {75, 25, 50});
  ExpectRow(*s, 1, {25, 15, 10});
  ExpectRow(*s, 2, {50, 20, 30});  // the total is the processors' average, not their sum
}

TEST(SystemObjects, MemorySystemAndObjectsValues) {
  SystemReadings a = At(1000), b = At(1003);
  for (SystemReadings* r : {&a, &b}) {
    r->haveMemory = r->haveProcesses = r->haveKernel = true;
    r->memory.totalPhys = 8ull << 30;
    r->memory.availPhys = 5ull << 30;
    r->memory.commitLimit = 12ull << 30;
    r->memory.committed = 3ull << 30;
    r->memory.pageSize = 4096;
    r->bootTime100ns = 400ull * 10000000;  // booted 600 s before a
    ProcessReading p;
    p.threadCount = 4;
    r->processes.assign(3, p);
  }
  a.kernel.pageFaults = 0xFFFFFFF0u;  // wraps between the readings
  b.kernel.pageFaults = 0x00000010u;
  a.kernel.pagesRead = 100;
  b.kernel.pagesRead = 400;
  SystemSupply supply;
  supply.kernelPaging = true;
  TwoBlocks run(a, b, supply);
  std::unique_ptr<CSample> m = run.Sample(
      "Memory", {"Available Bytes", "Available MBytes", "Committed Bytes", "% Committed Bytes In Use",
                 "Page Faults/sec", "Pages/sec", "Pages Input/sec"});
  ASSERT_EQ(m->RowCount(), 1u);
  // Page Faults/sec: a 32-bit counter that wrapped.
  ExpectRow(*m, 0, {double(5ull << 30), 5120, double(3ull << 30), 25, 32.0 / 3.0, 100, 100});

  std::unique_ptr<CSample> s = run.Sample("System", {"System Up Time", "Processes", "Threads"});
  ASSERT_EQ(s->RowCount(), 1u);
  ExpectRow(*s, 0, {603, 3, 12});
  ExpectRow(*run.Sample("Objects", {"Processes", "Threads"}), 0, {3, 12});
}

TEST(SystemObjects, ProcessesThreadsDisksAndPageFiles) {
  SystemReadings a = At(50), b = At(51);
  for (SystemReadings* r : {&a, &b}) {
    r->haveProcesses = r->haveDisks = r->havePageFiles = true;
    ProcessReading idle;  // the idle process has no image name
    idle.pid = 0;
    ProcessReading svc;
    svc.image = u"svchost.exe";
    svc.pid = 808;
    svc.threadCount = 2;
    svc.workingSet = 1000;
    svc.pagefile = 300;
    svc.create = 40ull * 10000000;
    svc.threads.resize(2);
    svc.threads[0].tid = 9;
    svc.threads[1].tid = 10;
    svc.threads[1].pid = 808;
    r->processes = {idle, svc};
    r->disks = {{u"C:", 30ull << 20, 120ull << 20}, {u"D:", 10ull << 20, 10ull << 20}};
    r->pageFiles = {{u"\\??\\C:\\pagefile.sys", 1000, 250, 500}};
  }
  a.processes[1].user = 1000000;
  b.processes[1].user = 1000000 + 2500000;  // a quarter of the second
  TwoBlocks run(a, b, SystemSupply());
  std::unique_ptr<CSample> p =
      run.Sample("Process", {"% Processor Time", "% User Time", "ID Process", "Working Set", "Private Bytes", "Elapsed Time"});
  ASSERT_EQ(p->RowCount(), 3u);
  EXPECT_EQ(systest::RowName(*p, 0), "Idle");
  EXPECT_EQ(systest::RowName(*p, 1), "svchost");
  EXPECT_EQ(systest::RowName(*p, 2), "_Total");
  ExpectRow(*p, 1, {25, kAny, 808, 1000, 300, 11});  // created at 40 s, read at 51 s
  ExpectRow(*p, 2, {kAny, 25, 0});                    // the total has no process id

  std::unique_ptr<CSample> t = run.Sample("Thread", {"ID Thread", "ID Process"});
  ASSERT_EQ(t->RowCount(), 2u);
  EXPECT_EQ(systest::RowName(*t, 0), "svchost/0");
  EXPECT_EQ(systest::RowName(*t, 1), "svchost/1");
  ExpectRow(*t, 1, {10, 808});

  std::unique_ptr<CSample> d = run.Sample("LogicalDisk", {"% Free Space", "Free Megabytes"});
  ASSERT_EQ(d->RowCount(), 3u);
  EXPECT_EQ(systest::RowName(*d, 2), "_Total");
  ExpectRow(*d, 0, {25, 30});
  ExpectRow(*d, 1, {100, 10});
  ExpectRow(*d, 2, {40.0 / 130.0 * 100.0, 40});

  std::unique_ptr<CSample> f = run.Sample("Paging File", {"% Usage", "% Usage Peak"});
  ASSERT_EQ(f->RowCount(), 2u);
  ExpectRow(*f, 0, {25, 50});
}

TEST(SystemObjects, MissingReadingsAndEmptyLists) {
  SystemReadings r = At(5);
  std::vector<PerfObjectData> objects = BuildObjects(r, SystemSupply(), SupportedObjects());
  // Only the paging file stays, without instances: no page file list is no page file.
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0].index, kPagingFile);
  EXPECT_TRUE(objects[0].hasInstances);
  EXPECT_TRUE(objects[0].instances.empty());
  r.haveTcp = true;
  r.haveDisks = true;  // no fixed volume: no "_Total" either
  objects = BuildObjects(r, SystemSupply(), {kLogicalDisk, kTcp, kTcpV4});
  ASSERT_EQ(objects.size(), 3u);
  EXPECT_TRUE(objects[0].instances.empty());
  EXPECT_FALSE(objects[1].hasInstances);
  EXPECT_EQ(objects[1].counters.size(), objects[2].counters.size());
  EXPECT_EQ(objects[2].index, kTcpV4);
}

TEST(SystemObjects, InstanceNames) {
  EXPECT_EQ(ProcessInstanceName(u"", 0), u"Idle");
  EXPECT_EQ(ProcessInstanceName(u"System", 4), u"System");
  EXPECT_EQ(ProcessInstanceName(u"svchost.exe", 900), u"svchost");
  EXPECT_EQ(ProcessInstanceName(u"C:\\Program Files\\my.tool.exe", 901), u"my.tool");
  EXPECT_EQ(ProcessInstanceName(u".hidden", 902), u".hidden");
  EXPECT_EQ(InterfaceInstanceName(u"Intel(R) PRO/1000 #2"), u"Intel[R] PRO_1000 _2");
}

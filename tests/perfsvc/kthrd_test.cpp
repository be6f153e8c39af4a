// The support thread's logic without a thread and without real time:
// interval groups under a test clock, the leak check under a scripted
// working-set reader, start-up with its event log entries, the periodic
// cycle, and the percent-trigger log.
#include "perfsvc/kthrd_engine.h"
#include "perfsvc/kthrd_sched.h"
#include "perfsvc/sample.h"
#include "perfsvc/trigger_log.h"
#include "tests/perfsvc/kthrd_world.h"
#include "tests/perfsvc/memory_source.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace osmperf;

namespace {

constexpr std::int64_t kT0 = 1271060061000;  // 2010-04-12, ms since 1970
constexpr std::int64_t kHour = 3600000;

// Drives a scheduler like the support thread does and records, for each
// sample, the times at which a snapshot served it.
struct Loop {
  Loop(CIntervalScheduler& scheduler, std::int64_t start) : s(scheduler), now(start) {}
  CIntervalScheduler& s;
  std::int64_t now;
  std::map<CSample*, std::vector<std::int64_t>> served;

  void RunUntil(std::int64_t end) {
    for (;;) {
      std::int64_t wait = s.WaitTimeout(now, false);
      ASSERT_NE(wait, kWaitForever);
      if (now + wait > end) break;
      now += wait;
      s.NoteWaited(wait);
      for (CSample* x : s.SelectDue(now)) served[x].push_back(now - kT0);
    }
  }
};

std::vector<std::int64_t> Seconds(std::initializer_list<int> s) {
  std::vector<std::int64_t> out;
  for (int v : s) out.push_back(static_cast<std::int64_t>(v) * 1000);
  return out;
}

}  // namespace

// ---------------------------------------------------------------- groups

TEST(IntervalGroups, SamplesJoinTheGroupOfTheirIntervalInAscendingOrder) {
  CIntervalScheduler s(5000);
  CSample global(0, 0), a30(0, 30), b30(0, 30), c60(0, 60), d5(0, 5);
  for (CSample* x : {&c60, &a30, &global, &b30, &d5}) s.Place(x, kT0);
  ASSERT_EQ(s.Groups().size(), 4u);  // the 5-second sample is not in the global group
  std::vector<std::int64_t> intervals;
  for (const auto& g : s.Groups()) intervals.push_back(g.intervalMs);
  EXPECT_EQ(intervals, (std::vector<std::int64_t>{5000, 5000, 30000, 60000}));
  EXPECT_NE(s.Groups()[0].global, s.Groups()[1].global);
  EXPECT_EQ(s.Groups()[2].samples.size(), 2u);
  EXPECT_TRUE(s.GroupOf(&global)->global);

  EXPECT_EQ(s.Remove(&c60), kResultOk);
  EXPECT_EQ(s.Groups().size(), 3u);  // the empty group is gone
  EXPECT_EQ(s.Remove(&c60), kResultUnexpected);
  EXPECT_EQ(s.Change(&c60, 10, kT0), kResultFail);
  EXPECT_EQ(s.Change(&a30, 60, kT0), kResultOk);
  EXPECT_EQ(a30.IntervalSeconds(), 60u);
  EXPECT_EQ(s.GroupOf(&a30)->intervalMs, 60000);
}

TEST(IntervalGroups, ThirtyAndSixtySecondsAreRefreshedTogether) {
  CIntervalScheduler s(5000);
  CSample a30(0, 30), b60(0, 60);
  s.Place(&a30, kT0);
  s.Place(&b60, kT0 + 7000);  // placed later, still in phase with the 30-second group
  Loop loop{s, kT0};
  loop.RunUntil(kT0 + 180000);
  EXPECT_EQ(loop.served[&a30], Seconds({0, 30, 60, 90, 120, 150, 180}));
  EXPECT_EQ(loop.served[&b60], Seconds({0, 60, 120, 180}));
}

TEST(IntervalGroups, PhaseAlignmentOfNewGroups) {
  CIntervalScheduler s(5000);
  CSample a30(0, 30), b60(0, 60), c15(0, 15), d45(0, 45), e120(0, 120);
  s.Place(&a30, kT0);
  s.Place(&b60, kT0);
  Loop loop{s, kT0};
  loop.RunUntil(kT0 + 40000);  // served at 0 and 30; next due: 30 at 60, 60 at 60
  ASSERT_EQ(s.GroupOf(&a30)->nextDue, kT0 + 60000);
  // A 15-second group takes the phase of the 30-second group (the smallest
  // larger multiple), a 120-second one the phase of the 60-second group, a
  // 45-second one has no partner and is due at once.
  s.Place(&c15, loop.now);
  EXPECT_EQ(s.GroupOf(&c15)->nextDue, s.GroupOf(&a30)->nextDue);
  s.Place(&e120, loop.now);
  EXPECT_EQ(s.GroupOf(&e120)->nextDue, s.GroupOf(&b60)->nextDue);
  s.Place(&d45, loop.now);
  EXPECT_EQ(s.GroupOf(&d45)->nextDue, loop.now);

  loop.served.clear();
  s.Remove(&d45);
  loop.RunUntil(kT0 + 120000);
  EXPECT_EQ(loop.served[&c15], Seconds({60, 75, 90, 105, 120}));
  EXPECT_EQ(loop.served[&e120], Seconds({60}));
  EXPECT_EQ(loop.served[&a30], Seconds({60, 90, 120}));
}

TEST(IntervalGroups, GlobalIntervalChangeKeepsOrderAndPhase) {
  CIntervalScheduler s(5000);
  CSample g(0, 0), a10(0, 10);
  s.Place(&a10, kT0);
  s.Place(&g, kT0 + 3000);
  ASSERT_TRUE(s.Groups()[0].global);
  EXPECT_EQ(s.SetGlobalInterval(20000, kT0 + 4000), kResultOk);
  ASSERT_EQ(s.Groups().size(), 2u);
  EXPECT_EQ(s.Groups()[0].intervalMs, 10000);
  EXPECT_TRUE(s.Groups()[1].global);
  EXPECT_EQ(s.Groups()[1].intervalMs, 20000);
  EXPECT_EQ(s.Groups()[1].nextDue, s.Groups()[0].nextDue);  // 20 is a multiple of 10
  EXPECT_EQ(s.SmallestIntervalMs(), 10000);
  // New global samples join the changed group.
  CSample g2(0, 0);
  s.Place(&g2, kT0 + 5000);
  EXPECT_EQ(s.GroupOf(&g2), s.GroupOf(&g));
}

TEST(IntervalGroups, ClockSetBackOneHourDoesNotStallSampling) {
  CIntervalScheduler s(30000);
  CSample a(0, 0);
  s.Place(&a, kT0);
  Loop loop{s, kT0};
  loop.RunUntil(kT0 + 60000);  // served at 0, 30, 60
  ASSERT_EQ(loop.served[&a].size(), 3u);
  EXPECT_EQ(s.WaitTimeout(loop.now, false), 30000);
  // The wait runs out 30 s later, but the clock was set back one hour meanwhile.
  s.NoteWaited(30000);
  std::int64_t after = loop.now + 30000 - kHour;
  EXPECT_EQ(s.SelectDue(after).size(), 1u);
  EXPECT_EQ(s.WaitTimeout(after, false), 30000);
  // A clock set back between two computations keeps the time left.
  std::int64_t t = after + 10000;
  EXPECT_EQ(s.NextTimeout(t, false), 20000);
  EXPECT_EQ(s.NextTimeout(t - kHour, false), 20000);
  // And a clock that jumps forward serves the overdue group at once.
  EXPECT_EQ(s.NextTimeout(t - kHour + 5 * kHour, false), 0);
  EXPECT_TRUE(s.Groups()[0].due);
  EXPECT_EQ(s.SelectDue(t + 4 * kHour).size(), 1u);
}

TEST(IntervalGroups, RightAfterASnapshotTheWaitIsAtLeastHalfTheSmallestInterval) {
  CIntervalScheduler s(5000);
  CSample a10(0, 10), b7(0, 7);
  EXPECT_EQ(s.WaitTimeout(kT0, false), kWaitForever);  // no group
  s.Place(&a10, kT0);
  EXPECT_EQ(s.WaitTimeout(kT0, false), 0);  // no snapshot yet: no minimum
  s.SelectDue(kT0);
  // A 7-second group due at once, 1 s after the last snapshot started: the
  // thread waits half of 7 s first.
  s.Place(&b7, kT0 + 1000);
  EXPECT_EQ(s.NextTimeout(kT0 + 1000, false), 0);
  EXPECT_EQ(s.WaitTimeout(kT0 + 1000, false), 3500);
  // Once half the interval has passed it goes at once.
  EXPECT_EQ(s.WaitTimeout(kT0 + 3500, false), 0);
  // Suspended: no snapshot at all.
  EXPECT_EQ(s.WaitTimeout(kT0 + 3500, true), kWaitForever);
}

TEST(IntervalGroups, IntervalsAreSixtyFourBitAndClamped) {
  EXPECT_EQ(CIntervalScheduler::SecondsToMs(0xFFFFFFFFll), 4294967295000ll);
  EXPECT_EQ(CIntervalScheduler::SecondsToMs(-5), 0);
  EXPECT_EQ(CIntervalScheduler::SecondsToMs(1ll << 60), CIntervalScheduler::kMaxIntervalMs);
  CIntervalScheduler s(0);  // a zero global interval cannot reach a division
  CSample g(0, 0), huge(0, 0xFFFFFFFFu);
  s.Place(&g, kT0);
  s.Place(&huge, kT0);
  EXPECT_EQ(s.GroupOf(&huge)->intervalMs, 4294967295000ll);
  EXPECT_GT(s.GroupOf(&g)->intervalMs, 0);
  s.SelectDue(kT0);
  std::int64_t t = s.NextTimeout(kT0 + 10, false);
  EXPECT_GE(t, 0);
  EXPECT_LE(t, CIntervalScheduler::kDueSlackMs + 1);
  // Clock readings far outside any calendar are clamped, not overflowed.
  EXPECT_GE(s.NextTimeout(INT64_MAX, false), 0);
  EXPECT_GE(s.NextTimeout(INT64_MIN, false), 0);
}

// ---------------------------------------------------------------- leak check

namespace {

// Working-set reader for one query after another: before each query it
// reads base, after it base + the pass's growth.
struct ScriptedWorkingSet {
  std::vector<std::uint64_t> growth;
  std::size_t calls = 0;
  CPerfSnap::WorkingSetProbe Probe() {
    return [this](std::uint64_t* bytes) {
      std::size_t pass = calls / 2;
      bool after = calls % 2 == 1;
      ++calls;
      *bytes = 50u * 1024 * 1024 + (after && pass < growth.size() ? growth[pass] : 0);
      return true;
    };
  }
};

struct LeakWorld {
  perfbuild::MemoryPerfSource source{kthrdworld::Names(), kthrdworld::Block().Build()};
  CPerfSnap snap{&source, 204800, 30720};
};

// 40 passes: count passes grow by bytes, the others do not grow.
std::vector<std::uint64_t> Passes(int count, std::uint64_t bytes) {
  std::vector<std::uint64_t> g(kLeakPasses, 0);
  for (int i = 0; i < count; ++i) g[static_cast<std::size_t>(i * 7 % kLeakPasses)] = bytes;
  return g;
}

}  // namespace

TEST(LeakCheck, GrowthUpTo8192BytesIsALeakAndFiveLeaksExclude) {
  struct Case {
    int passes;
    std::uint64_t bytes;
    int leaks;
    bool excluded;
  } cases[] = {
      {5, 8192, 5, true},   // 8192 bytes counts
      {40, 8193, 0, false}, // 8193 does not, however often
      {4, 100, 4, false},   // four leaks keep the object
      {5, 1, 5, true},
      {0, 0, 0, false},
  };
  for (const Case& c : cases) {
    LeakWorld w;
    ScriptedWorkingSet ws{Passes(c.passes, c.bytes)};
    LeakCheckResult r = RunLeakCheck(&w.snap, {kthrdworld::kMemory}, nullptr, true, ws.Probe());
    SCOPED_TRACE(testing::Message() << c.passes << " passes of " << c.bytes << " bytes");
    EXPECT_EQ(w.source.queries, kLeakPasses);
    EXPECT_EQ(w.source.lastRequest, "4");
    EXPECT_EQ(r.leaks[0], c.leaks);
    EXPECT_EQ(r.excluded[0], c.excluded);
    EXPECT_EQ(r.anyExcluded, c.excluded);
  }
}

// ---------------------------------------------------------------- start-up

namespace {

struct StartupWorld {
  perfbuild::MemoryPerfSource source{kthrdworld::Names(), kthrdworld::Block().Build()};
  std::unique_ptr<CPerfName> names{new CPerfName(&source)};
  CSnapCatalog catalogue;
  std::vector<std::uint32_t> events;
  std::vector<std::uint32_t> sleeps;
  std::map<std::string, std::string> env;
  std::uint32_t tick = 10u * 60u * 1000u;
  std::int64_t now = kT0;
  ScriptedWorkingSet ws;

  void SetNames(const perfbuild::NameList& list) {
    source.SetNames(list);
    names.reset(new CPerfName(&source));
  }
  KthrdHooks Hooks() {
    KthrdHooks h;
    h.clock = [this] { return now; };
    h.tickCount = [this] { return tick; };
    h.sleep = [this](std::uint32_t ms) { sleeps.push_back(ms); };
    h.reportEvent = [this](std::uint32_t id, const char* text) {
      EXPECT_STREQ(text, KthrdEventText(id));
      events.push_back(id);
      return true;
    };
    h.workingSet = ws.Probe();
    h.getEnv = [this](const char* name) -> const char* {
      auto it = env.find(name);
      return it == env.end() ? nullptr : it->second.c_str();
    };
    return h;
  }
};

std::shared_ptr<CSample> MakeSample(const kthrdworld::Description& d, StartupWorld& w, std::uint32_t interval = 0,
                                    std::uint32_t fixed = 0) {
  auto s = std::make_shared<CSample>(fixed, interval);
  EXPECT_EQ(s->ProcessRawSampleDescription(d.text[0], d.text[1], d.text[2], d.text[3], d.text[4], d.text[5],
                                           d.text[6], d.text[7]),
            kSampleOk);
  s->ConvertNamesToNumbers(w.catalogue, *w.names);
  return s;
}

}  // namespace

TEST(KthrdStartUp, BuildsTheListsAndTheCatalogue) {
  StartupWorld w;
  w.tick = 1000;  // just rebooted
  CKthrdEngine e(&w.source, w.names.get(), &w.catalogue, 5000, false, w.Hooks());
  ASSERT_EQ(e.StartUp(), 0);
  EXPECT_EQ(w.sleeps, std::vector<std::uint32_t>{kRebootDelayMs});
  EXPECT_TRUE(w.events.empty());
  EXPECT_EQ(e.SnapControlObjects(), "4 238 2 230 ");
  EXPECT_EQ(w.catalogue.Size(), 4u);
  EXPECT_FALSE(e.SnapshotsDisabled());
  EXPECT_EQ(e.LeakResult().passes, 4 * kLeakPasses);

  StartupWorld late;
  late.tick = kRebootWindowMs + 1;
  CKthrdEngine e2(&late.source, late.names.get(), &late.catalogue, 5000, false, late.Hooks());
  ASSERT_EQ(e2.StartUp(), 0);
  EXPECT_TRUE(late.sleeps.empty());
}

TEST(KthrdStartUp, OutcomesAndTheirEvents) {
  using Events = std::vector<std::uint32_t>;
  const struct {
    const char* what;
    std::function<void(StartupWorld&)> setup;
    int result;
    Events events;
    const char* objects;  // the snapshot's object list after the start, when it started
  } cases[] = {
      {"System excluded by name, an object Perflib does not know, Processor leaking 4 KiB in six passes",
       [](StartupWorld& w) {
         w.env["NT_EXCLUDE_PERF_OBJS"] = "System";
         perfbuild::BlockBuilder b = kthrdworld::Block();
         b.Object(9999).Counter(6, PERF_COUNTER_RAWCOUNT).Values({1});
         w.source.SetBlock(b.Build());
         w.ws.growth.assign(4 * kLeakPasses, 0);
         for (int i = 0; i < 6; ++i) w.ws.growth[kLeakPasses + static_cast<std::size_t>(i)] = 4096;
       },
       0, Events{kEventRegistryCorrupt, kEventMemoryLeaks}, "4 2 230 "},  // System stays: the block holds it
      {"NT_PERFMON_MEMORY_CHECK=0 with every pass leaking",
       [](StartupWorld& w) {
         w.env["NT_PERFMON_MEMORY_CHECK"] = "0";
         w.ws.growth.assign(4 * kLeakPasses, 16);
       },
       0, Events{}, "4 238 2 230 "},
      {"every object leaking",
       [](StartupWorld& w) { w.ws.growth.assign(4 * kLeakPasses, 100); },
       0, Events{kEventMemoryLeaks, kEventAllExcluded}, "4 238 2 230 "},
      {"no built-in object in Perflib", [](StartupWorld& w) { w.SetNames({{5, "Something"}, {7, "Else"}}); },
       1, Events{kEventNoCounters}, nullptr},
      {"Perflib lists Memory under index 0 as well",
       [](StartupWorld& w) {
         perfbuild::NameList names = kthrdworld::Names();
         names.push_back({0, "Memory"});
         w.SetNames(names);
       },
       0, Events{kEventRegistryCorrupt}, nullptr},
      {"the provider answers with garbage",
       [](StartupWorld& w) { w.source.SetBlock(std::vector<std::uint8_t>(512, 0x41)); }, 1, Events{}, nullptr},
  };
  for (const auto& c : cases) {
    StartupWorld w;
    c.setup(w);
    CKthrdEngine e(&w.source, w.names.get(), &w.catalogue, 5000, false, w.Hooks());
    EXPECT_EQ(e.StartUp(), c.result) << c.what;
    EXPECT_EQ(w.events, c.events) << c.what;
    if (c.objects != nullptr) {
      EXPECT_EQ(e.SnapControlObjects(), c.objects) << c.what;
      EXPECT_EQ(e.LeakResult().passes, 4 * kLeakPasses) << c.what;  // every object measured
    }
  }
}

TEST(KthrdStartUp, EverythingExcludedKeepsRunningWithSnapshotsDisabled) {
  StartupWorld w;
  w.ws.growth.assign(4 * kLeakPasses, 100);
  CKthrdEngine e(&w.source, w.names.get(), &w.catalogue, 5000, false, w.Hooks());
  ASSERT_EQ(e.StartUp(), 0);
  EXPECT_TRUE(e.SnapshotsDisabled());

  // A sample described now is never refreshed: it becomes ready with no rows
  // at its first due time instead of keeping its readers waiting.
  auto memory = MakeSample(kthrdworld::MemoryDescription(), w);
  ASSERT_TRUE(memory->Valid());
  ASSERT_EQ(e.AddSample(memory), 0);
  e.PlaceNewSamples();
  EXPECT_FALSE(memory->Ready());
  e.GetSnapValues();
  EXPECT_TRUE(memory->Ready());
  EXPECT_EQ(memory->RowCount(), 0u);
}

// ---------------------------------------------------------------- periodic cycle

TEST(KthrdCycle, DueSamplesAreUpdatedAndMissingObjectsCleared) {
  StartupWorld w;
  CKthrdEngine e(&w.source, w.names.get(), &w.catalogue, 5000, true, w.Hooks());
  ASSERT_EQ(e.StartUp(), 0);
  auto memory = MakeSample(kthrdworld::MemoryDescription(), w);
  auto cpu = MakeSample(kthrdworld::ProcessorDescription(), w, 10);
  auto cpu2 = MakeSample(kthrdworld::ProcessorDescription(), w, 10);
  auto process = MakeSample(kthrdworld::ProcessDescription(), w, 20);
  for (auto& s : {memory, cpu, cpu2, process}) ASSERT_EQ(e.AddSample(s), 0);
  EXPECT_EQ(e.PlacedCount(), 0u);
  e.PlaceNewSamples();
  EXPECT_EQ(e.PlacedCount(), 4u);
  EXPECT_EQ(e.FindSample(reinterpret_cast<std::uintptr_t>(cpu.get())), cpu);

  // All due at once: one request, each object once, with "Costly".
  e.GetSnapValues();
  EXPECT_EQ(e.LastRequest(), "4 238 230 Costly");
  EXPECT_EQ(memory->RowCount(), 1u);
  EXPECT_EQ(cpu->RowCount(), 2u);
  EXPECT_EQ(cpu2->RowCount(), 2u);
  EXPECT_EQ(process->RowCount(), 3u);
  EXPECT_TRUE(process->Ready());

  // Five seconds later only the global group is due, and Processor has gone
  // from the data: nothing but Memory is asked for.
  perfbuild::BlockBuilder b = kthrdworld::Block(2);
  w.source.SetBlock(b.Build());
  w.now += 5000;
  EXPECT_EQ(e.WaitTimeout(), 0);
  e.GetSnapValues();
  EXPECT_EQ(e.LastRequest(), "4 Costly");
  // At ten seconds the 10-second group is due with the global one; an
  // object that the snapshot does not hold leaves its samples without rows.
  perfbuild::BlockBuilder onlyMemory;
  onlyMemory.Object(kthrdworld::kMemory).Counter(24, PERF_COUNTER_LARGE_RAWCOUNT).Values({5});
  w.source.SetBlock(onlyMemory.Build());
  w.now += 5000;
  e.GetSnapValues();
  EXPECT_EQ(e.LastRequest(), "4 238 Costly");
  EXPECT_EQ(cpu->RowCount(), 0u);
  EXPECT_TRUE(cpu->Ready());
  EXPECT_TRUE(cpu->ObjectMissing());
  EXPECT_EQ(process->RowCount(), 3u);  // not due, untouched
  EXPECT_EQ(memory->RowCount(), 1u);

  // Remove, change and the global interval: the scheduler tests and the COM client.
}

TEST(KthrdCycle, InvalidAndObjectlessSamplesAreNeverRequestedButBecomeReady) {
  StartupWorld w;
  CKthrdEngine e(&w.source, w.names.get(), &w.catalogue, 5000, false, w.Hooks());
  ASSERT_EQ(e.StartUp(), 0);
  kthrdworld::Description unknown = kthrdworld::MemoryDescription();
  unknown.text[0] = u"2 1 1 Nonesuch (2 Available Bytes, Committed Bytes)";
  auto bad = MakeSample(unknown, w);
  EXPECT_FALSE(bad->Valid());
  kthrdworld::Description flagless = kthrdworld::MemoryDescription();
  flagless.text[0] = u"2 1 0 Memory (2 Available Bytes, Committed Bytes)";
  auto none = MakeSample(flagless, w);
  EXPECT_TRUE(none->Valid());
  e.AddSample(bad);
  e.AddSample(none);
  e.PlaceNewSamples();
  int before = w.source.queries;
  e.GetSnapValues();
  EXPECT_EQ(w.source.queries, before);  // nothing to ask for: no query at all
  EXPECT_TRUE(bad->Ready());
  EXPECT_TRUE(none->Ready());
  EXPECT_EQ(none->RowCount(), 0u);
}

// ---------------------------------------------------------------- trigger log

namespace {

// The file's text with Windows line ends read as plain ones.
std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  std::string text;
  for (char c : s.str())
    if (c != '\r') text.push_back(c);
  return text;
}

TriggerTime Fixed() {
  TriggerTime t;
  t.year = 2010;
  t.month = 4;
  t.day = 12;
  t.hour = 8;
  t.minute = 14;
  t.second = 21;
  t.millis = 5;
  return t;
}

}  // namespace

TEST(TriggerLog, AFileThatCannotBeOpenedSwitchesTheTriggersOff) {
  CTriggerLog log;
  TriggerConfig c;
  c.on = true;
  c.fileName = "no-such-directory/osmperf.log";
  int opened = 0;
  auto failing = [&](const char*, const char*) -> std::FILE* {
    ++opened;
    return nullptr;
  };
  EXPECT_FALSE(log.Configure(c, failing));
  EXPECT_EQ(opened, 1);
  EXPECT_FALSE(log.Active());
  // A counter over the threshold now writes nowhere and does not crash.
  CSample sample;
  CSampleRow row(&sample, u"x", {});
  CCounter counter(&sample, &row, 6, 0, 4, kColumnInt32, 1.0);
  log.Percent(counter, 5000.0);
  // Triggers off: the file is not even opened.
  c.on = false;
  EXPECT_FALSE(log.Configure(c, failing));
  EXPECT_EQ(opened, 1);
}

TEST(TriggerLog, HitsAboveTheHighThresholdAreWrittenWithTheirReadings) {
  EXPECT_DOUBLE_EQ(ParseThreshold("97.5"), 97.5);
  EXPECT_DOUBLE_EQ(ParseThreshold("high"), 0.0);

  const std::string path = "kthrd_trigger_test.log";
  TriggerConfig c;
  c.on = true;
  c.high = 97.5;
  c.fileName = path;
  CTriggerLog& log = CTriggerLog::Instance();
  ASSERT_TRUE(log.Configure(c, CTriggerLog::Opener(), &Fixed));
  CTriggerLog::Attach();

  // % Idle Ratio is a raw fraction: 98 on instance "0", 97 on "_Total".
  StartupWorld w;
  CKthrdEngine e(&w.source, w.names.get(), &w.catalogue, 5000, false, w.Hooks());
  ASSERT_EQ(e.StartUp(), 0);
  auto cpu = MakeSample(kthrdworld::ProcessorDescription(), w);
  e.AddSample(cpu);
  e.PlaceNewSamples();
  e.GetSnapValues();
  log.Close();
  CCounter::SetPercentObserver(nullptr);

  std::string text = ReadFile(path);
  std::remove(path.c_str());
  EXPECT_NE(text.find("2010.04.12.08.14.21.005 OSMPERF LOG FILE BEGINS\n"), std::string::npos);
  EXPECT_NE(text.find("TriggersOn:Yes LowThreshold:-1.000000 HighThreshold:97.500000 File:Replace\n"),
            std::string::npos);
  EXPECT_NE(text.find("CCOUNTER::Process % Trigger Hit:98.000000 Object:Processor Counterid:240 Inst:0\n"),
            std::string::npos);
  EXPECT_NE(text.find(" CT:20020400 ND:0000000000000062 OD:0000000000000062 NB:0000000000000064 "
                      "OB:0000000000000064 DT:"),
            std::string::npos);
  EXPECT_EQ(text.find("Inst:_Total"), std::string::npos);  // 97 is below the threshold
}

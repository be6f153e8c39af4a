#include "perfsvc/kthrd_engine.h"

#include "framework/ras1.h"
#include "perfsvc/perf_text.h"
#include "perfsvc/perf_walkers.h"
#include "perfsvc/sample.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

namespace osmperf {

namespace {

// Buffer policies of the support thread's snapshots.
constexpr std::uint32_t kStartupInitialSize = 204800;
constexpr std::uint32_t kStartupIncrement = 30720;
constexpr std::uint32_t kPeriodicIncrement = 12288;

std::string NameOf(const CPerfName* names, std::uint32_t index) {
  const char16_t* name = names != nullptr ? names->Name(index) : nullptr;
  return name != nullptr ? PrintName(name) : std::to_string(index);
}

std::int64_t RuntimeClock() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

const char* KthrdEventText(std::uint32_t eventId) {
  switch (eventId) {
    case kEventRegistryCorrupt:
      return "Perfmon counters have been excluded due to registry corruption.  See the agent log for the details";
    case kEventNoCounters:
      return "No perfmon counters have been found in the registry.  See the agent log for the details";
    case kEventMemoryLeaks:
      return "Perfmon counters have been excluded due to counter memory leaks.  See the agent log for the details";
    case kEventAllExcluded:
      return "ALL perfmon counters have been excluded due to registry corruption or counter memory leaks.  "
             "See the agent log for the details";
    case kEventFinalSnapFailed:
      return "The final request for perfmon counters has failed, agent exiting.  See the agent log for the details";
    default:
      return "";
  }
}

KthrdHooks PortableKthrdHooks() {
  KthrdHooks h;
  h.clock = &RuntimeClock;
  h.tickCount = [] { return static_cast<std::uint32_t>(0xFFFFFFFFu); };  // uptime unknown: no reboot delay
  h.sleep = [](std::uint32_t) {};
  h.reportEvent = [](std::uint32_t, const char*) { return true; };
  h.getEnv = [](const char* name) { return BSS1_GetEnv(name, 0); };
  return h;
}

std::string IndexListText(const std::vector<std::uint32_t>& indexes) {
  std::string text;
  for (std::uint32_t i : indexes) {
    text += std::to_string(i);
    text += ' ';
  }
  return text;
}

LeakCheckResult RunLeakCheck(CPerfSnap* snap, const std::vector<std::uint32_t>& objects, const CPerfName* names,
                             bool exclusionEnabled, const CPerfSnap::WorkingSetProbe& probe, int passes) {
  RAS1_UNIT("RunLeakCheck");
  LeakCheckResult result;
  result.leaks.assign(objects.size(), 0);
  result.excluded.assign(objects.size(), false);
  bool wasLeakCheck = snap->LeakCheck();
  snap->SetLeakCheck(true, probe);
  for (std::size_t i = 0; i < objects.size(); ++i) {
    std::string request = std::to_string(objects[i]);
    std::string name = NameOf(names, objects[i]);
    int& leaks = result.leaks[i];
    for (int pass = 1; pass <= passes; ++pass) {
      ++result.passes;
      if (!snap->Snap(request.c_str())) RAS1_TRACE(RAS1_ERROR, "Memory leak snap failed, continuing...");
      std::uint64_t growth = snap->MemoryGrowth();
      if (growth > 0) {
        RAS1_TRACE(RAS1_FLOW, "Memory usage, counter:'%s', memory usage:%d, pass:%d", name.c_str(),
                   static_cast<int>(growth > 0x7FFFFFFF ? 0x7FFFFFFF : growth), pass);
        if (growth <= kLeakMaxGrowth) ++leaks;
      }
      if (leaks > kLeakExcludeAbove && exclusionEnabled && !result.excluded[i]) {
        RAS1_TRACE(RAS1_ERROR, "%d memory leaks found, excluding counter:'%s'", leaks, name.c_str());
        result.excluded[i] = true;
        result.anyExcluded = true;
      }
      if (snap->SlowQuery()) {
        RAS1_TRACE(RAS1_ERROR, "Counter:'%s' is taking long (>%d sec). This is a possible source of high CPU usage",
                   name.c_str(), CPerfSnap::kSlowSeconds);
        RAS1_TRACE(RAS1_ERROR, "Consider to disable it by means of the NT_EXCLUDE_PERF_OBJS variable");
      }
    }
  }
  snap->SetLeakCheck(wasLeakCheck, wasLeakCheck ? probe : CPerfSnap::WorkingSetProbe());
  return result;
}

CKthrdEngine::CKthrdEngine(IPerfDataSource* source, const CPerfName* names, CSnapCatalog* catalogue,
                           std::int64_t globalIntervalMs, bool costly, KthrdHooks hooks)
    : source_(source),
      names_(names),
      catalogue_(catalogue),
      costly_(costly),
      hooks_(std::move(hooks)),
      globalMs_(globalIntervalMs),
      scheduler_(globalIntervalMs) {}

CKthrdEngine::~CKthrdEngine() = default;

std::int64_t CKthrdEngine::Now() const { return hooks_.clock ? hooks_.clock() : RuntimeClock(); }

bool CKthrdEngine::WriteEvent(std::uint32_t eventId) {
  RAS1_UNIT("WriteEvent");
  bool ok = hooks_.reportEvent ? hooks_.reportEvent(eventId, KthrdEventText(eventId)) : false;
  if (!ok) RAS1_TRACE(RAS1_ERROR, "Write to Application Event Log failed.");
  return ok;
}

int CKthrdEngine::StartUp() {
  RAS1_ENTRY("ServiceThreadMain");
  // 1. Providers load late after a reboot.
  std::uint32_t tick = hooks_.tickCount ? hooks_.tickCount() : 0xFFFFFFFFu;
  if (tick <= kRebootWindowMs) {
    RAS1_TRACE(RAS1_FLOW, "Delaying 5 seconds for perfmon DLLs to load because of reboot...");
    if (hooks_.sleep) hooks_.sleep(kRebootDelayMs);
  }

  // 2. The objects Perflib knows, without the administrator's exclusions.
  FirstObjectList first;
  const char* exclusions = hooks_.getEnv ? hooks_.getEnv("NT_EXCLUDE_PERF_OBJS") : nullptr;
  BuildFirstObjectList(source_, exclusions, &first);
  std::string firstText = first.Text();
  RAS1_TRACE(RAS1_FLOW, "First Perfmon Snap Control Objects='%s'", firstText.c_str());
  if (first.corrupt) WriteEvent(kEventRegistryCorrupt);

  // 3. Nothing to sample at all.
  if (first.indexes.empty()) {
    RAS1_ALWAYS("No perfmon counters found, exiting agent...");
    WriteEvent(kEventNoCounters);
    return 1;
  }

  // 4. The first snapshot: what the providers really return.
  CPerfSnap snap(source_, kStartupInitialSize, kStartupIncrement);
  if (!snap.Snap(firstText.c_str())) {
    RAS1_ALWAYS("First perfmon snap failed, exiting agent...");
    return 1;
  }

  // 5. The second list: the objects returned, without corrupt indexes.
  std::vector<std::uint32_t> second;
  bool dropped = false;
  {
    CObjectWalker objects(snap.Block());
    for (bool ok = objects.First(); ok; ok = objects.Next()) {
      std::uint32_t index = objects.Current().nameIndex;
      if (index == 0 || index > first.largestIndex) {
        RAS1_TRACE(RAS1_ERROR, "Excluding invalid perfmon snap counter index=%d", static_cast<int>(index));
        dropped = true;
        continue;
      }
      second.push_back(index);
    }
  }
  if (dropped) WriteEvent(kEventRegistryCorrupt);
  std::string secondText = IndexListText(second);
  controlObjects_ = secondText;
  RAS1_TRACE(RAS1_FLOW, "2nd   Perfmon Snap Control Objects='%s'", secondText.c_str());

  // 6.-7. The leak check: 40 passes for every object.
  const char* memoryCheck = hooks_.getEnv ? hooks_.getEnv("NT_PERFMON_MEMORY_CHECK") : nullptr;
  bool exclusionEnabled = !(memoryCheck != nullptr && std::strcmp(memoryCheck, "0") == 0);
  if (!exclusionEnabled)
    RAS1_TRACE(RAS1_FLOW, "Perfmon memory leak counter exclusion disabled...");
  else
    RAS1_TRACE(RAS1_FLOW, "Perfmon memory leak(%d iterations) checking in progress...", kLeakPasses);
  leakResult_ = RunLeakCheck(&snap, second, names_, exclusionEnabled, hooks_.workingSet);
  if (leakResult_.anyExcluded) WriteEvent(kEventMemoryLeaks);

  // 8. The final list.
  finalList_.clear();
  for (std::size_t i = 0; i < second.size(); ++i)
    if (!leakResult_.excluded[i]) finalList_.push_back(second[i]);
  std::string finalText = IndexListText(finalList_);
  RAS1_TRACE(RAS1_FLOW, "Final Perfmon Snap Control Objects='%s'", finalText.c_str());
  bool allExcluded = finalList_.empty();
  if (allExcluded) {
    finalList_ = second;
    WriteEvent(kEventAllExcluded);
  } else {
    controlObjects_ = finalText;
  }

  // 9. The final snapshot builds the catalogue.
  {
    CPerfSnap finalSnap(source_, kStartupInitialSize, kStartupIncrement);
    if (!finalSnap.Snap(controlObjects_.c_str())) {
      RAS1_ALWAYS("Final perfmon snap failed, exiting agent...");
      WriteEvent(kEventFinalSnapFailed);
      return 1;
    }
    finalTotalBytes_ = finalSnap.Block().TotalByteLength();
    if (catalogue_ != nullptr) catalogue_->Build(names_, finalSnap.Block());
  }

  // 10. The periodic snapshot, its buffer sized by one query.
  periodic_.reset(new CPerfSnap(source_, kStartupInitialSize, kPeriodicIncrement));
  periodic_->Snap(controlObjects_.c_str());
  periodic_->SetDisabled(allExcluded);
  return 0;
}

int CKthrdEngine::AddSample(std::shared_ptr<CSample> sample) {
  RAS1_UNIT("osmkthrd::AddSample");
  try {
    std::lock_guard<std::mutex> guard(listLock_);
    if (samples_.size() == samples_.capacity()) samples_.reserve(samples_.empty() ? 64 : samples_.size() * 3 / 2);
    unplaced_.reserve(unplaced_.size() + 1);
    samples_.push_back(sample);
    unplaced_.push_back(sample.get());
  } catch (const std::exception& e) {
    RAS1_TRACE(RAS1_ERROR, "Exception raised: %s", e.what());
    return -1;
  }
  return 0;
}

std::shared_ptr<CSample> CKthrdEngine::FindSample(std::uintptr_t handle) const {
  if (handle == 0) return nullptr;
  std::lock_guard<std::mutex> guard(listLock_);
  for (const auto& s : samples_)
    if (reinterpret_cast<std::uintptr_t>(s.get()) == handle) return s;
  return nullptr;
}

std::vector<std::shared_ptr<CSample>> CKthrdEngine::Samples() const {
  std::lock_guard<std::mutex> guard(listLock_);
  return samples_;
}

std::int64_t CKthrdEngine::WaitTimeout() { return scheduler_.WaitTimeout(Now(), suspended_.load()); }

void CKthrdEngine::PlaceNewSamples() {
  RAS1_UNIT("PlaceNewSamples");
  std::vector<CSample*> fresh;
  {
    std::lock_guard<std::mutex> guard(listLock_);
    fresh.swap(unplaced_);
  }
  std::int64_t now = Now();
  for (std::size_t i = 0; i < fresh.size(); ++i) {
    try {
      scheduler_.Place(fresh[i], now);
      ++placedCount_;
    } catch (const std::exception& e) {
      // Keep the rest for the next call.
      RAS1_TRACE(RAS1_ERROR, "Exception raised: %s", e.what());
      std::lock_guard<std::mutex> guard(listLock_);
      unplaced_.insert(unplaced_.begin(), fresh.begin() + static_cast<std::ptrdiff_t>(i), fresh.end());
      return;
    }
  }
}

std::int32_t CKthrdEngine::RemoveSampleHandler(CSample* sample) {
  std::shared_ptr<CSample> keep;  // the sample dies with the last reference
  bool placed = true;
  {
    std::lock_guard<std::mutex> guard(listLock_);
    auto it = std::find_if(samples_.begin(), samples_.end(),
                           [sample](const std::shared_ptr<CSample>& s) { return s.get() == sample; });
    if (it == samples_.end()) return kResultUnexpected;
    keep = *it;
    samples_.erase(it);
    auto u = std::find(unplaced_.begin(), unplaced_.end(), sample);
    if (u != unplaced_.end()) {
      unplaced_.erase(u);
      placed = false;
    }
  }
  if (!placed) return kResultOk;
  std::int32_t rc = scheduler_.Remove(sample);
  if (rc == kResultOk && placedCount_.load() > 0) --placedCount_;
  return rc;
}

std::int32_t CKthrdEngine::ChangeSampleHandler(CSample* sample, std::uint32_t seconds) {
  {
    std::lock_guard<std::mutex> guard(listLock_);
    auto u = std::find(unplaced_.begin(), unplaced_.end(), sample);
    if (u != unplaced_.end()) {
      // Not placed yet: it joins the group of its new interval when placed.
      sample->SetIntervalSeconds(seconds);
      return kResultOk;
    }
  }
  return scheduler_.Change(sample, seconds, Now());
}

std::int32_t CKthrdEngine::ChangeGlobalTimeHandler(std::int64_t intervalMs) {
  globalMs_.store(intervalMs);
  return scheduler_.SetGlobalInterval(intervalMs, Now());
}

void CKthrdEngine::GetSnapValues() {
  RAS1_UNIT("GetSnapValues");
  try {
    std::int64_t start = Now();
    due_ = scheduler_.SelectDue(start);
    if (due_.empty()) return;
    request_.clear();
    requested_.clear();
    for (CSample* s : due_) {
      std::lock_guard<COsmLock> guard(s->RowLock());
      s->SetUpdated(false);
      std::uint32_t index = s->ObjectIndex();
      if (!s->Valid() || index == 0) continue;
      if (std::find(requested_.begin(), requested_.end(), index) != requested_.end()) continue;
      if (!requested_.empty()) request_ += ' ';
      request_ += s->ObjectIndexText();
      requested_.push_back(index);
    }
    if (costly_ && !request_.empty()) request_ += " Costly";

    bool disabled = periodic_ == nullptr || periodic_->Disabled();
    if (!request_.empty() && periodic_ != nullptr && periodic_->Snap(request_.c_str())) {
      const CPerfBlock& block = periodic_->Block();
      CObjectWalker objects(block);
      for (bool ok = objects.First(); ok; ok = objects.Next()) {
        const CPerfObject& object = objects.Current();
        for (CSample* s : due_) {
          std::lock_guard<COsmLock> guard(s->RowLock());
          if (s->ObjectIndex() != object.nameIndex || !s->Valid()) continue;
          s->Update(block, object);
          s->SetUpdated(!disabled);
        }
      }
    }
    // Samples whose object the snapshot did not hold have no rows now; they
    // count as ready so that no reader waits for them for ever.
    for (CSample* s : due_)
      if (!s->Updated()) s->MarkObjectMissing();
  } catch (const std::exception& e) {
    RAS1_TRACE(RAS1_ERROR, "Exception raised: %s", e.what());
  }
}

}  // namespace osmperf

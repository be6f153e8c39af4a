// The work of the support thread, apart from the thread itself: start-up
// (reboot delay, object lists, leak check, event log entries), the sample
// list, the interval groups and the periodic snapshot. osmkthrd runs it on
// its thread; tests and benchmarks drive it directly with their own clock,
// working-set reader and event log.
#pragma once

#include "perfsvc/kthrd_sched.h"
#include "perfsvc/perf_name.h"
#include "perfsvc/perf_snap.h"
#include "perfsvc/perf_source.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace osmperf {

class CSample;

// Application event log entries of the support thread (source "OSM").
enum : std::uint32_t {
  kEventRegistryCorrupt = 0x8FFF0001u,  // warning
  kEventNoCounters = 0xCFFF0002u,       // error
  kEventMemoryLeaks = 0x8FFF0003u,      // warning
  kEventAllExcluded = 0xCFFF0004u,      // error
  kEventFinalSnapFailed = 0xCFFF0005u   // error
};
// The text of an event id ("" for an unknown id); errors have bits 30-31 set.
const char* KthrdEventText(std::uint32_t eventId);
inline bool KthrdEventIsError(std::uint32_t eventId) { return (eventId & 0xC0000000u) == 0xC0000000u; }

// What the engine needs from the platform.
struct KthrdHooks {
  std::function<std::int64_t()> clock;               // milliseconds since 1970
  std::function<std::uint32_t()> tickCount;          // milliseconds since the system started
  std::function<void(std::uint32_t ms)> sleep;
  std::function<bool(std::uint32_t eventId, const char* text)> reportEvent;  // false: not written
  CPerfSnap::WorkingSetProbe workingSet;             // the leak check's working-set reader
  std::function<const char*(const char* name)> getEnv;
};
// The C runtime clock, no sleep, no event log, no working set, BSS1_GetEnv.
KthrdHooks PortableKthrdHooks();

// Leak check constants.
constexpr int kLeakPasses = 40;
constexpr std::uint64_t kLeakMaxGrowth = 8192;  // a growth up to this many bytes counts as a leak
constexpr int kLeakExcludeAbove = 4;            // more counted leaks than this exclude the object
constexpr std::uint32_t kRebootWindowMs = 180000;
constexpr std::uint32_t kRebootDelayMs = 5000;

struct LeakCheckResult {
  std::vector<int> leaks;        // counted leaks per object
  std::vector<bool> excluded;    // per object
  int passes = 0;                // passes run in all
  bool anyExcluded = false;
};

// Snapshots each object passes times alone with snap in leak-check mode and
// counts its leaks: growths of the working set above 0 and up to
// kLeakMaxGrowth bytes. With exclusion enabled an object with more than
// kLeakExcludeAbove leaks is excluded. names may be null (for traces).
LeakCheckResult RunLeakCheck(CPerfSnap* snap, const std::vector<std::uint32_t>& objects, const CPerfName* names,
                             bool exclusionEnabled, const CPerfSnap::WorkingSetProbe& probe,
                             int passes = kLeakPasses);

// Object indexes as decimal numbers, each followed by one blank.
std::string IndexListText(const std::vector<std::uint32_t>& indexes);

class CKthrdEngine {
 public:
  // source, names and catalogue are not owned and must outlive the engine.
  CKthrdEngine(IPerfDataSource* source, const CPerfName* names, CSnapCatalog* catalogue,
               std::int64_t globalIntervalMs, bool costly, KthrdHooks hooks);
  ~CKthrdEngine();
  CKthrdEngine(const CKthrdEngine&) = delete;
  CKthrdEngine& operator=(const CKthrdEngine&) = delete;

  // ---- start-up (support thread, before the started event)
  // 0 when sampling can begin; otherwise the exit code that must end the
  // process (the service cannot work without its objects).
  int StartUp();

  // ---- sample list (any thread)
  // Hands a complete sample over. 0, or -1 when memory runs out.
  int AddSample(std::shared_ptr<CSample> sample);
  // The sample whose handle is handle, or null when it is not in the list.
  std::shared_ptr<CSample> FindSample(std::uintptr_t handle) const;
  // All samples handed over, in order.
  std::vector<std::shared_ptr<CSample>> Samples() const;
  // Samples placed in groups.
  std::uint32_t PlacedCount() const { return placedCount_.load(); }
  std::int64_t GlobalIntervalMs() const { return globalMs_.load(); }
  void SetSuspended(bool suspended) { suspended_.store(suspended); }
  bool Suspended() const { return suspended_.load(); }

  // ---- support thread
  // Milliseconds to wait for the next snapshot, or kWaitForever.
  std::int64_t WaitTimeout();
  // The wait ran out after waitedMs.
  void NoteWaited(std::int64_t waitedMs) { scheduler_.NoteWaited(waitedMs); }
  // Places the samples handed over since the last call.
  void PlaceNewSamples();
  // One periodic cycle: snapshot the objects of the due samples and update them.
  void GetSnapValues();
  // The request handlers; each returns the request's HRESULT.
  std::int32_t RemoveSampleHandler(CSample* sample);
  std::int32_t ChangeSampleHandler(CSample* sample, std::uint32_t seconds);
  std::int32_t ChangeGlobalTimeHandler(std::int64_t intervalMs);
  // Stores the interval a following ChangeGlobalTimeHandler applies.
  void SetGlobalIntervalMs(std::int64_t ms) { globalMs_.store(ms); }

  // ---- results of start-up
  const std::string& SnapControlObjects() const { return controlObjects_; }
  std::uint32_t FinalTotalByteLength() const { return finalTotalBytes_; }
  bool SnapshotsDisabled() const { return periodic_ && periodic_->Disabled(); }
  const std::vector<std::uint32_t>& FinalList() const { return finalList_; }
  const LeakCheckResult& LeakResult() const { return leakResult_; }
  const CIntervalScheduler& Scheduler() const { return scheduler_; }
  CPerfSnap* PeriodicSnap() { return periodic_.get(); }
  // The request text of the last periodic snapshot ("" when none was taken).
  const std::string& LastRequest() const { return request_; }

 private:
  bool WriteEvent(std::uint32_t eventId);
  std::int64_t Now() const;

  IPerfDataSource* source_;
  const CPerfName* names_;
  CSnapCatalog* catalogue_;
  bool costly_;
  KthrdHooks hooks_;
  std::atomic<std::int64_t> globalMs_;
  std::atomic<bool> suspended_{false};

  mutable std::mutex listLock_;
  std::vector<std::shared_ptr<CSample>> samples_;
  std::vector<CSample*> unplaced_;  // handed over, not yet in a group
  std::atomic<std::uint32_t> placedCount_{0};

  CIntervalScheduler scheduler_;
  std::vector<std::uint32_t> finalList_;
  std::string controlObjects_;
  std::uint32_t finalTotalBytes_ = 0;
  LeakCheckResult leakResult_;
  std::unique_ptr<CPerfSnap> periodic_;
  std::string request_;
  std::vector<CSample*> due_;
  std::vector<std::uint32_t> requested_;
};

}  // namespace osmperf

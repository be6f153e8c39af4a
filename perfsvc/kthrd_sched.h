// Interval groups of the support thread: which samples are due when.
//
// Every sample belongs to one group, the group of its interval; samples with
// interval 0 follow the global interval and form the global group. One
// snapshot serves all groups that are due at once. Groups whose intervals
// divide one another are kept in phase, so that a 30-second and a 60-second
// group are refreshed by the same snapshot every 60 seconds.
//
// Times are milliseconds since 1970 as the caller's clock reads them; the
// scheduler never reads a clock itself, so the whole logic runs under a test's
// clock. A clock that goes back shifts every due time with it.
#pragma once

#include <cstdint>
#include <vector>

namespace osmperf {

class CSample;

// Results the handlers report (HRESULT values).
constexpr std::int32_t kResultOk = 0;
constexpr std::int32_t kResultFail = static_cast<std::int32_t>(0x80004005u);         // E_FAIL
constexpr std::int32_t kResultUnexpected = static_cast<std::int32_t>(0x8000FFFFu);   // E_UNEXPECTED
constexpr std::int32_t kResultOutOfMemory = static_cast<std::int32_t>(0x8007000Eu);  // E_OUTOFMEMORY

// A wait without limit.
constexpr std::int64_t kWaitForever = -1;

struct IntervalGroup {
  std::vector<CSample*> samples;
  std::int64_t intervalMs = 0;
  std::int64_t nextDue = 0;  // milliseconds since 1970
  bool due = false;          // a due time passed before a snapshot served it
  bool global = false;       // the group of the samples with interval 0
};

class CIntervalScheduler {
 public:
  // Longest interval kept, in milliseconds (about 136 years); longer ones are
  // clamped. Clock readings are clamped to [0, kMaxTime].
  static constexpr std::int64_t kMaxIntervalMs = 0xFFFFFFFFll * 1000;
  static constexpr std::int64_t kMaxTime = 1ll << 52;
  // Groups due within this many milliseconds are taken along.
  static constexpr std::int64_t kDueSlackMs = 100;

  // Seconds to milliseconds in 64 bits; negative gives 0, too large is clamped.
  static std::int64_t SecondsToMs(std::int64_t seconds);

  explicit CIntervalScheduler(std::int64_t globalIntervalMs);

  // Places a sample into the group of its interval (IntervalSeconds(), 0 for
  // the global group), creating and phase-aligning the group when needed.
  // Throws std::bad_alloc when memory runs out.
  void Place(CSample* sample, std::int64_t now);
  // Takes the sample out of its group; a group left empty is deleted.
  // kResultUnexpected when no group holds it.
  std::int32_t Remove(CSample* sample);
  // Moves the sample to the group of newSeconds and stores the interval in
  // the sample. kResultFail when no group holds it, kResultOutOfMemory.
  std::int32_t Change(CSample* sample, std::uint32_t newSeconds, std::int64_t now);
  // Gives the global group the new interval, realigns it and keeps the groups
  // in ascending order. kResultOutOfMemory when memory runs out.
  std::int32_t SetGlobalInterval(std::int64_t intervalMs, std::int64_t now);

  // Milliseconds to wait until the next due group (0 when one is overdue), or
  // kWaitForever with no group or while suspended. Advances the due times that
  // passed and flags their groups.
  std::int64_t NextTimeout(std::int64_t now, bool suspended);
  // The wait the support thread uses: NextTimeout, but right after a snapshot
  // never shorter than half the smallest interval.
  std::int64_t WaitTimeout(std::int64_t now, bool suspended);
  // The last wait ran out after waited milliseconds: a clock that reads
  // earlier than that afterwards was set back.
  void NoteWaited(std::int64_t waitedMs);

  // Starts a snapshot at now: collects the samples of every due group (due
  // flag set, or due within kDueSlackMs), moves those groups to their next due
  // time and clears the flags.
  std::vector<CSample*> SelectDue(std::int64_t now);

  const std::vector<IntervalGroup>& Groups() const { return groups_; }
  std::int64_t GlobalIntervalMs() const { return globalMs_; }
  std::int64_t SmallestIntervalMs() const { return smallestMs_; }
  std::int64_t LastSnapStart() const { return lastSnapStart_; }
  std::size_t SampleCount() const;
  // The group holding sample, or null.
  const IntervalGroup* GroupOf(const CSample* sample) const;

 private:
  static std::int64_t ClampTime(std::int64_t t);
  // Shifts every due time when the clock went back since the last reading.
  void FollowClock(std::int64_t now);
  int FindGroup(std::int64_t intervalMs, bool global) const;
  int FindHolder(const CSample* sample, int* slot) const;
  // The next due time for a group of intervalMs placed at now.
  std::int64_t AlignedDue(std::int64_t intervalMs, int skip, std::int64_t now) const;
  int InsertGroup(IntervalGroup group);
  void EraseSample(int group, int slot);
  void RecomputeSmallest();

  std::vector<IntervalGroup> groups_;  // ascending intervals
  std::int64_t globalMs_;
  std::int64_t smallestMs_ = 0;
  std::int64_t lastNow_ = -1;        // last clock reading
  std::int64_t waitedMs_ = 0;        // a wait that ran out since that reading
  std::int64_t lastSnapStart_ = -1;  // start of the last snapshot
};

}  // namespace osmperf

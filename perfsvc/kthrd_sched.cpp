#include "perfsvc/kthrd_sched.h"

#include "perfsvc/sample.h"

#include <algorithm>
#include <limits>
#include <new>

namespace osmperf {

std::int64_t CIntervalScheduler::SecondsToMs(std::int64_t seconds) {
  if (seconds <= 0) return 0;
  if (seconds >= kMaxIntervalMs / 1000) return kMaxIntervalMs;
  return seconds * 1000;
}

std::int64_t CIntervalScheduler::ClampTime(std::int64_t t) {
  if (t < 0) return 0;
  if (t > kMaxTime) return kMaxTime;
  return t;
}

namespace {

// An interval usable as a divisor.
std::int64_t UsableInterval(std::int64_t ms) {
  if (ms < 1) return 1;
  if (ms > CIntervalScheduler::kMaxIntervalMs) return CIntervalScheduler::kMaxIntervalMs;
  return ms;
}

// The first due + k x interval (k >= 1) that lies after limit, for due <= limit.
std::int64_t NextAfter(std::int64_t due, std::int64_t interval, std::int64_t limit) {
  return due + ((limit - due) / interval + 1) * interval;
}

}  // namespace

CIntervalScheduler::CIntervalScheduler(std::int64_t globalIntervalMs)
    : globalMs_(UsableInterval(globalIntervalMs)) {}

std::size_t CIntervalScheduler::SampleCount() const {
  std::size_t n = 0;
  for (const IntervalGroup& g : groups_) n += g.samples.size();
  return n;
}

const IntervalGroup* CIntervalScheduler::GroupOf(const CSample* sample) const {
  int slot = 0;
  int k = FindHolder(sample, &slot);
  return k < 0 ? nullptr : &groups_[static_cast<std::size_t>(k)];
}

void CIntervalScheduler::FollowClock(std::int64_t now) {
  if (lastNow_ >= 0 && now < lastNow_) {
    // The clock went back: every due time moves with it, so that the time
    // left until each group is due stays what it was.
    std::int64_t delta = now - (lastNow_ + waitedMs_);
    for (IntervalGroup& g : groups_) g.nextDue = ClampTime(g.nextDue + delta);
    if (lastSnapStart_ >= 0) lastSnapStart_ = ClampTime(lastSnapStart_ + delta);
  }
  lastNow_ = now;
  waitedMs_ = 0;
}

void CIntervalScheduler::NoteWaited(std::int64_t waitedMs) {
  if (waitedMs > 0 && waitedMs < kMaxTime) waitedMs_ = std::min(kMaxTime, waitedMs_ + waitedMs);
}

int CIntervalScheduler::FindGroup(std::int64_t intervalMs, bool global) const {
  for (std::size_t k = 0; k < groups_.size(); ++k) {
    const IntervalGroup& g = groups_[k];
    if (global ? g.global : (!g.global && g.intervalMs == intervalMs)) return static_cast<int>(k);
  }
  return -1;
}

int CIntervalScheduler::FindHolder(const CSample* sample, int* slot) const {
  for (std::size_t k = 0; k < groups_.size(); ++k) {
    const std::vector<CSample*>& s = groups_[k].samples;
    for (std::size_t j = 0; j < s.size(); ++j) {
      if (s[j] == sample) {
        *slot = static_cast<int>(j);
        return static_cast<int>(k);
      }
    }
  }
  return -1;
}

std::int64_t CIntervalScheduler::AlignedDue(std::int64_t intervalMs, int skip, std::int64_t now) const {
  // From the largest interval down: remember the last group whose interval is
  // a larger multiple; at the first smaller interval take the remembered
  // group, or this smaller one when it divides ours.
  const IntervalGroup* remembered = nullptr;
  const IntervalGroup* chosen = nullptr;
  bool decided = false;
  for (int k = static_cast<int>(groups_.size()) - 1; k >= 0 && !decided; --k) {
    if (k == skip) continue;
    const IntervalGroup& g = groups_[static_cast<std::size_t>(k)];
    if (g.intervalMs == intervalMs) {
      chosen = &g;  // the same interval: the same phase
      decided = true;
    } else if (g.intervalMs > intervalMs) {
      if (g.intervalMs % intervalMs == 0) remembered = &g;
    } else {
      chosen = remembered != nullptr ? remembered : (intervalMs % g.intervalMs == 0 ? &g : nullptr);
      decided = true;
    }
  }
  if (!decided) chosen = remembered;
  return chosen != nullptr ? chosen->nextDue : now;
}

int CIntervalScheduler::InsertGroup(IntervalGroup group) {
  std::size_t k = 0;
  while (k < groups_.size() && groups_[k].intervalMs <= group.intervalMs) ++k;
  groups_.insert(groups_.begin() + static_cast<std::ptrdiff_t>(k), std::move(group));
  return static_cast<int>(k);
}

void CIntervalScheduler::RecomputeSmallest() {
  smallestMs_ = 0;
  for (const IntervalGroup& g : groups_)
    if (smallestMs_ == 0 || g.intervalMs < smallestMs_) smallestMs_ = g.intervalMs;
}

void CIntervalScheduler::EraseSample(int group, int slot) {
  IntervalGroup& g = groups_[static_cast<std::size_t>(group)];
  g.samples.erase(g.samples.begin() + slot);
  if (g.samples.empty()) groups_.erase(groups_.begin() + group);
  RecomputeSmallest();
}

void CIntervalScheduler::Place(CSample* sample, std::int64_t now) {
  now = ClampTime(now);
  std::int64_t ms = SecondsToMs(sample->IntervalSeconds());
  bool global = ms == 0;
  if (global) ms = globalMs_;
  int k = FindGroup(ms, global);
  if (k >= 0) {
    groups_[static_cast<std::size_t>(k)].samples.push_back(sample);
    return;
  }
  IntervalGroup g;
  g.samples.push_back(sample);
  g.intervalMs = ms;
  g.global = global;
  g.nextDue = AlignedDue(ms, -1, now);
  InsertGroup(std::move(g));
  RecomputeSmallest();
}

std::int32_t CIntervalScheduler::Remove(CSample* sample) {
  int slot = 0;
  int k = FindHolder(sample, &slot);
  if (k < 0) return kResultUnexpected;
  EraseSample(k, slot);
  return kResultOk;
}

std::int32_t CIntervalScheduler::Change(CSample* sample, std::uint32_t newSeconds, std::int64_t now) {
  int slot = 0;
  int k = FindHolder(sample, &slot);
  if (k < 0) return kResultFail;
  std::uint32_t oldSeconds = sample->IntervalSeconds();
  EraseSample(k, slot);
  sample->SetIntervalSeconds(newSeconds);
  try {
    Place(sample, now);
  } catch (const std::bad_alloc&) {
    sample->SetIntervalSeconds(oldSeconds);
    return kResultOutOfMemory;
  } catch (...) {
    sample->SetIntervalSeconds(oldSeconds);
    return kResultUnexpected;
  }
  return kResultOk;
}

std::int32_t CIntervalScheduler::SetGlobalInterval(std::int64_t intervalMs, std::int64_t now) {
  now = ClampTime(now);
  globalMs_ = UsableInterval(intervalMs);
  int k = FindGroup(0, true);
  if (k < 0) return kResultOk;
  try {
    IntervalGroup g = std::move(groups_[static_cast<std::size_t>(k)]);
    groups_.erase(groups_.begin() + k);
    g.intervalMs = globalMs_;
    g.nextDue = AlignedDue(globalMs_, -1, now);
    g.due = false;
    InsertGroup(std::move(g));
  } catch (const std::bad_alloc&) {
    return kResultOutOfMemory;
  }
  RecomputeSmallest();
  return kResultOk;
}

std::int64_t CIntervalScheduler::NextTimeout(std::int64_t now, bool suspended) {
  now = ClampTime(now);
  FollowClock(now);
  if (groups_.empty() || suspended) return kWaitForever;
  std::int64_t earliest = std::numeric_limits<std::int64_t>::max();
  for (IntervalGroup& g : groups_) {
    std::int64_t interval = UsableInterval(g.intervalMs);
    if (g.nextDue < now) {
      // A due time passed without a snapshot: take the group along at once
      // and keep its phase for the next one.
      g.nextDue = NextAfter(g.nextDue, interval, now);
      g.due = true;
    }
    earliest = std::min(earliest, g.due ? now : g.nextDue);
  }
  RecomputeSmallest();
  return std::max<std::int64_t>(earliest - now, 0);
}

std::int64_t CIntervalScheduler::WaitTimeout(std::int64_t now, bool suspended) {
  std::int64_t timeout = NextTimeout(now, suspended);
  if (timeout == kWaitForever || lastSnapStart_ < 0) return timeout;
  std::int64_t half = smallestMs_ / 2;
  std::int64_t since = ClampTime(now) - lastSnapStart_;
  if (since < half && timeout < half) timeout = half;
  return timeout;
}

std::vector<CSample*> CIntervalScheduler::SelectDue(std::int64_t now) {
  now = ClampTime(now);
  FollowClock(now);
  lastSnapStart_ = now;
  std::vector<CSample*> due;
  std::int64_t limit = now + kDueSlackMs;
  for (IntervalGroup& g : groups_) {
    bool timeDue = g.nextDue <= limit;
    if (!g.due && !timeDue) continue;
    due.insert(due.end(), g.samples.begin(), g.samples.end());
    if (timeDue) g.nextDue = NextAfter(g.nextDue, UsableInterval(g.intervalMs), limit);
    g.due = false;
  }
  return due;
}

}  // namespace osmperf

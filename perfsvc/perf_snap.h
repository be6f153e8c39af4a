// One performance data query with its buffer policy and validation.
#pragma once

#include "perfsvc/perf_source.h"
#include "perfsvc/perf_walkers.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace osmperf {

class CPerfSnap {
 public:
  // Reads the working-set size of the own process; false when it cannot.
  using WorkingSetProbe = std::function<bool(std::uint64_t* bytes)>;

  static constexpr std::uint32_t kDefaultInitialSize = 32768;
  static constexpr std::uint32_t kDefaultIncrement = 12288;
  // A query whose buffer keeps growing gives up after this many attempts or
  // once the buffer would pass kMaxBufferSize.
  static constexpr int kMaxAttempts = 40;
  static constexpr std::uint32_t kMaxBufferSize = 256u * 1024u * 1024u;

  // source is not owned. 0 selects the default initial size and increment.
  CPerfSnap(IPerfDataSource* source, std::uint32_t initialSize = 0, std::uint32_t increment = 0);
  CPerfSnap(const CPerfSnap&) = delete;
  CPerfSnap& operator=(const CPerfSnap&) = delete;

  // Queries request (object indexes separated by blanks, optionally
  // "Costly"). True when a valid block was returned; the block is then in
  // Block() until the next query. A failed query leaves no data.
  bool Snap(const char* request);

  const CPerfBlock& Block() const { return block_; }
  std::uint32_t DataSize() const { return dataSize_; }   // bytes returned by the last query
  std::uint32_t BufferSize() const { return bufferSize_; }
  std::uint32_t Increment() const { return increment_; }
  void SetIncrement(std::uint32_t increment) { increment_ = increment ? increment : kDefaultIncrement; }
  int LastAttempts() const { return attempts_; }

  void SetDisabled(bool disabled) { disabled_ = disabled; }
  bool Disabled() const { return disabled_; }

  // Leak-check mode: each query measures the working set around itself.
  void SetLeakCheck(bool on, WorkingSetProbe probe = WorkingSetProbe());
  bool LeakCheck() const { return leakCheck_; }
  std::uint64_t MemoryGrowth() const { return memoryGrowth_; }
  bool SlowQuery() const { return slowQuery_; }
  // Seconds after which a leak-check query counts as slow.
  static constexpr int kSlowSeconds = 3;

 private:
  bool Reallocate(std::uint32_t size);
  void FreeBuffer();
  bool Validate();

  IPerfDataSource* source_;
  std::uint32_t initialSize_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::uint32_t bufferSize_ = 0;
  std::uint32_t dataSize_ = 0;
  std::uint32_t increment_;
  int attempts_ = 0;
  CPerfBlock block_;
  bool disabled_ = false;
  bool leakCheck_ = false;
  bool slowQuery_ = false;
  std::uint64_t memoryGrowth_ = 0;
  WorkingSetProbe probe_;
  std::mutex leakLock_;
};

}  // namespace osmperf

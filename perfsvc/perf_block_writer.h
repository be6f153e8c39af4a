// Writes performance data blocks byte for byte as 64-bit Windows lays out
// registry performance data: PERF_DATA_BLOCK with the system name, then per
// object its PERF_OBJECT_TYPE, PERF_COUNTER_DEFINITIONs and either one
// PERF_COUNTER_BLOCK or PERF_INSTANCE_DEFINITIONs each followed by its
// PERF_COUNTER_BLOCK. Objects, instances and counter blocks start on 8-byte
// boundaries; a 64-bit counter sits on an 8-byte offset of its counter block.
#pragma once

#include "perfsvc/perf_walkers.h"

#include <cstdint>
#include <string>
#include <vector>

namespace osmperf {

// Detail levels of objects and counters.
constexpr std::uint32_t kDetailNovice = 100;
constexpr std::uint32_t kDetailAdvanced = 200;
constexpr std::uint32_t kDetailExpert = 300;

struct PerfCounterSpec {
  std::uint32_t index = 0;  // CounterNameTitleIndex
  std::uint32_t type = 0;
  std::uint32_t size = 0;   // CounterSize; 0: 8 for 64-bit types, else 4
  std::uint32_t detailLevel = kDetailNovice;
  std::int32_t defaultScale = 0;
};

struct PerfInstanceData {
  std::u16string name;
  std::uint32_t parentObject = 0;    // ParentObjectTitleIndex
  std::uint32_t parentInstance = 0;  // ParentObjectInstance
  std::int32_t uniqueId = -1;        // PERF_NO_UNIQUE_ID
  std::vector<std::uint64_t> values; // one per counter definition, in order
};

struct PerfObjectData {
  std::uint32_t index = 0;  // ObjectNameTitleIndex
  std::uint32_t detailLevel = kDetailNovice;
  std::int64_t perfTime = 0;  // set by objects with elapsed-time counters
  std::int64_t perfFreq = 0;
  std::vector<PerfCounterSpec> counters;
  // True: the object has instances (possibly none at the moment);
  // false: PERF_NO_INSTANCES with the single counter block of values.
  bool hasInstances = true;
  std::vector<PerfInstanceData> instances;
  std::vector<std::uint64_t> values;
};

struct PerfBlockHeader {
  PerfSystemTime systemTime;   // UTC
  std::int64_t perfTime = 0;   // high-resolution counter reading
  std::int64_t perfFreq = 0;   // its ticks per second
  std::int64_t perfTime100nSec = 0;  // UTC in 100-ns units since 1601
  std::u16string systemName;
};

// Bytes of one counter's value.
std::uint32_t PerfCounterBytes(const PerfCounterSpec& counter);

// Appends nothing and returns false when a length would pass 32 bits;
// otherwise replaces *out with the block.
bool WritePerfBlock(const PerfBlockHeader& header, const std::vector<PerfObjectData>& objects,
                    std::vector<std::uint8_t>* out);

}  // namespace osmperf

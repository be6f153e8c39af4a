// A small performance world for the support thread's tests and benchmark:
// Perflib names of a few built-in objects and a block that holds them.
#pragma once

#include "perfsvc/perf_layout.h"
#include "tests/perfsvc/perf_block_builder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kthrdworld {

// Object indexes.
constexpr std::uint32_t kMemory = 4;
constexpr std::uint32_t kProcessor = 238;
constexpr std::uint32_t kSystem = 2;
constexpr std::uint32_t kProcess = 230;

inline perfbuild::NameList Names() {
  return {{2, "System"},           {4, "Memory"},          {6, "% Processor Time"},
          {7, "% Processor Time Base"}, {24, "Available Bytes"}, {26, "Committed Bytes"},
          {44, "Processor Queue Length"}, {146, "Context Switches/sec"}, {180, "Working Set"},
          {230, "Process"},        {238, "Processor"},     {240, "% Idle Ratio"},
          {241, "% Idle Ratio Base"}};
}

// Memory (no instances), Processor (two instances), System, Process with
// processes instances; values grow with step.
inline perfbuild::BlockBuilder Block(std::uint64_t step = 1, int processes = 3) {
  using namespace osmperf;
  perfbuild::BlockBuilder b;
  b.SystemTime(2010, 4, 12, 6, 14, 21, 500)
      .PerfTime(static_cast<std::int64_t>(1000000 * step))
      .PerfFreq(10000000)
      .PerfTime100nSec(static_cast<std::int64_t>(10000000 * step));
  b.Object(kMemory)
      .Counter(24, PERF_COUNTER_LARGE_RAWCOUNT)
      .Counter(26, PERF_COUNTER_LARGE_RAWCOUNT)
      .Values({1000000 + step, 2000000 + step});
  auto& cpu = b.Object(kProcessor)
                  .Counter(6, PERF_100NSEC_TIMER_INV)
                  .Counter(240, PERF_RAW_FRACTION)
                  .Counter(241, PERF_RAW_BASE);
  cpu.Instance(u"0", {2000000 * step, 98, 100});
  cpu.Instance(u"_Total", {2000000 * step, 97, 100});
  b.Object(kSystem).Counter(44, PERF_COUNTER_RAWCOUNT).Counter(146, PERF_COUNTER_COUNTER).Values({3, 1000 * step});
  auto& proc = b.Object(kProcess).Counter(6, PERF_100NSEC_TIMER).Counter(180, PERF_COUNTER_RAWCOUNT);
  for (int i = 0; i < processes; ++i)
    proc.Instance(u"proc" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)), {step * 1000, 4096u * (i + 1)});
  return b;
}

// Sample descriptions over the world (header, sizes, offsets, scales, types).
struct Description {
  const char16_t* text[8];
};

inline Description MemoryDescription() {
  return {{u"2 1 1 Memory (2 Available Bytes, Committed Bytes)", u"104 8 8", u"88 96", u"1 1", u"6 6",
           u"4 _ORIGIN_ , _SAMPLE_ , _ROW_ , _TIMESTAMP_", u"64 4 4 16", u"0 64 68 72"}};
}

inline Description ProcessorDescription() {
  return {{u"3 2 1 Processor (3 _INSTANCE_, % Processor Time, % Idle Ratio)", u"160 64 4 4", u"88 152 156",
           u"0 1 1", u"3 2 2", u"4 _ORIGIN_ , _SAMPLE_ , _ROW_ , _TIMESTAMP_", u"64 4 4 16", u"0 64 68 72"}};
}

inline Description ProcessDescription() {
  return {{u"3 20 1 Process (3 _INSTANCE_, % Processor Time, Working Set)", u"160 64 4 4", u"88 152 156",
           u"0 1 1", u"3 2 2", u"4 _ORIGIN_ , _SAMPLE_ , _ROW_ , _TIMESTAMP_", u"64 4 4 16", u"0 64 68 72"}};
}

}  // namespace kthrdworld

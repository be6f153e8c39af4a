// Byte layout of the performance data structures (64-bit Windows), and the
// counter type constants. Offsets are relative to the start of each record.
#pragma once

#include <cstddef>
#include <cstdint>

namespace osmperf {

// PERF_DATA_BLOCK
namespace pdb {
constexpr std::size_t kSignature = 0;        // WCHAR[4] "PERF"
constexpr std::size_t kLittleEndian = 8;
constexpr std::size_t kVersion = 12;
constexpr std::size_t kRevision = 16;
constexpr std::size_t kTotalByteLength = 20;
constexpr std::size_t kHeaderLength = 24;
constexpr std::size_t kNumObjectTypes = 28;
constexpr std::size_t kDefaultObject = 32;
constexpr std::size_t kSystemTime = 36;      // SYSTEMTIME, 8 x WORD
constexpr std::size_t kPerfTime = 56;        // LARGE_INTEGER (8-byte aligned)
constexpr std::size_t kPerfFreq = 64;
constexpr std::size_t kPerfTime100nSec = 72;
constexpr std::size_t kSystemNameLength = 80;
constexpr std::size_t kSystemNameOffset = 84;
constexpr std::size_t kSize = 88;
}  // namespace pdb

// PERF_OBJECT_TYPE
namespace pot {
constexpr std::size_t kTotalByteLength = 0;
constexpr std::size_t kDefinitionLength = 4;
constexpr std::size_t kHeaderLength = 8;
constexpr std::size_t kObjectNameTitleIndex = 12;
constexpr std::size_t kObjectNameTitle = 16;
constexpr std::size_t kObjectHelpTitleIndex = 20;
constexpr std::size_t kObjectHelpTitle = 24;
constexpr std::size_t kDetailLevel = 28;
constexpr std::size_t kNumCounters = 32;
constexpr std::size_t kDefaultCounter = 36;
constexpr std::size_t kNumInstances = 40;
constexpr std::size_t kCodePage = 44;
constexpr std::size_t kPerfTime = 48;
constexpr std::size_t kPerfFreq = 56;
constexpr std::size_t kSize = 64;
}  // namespace pot

// PERF_COUNTER_DEFINITION
namespace pcd {
constexpr std::size_t kByteLength = 0;
constexpr std::size_t kCounterNameTitleIndex = 4;
constexpr std::size_t kCounterNameTitle = 8;
constexpr std::size_t kCounterHelpTitleIndex = 12;
constexpr std::size_t kCounterHelpTitle = 16;
constexpr std::size_t kDefaultScale = 20;
constexpr std::size_t kDetailLevel = 24;
constexpr std::size_t kCounterType = 28;
constexpr std::size_t kCounterSize = 32;
constexpr std::size_t kCounterOffset = 36;
constexpr std::size_t kSize = 40;
}  // namespace pcd

// PERF_INSTANCE_DEFINITION
namespace pid {
constexpr std::size_t kByteLength = 0;
constexpr std::size_t kParentObjectTitleIndex = 4;
constexpr std::size_t kParentObjectInstance = 8;
constexpr std::size_t kUniqueID = 12;
constexpr std::size_t kNameOffset = 16;
constexpr std::size_t kNameLength = 20;
constexpr std::size_t kSize = 24;
}  // namespace pid

// PERF_COUNTER_BLOCK
namespace pcb {
constexpr std::size_t kByteLength = 0;
constexpr std::size_t kSize = 4;
}  // namespace pcb

constexpr std::int32_t kPerfNoInstances = -1;

// Counter type bit fields.
constexpr std::uint32_t kSizeMask = 0x00000300u;
constexpr std::uint32_t kSizeDword = 0x00000000u;
constexpr std::uint32_t kSizeLarge = 0x00000100u;
constexpr std::uint32_t kTimerMask = 0x00300000u;
constexpr std::uint32_t kTimerTick = 0x00000000u;     // block PerfTime
constexpr std::uint32_t kTimer100Ns = 0x00100000u;    // block PerfTime100nSec
constexpr std::uint32_t kTimerObject = 0x00200000u;   // object PerfTime
constexpr std::uint32_t kDisplayMask = 0xF0000000u;
constexpr std::uint32_t kDisplayPercent = 0x20000000u;

// Counter types.
enum : std::uint32_t {
  PERF_COUNTER_RAWCOUNT_HEX = 0x00000000u,
  PERF_COUNTER_RAWCOUNT = 0x00010000u,
  PERF_COUNTER_LARGE_RAWCOUNT = 0x00010100u,
  PERF_COUNTER_COUNTER = 0x10410400u,
  PERF_COUNTER_BULK_COUNT = 0x10410500u,
  PERF_SAMPLE_COUNTER = 0x00410400u,
  PERF_COUNTER_100NS_QUEUELEN_TYPE = 0x00550500u,
  PERF_COUNTER_QUEUELEN_TYPE = 0x00450400u,
  PERF_RAW_FRACTION = 0x20020400u,
  PERF_COUNTER_TIMER = 0x20410500u,
  PERF_100NSEC_TIMER = 0x20510500u,
  PERF_PRECISION_100NS_TIMER = 0x20570500u,
  PERF_SAMPLE_FRACTION = 0x20C20400u,
  PERF_COUNTER_TIMER_INV = 0x21410500u,
  PERF_100NSEC_TIMER_INV = 0x21510500u,
  PERF_COUNTER_MULTI_TIMER = 0x22410500u,
  PERF_100NSEC_MULTI_TIMER = 0x22510500u,
  PERF_COUNTER_MULTI_TIMER_INV = 0x23410500u,
  PERF_100NSEC_MULTI_TIMER_INV = 0x23510500u,
  PERF_AVERAGE_TIMER = 0x30020400u,
  PERF_ELAPSED_TIME = 0x30240500u,
  PERF_AVERAGE_BULK = 0x40020500u,
  // Base types (never read as values of their own).
  PERF_SAMPLE_BASE = 0x40030401u,
  PERF_AVERAGE_BASE = 0x40030402u,
  PERF_RAW_BASE = 0x40030403u,
  PERF_PRECISION_TIMESTAMP = 0x00030500u,
  PERF_LARGE_RAW_BASE = 0x40030500u,
  PERF_COUNTER_MULTI_BASE = 0x42030500u
};

// True for the types whose next counter definition is their base.
inline bool UsesBaseCounter(std::uint32_t type) {
  switch (type) {
    case PERF_SAMPLE_COUNTER:
    case PERF_COUNTER_QUEUELEN_TYPE:
    case PERF_RAW_FRACTION:
    case PERF_PRECISION_100NS_TIMER:
    case PERF_SAMPLE_FRACTION:
    case PERF_COUNTER_MULTI_TIMER:
    case PERF_100NSEC_MULTI_TIMER:
    case PERF_COUNTER_MULTI_TIMER_INV:
    case PERF_100NSEC_MULTI_TIMER_INV:
    case PERF_AVERAGE_TIMER:
    case PERF_AVERAGE_BULK:
      return true;
    default:
      return false;
  }
}

}  // namespace osmperf

// Counter arithmetic: every formula, wraps, first readings, clamping and the
// integer forms of a cell.
#include "perfsvc/counter.h"
#include "perfsvc/perf_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace osmperf;

namespace {

// Elapsed times of one interval: 2 s of the block timer at 1000 ticks/s,
// 2 s of 100-ns time, 4000 object ticks; and the same with one time missing.
enum Times { kInterval, kNoObjectTime, kNoFreq, kNoObjectFreq, kTimerBack };
CounterTimes MakeTimes(Times which) {
  CounterTimes t;
  t.perfTimeOld = 10000;
  t.perfTimeNew = 12000;
  t.perfTimeDelta = which == kTimerBack ? -2000 : 2000;
  t.perfTime100nSecOld = 100000000;
  t.perfTime100nSecNew = 120000000;
  t.perfTime100nSecDelta = 20000000;
  t.objectTimeOld = 6000;
  t.objectTimeNew = which == kNoObjectTime ? 0 : 10000;
  t.objectTimeDelta = 4000;
  t.perfFreq = which == kNoFreq ? 0 : 1000;
  t.objectPerfFreq = which == kNoObjectFreq ? 0 : 100;
  return t;
}

// A cell that reads two values (the first one is its first reading).
struct Cell {
  CCounter counter;
  explicit Cell(std::uint32_t type, int columnType = kColumnDouble, double scale = 1.0)
      : counter(nullptr, nullptr, 1, 0, 8, columnType, scale), type_(type) {}
  double Read(std::uint64_t raw, std::uint64_t base = 0, bool hasBase = false) {
    counter.Process(type_, raw, hasBase, PERF_LARGE_RAW_BASE, base, MakeTimes(kInterval));
    return counter.Value();
  }
  std::uint32_t type_;
};

}  // namespace

TEST(CounterFormula, EveryTypeOverOneInterval) {
  const struct {
    std::uint32_t type;
    std::uint64_t oldRaw, newRaw, oldBase, newBase;
    std::uint32_t baseType;
    Times times;
    double expected;
  } cases[] = {
      {PERF_COUNTER_RAWCOUNT, 0, 42, 0, 0, 0, kInterval, 42},
      {PERF_COUNTER_RAWCOUNT, 0, 0xFFFFFFFF00000005ull, 0, 0, 0, kInterval, 5},  // 32-bit type: the low half
      {PERF_COUNTER_LARGE_RAWCOUNT, 0, 0x100000000ull, 0, 0, 0, kInterval, 4294967296.0},
      {PERF_COUNTER_RAWCOUNT_HEX, 0, 0xFFFFFFFFu, 0, 0, 0, kInterval, 4294967295.0},
      // 500 events in 2000 ticks at 1000 ticks/s; a 32-bit wrap is a difference of 32.
      {PERF_COUNTER_COUNTER, 1000, 1500, 0, 0, 0, kInterval, 250},
      {PERF_COUNTER_BULK_COUNT, 1000, 1500, 0, 0, 0, kInterval, 250},
      {PERF_COUNTER_COUNTER, 0xFFFFFFF0u, 0x10u, 0, 0, 0, kInterval, 16},
      {PERF_SAMPLE_COUNTER, 0, 1000, 0, 0, 0, kInterval, 0.5},
      {PERF_COUNTER_100NS_QUEUELEN_TYPE, 0, 40000000, 0, 0, 0, kInterval, 2},
      // Queue length: (B x T + X) / dT with T the object's time stamp, else the block's.
      {PERF_COUNTER_QUEUELEN_TYPE, 0, 20, 0, 3, PERF_RAW_BASE, kInterval, (3.0 * 10000 + 20) / 2000},
      {PERF_COUNTER_QUEUELEN_TYPE, 0, 20, 0, 3, PERF_RAW_BASE, kNoObjectTime, (3.0 * 12000 + 20) / 2000},
      // A PerfFreq of 0 or a timer that went back measures nothing, never infinity or NaN.
      {PERF_COUNTER_COUNTER, 0, 500, 0, 0, 0, kNoFreq, 0},
      {PERF_COUNTER_BULK_COUNT, 0, 500, 0, 0, 0, kNoFreq, 0},
      {PERF_AVERAGE_TIMER, 0, 500, 0, 5, PERF_AVERAGE_BASE, kNoFreq, 0},
      {PERF_COUNTER_COUNTER, 0, 500, 0, 0, 0, kTimerBack, 0},
      // Timers and fractions: 40% of the 2 s interval; an inverse timer at 2% is 98.
      {PERF_100NSEC_TIMER, 0, 8000000, 0, 0, 0, kInterval, 40},
      {PERF_COUNTER_TIMER, 0, 500, 0, 0, 0, kInterval, 25},
      {PERF_100NSEC_TIMER_INV, 0, 400000, 0, 0, 0, kInterval, 98},
      {PERF_COUNTER_TIMER_INV, 0, 1000, 0, 0, 0, kInterval, 50},
      {PERF_RAW_FRACTION, 0, 30, 0, 120, PERF_RAW_BASE, kInterval, 25},
      {PERF_RAW_FRACTION, 0, 30, 0, 0, PERF_RAW_BASE, kInterval, 0},
      {PERF_PRECISION_100NS_TIMER, 100, 150, 1000, 1200, PERF_PRECISION_TIMESTAMP, kInterval, 25},
      {PERF_SAMPLE_FRACTION, 0, 3, 0, 4, PERF_SAMPLE_BASE, kInterval, 75},
      {PERF_SAMPLE_FRACTION, 0, 3, 4, 4, PERF_SAMPLE_BASE, kInterval, 0},
      // Multi timers over B = 4 processors.
      {PERF_COUNTER_MULTI_TIMER, 0, 1000, 0, 4, PERF_COUNTER_MULTI_BASE, kInterval, 12.5},
      {PERF_100NSEC_MULTI_TIMER, 0, 40000000, 0, 4, PERF_COUNTER_MULTI_BASE, kInterval, 50},
      {PERF_100NSEC_MULTI_TIMER_INV, 0, 40000000, 0, 4, PERF_COUNTER_MULTI_BASE, kInterval, 50},
      {PERF_COUNTER_MULTI_TIMER_INV, 0, 4000, 0, 4, PERF_COUNTER_MULTI_BASE, kInterval, 50},
      {PERF_COUNTER_MULTI_TIMER, 0, 1000, 0, 0, PERF_COUNTER_MULTI_BASE, kInterval, 0},
      // Averages: 3000 ticks over 3 operations at 1000 ticks/s is 1 s each.
      {PERF_AVERAGE_TIMER, 0, 3000, 0, 3, PERF_AVERAGE_BASE, kInterval, 1},
      {PERF_AVERAGE_BULK, 0, 4096, 10, 14, PERF_AVERAGE_BASE, kInterval, 1024},
      {PERF_AVERAGE_BULK, 0, 4096, 10, 10, PERF_AVERAGE_BASE, kInterval, 0},
      // Elapsed: (object time 10000 - start 2000) / 100 per second; a start
      // after the time stamp is no elapsed time.
      {PERF_ELAPSED_TIME, 0, 2000, 0, 0, 0, kInterval, 80},
      {PERF_ELAPSED_TIME, 0, 0, 0, 0, 0, kInterval, 0},
      {PERF_ELAPSED_TIME, 0, 20000, 0, 0, 0, kInterval, 0},
      {PERF_ELAPSED_TIME, 0, 2000, 0, 0, 0, kNoObjectFreq, 0},
      // Unknown types, and a size other than 32 or 64 bits, read as 0.
      {0x12345678u, 0, 99, 0, 0, 0, kInterval, 0},
      {PERF_COUNTER_RAWCOUNT | 0x200u, 0, 99, 0, 0, 0, kInterval, 0},
  };
  for (const auto& c : cases) {
    CounterReading r;
    r.type = c.type;
    r.oldRaw = c.oldRaw;
    r.newRaw = c.newRaw;
    r.baseType = c.baseType;
    r.oldBase = c.oldBase;
    r.newBase = c.newBase;
    EXPECT_DOUBLE_EQ(CounterFormula(r, MakeTimes(c.times)), c.expected)
        << std::hex << c.type << std::dec << " " << c.oldRaw << " -> " << c.newRaw << " times " << c.times;
  }
  // A first reading has no elapsed time: whatever needs one gives 0.
  for (std::uint32_t type : {PERF_COUNTER_COUNTER, PERF_COUNTER_BULK_COUNT, PERF_SAMPLE_COUNTER,
                             PERF_COUNTER_TIMER, PERF_100NSEC_TIMER, PERF_100NSEC_TIMER_INV,
                             PERF_COUNTER_MULTI_TIMER, PERF_COUNTER_QUEUELEN_TYPE, PERF_COUNTER_RAWCOUNT}) {
    CounterReading r;
    r.type = type;
    r.oldRaw = 100;
    r.newRaw = 900;
    r.baseType = PERF_RAW_BASE;
    r.newBase = 2;
    r.first = true;
    EXPECT_EQ(CounterFormula(r, MakeTimes(kInterval)), type == PERF_COUNTER_RAWCOUNT ? 900.0 : 0.0)
        << std::hex << type;
  }
}

TEST(CCounter, FirstReadingThenDeltaAndWraps) {
  Cell rate(PERF_COUNTER_COUNTER);
  EXPECT_EQ(rate.Read(1000), 0.0);
  EXPECT_DOUBLE_EQ(rate.Read(1500), 250.0);
  EXPECT_EQ(rate.counter.OldRaw(), 1000u);
  // 32-bit wrap keeps working across readings.
  Cell wrap(PERF_COUNTER_COUNTER);
  wrap.Read(0xFFFFFFF0u);
  EXPECT_DOUBLE_EQ(wrap.Read(0x10u), 16.0);
  // A decreasing 64-bit value (or base) starts afresh instead of a wrapped
  // difference of about 1.8e19, and the next interval measures again.
  Cell bulk(PERF_COUNTER_BULK_COUNT);
  bulk.Read(5000000);
  EXPECT_DOUBLE_EQ(bulk.Read(5002000), 1000.0);
  EXPECT_EQ(bulk.Read(100), 0.0);
  EXPECT_DOUBLE_EQ(bulk.Read(2100), 1000.0);
  Cell average(PERF_AVERAGE_BULK);
  average.Read(1000, 10, true);
  EXPECT_DOUBLE_EQ(average.Read(2000, 20, true), 100.0);
  EXPECT_EQ(average.Read(3000, 5, true), 0.0);
  EXPECT_DOUBLE_EQ(average.Read(4000, 15, true), 100.0);
}

TEST(CCounter, PercentClampLiftsOnlyNegatives) {
  Cell inv(PERF_100NSEC_TIMER_INV);
  inv.Read(0);
  // Busy time of 103% of the interval: (1 - 1.03) x 100 = -3 becomes 0.
  EXPECT_EQ(inv.Read(20600000), 0.0);
  Cell timer(PERF_100NSEC_TIMER);
  timer.Read(0);
  EXPECT_DOUBLE_EQ(timer.Read(30000000), 150.0) << "values above 100 are kept";
}

TEST(CCounter, IntegerFormsAndSaturation) {
  const struct {
    std::uint32_t type;
    int column;
    double scale;
    std::uint64_t raw;
    std::int64_t expected;
  } cases[] = {
      {PERF_COUNTER_LARGE_RAWCOUNT, kColumnInt32, 1, 3000000000ull, 2147483647},  // saturates
      {PERF_COUNTER_LARGE_RAWCOUNT, kColumnInt64, 1, 3000000000ull, 3000000000ll},
      // Type 5 has no saturation step: out of range is INT32_MIN.
      {PERF_COUNTER_LARGE_RAWCOUNT, kColumnInt32Raw, 1, 3000000000ull, std::numeric_limits<std::int32_t>::min()},
      {PERF_COUNTER_LARGE_RAWCOUNT, kColumnInt64, 1e10, 0xFFFFFFFFFFFFull, std::numeric_limits<std::int64_t>::max()},
      // Truncation toward zero, after the scale.
      {PERF_COUNTER_RAWCOUNT, kColumnInt32, 0.000976563, 1048575, 1023},
      {PERF_COUNTER_RAWCOUNT, kColumnInt32, -1.5, 3, -4},
      // A NaN scale never reaches an integer conversion unchecked.
      {PERF_COUNTER_RAWCOUNT, kColumnInt64, std::nan(""), 3, 0},
  };
  for (const auto& c : cases) {
    Cell cell(c.type, c.column, c.scale);
    cell.Read(c.raw);
    const std::uint64_t bits = cell.counter.CellBits();
    const std::int64_t got = c.column == kColumnInt64 ? static_cast<std::int64_t>(bits)
                                                      : static_cast<std::int32_t>(bits);
    EXPECT_EQ(got, c.expected) << c.raw << " x " << c.scale << " in column type " << c.column;
  }
  // PERF_COUNTER_RAWCOUNT_HEX takes the 32-bit form whatever the column.
  Cell hex(PERF_COUNTER_RAWCOUNT_HEX, kColumnDouble);
  hex.Read(0xFFFFFFFFu);
  EXPECT_EQ(hex.counter.Value(), 2147483647.0);
  // A double column stores the double's bits.
  Cell dbl(PERF_COUNTER_RAWCOUNT, kColumnDouble, 0.5);
  dbl.Read(3);
  double stored;
  std::uint64_t bits = dbl.counter.CellBits();
  std::memcpy(&stored, &bits, sizeof stored);
  EXPECT_EQ(stored, 1.5);
}

TEST(CCounter, Conversions) {
  EXPECT_EQ(SaturateToInt32(-3e9), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(SaturateToInt32(std::nan("")), 0);
  EXPECT_EQ(SaturateToInt32(-2.9), -2);
  EXPECT_EQ(SaturateToInt64(1e300), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(SaturateToInt64(-1e300), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(TruncateToInt32Raw(2147483647.9), 2147483647);
  EXPECT_EQ(TruncateToInt32Raw(-2147483648.5), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(TruncateToInt32Raw(std::nan("")), std::numeric_limits<std::int32_t>::min());
}

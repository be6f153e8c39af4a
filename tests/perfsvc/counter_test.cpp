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
// 2 s of 100-ns time, 4000 object ticks.
CounterTimes Interval() {
  CounterTimes t;
  t.perfTimeOld = 10000;
  t.perfTimeNew = 12000;
  t.perfTimeDelta = 2000;
  t.perfTime100nSecOld = 100000000;
  t.perfTime100nSecNew = 120000000;
  t.perfTime100nSecDelta = 20000000;
  t.objectTimeOld = 6000;
  t.objectTimeNew = 10000;
  t.objectTimeDelta = 4000;
  t.perfFreq = 1000;
  t.objectPerfFreq = 100;
  return t;
}

double Formula(std::uint32_t type, std::uint64_t oldRaw, std::uint64_t newRaw, std::uint64_t oldBase = 0,
               std::uint64_t newBase = 0, std::uint32_t baseType = PERF_RAW_BASE,
               const CounterTimes& t = Interval(), bool first = false) {
  CounterReading r;
  r.type = type;
  r.oldRaw = oldRaw;
  r.newRaw = newRaw;
  r.baseType = baseType;
  r.oldBase = oldBase;
  r.newBase = newBase;
  r.first = first;
  return CounterFormula(r, t);
}

// A cell that reads two values (the first one is its first reading).
struct Cell {
  CCounter counter;
  explicit Cell(std::uint32_t type, int columnType = kColumnDouble, double scale = 1.0)
      : counter(nullptr, nullptr, 1, 0, 8, columnType, scale), type_(type) {}
  double Read(std::uint64_t raw, std::uint64_t base = 0, bool hasBase = false,
              std::uint32_t baseType = PERF_LARGE_RAW_BASE, const CounterTimes& t = Interval()) {
    counter.Process(type_, raw, hasBase, baseType, base, t);
    return counter.Value();
  }
  std::uint32_t type_;
};

}  // namespace

TEST(CounterFormula, RawCountsShowTheirValue) {
  EXPECT_EQ(Formula(PERF_COUNTER_RAWCOUNT, 0, 42), 42.0);
  EXPECT_EQ(Formula(PERF_COUNTER_RAWCOUNT, 0, 0xFFFFFFFF00000005ull), 5.0) << "32-bit type uses the low half";
  EXPECT_EQ(Formula(PERF_COUNTER_LARGE_RAWCOUNT, 0, 0x100000000ull), 4294967296.0);
  EXPECT_EQ(Formula(PERF_COUNTER_RAWCOUNT_HEX, 0, 0xFFFFFFFFu), 4294967295.0);
  EXPECT_EQ(Formula(PERF_COUNTER_RAWCOUNT, 0, 42, 0, 0, 0, Interval(), true), 42.0) << "first reading";
}

TEST(CounterFormula, RatesOverElapsedTime) {
  // 500 events in 2000 ticks at 1000 ticks/s: 250/s.
  EXPECT_DOUBLE_EQ(Formula(PERF_COUNTER_COUNTER, 1000, 1500), 250.0);
  EXPECT_DOUBLE_EQ(Formula(PERF_COUNTER_BULK_COUNT, 1000, 1500), 250.0);
  // 32-bit wrap from 0xFFFFFFF0 to 0x10 is a difference of 32.
  EXPECT_DOUBLE_EQ(Formula(PERF_COUNTER_COUNTER, 0xFFFFFFF0u, 0x10u), 16.0);
  // SAMPLE_COUNTER and the 100-ns queue length divide by the raw elapsed time.
  EXPECT_DOUBLE_EQ(Formula(PERF_SAMPLE_COUNTER, 0, 1000), 0.5);
  EXPECT_DOUBLE_EQ(Formula(PERF_COUNTER_100NS_QUEUELEN_TYPE, 0, 40000000), 2.0);
  // Queue length: (B x T + X) / dT with T the object's time stamp.
  EXPECT_DOUBLE_EQ(Formula(PERF_COUNTER_QUEUELEN_TYPE, 0, 20, 0, 3), (3.0 * 10000 + 20) / 2000);
  CounterTimes noObject = Interval();
  noObject.objectTimeNew = 0;
  EXPECT_DOUBLE_EQ(Formula(PERF_COUNTER_QUEUELEN_TYPE, 0, 20, 0, 3, PERF_RAW_BASE, noObject),
                   (3.0 * 12000 + 20) / 2000);
}

TEST(CounterFormula, FirstReadingAndMissingTimesGiveZero) {
  for (std::uint32_t type : {PERF_COUNTER_COUNTER, PERF_COUNTER_BULK_COUNT, PERF_SAMPLE_COUNTER,
                             PERF_COUNTER_TIMER, PERF_100NSEC_TIMER, PERF_100NSEC_TIMER_INV,
                             PERF_COUNTER_MULTI_TIMER, PERF_COUNTER_QUEUELEN_TYPE}) {
    EXPECT_EQ(Formula(type, 100, 900, 1, 2, PERF_RAW_BASE, Interval(), true), 0.0) << std::hex << type;
  }
  // A PerfFreq of 0 yields 0, never infinity or NaN.
  CounterTimes noFreq = Interval();
  noFreq.perfFreq = 0;
  EXPECT_EQ(Formula(PERF_COUNTER_COUNTER, 0, 500, 0, 0, 0, noFreq), 0.0);
  EXPECT_EQ(Formula(PERF_COUNTER_BULK_COUNT, 0, 500, 0, 0, 0, noFreq), 0.0);
  EXPECT_EQ(Formula(PERF_AVERAGE_TIMER, 0, 500, 0, 5, PERF_AVERAGE_BASE, noFreq), 0.0);
  // A timer that went back measures nothing.
  CounterTimes back = Interval();
  back.perfTimeDelta = -2000;
  EXPECT_EQ(Formula(PERF_COUNTER_COUNTER, 0, 500, 0, 0, 0, back), 0.0);
}

TEST(CounterFormula, TimersAndFractions) {
  // 100-ns timers: 40% of the 2 s interval.
  EXPECT_DOUBLE_EQ(Formula(PERF_100NSEC_TIMER, 0, 8000000), 40.0);
  EXPECT_DOUBLE_EQ(Formula(PERF_COUNTER_TIMER, 0, 500), 25.0);
  // Inverse timer advanced by 2% of the elapsed time: 98.
  EXPECT_DOUBLE_EQ(Formula(PERF_100NSEC_TIMER_INV, 0, 400000), 98.0);
  EXPECT_DOUBLE_EQ(Formula(PERF_COUNTER_TIMER_INV, 0, 1000), 50.0);
  EXPECT_DOUBLE_EQ(Formula(PERF_RAW_FRACTION, 0, 30, 0, 120), 25.0);
  EXPECT_EQ(Formula(PERF_RAW_FRACTION, 0, 30, 0, 0), 0.0);
  EXPECT_DOUBLE_EQ(Formula(PERF_PRECISION_100NS_TIMER, 100, 150, 1000, 1200, PERF_PRECISION_TIMESTAMP), 25.0);
  EXPECT_DOUBLE_EQ(Formula(PERF_SAMPLE_FRACTION, 0, 3, 0, 4, PERF_SAMPLE_BASE), 75.0);
  EXPECT_EQ(Formula(PERF_SAMPLE_FRACTION, 0, 3, 4, 4, PERF_SAMPLE_BASE), 0.0);
  // Multi timers over B = 4 processors.
  EXPECT_DOUBLE_EQ(Formula(PERF_COUNTER_MULTI_TIMER, 0, 1000, 0, 4, PERF_COUNTER_MULTI_BASE), 12.5);
  EXPECT_DOUBLE_EQ(Formula(PERF_100NSEC_MULTI_TIMER, 0, 40000000, 0, 4, PERF_COUNTER_MULTI_BASE), 50.0);
  EXPECT_DOUBLE_EQ(Formula(PERF_100NSEC_MULTI_TIMER_INV, 0, 40000000, 0, 4, PERF_COUNTER_MULTI_BASE), 50.0);
  EXPECT_DOUBLE_EQ(Formula(PERF_COUNTER_MULTI_TIMER_INV, 0, 4000, 0, 4, PERF_COUNTER_MULTI_BASE), 50.0);
  EXPECT_EQ(Formula(PERF_COUNTER_MULTI_TIMER, 0, 1000, 0, 0, PERF_COUNTER_MULTI_BASE), 0.0);
}

TEST(CounterFormula, AveragesElapsedAndUnknownTypes) {
  // 3000 ticks over 3 operations at 1000 ticks/s: 1 s each.
  EXPECT_DOUBLE_EQ(Formula(PERF_AVERAGE_TIMER, 0, 3000, 0, 3, PERF_AVERAGE_BASE), 1.0);
  EXPECT_DOUBLE_EQ(Formula(PERF_AVERAGE_BULK, 0, 4096, 10, 14, PERF_AVERAGE_BASE), 1024.0);
  EXPECT_EQ(Formula(PERF_AVERAGE_BULK, 0, 4096, 10, 10, PERF_AVERAGE_BASE), 0.0);
  // Elapsed: (object time 10000 - start 2000) / 100 per second = 80 s.
  EXPECT_DOUBLE_EQ(Formula(PERF_ELAPSED_TIME, 0, 2000), 80.0);
  EXPECT_EQ(Formula(PERF_ELAPSED_TIME, 0, 0), 0.0);
  EXPECT_EQ(Formula(PERF_ELAPSED_TIME, 0, 20000), 0.0) << "a start after the time stamp is no elapsed time";
  CounterTimes noFreq = Interval();
  noFreq.objectPerfFreq = 0;
  EXPECT_EQ(Formula(PERF_ELAPSED_TIME, 0, 2000, 0, 0, 0, noFreq), 0.0);
  EXPECT_EQ(Formula(0x12345678u, 0, 99), 0.0);
  // A size other than 32 or 64 bits reads as 0.
  EXPECT_EQ(Formula(PERF_COUNTER_RAWCOUNT | 0x200u, 0, 99), 0.0);
}

TEST(CCounter, FirstReadingThenDelta) {
  Cell rate(PERF_COUNTER_COUNTER);
  EXPECT_EQ(rate.Read(1000), 0.0);
  EXPECT_TRUE(!rate.counter.FirstReading());
  EXPECT_DOUBLE_EQ(rate.Read(1500), 250.0);
  EXPECT_EQ(rate.counter.OldRaw(), 1000u);
  EXPECT_EQ(rate.counter.NewRaw(), 1500u);
  // 32-bit wrap keeps working across readings.
  Cell wrap(PERF_COUNTER_COUNTER);
  wrap.Read(0xFFFFFFF0u);
  EXPECT_DOUBLE_EQ(wrap.Read(0x10u), 16.0);
}

TEST(CCounter, Decreasing64BitValuesStartAfresh) {
  Cell bulk(PERF_COUNTER_BULK_COUNT);
  bulk.Read(5000000);
  EXPECT_DOUBLE_EQ(bulk.Read(5002000), 1000.0);
  EXPECT_EQ(bulk.Read(100), 0.0) << "no wrapped difference of about 1.8e19";
  EXPECT_DOUBLE_EQ(bulk.Read(2100), 1000.0) << "the next interval measures again";
  // A 64-bit base that goes down does the same.
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
  // 3e9 in a 32-bit column saturates; in a 64-bit column it stays.
  Cell int32(PERF_COUNTER_LARGE_RAWCOUNT, kColumnInt32);
  int32.Read(3000000000ull);
  EXPECT_EQ(static_cast<std::int32_t>(int32.counter.CellBits()), 2147483647);
  Cell int64(PERF_COUNTER_LARGE_RAWCOUNT, kColumnInt64);
  int64.Read(3000000000ull);
  EXPECT_EQ(static_cast<std::int64_t>(int64.counter.CellBits()), 3000000000ll);
  // Type 5 has no saturation step: out of range is INT32_MIN.
  Cell raw32(PERF_COUNTER_LARGE_RAWCOUNT, kColumnInt32Raw);
  raw32.Read(3000000000ull);
  EXPECT_EQ(static_cast<std::int32_t>(raw32.counter.CellBits()), std::numeric_limits<std::int32_t>::min());
  // A 64-bit column saturates at INT64_MAX.
  Cell big(PERF_COUNTER_LARGE_RAWCOUNT, kColumnInt64, 1e10);
  big.Read(0xFFFFFFFFFFFFull);
  EXPECT_EQ(static_cast<std::int64_t>(big.counter.CellBits()), std::numeric_limits<std::int64_t>::max());
  // PERF_COUNTER_RAWCOUNT_HEX takes the 32-bit form whatever the column.
  Cell hex(PERF_COUNTER_RAWCOUNT_HEX, kColumnDouble);
  hex.Read(0xFFFFFFFFu);
  EXPECT_EQ(hex.counter.Value(), 2147483647.0);
  // Truncation toward zero, after the scale.
  Cell kb(PERF_COUNTER_RAWCOUNT, kColumnInt32, 0.000976563);
  kb.Read(1048575);
  EXPECT_EQ(static_cast<std::int32_t>(kb.counter.CellBits()), 1023);
  Cell negative(PERF_COUNTER_RAWCOUNT, kColumnInt32, -1.5);
  negative.Read(3);
  EXPECT_EQ(static_cast<std::int32_t>(negative.counter.CellBits()), -4);
  // A double column stores the double's bits.
  Cell dbl(PERF_COUNTER_RAWCOUNT, kColumnDouble, 0.5);
  dbl.Read(3);
  double stored;
  std::uint64_t bits = dbl.counter.CellBits();
  std::memcpy(&stored, &bits, sizeof stored);
  EXPECT_EQ(stored, 1.5);
  // A NaN scale never reaches an integer conversion unchecked.
  Cell nan(PERF_COUNTER_RAWCOUNT, kColumnInt64, std::nan(""));
  nan.Read(3);
  EXPECT_EQ(nan.counter.CellBits(), 0u);
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

#include "perfsvc/counter.h"

#include "perfsvc/perf_layout.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

namespace osmperf {

namespace {

std::atomic<CCounter::PercentObserver> g_percentObserver{nullptr};

// The value's width by the type's size bits: 32, 64, or 0 for any other size.
int WidthOf(std::uint32_t type) {
  switch (type & kSizeMask) {
    case kSizeDword: return 32;
    case kSizeLarge: return 64;
    default: return 0;
  }
}

double AsValue(std::uint64_t raw, int width) {
  if (width == 32) return static_cast<double>(static_cast<std::uint32_t>(raw));
  if (width == 64) return static_cast<double>(raw);
  return 0.0;
}

double Delta(std::uint64_t now, std::uint64_t before, int width) {
  if (width == 32)
    return static_cast<double>(static_cast<std::uint32_t>(static_cast<std::uint32_t>(now) -
                                                          static_cast<std::uint32_t>(before)));
  if (width == 64) return static_cast<double>(now - before);
  return 0.0;
}

}  // namespace

double CounterFormula(const CounterReading& r, const CounterTimes& t) {
  const int width = WidthOf(r.type);
  const int baseWidth = WidthOf(r.baseType);
  const double X = AsValue(r.newRaw, width);
  const double dX = Delta(r.newRaw, r.oldRaw, width);
  const double B = AsValue(r.newBase, baseWidth);
  const double dB = Delta(r.newBase, r.oldBase, baseWidth);
  const double F = static_cast<double>(t.perfFreq);

  double dT = 0.0;
  if (!r.first) {
    switch (r.type & kTimerMask) {
      case kTimerTick: dT = static_cast<double>(t.perfTimeDelta); break;
      case kTimer100Ns: dT = static_cast<double>(t.perfTime100nSecDelta); break;
      case kTimerObject: dT = static_cast<double>(t.objectTimeDelta); break;
      default: dT = 0.0; break;
    }
    if (!(dT > 0.0)) dT = 0.0;  // a timer that went back measures nothing
  }

  switch (r.type) {
    case PERF_COUNTER_RAWCOUNT_HEX:
    case PERF_COUNTER_RAWCOUNT:
    case PERF_COUNTER_LARGE_RAWCOUNT:
      return X;
    case PERF_COUNTER_COUNTER:
    case PERF_COUNTER_BULK_COUNT: {
      if (dT == 0.0 || F <= 0.0) return 0.0;
      double seconds = dT / F;
      return seconds == 0.0 ? 0.0 : dX / seconds;
    }
    case PERF_SAMPLE_COUNTER:
    case PERF_COUNTER_100NS_QUEUELEN_TYPE:
      return dT == 0.0 ? 0.0 : dX / dT;
    case PERF_COUNTER_QUEUELEN_TYPE: {
      if (dT == 0.0) return 0.0;
      double T = static_cast<double>(t.objectTimeNew != 0 ? t.objectTimeNew : t.perfTimeNew);
      return (B * T + X) / dT;
    }
    case PERF_RAW_FRACTION:
      return B == 0.0 ? 0.0 : X / B * 100.0;
    case PERF_COUNTER_TIMER:
    case PERF_100NSEC_TIMER:
      return dT == 0.0 ? 0.0 : dX / dT * 100.0;
    case PERF_PRECISION_100NS_TIMER:
    case PERF_SAMPLE_FRACTION:
      return dB == 0.0 ? 0.0 : dX / dB * 100.0;
    case PERF_COUNTER_TIMER_INV:
    case PERF_100NSEC_TIMER_INV:
      return dT == 0.0 ? 0.0 : (1.0 - dX / dT) * 100.0;
    case PERF_COUNTER_MULTI_TIMER:
      return (dT == 0.0 || B == 0.0) ? 0.0 : (dX / dT * 100.0) / B;
    case PERF_100NSEC_MULTI_TIMER:
      return (dT == 0.0 || B == 0.0) ? 0.0 : (dX / dT) / B * 100.0;
    case PERF_COUNTER_MULTI_TIMER_INV:
    case PERF_100NSEC_MULTI_TIMER_INV:
      return (dT == 0.0 || B == 0.0) ? 0.0 : (1.0 - (dX / dT) / B) * 100.0;
    case PERF_AVERAGE_TIMER:
      return (dB == 0.0 || F <= 0.0) ? 0.0 : (dX / F) / dB;
    case PERF_ELAPSED_TIME: {
      if (t.objectPerfFreq <= 0 || r.newRaw == 0) return 0.0;
      std::uint64_t now = static_cast<std::uint64_t>(t.objectTimeNew);
      // A start time after the object's time stamp is no elapsed time.
      if (r.newRaw > now) return 0.0;
      return static_cast<double>(now - r.newRaw) / static_cast<double>(t.objectPerfFreq);
    }
    case PERF_AVERAGE_BULK:
      return dB == 0.0 ? 0.0 : dX / dB;
    default:
      return 0.0;
  }
}

std::int32_t SaturateToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

std::int64_t SaturateToInt64(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  if (v <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(v);
}

std::int32_t TruncateToInt32Raw(double v) {
  if (std::isnan(v) || v >= 2147483648.0 || v <= -2147483649.0)
    return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

void CCounter::SetPercentObserver(PercentObserver observer) { g_percentObserver.store(observer); }

CCounter::CCounter(CSample* sample, CSampleRow* row, std::uint32_t counterIndex,
                   std::uint32_t rowOffset, std::uint32_t width, int columnType, double scale)
    : sample_(sample),
      row_(row),
      counterIndex_(counterIndex),
      rowOffset_(rowOffset),
      width_(width),
      columnType_(columnType),
      scale_(scale) {}

void CCounter::Process(std::uint32_t counterType, std::uint64_t raw, bool hasBase,
                       std::uint32_t baseType, std::uint64_t baseRaw, const CounterTimes& times) {
  oldRaw_ = newRaw_;
  oldBase_ = newBase_;
  newRaw_ = raw;
  counterType_ = counterType;
  if (hasBase) {
    newBase_ = baseRaw;
    baseType_ = baseType;
  }
  // A 64-bit value that went down belongs to another life of the counter (a
  // row matched to another instance of the same name): start afresh rather
  // than report a wrapped difference. 32-bit values wrap as counters do.
  if (!first_) {
    bool rawBack = (counterType & kSizeMask) == kSizeLarge && newRaw_ < oldRaw_;
    bool baseBack = hasBase && (baseType & kSizeMask) == kSizeLarge && newBase_ < oldBase_;
    if (rawBack || baseBack) first_ = true;
  }
  if (first_) {
    oldRaw_ = newRaw_;
    oldBase_ = newBase_;
  }
  CounterReading reading;
  reading.type = counterType_;
  reading.newRaw = newRaw_;
  reading.oldRaw = oldRaw_;
  reading.baseType = baseType_;
  reading.newBase = newBase_;
  reading.oldBase = oldBase_;
  reading.first = first_;
  double value = CounterFormula(reading, times) * scale_;
  if (std::isnan(value)) value = 0.0;  // only a non-finite scale gets here
  first_ = false;

  if (counterType_ == PERF_COUNTER_RAWCOUNT_HEX || columnType_ == kColumnInt32)
    value = static_cast<double>(SaturateToInt32(value));
  else if (columnType_ == kColumnInt64)
    value = static_cast<double>(SaturateToInt64(value));

  if ((counterType_ & kDisplayMask) == kDisplayPercent) {
    if (value < 0.0) value = 0.0;
    PercentObserver observer = g_percentObserver.load();
    if (observer != nullptr) observer(*this, value);
  }
  value_ = value;

  switch (columnType_) {
    case kColumnInt32:
      cell_ = static_cast<std::uint32_t>(SaturateToInt32(value));
      break;
    case kColumnInt32Raw:
      cell_ = static_cast<std::uint32_t>(TruncateToInt32Raw(value));
      break;
    case kColumnInt64:
      cell_ = static_cast<std::uint64_t>(SaturateToInt64(value));
      break;
    case kColumnDouble:
      std::memcpy(&cell_, &value, sizeof cell_);
      break;
    default:
      break;  // name columns are written from the row's name; others stay 0
  }
}

void CCounter::WriteCell(std::uint8_t* target, std::size_t width) const {
  if (width > 8) width = 8;
  for (std::size_t i = 0; i < width; ++i) target[i] = static_cast<std::uint8_t>(cell_ >> (8 * i));
}

}  // namespace osmperf

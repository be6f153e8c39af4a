#include "collectors/files/trend_ring.h"

#include <limits>

namespace osm {
namespace files {
namespace {

const std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
const std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
const std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

std::uint64_t ToUnsigned(std::int64_t v) { return v < 0 ? 0 : static_cast<std::uint64_t>(v); }

}  // namespace

std::int32_t UsableSampleCount(std::int32_t requested) {
  if (requested < 1) return kDefaultSampleCount;
  return requested > kMaxSampleCount ? kMaxSampleCount : requested;
}

std::int32_t Clamp32(std::int64_t value) {
  if (value > kInt32Max) return static_cast<std::int32_t>(kInt32Max);
  if (value < kInt32Min) return static_cast<std::int32_t>(kInt32Min);
  return static_cast<std::int32_t>(value);
}

std::int32_t PercentOf(std::int64_t value, std::int64_t base) {
  if (base == 0) return -1;
  // value * 100 / base without overflow: the quotient and the remainder apart.
  std::int64_t q = value / base, r = value % base;
  if (q > kInt32Max || q < kInt32Min) return Clamp32(q);  // far outside already
  std::int64_t fraction;
  if (r > kInt64Max / 100 || r < -(kInt64Max / 100)) fraction = r / (base / 100);  // bases above 92 PB
  else fraction = r * 100 / base;
  return Clamp32(q * 100 + fraction);
}

TrendRing::TrendRing(std::int32_t samples, std::int64_t startSize)
    : slots_(static_cast<std::size_t>(UsableSampleCount(samples)), Slot{startSize, 0}), start_(startSize) {}

TrendFigures TrendRing::Add(std::int64_t size, std::int32_t sampleInterval) {
  const std::size_t n = slots_.size();
  const std::size_t previous = (current_ + n - 1) % n;
  // With one slot the previous sample and the hour back share the slot about
  // to be written: both sizes are read first.
  std::int64_t back = sampleInterval > 0 ? 3600 / sampleInterval : 4;
  if (back < 1) back = 1;
  if (back > static_cast<std::int64_t>(n) - 1) back = static_cast<std::int64_t>(n) - 1;
  const std::size_t hourSlot = (current_ + n - static_cast<std::size_t>(back)) % n;
  const std::int64_t previousSize = slots_[previous].size;
  const std::int64_t hourSize = slots_[hourSlot].size;

  TrendFigures f;
  f.lastInterval = size - previousSize;
  slots_[current_] = Slot{size, f.lastInterval};
  f.total = size - start_;
  if (n == 1) {
    f.average = -1;
  } else {
    std::int64_t sum = 0;
    for (std::size_t i = 1; i < n; ++i) sum += slots_[i].change;
    f.average = sum / static_cast<std::int64_t>(n - 1);
  }
  f.lastHour = size - hourSize;
  if (start_ != 0) {
    f.pcLastInterval = PercentOf(f.lastInterval, start_);
    f.pcTotal = PercentOf(f.total, start_);
    f.pcAverage = PercentOf(f.average, start_);
  }
  f.pcLastHour = PercentOf(f.lastHour, hourSize);
  current_ = (current_ + 1) % n;
  return f;
}

std::int32_t PercentOfDisk(std::int64_t size, const DiskFigures& disk) {
  if (!disk.known || disk.totalBytes == 0) return -1;
  std::uint64_t total = disk.totalBytes, s = ToUnsigned(size);
  std::uint64_t q = s / total, r = s % total;
  if (q > static_cast<std::uint64_t>(kInt32Max)) return static_cast<std::int32_t>(kInt32Max);
  std::uint64_t fraction = r > static_cast<std::uint64_t>(kInt64Max) / 100 ? r / (total / 100) : r * 100 / total;
  std::uint64_t pct = q * 100 + fraction;
  return pct > static_cast<std::uint64_t>(kInt32Max) ? static_cast<std::int32_t>(kInt32Max)
                                                      : static_cast<std::int32_t>(pct);
}

std::int32_t FreeSpaceHours(const DiskFigures& disk, std::int64_t lastHour) {
  if (!disk.known || lastHour == 0) return 0;
  std::uint64_t free = disk.freeBytes > static_cast<std::uint64_t>(kInt64Max) ? static_cast<std::uint64_t>(kInt64Max)
                                                                              : disk.freeBytes;
  return Clamp32(static_cast<std::int64_t>(free) / lastHour);
}

}  // namespace files
}  // namespace osm

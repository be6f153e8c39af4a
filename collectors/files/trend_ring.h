// The growth arithmetic of a watched file: a ring of its last sizes and the
// changes derived from it at each sample, in 64 bits; the 32-bit attributes
// take the values clamped to their range.
#pragma once

#include <cstdint>
#include <vector>

namespace osm {
namespace files {

// SAMPNUM as the trend uses it: below 1 the default 2, above kMaxSampleCount
// that bound (the ring is allocated at once).
const std::int32_t kDefaultSampleCount = 2;
const std::int32_t kMaxSampleCount = 100000;
std::int32_t UsableSampleCount(std::int32_t requested);

// value x 100 / base, truncated toward zero and clamped to int32; -1 when
// base is 0.
std::int32_t PercentOf(std::int64_t value, std::int64_t base);
std::int32_t Clamp32(std::int64_t value);

// What one sample derives from the ring.
struct TrendFigures {
  std::int64_t lastInterval = 0;  // CHGLSTIN8: size now minus the previous sample's
  std::int64_t total = 0;         // CHGTOT8: size now minus the size at the start
  std::int64_t average = 0;       // CHGAVR8: -1 with one retained sample
  std::int64_t lastHour = 0;      // CHGLSTHR8: size now minus the size an hour back
  std::int32_t pcLastInterval = -1, pcTotal = -1, pcAverage = -1;  // of the start size
  std::int32_t pcLastHour = -1;                                     // of the size an hour back
};

class TrendRing {
 public:
  // `samples` retained sizes (UsableSampleCount applied), all startSize.
  TrendRing(std::int32_t samples, std::int64_t startSize);

  // Stores the size of a new sample and derives the figures. sampleInterval
  // (seconds) says how many samples make an hour; the hour is looked up at
  // most as far back as the ring reaches.
  TrendFigures Add(std::int64_t size, std::int32_t sampleInterval);

  std::int32_t Samples() const { return static_cast<std::int32_t>(slots_.size()); }

 private:
  struct Slot {
    std::int64_t size;
    std::int64_t change;  // from the slot before it
  };
  std::vector<Slot> slots_;
  std::size_t current_ = 0;
  std::int64_t start_;
};

// The disk that holds the file, as the platform reports it.
struct DiskFigures {
  bool known = false;
  std::uint64_t totalBytes = 0;
  std::uint64_t freeBytes = 0;
};
// PCUSED: size x 100 / disk size; -1 when the disk is unknown or empty.
std::int32_t PercentOfDisk(std::int64_t size, const DiskFigures& disk);
// FRESPAEXHR: free bytes / growth of the last hour; 0 when the disk is
// unknown or the file did not grow or shrink.
std::int32_t FreeSpaceHours(const DiskFigures& disk, std::int64_t lastHour);

}  // namespace files
}  // namespace osm

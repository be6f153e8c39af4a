// One cell of a sample row: two successive raw readings of one counter turned
// into the value that lands in the row.
#pragma once

#include <cstddef>
#include <cstdint>

namespace osmperf {

class CSample;
class CSampleRow;

// Cell formats of a sample column.
enum ColumnType : int {
  kColumnInt32 = 2,       // 32-bit, truncated and saturated
  kColumnAsciiName = 3,   // instance name, US-ASCII
  kColumnUtf8Name = 4,    // instance name, UTF-8
  kColumnInt32Raw = 5,    // 32-bit, truncated; out of range gives INT32_MIN
  kColumnInt64 = 6,       // 64-bit, truncated and saturated
  kColumnDouble = 100     // IEEE double
};

inline bool IsNameColumn(int type) { return type == kColumnAsciiName || type == kColumnUtf8Name; }

// The time fields of a sample, refreshed at each update.
struct CounterTimes {
  std::int64_t perfTimeNew = 0, perfTimeOld = 0, perfTimeDelta = 0;              // block PerfTime
  std::int64_t objectTimeNew = 0, objectTimeOld = 0, objectTimeDelta = 0;        // object PerfTime
  std::int64_t perfTime100nSecNew = 0, perfTime100nSecOld = 0, perfTime100nSecDelta = 0;
  std::int64_t perfFreq = 0;        // block PerfFreq
  std::int64_t objectPerfFreq = 0;  // object PerfFreq
};

// Two readings of one counter.
struct CounterReading {
  std::uint32_t type = 0;
  std::uint64_t newRaw = 0, oldRaw = 0;
  std::uint32_t baseType = 0;
  std::uint64_t newBase = 0, oldBase = 0;
  bool first = false;  // first reading: every elapsed time is 0
};

// The value of a counter by its type (before scaling). Never NaN or infinite.
double CounterFormula(const CounterReading& reading, const CounterTimes& times);

// Double to integer conversions, each range-checked before converting.
std::int32_t SaturateToInt32(double value);      // NaN gives 0
std::int64_t SaturateToInt64(double value);      // NaN gives 0
std::int32_t TruncateToInt32Raw(double value);   // out of range or NaN gives INT32_MIN

class CCounter {
 public:
  // Called with every percent value after clamping (for a trigger log).
  using PercentObserver = void (*)(const CCounter& counter, double value);
  static void SetPercentObserver(PercentObserver observer);

  CCounter(CSample* sample, CSampleRow* row, std::uint32_t counterIndex, std::uint32_t rowOffset,
           std::uint32_t width, int columnType, double scale);

  // One reading of the counter's definition (and of its base when hasBase).
  void Process(std::uint32_t counterType, std::uint64_t raw, bool hasBase, std::uint32_t baseType,
               std::uint64_t baseRaw, const CounterTimes& times);

  // Copies up to width (at most 8) bytes of the stored cell, little-endian.
  void WriteCell(std::uint8_t* target, std::size_t width) const;

  std::uint32_t CounterIndex() const { return counterIndex_; }
  std::uint32_t RowOffset() const { return rowOffset_; }
  std::uint32_t Width() const { return width_; }
  int ColumnType() const { return columnType_; }
  double Scale() const { return scale_; }
  std::uint32_t CounterType() const { return counterType_; }
  std::uint64_t NewRaw() const { return newRaw_; }
  std::uint64_t OldRaw() const { return oldRaw_; }
  std::uint32_t BaseType() const { return baseType_; }
  std::uint64_t NewBase() const { return newBase_; }
  std::uint64_t OldBase() const { return oldBase_; }
  bool FirstReading() const { return first_; }
  double Value() const { return value_; }
  std::uint64_t CellBits() const { return cell_; }
  CSample* Sample() const { return sample_; }
  CSampleRow* Row() const { return row_; }

 private:
  CSample* sample_;
  CSampleRow* row_;
  std::uint32_t counterIndex_;
  std::uint32_t rowOffset_;
  std::uint32_t width_;
  int columnType_;
  double scale_;
  std::uint32_t counterType_ = 0;
  std::uint64_t newRaw_ = 0, oldRaw_ = 0;
  std::uint32_t baseType_ = 0;
  std::uint64_t newBase_ = 0, oldBase_ = 0;
  bool first_ = true;
  double value_ = 0.0;
  std::uint64_t cell_ = 0;  // the 32-bit or 64-bit integer, or the double's bits
};

}  // namespace osmperf

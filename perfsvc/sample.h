// A sample: one performance object turned into fixed-layout rows, one row per
// instance, laid out by a textual description.
//
// Description (five strings, UTF-16):
//   header   "N R F Object name (N name1 , name2 , ... )"
//   sizes    "rowSize width1 ... widthN"
//   offsets  "offset1 ... offsetN"
//   scales   "scale1 ... scaleN"          (decimal point whatever the locale)
//   types    "type1 ... typeN"            (ColumnType codes)
// Fixed data (three optional strings): "M name1 , ... nameM", "w1 ... wM",
// "o1 ... oM"; the names _SAMPLE_, _ROW_ and _TIMESTAMP_ are filled by
// CopyRows, any other name from the fixed data the caller supplies.
#pragma once

#include "perfsvc/counter.h"
#include "perfsvc/perf_walkers.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace osmperf {

class CPerfName;
class CSnapCatalog;

// HRESULT values the sample reports.
constexpr std::int32_t kSampleOk = 0;
constexpr std::int32_t kSampleFail = static_cast<std::int32_t>(0x80004005u);          // E_FAIL
constexpr std::int32_t kSampleAccessDenied = static_cast<std::int32_t>(0x80070005u);  // E_ACCESSDENIED

// Converts a UTC time to local time; false when it cannot.
using UtcToLocalFn = std::function<bool(const PerfSystemTime& utc, PerfSystemTime* local)>;
// The C runtime's local time zone.
bool RuntimeUtcToLocal(const PerfSystemTime& utc, PerfSystemTime* local);
// A fixed offset east of UTC, in minutes (tests, and zones without rules).
UtcToLocalFn FixedOffsetUtcToLocal(int minutesEast);
// Converter used by samples that were given none (RuntimeUtcToLocal unless
// replaced, for example by the platform's time-zone rules).
void SetDefaultUtcToLocal(UtcToLocalFn converter);

// A recursive lock, like a critical section: the owner may enter again.
class COsmLock {
 public:
  void Lock() { mutex_.lock(); }
  void Unlock() { mutex_.unlock(); }
  bool TryLock() { return mutex_.try_lock(); }
  // BasicLockable, for std::lock_guard.
  void lock() { Lock(); }
  void unlock() { Unlock(); }

 private:
  std::recursive_mutex mutex_;
};

struct SampleColumn {
  std::u16string name;
  std::uint32_t counterIndex = 0;  // 0: unresolved or a name column, never filled from data
  std::uint32_t offset = 0;
  std::uint32_t width = 0;
  int type = 0;
  double scale = 0.0;
};

struct PseudoColumn {
  std::u16string name;
  std::uint32_t width = 0;
  std::uint32_t offset = 0;
};

struct FixedDataItem {
  std::u16string name;
  std::vector<std::uint8_t> bytes;
};

class CSampleRow {
 public:
  CSampleRow(CSample* sample, std::u16string name, const std::vector<SampleColumn>& columns);
  const std::u16string& Name() const { return name_; }
  bool IsNew() const { return new_; }
  bool Seen() const { return seen_; }
  std::size_t CellCount() const { return cells_.size(); }
  const CCounter& Cell(std::size_t i) const { return cells_[i]; }

 private:
  friend class CSample;
  std::u16string name_;
  bool new_ = true;
  bool seen_ = false;
  std::vector<CCounter> cells_;
};

class CSample {
 public:
  // Limits a description must keep.
  static constexpr std::uint32_t kMaxColumns = 4096;
  static constexpr std::uint32_t kMaxPseudoColumns = 256;
  static constexpr std::uint32_t kMaxRowSize = 1024u * 1024u;

  // fixedDataCount: fixed-data items announced (K); the sample is complete
  // once they all arrived (at once when K is 0).
  explicit CSample(std::uint32_t fixedDataCount = 0, std::uint32_t intervalSeconds = 0);
  CSample(const CSample&) = delete;
  CSample& operator=(const CSample&) = delete;

  // Parses the description. Returns kSampleOk, or kSampleFail for a
  // malformed description (DescriptionError() says why). Throws
  // std::bad_alloc when memory runs out. Empty or null fixed strings mean
  // "no fixed data"; a null or empty header means no counter columns.
  std::int32_t ProcessRawSampleDescription(const char16_t* header, const char16_t* sizes,
                                           const char16_t* offsets, const char16_t* scales,
                                           const char16_t* types, const char16_t* fixedHeader = nullptr,
                                           const char16_t* fixedSizes = nullptr,
                                           const char16_t* fixedOffsets = nullptr);
  const std::string& DescriptionError() const { return error_; }

  // Resolves the object and column names. kSampleOk, or kSampleAccessDenied
  // when no Perflib object bears the object name. Clears the valid flag when
  // the object is unknown or absent from the catalogue.
  std::int32_t ConvertNamesToNumbers(const CSnapCatalog& catalogue, const CPerfName& names);

  // Stores one fixed-data item. False when all announced items already
  // arrived (the item is refused).
  bool AddFixedData(const char16_t* name, const void* bytes, std::size_t length);

  // Refreshes the rows from one object of a snapshot. Sets the ready flag.
  void Update(const CPerfBlock& block, const CPerfObject& object);
  // Deletes all rows.
  void Clear();
  // The due snapshot did not hold the object (or snapshots are disabled):
  // no rows, and the sample counts as ready so that readers never wait for ever.
  void MarkObjectMissing();

  // Writes whole rows into buffer (at most bufferSize bytes); returns the
  // bytes written (rows x row size).
  std::size_t CopyRows(void* buffer, std::size_t bufferSize, std::uint32_t sampleNumber);

  // The row lock (recursive). Update, Clear and CopyRows take it themselves.
  void Lock() { lock_.Lock(); }
  void Unlock() { lock_.Unlock(); }
  bool TryLock() { return lock_.TryLock(); }
  COsmLock& RowLock() { return lock_; }

  // Waits for the first update (or MarkObjectMissing).
  void WaitReady();
  bool WaitReadyFor(std::uint32_t milliseconds);

  bool Complete() const { return complete_; }
  bool Ready() const;
  bool Valid() const { return valid_; }
  void SetValid(bool valid) { valid_ = valid; }
  bool Updated() const { return updated_; }
  void SetUpdated(bool updated) { updated_ = updated; }
  bool ObjectMissing() const { return missing_; }
  std::uint32_t IntervalSeconds() const { return interval_; }
  void SetIntervalSeconds(std::uint32_t seconds) { interval_ = seconds; }

  std::uint32_t RowSize() const { return rowSize_; }
  std::uint32_t ColumnCount() const { return static_cast<std::uint32_t>(columns_.size()); }
  std::uint32_t PseudoCount() const { return static_cast<std::uint32_t>(pseudo_.size()); }
  int ObjectFlag() const { return objectFlag_; }
  std::uint32_t ObjectIndex() const { return objectIndex_; }
  const std::string& ObjectIndexText() const { return objectIndexText_; }
  const std::u16string& ObjectName() const { return objectName_; }
  const std::vector<SampleColumn>& Columns() const { return columns_; }
  const std::vector<PseudoColumn>& PseudoColumns() const { return pseudo_; }
  std::uint32_t FixedDataCount() const { return fixedCount_; }
  std::uint32_t FixedDataReceived() const { return static_cast<std::uint32_t>(fixed_.size()); }
  int TimestampOffset() const { return timestampOffset_; }
  int RowOffset() const { return rowOffset_; }
  int SampleOffset() const { return sampleOffset_; }

  // Rows: read under the lock.
  std::size_t RowCount() const { return rows_.size(); }
  const CSampleRow& Row(std::size_t i) const { return *rows_[i]; }
  const CounterTimes& Times() const { return times_; }
  const PerfSystemTime& SystemTime() const { return systemTime_; }

  void SetUtcToLocal(UtcToLocalFn converter) { utcToLocal_ = std::move(converter); }

 private:
  std::int32_t Malformed(const std::string& why);
  void SetReady();
  void UpdateInstances(const CPerfBlock& block, const CPerfObject& object);

  // Flags.
  bool complete_ = false;
  bool ready_ = false;
  bool valid_ = true;
  bool updated_ = false;
  bool missing_ = false;
  mutable std::mutex readyMutex_;
  std::condition_variable readyEvent_;

  std::uint32_t interval_;
  std::uint32_t rowSize_ = 0;
  int timestampOffset_ = -1, rowOffset_ = -1, sampleOffset_ = -1;
  std::uint32_t timestampWidth_ = 0, rowWidth_ = 0, sampleWidth_ = 0;
  int objectFlag_ = 0;
  std::uint32_t objectIndex_ = 0;
  std::string objectIndexText_;
  std::u16string objectName_;
  std::vector<SampleColumn> columns_;
  std::vector<PseudoColumn> pseudo_;
  std::uint32_t fixedCount_;
  std::vector<FixedDataItem> fixed_;
  std::string error_;

  COsmLock lock_;
  std::vector<std::unique_ptr<CSampleRow>> rows_;
  PerfSystemTime systemTime_;
  CounterTimes times_;
  UtcToLocalFn utcToLocal_;
};

// Creates a sample from the eight description strings in US-ASCII (header,
// sizes, offsets, scales, types, fixed header, fixed sizes, fixed offsets; the
// last three may be null or empty) and resolves its names. Returns
// kSampleOk for a valid sample, kSampleAccessDenied for one whose object is
// unknown or absent from the catalogue (the sample is still returned), and
// kSampleFail with no sample when the description is refused or memory runs out.
std::int32_t CreateSample(const char* const strings[8], std::uint32_t fixedDataCount,
                          std::uint32_t intervalSeconds, const CSnapCatalog& catalogue,
                          const CPerfName& names, std::unique_ptr<CSample>* sample);

}  // namespace osmperf

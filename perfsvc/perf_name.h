// Counter names: the Perflib name table, the catalogue of the objects and
// counters a snapshot returned, and the first object index list.
#pragma once

#include "perfsvc/perf_source.h"
#include "perfsvc/perf_walkers.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace osmperf {

// Maps Perflib title indexes to English names.
class CPerfName {
 public:
  // Loads the last indexes and the names through source (not owned, used
  // only during construction). Success shows as Loaded().
  explicit CPerfName(IPerfDataSource* source);

  bool Loaded() const { return !indexTable_.empty(); }
  // 0, or the result of the step that failed: 4, 8, 12, 16, or 120 (out of memory).
  int Result() const { return result_; }
  std::uint32_t LastCounter() const { return lastCounter_; }
  std::uint32_t LastHelp() const { return lastHelp_; }

  // The name of index, or null (no name, or index above the last counter).
  const char16_t* Name(std::uint32_t index) const;
  // The first index whose name equals name without regard to case; 0 when none.
  std::uint32_t FindIndex(const std::u16string& name) const;

  // Largest index table accepted; a larger Perflib "Last Counter" is taken
  // as corrupt and refused as out of memory.
  static constexpr std::uint32_t kMaxIndexes = 0x01000000u;

 private:
  int LoadLastIndexes(IPerfDataSource* source);
  int LoadNames(IPerfDataSource* source);
  void Report(const char* message, long code, const IPerfDataSource* source) const;

  std::uint32_t lastCounter_ = 0;
  std::uint32_t lastHelp_ = 0;
  int result_ = 0;
  std::u16string names_;                     // "index", "name" pairs, each NUL-terminated
  std::vector<const char16_t*> indexTable_;  // into names_, null where no name
};

// One object of the catalogue with its counters in definition order.
struct CatalogEntry {
  std::uint32_t objectIndex = 0;
  std::vector<std::uint32_t> counters;
};

// The objects and counters that snapshots actually returned. Builds only add.
// Lookups are safe while another thread rebuilds; the cursor methods
// (SelectObject, First/NextCounter, First/NextObject) serve one thread.
class CSnapCatalog {
 public:
  static constexpr int kMaxNewObjectsPerBuild = 1024;

  // Adds each object of block not yet present; returns the number added.
  int Build(const CPerfName* names, const CPerfBlock& block);
  int Rebuild(const CPerfBlock& block) { return Build(names_, block); }
  const CPerfName* NameTable() const { return names_; }

  // Index of the first entry whose object name equals name (case-blind); 0 when none.
  std::uint32_t LookupObject(const std::u16string& name) const;
  // Index of the object's first counter whose name equals name; 0 when none.
  std::uint32_t LookupCounter(std::uint32_t objectIndex, const std::u16string& name) const;
  int Position(std::uint32_t objectIndex) const;
  std::size_t Size() const;
  // A copy of the entries, for listings.
  std::vector<CatalogEntry> Entries() const;
  bool Find(std::uint32_t objectIndex, CatalogEntry* entry) const;

  // Cursor iteration: each returns an index (0 after the last) and its name.
  std::uint32_t SelectObject(std::uint32_t objectIndex);  // counter count, 0 when absent
  std::uint32_t FirstCounter(const char16_t** name);
  std::uint32_t NextCounter(const char16_t** name);
  std::uint32_t FirstObject(const char16_t** name);
  std::uint32_t NextObject(const char16_t** name);

 private:
  const char16_t* NameOf(std::uint32_t index) const;
  int PositionLocked(std::uint32_t objectIndex) const;

  mutable std::mutex lock_;
  const CPerfName* names_ = nullptr;
  std::vector<CatalogEntry> entries_;
  std::size_t objectCursor_ = 0;
  int selected_ = -1;
  std::size_t counterCursor_ = 0;
};

// The objects the service ever asks for, in order (51 names).
extern const char* const kBuiltInObjects[];
extern const std::size_t kBuiltInObjectCount;

// The object indexes the support thread may query at all.
struct FirstObjectList {
  std::vector<std::uint32_t> indexes;  // without the terminating 0
  std::uint32_t lastCounter = 0;       // Perflib "Last Counter"
  std::uint32_t lastHelp = 0;          // Perflib "Last Help"
  std::uint32_t largestIndex = 0;      // largest index among the 009 names
  bool corrupt = false;                // an index was refused (0 or above Last Counter)
  // The indexes as decimal numbers, each followed by one blank.
  std::string Text() const;
};

// Builds the list from the source's names, leaving out the built-in objects
// named in exclusions (comma separated, compared exactly). False (and an
// empty list) when the names cannot be read.
bool BuildFirstObjectList(IPerfDataSource* source, const char* exclusions, FirstObjectList* out);
// The same with the exclusions of NT_EXCLUDE_PERF_OBJS.
bool BuildFirstObjectList(IPerfDataSource* source, FirstObjectList* out);

}  // namespace osmperf

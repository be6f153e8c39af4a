// The byte-level work of the process tables (WTPROCESS, NTPROCESS,
// PROCESSIO): the account name cache, the executable count key, the average
// processor time, and the completion of fetched Process rows from what the
// platform says about each process (owner and image path). No platform calls:
// the Windows side answers ProcessFacts.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "framework/ras1.h"
#include "support/fields.h"
#include "tables/catalogue.h"

namespace osm {
namespace perf {

typedef std::basic_string<OsmWChar> WideText;

// Account names by security identifier (its bytes), one cache per table,
// shared by all of that table's requests and kept for the life of the
// process. Entries are only ever added at the head and never changed or
// removed, so a lookup walks the list without a lock; adding takes one.
class AccountNameCache {
 public:
  AccountNameCache() = default;
  ~AccountNameCache();
  AccountNameCache(const AccountNameCache&) = delete;
  AccountNameCache& operator=(const AccountNameCache&) = delete;

  // The cached name of the identifier, or null.
  const OsmWChar* Find(const void* sid, std::size_t length) const;
  // Caches the name unless the identifier is cached already; the name the
  // cache holds for it either way.
  const OsmWChar* Insert(const void* sid, std::size_t length, const WideText& name);

 private:
  struct Entry {
    std::string sid;
    WideText name;
    const Entry* next;
  };
  std::atomic<const Entry*> head_{nullptr};
  std::mutex insertLock_;
};

// "DOMAIN\name", or the name alone when the domain is empty.
WideText AccountDisplayName(const WideText& domain, const WideText& name);

// What the platform tells about a running process. Either answer may be
// missing (the process ended, or may not be opened).
class ProcessFacts {
 public:
  virtual bool Owner(std::uint32_t pid, WideText* accountName) = 0;
  virtual bool ImagePath(std::uint32_t pid, WideText* path) = 0;

 protected:
  ~ProcessFacts() = default;
};

// The idle and system processes (and "_Total", which carries id 0).
inline bool IsSystemProcessId(std::uint32_t pid) { return pid == 0 || pid == 4; }

// "% Processor Time" over all processors, rounded half up; a count below 1
// counts as 1.
std::int32_t AverageProcessorPercent(std::int32_t processorPercent, int processors);

// The executable count key of a BINPATH field: its text up to the first NUL,
// without trailing blanks, in lower case.
std::string ExecutableKey(const char* field, std::size_t width);

// How BINPATH is written for a process whose path is unknown: blank padded
// like any text field (WTPROCESS), or left zero-filled (NTPROCESS).
enum class PathlessBinPath { kBlank, kZeroFilled };

// Completes the rows of WTPROCESS or NTPROCESS: AVGPCTPROC, USERID ("N/A"
// when the owner is unknown), BINPATH and PROCCOUNT (the rows sharing the
// row's executable key). Every one of them is written in every row, so no
// row keeps a value of an earlier sample; the rows of ids 0 and 4 and
// "_Total" get an empty USERID, an all-blank BINPATH and PROCCOUNT 0.
void CompleteProcessRows(const TableDef& table, char* rows, std::size_t count, std::size_t rowSize, int processors,
                         ProcessFacts& facts, PathlessBinPath pathless, RAS1_EPB* unit);

// Completes the rows of PROCESSIO: BINPATH zero-filled, then the image path
// for processes other than ids 0 and 4 and "_Total".
void CompleteProcessIoRows(const TableDef& table, char* rows, std::size_t count, std::size_t rowSize,
                           ProcessFacts& facts);

}  // namespace perf
}  // namespace osm

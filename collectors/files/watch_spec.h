// What a situation on the file tables asks to watch: its filter rows, read
// into one WatchSpec per row. The terms of a condition row are the watch's
// parameters; the separator entry "PARMA" closes a row.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/dcfa.h"
#include "framework/ras1.h"

namespace osm {
namespace files {

// The change kinds of a watch, in the order of their flag attributes, with
// their FILE_NOTIFY_CHANGE_* bits.
struct ChangeKind {
  const char* attribute;
  std::uint32_t bit;
};
extern const ChangeKind kChangeKinds[8];
const std::uint32_t kAllChangeKinds = 0x17F;

struct WatchSpec {
  std::string dir;    // single-byte form (WATCHDIR), at most 260 bytes
  std::string file;   // single-byte form (WATCHFILE), may be empty
  std::string udir;   // UTF-8 form (UWATCHDIR), at most 392 bytes
  std::string ufile;  // UTF-8 form (UWATCHFILE)
  char watchTree = ' ';
  char monitorAll = ' ';
  char kinds[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};  // as kChangeKinds
  bool hasSampleCount = false;  // SAMPNUM was given
  std::int32_t sampleCount = 0;
};

// The watches of a filter, one per row that names a directory (UWATCHDIR or
// WATCHDIR, not blank); a row without one is dropped with a trace. In a row, the
// U-form of a name wins over the single-byte form, whatever their order.
std::vector<WatchSpec> ReadWatchSpecs(const std::vector<FilterInfo>& entries, RAS1_EPB* unit);
// The entries of a request's filter, in order.
std::vector<FilterInfo> FilterEntries(dcfa& request);

// FILE_NOTIFY_CHANGE_* bits: a kind counts when its flag is "y" in either
// case; MONITORALL "y" sets them all.
std::uint32_t ChangeFilterMask(const WatchSpec& w);
bool WatchesSubtree(const WatchSpec& w);
bool WatchesOneFile(const WatchSpec& w);
// The UTF-8 directory without trailing blanks, ending in one separator.
std::string DirectoryPath(const WatchSpec& w);
// The UTF-8 file name without trailing blanks.
std::string FileName(const WatchSpec& w);

}  // namespace files
}  // namespace osm

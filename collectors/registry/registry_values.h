// The platform-free side of WTREGISTRY: the monitor a request's filter names,
// the root key numbers, the conversion of a value's data by its type, and the
// row. Value data is whatever some writer stored, so every conversion is
// bounded by the size the registry returned, never by a terminator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "collectors/inventory/inventory_rows.h"
#include "framework/dcfa.h"
#include "framework/ras1.h"

namespace osm {
namespace registry {

const std::size_t kPathWidth = 388;   // PATHNAME
const std::size_t kTextWidth = 1128;  // STRVALUE
// Values are read as wide text, two bytes per character: a text as long as
// STRVALUE, with its terminator, still fits.
const std::size_t kValueBufferSize = 2 * (kTextWidth + 1);

// The read's answers (those of the registry wrapper's GetValue).
enum ReadStatus { kReadOk = 0, kReadNoKey = 3, kReadNoValue = 7, kReadFailed = 8 };

// Registry value types this table converts.
enum ValueType : std::uint32_t {
  kString = 1,
  kExpandString = 2,
  kBinary = 3,
  kDword = 4,
  kDwordBigEndian = 5,
  kMultiString = 7,
  kQword = 11
};

// One monitored value. Texts are UTF-8, as the request wrote them.
struct Monitor {
  std::int32_t rootKey = 0;
  std::string path;       // PATHNAME without trailing blanks
  std::string keyPath;    // PATHNAME up to its last backslash
  std::string valueName;  // PATHNAME after its last backslash (all of it without one)
  bool operator==(const Monitor& o) const {
    return rootKey == o.rootKey && path == o.path && keyPath == o.keyPath && valueName == o.valueName;
  }
};

// The monitor of a request's filter: ROOTKEY (default 0) and PATHNAME (at
// most 388 bytes, cut on a whole character, trailing blanks removed). Later
// entries of a column win. Traces each entry and the parts at detail level.
Monitor BuildMonitor(const std::vector<FilterInfo>& entries, RAS1_EPB* unit);

// The handle value of a root key number's predefined key (0x80000002 for 2),
// or 0 for a number that names none.
std::uint32_t RootKeyHandle(std::int32_t number);
// True for the roots of performance data and its texts (4, 80, 96).
bool IsPerformanceRoot(std::int32_t number);

// PATHNAME of the monitor's rows: key path, backslash and value name, or the
// value name alone when the request named no key, so that the request's own
// PATHNAME term holds for its rows; at most 388 bytes, cut on a whole character.
std::string RowPath(const Monitor& m);

// A value's data converted by its type.
struct ConvertedValue {
  bool handled = true;         // false: an unknown type, or data too short for it
  bool saturated = false;      // a 64-bit value above 2147483647
  std::uint64_t quad = 0;      // the 64-bit value as read (type 11)
  std::string text;            // UTF-8, at most kTextWidth bytes
  std::int32_t number = 0;
};

// Texts (1, 2) up to the first NUL within size, multi-strings (7) with their
// separators as blanks, binary (3) as upper-case hexadecimal, numbers (4, 5, 11)
// only when size holds them; 11 is unsigned and saturates. Wide texts
// (UTF-16LE) become UTF-8; invalid sequences become U+FFFD.
ConvertedValue ConvertValue(std::uint32_t type, const unsigned char* data, std::size_t size);

// The WTREGISTRY row of one read: origin, time stamp, the numbers given, the
// monitor's root and path, the type and the converted value.
inventory::RowRecord MakeRow(const Monitor& m, std::uint32_t type, const ConvertedValue& value,
                             std::int32_t sampleNo, std::int32_t rowNo);

}  // namespace registry
}  // namespace osm

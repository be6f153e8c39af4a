// The byte-level side of directory change notification: the notification
// records a completed ReadDirectoryChangesW leaves in its buffer, the
// comparison of a received name with a watched one, and the text conversions
// between the UTF-16 names of the platform and the UTF-8 of the rows.
// No platform calls, so the sanitizer build covers it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace osm {
namespace files {

// Notification actions (FILE_ACTION_*).
enum : std::uint32_t {
  kActionAdded = 1,
  kActionRemoved = 2,
  kActionModified = 3,
  kActionRenamedOld = 4,
  kActionRenamedNew = 5
};

// One notification record: what happened to which name, relative to the
// watched directory (with a subtree watch, "sub\name").
struct ChangeNotice {
  std::uint32_t action = 0;
  std::u16string name;
};

// The records of a notification buffer (FILE_NOTIFY_INFORMATION: next entry
// offset, action and name length in bytes as 32-bit little-endian values at 0,
// 4 and 8, then the UTF-16LE name). Only the first `transferred` bytes are
// read: a record whose header or name would reach past them, or whose next
// offset does not move forward, ends the walk, and *intact (optional) is set
// false.
std::vector<ChangeNotice> ReadChangeNotices(const unsigned char* buffer, std::size_t transferred, bool* intact);

// True when the whole received name equals the watched name, ignoring the
// letter case as the file system does for the common scripts.
bool SameFileName(const std::u16string& received, const std::u16string& watched);

// UTF-8 bytes (not NUL-terminated) as UTF-16; invalid bytes become U+FFFD.
std::u16string Utf8ToUtf16(const char* bytes, std::size_t length);

// Writes text as UTF-8 into a fixed-width field, blank padded. A longer text
// is cut at the width, never inside a character.
void WriteNameField(char* field, std::size_t width, const std::u16string& text);

}  // namespace files
}  // namespace osm

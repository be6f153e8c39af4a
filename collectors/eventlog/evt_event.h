// The formatted event and the small pure rules of event log monitoring:
// the supported logs, type texts, time windows, duplicate keys and their
// throttle, message file lists, insert counts and user-cache keys. No
// platform headers, so the rules build and are tested natively too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/fields.h"

class HashMap;

namespace osm {
namespace evl {

typedef std::basic_string<OsmWChar> WText;

// Text widths of a formatted event; each field has one more element for the
// terminator, so a field filled to its width still ends.
enum : std::size_t {
  kStampWidth = 16,
  kSourceWidth = 52,
  kTypeWidth = 16,
  kCategoryWidth = 52,
  kUserWidth = 52,
  kComputerWidth = 16,
  kDescriptionWidth = 1128,
  kDuplicateKeyWidth = 212,
  kKeyPartWidth = 62  // bytes of each text part of a duplicate key
};

// One event, formatted, as the readers hand it to the event log table.
struct FormattedEvent {
  char timestamp[kStampWidth + 1];
  char date[kStampWidth + 1];
  char time[kStampWidth + 1];
  OsmWChar source[kSourceWidth + 1];
  char type[kTypeWidth + 1];
  OsmWChar category[kCategoryWidth + 1];
  OsmWChar user[kUserWidth + 1];
  OsmWChar computer[kComputerWidth + 1];
  std::uint32_t eventId;
  OsmWChar description[kDescriptionWidth + 1];
  std::uint32_t duplicateCount;
  char duplicateKey[kDuplicateKeyWidth + 1];
  // Where the event sits in its log, for the restart bookmark: the classic
  // record number or the new interface's EventRecordID, and the time written.
  std::uint64_t recordNumber;
  std::int64_t timeWritten;  // seconds since 1970, UTC
};

// Every text empty, "N/A" user, numbers 0.
void ClearEvent(FormattedEvent* e);

// Bounded copies into a field of width characters (plus its terminator).
void SetWide(OsmWChar* field, std::size_t width, const OsmWChar* text, std::size_t length);
void SetWide(OsmWChar* field, std::size_t width, const WText& text);
void SetWideAscii(OsmWChar* field, std::size_t width, const char* ascii);
void SetNarrow(char* field, std::size_t width, const char* text);
WText Widen(const char* ascii);
// ASCII form of a wide text: characters above 0x7F become '?'.
std::string Narrow(const OsmWChar* text, std::size_t limit);
std::size_t WideLength(const OsmWChar* text, std::size_t limit);

// The supported logs, by log type.
enum { kLogCount = 6 };
const char* LogName(int logType);  // "Unsupported log" outside 0..5
int LogTypeOf(const char* name);   // exact, case-sensitive; -1 when unknown

// Type texts.
const char* ClassicTypeText(std::uint16_t eventType);
const char* LevelTypeText(unsigned level);

// The host part of a computer name: cut at the first '.', at most 16 characters.
WText HostPart(const OsmWChar* name, std::size_t length);

// Tabs, line feeds and carriage returns become blanks.
void FlattenWhitespace(OsmWChar* text);

// Time windows. Bounds are 16-character agent timestamps; all blanks means
// no bound.
struct TimeWindow {
  char start[kStampWidth];
  char stop[kStampWidth];
  TimeWindow();
  bool HasStart() const;
  bool HasStop() const;
  bool Any() const { return HasStart() || HasStop(); }
};
// Sets a bound from a filter value: its first 16 characters, a shorter value
// padded with blanks.
void SetBound(char* bound16, const char* value);
enum class WindowPlace { kLow, kInside, kHigh };
WindowPlace PlaceInWindow(const char* stamp16, const TimeWindow& window);
// Widens target to cover both windows: the lower start and the higher stop,
// a missing bound on either side leaving that side open.
void WidenWindow(TimeWindow* target, const TimeWindow& other);

// The value of the first applicable variable of a throttle or duplicate
// family (see ThresholdFor), or -1.
enum class Family { kThrottle, kDuplicate };
typedef const char* (*EnvLookup)(const char* name);
int ThresholdFor(const char* logName, Family family, EnvLookup env);
// Duplicate handling is on for thresholds below -1 or above 0.
inline bool DuplicatesEnabled(int threshold) { return threshold < -1 || threshold > 0; }

// The duplicate check on an event being formatted: returns true when the
// event is to be sent. map holds copies of events (FormattedEvent*) under
// keys it owns (new char[]); ClearDuplicateMap frees both.
const std::uint32_t kNoCount = 0xFFFFFFFFu;
bool CheckDuplicate(HashMap* map, int threshold, FormattedEvent* e);
void ClearDuplicateMap(HashMap* map);
std::string DuplicateKey(const FormattedEvent& e);
// The DUPCNT of a row built from the event: the count the event was sent
// with when the threshold is 2 or more (no count shows as 0), otherwise the
// number of repetitions dropped in the batch; 0 without duplicate handling.
long long RowDuplicateCount(const HashMap* map, int threshold, const FormattedEvent& e);

// Event message file lists: parts separated by ';', empty parts skipped.
std::vector<WText> SplitFileList(const WText& list);
// The highest insert (%1 .. %99) a message template names; 0 for none.
int HighestInsert(const OsmWChar* text);
// The user-cache key of a SID: its bytes in hexadecimal, so that no two
// SIDs share a key.
std::string SidKey(const std::uint8_t* sid, std::size_t length);

// The text of a description that no message module knows: "Not located in "
// + list + ".  " + the default message + the insertion strings joined with
// ", " + ".".
WText DefaultDescription(const WText& fileList, const WText& defaultMessage, const std::vector<WText>& strings);

}  // namespace evl
}  // namespace osm

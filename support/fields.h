// Row field helpers: fixed-width text fields, code-set translation of wide
// strings, time stamps and the process-wide origin node name.
//
// Text fields are byte arrays of a fixed width inside a row record: blank
// padded (0x20), no terminator when the value fills the field, long values cut
// with "...".
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
typedef wchar_t OsmWChar;          // UTF-16 code unit
typedef SYSTEMTIME OsmSystemTime;
#else
typedef char16_t OsmWChar;         // UTF-16 code unit
struct OsmSystemTime {             // same fields as SYSTEMTIME
  std::uint16_t wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
#endif

// The origin node name put in ORIGINNODE of every row.
int SetOriginNodeName(const char* bytes, std::size_t size);  // 0, or 4 when out of memory
// Copies the origin node name into a 64-byte (or width) field, blank padded.
void CopyOriginNode(char* field, std::size_t width);
// Length of the stored name (bytes, up to its first NUL).
std::size_t OriginNodeNameLength();

void CopyBlankPadded(char* field, const char* source, std::size_t width);
void CopyThenBlankPad(char* field, const char* source, std::size_t width);
void BlankFillFrom(std::size_t used, std::size_t width, char* field);

// CYYMMDDHHMMSSmmm time stamps: exactly 16 bytes, no terminator.
int FormatTimestampNow(char* target16);
int FormatTimestampNowZeroFilled(char* target, std::size_t size);
int FormatTimestamp(char* target, const OsmSystemTime& time, int size);
int FormatHoursMinutes(char* target, int minutesSinceMidnight, int size);
// "%02d/%02d/%02d" (month, day, year % 100) and "%02d:%02d:%02d" texts, 8 bytes
// each, no terminator.
void FormatDateText(char* target8, const OsmSystemTime& time);
void FormatTimeText(char* target8, const OsmSystemTime& time);

int AsciiToUtf8Field(char* field, const char* ascii, std::size_t width);
void WideToAsciiField(char* field, const OsmWChar* source, std::size_t width, bool trimTrailingBlanks);
void WideToUtf8Field(char* field, const OsmWChar* source, std::size_t width);

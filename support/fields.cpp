#include "support/fields.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <vector>

#include "framework/nlsxlat.h"
#include "framework/ras1.h"

namespace {

std::mutex g_originLock;
char* g_originName = nullptr;
std::size_t g_originSize = 0;

std::size_t BoundedLength(const char* s, std::size_t limit) {
  std::size_t n = 0;
  while (n < limit && s[n] != '\0') ++n;
  return n;
}

// Writes the 16-character stamp of the given fields into target (exactly 16
// bytes). Out-of-range values widen the text; only the first 16 bytes are kept.
void WriteStamp(char* target, int year, int month, int day, int hour, int minute, int second, int millis) {
  char scratch[96];
  std::snprintf(scratch, sizeof scratch, "%03d%02d%02d%02d%02d%02d%03d", year - 1900, month, day, hour, minute,
                second, millis);
  std::memcpy(target, scratch, 16);
}

void StampNow(char* target16) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  WriteStamp(target16, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
             local.tm_sec, 0);
}

// UTF-16 text as a sequence of code points (unpaired surrogates stay as they
// are and are replaced by the translation).
std::vector<char32_t> CodePoints(const OsmWChar* s) {
  std::vector<char32_t> cps;
  if (!s) return cps;
  for (std::size_t i = 0; s[i] != 0; ++i) {
    char32_t u = static_cast<char16_t>(s[i]);
    if (u >= 0xD800 && u <= 0xDBFF) {
      char32_t l = static_cast<char16_t>(s[i + 1]);
      if (l >= 0xDC00 && l <= 0xDFFF) {
        cps.push_back(0x10000 + ((u - 0xD800) << 10) + (l - 0xDC00));
        ++i;
        continue;
      }
    }
    cps.push_back(u);
  }
  return cps;
}

std::size_t Utf8Length(char32_t cp) {
  if (cp < 0x80) return 1;
  if (cp < 0x800) return 2;
  if (cp < 0x10000 || (cp >= 0xD800 && cp <= 0xDFFF)) return 3;  // lone surrogates become U+FFFD
  return 4;
}

// Little-endian UTF-16 bytes of the given code points, the translation's input.
std::vector<unsigned char> Utf16Bytes(const std::vector<char32_t>& cps, std::size_t count, bool ellipsis) {
  std::vector<unsigned char> bytes;
  bytes.reserve((count + 3) * 2);
  auto unit = [&bytes](char32_t u) {
    bytes.push_back(static_cast<unsigned char>(u & 0xFF));
    bytes.push_back(static_cast<unsigned char>((u >> 8) & 0xFF));
  };
  for (std::size_t i = 0; i < count; ++i) {
    char32_t cp = cps[i];
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  if (ellipsis)
    for (int k = 0; k < 3; ++k) unit('.');
  return bytes;
}

void Translate(char* field, std::size_t width, int targetCodeSet, const std::vector<unsigned char>& utf16) {
  char diagnostics[256];
  NLS2_TranslateString(NLS2_CS_UTF16LE, utf16.data(), utf16.size(), targetCodeSet, field, width, nullptr,
                       diagnostics);
}

}  // namespace

int SetOriginNodeName(const char* bytes, std::size_t size) {
  RAS1_UNIT("SetOriginNodeName");
  char* copy = new (std::nothrow) char[size + 1];
  if (!copy) {
    RAS1_TRACE(RAS1_ERROR, "Unable to allocate memory for NodeName");
    return 4;
  }
  if (size && bytes) std::memcpy(copy, bytes, size);
  else if (size) std::memset(copy, 0, size);
  copy[size] = '\0';  // one byte more than asked, so the name always ends
  {
    std::lock_guard<std::mutex> guard(g_originLock);
    delete[] g_originName;
    g_originName = copy;
    g_originSize = size;
  }
  RAS1_TRACE(RAS1_DETAIL, "Resulting Origin node name: %s, Size: %d", copy, static_cast<int>(size));
  return 0;
}

void CopyOriginNode(char* field, std::size_t width) {
  if (!field) return;
  std::lock_guard<std::mutex> guard(g_originLock);
  std::memset(field, ' ', width);
  if (g_originName) {
    std::size_t n = BoundedLength(g_originName, g_originSize);
    std::memcpy(field, g_originName, n < width ? n : width);
  }
}

std::size_t OriginNodeNameLength() {
  std::lock_guard<std::mutex> guard(g_originLock);
  return g_originName ? BoundedLength(g_originName, g_originSize) : 0;
}

void CopyBlankPadded(char* field, const char* source, std::size_t width) {
  if (!field) return;
  std::memset(field, ' ', width);
  if (!source) return;
  std::size_t n = BoundedLength(source, width);
  std::memcpy(field, source, n);
}

void CopyThenBlankPad(char* field, const char* source, std::size_t width) {
  if (!field || !source) return;
  // Only the source's own bytes are read: a short source is never over-read.
  std::size_t n = BoundedLength(source, width);
  std::memcpy(field, source, n);
  std::memset(field + n, ' ', width - n);
}

void BlankFillFrom(std::size_t used, std::size_t width, char* field) {
  if (!field || used >= width) return;
  std::memset(field + used, ' ', width - used);
}

int FormatTimestampNow(char* target16) {
  if (target16) StampNow(target16);
  return 0;
}

int FormatTimestampNowZeroFilled(char* target, std::size_t size) {
  if (!target) return 0;
  std::memset(target, 0, size);
  char stamp[16];
  StampNow(stamp);
  std::memcpy(target, stamp, size < 17 ? size : 16);
  return 0;
}

int FormatTimestamp(char* target, const OsmSystemTime& t, int size) {
  RAS1_UNIT("FormatTimestamp");
  if (size < 16) {
    RAS1_TRACE(RAS1_ERROR, "Input buffer too small.  iTargetSize = %d", size);
    return 4;
  }
  WriteStamp(target, t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
  RAS1_TRACE(RAS1_DETAIL, "Resulting timestamp = %.16s", target);
  return 0;
}

int FormatHoursMinutes(char* target, int minutes, int size) {
  RAS1_UNIT("FormatHoursMinutes");
  if (size < 5) {
    RAS1_TRACE(RAS1_ERROR, "Input buffer too small.  iTargetSize = %d", size);
    return 4;
  }
  std::memset(target, ' ', static_cast<std::size_t>(size));
  char scratch[32];
  std::snprintf(scratch, sizeof scratch, "%02d:%02d", minutes / 60, minutes % 60);
  std::memcpy(target, scratch, 5);
  RAS1_TRACE(RAS1_DETAIL, "Resulting time = %.5s", target);
  return 0;
}

void FormatDateText(char* target8, const OsmSystemTime& t) {
  char scratch[48];
  std::snprintf(scratch, sizeof scratch, "%02d/%02d/%02d", t.wMonth % 100, t.wDay % 100, t.wYear % 100);
  std::memcpy(target8, scratch, 8);
}

void FormatTimeText(char* target8, const OsmSystemTime& t) {
  char scratch[48];
  std::snprintf(scratch, sizeof scratch, "%02d:%02d:%02d", t.wHour % 100, t.wMinute % 100, t.wSecond % 100);
  std::memcpy(target8, scratch, 8);
}

int AsciiToUtf8Field(char* field, const char* ascii, std::size_t width) {
  if (!field) return NLS2_BAD_ARGUMENT;
  std::memset(field, ' ', width);
  if (!ascii) return NLS2_OK;
  char diagnostics[256];
  return NLS2_TranslateString(NLS2_CS_ASCII, ascii, std::strlen(ascii), NLS2_CS_UTF8, field, width, nullptr,
                              diagnostics);
}

void WideToAsciiField(char* field, const OsmWChar* source, std::size_t width, bool trimTrailingBlanks) {
  if (!field) return;
  std::memset(field, ' ', width);
  std::vector<char32_t> cps = CodePoints(source);
  // Every character becomes one byte in ASCII ('?' where ASCII has none).
  if (cps.size() > width) {
    std::size_t keep = width >= 3 ? width - 3 : 0;
    Translate(field, width, NLS2_CS_ASCII, Utf16Bytes(cps, keep, true));
  } else {
    Translate(field, width, NLS2_CS_ASCII, Utf16Bytes(cps, cps.size(), false));
  }
  if (trimTrailingBlanks) {
    for (std::size_t i = width; i > 0 && field[i - 1] == ' '; --i) field[i - 1] = '\0';
  }
}

void WideToUtf8Field(char* field, const OsmWChar* source, std::size_t width) {
  if (!field) return;
  std::memset(field, ' ', width);
  std::vector<char32_t> cps = CodePoints(source);
  std::size_t bytes = 0;
  for (char32_t cp : cps) bytes += Utf8Length(cp);
  if (bytes + 1 >= width) {
    // Keep whole characters within width - 5 bytes, then "...": the text always
    // fits and never ends in a cut sequence. For ASCII text this keeps exactly
    // width - 5 characters.
    std::size_t budget = width >= 5 ? width - 5 : 0, used = 0, keep = 0;
    while (keep < cps.size() && used + Utf8Length(cps[keep]) <= budget) used += Utf8Length(cps[keep++]);
    Translate(field, width, NLS2_CS_UTF8, Utf16Bytes(cps, keep, true));
  } else {
    Translate(field, width, NLS2_CS_UTF8, Utf16Bytes(cps, cps.size(), false));
  }
}

#include "collectors/files/change_notices.h"

#include <cstring>

#include "framework/nlsxlat.h"

namespace osm {
namespace files {
namespace {

const std::size_t kHeaderSize = 12;  // three 32-bit values before the name

std::uint32_t Read32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Lower-case ranges and how they reach their capitals. With `alternate`,
// capitals and small letters take turns, the small letter first.
struct FoldRange {
  char16_t first, last;
  int delta;
  bool alternate;
};

const FoldRange kFolds[] = {
    {0x0061, 0x007A, -32, false},  {0x00E0, 0x00F6, -32, false}, {0x00F8, 0x00FE, -32, false},
    {0x00FF, 0x00FF, 0x79, false}, {0x0101, 0x012F, -1, true},   {0x0133, 0x0137, -1, true},
    {0x013A, 0x0148, -1, true},    {0x014B, 0x0177, -1, true},   {0x017A, 0x017E, -1, true},
    {0x03B1, 0x03C1, -32, false},  {0x03C2, 0x03C2, -31, false}, {0x03C3, 0x03CB, -32, false},
    {0x0430, 0x044F, -32, false},  {0x0450, 0x045F, -80, false}, {0x0461, 0x0481, -1, true},
    {0xFF41, 0xFF5A, -32, false},
};

char16_t Upper(char16_t c) {
  if (c < 0x61) return c;
  for (const FoldRange& r : kFolds) {
    if (c < r.first || c > r.last) continue;
    if (r.alternate && (c - r.first) % 2 != 0) return c;
    return static_cast<char16_t>(c + r.delta);
  }
  return c;
}

}  // namespace

std::vector<ChangeNotice> ReadChangeNotices(const unsigned char* buffer, std::size_t transferred, bool* intact) {
  std::vector<ChangeNotice> notices;
  if (intact) *intact = true;
  if (buffer == nullptr) return notices;
  std::size_t at = 0;
  while (true) {
    if (transferred < kHeaderSize || at > transferred - kHeaderSize) break;
    const unsigned char* entry = buffer + at;
    std::uint32_t next = Read32(entry), action = Read32(entry + 4), nameBytes = Read32(entry + 8);
    if (nameBytes % 2 != 0 || nameBytes > transferred - at - kHeaderSize) break;
    ChangeNotice n;
    n.action = action;
    n.name.resize(nameBytes / 2);
    for (std::size_t i = 0; i < n.name.size(); ++i)
      n.name[i] = static_cast<char16_t>(entry[kHeaderSize + 2 * i] | (entry[kHeaderSize + 2 * i + 1] << 8));
    notices.push_back(std::move(n));
    if (next == 0) return notices;
    if (next < kHeaderSize || next > transferred - at) break;
    at += next;
  }
  if (intact) *intact = false;
  return notices;
}

bool SameFileName(const std::u16string& received, const std::u16string& watched) {
  if (received.size() != watched.size()) return false;
  for (std::size_t i = 0; i < received.size(); ++i)
    if (Upper(received[i]) != Upper(watched[i])) return false;
  return true;
}

std::u16string Utf8ToUtf16(const char* bytes, std::size_t length) {
  if (bytes == nullptr || length == 0) return std::u16string();
  // Each input byte gives at most one UTF-16 unit (four bytes give two).
  std::string out(length * 2, '\0');
  std::size_t written = 0;
  NLS2_TranslateString(NLS2_CS_UTF8, bytes, length, NLS2_CS_UTF16LE, &out[0], out.size(), &written, nullptr);
  std::u16string text(written / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(out[2 * i]) |
                                    (static_cast<unsigned char>(out[2 * i + 1]) << 8));
  return text;
}

void WriteNameField(char* field, std::size_t width, const std::u16string& text) {
  if (field == nullptr) return;
  std::memset(field, ' ', width);
  std::string bytes(text.size() * 2, '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  NLS2_TranslateString(NLS2_CS_UTF16LE, bytes.data(), bytes.size(), NLS2_CS_UTF8, field, width, nullptr, nullptr);
}

}  // namespace files
}  // namespace osm

#include "support/fields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <string>

namespace {

std::basic_string<OsmWChar> Wide(const std::u16string& s) { return std::basic_string<OsmWChar>(s.begin(), s.end()); }

// A field with guard bytes on both sides, so writes outside it are caught.
struct Field {
  explicit Field(std::size_t width) : width(width), bytes(width + 8, '#') {}
  char* data() { return &bytes[4]; }
  std::string text() const { return bytes.substr(4, width); }
  bool guardsIntact() const { return bytes.substr(0, 4) == "####" && bytes.substr(4 + width) == "####"; }
  std::size_t width;
  std::string bytes;
};

std::string Repeat(const std::string& s, std::size_t n) {
  std::string out;
  while (n--) out += s;
  return out;
}

bool ValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

TEST(TextFields, WideToAsciiAndUtf8Fields) {
  struct Case {
    std::u16string source;
    std::size_t width;
    int form;  // 0 ASCII, 1 ASCII with trailing blanks as NULs, 2 UTF-8
    std::string expected;
  } cases[] = {
      {std::u16string(70, u'a'), 64, 0, std::string(61, 'a') + "..."},
      {std::u16string(64, u'b'), 64, 0, std::string(64, 'b')},  // exactly full: no blank, no terminator
      {u"caf\u00e9", 64, 0, "caf?" + std::string(60, ' ')},
      {u"a c", 8, 1, std::string("a c\0\0\0\0\0", 8)},  // inner blanks stay
      {std::u16string(399, u'x'), 400, 2, std::string(395, 'x') + "...  "},  // room for the ellipsis
      {std::u16string(398, u'y'), 400, 2, std::string(398, 'y') + "  "},
      // 200 two-byte characters are 400 bytes: 197 of them within 395 bytes.
      {std::u16string(200, u'\u00e9'), 400, 2, Repeat("\xC3\xA9", 197) + "...   "},
      {u"ab\U0001F600cdefgh", 10, 2, "ab...     "},  // a surrogate pair fits whole or not at all
  };
  for (const Case& c : cases) {
    Field f(c.width);
    std::basic_string<OsmWChar> source = Wide(c.source);
    if (c.form == 2) WideToUtf8Field(f.data(), source.c_str(), c.width);
    else WideToAsciiField(f.data(), source.c_str(), c.width, c.form == 1);
    EXPECT_EQ(c.expected, f.text()) << c.width << " form " << c.form;
    EXPECT_TRUE(f.guardsIntact());
  }
  Field blank(8);
  WideToAsciiField(blank.data(), nullptr, 8, false);
  EXPECT_EQ(std::string(8, ' '), blank.text());

  // Three-byte characters never end cut, whatever the width.
  std::basic_string<OsmWChar> euros = Wide(std::u16string(30, u'\u20ac'));
  for (std::size_t width = 5; width < 40; ++width) {
    Field g(width);
    WideToUtf8Field(g.data(), euros.c_str(), width);
    std::string t = g.text();
    std::size_t dots = t.find("...");
    ASSERT_NE(std::string::npos, dots) << width;
    EXPECT_TRUE(ValidUtf8(t.substr(0, dots))) << width;
    EXPECT_TRUE(g.guardsIntact()) << width;
  }
}

TEST(TextFields, BlankPaddingHelpers) {
  Field f(8);
  CopyBlankPadded(f.data(), "abcdefghij", 8);
  EXPECT_EQ("abcdefgh", f.text());
  CopyBlankPadded(f.data(), nullptr, 8);
  EXPECT_EQ("        ", f.text());

  // A short source on the heap: copying must not read past its end.
  std::unique_ptr<char[]> shortSource(new char[3]);
  std::memcpy(shortSource.get(), "ab", 3);
  Field g(64);
  CopyThenBlankPad(g.data(), shortSource.get(), 64);
  EXPECT_EQ("ab" + std::string(62, ' '), g.text());

  std::memcpy(f.data(), "abcdefgh", 8);
  BlankFillFrom(3, 8, f.data());
  EXPECT_EQ("abc     ", f.text());
  BlankFillFrom(9, 8, f.data());
  EXPECT_EQ("abc     ", f.text());

  Field u(6);
  EXPECT_EQ(0, AsciiToUtf8Field(u.data(), "node", 6));
  EXPECT_EQ("node  ", u.text());
  EXPECT_NE(0, AsciiToUtf8Field(u.data(), "too long", 6));
  EXPECT_EQ("too lo", u.text());
  EXPECT_TRUE(f.guardsIntact() && g.guardsIntact() && u.guardsIntact());
}

OsmSystemTime Time(int y, int mo, int d, int h, int mi, int s, int ms) {
  OsmSystemTime t{};
  t.wYear = static_cast<unsigned short>(y);
  t.wMonth = static_cast<unsigned short>(mo);
  t.wDay = static_cast<unsigned short>(d);
  t.wHour = static_cast<unsigned short>(h);
  t.wMinute = static_cast<unsigned short>(mi);
  t.wSecond = static_cast<unsigned short>(s);
  t.wMilliseconds = static_cast<unsigned short>(ms);
  return t;
}

TEST(TimeFields, TimestampsAreSixteenBytes) {
  Field f(16);
  EXPECT_EQ(0, FormatTimestamp(f.data(), Time(1999, 12, 31, 23, 59, 59, 999), 16));
  EXPECT_EQ("0991231235959999", f.text());
  EXPECT_EQ(0, FormatTimestamp(f.data(), Time(2100, 1, 1, 0, 0, 0, 0), 16));
  EXPECT_EQ("2000101000000000", f.text());
  // Nonsense values widen the text; still exactly 16 bytes are written.
  EXPECT_EQ(0, FormatTimestamp(f.data(), Time(65535, 65535, 65535, 65535, 65535, 65535, 65535), 16));
  EXPECT_TRUE(f.guardsIntact());

  std::memcpy(f.data(), "untouched.......", 16);
  EXPECT_EQ(4, FormatTimestamp(f.data(), Time(2010, 4, 12, 8, 19, 43, 250), 15));
  EXPECT_EQ("untouched.......", f.text());
}

TEST(TimeFields, NowStampsCarryTheYearAndNoMilliseconds) {
  Field f(16);
  EXPECT_EQ(0, FormatTimestampNow(f.data()));
  std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char year[4];
  std::snprintf(year, sizeof year, "%03d", local.tm_year);
  EXPECT_EQ(year, f.text().substr(0, 3));
  EXPECT_EQ("000", f.text().substr(13));
  EXPECT_EQ(0, FormatTimestampNow(nullptr));

  Field z(20);
  EXPECT_EQ(0, FormatTimestampNowZeroFilled(z.data(), 20));
  EXPECT_EQ(std::string(4, '\0'), z.text().substr(16));
  EXPECT_EQ(year, z.text().substr(0, 3));
  Field s(10);
  EXPECT_EQ(0, FormatTimestampNowZeroFilled(s.data(), 10));
  EXPECT_EQ(year, s.text().substr(0, 3));
  EXPECT_TRUE(f.guardsIntact() && z.guardsIntact() && s.guardsIntact());
}

TEST(TimeFields, HoursMinutesAndDateTimeTexts) {
  Field f(8);
  EXPECT_EQ(0, FormatHoursMinutes(f.data(), 605, 8));
  EXPECT_EQ("10:05   ", f.text());
  std::memcpy(f.data(), "xxxxxxxx", 8);
  EXPECT_EQ(4, FormatHoursMinutes(f.data(), 605, 4));
  EXPECT_EQ("xxxxxxxx", f.text());
  EXPECT_EQ(0, FormatHoursMinutes(f.data(), 100000, 5));  // 1666:40 is cut to five characters
  EXPECT_EQ("1666:", f.text().substr(0, 5));

  Field d(8);
  FormatDateText(d.data(), Time(2009, 3, 7, 14, 5, 9, 0));
  EXPECT_EQ("03/07/09", d.text());
  FormatTimeText(d.data(), Time(2009, 3, 7, 14, 5, 9, 0));
  EXPECT_EQ("14:05:09", d.text());
  EXPECT_TRUE(f.guardsIntact() && d.guardsIntact());
}

TEST(OriginNode, ReplacedAsAWholeAndCopiedBlankPadded) {
  Field f(64);
  std::string longName(80, 'n');
  ASSERT_EQ(0, SetOriginNodeName(longName.data(), longName.size()));
  CopyOriginNode(f.data(), 64);
  EXPECT_EQ(std::string(64, 'n'), f.text());
  ASSERT_EQ(0, SetOriginNodeName("short", 6));  // size includes a terminator
  CopyOriginNode(f.data(), 64);
  EXPECT_EQ("short" + std::string(59, ' '), f.text());
  EXPECT_EQ(5u, OriginNodeNameLength());
  EXPECT_TRUE(f.guardsIntact());
}

}  // namespace

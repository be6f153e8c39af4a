// WTREGISTRY without the platform: values converted by type within the size
// the registry returned, the monitor of a filter, its row path and the root
// key numbers. Buffers are exactly as long as the data, so the sanitizers see
// any read past the end.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "collectors/registry/registry_values.h"

using namespace osm::registry;

namespace {

// UTF-16LE bytes of a text, with the given number of NUL units after it.
std::vector<unsigned char> Wide(const std::u16string& text, int nuls = 1) {
  std::vector<unsigned char> out;
  for (char16_t u : text + std::u16string(nuls, u'\0')) {
    out.push_back(static_cast<unsigned char>(u & 0xFF));
    out.push_back(static_cast<unsigned char>(u >> 8));
  }
  return out;
}

ConvertedValue Convert(std::uint32_t type, const std::vector<unsigned char>& bytes) {
  // A copy of exactly the data's size on the heap: nothing after it to read.
  std::unique_ptr<unsigned char[]> data(new unsigned char[bytes.size() + !bytes.size()]);
  if (!bytes.empty()) std::memcpy(data.get(), bytes.data(), bytes.size());
  return ConvertValue(type, data.get(), bytes.size());
}

TEST(RegistryValues, ConvertedByTypeWithinTheirSize) {
  struct Case {
    const char* what;
    std::uint32_t type;
    std::vector<unsigned char> data;
    bool handled;
    std::string text;
    std::int32_t number;
  } cases[] = {
      {"binary", kBinary, {0x0A, 0xFF}, true, "0AFF", 0},
      {"multi-string", kMultiString, Wide(std::u16string(u"a\0b", 3), 2), true, "a b ", 0},
      {"multi-string cut short", kMultiString, Wide(std::u16string(u"a\0b", 3), 0), true, "a b", 0},
      {"empty multi-string", kMultiString, Wide(u"", 2), true, "", 0},
      {"text to its first NUL", kString, Wide(std::u16string(u"ab\0cd", 5)), true, "ab", 0},
      {"expandable text", kExpandString, Wide(u"%TEMP%"), true, "%TEMP%", 0},
      {"non-ASCII text", kString, Wide(u"M\u00fcller"), true, "M\xC3\xBCller", 0},
      {"lone surrogate", kString, Wide(u"a\xD800z"), true, "a\xEF\xBF\xBDz", 0},
      {"odd byte after the text", kString, {'h', 0, 'i', 0, 'x'}, true, "hi", 0},
      {"dword", kDword, {0xFB, 0xFF, 0xFF, 0xFF}, true, "", -5},
      {"big-endian dword", kDwordBigEndian, {0x00, 0x00, 0x01, 0x02}, true, "", 258},
      {"qword", kQword, {7, 0, 0, 0, 0, 0, 0, 0, 9}, true, "", 7},
      {"qword 5000000000", kQword, {0x00, 0xF2, 0x05, 0x2A, 0x01, 0, 0, 0}, true, "", 2147483647},
      {"qword top bit", kQword, {1, 0, 0, 0, 0, 0, 0, 0x80}, true, "", 2147483647},
      {"1-byte dword", kDword, {0x2A}, false, "", 0},
      {"3-byte big-endian dword", kDwordBigEndian, {1, 2, 3}, false, "", 0},
      {"4-byte qword", kQword, {1, 2, 3, 4}, false, "", 0},
      {"no data", kDword, {}, false, "", 0},
      {"REG_NONE", 0, {1, 2}, false, "", 0},
      {"REG_LINK", 6, Wide(u"x"), false, "", 0},
  };
  for (const Case& c : cases) {
    ConvertedValue v = Convert(c.type, c.data);
    EXPECT_EQ(c.handled, v.handled) << c.what;
    EXPECT_EQ(c.text, v.text) << c.what;
    EXPECT_EQ(c.number, v.number) << c.what;
    EXPECT_EQ(c.number == 2147483647, v.saturated) << c.what;
  }
  EXPECT_EQ(0x8000000000000001u, Convert(kQword, {1, 0, 0, 0, 0, 0, 0, 0x80}).quad) << "read unsigned";
}

TEST(RegistryValues, LongDataFillsTheFieldOnAWholeCharacter) {
  // A buffer full of text without a terminator, as a writer may leave it.
  std::vector<unsigned char> unterminated = Wide(std::u16string(kValueBufferSize / 2, u'x'), 0);
  EXPECT_EQ(std::string(kTextWidth, 'x'), Convert(kString, unterminated).text);
  EXPECT_EQ(std::string(kTextWidth, 'x'), Convert(kMultiString, unterminated).text);
  // 1 + 375 three-byte characters fit in 1128 bytes, the 376th would not.
  std::string euros = Convert(kString, Wide(u"x" + std::u16string(600, u'\u20ac'))).text;
  EXPECT_EQ(1126u, euros.size());
  EXPECT_EQ("\xE2\x82\xAC", euros.substr(euros.size() - 3));
  std::string hex = Convert(kBinary, std::vector<unsigned char>(kTextWidth, 0xAB)).text;
  EXPECT_EQ(kTextWidth, hex.size());
  EXPECT_EQ(std::string::npos, hex.find_first_not_of("AB"));
}

FilterInfo Entry(const char* column, const char* text) {
  return FilterInfo{"S", "WTREGISTRY", 1, column, 12, static_cast<int>(std::strlen(text)), text, text, 0};
}

TEST(RegistryMonitor, FilterGivesRootKeyPathValueNameAndTheRowPath) {
  const std::int32_t two = 2;
  FilterInfo root{"S", "WTREGISTRY", 1, "ROOTKEY", 3, 4, reinterpret_cast<const char*>(&two), "2", 0};
  std::string longName = "n" + std::string(129 * 3, '\0');
  for (int i = 0; i < 129; ++i) longName.replace(1 + 3 * i, 3, "\xE2\x82\xAC");  // 388 bytes
  struct Case {
    std::string path;
    std::string keyPath, valueName, rowPath;
  } cases[] = {
      {"SOFTWARE\\Vendor\\Product\\Version  ", "SOFTWARE\\Vendor\\Product", "Version",
       "SOFTWARE\\Vendor\\Product\\Version"},
      // A value of the root, named with and without its backslash.
      {"Version", "", "Version", "Version"},
      {"\\Version", "", "Version", "\\Version"},
      {"SOFTWARE\\Key\\", "SOFTWARE\\Key", "", "SOFTWARE\\Key\\"},
      // The filter's text is cut to 388 bytes on a whole character.
      {"\\" + longName, "", longName.substr(0, 1 + 128 * 3), "\\" + longName.substr(0, 1 + 128 * 3)},
      {std::string(388, 'k') + "\\tail", "", std::string(388, 'k'), std::string(388, 'k')},
  };
  for (const Case& c : cases) {
    Monitor m = BuildMonitor({root, Entry("PARMA", ""), Entry("PATHNAME", c.path.c_str())}, nullptr);
    EXPECT_EQ(2, m.rootKey);
    EXPECT_EQ(c.keyPath, m.keyPath) << c.path;
    EXPECT_EQ(c.valueName, m.valueName) << c.path;
    EXPECT_EQ(c.rowPath, RowPath(m)) << c.path;
    EXPECT_LE(RowPath(m).size(), kPathWidth);
  }
  EXPECT_EQ(0, BuildMonitor({Entry("PATHNAME", "a\\b")}, nullptr).rootKey) << "default root";
  // A joined path longer than the field ends on a whole character within it.
  Monitor joined{2, "", "kk", longName};
  EXPECT_EQ("kk\\" + longName.substr(0, 1 + 128 * 3), RowPath(joined));
}

TEST(RegistryMonitor, RootKeyNumbers) {
  const std::pair<std::int32_t, std::uint32_t> roots[] = {
      {0, 0x80000000u}, {2, 0x80000002u}, {5, 0x80000005u},  {6, 0x80000006u}, {80, 0x80000050u},
      {96, 0x80000060u}, {7, 0},          {-1, 0},           {81, 0},          {0x80000002, 0}};
  for (const auto& r : roots) EXPECT_EQ(r.second, RootKeyHandle(r.first)) << r.first;
}

}  // namespace

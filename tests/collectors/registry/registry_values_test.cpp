// WTREGISTRY without the platform: data that its writer left malformed is read
// within its size (buffers are exactly as long as the data, so the sanitizers
// see any read past the end), and the monitor and row path of a filter.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "collectors/registry/registry_values.h"

using namespace osm::registry;

namespace {

// UTF-16LE bytes of a text and `nuls` NUL units, in a buffer of exactly that size.
ConvertedValue Convert(std::uint32_t type, const std::u16string& text, int nuls = 0, bool strayByte = false) {
  std::size_t size = (text.size() + nuls) * 2 + strayByte;
  std::unique_ptr<unsigned char[]> data(new unsigned char[size]());
  for (std::size_t i = 0; i < text.size(); ++i) {
    data[2 * i] = static_cast<unsigned char>(text[i] & 0xFF);
    data[2 * i + 1] = static_cast<unsigned char>(text[i] >> 8);
  }
  if (strayByte) data[size - 1] = 'x';
  return ConvertValue(type, data.get(), size);
}

TEST(RegistryValues, MalformedDataIsReadWithinItsSize) {
  const std::u16string full(kValueBufferSize / 2, u'x');
  EXPECT_EQ(std::string(kTextWidth, 'x'), Convert(kString, full).text) << "no terminator";
  EXPECT_EQ(std::string(kTextWidth, 'x'), Convert(kMultiString, full).text) << "no list end";
  EXPECT_EQ("a b", Convert(kMultiString, std::u16string(u"a\0b", 3)).text);
  EXPECT_EQ("hi", Convert(kString, u"hi", 0, true).text) << "odd size";

  const unsigned char topBit[8] = {1, 0, 0, 0, 0, 0, 0, 0x80}, three[3] = {1, 2, 3};
  ConvertedValue quad = ConvertValue(kQword, topBit, 8);
  EXPECT_TRUE(quad.saturated && quad.number == 2147483647 && quad.quad == 0x8000000000000001u);
  const std::uint32_t tooShortOrUnknown[] = {kDword, kDwordBigEndian, kQword, 0, 6};
  for (std::uint32_t type : tooShortOrUnknown) {
    ConvertedValue v = ConvertValue(type, three, 3);
    EXPECT_FALSE(v.handled) << type;
    EXPECT_EQ(0, v.number) << type;
  }
}

FilterInfo Entry(const char* column, const std::string& text) {
  return FilterInfo{"S", "WTREGISTRY", 1, column, 12, static_cast<int>(text.size()), text.c_str(), text.c_str(), 0};
}

TEST(RegistryMonitor, FilterGivesRootKeyPathValueNameAndTheRowPath) {
  std::string euros;
  for (int i = 0; i < 129; ++i) euros += "\xE2\x82\xAC";  // 387 bytes
  struct Case {
    std::string path, keyPath, valueName, rowPath;
  } cases[] = {
      {"SOFTWARE\\Vendor\\Product\\Version  ", "SOFTWARE\\Vendor\\Product", "Version", ""},
      {"Version", "", "Version", ""},  // a value of the root, as written
      {"\\Version", "", "Version", ""},
      {"SOFTWARE\\Key\\", "SOFTWARE\\Key", "", ""},
      // Cut to 388 bytes on a whole character.
      {"\\n" + euros, "", "n" + euros.substr(0, 128 * 3), "\\n" + euros.substr(0, 128 * 3)},
      {std::string(388, 'k') + "\\tail", "", std::string(388, 'k'), std::string(388, 'k')},
  };
  for (const Case& c : cases) {
    Monitor m = BuildMonitor({Entry("PARMA", ""), Entry("PATHNAME", c.path)}, nullptr);
    EXPECT_EQ(c.keyPath, m.keyPath) << c.path;
    EXPECT_EQ(c.valueName, m.valueName) << c.path;
    EXPECT_EQ(c.rowPath.empty() ? c.path.substr(0, c.path.find_last_not_of(' ') + 1) : c.rowPath, RowPath(m));
  }
  Monitor joined{2, "", "kk", "n" + euros};  // 391 bytes joined
  EXPECT_EQ("kk\\n" + euros.substr(0, 128 * 3), RowPath(joined));

  const std::int32_t two = 2;
  FilterInfo root{"S", "WTREGISTRY", 1, "ROOTKEY", 3, 4, reinterpret_cast<const char*>(&two), "2", 0};
  EXPECT_EQ(2, BuildMonitor({root}, nullptr).rootKey);
  EXPECT_EQ(0, BuildMonitor({Entry("PATHNAME", "a\\b")}, nullptr).rootKey) << "default root";
  EXPECT_EQ(0x80000060u, RootKeyHandle(96));
  EXPECT_EQ(0u, RootKeyHandle(81));
}

}  // namespace

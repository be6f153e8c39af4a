#include "framework/nlsxlat.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Translate(int from, const std::string& in, int to, std::size_t limit, int* rc = nullptr) {
  std::string out(limit, '\x7f');
  std::size_t written = 12345;
  char diag[256] = "";
  int r = NLS2_TranslateString(from, in.data(), in.size(), to, &out[0], limit, &written, diag);
  if (rc) *rc = r;
  out.resize(written);
  return out;
}

std::string Utf16(const std::u16string& s) {
  std::string bytes;
  for (char16_t c : s) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

TEST(Nls, Utf16ToAsciiReplacesWhatAsciiCannotHold) {
  int rc;
  EXPECT_EQ("caf? ?", Translate(NLS2_CS_UTF16LE, Utf16(u"caf\u00e9 \u20ac"), NLS2_CS_ASCII, 32, &rc));
  EXPECT_EQ(NLS2_OK, rc);
}

TEST(Nls, Utf16ToUtf8EncodesEveryPlane) {
  // U+00E9, U+20AC, U+1F600 (surrogate pair)
  std::string out = Translate(NLS2_CS_UTF16LE, Utf16(u"\u00e9\u20ac\U0001F600"), NLS2_CS_UTF8, 32);
  EXPECT_EQ("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", out);
}

TEST(Nls, OutputLimitNeverCutsASequence) {
  int rc;
  // "a" + U+20AC (3 bytes): a limit of 3 keeps only "a".
  EXPECT_EQ("a", Translate(NLS2_CS_UTF16LE, Utf16(u"a\u20ac"), NLS2_CS_UTF8, 3, &rc));
  EXPECT_EQ(NLS2_TRUNCATED, rc);
  // A surrogate pair needs 4 bytes of UTF-16 output.
  std::string pair = Utf16(u"\U0001F600");
  EXPECT_EQ("", Translate(NLS2_CS_UTF16LE, pair, NLS2_CS_UTF16LE, 3, &rc));
  EXPECT_EQ(NLS2_TRUNCATED, rc);
  EXPECT_EQ(pair, Translate(NLS2_CS_UTF16LE, pair, NLS2_CS_UTF16LE, 4, &rc));
  EXPECT_EQ(NLS2_OK, rc);
}

TEST(Nls, InvalidInputIsReplacedAndNeverOverread) {
  // Lone surrogates and an odd trailing byte.
  std::string in = Utf16(u"x") + std::string("\x00\xD8", 2) + Utf16(u"y") + std::string("\x00\xDC", 2) + "z";
  EXPECT_EQ("x?y??", Translate(NLS2_CS_UTF16LE, in, NLS2_CS_ASCII, 32));
  // Overlong, surrogate, truncated and stray continuation bytes in UTF-8.
  EXPECT_EQ("??a?b", Translate(NLS2_CS_UTF8, "\xC0\xAF" "a" "\xED\xA0\x80" "b", NLS2_CS_ASCII, 64));
  EXPECT_EQ("?", Translate(NLS2_CS_UTF8, "\xE2\x82", NLS2_CS_ASCII, 8));
  EXPECT_EQ("?", Translate(NLS2_CS_ASCII, "\x80", NLS2_CS_ASCII, 8));
}

TEST(Nls, AsciiToUtf8AndArguments) {
  EXPECT_EQ("plain", Translate(NLS2_CS_ASCII, "plain", NLS2_CS_UTF8, 5));
  char out[4];
  std::size_t written = 99;
  EXPECT_EQ(NLS2_BAD_CODESET, NLS2_TranslateString(437, "a", 1, NLS2_CS_UTF8, out, 4, &written, nullptr));
  EXPECT_EQ(0u, written);
  EXPECT_EQ(NLS2_BAD_ARGUMENT, NLS2_TranslateString(NLS2_CS_ASCII, nullptr, 1, NLS2_CS_UTF8, out, 4, nullptr, nullptr));
  EXPECT_EQ(NLS2_OK, NLS2_TranslateString(NLS2_CS_ASCII, nullptr, 0, NLS2_CS_UTF8, out, 4, &written, nullptr));
  EXPECT_EQ(0u, written);
}

}  // namespace

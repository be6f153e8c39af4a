// Small UTF-16 text helpers shared by the counter service core.
#pragma once

#include <cstddef>
#include <string>

namespace osmperf {

// Folds one UTF-16 unit for case-blind comparison (ASCII and Latin-1 letters).
inline char16_t FoldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  return c;
}

// Case-blind equality; a null text equals nothing, not even another null.
bool EqualsNoCase(const char16_t* a, const char16_t* b);
bool EqualsNoCase(const std::u16string& a, const std::u16string& b);
bool EqualsNoCase(const std::u16string& a, const char16_t* b);

// Length of a null-terminated UTF-16 text (0 for null).
std::size_t Length16(const char16_t* text);

// Blanks (space and tab) removed at both ends.
std::u16string Trim(const std::u16string& text);

// Conversions. Invalid sequences become U+FFFD; FromUtf8 reports them in *ok.
std::string ToUtf8(const char16_t* text, std::size_t length);
inline std::string ToUtf8(const std::u16string& text) { return ToUtf8(text.data(), text.size()); }
std::u16string FromUtf8(const std::string& text, bool* ok);
// ASCII text to UTF-16 (bytes above 0x7F are taken as Latin-1).
std::u16string Widen(const char* text);

// Text for traces: the UTF-8 form, or "" for a null text.
std::string PrintName(const char16_t* name);

}  // namespace osmperf

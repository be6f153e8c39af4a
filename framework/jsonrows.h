// JSON Lines encoding of rows and table definitions.
//
// A row becomes one JSON object on one line:
//   {"record":"row","request":"R1","kind":"report","table":"NTPAGEFILE",
//    "time":"2025-03-01T10:15:30.250Z","ORIGINNODE":"host",...,"USAGE":12}
// Attributes appear by upper-case name in descriptor order. Text is written
// without its trailing blanks and NULs. In ASCII text (type 9) a byte of 0x80
// or more is not ASCII and is written as the character of that byte value
// (\u0080 to \u00ff), unless all such bytes of the text form well-formed
// UTF-8, which some text attributes carry (account names) and which is then
// written as that text; in UTF-8 text (type 12) well-formed sequences pass
// through as they are and every byte that does not belong to one becomes
// U+FFFD. Control characters, '"' and '\' are escaped. Integers are numbers.
// An attribute that does not lie inside the row size is written as null.
//
// A table definition becomes:
//   {"record":"table","table":"NTPAGEFILE","rowsize":552,"attributes":[
//    {"name":"ORIGINNODE","type":"text","code":9,"width":64,"offset":0},...]}
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "framework/attribute.h"

namespace cfw {

// The attributes of one row record, with their names in upper case.
class RowLayout {
 public:
  RowLayout() = default;
  RowLayout(unsigned rowSize, const AttributeInfo* attrs, int count);
  unsigned RowSize() const { return rowSize_; }
  std::size_t Count() const { return attrs_.size(); }
  const AttributeInfo& Attr(std::size_t i) const { return attrs_[i]; }
  const std::string& Name(std::size_t i) const { return names_[i]; }

 private:
  unsigned rowSize_ = 0;
  std::vector<AttributeInfo> attrs_;
  std::vector<std::string> names_;
};

// Length of the well-formed UTF-8 sequence at p (lead byte >= 0x80), or 0.
std::size_t Utf8SequenceLength(const unsigned char* p, std::size_t left);
// True when every byte of 0x80 and above belongs to a well-formed UTF-8
// sequence, and there is at least one (text attributes that carry UTF-8).
bool HoldsUtf8(const char* bytes, std::size_t size);

// Appends the text as the contents of a JSON string (no quotes); utf8 selects
// the UTF-8 reading, otherwise the bytes are ASCII.
void AppendJsonText(std::string* out, const char* bytes, std::size_t size, bool utf8);
// Appends a quoted JSON string of valid UTF-8 text (framework-made texts).
void AppendJsonQuoted(std::string* out, const std::string& text);

// "int32", "text", "utf8", "int64", or "unknown".
const char* AttrTypeWord(int type);

// UTC time with milliseconds: "2025-03-01T10:15:30.250Z".
std::string FormatUtc(std::chrono::system_clock::time_point when);

struct RowHeader {
  std::string request;
  std::string kind;
  std::string table;
  std::string time;
};

// One row as a JSON object, without the line end.
std::string RowJson(const RowHeader& header, const RowLayout& layout, const void* row);
// One table definition as a JSON object, without the line end.
std::string TableJson(const std::string& table, const RowLayout& layout);

}  // namespace cfw

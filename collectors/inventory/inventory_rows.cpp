#include "collectors/inventory/inventory_rows.h"

#include <cstring>

#include "framework/nlsxlat.h"

namespace osm {
namespace inventory {

using perf::FieldOf;
using perf::RowField;

std::string NarrowText(const OsmWChar* text) {
  std::size_t n = 0;
  while (text && text[n]) ++n;
  std::string out(n, ' ');
  std::size_t written = 0;
  if (n) NLS2_TranslateString(NLS2_CS_UTF16LE, text, n * 2, NLS2_CS_ASCII, &out[0], n, &written, nullptr);
  out.resize(written);
  return out;
}

RowRecord::RowRecord(const char* table, Fill fill)
    : def_(*FindTable(table)), bytes_(def_.rowSize, fill == kBlanks ? ' ' : '\0') {}

char* RowRecord::Field(const char* name) {
  RowField f = FieldOf(def_, name);
  return f.valid() ? bytes_.data() + f.offset : nullptr;
}

std::size_t RowRecord::Width(const char* name) const { return FieldOf(def_, name).width; }

RowRecord& RowRecord::Text(const char* name, const std::string& text) {
  if (char* field = Field(name)) CopyBlankPadded(field, text.c_str(), Width(name));
  return *this;
}

RowRecord& RowRecord::Ascii(const char* name, const OsmWChar* text) {
  if (char* field = Field(name)) WideToAsciiField(field, text, Width(name), false);
  return *this;
}

RowRecord& RowRecord::Utf8(const char* name, const OsmWChar* text) {
  if (char* field = Field(name)) WideToUtf8Field(field, text, Width(name));
  return *this;
}

RowRecord& RowRecord::Int32(const char* name, std::int32_t value) {
  perf::SetInt32(bytes_.data(), FieldOf(def_, name), value);
  return *this;
}

RowRecord& RowRecord::Int64(const char* name, std::int64_t value) {
  perf::SetInt64(bytes_.data(), FieldOf(def_, name), value);
  return *this;
}

RowRecord& RowRecord::Stamp() {
  if (char* origin = Field("ORIGINNODE")) CopyOriginNode(origin, Width("ORIGINNODE"));
  if (char* stamp = Field("TIMESTAMP")) FormatTimestampNow(stamp);
  return *this;
}

std::string RowRecord::TextOf(const char* name) const {
  RowField f = FieldOf(def_, name);
  std::string text(bytes_.data() + f.offset, f.width);
  std::size_t end = text.find_last_not_of(std::string(" \0", 2));
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::int32_t RowRecord::Int32Of(const char* name) const { return perf::GetInt32(bytes_.data(), FieldOf(def_, name)); }

void RowBlock::Add(const RowRecord& row) {
  bytes_.insert(bytes_.end(), row.data(), row.data() + row.size());
  ++count_;
}

}  // namespace inventory
}  // namespace osm

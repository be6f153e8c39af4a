// Row records that the inventory collectors build themselves: attributes are
// addressed by name through the catalogue, so no offset is written twice.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "collectors/perf/perf_values.h"
#include "support/fields.h"
#include "tables/catalogue.h"

namespace osm {
namespace inventory {

// A wide text as ASCII ('?' for what ASCII cannot hold).
std::string NarrowText(const OsmWChar* text);

// One row of a table, blank filled (or zero filled) at construction.
class RowRecord {
 public:
  enum Fill { kBlanks, kZeros };
  explicit RowRecord(const char* table, Fill fill = kBlanks);

  // Text fields. Text: blank padded, cut at the width (CopyBlankPadded).
  RowRecord& Text(const char* name, const std::string& text);
  // Wide texts through the code-set helpers: the ASCII form (no trimming)
  // and the UTF-8 form, both cut with "...".
  RowRecord& Ascii(const char* name, const OsmWChar* text);
  RowRecord& Utf8(const char* name, const OsmWChar* text);
  RowRecord& Int32(const char* name, std::int32_t value);
  RowRecord& Int64(const char* name, std::int64_t value);
  // ORIGINNODE and TIMESTAMP (now).
  RowRecord& Stamp();
  // The field of an attribute, and its width (null and 0 when unknown).
  char* Field(const char* name);
  std::size_t Width(const char* name) const;

  // The text of a field without its trailing blanks and NULs.
  std::string TextOf(const char* name) const;
  std::int32_t Int32Of(const char* name) const;

  const TableDef& Table() const { return def_; }
  char* data() { return bytes_.data(); }
  const char* data() const { return bytes_.data(); }
  std::size_t size() const { return bytes_.size(); }

 private:
  const TableDef& def_;
  std::vector<char> bytes_;
};

// Rows of one table, laid out one after the other for AddData.
class RowBlock {
 public:
  void Add(const RowRecord& row);
  const char* data() const { return bytes_.data(); }
  int count() const { return count_; }

 private:
  std::vector<char> bytes_;
  int count_ = 0;
};

}  // namespace inventory
}  // namespace osm

// The row catalogue as records, built from catalogue.inc.
#include "tables/catalogue.h"

#include <cstring>

namespace osm {
namespace {

// The TYPE tokens of catalogue.inc.
constexpr std::uint16_t kAttrINT32 = kAttrInt32;
constexpr std::uint16_t kAttrTEXT = kAttrText;
constexpr std::uint16_t kAttrUTF8 = kAttrUtf8;
constexpr std::uint16_t kAttrINT64 = kAttrInt64;

// One descriptor array per table.
#define OSM_TABLE(UPPER, lower, rowSize, attrCount, fixedData, initialCapacity) \
  constexpr AttrDef kAttrs_##lower[] = {
#define OSM_SAMPLE(id, object, when)
#define OSM_ATTR(NAME, TYPE, width, offset, source) \
  {#NAME, kAttr##TYPE, width, offset, source},
#define OSM_END_TABLE() };
#include "tables/catalogue.inc"
#undef OSM_TABLE
#undef OSM_SAMPLE
#undef OSM_ATTR
#undef OSM_END_TABLE

// The attribute count stated for each table must match its descriptor lines.
#define OSM_TABLE(UPPER, lower, rowSize, attrCount, fixedData, initialCapacity) \
  static_assert(sizeof(kAttrs_##lower) / sizeof(AttrDef) == (attrCount),       \
                #UPPER ": attribute count differs from its attribute lines");
#define OSM_SAMPLE(id, object, when)
#define OSM_ATTR(NAME, TYPE, width, offset, source)
#define OSM_END_TABLE()
#include "tables/catalogue.inc"
#undef OSM_TABLE
#undef OSM_SAMPLE
#undef OSM_ATTR
#undef OSM_END_TABLE

// One record per table; the samples are the brace list closed by OSM_END_TABLE.
#define OSM_TABLE(UPPER, lower, rowSize, attrCount, fixedData, initialCapacity) \
  const TableDef kTable_##lower = {#UPPER, "osm_" #lower "_agent", rowSize,     \
                                   attrCount, kAttrs_##lower, fixedData,        \
                                   initialCapacity, {
#define OSM_SAMPLE(id, object, when) {id, object, when},
#define OSM_ATTR(NAME, TYPE, width, offset, source)
#define OSM_END_TABLE() }};
#include "tables/catalogue.inc"
#undef OSM_TABLE
#undef OSM_SAMPLE
#undef OSM_ATTR
#undef OSM_END_TABLE

#define OSM_TABLE(UPPER, lower, rowSize, attrCount, fixedData, initialCapacity) \
  &kTable_##lower,
#define OSM_SAMPLE(id, object, when)
#define OSM_ATTR(NAME, TYPE, width, offset, source)
#define OSM_END_TABLE()
const TableDef* const kTables[] = {
#include "tables/catalogue.inc"
};
#undef OSM_TABLE
#undef OSM_SAMPLE
#undef OSM_ATTR
#undef OSM_END_TABLE

constexpr std::size_t kTableCount = sizeof(kTables) / sizeof(kTables[0]);

}  // namespace

const TableDef* const* AllTables() { return kTables; }

std::size_t TableCount() { return kTableCount; }

const TableDef* FindTable(const char* name) {
  if (name == nullptr) return nullptr;
  for (const TableDef* table : kTables) {
    if (std::strcmp(table->name, name) == 0) return table;
  }
  return nullptr;
}

}  // namespace osm

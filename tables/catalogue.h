// The row catalogue: one record per table, with every attribute of its row.
//
// The data itself lives in catalogue.inc as X-macro lines, so that the same
// list produces these records, the per-table classes and the table reference.
// Its lines, per table and in this order:
//   OSM_TABLE(UPPER, lower, rowSize, attrCount, fixedData, initialCapacity)
//   OSM_SAMPLE(id, "Object", "condition")      zero, one or two lines
//   OSM_ATTR(NAME, TYPE, width, offset, "source")   one line per attribute,
//                                                   TYPE: INT32 TEXT UTF8 INT64
//   OSM_END_TABLE()
// An includer defines all four macros (empty where it needs nothing).
#pragma once

#include <cstddef>
#include <cstdint>

namespace osm {

enum AttrType : std::uint16_t {
  kAttrInt32 = 3,   // 32-bit signed integer
  kAttrText = 9,    // fixed-width text, blank padded
  kAttrUtf8 = 12,   // fixed-width UTF-8 text, blank padded
  kAttrInt64 = 13   // 64-bit signed integer
};

struct AttrDef {
  const char* name;      // upper-case attribute name, as conditions address it
  std::uint16_t type;    // AttrType
  std::uint16_t width;   // bytes
  std::uint16_t offset;  // bytes from the start of the row
  const char* source;    // fixed-data name or counter that fills it ("" when the collector does)
};

// One sample description a table may use, with the condition that selects it
// ("" when it is the table's only description).
struct SampleDef {
  int id;              // string-table id of the description (0: none)
  const char* object;  // performance object name
  const char* when;    // selecting condition, as text
};

struct TableDef {
  const char* name;          // "NTPAGEFILE"
  const char* agentClass;    // "osm_ntpagefile_agent"
  std::uint32_t rowSize;     // bytes
  std::uint32_t attrCount;   // number of attributes
  const AttrDef* attrs;      // attrCount descriptors, in descriptor order
  int fixedData;             // fixed-data description id (240, 243, 261, 264), 0 when none
  int initialCapacity;       // initial row capacity, 0 when the catalogue gives none
  SampleDef samples[2];      // up to two descriptions, id 0 when absent
};

// Every table of the catalogue, in catalogue order.
const TableDef* const* AllTables();
std::size_t TableCount();
// The table with this upper-case name, or null.
const TableDef* FindTable(const char* name);

}  // namespace osm

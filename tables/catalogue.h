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
//
// Conventions of the data:
//  - Tables are listed in registration order; AllTables() keeps it.
//  - OSM_TABLE: fixedData is the fixed-data description id (240, 243, 261,
//    264) and initialCapacity the initial row capacity of the sample buffer;
//    both are 0 for a table whose collector builds its rows itself (such a
//    table has no OSM_SAMPLE line).
//  - OSM_SAMPLE: the condition is "" when the table has one description;
//    with two, each carries the text that selects it, in the listed order.
//  - OSM_ATTR "source": what the counter service writes at that offset.
//      ""                   the collector fills the attribute itself (and every
//                           attribute of a table without sample description);
//      _ORIGIN_ ...         a fixed-data name, written as it is named;
//      Pages/sec            a performance counter name, unquoted;
//      Cache Bytes *0.000976563
//                           a counter with a scale factor other than 1: the
//                           name, a blank, '*' and the factor as written;
//      A | B                the counter of the first description, then that
//                           of the second (tables with two descriptions);
//      _ZATTRIB_; _INSTANCE_
//                           two writers at the same offset: the fixed-data
//                           field first, then what the description puts there
//                           (the fixed group overlapping counter attributes).
//    No counter name contains '|', ';' or '*', so the separators are plain.
//  - Attribute names are upper case, at most 10 characters, unique in their
//    table; the descriptors handed to the framework use them in lower case.
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
  SampleDef samples[2];      // up to two descriptions; an absent one has id 0
                             // and null object and condition
};

// Every table of the catalogue, in the order of catalogue.inc (registration
// order); TableCount() entries.
const TableDef* const* AllTables();
std::size_t TableCount();
// The table with this upper-case name, or null.
const TableDef* FindTable(const char* name);

}  // namespace osm

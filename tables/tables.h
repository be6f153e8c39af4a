// The classes and functions of every catalogue table (see table_classes.h):
// osm_<table>_manager, osm_<table>_base, osm_<table>_def, osm_<table>_offer,
// osm_<table>_offered, osm_<table>_init and EventArrived_osm_<table>, for
// each OSM_TABLE line of catalogue.inc.
#pragma once

#include <cstddef>

#include "tables/table_classes.h"

#define OSM_TABLE(UPPER, lower, rowSize, attrCount, fixedData, initialCapacity) \
  OSM_DECLARE_TABLE_CLASSES(lower)
#define OSM_SAMPLE(id, object, when)
#define OSM_ATTR(NAME, TYPE, width, offset, source)
#define OSM_END_TABLE()
#include "tables/catalogue.inc"
#undef OSM_TABLE
#undef OSM_SAMPLE
#undef OSM_ATTR
#undef OSM_END_TABLE

namespace osm {

// The generated entry points of one table.
struct TableEntryPoints {
  const char* name;  // upper-case table name
  int (*init)();
  int (*offer)(AgentFactory factory);
  bool (*offered)();  // true once the table's collector offered its agent
  int (*eventArrived)(const void* rows, int count);
};

// Every table's entry points, in catalogue (registration) order.
const TableEntryPoints* AllTableEntryPoints();
std::size_t TableEntryPointCount();

}  // namespace osm

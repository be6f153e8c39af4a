// The per-table classes and functions, produced from catalogue.inc.
#include "tables/tables.h"

#define OSM_TABLE(UPPER, lower, rowSize, attrCount, fixedData, initialCapacity) \
  OSM_DEFINE_TABLE_CLASSES(lower, *osm::FindTable(#UPPER))
#define OSM_SAMPLE(id, object, when)
#define OSM_ATTR(NAME, TYPE, width, offset, source)
#define OSM_END_TABLE()
#include "tables/catalogue.inc"
#undef OSM_TABLE
#undef OSM_SAMPLE
#undef OSM_ATTR
#undef OSM_END_TABLE

namespace osm {
namespace {

#define OSM_TABLE(UPPER, lower, rowSize, attrCount, fixedData, initialCapacity) \
  {#UPPER, &osm_##lower##_init, &osm_##lower##_offer, &osm_##lower##_offered, \
   &EventArrived_osm_##lower},
#define OSM_SAMPLE(id, object, when)
#define OSM_ATTR(NAME, TYPE, width, offset, source)
#define OSM_END_TABLE()
const TableEntryPoints kEntryPoints[] = {
#include "tables/catalogue.inc"
};
#undef OSM_TABLE
#undef OSM_SAMPLE
#undef OSM_ATTR
#undef OSM_END_TABLE

}  // namespace

const TableEntryPoints* AllTableEntryPoints() { return kEntryPoints; }

std::size_t TableEntryPointCount() { return sizeof(kEntryPoints) / sizeof(kEntryPoints[0]); }

}  // namespace osm

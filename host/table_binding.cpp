#include "host/table_binding.h"

#include <cstring>

#include "tables/tables.h"

namespace {

const osm::TableEntryPoints* Find(const char* table) {
  const osm::TableEntryPoints* all = osm::AllTableEntryPoints();
  for (std::size_t i = 0; i < osm::TableEntryPointCount(); ++i)
    if (std::strcmp(all[i].name, table) == 0) return &all[i];
  return nullptr;
}

}  // namespace

bool TableHasCollector(const char* table) {
  const osm::TableEntryPoints* e = Find(table);
  return e && e->offered && e->offered();
}

int RegisterTable(const char* table) {
  const osm::TableEntryPoints* e = Find(table);
  return e ? e->init() : -1;
}

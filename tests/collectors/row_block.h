// Rows of one table in one zero-filled buffer, set and read by attribute name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "collectors/perf/perf_values.h"
#include "tables/catalogue.h"

struct Rows {
  Rows(const char* table, std::size_t n) : def(*osm::FindTable(table)), bytes(n * def.rowSize, 0) {}
  char* Row(std::size_t i) { return bytes.data() + i * def.rowSize; }
  Rows& Set(std::size_t i, const char* name, std::int32_t v) {
    osm::perf::SetInt32(Row(i), osm::perf::FieldOf(def, name), v);
    return *this;
  }
  Rows& Set64(std::size_t i, const char* name, std::int64_t v) {
    osm::perf::SetInt64(Row(i), osm::perf::FieldOf(def, name), v);
    return *this;
  }
  Rows& Text(std::size_t i, const char* name, const std::string& text) {
    osm::perf::RowField f = osm::perf::FieldOf(def, name);
    osm::perf::CopyTextField(Row(i) + f.offset, f.width, text);
    return *this;
  }
  Rows& Name(std::size_t i, const std::string& text) { return Text(i, "INSTCNAME", text); }
  std::int32_t Get(std::size_t i, const char* name) {
    return osm::perf::GetInt32(Row(i), osm::perf::FieldOf(def, name));
  }
  std::int64_t Get64(std::size_t i, const char* name) {
    return osm::perf::GetInt64(Row(i), osm::perf::FieldOf(def, name));
  }
  std::string Text(std::size_t i, const char* name) {
    osm::perf::RowField f = osm::perf::FieldOf(def, name);
    return std::string(Row(i) + f.offset, f.width);
  }
  const osm::TableDef& def;
  std::vector<char> bytes;
};

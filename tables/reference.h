// The table reference: the row catalogue rendered for people (markdown) and
// for programs (JSON). docs/tables.md is TablesMarkdown() of every table.
#pragma once

#include <cstddef>
#include <string>

#include "tables/catalogue.h"

namespace osm {

// "int32", "text", "utf8" or "int64"; "?" for an unknown code.
const char* AttrTypeName(std::uint16_t type);

// One sentence saying what the table's rows describe ("" for an unknown table).
const char* TableSummary(const char* tableName);

// A JSON array with one object per table, in the given order.
std::string TablesJson(const TableDef* const* tables, std::size_t count);

// The markdown reference: an index, then one section per table.
std::string TablesMarkdown(const TableDef* const* tables, std::size_t count);

// Text escaped for a JSON string literal (without the quotes).
std::string JsonEscape(const std::string& text);

}  // namespace osm

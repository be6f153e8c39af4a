// Cost of a scrape of the metrics endpoint: the exported tables of a large
// machine (300 processes, 8 processors, 4 disks) rendered from their rows
// with the catalogue's metric columns, in both formats. Rows are made here
// from the catalogue's layouts, every field filled.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "framework/exposition.h"
#include "framework/metric_rows.h"
#include "tables/catalogue.h"
#include "tables/metric_columns.h"

namespace {

struct Exported {
  const char* table;
  int rows;
};

const Exported kExports[] = {{"NTPROCESS", 300}, {"WTPROCESS", 300}, {"PROCESSIO", 300}, {"NTPROCSSR", 9},
                             {"WTLOGCLDSK", 4},  {"NTMEMORY", 1},    {"WTSYSTEM", 1}};

cfw::RowLayout LayoutOf(const osm::TableDef& table) {
  std::vector<std::string> names;
  std::vector<AttributeInfo> attrs;
  for (std::uint32_t i = 0; i < table.attrCount; ++i) names.push_back(table.attrs[i].name);
  for (std::uint32_t i = 0; i < table.attrCount; ++i) {
    const osm::AttrDef& a = table.attrs[i];
    attrs.push_back({names[i].c_str(), a.offset, a.width, a.type});
  }
  return cfw::RowLayout(table.rowSize, attrs.data(), static_cast<int>(attrs.size()));
}

// Row r: texts "ATTRIBUTE r" (a path for BINPATH), integers r * 1000 + the
// attribute's index; every seventh value is -1.
std::string MakeRows(const osm::TableDef& table, int count) {
  std::string rows(static_cast<std::size_t>(count) * table.rowSize, ' ');
  for (int r = 0; r < count; ++r) {
    char* row = &rows[static_cast<std::size_t>(r) * table.rowSize];
    for (std::uint32_t i = 0; i < table.attrCount; ++i) {
      const osm::AttrDef& a = table.attrs[i];
      if (a.type == osm::kAttrInt32 || a.type == osm::kAttrInt64) {
        long long v = (r + i) % 7 == 0 ? -1 : r * 1000LL + i;
        if (a.type == osm::kAttrInt32) {
          std::int32_t v32 = static_cast<std::int32_t>(v);
          std::memcpy(row + a.offset, &v32, 4);
        } else {
          std::int64_t v64 = v;
          std::memcpy(row + a.offset, &v64, 8);
        }
      } else {
        std::string text = std::strcmp(a.name, "BINPATH") == 0
                               ? "C:\\Program Files\\Vendor " + std::to_string(r) + "\\app.exe"
                               : std::string(a.name) + " " + std::to_string(r);
        std::memcpy(row + a.offset, text.data(), text.size() < a.width ? text.size() : a.width);
      }
    }
  }
  return rows;
}

struct Table {
  cfw::TablePlan plan;
  std::string rows;
  int count;
};

std::string Render(const std::vector<Table>& tables, cfw::ExpoFormat format) {
  cfw::Exposition out(format);
  for (const Table& t : tables) t.plan.Render(t.rows.data(), t.count, "WS01", &out);
  return out.Finish();
}

}  // namespace

int main() {
  std::vector<Table> tables;
  int rowCount = 0;
  for (const Exported& e : kExports) {
    const osm::TableDef* def = osm::FindTable(e.table);
    tables.push_back({cfw::TablePlan(e.table, LayoutOf(*def), osm::MetricColumnsOf(*def)), MakeRows(*def, e.rows),
                      e.rows});
    rowCount += e.rows;
  }
  for (cfw::ExpoFormat format : {cfw::ExpoFormat::kText, cfw::ExpoFormat::kOpenMetrics}) {
    std::string text = Render(tables, format);
    long long series = 0;
    for (std::size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
      if (text[at] != '#') ++series;
    }
    const int rounds = 50;
    auto start = std::chrono::steady_clock::now();
    std::size_t bytes = 0;
    for (int i = 0; i < rounds; ++i) bytes += Render(tables, format).size();
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / rounds;
    std::printf("metrics scrape, %s: %zu tables, %d rows, %lld series, %zu bytes: %.2f ms, %.3f ms per 1,000 series\n",
                format == cfw::ExpoFormat::kText ? "text 0.0.4" : "OpenMetrics", tables.size(), rowCount, series,
                bytes / rounds, ms, ms * 1000.0 / static_cast<double>(series));
  }
  return 0;
}

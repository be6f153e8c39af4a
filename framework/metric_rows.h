// Rows of a table as metric families.
//
// Every integer attribute becomes the gauge family osm_<table>_<attribute> in
// lower case (with "_value" appended when the attribute's name is a word that
// the formats reserve as a suffix: count, sum, bucket, total, created, info).
// Labels, in this order: node (the node attribute, or the agent's host name
// when the row leaves it blank), then the table's identifying attributes in
// the order MetricColumns lists them. The other text attributes go into the
// family osm_<table>_info (value 1), after those labels in row order. A value
// of -1 (cannot be obtained) is left out. A row whose labels repeat those of
// an earlier row is left out, as a family may hold one sample per label set.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "framework/exposition.h"
#include "framework/jsonrows.h"

namespace cfw {

// What the metrics make of one table's attributes (upper-case names).
struct MetricColumns {
  std::string node;                         // gives the node label; "" none
  std::vector<std::string> labels;          // identifying attributes, in label order
  std::vector<std::string> omitted;         // left out of every family
  std::map<std::string, std::string> help;  // HELP per attribute; default "TABLE ATTRIBUTE"
};

class TablePlan {
 public:
  TablePlan(const std::string& table, const RowLayout& layout, const MetricColumns& columns);
  const std::string& Table() const { return table_; }
  // Writes the families of count rows of the layout's row size; hostName
  // stands in for a blank node attribute.
  void Render(const char* rows, int count, const std::string& hostName, Exposition* out) const;

 private:
  struct Column {
    std::size_t attr = 0;  // index in the layout
    std::string name;      // label or family name
    std::string help;
  };
  std::string RowLabels(const char* row, const std::string& hostName) const;
  long long Integer(const char* row, std::size_t attr) const;
  void AppendAttribute(std::string* labels, const Column& c, const char* row) const;

  std::string table_;
  std::string infoFamily_;
  std::string infoHelp_;
  RowLayout layout_;
  int node_ = -1;
  std::vector<Column> labels_;
  std::vector<Column> gauges_;
  std::vector<Column> info_;
};

}  // namespace cfw

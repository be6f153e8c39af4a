// Rows of a table as metric families.
#include "framework/metric_rows.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unordered_set>

#include "framework/attribute.h"
#include "framework/condition.h"

namespace cfw {
namespace {

bool Listed(const std::vector<std::string>& list, const std::string& name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

// Suffixes the formats give a meaning of their own.
bool ReservedWord(const std::string& lower) {
  static const char* const kWords[] = {"count", "sum", "bucket", "total", "created", "info"};
  for (const char* w : kWords) {
    if (lower == w) return true;
  }
  return false;
}

bool IsText(const AttributeInfo& a) { return a.type == DCF_ATTR_TEXT || a.type == DCF_ATTR_UTF8; }

bool IsInteger(const AttributeInfo& a) {
  return (a.type == DCF_ATTR_INT32 && a.width == 4) || (a.type == DCF_ATTR_INT64 && a.width == 8);
}

}  // namespace

TablePlan::TablePlan(const std::string& table, const RowLayout& layout, const MetricColumns& columns)
    : table_(table), layout_(layout) {
  const std::string prefix = "osm_" + MetricName(table) + "_";
  infoFamily_ = "osm_" + MetricName(table);
  infoHelp_ = "Text attributes of " + table + " (value 1)";
  std::vector<std::pair<std::size_t, Column>> labels;  // position in columns.labels, column
  for (std::size_t i = 0; i < layout.Count(); ++i) {
    const AttributeInfo& a = layout.Attr(i);
    const std::string& name = layout.Name(i);
    if (static_cast<unsigned>(a.offset) + a.width > layout.RowSize()) continue;
    if (!IsText(a) && !IsInteger(a)) continue;
    if (Listed(columns.omitted, name)) continue;
    if (name == columns.node && IsText(a)) {
      node_ = static_cast<int>(i);
      continue;
    }
    Column c;
    c.attr = i;
    c.name = MetricName(name);
    auto pos = std::find(columns.labels.begin(), columns.labels.end(), name);
    if (pos != columns.labels.end()) {
      labels.emplace_back(static_cast<std::size_t>(pos - columns.labels.begin()), c);
    } else if (IsInteger(a)) {
      if (ReservedWord(c.name)) c.name += "_value";
      c.name = prefix + c.name;
      auto help = columns.help.find(name);
      c.help = help != columns.help.end() ? help->second : table + " " + name;
      gauges_.push_back(c);
    } else {
      info_.push_back(c);
    }
  }
  std::sort(labels.begin(), labels.end(),
            [](const std::pair<std::size_t, Column>& x, const std::pair<std::size_t, Column>& y) {
              return x.first < y.first;
            });
  for (auto& l : labels) labels_.push_back(l.second);
}

long long TablePlan::Integer(const char* row, std::size_t attr) const {
  const AttributeInfo& a = layout_.Attr(attr);
  if (a.type == DCF_ATTR_INT32) {
    std::int32_t v;
    std::memcpy(&v, row + a.offset, sizeof v);
    return v;
  }
  std::int64_t v;
  std::memcpy(&v, row + a.offset, sizeof v);
  return static_cast<long long>(v);
}

void TablePlan::AppendAttribute(std::string* labels, const Column& c, const char* row) const {
  const AttributeInfo& a = layout_.Attr(c.attr);
  if (IsText(a)) {
    const char* text = row + a.offset;
    TextCode code = a.type == DCF_ATTR_UTF8 ? TextCode::kUtf8 : TextCode::kRowText;
    AppendLabel(labels, c.name.c_str(), text, TrimmedLength(text, a.width), code);
  } else {
    AppendLabel(labels, c.name.c_str(), std::to_string(Integer(row, c.attr)));
  }
}

std::string TablePlan::RowLabels(const char* row, const std::string& hostName) const {
  std::string labels;
  if (node_ >= 0) {
    const AttributeInfo& a = layout_.Attr(static_cast<std::size_t>(node_));
    const char* text = row + a.offset;
    std::size_t n = TrimmedLength(text, a.width);
    if (n > 0) AppendLabel(&labels, "node", text, n, TextCode::kRowText);
  }
  if (labels.empty()) AppendLabel(&labels, "node", hostName);
  for (const Column& c : labels_) AppendAttribute(&labels, c, row);
  return labels;
}

void TablePlan::Render(const char* rows, int count, const std::string& hostName, Exposition* out) const {
  const std::size_t size = layout_.RowSize();
  std::vector<std::string> labels;
  std::vector<const char*> kept;
  std::unordered_set<std::string> seen;
  for (int r = 0; r < count; ++r) {
    const char* row = rows + static_cast<std::size_t>(r) * size;
    std::string l = RowLabels(row, hostName);
    if (!seen.insert(l).second) continue;
    labels.push_back(std::move(l));
    kept.push_back(row);
  }
  std::size_t labelBytes = 0;
  for (const std::string& l : labels) labelBytes += l.size();
  out->Reserve((gauges_.size() + 1) * (labelBytes + kept.size() * 48));
  for (const Column& g : gauges_) {
    out->Family(g.name, FamilyType::kGauge, g.help);
    for (std::size_t r = 0; r < kept.size(); ++r) {
      long long v = Integer(kept[r], g.attr);
      if (v != -1) out->Sample(labels[r], v);
    }
  }
  if (info_.empty()) return;
  out->Family(infoFamily_, FamilyType::kInfo, infoHelp_);
  for (std::size_t r = 0; r < kept.size(); ++r) {
    std::string l = labels[r];
    for (const Column& c : info_) AppendAttribute(&l, c, kept[r]);
    out->Sample(l, 1LL);
  }
}

}  // namespace cfw

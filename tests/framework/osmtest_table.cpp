// The OSMTEST table built from osmtest.inc, and its agent.
#include "framework/osmtest_table.h"

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace osmtest {
namespace {

constexpr std::uint16_t kAttrINT32 = osm::kAttrInt32;
constexpr std::uint16_t kAttrTEXT = osm::kAttrText;
constexpr std::uint16_t kAttrUTF8 = osm::kAttrUtf8;
constexpr std::uint16_t kAttrINT64 = osm::kAttrInt64;

#define OSM_TABLE(UPPER, lower, rowSize, attrCount, fixedData, initialCapacity) \
  const osm::AttrDef kAttrs[] = {
#define OSM_SAMPLE(id, object, when)
#define OSM_ATTR(NAME, TYPE, width, offset, source) {#NAME, kAttr##TYPE, width, offset, source},
#define OSM_END_TABLE() };
#include "framework/osmtest.inc"
#undef OSM_TABLE
#undef OSM_SAMPLE
#undef OSM_ATTR
#undef OSM_END_TABLE

#define OSM_TABLE(UPPER, lower, rowSize, attrCount, fixedData, initialCapacity) \
  const osm::TableDef kTable = {#UPPER, "osm_" #lower "_agent", rowSize, attrCount, kAttrs,     \
                                fixedData, initialCapacity, {{0, nullptr, nullptr}, {0, nullptr, nullptr}}};
#define OSM_SAMPLE(id, object, when)
#define OSM_ATTR(NAME, TYPE, width, offset, source)
#define OSM_END_TABLE()
#include "framework/osmtest.inc"
#undef OSM_TABLE
#undef OSM_SAMPLE
#undef OSM_ATTR
#undef OSM_END_TABLE

void Put(Row& row, int offset, int width, const std::string& text) {
  std::memset(row.data() + offset, ' ', static_cast<std::size_t>(width));
  std::memcpy(row.data() + offset, text.data(), text.size() < static_cast<std::size_t>(width) ? text.size() : static_cast<std::size_t>(width));
}

}  // namespace

std::atomic<int> constructed{0};
std::atomic<int> destroyed{0};
std::atomic<int> samples{0};
std::atomic<int> insideSample{0};

Row MakeRow(const std::string& name, const std::string& uname, std::int32_t count, std::int64_t total) {
  Row row;
  row.fill('\0');
  Put(row, 0, 32, "node1");
  Put(row, 32, 16, "1250301101530250");
  Put(row, 48, 16, name);
  Put(row, 64, 24, uname);
  std::memcpy(row.data() + 88, &count, 4);
  std::memcpy(row.data() + 92, &total, 8);
  return row;
}

std::vector<char> Batch(const std::vector<Row>& rows) {
  std::vector<char> out;
  for (const Row& r : rows) out.insert(out.end(), r.begin(), r.end());
  return out;
}

Script& TheScript() {
  static Script script;
  return script;
}

void ResetScript() {
  Script& s = TheScript();
  std::lock_guard<std::mutex> guard(s.lock);
  s.rows.clear();
  s.sleepMs = 0;
  s.failRequest.clear();
  s.result = 0;
  s.inside = nullptr;
  s.destroyedNames.clear();
}

}  // namespace osmtest

OSM_DEFINE_TABLE_CLASSES(osmtest, osmtest::kTable)
OSM_AGENT(osmtest, osm_osmtest_agent)

osm_osmtest_agent::osm_osmtest_agent(RequestDetail& d, ContextInfo& c, TableManager* m)
    : osm_osmtest_base(d, c, m) {
  ++osmtest::constructed;
}

osm_osmtest_agent::~osm_osmtest_agent() {
  osmtest::Script& s = osmtest::TheScript();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    s.destroyedNames.push_back(detail.name);
  }
  ++osmtest::destroyed;
}

int osm_osmtest_agent::TakeSample() {
  ++osmtest::samples;
  ++osmtest::insideSample;
  std::vector<osmtest::Row> rows;
  int sleepMs, result;
  bool fail;
  std::function<void()> inside;
  {
    osmtest::Script& s = osmtest::TheScript();
    std::lock_guard<std::mutex> guard(s.lock);
    rows = s.rows;
    sleepMs = s.sleepMs;
    fail = !s.failRequest.empty() && s.failRequest == detail.name;
    result = s.result;
    inside = s.inside;
  }
  _data.count = 0;
  if (sleepMs) std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
  if (inside) inside();
  if (fail) {
    --osmtest::insideSample;
    throw std::runtime_error("collector failed");
  }
  std::vector<char> batch = osmtest::Batch(rows);
  AddData(batch.data(), static_cast<int>(rows.size()));
  --osmtest::insideSample;
  return result;
}

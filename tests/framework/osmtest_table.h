// The OSMTEST table (osmtest.inc) with the table class pattern, its agent and
// helpers shared by the framework and table tests.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tables/table_classes.h"

#define OSM_TABLE(UPPER, lower, rowSize, attrCount, fixedData, initialCapacity) \
  OSM_DECLARE_TABLE_CLASSES(lower)
#define OSM_SAMPLE(id, object, when)
#define OSM_ATTR(NAME, TYPE, width, offset, source)
#define OSM_END_TABLE()
#include "framework/osmtest.inc"
#undef OSM_TABLE
#undef OSM_SAMPLE
#undef OSM_ATTR
#undef OSM_END_TABLE

namespace osmtest {

const int kRowSize = 108;
typedef std::array<char, kRowSize> Row;

// One row: origin "node1", time stamp, NAME, UNAME, COUNT and TOTAL.
Row MakeRow(const std::string& name, const std::string& uname, std::int32_t count, std::int64_t total);
// The rows as one contiguous batch.
std::vector<char> Batch(const std::vector<Row>& rows);

// What the next samples of every OSMTEST agent do.
struct Script {
  std::mutex lock;
  std::vector<Row> rows;  // handed to AddData by each TakeSample
  int sleepMs = 0;        // time spent inside TakeSample
  std::string failRequest;  // TakeSample of this request throws
  int result = 0;         // TakeSample's return value
  std::function<void()> inside;  // called inside each TakeSample, after the sleep
  std::vector<std::string> destroyedNames;  // requests, in order of destruction
};
Script& TheScript();
void ResetScript();

extern std::atomic<int> constructed;   // agent objects built
extern std::atomic<int> destroyed;     // agent objects destroyed
extern std::atomic<int> samples;       // TakeSample calls started
extern std::atomic<int> insideSample;  // TakeSample calls running now

}  // namespace osmtest

class osm_osmtest_agent : public osm_osmtest_base {
 public:
  osm_osmtest_agent(RequestDetail& d, ContextInfo& c, TableManager* m);
  ~osm_osmtest_agent() override;
  int TakeSample() override;
};

// The table class pattern: the generated base and manager classes, the
// entry points, with the OSMTEST table and with catalogue tables.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "framework/cfw_runtime.h"
#include "framework/condition.h"
#include "framework/osmtest_table.h"
#include "tables/tables.h"

namespace {

using osmtest::MakeRow;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The condition of "where TEXT" on OSMTEST.
cfw::ConditionRows Cond(const std::string& text) {
  static std::vector<cfw::AttributeView> attrs;
  if (attrs.empty()) {
    const osm::TableDef& def = osm_osmtest_def();
    for (std::uint32_t i = 0; i < def.attrCount; ++i)
      attrs.push_back({def.attrs[i].name, def.attrs[i].type, def.attrs[i].width});
  }
  cfw::ParsedRequest req;
  std::string error;
  EXPECT_EQ(cfw::LineResult::kRequest, cfw::ParseRequestLine("report P OSMTEST where " + text, &req, &error));
  EXPECT_TRUE(cfw::CheckRequest(&req, [](const std::string&) { return &attrs; }, &error)) << error;
  return req.condition;
}

// An OSMTEST request that counts its condition tests and can fail an insert.
class Probe : public osm_osmtest_base {
 public:
  Probe(RequestDetail d, ContextInfo c, TableManager* m = nullptr) : osm_osmtest_base(d, c, m) {}
  int TakeSample() override { return 0; }
  int CheckForException(const void* row) override {
    ++checks;
    return osm_osmtest_base::CheckForException(row);
  }
  int InsertRow(const void* row) override {
    if (++inserts == failAt) return DCF_E_NOMEM;
    return osm_osmtest_base::InsertRow(row);
  }
  int checks = 0;
  int inserts = 0;
  int failAt = 0;
};

RequestDetail Detail(const char* name, int sampleType, int interval = 5) {
  return cfw::MakeDetail("OSM", "OSMTEST", name, interval, sampleType);
}

std::string RowAt(dcfa& r, int i) { return std::string(r._data.rows + i * r._data.rowSize, r._data.rowSize); }
std::string Bytes(const osmtest::Row& row) { return std::string(row.data(), row.size()); }

TEST(AddData, SkipsRowsFailingTheConditionAndStopsAtAFailedInsert) {
  cfw::ConditionRows cond = Cond("COUNT GT 5");
  ContextInfo c = cfw::NewContext(&cond);
  Probe p(Detail("P", 1), c);
  std::vector<osmtest::Row> rows = {MakeRow("a", "", 1, 0), MakeRow("b", "", 7, 0),
                                    MakeRow("c", "", 9, 0), MakeRow("d", "", 2, 0)};
  std::vector<char> batch = osmtest::Batch(rows);

  EXPECT_EQ(0, p.AddData(batch.data(), 0));
  EXPECT_EQ(0, p.AddData(batch.data(), -3));
  EXPECT_EQ(0, p.checks);

  EXPECT_EQ(0, p.AddData(batch.data(), 4));
  EXPECT_EQ(4, p.checks);
  ASSERT_EQ(2, p._data.count);
  EXPECT_EQ(Bytes(rows[1]), RowAt(p, 0));
  EXPECT_EQ(Bytes(rows[2]), RowAt(p, 1));

  ContextInfo all = cfw::NewContext(nullptr);
  Probe q(Detail("Q", 3), all);
  q.failAt = 2;
  EXPECT_EQ(DCF_E_NOMEM, q.AddData(batch.data(), 4));
  EXPECT_EQ(2, q.checks) << "rows after the failed insert are not tested";
  EXPECT_EQ(2, q.inserts);
  ASSERT_EQ(1, q._data.count);
  EXPECT_EQ(Bytes(rows[0]), RowAt(q, 0));
}

TEST(InsertRow, GrowsByTheAllocationStepAndKeepsEveryRow) {
  std::string out = ::testing::TempDir() + "insertrow_growth.jsonl";
  std::remove(out.c_str());
  ASSERT_TRUE(cfw::OpenOutput(out.c_str()));
  ContextInfo c = cfw::NewContext(nullptr);
  Probe p(Detail("G", 3, 0), c);
  EXPECT_EQ(108, p._data.rowSize);
  EXPECT_EQ(20, p._data.allocSize);
  EXPECT_EQ(0, p._data.allocated);
  std::vector<osmtest::Row> rows;
  for (int i = 0; i < 45; ++i) {
    rows.push_back(MakeRow("r" + std::to_string(i), "", i, 1000000000000LL + i));
    ASSERT_EQ(0, p.InsertRow(rows.back().data()));
    EXPECT_EQ(i < 20 ? 20 : i < 40 ? 40 : 60, p._data.allocated) << "after row " << i;
  }
  ASSERT_EQ(45, p._data.count);
  for (int i = 0; i < 45; ++i) EXPECT_EQ(Bytes(rows[i]), RowAt(p, i)) << "row " << i;

  EXPECT_EQ(0, p.Dispatch());
  EXPECT_EQ(0, p._data.count);
  EXPECT_EQ(60, p._data.allocated);
  cfw::CloseOutput();
  std::string text = ReadAll(out);
  std::size_t lines = 0;
  for (char ch : text) lines += ch == '\n';
  EXPECT_EQ(45u, lines);
  EXPECT_NE(std::string::npos, text.find("\"NAME\":\"r44\",\"UNAME\":\"\",\"COUNT\":44,\"TOTAL\":1000000000044}"));
  std::remove(out.c_str());
}

TEST(CheckAttribute, MatchesUpperCaseNamesOnlyWithTheirTypes) {
  ContextInfo c = cfw::NewContext(nullptr);
  Probe p(Detail("P", 1), c);
  osmtest::Row row = MakeRow("Disk C", "\xC3\xA9t\xC3\xA9", 7, 1LL << 40);
  const struct {
    const char* attr;
    int op;
    const char* value;
    int result;
  } cases[] = {{"NAME", cfw::kOpEQ, "Disk C", 1},       {"name", cfw::kOpEQ, "Disk C", 0},
               {"NAM", cfw::kOpEQ, "Disk C", 0},        {"NOSUCH", cfw::kOpNE, "x", 0},
               {nullptr, cfw::kOpNE, "x", 0},           {"UNAME", cfw::kOpEQ, "\xC3\xA9t\xC3\xA9", 1},
               {"COUNT", cfw::kOpGT, "6", 1},           {"COUNT", cfw::kOpGT, "7", 0},
               {"TOTAL", cfw::kOpGT, "2147483647", 1}};
  for (const auto& c : cases)
    EXPECT_EQ(c.result, p.CheckAttribute(row.data(), c.attr, c.op, c.value)) << (c.attr ? c.attr : "null");
}

TEST(GetAttributeInfo, DescribesEachAttributeInLowerCaseAndRejectsOutOfRange) {
  ContextInfo c = cfw::NewContext(nullptr);
  Probe p(Detail("P", 1), c);
  ASSERT_EQ(6, p.GetAttributeCount());
  AttributeInfo info;
  ASSERT_EQ(0, p.GetAttributeInfo(&info, 5));
  EXPECT_STREQ("total", info.name);
  EXPECT_EQ(92, info.offset);
  EXPECT_EQ(8, info.width);
  EXPECT_EQ(DCF_ATTR_INT64, info.type);

  AttributeInfo untouched = {"sentinel", 1, 2, 3};
  EXPECT_EQ(0x21060007, p.GetAttributeInfo(&untouched, 6));
  EXPECT_EQ(0x21060007, p.GetAttributeInfo(&untouched, -1));
  EXPECT_STREQ("sentinel", untouched.name);
}

TEST(FilterInfo, WalksTheConditionTermsWithRowSeparators) {
  cfw::ConditionRows cond = Cond("NAME EQ \"C:\" AND COUNT GT 5 OR TOTAL LE 9000000000");
  ContextInfo c = cfw::NewContext(&cond);
  Probe p(Detail("F1", 1), c);
  const FilterInfo* f = p.GetFilterInfo();
  ASSERT_NE(nullptr, f);
  EXPECT_STREQ("OSMTEST", f->table);
  EXPECT_STREQ("NAME", f->colName);
  EXPECT_EQ(cfw::kOpEQ, f->func);
  EXPECT_EQ(2, f->valLen);
  EXPECT_STREQ("C:", f->value);

  f = p.GetFilterInfo();
  ASSERT_NE(nullptr, f);
  EXPECT_STREQ("COUNT", f->colName);
  EXPECT_EQ(cfw::kOpGT, f->func);
  ASSERT_EQ(4, f->valLen);
  std::int32_t count;
  std::memcpy(&count, f->value, 4);  // integers come binary
  EXPECT_EQ(5, count);
  EXPECT_STREQ("5", f->text);

  f = p.GetFilterInfo();
  ASSERT_NE(nullptr, f);
  EXPECT_STREQ("PARMA", f->colName);
  EXPECT_EQ(0, f->func);
  EXPECT_EQ(1, f->row);

  f = p.GetFilterInfo();
  ASSERT_NE(nullptr, f);
  EXPECT_STREQ("TOTAL", f->colName);
  ASSERT_EQ(8, f->valLen);
  std::int64_t total;
  std::memcpy(&total, f->value, 8);
  EXPECT_EQ(9000000000LL, total);
  EXPECT_EQ(nullptr, p.GetFilterInfo());

  p.ResetFilterIndex();
  f = p.GetFilterInfo();
  EXPECT_TRUE(f != nullptr && std::strcmp(f->colName, "NAME") == 0);
}

// An agent with nothing to collect, for catalogue tables.
template <class Base>
class NullAgent : public Base {
 public:
  NullAgent(RequestDetail& d, ContextInfo& c, TableManager* m) : Base(d, c, m) {}
  int TakeSample() override { return 0; }
};

// The messages of the trace file, without time, thread and unit.
std::vector<std::string> TraceMessages(const std::string& path) {
  std::vector<std::string> out;
  std::istringstream in(ReadAll(path));
  std::string line;
  std::regex head(R"(^\S+ \S+ \[[0-9a-f]+\] \S+?\(\d+\) )");
  while (std::getline(in, line)) out.push_back(std::regex_replace(line, head, ""));
  return out;
}

class PrintSelf : public ::testing::Test {
 protected:
  void SetUp() override {
    trace_ = ::testing::TempDir() + "printself.trc";
    std::remove(trace_.c_str());
    RAS1_SetDestination(trace_.c_str());
  }
  void TearDown() override {
    RAS1_SetDestination(nullptr);
    RAS1_Configure(nullptr);
    std::remove(trace_.c_str());
  }
  std::vector<std::string> Messages() {
    RAS1_Close();
    return TraceMessages(trace_);
  }
  std::string trace_;
};

TEST_F(PrintSelf, DumpsRequestThresholdsAndRowsAtFlowLevelOnly) {
  cfw::ConditionRows cond = Cond("COUNT GT 5 OR NAME EQ \"x\"");
  ContextInfo c = cfw::NewContext(&cond);
  Probe p(Detail("P", 1, 5), c);
  osmtest::Row r1 = MakeRow("b", "\xC3\xA9", 7, 9000000000LL);
  osmtest::Row r2 = MakeRow("c", "", -1, -5);
  p.InsertRow(r1.data());
  p.InsertRow(r2.data());

  RAS1_Configure("ERROR");
  p.PrintSelf();
  EXPECT_TRUE(Messages().empty());

  RAS1_Configure("ERROR,osm_osmtest_base::PrintSelf=FLOW,dcfa::DumpThresholds=FLOW");
  p.PrintSelf();
  std::vector<std::string> m = Messages();
  ASSERT_EQ(24u, m.size());  // the second row repeats the shape of the first
  char head[96];
  std::snprintf(head, sizeof head, "osm_osmtest_base @%p <%u,%u>", static_cast<void*>(&p), c.requestId,
                c.handle);
  std::vector<std::string> expected = {
      head,
      "\t::appl=OSM,table=OSMTEST,interval=5000,samptype=1",
      "\tthreshold: COUNT GT 5",
      "\t  OR",
      "\tthreshold: NAME EQ \"x\"",
      "\t_data {",
      "\t\tcount=2, allocated=20, allocSize=20",
      "\t\t{",
      "\t\toriginnode=\"node1" + std::string(27, ' ') + "\"",
      "\t\ttimestamp=\"1250301101530250\"",
      "\t\tname=\"b" + std::string(15, ' ') + "\"",
      "\t\tuname=\"\xC3\xA9" + std::string(22, ' ') + "\"",
      "\t\tcount=7",
      "\t\ttotal=9000000000",
      "\t\t}",
  };
  EXPECT_EQ(expected, std::vector<std::string>(m.begin(), m.begin() + 15));
  EXPECT_EQ("\t\tcount=-1", m[20]);
  EXPECT_EQ("}", m[23]);
}

// Which requests pushed rows reach is a framework test; here, the lifetime of
// a request that a delivery has pinned.
TEST(DeliverRows, APinnedRequestOutlivesItsClose) {
  ASSERT_EQ(0, osm_osmtest_init());
  TableManager* manager = cfw::FindManager("OSMTEST");
  ASSERT_NE(nullptr, manager);
  ContextInfo c = cfw::NewContext(nullptr);
  Probe* e = new Probe(Detail("E", 4), c, manager);
  cfw::OpenRequest(e);
  unsigned handle = e->handle;
  ASSERT_EQ(e, dcfa::UseHandle(handle));
  std::atomic<bool> closed{false};
  std::thread closer([e, &closed] {
    cfw::CloseRequest(e);
    closed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(nullptr, dcfa::UseHandle(handle)) << "a closing request is out of reach";
  EXPECT_FALSE(closed);
  e->Drop();
  closer.join();
  EXPECT_TRUE(closed);
  cfw::ForgetRegistrations();
}

TEST(Registration, TablesWithoutAgentAreNotOffered) {
  ASSERT_EQ(osm::TableCount(), osm::TableEntryPointCount());
  const osm::TableEntryPoints* e = osm::AllTableEntryPoints();
  for (std::size_t i = 0; i < osm::TableEntryPointCount(); ++i) {
    EXPECT_STREQ(osm::AllTables()[i]->name, e[i].name);
    if (std::strcmp(e[i].name, "NTPAGEFILE") == 0) continue;  // offered by the next test
    EXPECT_FALSE(e[i].offered()) << e[i].name;
    EXPECT_EQ(DCF_E_NOTOFFERED, e[i].init()) << e[i].name;
    EXPECT_EQ(nullptr, cfw::FindManager(e[i].name)) << e[i].name;
    EXPECT_EQ(0, e[i].eventArrived(nullptr, 0)) << e[i].name;
  }
  EXPECT_EQ(DCF_E_BADARG, osm_ntpagefile_offer(nullptr));
}

TEST(Registration, AnOfferedAgentMakesTheTableAvailable) {
  const osm::TableDef* page = osm::FindTable("NTPAGEFILE");
  ASSERT_NE(nullptr, page);
  ASSERT_EQ(0, osm_ntpagefile_offer(&osm::NewAgent<NullAgent<osm_ntpagefile_base>>));
  EXPECT_TRUE(osm_ntpagefile_offered());
  ASSERT_EQ(0, osm_ntpagefile_init());
  TableManager* m = cfw::FindManager("NTPAGEFILE");
  ASSERT_NE(nullptr, m);
  // Its attributes and requests serve every table in the collector framework tests.
  EXPECT_STREQ("OSM", m->ApplName());
  EXPECT_EQ(page->rowSize, m->RowSize());
  EXPECT_EQ(0, osm_ntpagefile_init());  // the same manager again
  EXPECT_EQ(1u, cfw::RegisteredManagers().size());
  cfw::ForgetRegistrations();
}

}  // namespace

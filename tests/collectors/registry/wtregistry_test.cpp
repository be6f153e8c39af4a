// WTREGISTRY on the platform's registry: situations and reports opened through
// the framework read values of every type written below a scratch key.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <string>
#include <vector>

#include "collectors/perf/perf_values.h"
#include "framework/cfw_runtime.h"
#include "support/fields.h"
#include "tables/tables.h"

namespace {

const char kScratch[] = "Software\\OsmRegistryValueTest";

// One row of a request's last sample.
struct Row {
  const char* bytes;
  int Int(const char* name) const { return osm::perf::GetInt32(bytes, osm::perf::FieldOf("WTREGISTRY", name)); }
  std::string Text(const char* name) const {
    osm::perf::RowField f = osm::perf::FieldOf("WTREGISTRY", name);
    std::string s(bytes + f.offset, f.width);
    return s.substr(0, s.find_last_not_of(' ') + 1);
  }
};

class WtRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    SetOriginNodeName("TESTNODE", 9);
    osm_wtregistry_init();
    key_ = std::string(kScratch) + "\\" + std::to_string(GetCurrentProcessId());
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &scratch_, nullptr));
  }
  void TearDown() override {
    for (dcfa* r : open_) cfw::CloseRequest(r);
    RegCloseKey(scratch_);
    RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
  }
  void Put(HKEY key, const wchar_t* name, DWORD type, const void* data, std::size_t size) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), DWORD(size)));
  }
  // A request whose condition is the text of a requests-file line after "where".
  dcfa* Open(int sampleType, const std::string& where) {
    cfw::ParsedRequest parsed;
    std::string line = "report R WTREGISTRY" + (where.empty() ? "" : " where " + where), error;
    std::vector<cfw::AttributeView> attributes;
    const osm::TableDef& table = osm_wtregistry_def();
    for (std::uint32_t i = 0; i < table.attrCount; ++i)
      attributes.push_back({table.attrs[i].name, table.attrs[i].type, table.attrs[i].width});
    EXPECT_EQ(cfw::LineResult::kRequest, cfw::ParseRequestLine(line, &parsed, &error)) << error;
    EXPECT_TRUE(cfw::CheckRequest(&parsed, [&](const std::string&) { return &attributes; }, &error)) << error;
    conditions_.push_back(parsed.condition);
    RequestDetail d = cfw::MakeDetail("OSM", "WTREGISTRY", "R", 60, sampleType);
    ContextInfo c = cfw::NewContext(&conditions_.back());
    open_.push_back(cfw::FindManager("WTREGISTRY")->CreateRequest(d, c));
    cfw::OpenRequest(open_.back());
    return open_.back();
  }
  // A situation on a value of the scratch key (or on a path of its own).
  dcfa* Situation(const std::string& value, int root = 1, const std::string& path = "", const char* also = "") {
    return Open(DCF_SAMPLE_SITUATION, "ROOTKEY EQ " + std::to_string(root) + " AND PATHNAME EQ \"" +
                                          (path.empty() ? key_ + "\\" + value : path) + "\"" + also);
  }
  static std::vector<Row> Sample(dcfa* request) {
    EXPECT_EQ(0, request->TakeSample());
    std::vector<Row> rows;
    for (int i = 0; i < request->_data.count; ++i) rows.push_back({request->_data.rows + i * request->_data.rowSize});
    return rows;
  }

  std::string key_;
  HKEY scratch_ = nullptr;
  std::list<cfw::ConditionRows> conditions_;
  std::vector<dcfa*> open_;
};

TEST_F(WtRegistry, ASituationReadsItsValueByType) {
  const BYTE binary[] = {0x0A, 0xFF}, oneByte = 42;
  const ULONGLONG big = 5000000000ULL;
  const DWORD bigEndian = 0x02010000;
  // The platform counts a terminator the writer left out when one follows
  // the data; a further character keeps this value unterminated.
  const std::wstring unterminated(1130, L'x');
  Put(scratch_, L"bin", REG_BINARY, binary, 2);
  Put(scratch_, L"multi", REG_MULTI_SZ, L"a\0b\0", 10);
  Put(scratch_, L"big", REG_QWORD, &big, 8);
  Put(scratch_, L"unterminated", REG_SZ, unterminated.data(), 1129 * 2);
  Put(scratch_, L"short", REG_DWORD, &oneByte, 1);
  Put(scratch_, L"M\u00fcller", REG_SZ, L"M\u00fcller", 14);
  Put(scratch_, L"be", REG_DWORD_BIG_ENDIAN, &bigEndian, 4);
  struct Case {
    const char* value;
    int type;
    std::string text;
    int number;
  } cases[] = {{"bin", 3, "0AFF", 0},       {"multi", 7, "a b", 0},   {"big", 11, "", 2147483647},
               {"unterminated", 1, std::string(1128, 'x'), 0},      {"short", 4, "", 0},
               {"M\xC3\xBCller", 1, "M\xC3\xBCller", 0},            {"be", 5, "", 258}};
  for (const Case& c : cases) {
    std::vector<Row> rows = Sample(Situation(c.value));
    ASSERT_EQ(1u, rows.size()) << c.value;
    EXPECT_EQ(c.type, rows[0].Int("TYPE")) << c.value;
    EXPECT_EQ(c.text, rows[0].Text("STRVALUE")) << c.value;
    EXPECT_EQ(c.number, rows[0].Int("NUMVALUE")) << c.value;
    EXPECT_EQ("TESTNODE" + key_ + "\\" + c.value + "11",
              rows[0].Text("ORIGINNODE") + rows[0].Text("PATHNAME") + std::to_string(rows[0].Int("ROOTKEY")) +
                  std::to_string(rows[0].Int("ROWNO")));
  }
}

TEST_F(WtRegistry, ReportsListTheReadableValuesOfTheOpenSituations) {
  dcfa* report = Open(DCF_SAMPLE_REPORT, "");
  EXPECT_TRUE(Sample(report).empty()) << "no monitor";
  Put(scratch_, L"first", REG_SZ, L"one", 8);
  Put(scratch_, L"second", REG_SZ, L"off", 8);
  HKEY config = nullptr;  // another root that the platform opens
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_CONFIG, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &config, nullptr));
  Put(config, L"mode", REG_SZ, L"quiet", 12);
  RegCloseKey(config);
  Put(HKEY_CURRENT_USER, L"OsmRegistryValueTestRoot", REG_SZ, L"top", 8);

  dcfa* first = Situation("first");
  dcfa* on = Situation("second", 1, "", " AND STRVALUE EQ \"on\"");
  for (dcfa* none : {Situation("missing"), Situation("", 1, key_ + "\\nokey\\first"), Situation("first", 7),
                     Situation("first", 6)})
    EXPECT_TRUE(Sample(none).empty()) << "missing value or key, unknown root, a root the platform does not open";
  Situation("", 5, std::string(kScratch) + "\\mode");
  // A value of the root, named without a key: its row meets the situation's term.
  EXPECT_EQ(1u, Sample(Situation("", 1, "OsmRegistryValueTestRoot")).size());
  EXPECT_TRUE(Sample(on).empty());
  Put(scratch_, L"second", REG_SZ, L"on", 6);
  EXPECT_EQ(1u, Sample(on).size()) << "the situation fires once its value is on";

  std::vector<Row> rows = Sample(report);
  const char* texts[] = {"one", "on", "quiet", "top"};
  ASSERT_EQ(4u, rows.size());
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(texts[i] + std::to_string(i + 1), rows[i].Text("STRVALUE") + std::to_string(rows[i].Int("ROWNO")));
    EXPECT_LT(i ? rows[i - 1].Int("SAMPLENO") : 0, rows[i].Int("SAMPLENO"));
  }
  cfw::CloseRequest(first);
  open_.erase(std::find(open_.begin(), open_.end(), first));
  EXPECT_EQ("on", Sample(report).at(0).Text("STRVALUE")) << "the closed situation's monitor left the list";
  RegDeleteTreeA(HKEY_CURRENT_CONFIG, kScratch);
  RegDeleteValueA(HKEY_CURRENT_USER, "OsmRegistryValueTestRoot");
}

}  // namespace

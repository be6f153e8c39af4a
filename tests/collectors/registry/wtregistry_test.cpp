// WTREGISTRY on the platform's registry: situations and reports opened through
// the framework read values of every type that this test writes below a
// scratch key of its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <list>
#include <string>
#include <vector>

#include "collectors/perf/perf_values.h"
#include "framework/cfw_runtime.h"
#include "framework/condition.h"
#include "support/fields.h"
#include "tables/tables.h"

namespace {

using osm::perf::FieldOf;
using osm::perf::GetInt32;

const char kScratch[] = "Software\\OsmRegistryValueTest";

cfw::ConditionTerm Term(const char* attribute, const std::string& value) {
  osm::perf::RowField f = FieldOf("WTREGISTRY", attribute);
  cfw::ConditionTerm t;
  t.attribute = attribute;
  t.op = cfw::kOpEQ;
  t.type = f.type;
  t.width = f.width;
  t.quoted = f.type == DCF_ATTR_TEXT || f.type == DCF_ATTR_UTF8;
  t.value = value;
  t.number = std::atoll(value.c_str());
  return t;
}

// One row of a request's last sample.
struct Row {
  const char* bytes;
  std::int32_t Int(const char* name) const { return GetInt32(bytes, FieldOf("WTREGISTRY", name)); }
  std::string Text(const char* name) const {
    osm::perf::RowField f = FieldOf("WTREGISTRY", name);
    std::string s(bytes + f.offset, f.width);
    return s.substr(0, s.find_last_not_of(' ') + 1);
  }
};

class WtRegistry : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string origin = "TESTNODE";
    SetOriginNodeName(origin.data(), origin.size() + 1);
    osm_wtregistry_init();
  }
  void SetUp() override {
    key_ = std::string(kScratch) + "\\" + std::to_string(GetCurrentProcessId());
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &scratch_, nullptr));
  }
  void TearDown() override {
    for (dcfa* r : open_) cfw::CloseRequest(r);
    RegCloseKey(scratch_);
    RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
  }
  void Put(const char* name, DWORD type, const void* data, std::size_t size) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(scratch_, name, 0, type, static_cast<const BYTE*>(data),
                                            static_cast<DWORD>(size)));
  }
  dcfa* Open(int sampleType, const std::string& name, const cfw::ConditionRows& rows) {
    conditions_.push_back(rows);
    RequestDetail d = cfw::MakeDetail("OSM", "WTREGISTRY", name.c_str(), 60, sampleType);
    ContextInfo c = cfw::NewContext(&conditions_.back());
    dcfa* r = cfw::FindManager("WTREGISTRY")->CreateRequest(d, c);
    cfw::OpenRequest(r);
    open_.push_back(r);
    return r;
  }
  // A situation on a value of the scratch key (or another path) under a root.
  dcfa* Situation(const std::string& value, int root = 1, const std::string& path = "") {
    return Open(DCF_SAMPLE_SITUATION, "S" + std::to_string(open_.size()),
                {{Term("ROOTKEY", std::to_string(root)), Term("PATHNAME", path.empty() ? key_ + "\\" + value : path)}});
  }
  // The rows of one sample of the request.
  static std::vector<Row> Sample(dcfa* request) {
    EXPECT_EQ(0, request->TakeSample());
    std::vector<Row> rows;
    for (int i = 0; i < request->_data.count; ++i) rows.push_back(Row{request->_data.rows + i * request->_data.rowSize});
    return rows;
  }
  void Close(dcfa* request) {
    open_.erase(std::find(open_.begin(), open_.end(), request));
    cfw::CloseRequest(request);
  }

  std::string key_;
  HKEY scratch_ = nullptr;
  std::list<cfw::ConditionRows> conditions_;
  std::vector<dcfa*> open_;
};

TEST_F(WtRegistry, ASituationReadsItsValueByType) {
  const BYTE binary[] = {0x0A, 0xFF};
  const wchar_t multi[] = L"a\0b\0";
  const ULONGLONG big = 5000000000ULL;
  // The platform adds a terminator that the writer did not count when one
  // follows the data; a further character keeps the value unterminated.
  const std::wstring unterminated(1130, L'x');
  const BYTE oneByte = 42;
  const DWORD dword = 0xFFFFFFFE, bigEndian = 0x02010000;
  Put("bin", REG_BINARY, binary, sizeof binary);
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(scratch_, L"multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi),
                                          sizeof multi));
  Put("big", REG_QWORD, &big, sizeof big);
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(scratch_, L"unterminated", 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(unterminated.data()), 1129 * sizeof(wchar_t)));
  Put("short", REG_DWORD, &oneByte, 1);
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(scratch_, L"M\u00fcller", 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(L"M\u00fcller"), 7 * sizeof(wchar_t)));
  Put("dword", REG_DWORD, &dword, 4);
  Put("be", REG_DWORD_BIG_ENDIAN, &bigEndian, 4);
  Put("expand", REG_EXPAND_SZ, "%TEMP%", 7);
  struct Case {
    const char* value;
    int type;
    std::string text;
    int number;
  } cases[] = {{"bin", 3, "0AFF", 0},
               {"multi", 7, "a b", 0},
               {"big", 11, "", 2147483647},
               {"unterminated", 1, std::string(1128, 'x'), 0},
               {"short", 4, "", 0},  // too short for a number: type only
               {"M\xC3\xBCller", 1, "M\xC3\xBCller", 0},
               {"dword", 4, "", -2},
               {"be", 5, "", 258},
               {"expand", 2, "%TEMP%", 0}};
  for (const Case& c : cases) {
    std::vector<Row> rows = Sample(Situation(c.value));
    ASSERT_EQ(1u, rows.size()) << c.value;
    EXPECT_EQ(c.type, rows[0].Int("TYPE")) << c.value;
    EXPECT_EQ(c.text, rows[0].Text("STRVALUE")) << c.value;
    EXPECT_EQ(c.number, rows[0].Int("NUMVALUE")) << c.value;
    EXPECT_EQ(key_ + "\\" + c.value, rows[0].Text("PATHNAME"));
    EXPECT_EQ(1, rows[0].Int("ROOTKEY"));
    EXPECT_EQ(1, rows[0].Int("ROWNO"));
    EXPECT_EQ("TESTNODE", rows[0].Text("ORIGINNODE"));
  }
}

TEST_F(WtRegistry, WhatCannotBeReadGivesNoRow) {
  const DWORD one = 1;
  Put("present", REG_DWORD, &one, 4);
  EXPECT_TRUE(Sample(Situation("missing")).empty());
  EXPECT_TRUE(Sample(Situation("", 1, key_ + "\\nokey\\present")).empty());
  EXPECT_TRUE(Sample(Situation("present", 7)).empty()) << "unknown root number";
  EXPECT_TRUE(Sample(Situation("present", 6)).empty()) << "a root the platform does not open";
  EXPECT_EQ(1u, Sample(Situation("present")).size());
}

TEST_F(WtRegistry, ReportsListTheValuesOfTheOpenSituations) {
  dcfa* report = Open(DCF_SAMPLE_REPORT, "R", {});
  EXPECT_TRUE(Sample(report).empty()) << "no monitor";
  Put("first", REG_SZ, "one", 4);
  Put("second", REG_SZ, "two", 4);
  dcfa* first = Situation("first");
  Situation("second");
  Situation("missing");
  // A situation ships only what meets its condition; the report lists all.
  dcfa* on = Open(DCF_SAMPLE_SITUATION, "on", {{Term("ROOTKEY", "1"), Term("PATHNAME", key_ + "\\second"),
                                                 Term("STRVALUE", "on")}});
  EXPECT_TRUE(Sample(on).empty());
  Put("second", REG_SZ, "on", 3);
  ASSERT_EQ(1u, Sample(on).size());

  std::vector<Row> rows = Sample(report);
  ASSERT_EQ(3u, rows.size());
  const char* texts[] = {"one", "on", "on"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(texts[i], rows[i].Text("STRVALUE"));
    EXPECT_EQ(i + 1, rows[i].Int("ROWNO"));
    if (i > 0) {
      EXPECT_EQ(rows[i - 1].Int("SAMPLENO") + 1, rows[i].Int("SAMPLENO"));
    }
  }
  Close(first);
  rows = Sample(report);
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ(key_ + "\\second", rows[0].Text("PATHNAME"));
}

TEST_F(WtRegistry, OtherRootsAreOpenedWhereThePlatformCan) {
  HKEY config = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_CONFIG, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &config, nullptr));
  RegSetValueExA(config, "mode", 0, REG_SZ, reinterpret_cast<const BYTE*>("quiet"), 6);
  RegCloseKey(config);
  std::vector<Row> rows = Sample(Situation("", 5, std::string(kScratch) + "\\mode"));
  RegDeleteTreeA(HKEY_CURRENT_CONFIG, kScratch);
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ("quiet", rows[0].Text("STRVALUE"));
  EXPECT_EQ(5, rows[0].Int("ROOTKEY"));

  // A value of the root itself, named without a key: its row meets the
  // situation's own PATHNAME term.
  const char kRootValue[] = "OsmRegistryValueTestRoot";
  RegSetValueExA(HKEY_CURRENT_USER, kRootValue, 0, REG_SZ, reinterpret_cast<const BYTE*>("top"), 4);
  rows = Sample(Situation("", 1, kRootValue));
  RegDeleteValueA(HKEY_CURRENT_USER, kRootValue);
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ("top", rows[0].Text("STRVALUE"));
  EXPECT_EQ(kRootValue, rows[0].Text("PATHNAME"));
}

}  // namespace

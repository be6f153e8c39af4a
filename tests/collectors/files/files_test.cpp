// The file tables on the platform, with real files in a scratch directory:
// change monitors pushing rows to their situations, their removal, and the
// trend of a growing file. Every wait is for a condition.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "collectors/files/change_monitor.h"
#include "collectors/perf/perf_values.h"
#include "framework/cfw_runtime.h"
#include "framework/condition.h"
#include "tables/tables.h"

namespace {

using osm::perf::FieldOf;
using osm::perf::GetInt32;

std::string Utf8(const std::wstring& w) { return std::filesystem::path(w).u8string(); }

bool WaitFor(const std::function<bool()>& done) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

void Put(const std::wstring& path, std::size_t bytes, bool append = false) {
  HANDLE h = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string data(bytes, 'x');
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr)) << Utf8(path);
  CloseHandle(h);
}

// One shipped row; Get gives a value as written (texts unquoted, unescaped).
struct Row {
  std::string line;
  std::string Get(const std::string& key) const {
    std::size_t at = line.find("\"" + key + "\":") + key.size() + 3;
    if (line[at] != '"') return line.substr(at, line.find_first_of(",}", at) - at);
    std::string v;
    for (std::size_t i = at + 1; line[i] != '"'; ++i) v.push_back(line[i] == '\\' ? line[++i] : line[i]);
    return v;
  }
  int Int(const std::string& key) const { return std::atoi(Get(key).c_str()); }
};

cfw::ConditionTerm Term(const char* table, const char* attribute, const std::string& value) {
  osm::perf::RowField f = FieldOf(table, attribute);
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

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = (std::filesystem::temp_directory_path() / ("osm_files_" + name)).wstring();
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    output_ = Utf8(dir_) + ".jsonl";
    std::remove(output_.c_str());
    ASSERT_TRUE(cfw::OpenOutput(output_.c_str()));
    osm_ntflchg_init();
    osm_ntfltrend_init();
  }
  void TearDown() override {
    for (dcfa* r : open_) cfw::CloseRequest(r);
    EXPECT_EQ(0u, osm::files::FileChangeService::Instance().Count()) << "every monitor left with its request";
    cfw::CloseOutput();
    std::remove(output_.c_str());
    std::filesystem::remove_all(dir_);
  }

  dcfa* Open(const char* table, int sampleType, const char* name, const cfw::ConditionRows& rows, int interval = 0) {
    RequestDetail d = cfw::MakeDetail("OSM", table, name, interval, sampleType);
    ContextInfo c = cfw::NewContext(&rows);
    dcfa* r = cfw::FindManager(table)->CreateRequest(d, c);
    cfw::OpenRequest(r);
    open_.push_back(r);
    return r;
  }
  // An event request on dir for every kind of change, with extra terms.
  dcfa* Watch(const std::string& name, const std::wstring& dir, std::vector<cfw::ConditionTerm> extra = {}) {
    cfw::ConditionRows rows{{Term("NTFLCHG", "WATCHDIR", Utf8(dir)), Term("NTFLCHG", "MONITORALL", "Y")}};
    rows[0].insert(rows[0].end(), extra.begin(), extra.end());
    return Open("NTFLCHG", DCF_SAMPLE_EVENT, name.c_str(), rows);
  }
  std::vector<Row> Rows(const std::string& request) {
    std::ifstream in(output_, std::ios::binary);
    std::vector<Row> rows;
    for (std::string line; std::getline(in, line);)
      if (line.rfind("{\"record\":\"row\",\"request\":\"" + request + "\"", 0) == 0) rows.push_back(Row{line});
    return rows;
  }
  bool HasRow(const std::string& request, int action, const std::string& file, int size = -1) {
    for (const Row& r : Rows(request))
      if (r.Int("ACTION") == action && r.Get("UWATCHFILE") == file && (size < 0 || r.Int("CURSIZE") == size))
        return true;
    return false;
  }

  std::wstring dir_;
  std::string output_;
  std::vector<dcfa*> open_;
};

TEST_F(Files, ChangesOfFilesAndDirectoriesReachTheirSituation) {
  Watch("E1", dir_);
  Put(dir_ + L"\\a.txt", 5);
  Put(dir_ + L"\\a.txt", 7, true);
  ASSERT_TRUE(WaitFor([&] { return HasRow("E1", 3, "a.txt", 12); })) << "the modified file is examined";
  MoveFileW((dir_ + L"\\a.txt").c_str(), (dir_ + L"\\b.txt").c_str());
  DeleteFileW((dir_ + L"\\b.txt").c_str());
  CreateDirectoryW((dir_ + L"\\d1").c_str(), nullptr);
  MoveFileW((dir_ + L"\\d1").c_str(), (dir_ + L"\\d2").c_str());
  RemoveDirectoryW((dir_ + L"\\d2").c_str());
  struct {
    int action;
    const char* name;
  } changes[] = {{1, "a.txt"}, {4, "a.txt"}, {5, "b.txt"}, {2, "b.txt"}, {1, "d1"}, {4, "d1"}, {5, "d2"}, {2, "d2"}};
  for (const auto& c : changes) EXPECT_TRUE(WaitFor([&] { return HasRow("E1", c.action, c.name); })) << c.name;

  std::vector<Row> rows = Rows("E1");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(static_cast<int>(i + 1), rows[i].Int("TOTALHITS"));
    EXPECT_GE(rows[i].Int("SAMPLENO"), 1);
    EXPECT_GE(rows[i].Int("ROWNO"), 1);
    if (rows[i].Int("ACTION") == 2) {
      EXPECT_EQ("0", rows[i].Get("CURSIZE") + rows[i].Get("MODDATE")) << "removed: no size, no dates";
    }
  }
  // A report lists the monitor with its last change.
  dcfa* report = Open("NTFLCHG", DCF_SAMPLE_REPORT, "R1", {});
  ASSERT_EQ(0, report->TakeSample());
  ASSERT_EQ(1, report->_data.count);
  EXPECT_EQ(rows.back().Int("TOTALHITS"), GetInt32(report->_data.rows, FieldOf("NTFLCHG", "TOTALHITS")));
  EXPECT_EQ(1, GetInt32(report->_data.rows, FieldOf("NTFLCHG", "SAMPLENO")));
}

TEST_F(Files, AOneFileWatchMatchesTheWholeNameInAnyLetterCase) {
  Put(dir_ + L"\\Data.txt", 1);
  Watch("E1", dir_, {Term("NTFLCHG", "WATCHFILE", "data.txt")});
  Put(dir_ + L"\\data", 2);
  Put(dir_ + L"\\data.txt.bak", 2);
  Put(dir_ + L"\\Data.txt", 3, true);
  ASSERT_TRUE(WaitFor([&] { return !Rows("E1").empty(); }));
  for (const Row& r : Rows("E1")) EXPECT_EQ("data.txt4", r.Get("WATCHFILE") + r.Get("CURSIZE"));
}

TEST_F(Files, ASubtreeWatchSeesSubdirectoriesThatExistedBeforeAndCutsLongNames) {
  std::wstring deeper = dir_ + L"\\sub\\deeper", longDir = std::wstring(40, L's') + L"\\" + std::wstring(80, L'\u20ac');
  std::filesystem::create_directories(deeper);
  std::filesystem::create_directories(dir_ + L"\\" + longDir);
  Watch("E1", dir_, {Term("NTFLCHG", "WATCHTREE", "Y")});
  Put(deeper + L"\\x.txt", 3);
  EXPECT_TRUE(WaitFor([&] { return HasRow("E1", 1, "sub\\deeper\\x.txt"); }));
  // A path past MAX_PATH, and 437 bytes of relative name, of which UWATCHFILE
  // keeps the whole characters within 392.
  Put(dir_ + L"\\" + longDir + L"\\x" + std::wstring(50, L'\u20ac') + L".txt", 9);
  std::string cut = Utf8(longDir + L"\\x" + std::wstring(36, L'\u20ac'));
  EXPECT_TRUE(WaitFor([&] { return HasRow("E1", 3, cut, 9); })) << "examined by its full name";
}

TEST_F(Files, RemovingOneOfTwoSituationsDuringABurstLeavesTheOtherWhole) {
  // The two differ only in ACTION: each sees its own rows, once.
  Watch("E1", dir_, {Term("NTFLCHG", "ACTION", "1")});
  dcfa* e2 = Watch("E2", dir_, {Term("NTFLCHG", "ACTION", "2")});
  const int kFiles = 150;
  std::thread burst([&] {
    for (int i = 0; i < kFiles; ++i) {
      Put(dir_ + L"\\f" + std::to_wstring(i), 1);
      DeleteFileW((dir_ + L"\\f" + std::to_wstring(i)).c_str());
    }
  });
  ASSERT_TRUE(WaitFor([&] { return Rows("E2").size() >= 10; }));
  open_.erase(std::find(open_.begin(), open_.end(), e2));
  cfw::CloseRequest(e2);
  burst.join();
  Put(dir_ + L"\\after", 1);
  ASSERT_TRUE(WaitFor([&] { return HasRow("E1", 1, "after"); }));
  EXPECT_EQ(kFiles + 1, static_cast<int>(Rows("E1").size()));
  for (int i = 0; i < kFiles; ++i) EXPECT_TRUE(HasRow("E1", 1, "f" + std::to_string(i))) << i;
  std::vector<Row> e2rows = Rows("E2");
  for (std::size_t i = 0; i < e2rows.size(); ++i) EXPECT_EQ("f" + std::to_string(i), e2rows[i].Get("WATCHFILE"));
  EXPECT_EQ(1u, osm::files::FileChangeService::Instance().Count());
}

TEST_F(Files, OneWaitServesAtMost63MonitorsAndTheRestAreRefused) {
  for (int i = 0; i < 64; ++i) Watch("E" + std::to_string(i), dir_);
  EXPECT_EQ(63u, osm::files::FileChangeService::Instance().Count());
  Put(dir_ + L"\\seen", 1);
  EXPECT_TRUE(WaitFor([&] { return HasRow("E62", 1, "seen"); }));
  EXPECT_TRUE(HasRow("E0", 1, "seen"));
  EXPECT_TRUE(Rows("E63").empty());
}

TEST_F(Files, DeletingTheWatchedDirectoryLeavesTheThreadIdle) {
  std::wstring doomed = dir_ + L"\\doomed", other = dir_ + L"\\other";
  std::filesystem::create_directories(doomed);
  std::filesystem::create_directories(other);
  Watch("E1", doomed);
  Watch("E2", other);
  Put(doomed + L"\\last", 1);
  DeleteFileW((doomed + L"\\last").c_str());
  ASSERT_TRUE(RemoveDirectoryW(doomed.c_str()));
  ASSERT_TRUE(WaitFor([&] { return HasRow("E1", 2, "last"); }));
  // Whatever the deleted directory's read completes with, the thread must
  // not spin on it: the other directory is still served, with few wakeups.
  std::uint64_t before = osm::files::FileChangeService::Instance().Wakeups();
  for (std::string name : {"n0", "n1", "n2"}) {
    Put(other + L"\\" + std::wstring(name.begin(), name.end()), 1);
    ASSERT_TRUE(WaitFor([&] { return HasRow("E2", 1, name); }));
  }
  EXPECT_LT(osm::files::FileChangeService::Instance().Wakeups() - before, 40u);
}

TEST_F(Files, AFailedReadSilencesItsMonitorAndAnAbortedOneIsArmedAgain) {
  for (DWORD error : {ERROR_ACCESS_DENIED, ERROR_OPERATION_ABORTED}) {
    osm::files::WatchSpec w;
    w.dir = w.udir = Utf8(dir_);
    w.monitorAll = 'Y';
    osm::files::FileChangeMonitor monitor(w, 0);
    ASSERT_TRUE(monitor.Open(nullptr));
    SetEvent(monitor.Event());  // as a finished read leaves it
    std::vector<osm::files::PushedRow> rows;
    monitor.Completed(false, 0, error, &rows);
    bool aborted = error == ERROR_OPERATION_ABORTED;
    EXPECT_EQ(!aborted, monitor.Silent()) << error;
    if (aborted) Put(dir_ + L"\\poke", 1);  // an armed monitor sees it; a silent one never wakes the thread
    EXPECT_EQ(aborted ? WAIT_OBJECT_0 : WAIT_TIMEOUT, WaitForSingleObject(monitor.Event(), aborted ? 10000 : 0));
  }
}

TEST_F(Files, TrendOverFourSamplesOfKnownGrowthThenAMissingFile) {
  Put(dir_ + L"\\app.log", 1000);
  cfw::ConditionRows rows{{Term("NTFLTREND", "WATCHDIR", Utf8(dir_)), Term("NTFLTREND", "WATCHFILE", "app.log"),
                           Term("NTFLTREND", "SAMPNUM", "4")}};
  dcfa* trend = Open("NTFLTREND", DCF_SAMPLE_SITUATION, "S1", rows, 60);
  auto value = [&](const char* name) { return GetInt32(trend->_data.rows, FieldOf("NTFLTREND", name)); };
  for (int i = 1; i <= 5; ++i) {
    if (i < 5) Put(dir_ + L"\\app.log", 500, true);
    else DeleteFileW((dir_ + L"\\app.log").c_str());
    trend->DiscardRows();
    ASSERT_EQ(0, trend->TakeSample());
    ASSERT_EQ(1, trend->_data.count);
    EXPECT_EQ(i, value("SAMPLENO"));
    EXPECT_EQ(i < 5 ? 1000 + 500 * i : -1, value("CURSIZE"));
    EXPECT_EQ(i < 5 ? 50 * i : -1, value("PCCHGTOT"));
    EXPECT_EQ(i < 5 ? 500 : -1, value("CHGLSTIN"));
  }
  EXPECT_EQ(60, value("SAMPINT"));
  EXPECT_EQ(4, value("SAMPNUM"));
  EXPECT_EQ("00/00/00", std::string(trend->_data.rows + FieldOf("NTFLTREND", "MODDATE").offset, 8));
  dcfa* report = Open("NTFLTREND", DCF_SAMPLE_REPORT, "R1", {});
  ASSERT_EQ(0, report->TakeSample());
  ASSERT_EQ(1, report->_data.count);
  EXPECT_EQ(5, GetInt32(report->_data.rows, FieldOf("NTFLTREND", "SAMPLENO")));
}

}  // namespace

// The file tables on the platform, with real files in a scratch directory:
// change monitors pushing rows to their situations, their removal, and the
// trend of a growing file. Every wait is for a condition.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "collectors/files/change_monitor.h"
#include "collectors/perf/perf_values.h"
#include "framework/cfw_runtime.h"
#include "tables/tables.h"

namespace {

std::string Utf8(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &s[0], n, nullptr, nullptr);
  s.resize(static_cast<std::size_t>(n - 1));
  return s;
}

bool WaitFor(const std::function<bool()>& done, int ms = 30000) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void Put(const std::wstring& path, std::size_t bytes, bool append = false) {
  HANDLE h = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << Utf8(path);
  std::string data(bytes, 'x');
  DWORD written = 0;
  WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  CloseHandle(h);
}

// One shipped row: its attributes as raw JSON values (texts without quotes,
// backslashes unescaped).
struct Row {
  std::string line;
  std::string Get(const std::string& key) const {
    std::string probe = "\"" + key + "\":";
    std::size_t at = line.find(probe);
    if (at == std::string::npos) return "<absent>";
    at += probe.size();
    std::string v;
    if (line[at] != '"') return line.substr(at, line.find_first_of(",}", at) - at);
    for (std::size_t i = at + 1; i < line.size() && line[i] != '"'; ++i) v.push_back(line[i] == '\\' ? line[++i] : line[i]);
    return v;
  }
  int Int(const std::string& key) const { return std::atoi(Get(key).c_str()); }
};

cfw::ConditionTerm Term(const char* table, const char* attribute, const std::string& value) {
  cfw::ConditionTerm t;
  t.attribute = attribute;
  t.op = 1;
  osm::perf::RowField f = osm::perf::FieldOf(table, attribute);
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
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = std::wstring(temp) + L"osm_files_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::wstring(name.begin(), name.end());
    CreateDirectoryW(dir_.c_str(), nullptr);
    output_ = Utf8(dir_) + ".jsonl";
    DeleteFileA(output_.c_str());
    ASSERT_TRUE(cfw::OpenOutput(output_.c_str()));
    osm_ntflchg_init();
    osm_ntfltrend_init();
  }
  void TearDown() override {
    for (dcfa* r : open_) cfw::CloseRequest(r);
    EXPECT_EQ(0u, osm::files::FileChangeService::Instance().Count());
    cfw::CloseOutput();
    DeleteFileA(output_.c_str());
    SHFileOp();
  }
  void SHFileOp() {  // removes the scratch tree
    std::vector<std::wstring> stack{dir_}, dirs;
    while (!stack.empty()) {
      std::wstring d = stack.back();
      stack.pop_back();
      dirs.push_back(d);
      WIN32_FIND_DATAW e;
      HANDLE f = FindFirstFileW((d + L"\\*").c_str(), &e);
      if (f == INVALID_HANDLE_VALUE) continue;
      do {
        std::wstring n = e.cFileName;
        if (n == L"." || n == L"..") continue;
        if (e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) stack.push_back(d + L"\\" + n);
        else DeleteFileW((d + L"\\" + n).c_str());
      } while (FindNextFileW(f, &e));
      FindClose(f);
    }
    for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) RemoveDirectoryW(it->c_str());
  }

  dcfa* Open(const char* table, int sampleType, const char* name, const cfw::ConditionRows& rows, int interval = 0) {
    RequestDetail d = cfw::MakeDetail("OSM", table, name, interval, sampleType);
    ContextInfo c = cfw::NewContext(&rows);
    dcfa* r = cfw::FindManager(table)->CreateRequest(d, c);
    cfw::OpenRequest(r);
    open_.push_back(r);
    return r;
  }
  void Close(dcfa* r) {
    open_.erase(std::find(open_.begin(), open_.end(), r));
    cfw::CloseRequest(r);
  }
  // A change situation on dir with every change kind, plus extra terms.
  dcfa* Watch(const char* name, const std::wstring& dir, std::vector<cfw::ConditionTerm> extra = {}) {
    cfw::ConditionRows rows(1);
    rows[0] = {Term("NTFLCHG", "WATCHDIR", Utf8(dir)), Term("NTFLCHG", "MONITORALL", "Y")};
    rows[0].insert(rows[0].end(), extra.begin(), extra.end());
    return Open("NTFLCHG", DCF_SAMPLE_EVENT, name, rows);
  }
  std::vector<Row> Rows(const std::string& request) {
    std::ifstream in(output_, std::ios::binary);
    std::vector<Row> rows;
    std::string line;
    while (std::getline(in, line))
      if (line.find("\"record\":\"row\"") != std::string::npos &&
          line.find("\"request\":\"" + request + "\"") != std::string::npos)
        rows.push_back(Row{line});
    return rows;
  }
  bool HasRow(const std::string& request, int action, const std::string& file) {
    for (const Row& r : Rows(request))
      if (r.Int("ACTION") == action && r.Get("UWATCHFILE") == file) return true;
    return false;
  }

  std::wstring dir_;
  std::string output_;
  std::vector<dcfa*> open_;
};

TEST_F(Files, ChangesOfFilesAndDirectoriesReachTheirSituation) {
  Watch("E1", dir_);
  Put(dir_ + L"\\a.txt", 5);
  ASSERT_TRUE(WaitFor([&] { return HasRow("E1", 1, "a.txt"); }));
  Put(dir_ + L"\\a.txt", 7, true);
  ASSERT_TRUE(WaitFor([&] {
    for (const Row& r : Rows("E1"))
      if (r.Int("ACTION") == 3 && r.Get("WATCHFILE") == "a.txt" && r.Int("CURSIZE") == 12)
        return r.Get("MODDATE").size() == 8;
    return false;
  })) << "the modified file is examined";
  MoveFileW((dir_ + L"\\a.txt").c_str(), (dir_ + L"\\b.txt").c_str());
  DeleteFileW((dir_ + L"\\b.txt").c_str());
  CreateDirectoryW((dir_ + L"\\d1").c_str(), nullptr);
  MoveFileW((dir_ + L"\\d1").c_str(), (dir_ + L"\\d2").c_str());
  RemoveDirectoryW((dir_ + L"\\d2").c_str());
  struct Change {
    int action;
    const char* name;
  } changes[] = {{4, "a.txt"}, {5, "b.txt"}, {2, "b.txt"}, {1, "d1"}, {4, "d1"}, {5, "d2"}, {2, "d2"}};
  for (const Change& c : changes)
    EXPECT_TRUE(WaitFor([&] { return HasRow("E1", c.action, c.name); })) << c.action << " " << c.name;

  std::vector<Row> rows = Rows("E1");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    EXPECT_EQ(static_cast<int>(i + 1), r.Int("TOTALHITS"));
    EXPECT_GE(r.Int("SAMPLENO"), 1);
    EXPECT_GE(r.Int("ROWNO"), 1);
    EXPECT_EQ(Utf8(dir_), r.Get("WATCHDIR"));
    if (r.Int("ACTION") == 2) {
      EXPECT_EQ(0, r.Int("CURSIZE"));
      EXPECT_EQ("", r.Get("MODDATE"));
    }
  }
  // A report lists the monitor with its last change.
  dcfa* report = Open("NTFLCHG", DCF_SAMPLE_REPORT, "R1", {});
  ASSERT_EQ(0, report->TakeSample());
  ASSERT_EQ(1, report->_data.count);
  const char* row = report->_data.rows;
  const Row& last = Rows("E1").back();
  EXPECT_EQ(last.Int("ACTION"), osm::perf::GetInt32(row, osm::perf::FieldOf("NTFLCHG", "ACTION")));
  EXPECT_EQ(last.Int("TOTALHITS"), osm::perf::GetInt32(row, osm::perf::FieldOf("NTFLCHG", "TOTALHITS")));
  EXPECT_EQ(1, osm::perf::GetInt32(row, osm::perf::FieldOf("NTFLCHG", "SAMPLENO")));
}

TEST_F(Files, AOneFileWatchMatchesTheWholeNameInAnyLetterCase) {
  Put(dir_ + L"\\Data.txt", 1);
  Watch("E1", dir_, {Term("NTFLCHG", "WATCHFILE", "data.txt")});
  Put(dir_ + L"\\data", 2);
  Put(dir_ + L"\\data.txt.bak", 2);
  Put(dir_ + L"\\Data.txt", 3, true);
  ASSERT_TRUE(WaitFor([&] { return !Rows("E1").empty(); }));
  for (const Row& r : Rows("E1")) {
    EXPECT_EQ("data.txt", r.Get("WATCHFILE"));
    EXPECT_EQ(4, r.Int("CURSIZE"));
  }
}

TEST_F(Files, ASubtreeWatchSeesSubdirectoriesThatExistedBeforeAndCutsLongNames) {
  std::wstring deeper = dir_ + L"\\sub\\deeper";
  std::wstring longDir = dir_ + L"\\" + std::wstring(80, L'\u20ac');  // 240 bytes of UTF-8
  CreateDirectoryW((dir_ + L"\\sub").c_str(), nullptr);
  CreateDirectoryW(deeper.c_str(), nullptr);
  CreateDirectoryW(longDir.c_str(), nullptr);
  Watch("E1", dir_, {Term("NTFLCHG", "WATCHTREE", "Y")});
  Put(deeper + L"\\x.txt", 3);
  EXPECT_TRUE(WaitFor([&] { return HasRow("E1", 1, "sub\\deeper\\x.txt"); }));

  // 397 bytes of relative name: UWATCHFILE keeps whole characters, 390 bytes.
  std::wstring longName = L"xy" + std::wstring(50, L'\u20ac') + L".txt";
  Put(longDir + L"\\" + longName, 9);
  std::string cut392 = Utf8(std::wstring(80, L'\u20ac') + L"\\xy" + std::wstring(49, L'\u20ac'));
  ASSERT_TRUE(WaitFor([&] { return HasRow("E1", 1, cut392); })) << Rows("E1").size() << " rows";
  bool examined = false;
  for (const Row& r : Rows("E1")) examined = examined || (r.Get("UWATCHFILE") == cut392 && r.Int("CURSIZE") == 9);
  EXPECT_TRUE(examined) << "the file is examined by its full name";
}

TEST_F(Files, RemovingOneOfTwoSituationsDuringABurstLeavesTheOtherWhole) {
  // The two differ only in ACTION: each sees its own rows once.
  Watch("E1", dir_, {Term("NTFLCHG", "ACTION", "1")});
  dcfa* e2 = Watch("E2", dir_, {Term("NTFLCHG", "ACTION", "2")});
  const int kFiles = 150;
  std::thread burst([&] {
    for (int i = 0; i < kFiles; ++i) {
      std::wstring f = dir_ + L"\\f" + std::to_wstring(i);
      Put(f, 1);
      DeleteFileW(f.c_str());
    }
  });
  ASSERT_TRUE(WaitFor([&] { return Rows("E2").size() >= 10; }));
  Close(e2);
  burst.join();
  Put(dir_ + L"\\after", 1);
  ASSERT_TRUE(WaitFor([&] { return HasRow("E1", 1, "after"); }));
  std::vector<Row> e1 = Rows("E1");
  EXPECT_EQ(kFiles + 1, static_cast<int>(e1.size()));
  for (int i = 0; i < kFiles; ++i) EXPECT_TRUE(HasRow("E1", 1, "f" + std::to_string(i))) << i;
  std::vector<Row> e2rows = Rows("E2");
  for (std::size_t i = 0; i < e2rows.size(); ++i) EXPECT_EQ("f" + std::to_string(i), e2rows[i].Get("WATCHFILE"));
  EXPECT_EQ(1u, osm::files::FileChangeService::Instance().Count());
}

TEST_F(Files, OneWaitServesAtMost63MonitorsAndTheRestAreRefused) {
  for (int i = 0; i < 64; ++i) Watch(("E" + std::to_string(i)).c_str(), dir_);
  EXPECT_EQ(63u, osm::files::FileChangeService::Instance().Count());
  Put(dir_ + L"\\seen", 1);
  EXPECT_TRUE(WaitFor([&] { return HasRow("E62", 1, "seen"); }));
  EXPECT_TRUE(HasRow("E0", 1, "seen"));
  EXPECT_TRUE(Rows("E63").empty());
}

TEST_F(Files, DeletingTheWatchedDirectoryLeavesTheThreadIdle) {
  std::wstring doomed = dir_ + L"\\doomed", other = dir_ + L"\\other";
  CreateDirectoryW(doomed.c_str(), nullptr);
  CreateDirectoryW(other.c_str(), nullptr);
  Watch("E1", doomed);
  Watch("E2", other);
  Put(doomed + L"\\last", 1);
  ASSERT_TRUE(WaitFor([&] { return HasRow("E1", 1, "last"); }));
  DeleteFileW((doomed + L"\\last").c_str());
  ASSERT_TRUE(RemoveDirectoryW(doomed.c_str()));
  ASSERT_TRUE(WaitFor([&] { return HasRow("E1", 2, "last"); }));
  // Whatever the deleted directory's read completes with, the thread must
  // not spin on it: the other directory is still served, with few wakeups.
  std::uint64_t before = osm::files::FileChangeService::Instance().Wakeups();
  for (int i = 0; i < 3; ++i) {
    std::string name = "n" + std::to_string(i);
    Put(other + L"\\" + std::wstring(name.begin(), name.end()), 1);
    ASSERT_TRUE(WaitFor([&] { return HasRow("E2", 1, name); }));
  }
  EXPECT_LT(osm::files::FileChangeService::Instance().Wakeups() - before, 40u);
}

TEST_F(Files, AFailedReadSilencesItsMonitorAndAnAbortedOneIsArmedAgain) {
  struct Case {
    DWORD error;
    bool silent;
  } cases[] = {{ERROR_ACCESS_DENIED, true}, {ERROR_OPERATION_ABORTED, false}};
  for (const Case& c : cases) {
    osm::files::WatchSpec w;
    w.dir = w.udir = Utf8(dir_);
    w.monitorAll = 'Y';
    osm::files::FileChangeMonitor monitor(w, 0);
    ASSERT_TRUE(monitor.Open(nullptr));
    SetEvent(monitor.Event());  // as a finished read leaves it
    std::vector<osm::files::PushedRow> rows;
    monitor.Completed(false, 0, c.error, &rows);
    EXPECT_EQ(c.silent, monitor.Silent()) << c.error;
    EXPECT_TRUE(rows.empty());
    if (c.silent) {
      EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(monitor.Event(), 0)) << "a silent monitor never wakes the thread";
    } else {
      Put(dir_ + L"\\poke", 1);
      EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(monitor.Event(), 10000)) << "armed again";
    }
  }
}

TEST_F(Files, TrendOverFourSamplesOfKnownGrowthThenAMissingFile) {
  Put(dir_ + L"\\app.log", 1000);
  cfw::ConditionRows rows(1);
  rows[0] = {Term("NTFLTREND", "WATCHDIR", Utf8(dir_)), Term("NTFLTREND", "WATCHFILE", "app.log"),
             Term("NTFLTREND", "SAMPNUM", "4")};
  dcfa* trend = Open("NTFLTREND", DCF_SAMPLE_SITUATION, "S1", rows, 60);
  auto value = [&](const char* name) {
    return osm::perf::GetInt32(trend->_data.rows, osm::perf::FieldOf("NTFLTREND", name));
  };
  const int kTotal[] = {500, 1000, 1500, 2000}, kPercentTotal[] = {50, 100, 150, 200};
  for (int i = 0; i < 4; ++i) {
    Put(dir_ + L"\\app.log", 500, true);
    ASSERT_EQ(0, trend->TakeSample());
    ASSERT_EQ(1, trend->_data.count);
    EXPECT_EQ(1500 + 500 * i, value("CURSIZE"));
    EXPECT_EQ(500, value("CHGLSTIN"));
    EXPECT_EQ(kTotal[i], value("CHGTOT"));
    EXPECT_EQ(kPercentTotal[i], value("PCCHGTOT"));
    EXPECT_EQ(i + 1, value("SAMPLENO"));
    EXPECT_EQ(4, value("SAMPNUM"));
    EXPECT_EQ(60, value("SAMPINT"));
    EXPECT_GE(value("PCUSED"), 0);
    EXPECT_GT(value("FRESPAEXHR"), 0);
    trend->DiscardRows();
  }
  DeleteFileW((dir_ + L"\\app.log").c_str());
  ASSERT_EQ(0, trend->TakeSample());
  EXPECT_EQ(-1, value("CURSIZE"));
  EXPECT_EQ(-1, value("PCCHGTOT"));
  EXPECT_EQ("00/00/00", std::string(trend->_data.rows + osm::perf::FieldOf("NTFLTREND", "MODDATE").offset, 8));
  trend->DiscardRows();

  dcfa* report = Open("NTFLTREND", DCF_SAMPLE_REPORT, "R1", {});
  ASSERT_EQ(0, report->TakeSample());
  ASSERT_EQ(1, report->_data.count);
  EXPECT_EQ(5, osm::perf::GetInt32(report->_data.rows, osm::perf::FieldOf("NTFLTREND", "SAMPLENO")));
}

}  // namespace

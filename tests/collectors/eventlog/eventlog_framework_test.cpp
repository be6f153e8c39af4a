// NTEVTLOG and NTLOGINFO through the framework, over injected logs, backup
// files, a real message module and a stand-in for the new interface.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <set>
#include <string>

#include "tests/collectors/eventlog/eventlog_world.h"

namespace {

using namespace evtest;

const char* const kSettings[] = {"NT_LOG_THROTTLE", "NT_APPLICATION_LOG_THROTTLE", "NT_LOG_DUPLICATE",
                                 "OSM_APPLICATION_LOG_FILE", "OSM_EVTLOG_CATCHUP_MAX", "OSM_EVTLOG_CATCHUP_SECONDS"};

class EventLogTables : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEnv("OSM_EVENTLOG_API", "classic");
    SetEnv("OSM_EVTLOG_STATE", "none");
    for (const char* s : kSettings) SetEnv(s, nullptr);
  }
};

std::string LocalStamp(std::uint32_t seconds) {
  std::time_t t = seconds;
  std::tm local;
  localtime_s(&local, &t);
  char s[32];
  std::snprintf(s, sizeof s, "%03d%02d%02d%02d%02d%02d000", local.tm_year, local.tm_mon + 1, local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec);
  return s;
}

std::string ComputerName() {
  char name[64];
  DWORD size = sizeof name;
  GetComputerNameA(name, &size);
  return name;
}

// Bookmarks kept in a new state file, with a catch-up bound.
void FreshBookmarks(const char* name, const char* catchUpMax) {
  std::string state = TempPath(name);
  DeleteFileA(state.c_str());
  SetEnv("OSM_EVTLOG_STATE", state.c_str());
  SetEnv("OSM_EVTLOG_CATCHUP_MAX", catchUpMax);
}

std::vector<long long> Column(const std::vector<Row>& rows, const char* name) {
  std::vector<long long> out;
  for (const Row& r : rows) out.push_back(r.Int(name));
  return out;
}

TEST_F(EventLogTables, SituationDeliversTheNewRecordsOfItsLogOnce) {
  InjectedLog app("Application");
  evtw::Event old = Event(1, 100);
  old.timeWritten -= 3600;  // written before the situation started
  app.Append(old);
  AgentRun run("event app100 NTEVTLOG where LOGNAME EQ \"Application\" AND EVENTID EQ 100\n");
  ASSERT_TRUE(WaitUntil([&] { return app.Store().Watchers() == 1; }));
  evtw::Event error = Event(2, 0xC0000064, 1);  // severity bits: shown as 100
  error.sid = evtw::Sid(5, {18});              // LocalSystem
  std::string host = ComputerName();
  error.computer = std::u16string(host.begin(), host.end());
  error.strings = {u"one", u"two\tlines"};
  app.Store().AppendMany({evtw::Record(error), evtw::Record(Event(3, 200)), evtw::Record(Event(4, 100, 2))});
  ASSERT_TRUE(run.WaitRows("app100", 2));
  app.Append(Event(5, 100, 16));
  ASSERT_TRUE(run.WaitRows("app100", 3));
  run.Stop();
  std::vector<Row> rows = run.Rows("app100");
  ASSERT_EQ(3u, rows.size());
  // Newest first within a batch, then the next batch.
  EXPECT_EQ("Warning", rows[0].Text("TYPE"));
  EXPECT_EQ("Failure Audit", rows[2].Text("TYPE"));
  const Row& r = rows[1];
  EXPECT_EQ("TESTNODE", r.Text("ORIGINNODE"));
  EXPECT_EQ("Application", r.Text("LOGNAME"));
  EXPECT_EQ("Application", r.Text("ULOGNAME"));
  EXPECT_EQ("Error", r.Text("TYPE"));
  EXPECT_EQ(100, r.Int("EVENTID"));
  EXPECT_EQ("100", r.Text("EVENTIDSTR"));
  EXPECT_EQ("OsmNoSuchSource", r.Text("SOURCE"));
  EXPECT_EQ("None", r.Text("CATEGORY"));
  EXPECT_EQ("SYSTEM", r.Text("USERID"));
  EXPECT_EQ(ComputerName().substr(0, 16), r.Text("COMPUTER"));
  EXPECT_EQ(LocalStamp(error.timeWritten), r.Text("ENTRYTIME"));
  EXPECT_EQ(0, r.Int("DUPCNT"));
  EXPECT_EQ("Not located in .  The description for Event ID ( 100 ) in Source ( OsmNoSuchSource ) could not be "
            "found.  It contains the following insertion string(s):  one, two lines.",
            r.Text("DESCRIP"));
}

TEST_F(EventLogTables, ReportsReadTheirWindowsNewestFirst) {
  InjectedLog app("Application");
  std::uint32_t now = static_cast<std::uint32_t>(std::time(nullptr));
  for (std::uint32_t n = 1; n <= 3; ++n) {
    evtw::Event e = Event(n, n);
    e.timeWritten = now - 3000 + 1000 * (n - 1);
    app.Append(e);
  }
  std::string s2 = LocalStamp(now - 2000), s3 = LocalStamp(now - 1000);
  std::string where = " NTEVTLOG where LOGNAME EQ \"Application\" AND ";
  AgentRun run("report one" + where + "ENTRYTIME GE \"" + s2 + "\" AND ENTRYTIME LE \"" + s2 + "\"\n" +
                   "report open" + where + "ENTRYTIME GE \"" + s2 + "\"\n" +
                   "report short" + where + "ENTRYTIME GE \"1\"\n" +  // a bound shorter than a stamp
                   "report two" + where + "ENTRYTIME GE \"" + s2 + "\" AND ENTRYTIME LE \"" + s2 +
                   "\" OR LOGNAME EQ \"Application\" AND ENTRYTIME GE \"" + s3 + "\"\n",
               true);
  run.Stop();
  EXPECT_EQ(std::vector<long long>({2}), Column(run.Rows("one"), "EVENTID"));
  EXPECT_EQ(std::vector<long long>({3, 2}), Column(run.Rows("open"), "EVENTID"));
  EXPECT_EQ(std::vector<long long>({3, 2, 1}), Column(run.Rows("short"), "EVENTID"));
  EXPECT_EQ(std::vector<long long>({3, 2}), Column(run.Rows("two"), "EVENTID"));
}

TEST_F(EventLogTables, MessageModuleGivesDescriptionsAndCategories) {
  const wchar_t* key = L"System\\CurrentControlSet\\Services\\EventLog\\Application\\OsmTestSource";
  std::string dll = WindowsPath(OSM_TEST_MSGDLL);
  std::wstring wdll(dll.begin(), dll.end());
  std::wstring list = L"C:\\no\\such.dll;" + wdll + L";";
  HKEY k;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
  // Stored without its terminator, as some installers write it.
  RegSetValueExW(k, L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(list.c_str()),
                 static_cast<DWORD>(list.size() * sizeof(wchar_t)));
  RegSetValueExW(k, L"CategoryMessageFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(wdll.c_str()),
                 static_cast<DWORD>((wdll.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);

  InjectedLog app("Application");
  struct Case {
    std::uint32_t id;
    std::uint16_t category;
    std::vector<std::u16string> strings;
    const char* description;
    const char* categoryText;
  };
  const Case cases[] = {
      {0xCFFF03E8, 1, {u"a.txt", u"b.txt"}, "Copy of a.txt to b.txt failed.", "Disk"},
      // The template names three inserts; the record carries one.
      {0x8FFF03E9, 2, {u"Spooler"}, "Service Spooler stopped after  restarts; last error .", "Network"},
      {4242, 7, {u"x"}, nullptr, "(7) Not found"},
  };
  std::uint32_t n = 0;
  for (const Case& c : cases) {
    evtw::Event e = Event(++n, c.id, 1);
    e.source = u"OsmTestSource";
    e.category = c.category;
    e.strings = c.strings;
    app.Append(e);
  }
  AgentRun run("report msg NTEVTLOG where ULOGNAME EQ \"Application\"\n", true);
  run.Stop();
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
  std::vector<Row> rows = run.Rows("msg");
  ASSERT_EQ(3u, rows.size());
  for (std::size_t i = 0; i < 3; ++i) {
    const Case& c = cases[2 - i];
    EXPECT_EQ(static_cast<long long>(c.id & 0xFFFF), rows[i].Int("EVENTID"));
    EXPECT_EQ(c.categoryText, rows[i].Text("CATEGORY"));
    if (c.description) {
      EXPECT_EQ(c.description, rows[i].Text("DESCRIP"));
    }
  }
  std::string expected = "Not located in C:\\no\\such.dll;" + dll +
                         ";.  The description for Event ID ( 4242 ) in Source ( OsmTestSource ) cannot be found.";
  EXPECT_EQ(expected, rows[0].Text("DESCRIP").substr(0, expected.size()));
}

TEST_F(EventLogTables, ThrottleAndDuplicateFamilies) {
  struct Case {
    const char* variable;
    const char* value;
    bool report;
    int events;
    std::vector<long long> dupcnt;
  };
  const Case cases[] = {
      {"NT_LOG_THROTTLE", "3", false, 7, {0, 3, 3}},           // the 3rd and 6th repetition, with their count
      {"NT_APPLICATION_LOG_THROTTLE", "-3", false, 7, {6}},    // all repetitions dropped and counted
      {"NT_LOG_DUPLICATE", "2", true, 5, {0, 2, 2}},           // each report row its own count
      {"NT_LOG_DUPLICATE", "0", true, 3, {0, 0, 0}},           // off
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.variable) + "=" + c.value);
    SetUp();
    SetEnv("NT_LOG_THROTTLE", "07");  // begins with 0: skipped
    SetEnv(c.variable, c.value);
    InjectedLog app("Application");
    // Written when the situation already watches, so that it is new to it.
    auto batch = [&c] {
      std::vector<std::vector<std::uint8_t>> records;
      for (int i = 1; i <= c.events; ++i) records.push_back(evtw::Record(Event(static_cast<std::uint32_t>(i), 7, 1)));
      return records;
    };
    std::unique_ptr<AgentRun> run;
    if (c.report) {
      app.Store().AppendMany(batch());
      run.reset(new AgentRun("report dup NTEVTLOG where LOGNAME EQ \"Application\"\n", true));
    } else {
      run.reset(new AgentRun("event dup NTEVTLOG where LOGNAME EQ \"Application\"\n"));
      ASSERT_TRUE(WaitUntil([&] { return app.Store().Watchers() == 1; }));
      app.Store().AppendMany(batch());
      ASSERT_TRUE(run->WaitRows("dup", c.dupcnt.size()));
    }
    run->Stop();
    EXPECT_EQ(c.dupcnt, Column(run->Rows("dup"), "DUPCNT"));
  }
}

TEST_F(EventLogTables, NewInterfaceEventsAreRenderedAndWindowed) {
  SetEnv("OSM_EVENTLOG_API", nullptr);
  InstallFakeEvtInterface();
  auto fileTime = [](std::int64_t secondsAgo) {
    return (static_cast<std::uint64_t>(std::time(nullptr) - secondsAgo) + 11644473600ull) * 10000000ull + 1230000;
  };
  FakeEvent old;
  old.fileTime = fileTime(7200);
  old.eventId = 11;
  old.provider = L"OsmProvider";
  AppendFakeEvent(old);
  AgentRun run("event sec NTEVTLOG where LOGNAME EQ \"Security\"\n"
               "report recent NTEVTLOG where LOGNAME EQ \"Security\" AND ENTRYTIME GE \"" +
               LocalStamp(static_cast<std::uint32_t>(std::time(nullptr) - 3600)) + "\"\n");
  ASSERT_TRUE(WaitUntil(FakeSubscribed));
  FakeEvent e{fileTime(0), 4624, L"WS01.corp.example", L"OsmProvider", L"Logon\r\nsucceeded", L"Logon",
              {L"Audit", L"Success"}, {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}, 1, 77};
  AppendFakeEvent(e);
  e.task.clear();
  e.keywords = {L"Audit"};
  e.recordId = 78;
  AppendFakeEvent(e);
  ASSERT_TRUE(run.WaitRows("sec", 2));
  run.Stop();
  RemoveFakeEvtInterface();
  std::vector<Row> rows = run.Rows("sec");
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ("Critical", rows[0].Text("TYPE"));
  EXPECT_EQ("WS01", rows[0].Text("COMPUTER"));
  EXPECT_EQ("SYSTEM", rows[0].Text("USERID"));
  EXPECT_EQ("OsmProvider", rows[0].Text("SOURCE"));
  EXPECT_EQ("Logon - Audit Success", rows[0].Text("CATEGORY"));
  EXPECT_EQ("Logon  succeeded", rows[0].Text("DESCRIP"));
  EXPECT_EQ("Audit", rows[1].Text("CATEGORY"));
  EXPECT_TRUE(run.Answered("recent"));
  for (long long id : Column(run.Rows("recent"), "EVENTID")) EXPECT_NE(11, id);  // older than its start
}

// New interface: a restart catches up from a query, then the subscription
// goes on without repeating what the query delivered.
TEST_F(EventLogTables, NewInterfaceRestartCatchesUpFromTheBookmark) {
  SetEnv("OSM_EVENTLOG_API", nullptr);
  FreshBookmarks("evt.state", "10");
  InstallFakeEvtInterface();
  auto event = [](std::uint64_t id) {
    FakeEvent e;
    e.fileTime = (static_cast<std::uint64_t>(std::time(nullptr)) + 11644473600ull) * 10000000ull;
    e.eventId = static_cast<std::uint16_t>(id);
    e.provider = L"OsmProvider";
    e.recordId = id;
    return e;
  };
  const char* request = "event sec NTEVTLOG where LOGNAME EQ \"Security\"\n";
  {
    AgentRun first(request);
    ASSERT_TRUE(WaitUntil(FakeSubscribed));
    AppendFakeEvent(event(101));
    ASSERT_TRUE(first.WaitRows("sec", 1));
  }
  AppendFakeEvent(event(102));  // while the agent is down
  AppendFakeEvent(event(103));
  AgentRun second(request);
  ASSERT_TRUE(second.WaitRows("sec", 2));
  AppendFakeEvent(event(104));
  ASSERT_TRUE(second.WaitRows("sec", 3));
  second.Stop();
  RemoveFakeEvtInterface();
  EXPECT_EQ(std::vector<long long>({103, 102, 104}), Column(second.Rows("sec"), "EVENTID"));
}

TEST_F(EventLogTables, BackupFileServesTheLogAndItsInformation) {
  std::string path = TempPath("backup.evt");
  std::uint32_t then = static_cast<std::uint32_t>(std::time(nullptr)) - 3600;
  std::vector<std::vector<std::uint8_t>> records;
  for (std::uint32_t n = 1; n <= 3; ++n) {
    evtw::Event e = Event(n, 500 + n);
    e.timeWritten = then;
    records.push_back(evtw::Record(e));
  }
  std::vector<std::uint8_t> file = evtw::BackupFile(records, 1, 40);
  ASSERT_TRUE(evtw::WriteFile(path, file));
  SetEnv("OSM_APPLICATION_LOG_FILE", path.c_str());
  AgentRun run("report all NTEVTLOG where LOGNAME EQ \"Application\"\n"
               "report info NTLOGINFO\n"
               "event new NTEVTLOG where LOGNAME EQ \"Application\"\n");
  ASSERT_TRUE(WaitUntil([&] { return run.Answered("all") && run.Answered("info"); }));
  records.push_back(evtw::Record(Event(4, 504)));  // appended to the file while the agent runs
  ASSERT_TRUE(evtw::WriteFile(path, evtw::BackupFile(records, 1)));
  ASSERT_TRUE(run.WaitRows("new", 1));
  run.Stop();
  EXPECT_EQ(std::vector<long long>({503, 502, 501}), Column(run.Rows("all"), "EVENTID"));
  EXPECT_EQ(std::vector<long long>({504}), Column(run.Rows("new"), "EVENTID"));
  std::vector<Row> info = run.Rows("info");
  ASSERT_EQ(1u, info.size());  // Wine's own logs have no file to describe
  EXPECT_EQ("Application", info[0].Text("LOGNAME"));
  EXPECT_EQ(2, info[0].Int("LOGTYPE"));
  EXPECT_EQ(static_cast<long long>(file.size()), info[0].Int("CURSIZE8"));
  EXPECT_EQ(static_cast<long long>(file.size()), info[0].Int("MAXSIZE8"));
  EXPECT_EQ(3, info[0].Int("COUNT8"));
  EXPECT_EQ(100, info[0].Int("USAGE"));
  EXPECT_EQ(7, info[0].Int("RETENTION"));
  EXPECT_EQ(path, info[0].Text("PATH"));
}

// An agent restart between two batches: the second run delivers what was
// written while it was down, bounded, and nothing of the first batch.
TEST_F(EventLogTables, RestartResumesFromTheBookmark) {
  FreshBookmarks("bookmarks.state", "3");
  InjectedLog app("Application");
  const char* request = "event ev NTEVTLOG where LOGNAME EQ \"Application\"\n";
  {
    AgentRun first(request);
    ASSERT_TRUE(WaitUntil([&] { return app.Store().Watchers() == 1; }));
    app.Store().AppendMany({evtw::Record(Event(1, 1)), evtw::Record(Event(2, 2)), evtw::Record(Event(3, 3))});
    ASSERT_TRUE(first.WaitRows("ev", 3));
  }
  for (std::uint32_t n = 4; n <= 7; ++n) app.Append(Event(n, n));  // while the agent is down
  AgentRun second(request);
  ASSERT_TRUE(second.WaitRows("ev", 3));
  app.Append(Event(8, 8));
  ASSERT_TRUE(second.WaitRows("ev", 4));
  second.Stop();
  EXPECT_EQ(std::vector<long long>({7, 6, 5, 8}), Column(second.Rows("ev"), "EVENTID"));
}

TEST_F(EventLogTables, StopDuringABurstLosesNothingAndRepeatsNothing) {
  FreshBookmarks("burst.state", "100000");
  InjectedLog sys("System");
  const char* request = "event burst NTEVTLOG where LOGNAME EQ \"System\"\n";
  const std::uint32_t kBurst = 3000;
  std::set<long long> seen;
  std::size_t delivered = 0;
  {
    AgentRun first(request);
    ASSERT_TRUE(WaitUntil([&] { return sys.Store().Watchers() == 1; }));
    std::vector<std::vector<std::uint8_t>> burst;
    for (std::uint32_t n = 1; n <= kBurst; ++n) burst.push_back(evtw::Record(Event(n, n)));
    sys.Store().AppendMany(burst);
    Sleep(50);
    auto before = std::chrono::steady_clock::now();
    first.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(20));
    EXPECT_EQ(0u, sys.Store().Watchers());
    for (const Row& r : first.Rows("burst")) seen.insert(r.Int("EVENTID")), ++delivered;
  }
  AgentRun second(request);
  if (delivered < kBurst) {
    ASSERT_TRUE(second.WaitRows("burst", kBurst - delivered));
  }
  Sleep(200);
  second.Stop();
  for (const Row& r : second.Rows("burst")) seen.insert(r.Int("EVENTID")), ++delivered;
  EXPECT_EQ(kBurst, delivered);
  EXPECT_EQ(kBurst, seen.size());
}

// Two situations on one log share one log manager, and each receives every
// event once; an invalid filter raises no use count; a manager stopped right
// after its start ends all the same.
TEST_F(EventLogTables, OneLogManagerPerLogForItsSituations) {
  InjectedLog sys("System");
  {
    AgentRun run("event a NTEVTLOG where LOGNAME EQ \"System\"\n"
                 "event b NTEVTLOG where ULOGNAME EQ \"System\" AND EVENTID GT 0\n"
                 "event bad NTEVTLOG where LOGNAME NE \"System\"\n");
    ASSERT_TRUE(WaitUntil([&] { return sys.Store().Watchers() == 1; }));
    sys.Append(Event(1, 1));
    sys.Append(Event(2, 2));
    ASSERT_TRUE(run.WaitRows("a", 2) && run.WaitRows("b", 2));
    EXPECT_EQ(1u, sys.Store().Watchers());
    run.Stop();
    EXPECT_EQ(0u, sys.Store().Watchers());
    for (const char* name : {"a", "b"}) {
      std::vector<long long> ids = Column(run.Rows(name), "EVENTID");
      EXPECT_EQ(std::set<long long>({1, 2}), std::set<long long>(ids.begin(), ids.end())) << name;
      EXPECT_EQ(2u, ids.size()) << name;
    }
    EXPECT_EQ(0u, run.Rows("bad").size());
  }
  for (int i = 0; i < 5; ++i) {  // stopped before its thread has registered
    AgentRun quick("event q NTEVTLOG where LOGNAME EQ \"System\"\n");
    quick.Stop();
    EXPECT_EQ(0u, sys.Store().Watchers());
  }
}

}  // namespace

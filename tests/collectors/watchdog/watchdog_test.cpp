// The watchdog on the platform: a real test process and a real test service,
// described by capability files, driven by take-action commands through the
// framework's command routing, with their alerts pushed to an event request
// and kept for reports. Every wait is for a condition.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "collectors/perf/perf_values.h"
#include "collectors/watchdog/wdg_service.h"
#include "framework/cfw_runtime.h"
#include "tables/tables.h"

namespace {

using osm::perf::FieldOf;

const char kService[] = "osm_wdg_testsvc";

bool WaitFor(const std::function<bool()>& done) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return done();
}

std::string ExeFolder() {
  char path[MAX_PATH];
  std::string p(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
  return p.substr(0, p.find_last_of('\\') + 1);
}

class ActionRequest : public dcfa {
 public:
  ActionRequest(RequestDetail& d, ContextInfo& c) : dcfa(d, c, nullptr) { MarkAutomation(); }
  int TakeSample() override { return 0; }
};

typedef std::vector<char> Row;

class Watchdog : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = std::string(std::getenv("TEMP") ? std::getenv("TEMP") : ".") + "\\osm_wdg_" +
              std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder_.c_str(), nullptr);
    std::string exe = ExeFolder();
    Write("proc.cap", "Name = proc\nProcess = wdg_testproc.exe\nStart = \"" + exe +
                          "wdg_testproc.exe\" 0 OSM-WDG-GTEST\nCheckFrequency = 1\nMaxRestarts = 1\nBuild = 7\n");
    Write("svc.cap", "Name = svc\nKind = service\nService = osm_wdg_testsvc\nProcess = wdg_testsvc.exe\n");
    Write("zdup.cap", "Id = proc\nName = other\nProcess = other.exe\nStart = other.exe\nManaged = no\n");
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE svc = CreateServiceA(scm, kService, kService, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                   SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, (exe + "wdg_testsvc.exe").c_str(),
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
    CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    SetEnvironmentVariableA("OSM_WATCHDOG_DIR", folder_.c_str());
    output_ = folder_ + ".jsonl";
    cfw::OpenOutput(output_.c_str());
    for (int (*init)() : {osm_osmwdgcap_init, osm_osmwdgmgmt_init, osm_osmwdgstat_init, osm_osmwdgalrt_init}) init();
    StartWatchdogQueryService("NT");
  }
  static void TearDownTestSuite() {
    Act("WDM_Stop_Agent \"proc\" \"wdg_testproc.exe\"");
    Act("WDM_Stop_Agent \"svc\" \"wdg_testsvc.exe\"");
    StopWatchdogQueryService(0);
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE svc = OpenServiceA(scm, kService, SERVICE_ALL_ACCESS);
    DeleteService(svc);
    CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    cfw::CloseOutput();
    for (const char* f : {"proc.cap", "svc.cap", "zdup.cap"}) DeleteFileA((folder_ + "\\" + f).c_str());
    RemoveDirectoryA(folder_.c_str());
    DeleteFileA(output_.c_str());
  }
  static void Write(const char* name, const std::string& text) {
    std::ofstream(folder_ + "\\" + name, std::ios::binary) << text;
  }

  // A command through the framework's routing to the handler of "NT".
  static std::string Act(const std::string& command) {
    RequestDetail d = cfw::MakeDetail("OSM", "", "act", 0, 0);
    ContextInfo c = cfw::NewContext(nullptr);
    ActionRequest request(d, c);
    DcfaAutomationCapsule capsule(&request, "NT", command.c_str());
    request.ExecuteCommand(&capsule);
    return std::to_string(capsule.Results()) + " " + capsule.Message();
  }
  dcfa* Open(const char* table, int sampleType) {
    RequestDetail d = cfw::MakeDetail("OSM", table, "E", 0, sampleType);
    ContextInfo c = cfw::NewContext(nullptr);
    dcfa* r = cfw::FindManager(table)->CreateRequest(d, c);
    cfw::OpenRequest(r);
    return r;
  }
  std::vector<Row> Report(const char* table) {
    dcfa* r = Open(table, DCF_SAMPLE_REPORT);
    EXPECT_EQ(0, r->TakeSample());
    std::vector<Row> rows;
    for (int i = 0; i < r->_data.count; ++i)
      rows.emplace_back(r->_data.rows + i * r->_data.rowSize, r->_data.rows + (i + 1) * r->_data.rowSize);
    cfw::CloseRequest(r);
    return rows;
  }
  static std::string Text(const Row& row, const char* table, const char* name) {
    osm::perf::RowField f = FieldOf(table, name);
    std::string s(row.data() + f.offset, f.width);
    return s.substr(0, s.find_last_not_of(' ') + 1);
  }
  static std::int64_t Int(const Row& row, const char* table, const char* name) {
    osm::perf::RowField f = FieldOf(table, name);
    return f.width == 8 ? osm::perf::GetInt64(row.data(), f) : osm::perf::GetInt32(row.data(), f);
  }
  // A value of the agent's OSMWDGSTAT row now.
  std::int64_t Stat(const char* agent, const char* name) {
    for (const Row& r : Report("OSMWDGSTAT"))
      if (Text(r, "OSMWDGSTAT", "WDGAGTNAME") == agent) return Int(r, "OSMWDGSTAT", name);
    return -1;
  }
  // The MESSAGE values pushed to the event request so far.
  std::string PushedMessages() {
    std::ifstream in(output_, std::ios::binary);
    std::string messages;
    for (std::string line; std::getline(in, line);) {
      std::size_t at = line.find("\"MESSAGE\":");
      if (line.find("\"request\":\"E\"") != std::string::npos && at != std::string::npos)
        messages += line.substr(at + 10, line.find(',', at) - at - 10);
    }
    return messages;
  }
  static bool Ended(std::int64_t pid) {
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    bool ended = !h || WaitForSingleObject(h, 10000) == WAIT_OBJECT_0;
    if (h) CloseHandle(h);
    return ended;
  }
  static void Kill(std::int64_t pid) {
    HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    ASSERT_TRUE(h && TerminateProcess(h, 9));
    WaitForSingleObject(h, 10000);
    CloseHandle(h);
  }

  static std::string folder_, output_;
};
std::string Watchdog::folder_, Watchdog::output_;

TEST_F(Watchdog, AProcessIsStartedStoppedAndRestartedWithinItsLimit) {
  dcfa* events = Open("OSMWDGALRT", DCF_SAMPLE_EVENT);
  const std::string start = "WDM_Start_Agent \"proc\" \"wdg_testproc.exe\"";
  EXPECT_EQ("0 Agent starting", Act(start));
  std::int64_t p1 = Stat("proc", "PID");
  ASSERT_GT(p1, 0);
  EXPECT_GT(Stat("proc", "WSSIZE"), 0);
  EXPECT_EQ("-1 An error occurred. Please check the event log for details.",
            Act("WDM_Stop_Agent \"proc\" \"wdg_testproc.exe\" " + std::to_string(p1 + 1)))
      << "not the agent's process";
  EXPECT_EQ("0 Agent stopping", Act("WDM_Stop_Agent \"proc\" \"wdg_testproc.exe\" " + std::to_string(p1)));
  EXPECT_TRUE(Ended(p1));
  EXPECT_EQ("0 Agent starting", Act(start));
  std::int64_t p2 = Stat("proc", "PID");
  EXPECT_NE(p1, p2);

  // A crash is repaired once (MaxRestarts 1); the second is left at the limit
  // until a start with reset.
  Kill(p2);
  ASSERT_TRUE(WaitFor([&] { return Stat("proc", "RESTARTS") == 1 && Stat("proc", "PID") > 0; }));
  Kill(Stat("proc", "PID"));
  ASSERT_TRUE(WaitFor([&] { return Stat("proc", "STATUS") == 6; }));
  EXPECT_EQ("0 Agent starting", Act(start + " 1"));
  EXPECT_EQ(1, Stat("proc", "STATUS"));
  EXPECT_EQ(0, Stat("proc", "RESTARTS"));
  // started, stopped, started, crashed, restarted, crashed, limit, started
  EXPECT_TRUE(WaitFor([&] { return PushedMessages() == "18164691"; })) << PushedMessages();
  cfw::CloseRequest(events);
}

TEST_F(Watchdog, AServiceIsStartedAndStoppedThroughTheServiceManager) {
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE svc = OpenServiceA(scm, kService, SERVICE_QUERY_STATUS);
  auto state = [&] {
    SERVICE_STATUS_PROCESS s{};
    DWORD size = 0;
    QueryServiceStatusEx(svc, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&s), sizeof s, &size);
    return s;
  };
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ("0 Agent starting", Act("WDM_Start_Agent \"svc\" \"wdg_testsvc.exe\""));
    ASSERT_TRUE(WaitFor([&] { return state().dwCurrentState == SERVICE_RUNNING; }));
    ASSERT_TRUE(WaitFor([&] { return Stat("svc", "PID") == state().dwProcessId; }));
    EXPECT_EQ("0 Agent stopping", Act("WDM_Stop_Agent \"svc\" \"wdg_testsvc.exe\""));
    ASSERT_TRUE(WaitFor([&] { return state().dwCurrentState == SERVICE_STOPPED; }));
  }
  CloseServiceHandle(svc);
  CloseServiceHandle(scm);
}

TEST_F(Watchdog, CapabilityAndManagementRowsFollowTheCommands) {
  std::vector<Row> caps = Report("OSMWDGCAP");
  ASSERT_EQ(2u, caps.size()) << "zdup.cap repeats the id of proc.cap";
  EXPECT_EQ("proc", Text(caps[0], "OSMWDGCAP", "WDGID"));
  EXPECT_EQ("svc", Text(caps[1], "OSMWDGCAP", "WDGAGTNAME"));
  EXPECT_EQ(2, Int(caps[1], "OSMWDGCAP", "MGTYPE"));
  EXPECT_EQ("0 Agent no longer managed.", Act("WDM_Stop_Manage \"svc\""));
  std::vector<Row> mgmt = Report("OSMWDGMGMT");
  ASSERT_EQ(2u, mgmt.size());
  EXPECT_EQ(0, Int(mgmt[1], "OSMWDGMGMT", "MGMTSTAT"));
  EXPECT_EQ("7", Text(mgmt[0], "OSMWDGMGMT", "BUILDNUM"));
  EXPECT_EQ("0 Agent now managed.", Act("WDM_Start_Manage \"svc\""));
  EXPECT_EQ(1, Int(Report("OSMWDGMGMT")[1], "OSMWDGMGMT", "MGMTSTAT"));
  EXPECT_EQ("-1 An error occurred. Please check the event log for details.", Act("WDM_Start_Manage \"nobody\""));
  EXPECT_EQ("-1 Invalid input.", Act("WDM_Start_Agent \"svc\""));
}

TEST_F(Watchdog, AlertsAreKeptForReportsForTwentyFourHours) {
  std::int64_t now = std::time(nullptr) + 10 * 86400;  // every earlier alert has expired
  osm::wdg::Alerts().SetClock([&now] { return now; });
  dcfa* events = Open("OSMWDGALRT", DCF_SAMPLE_EVENT);
  WDC_Alert alert;
  alert.agentName = L"proc";
  alert.messageId = 12;
  alert.time = now;
  osm::wdg::AlertListener().alertNotification(alert);
  alert.messageId = 14;
  alert.managedState = 7;  // no row
  osm::wdg::AlertListener().alertNotification(alert);
  EXPECT_TRUE(WaitFor([&] { return PushedMessages().find('5') != std::string::npos; }));
  for (std::int64_t age : {86399, 86400}) {
    now = alert.time + age;
    std::vector<Row> kept = Report("OSMWDGALRT");
    ASSERT_EQ(age < 86400 ? 1u : 0u, kept.size()) << age;
    if (!kept.empty()) {
      EXPECT_EQ(5, Int(kept[0], "OSMWDGALRT", "MESSAGE"));
    }
  }
  cfw::CloseRequest(events);
  osm::wdg::Alerts().SetClock([] { return static_cast<std::int64_t>(std::time(nullptr)); });
}

}  // namespace

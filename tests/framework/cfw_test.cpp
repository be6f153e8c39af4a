// The framework runtime driven through cfwmain with the OSMTEST table.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "framework/cfw.h"
#include "framework/cfw_runtime.h"
#include "framework/osmtest_table.h"
#include "framework/ras1.h"

namespace {

using osmtest::MakeRow;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The raw value of "key" in a JSON line: the text between the quotes of a
// string (still escaped), or the literal of a number.
std::string Field(const std::string& line, const std::string& key) {
  std::string probe = "\"" + key + "\":";
  std::size_t at = line.find(probe);
  if (at == std::string::npos) return "<absent>";
  at += probe.size();
  if (line[at] == '"') {
    std::size_t end = at + 1;
    while (end < line.size() && line[end] != '"') end += line[end] == '\\' ? 2 : 1;
    return line.substr(at + 1, end - at - 1);
  }
  std::size_t end = line.find_first_of(",}", at);
  return line.substr(at, end - at);
}

bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

int Loader() { return osm_osmtest_init(); }

class Framework : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string base = ::testing::TempDir() + "cfw_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name();
    requests_ = base + ".req";
    output_ = base + ".jsonl";
    log_ = base + ".log";
    for (const std::string& p : {requests_, output_, log_}) std::remove(p.c_str());
    BSS1_PutEnv(("OSM_REQUESTS=" + requests_).c_str());
    BSS1_PutEnv(("OSM_OUTPUT=" + output_).c_str());
    BSS1_PutEnv(("OSM_FRAMEWORK_LOG=" + log_).c_str());
    BSS1_PutEnv("OSM_EXIT_WHEN_DONE=");
    BSS1_PutEnv("OSM_SHUTDOWN_WAIT=");
    osmtest::ResetScript();
    DCF_RegisterAgentLoader(&Loader);
    constructed0_ = osmtest::constructed;
    destroyed0_ = osmtest::destroyed;
  }
  void TearDown() override {
    if (runner_.joinable()) Stop();
    EXPECT_EQ(osmtest::constructed - constructed0_, osmtest::destroyed - destroyed0_)
        << "every request object is destroyed";
    for (const std::string& p : {requests_, output_, log_}) std::remove(p.c_str());
  }

  void Requests(const std::string& text) {
    std::ofstream out(requests_, std::ios::binary);
    out << text;
  }
  void Rows(const std::vector<osmtest::Row>& rows) {
    std::lock_guard<std::mutex> guard(osmtest::TheScript().lock);
    osmtest::TheScript().rows = rows;
  }
  int RunToEnd() {
    BSS1_PutEnv("OSM_EXIT_WHEN_DONE=Y");
    return cfwmain(1, Argv());
  }
  void Start() {
    runner_ = std::thread([this] { rc_ = cfwmain(1, Argv()); });
  }
  void Stop() {
    DCF_Shutdown(1);
    runner_.join();
    EXPECT_EQ(0, rc_);
  }
  // The output lines of one record kind, optionally of one request.
  std::vector<std::string> Records(const std::string& kind, const std::string& request = "") {
    std::vector<std::string> out;
    std::istringstream in(ReadAll(output_));
    std::string line;
    while (std::getline(in, line)) {
      if (Field(line, "record") != kind) continue;
      if (!request.empty() && Field(line, "request") != request) continue;
      out.push_back(line);
    }
    return out;
  }
  std::vector<std::string> Names(const std::string& request) {
    std::vector<std::string> names;
    for (const std::string& r : Records("row", request)) names.push_back(Field(r, "NAME"));
    return names;
  }
  static char** Argv() {
    static char name[] = "mx_agent";
    static char empty[] = "";
    static char* argv[] = {name, empty, nullptr};
    return argv;
  }

  std::string requests_, output_, log_;
  std::thread runner_;
  int rc_ = -1;
  int constructed0_ = 0, destroyed0_ = 0;
};

TEST_F(Framework, ReportIsAnsweredOnceThenDestroyedAndTablesArePublished) {
  Rows({MakeRow("a", "\xC3\xA9t\xC3\xA9", 1, -2), MakeRow("b\"q", "x", 7, 9000000000LL)});
  Requests("report R1 OSMTEST\n");
  ASSERT_EQ(0, RunToEnd());

  ASSERT_EQ(1u, Records("agent").size());
  std::vector<std::string> tables = Records("table");
  ASSERT_EQ(1u, tables.size());
  EXPECT_EQ("OSMTEST", Field(tables[0], "table"));
  EXPECT_EQ("108", Field(tables[0], "rowsize"));
  EXPECT_NE(std::string::npos,
            tables[0].find("{\"name\":\"TOTAL\",\"type\":\"int64\",\"code\":13,\"width\":8,\"offset\":92}"));

  std::vector<std::string> rows = Records("row", "R1");
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ("report", Field(rows[0], "kind"));
  EXPECT_EQ("OSMTEST", Field(rows[0], "table"));
  EXPECT_EQ("node1", Field(rows[0], "ORIGINNODE"));
  EXPECT_EQ("a", Field(rows[0], "NAME"));
  EXPECT_EQ("\xC3\xA9t\xC3\xA9", Field(rows[0], "UNAME"));
  EXPECT_EQ("1", Field(rows[0], "COUNT"));
  EXPECT_EQ("-2", Field(rows[0], "TOTAL"));
  EXPECT_EQ("b\\\"q", Field(rows[1], "NAME"));
  EXPECT_EQ("9000000000", Field(rows[1], "TOTAL"));  // misaligned in the batch
  EXPECT_EQ(24u, Field(rows[1], "time").size());

  std::vector<std::string> answers = Records("answered", "R1");
  ASSERT_EQ(1u, answers.size());
  EXPECT_EQ("2", Field(answers[0], "rows"));
  EXPECT_EQ("0", Field(answers[0], "status"));
  EXPECT_EQ(1, osmtest::constructed - constructed0_);
  EXPECT_EQ(1, osmtest::destroyed - destroyed0_);
}

TEST_F(Framework, AFailingCollectorShipsNoRowsAndOthersAreServed) {
  Rows({MakeRow("a", "", 1, 0), MakeRow("b", "", 7, 0)});
  {
    std::lock_guard<std::mutex> guard(osmtest::TheScript().lock);
    osmtest::TheScript().failRequest = "R2";
  }
  Requests(
      "report R1 OSMTEST where COUNT GT 5\n"
      "report R2 OSMTEST\n"
      "report R3 OSMTEST where NAME EQ \"a\" OR COUNT EQ 7\n");
  ASSERT_EQ(0, RunToEnd());
  EXPECT_EQ(std::vector<std::string>{"b"}, Names("R1"));
  EXPECT_TRUE(Names("R2").empty());
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), Names("R3"));
  std::vector<std::string> failed = Records("answered", "R2");
  ASSERT_EQ(1u, failed.size());
  EXPECT_EQ("0", Field(failed[0], "rows"));
  EXPECT_EQ("TakeSample threw: collector failed", Field(failed[0], "error"));
  EXPECT_NE(std::string::npos, ReadAll(log_).find("request R2 on OSMTEST: TakeSample threw"));
}

TEST_F(Framework, SituationFiresOnlyOnRowsMeetingItsCondition) {
  Rows({MakeRow("a", "", 1, 0), MakeRow("b", "", 7, 0), MakeRow("skip", "", 9, 0),
        MakeRow("c", "", 0, 5)});
  Requests("situation S1 OSMTEST every 1 where COUNT GT 5 AND NAME NE \"skip\" OR TOTAL EQ 5\n");
  Start();
  ASSERT_TRUE(WaitFor([&] { return Records("row", "S1").size() >= 2; }));
  Stop();
  std::vector<std::string> names = Names("S1");
  ASSERT_EQ(0u, names.size() % 2);
  for (std::size_t i = 0; i < names.size(); i += 2) {
    EXPECT_EQ("b", names[i]);
    EXPECT_EQ("c", names[i + 1]);
  }
  EXPECT_EQ("situation", Field(Records("row", "S1")[0], "kind"));
  EXPECT_TRUE(Records("answered").empty());  // only reports are answered
}

TEST_F(Framework, PushedRowsReachEveryOpenSituationAndNoReport) {
  Requests(
      "event E1 OSMTEST\n"
      "event E2 OSMTEST where NAME EQ \"a\"\n"
      "report R1 OSMTEST every 3600\n");
  Start();
  ASSERT_TRUE(WaitFor([] {
    TableManager* m = cfw::FindManager("OSMTEST");
    if (m == nullptr) return false;
    m->lock();
    int n = m->RequestList()->Count();
    m->unlock();
    return n == 2;
  }));
  ASSERT_TRUE(WaitFor([&] { return Records("answered", "R1").size() == 1; }));
  EXPECT_EQ(DCF_E_STATE, cfwmain(1, Argv()));  // one framework at a time

  std::vector<char> batch = osmtest::Batch({MakeRow("a", "", 1, 1), MakeRow("b", "", 2, 2), MakeRow("c", "", 3, 3)});
  EXPECT_EQ(0, EventArrived_osm_osmtest(batch.data(), 3));
  EXPECT_EQ(0, EventArrived_osm_osmtest(batch.data(), 0));
  Stop();

  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), Names("E1"));
  EXPECT_EQ(std::vector<std::string>{"a"}, Names("E2"));
  EXPECT_EQ("event", Field(Records("row", "E1")[0], "kind"));
  EXPECT_TRUE(Names("R1").empty());
  EXPECT_EQ(1u, Records("answered", "R1").size());

  // After shut-down nothing is open: pushed rows go nowhere.
  std::size_t before = ReadAll(output_).size();
  EXPECT_EQ(0, EventArrived_osm_osmtest(batch.data(), 3));
  EXPECT_EQ(before, ReadAll(output_).size());
}

TEST_F(Framework, ShutdownWaitsForSamplesInFlightAndDestroysInOpeningOrder) {
  {
    std::lock_guard<std::mutex> guard(osmtest::TheScript().lock);
    osmtest::TheScript().sleepMs = 300;
  }
  Rows({MakeRow("a", "", 1, 0)});
  Requests(
      "situation S1 OSMTEST every 1 where COUNT GE 0\n"
      "event E1 OSMTEST\n"
      "situation S2 OSMTEST every 1 where COUNT GE 0\n");
  Start();
  ASSERT_TRUE(WaitFor([] { return osmtest::insideSample == 2; }));
  Stop();
  EXPECT_EQ(0, osmtest::insideSample.load()) << "no thread is left inside the table";
  std::lock_guard<std::mutex> guard(osmtest::TheScript().lock);
  EXPECT_EQ((std::vector<std::string>{"S1", "E1", "S2"}), osmtest::TheScript().destroyedNames);
  // The samples in flight completed and shipped their rows.
  EXPECT_EQ(std::vector<std::string>{"a"}, Names("S1"));
}

TEST_F(Framework, ShutdownIsBoundedWhenASampleHangs) {
  BSS1_PutEnv("OSM_SHUTDOWN_WAIT=1");
  {
    std::lock_guard<std::mutex> guard(osmtest::TheScript().lock);
    osmtest::TheScript().sleepMs = 2500;
  }
  Requests("situation S1 OSMTEST every 1 where COUNT GE 0\n");
  Start();
  ASSERT_TRUE(WaitFor([] { return osmtest::insideSample == 1; }));
  auto t0 = std::chrono::steady_clock::now();
  Stop();
  auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(took, std::chrono::milliseconds(2200));
  EXPECT_NE(std::string::npos, ReadAll(log_).find("request S1 is still inside its table"));
  // The request is closed as soon as its sample returns.
  EXPECT_TRUE(WaitFor([&] { return osmtest::destroyed - destroyed0_ == 1; }, 5000));
  EXPECT_EQ(0, osmtest::insideSample.load());
}

TEST_F(Framework, RepeatingAnswersStayApartAfterASlowFirstSample) {
  // The first sample waits (as for a table's first snapshot); the answers
  // after it still keep the interval.
  std::mutex m;
  std::vector<std::chrono::steady_clock::time_point> answered;
  {
    std::lock_guard<std::mutex> guard(osmtest::TheScript().lock);
    osmtest::TheScript().inside = [&] {
      std::lock_guard<std::mutex> g(m);
      if (answered.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(800));
      answered.push_back(std::chrono::steady_clock::now());
    };
  }
  Requests("report R1 OSMTEST every 1\n");
  Start();
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> g(m);
    return answered.size() >= 3;
  }, 8000));
  Stop();
  std::lock_guard<std::mutex> g(m);
  for (std::size_t i = 1; i < answered.size(); ++i)
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(answered[i] - answered[i - 1]).count(), 900)
        << "answer " << i;
}

TEST_F(Framework, ShutdownBeforeStartEndsTheNextRunAtOnce) {
  Requests("situation S1 OSMTEST every 60 where COUNT GE 0\n");
  DCF_Shutdown(1);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(0, cfwmain(1, Argv()));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
  // The request did not outlive the run, and the stop was used up.
  BSS1_PutEnv("OSM_EXIT_WHEN_DONE=Y");
  Requests("");
  EXPECT_EQ(0, cfwmain(1, Argv()));
}

TEST_F(Framework, BadRequestLinesAreReportedAndTheOthersServed) {
  Requests(
      "report R1 OSMTEST\n"
      "report R2 NOSUCH\n"
      "situation S1 OSMTEST every 5 where SIZE GT 1\n"
      "report R3 OSMTEST where COUNT EQ \"x\"\n"
      "report R4 OSMTEST\n"
      "export X1 OSMTEST every 5\n");
  BSS1_PutEnv("OSM_METRICS_URL=");
  ASSERT_EQ(0, RunToEnd());
  std::string log = ReadAll(log_);
  EXPECT_NE(std::string::npos, log.find(requests_ + "(2): unknown table NOSUCH"));
  EXPECT_NE(std::string::npos, log.find(requests_ + "(3): unknown attribute SIZE in table OSMTEST"));
  EXPECT_NE(std::string::npos, log.find(requests_ + "(4): COUNT is an integer attribute"));
  EXPECT_NE(std::string::npos, log.find(requests_ + "(6): the metrics endpoint is off (OSM_METRICS_URL)"));
  EXPECT_EQ(1u, Records("answered", "R1").size());
  EXPECT_EQ(1u, Records("answered", "R4").size());
  EXPECT_EQ(2u, Records("answered").size());
}

TEST_F(Framework, WithoutRequestsTheFrameworkPublishesAndEnds) {
  ASSERT_EQ(0, RunToEnd());  // no requests file at all
  EXPECT_EQ(1u, Records("table").size());
  EXPECT_NE(std::string::npos, ReadAll(log_).find("not found; no requests"));
}

// Take-action handler of the tests: finishes "ok" commands itself, leaves
// "leave" commands to the framework with a failure return.
bool sawAutomationRequest = false;
int Handler(DcfaAutomationCapsule* capsule) {
  sawAutomationRequest = capsule->Request() && capsule->Request()->IsAutomationRequest();
  if (std::string(capsule->Command()).find("leave") == 0) return 1;
  capsule->SetResults(0);
  capsule->SetMessage((std::string("done: ") + capsule->Command()).c_str());
  EXPECT_EQ(DCF_OK, capsule->Request()->FinishedAutomationCommand(capsule));
  EXPECT_EQ(DCF_E_STATE, capsule->Request()->FinishedAutomationCommand(capsule));
  return 0;
}

TEST_F(Framework, TakeActionCommandsReachTheProductsCallback) {
  DCF_RegisterCommandCallback("NT", &Handler);
  Requests(
      "action A1 NT ok \"agent one\" \"proc\" 1\n"
      "action A2 ZZ ok\n"
      "action A3 nt leave it\n");
  ASSERT_EQ(0, RunToEnd());
  DCF_RegisterCommandCallback("NT", nullptr);
  EXPECT_TRUE(sawAutomationRequest);

  std::vector<std::string> a1 = Records("action", "A1");
  ASSERT_EQ(1u, a1.size());
  EXPECT_EQ("NT", Field(a1[0], "product"));
  EXPECT_EQ("ok \\\"agent one\\\" \\\"proc\\\" 1", Field(a1[0], "command"));
  EXPECT_EQ("0", Field(a1[0], "result"));
  EXPECT_EQ("done: ok \\\"agent one\\\" \\\"proc\\\" 1", Field(a1[0], "message"));

  std::vector<std::string> a2 = Records("action", "A2");
  ASSERT_EQ(1u, a2.size());
  EXPECT_EQ("-1", Field(a2[0], "result"));
  EXPECT_EQ("No command handler is registered for this product.", Field(a2[0], "message"));

  std::vector<std::string> a3 = Records("action", "A3");
  ASSERT_EQ(1u, a3.size());
  EXPECT_EQ("-1", Field(a3[0], "result"));
}

TEST_F(Framework, LogAndHostName) {
  EXPECT_EQ(DCF_OK, DCFA_insert_log("KNTWDM001", "agent started", "WDL"));
  EXPECT_NE(std::string::npos, ReadAll(log_).find(" WDL KNTWDM001 agent started\n"));

  char wide[256];
  ASSERT_EQ(DCF_OK, DetermineLocalHost(wide, sizeof wide));
  EXPECT_STREQ(DCF_GetNodeSystemName(), wide);
  EXPECT_GT(std::string(wide).size(), 0u);
  char narrow[4] = {'x', 'x', 'x', 'x'};
  ASSERT_EQ(DCF_OK, DetermineLocalHost(narrow, 4));
  EXPECT_EQ(std::string(wide).substr(0, 3), narrow);  // cut, still terminated
  EXPECT_EQ(DCF_E_BADARG, DetermineLocalHost(nullptr, 4));
}

}  // namespace

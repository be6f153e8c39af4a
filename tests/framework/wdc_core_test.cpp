// The local watchdog's capability files and supervision, with a fake platform
// and a clock the tests set.
#include <gtest/gtest.h>

#include <map>

#include "framework/wdc_supervisor.h"

namespace {

using namespace wdc;

TEST(WatchdogCapability, ReadsEveryKeyAndNamesEachProblem) {
  AgentCapability c;
  std::vector<std::string> problems;
  ASSERT_TRUE(ParseCapability("# ux\nname = ux\nPROCESS=ux.exe\nKind=service\nService=uxsvc\nCheckFrequency=5\n"
                              "MaxRestarts=2\nMemoryThreshold=3\nMemoryUnit=kb\nCpuThreshold=50\nManaged=no\n"
                              "AgentType=7\nColour=red\nMaxRestarts=x\nbroken\n",
                              "ux.cap", &c, &problems));
  EXPECT_EQ("ux", c.id) << "the file name without extension";
  EXPECT_EQ(kManageService, c.kind);
  EXPECT_EQ(5, c.checkFrequency);
  EXPECT_EQ(2, c.maxRestarts) << "a bad value leaves the earlier one";
  EXPECT_EQ(3 * 1024, c.MemoryThresholdBytes());
  EXPECT_EQ(50, c.cpuThreshold);
  EXPECT_FALSE(c.managed);
  EXPECT_EQ(7, c.agentType);
  EXPECT_EQ((std::vector<std::string>{"ux.cap(13): unknown key Colour", "ux.cap(14): bad value for MaxRestarts: x",
                                      "ux.cap(15): no '=' in the line"}),
            problems);
  for (const char* text : {"Process=a.exe\nStart=a", "Name=a\nStart=a", "Name=a\nProcess=a", "Name=a\nProcess=a\nKind=service"})
    EXPECT_FALSE(ParseCapability(text, "a.cap", &c, &problems)) << text;
}

// Processes of the fake platform, by agent name.
struct FakeControl : AgentControl {
  std::map<std::string, ProcessFigures> live;
  std::uint32_t nextPid = 100;
  int starts = 0;
  bool Start(const AgentCapability& a, std::uint32_t* pid, std::string*) override {
    ++starts;
    ProcessFigures& f = live[a.name];
    f.running = true;
    *pid = f.pid = ++nextPid;
    return true;
  }
  bool Stop(const AgentCapability& a, std::uint32_t, std::string*) override { return live.erase(a.name) == 1; }
  ProcessFigures Probe(const AgentCapability& a, std::uint32_t) override {
    auto it = live.find(a.name);
    return it == live.end() ? ProcessFigures() : it->second;
  }
  int Processors() override { return 2; }
};

class Supervision : public ::testing::Test {
 protected:
  Supervision() : watchdog_(&platform_, [this] { return now_; }, {[this](const Alert& a) { alerts_.push_back(a.messageId); }, nullptr}) {
    AgentCapability c;
    c.name = "ux";
    c.process = "ux.exe";
    c.start = "ux.exe";
    c.maxRestarts = 2;
    c.checkFrequency = 10;
    c.memoryThreshold = 1;  // MB
    watchdog_.Load({c});
  }
  // Ends the agent's process, lets the clock run to the next check.
  std::vector<int> CrashAndCheck(std::int64_t later) {
    platform_.live.erase("ux");
    return CheckAt(later);
  }
  std::vector<int> CheckAt(std::int64_t at) {
    now_ = at;
    alerts_.clear();
    watchdog_.CheckDue(false);
    return alerts_;
  }
  int Status() { return watchdog_.Snapshot()[0].status; }

  FakeControl platform_;
  std::int64_t now_ = 1000000;
  std::vector<int> alerts_;
  Supervisor watchdog_;
};

TEST_F(Supervision, RestartsWithinTheDailyBudgetThenGivesUpUntilReset) {
  ASSERT_TRUE(watchdog_.StartAgent("UX", false, "UX", ""));
  EXPECT_EQ((std::vector<int>{kAlertStarted}), alerts_);
  EXPECT_EQ((std::vector<int>{kAlertStoppedUnexpectedly, kAlertRestarted}), CrashAndCheck(now_ + 10));
  EXPECT_EQ((std::vector<int>{}), CheckAt(now_ + 5)) << "not due yet";
  EXPECT_EQ((std::vector<int>{kAlertStoppedUnexpectedly, kAlertRestarted}), CrashAndCheck(now_ + 5));
  EXPECT_EQ((std::vector<int>{kAlertStoppedUnexpectedly, kAlertRestartLimit}), CrashAndCheck(now_ + 10));
  EXPECT_EQ(kStatusRestartLimit, Status());
  EXPECT_EQ((std::vector<int>{}), CheckAt(now_ + 10)) << "the limit is reported once";
  // The first restart leaves the 24-hour window: one restart is allowed again.
  EXPECT_EQ((std::vector<int>{kAlertRestarted}), CheckAt(1000010 + 86400));
  EXPECT_EQ(2, watchdog_.Snapshot()[0].restarts);
  platform_.live.erase("ux");
  ASSERT_TRUE(watchdog_.StartAgent("ux", true, "ux.exe", "i1"));
  EXPECT_EQ((std::vector<int>{kAlertStoppedUnexpectedly, kAlertRestarted}), CrashAndCheck(now_ + 10)) << "reset";
  EXPECT_EQ(6, platform_.starts);
}

TEST_F(Supervision, NoRestartWhenDisarmedStoppedOnRequestOrUnmanaged) {
  for (int setup = 0; setup < 3; ++setup) {
    ASSERT_TRUE(watchdog_.StartAgent("ux", true, "ux.exe", ""));
    ASSERT_TRUE(watchdog_.SetManaged("ux", true));
    watchdog_.SetArmed(true);
    CheckAt(now_ + 10);
    bool ok = setup == 0 ? (watchdog_.SetArmed(false), true)
              : setup == 1 ? watchdog_.StopAgent("ux", "ux.exe", 0)
                           : watchdog_.SetManaged("ux", false);
    EXPECT_TRUE(ok) << setup;
    int starts = platform_.starts;
    std::vector<int> raised = CrashAndCheck(now_ + 10);
    EXPECT_EQ(starts, platform_.starts) << setup;
    EXPECT_EQ(kStatusNotRunning, Status()) << setup;
    EXPECT_EQ(setup == 0 ? std::vector<int>{kAlertStoppedUnexpectedly} : std::vector<int>{}, raised) << setup;
  }
}

TEST_F(Supervision, ThresholdAlertsOncePerCrossing) {
  ASSERT_TRUE(watchdog_.StartAgent("ux", false, "ux.exe", ""));
  const struct {
    std::int64_t workingSet;
    std::vector<int> alerts;
    int status;
  } steps[] = {{2 << 20, {kAlertMemory}, kStatusOverThreshold},
               {3 << 20, {}, kStatusOverThreshold},
               {1 << 20, {}, kStatusRunning},
               {2 << 20, {kAlertMemory}, kStatusOverThreshold}};
  for (const auto& s : steps) {
    platform_.live["ux"].workingSet = s.workingSet;
    EXPECT_EQ(s.alerts, CheckAt(now_ + 10)) << s.workingSet;
    EXPECT_EQ(s.status, Status()) << s.workingSet;
  }
}

TEST_F(Supervision, CommandsRefuseOtherAgentsProcessesAndIds) {
  ASSERT_TRUE(watchdog_.StartAgent("ux", false, "ux", ""));
  std::uint32_t pid = watchdog_.Snapshot()[0].pid;
  EXPECT_FALSE(watchdog_.StartAgent("uy", false, "ux.exe", ""));
  EXPECT_FALSE(watchdog_.StartAgent("ux", false, "uy.exe", ""));
  EXPECT_FALSE(watchdog_.StopAgent("ux", "ux.exe", pid + 1));
  EXPECT_FALSE(watchdog_.SetManaged("uy", false));
  EXPECT_TRUE(watchdog_.StopAgent("ux", "ux.exe", pid));
  EXPECT_EQ(0u, platform_.live.count("ux"));
}

TEST(WatchdogFigures, ProcessorPercentOfTheWholeMachine) {
  // 1 s of processor time in 1 s on 2 processors is 50 %.
  EXPECT_EQ(50, CpuPercent(0, 10000000, 0, 10000000, 2));
  EXPECT_EQ(100, CpuPercent(0, 50000000, 0, 10000000, 2));
  EXPECT_EQ(0, CpuPercent(5, 5, 0, 0, 2));
}

}  // namespace

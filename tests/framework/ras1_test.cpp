#include "framework/ras1.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class TraceFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = std::string(::testing::TempDir()) + "ras1_test_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".trc";
    std::remove(path_.c_str());
    RAS1_SetDestination(path_.c_str());
  }
  void TearDown() override {
    RAS1_SetDestination(nullptr);
    RAS1_Configure(nullptr);
    std::remove(path_.c_str());
  }
  std::string Contents() {
    RAS1_Close();
    return ReadFile(path_);
  }
  std::string path_;
};

unsigned MaskOf(RAS1_EPB* unit) { return RAS1_Mask(unit); }

RAS1_EPB* UnitMxMain() {
  RAS1_UNIT("MxMain");
  return &RAS1__EPB_;
}
RAS1_EPB* UnitCollector() {
  RAS1_UNIT("osm_wtmemory_agent::TakeSample");
  return &RAS1__EPB_;
}

TEST_F(TraceFile, LevelsFilterPerUnitAndRefreshOnReconfiguration) {
  RAS1_Configure(nullptr);
  EXPECT_EQ(RAS1_ERROR, MaskOf(UnitMxMain()));

  RAS1_Configure("FLOW,MxMain=ALL");
  EXPECT_EQ(RAS1_ALL, MaskOf(UnitMxMain()));
  EXPECT_EQ(RAS1_FLOW, MaskOf(UnitCollector()));

  // A prefix rule; later items win for the units they name.
  RAS1_Configure("error osm_wt*=detail+flow MxMain=none");
  EXPECT_EQ(RAS1_DETAIL | RAS1_FLOW, MaskOf(UnitCollector()));
  EXPECT_EQ(0u, MaskOf(UnitMxMain()));

  // Unreadable items are skipped, the rest applies.
  RAS1_Configure("bogus,MxMain=FLOW+nonsense,=ALL,MxMain=event");
  EXPECT_EQ(RAS1_EVENT, MaskOf(UnitMxMain()));
  EXPECT_EQ(RAS1_ERROR, MaskOf(UnitCollector()));
}

void TraceAtEveryLevel() {
  RAS1_UNIT("Tracer");
  RAS1_TRACE(RAS1_DETAIL, "detail %d", 1);
  RAS1_TRACE(RAS1_FLOW, "flow %s", "two");
  RAS1_TRACE(RAS1_ERROR, "error %d\n", 3);
  RAS1_ALWAYS("always");
}

TEST_F(TraceFile, OnlyEnabledLevelsReachTheFileWithTimeThreadUnitAndLine) {
  RAS1_Configure("ERROR,Tracer=ERROR+FLOW");
  TraceAtEveryLevel();
  std::string text = Contents();
  EXPECT_EQ(std::string::npos, text.find("detail 1"));
  EXPECT_NE(std::string::npos, text.find("flow two"));
  EXPECT_NE(std::string::npos, text.find("always"));
  std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[[0-9a-f]{8}\] Tracer\(\d+\) error 3\n)");
  EXPECT_TRUE(std::regex_search(text, line)) << text;
  EXPECT_EQ(std::string::npos, text.find("error 3\n\n"));  // one line per message
}

void Traced() {
  RAS1_ENTRY("Traced");
}

TEST_F(TraceFile, EntryAndExitEventsOnlyWithTheEventBit) {
  RAS1_Configure("ERROR");
  Traced();
  RAS1_Configure("Traced=EVENT");
  Traced();
  std::string text = Contents();
  EXPECT_NE(std::string::npos, text.find("Traced("));
  EXPECT_NE(std::string::npos, text.find(") Entry\n"));
  EXPECT_NE(std::string::npos, text.find(") Exit\n"));
  // Exactly one pair: the first call had the bit off.
  EXPECT_EQ(text.find(") Entry\n"), text.rfind(") Entry\n"));
}

TEST_F(TraceFile, DumpShowsBytesAndText) {
  RAS1_UNIT("Dumper");
  const char data[] = "ABC\x01";
  RAS1_Dump(&RAS1__EPB_, __LINE__, data, 4, 0);
  std::string text = Contents();
  EXPECT_NE(std::string::npos, text.find("41 42 43 01")) << text;
  EXPECT_NE(std::string::npos, text.find("|ABC.|")) << text;
}

TEST_F(TraceFile, LinesFromManyThreadsNeverInterleave) {
  RAS1_Configure("ALL");
  const int kThreads = 4, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      RAS1_UNIT("Worker");
      for (int i = 0; i < kLines; ++i)
        RAS1_TRACE(RAS1_FLOW, "thread=%d line=%d payload=%s", t, i, "0123456789abcdefghijklmnopqrstuvwxyz");
    });
  }
  for (auto& th : threads) th.join();
  std::istringstream in(Contents());
  std::regex shape(R"(^.* Worker\(\d+\) thread=\d line=\d+ payload=0123456789abcdefghijklmnopqrstuvwxyz$)");
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    EXPECT_TRUE(std::regex_match(line, shape)) << line;
    ++count;
  }
  EXPECT_EQ(kThreads * kLines, count);
}

TEST(Environment, PutThenGetReplaceAndRemove) {
  EXPECT_EQ(0, BSS1_PutEnv("OSM_RAS1_TEST_VAR=first"));
  const char* first = BSS1_GetEnv("OSM_RAS1_TEST_VAR", 0);
  ASSERT_NE(nullptr, first);
  EXPECT_STREQ("first", first);
  EXPECT_EQ(0, BSS1_PutEnv("OSM_RAS1_TEST_VAR=second value"));
  EXPECT_STREQ("second value", BSS1_GetEnv("OSM_RAS1_TEST_VAR", 0));
  EXPECT_STREQ("first", first);  // an earlier answer stays readable
  EXPECT_EQ(0, BSS1_PutEnv("OSM_RAS1_TEST_VAR="));
  EXPECT_EQ(nullptr, BSS1_GetEnv("OSM_RAS1_TEST_VAR", 0));
  EXPECT_EQ(-1, BSS1_PutEnv("no equals sign"));
  EXPECT_EQ(-1, BSS1_PutEnv("=value"));
  EXPECT_EQ(nullptr, BSS1_GetEnv("OSM_RAS1_NEVER_SET", 0));
}

}  // namespace

// The watchdog tables' byte-level side: the take-action command texts, the
// value mappings, the rows and the 24-hour alert cache with a set clock.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "collectors/perf/perf_values.h"
#include "collectors/watchdog/alert_cache.h"
#include "collectors/watchdog/wdg_commands.h"
#include "collectors/watchdog/wdg_rows.h"

namespace {

using namespace osm::wdg;
using osm::perf::FieldOf;

TEST(WatchdogCommands, TextsAreReadOrRefused) {
  const CommandType kStart = CommandType::kStartAgent, kStop = CommandType::kStopAgent, kNone = CommandType::kUnknown;
  const struct {
    const char* text;
    CommandType type;
    bool valid;
    const char* agent;
    const char* instance;
    int reset;
    std::int64_t pid;
  } cases[] = {
      {"WDM_Stop_Agent \"ux\" \"uxagent\" 12x", kStop, false, "", "", 0, 0},
      {"WDM_Stop_Agent \"ux\" \"uxagent\" 10000000", kStop, false, "", "", 0, 0},
      {"WDM_Stop_Agent \"ux\" \"uxagent\" 0009999999", kStop, true, "ux", "", 0, 9999999},
      {"WDM_Stop_Agent \"ux\" \"uxagent\"", kStop, true, "ux", "", 0, 0},
      {"WDM_Stop_Agent \"ux\" \"uxagent\"12", kStop, true, "ux", "", 0, 12},
      {"WDM_Stop_Agent \"u!x\" \"uxagent\"", kStop, true, "u!x", "", 0, 0},
      {"WDM_Stop_Agent \"ux\" \"ux<\"", kStop, false, "", "", 0, 0},
      {"WDM_Start_Agent \"ux\"", kStart, false, "", "", 0, 0},
      {"WDM_Start_Agent \"ux\" \"uxagent\" 1", kStart, true, "ux", "", 1, 0},
      {"WDM_Start_Agent \"ux\" \"uxagent\" 2", kStart, true, "ux", "", 2, 0},
      {"WDM_Start_Agent_Inst \"ux\" \"uxagent\" \"i1\"", kStart, true, "ux", "i1", 0, 0},
      {"WDM_Start_Agent \"u?x\" \"uxagent\"", kStart, false, "", "", 0, 0},
      {"WDM_Start_Agent \"ux\" \"a/b\"", kStart, false, "", "", 0, 0},
      {"WDM_Start_Agent \"ux\" \"uxagent\" \"i:1\"", kStart, false, "", "", 0, 0},
      {"WDM_Start_Agent \"ux\" \"\" \"uxagent\"", kStart, false, "", "", 0, 0},
      {"WDM_Start_Agent \"ux\" \"uxagent", kStart, false, "", "", 0, 0},
      {"WDM_Stop_Manage \"WDM_Start_Agent\"", CommandType::kStopManage, true, "WDM_Start_Agent", "", 0, 0},
      {"WDM_Start_Manage \"\"", CommandType::kStartManage, false, "", "", 0, 0},
      {"run \"WDM_Start_Agent\" \"x\"", kNone, false, "", "", 0, 0},
  };
  for (const auto& c : cases) {
    Command got = ParseCommand(c.text);
    EXPECT_EQ(c.type, got.type) << c.text;
    EXPECT_EQ(c.valid, got.valid) << c.text;
    if (!c.valid) continue;
    EXPECT_EQ(std::string(c.agent) + "|" + c.instance, got.agent + "|" + got.instance) << c.text;
    EXPECT_EQ(c.reset, got.reset) << c.text;
    EXPECT_EQ(c.pid, got.pid) << c.text;
  }
}

TEST(WatchdogValues, MappingsAndMessageIds) {
  const struct {
    int (*map)(int);
    int in, out;
  } maps[] = {{MapAgentType, 0, 1}, {MapAgentType, 5, 6}, {MapAgentType, 6, 0}, {MapAgentType, 7, 7},
              {MapManageType, 3, 4}, {MapManageType, 4, 0}, {MapMemoryUnit, 20, 2}, {MapMemoryUnit, 2, 0},
              {MapOperationalStatus, 7, 7}, {MapOperationalStatus, 8, 0}, {MapAlertState, 0, 0}};
  for (const auto& m : maps) EXPECT_EQ(m.out, m.map(m.in)) << m.in;
  const struct {
    int id, managed, message;
    const char* why;
  } alerts[] = {{1, 0, 1, ""},  {8, 0, 4, ""},  {11, 0, 9, ""},  {17, 0, 8, ""}, {14, 1, 2, ""},
                {14, 0, 3, ""}, {14, 5, 0, "Unrecognized managed state:5."}, {2, 0, 0, "Unrecognized message id:2."}};
  for (const auto& a : alerts) {
    std::int32_t message = 0;
    std::string why;
    EXPECT_EQ(a.message != 0, MapAlertMessage(a.id, a.managed, &message, &why)) << a.id;
    EXPECT_EQ(a.message, message) << a.id;
    EXPECT_EQ(a.why, why) << a.id;
  }
  EXPECT_EQ("KNTWDM007", LogMessageId("NT", 7));
  EXPECT_EQ("KNTWDM1234", LogMessageId("NT", 1234));
}

std::string Field(const std::vector<char>& row, const char* table, const char* name) {
  osm::perf::RowField f = FieldOf(table, name);
  return std::string(row.data() + f.offset, f.width);
}

TEST(WatchdogValues, TextAttributesStayAsciiAndUnknownCheckTimesAreMarked) {
  WDC_AgentEntry e;
  e.buildNumber.push_back('b');
  e.buildNumber.push_back(static_cast<WDC_UChar>(0x20AC));
  e.version = e.buildNumber;
  std::vector<char> row(MgmtTable().rowSize);
  FillMgmtRow(row.data(), e);
  EXPECT_EQ("b?", Field(row, "OSMWDGMGMT", "BUILDNUM").substr(0, 2)) << "text attribute: ASCII";
  EXPECT_EQ("b\xE2\x82\xAC", Field(row, "OSMWDGMGMT", "VERSION").substr(0, 4)) << "utf8 attribute";
  row.assign(StatTable().rowSize, 0);
  FillStatRow(row.data(), e, "10.0.0.1", "host");
  EXPECT_EQ("0000000000000001", Field(row, "OSMWDGSTAT", "CHECKTS"));
  EXPECT_EQ("10.0.0.1", Field(row, "OSMWDGSTAT", "IPADDR").substr(0, 8));
}

TEST(WatchdogAlertCache, RowsLeaveTwentyFourHoursAfterTheyWereCached) {
  std::int64_t now = 1700000000;
  AlertCache cache([&now] { return now; });
  cache.Add("A", 1);
  now += 3600;
  cache.Add("B", 1);
  const struct {
    std::int64_t age;  // of A
    const char* kept;
  } steps[] = {{86399, "AB"}, {86400, "B"}, {86399, "B"}, {86400 + 3600, ""}};
  for (const auto& s : steps) {
    now = 1700000000 + s.age;
    std::string kept;
    ASSERT_TRUE(cache.ForEachKept([&kept](const std::string& row) { kept += row; }));
    EXPECT_EQ(s.kept, kept) << s.age;
  }
  EXPECT_EQ(0u, cache.Count());
}

}  // namespace

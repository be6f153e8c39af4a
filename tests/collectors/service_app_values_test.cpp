// The service-application tables' own values over the versions, up times and
// name lengths that a test block on one machine cannot reach. The collectors
// run through the framework in framework_test.cpp.
#include "collectors/perf/service_app_values.h"
#include "tests/collectors/row_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace osm::perf;

namespace {

TEST(SmtpServer, RetrievedCountersAreUnavailableOnX0AndX2ExceptWindows6Servers) {
  struct Case {
    int major, minor, product;
    bool unavailable;
  } cases[] = {{4, 0, 3, false}, {5, 0, 3, true},  {5, 1, 1, false}, {5, 2, 3, true}, {6, 0, 1, true},
               {6, 0, 2, false}, {6, 2, 3, false}, {6, 1, 1, false}, {10, 0, 3, true}};
  for (const Case& c : cases)
    EXPECT_EQ(c.unavailable, SmtpRetrievedUnavailable(c.major, c.minor, c.product)) << c.major << "." << c.minor;
  Rows r("SMTPSRV", 1);
  r.Set(0, "MSGSNTTOT", 10);
  MarkSmtpRow(r.Row(0), true, false);
  EXPECT_EQ((std::vector<int>{-1, -1, -1, 10}), (std::vector<int>{r.Get(0, "MSGRETTOT"), r.Get(0, "MSGRETSEC"),
                                                                   r.Get(0, "DIRPICQLEN"), r.Get(0, "MSGSNTTOT")}));
}

TEST(PrintQueue, ErrorsPerDayOfUpTimeCountAtLeastOneDay) {
  // 25 job, 15 not-ready and 4 out-of-paper errors.
  struct Case {
    std::size_t systemRows;
    std::int32_t upSeconds;
    std::vector<int> perDay;
  } cases[] = {{1, 907199, {3, 2, 0}},    // 10.5 days count as 10: 2.5, 1.5 and 0.4 rounded half up
               {1, 43200, {25, 15, 4}},   // half a day counts as one
               {0, 864000, {25, 15, 4}}};  // a sample of no rows has no up time
  for (const Case& c : cases) {
    Rows system("WTSYSTEM", 1);
    system.Set(0, "SYSUPTIME", c.upSeconds);
    std::int32_t days = 0;
    EXPECT_EQ(c.systemRows == 1, UpTimeDaysOf(system.bytes.data(), c.systemRows, system.def.rowSize, &days));
    Rows q("PRINTQ", 1);
    q.Set(0, "JOBERR", 25).Set(0, "NRERROR", 15).Set(0, "OUTPAPER", 4);
    CompletePrintQueueRow(q.Row(0), c.systemRows ? days : 0);
    EXPECT_EQ(c.perDay, (std::vector<int>{q.Get(0, "AVGJOBERRS"), q.Get(0, "AVGNRERRS"), q.Get(0, "AVGOOPERRS")}))
        << c.upSeconds;
  }
}

TEST(MessageQueues, OnlyShortNamesThatFillTheirFieldAreLookedUp) {
  EXPECT_TRUE(CompletesLongQueueNames("5.2     ", 8));
  EXPECT_FALSE(CompletesLongQueueNames("10.0", 4));
  const std::string name = "private$\\" + std::string(60, 'q');
  Rows r("MSMQQUE", 1);
  for (std::size_t length : {62, 63, 64}) {
    std::memcpy(r.Row(0) + FieldOf("MSMQQUE", "QUEINST").offset, (name.substr(0, length) + "  ").data(), 64);
    EXPECT_EQ(length == 62 ? "" : name.substr(0, length), FullShortQueueName(r.Row(0))) << length;
  }
  CompleteQueueName(r.Row(0), name.substr(0, 64), {std::string(300, 'x') + name});
  EXPECT_EQ(std::string(256, 'x'), r.Text(0, "QUEINSTLG")) << "cut at the field";
}

}  // namespace

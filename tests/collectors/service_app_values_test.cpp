// The service-application tables' own values over the versions, up times and
// queue names that a test block on one machine cannot reach. The collectors
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
  } cases[] = {{4, 0, 3, false}, {5, 0, 3, true}, {5, 1, 1, false}, {5, 2, 3, true},  {6, 0, 1, true},
               {6, 0, 2, false}, {6, 2, 3, false}, {6, 1, 1, false}, {6, 3, 1, false}, {10, 0, 3, true}};
  for (const Case& c : cases)
    EXPECT_EQ(c.unavailable, SmtpRetrievedUnavailable(c.major, c.minor, c.product))
        << c.major << "." << c.minor << " type " << c.product;

  for (int flags = 0; flags < 4; ++flags) {
    bool retrieved = flags & 1, keyFound = flags & 2;
    Rows r("SMTPSRV", 1);
    r.Set(0, "MSGRETTOT", 7).Set(0, "MSGRETSEC", 8).Set(0, "DIRPICQLEN", 9).Set(0, "MSGSNTTOT", 10);
    MarkSmtpRow(r.Row(0), retrieved, keyFound);
    EXPECT_EQ(retrieved ? -1 : 7, r.Get(0, "MSGRETTOT")) << flags;
    EXPECT_EQ(retrieved ? -1 : 8, r.Get(0, "MSGRETSEC")) << flags;
    EXPECT_EQ(keyFound ? 9 : -1, r.Get(0, "DIRPICQLEN")) << flags;
    EXPECT_EQ(10, r.Get(0, "MSGSNTTOT")) << flags;
  }
}

TEST(PrintQueue, ErrorsPerDayOfUpTimeCountAtLeastOneDay) {
  // 25 job errors, 15 not-ready errors, 4 out-of-paper errors.
  struct Case {
    std::size_t systemRows;
    std::int32_t upSeconds;
    std::int32_t job, notReady, paper;
  } cases[] = {
      {1, 864000, 3, 2, 0},     // 10 days: 2.5, 1.5 and 0.4 rounded half up
      {1, 907199, 3, 2, 0},     // 10.5 days count as 10
      {1, 43200, 25, 15, 4},    // half a day counts as one
      {1, -86400, 25, 15, 4},   // so does an impossible up time
      {0, 864000, 25, 15, 4},   // a sample of no rows has no up time
  };
  for (const Case& c : cases) {
    Rows system("WTSYSTEM", 1);
    system.Set(0, "SYSUPTIME", c.upSeconds);
    std::int32_t days = 0;
    bool have = UpTimeDaysOf(system.bytes.data(), c.systemRows, system.def.rowSize, &days);
    EXPECT_EQ(c.systemRows == 1, have);
    Rows q("PRINTQ", 1);
    q.Set(0, "JOBERR", 25).Set(0, "NRERROR", 15).Set(0, "OUTPAPER", 4);
    CompletePrintQueueRow(q.Row(0), have ? days : 0);
    EXPECT_EQ(c.job, q.Get(0, "AVGJOBERRS")) << c.upSeconds;
    EXPECT_EQ(c.notReady, q.Get(0, "AVGNRERRS")) << c.upSeconds;
    EXPECT_EQ(c.paper, q.Get(0, "AVGOOPERRS")) << c.upSeconds;
  }
}

TEST(MessageQueues, LongNamesCompleteOnlyShortNamesThatFillTheirField) {
  EXPECT_TRUE(CompletesLongQueueNames("5.2     ", 8));
  EXPECT_TRUE(CompletesLongQueueNames("        ", 8));
  EXPECT_FALSE(CompletesLongQueueNames("6.1     ", 8));
  EXPECT_FALSE(CompletesLongQueueNames("10.0", 4));

  const std::string prefix = "private$\\" + std::string(60, 'q');  // 69 characters
  const std::vector<std::string> active = {"other", prefix.substr(0, 63) + "-a", prefix.substr(0, 63) + "-b"};
  Rows r("MSMQQUE", 4);
  RowField shortField = FieldOf("MSMQQUE", "QUEINST");
  // The counter service writes the short name cut to the field, without "...".
  std::memcpy(r.Row(0) + shortField.offset, prefix.data(), 64);  // fills all 64 bytes
  r.Text(1, "QUEINST", prefix.substr(0, 63));                    // 63 bytes: may have been cut
  r.Text(2, "QUEINST", prefix.substr(0, 62));                    // 62: whole
  std::memcpy(r.Row(3) + shortField.offset, std::string(64, 'z').data(), 64);
  EXPECT_EQ(prefix.substr(0, 64), FullShortQueueName(r.Row(0)));
  EXPECT_EQ(prefix.substr(0, 63), FullShortQueueName(r.Row(1)));
  EXPECT_EQ("", FullShortQueueName(r.Row(2)));

  CompleteQueueName(r.Row(1), FullShortQueueName(r.Row(1)), active);
  EXPECT_EQ(active[2] + std::string(256 - active[2].size(), ' '), r.Text(1, "QUEINSTLG")) << "the last match wins";
  CompleteQueueName(r.Row(3), FullShortQueueName(r.Row(3)), active);
  EXPECT_EQ("INACTIVE" + std::string(248, ' '), r.Text(3, "QUEINSTLG"));
  CompleteQueueName(r.Row(0), FullShortQueueName(r.Row(0)), {std::string(300, 'q') + prefix});
  EXPECT_EQ(std::string(256, 'q'), r.Text(0, "QUEINSTLG")) << "cut at the field";
}

}  // namespace

// The portable event log core: records and backup files from the test-side
// writer, and the rules of windows, duplicates, throttles, keys and resume.
#include "collectors/eventlog/evt_bookmark.h"
#include "collectors/eventlog/evt_event.h"
#include "collectors/eventlog/evt_record.h"
#include "collectors/eventlog/evt_rows.h"
#include "tests/collectors/eventlog/evt_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using namespace osm::evl;

evtw::Event Sample(std::uint32_t number) {
  evtw::Event e;
  e.recordNumber = number;
  e.timeWritten = 1700000000 + number;
  e.eventId = 0xC0000000u | number;
  e.sid = evtw::Sid(5, {21, 1000});
  e.strings = {u"first", u"second"};
  e.data = {1, 2, 3};
  return e;
}

std::vector<std::uint8_t> Concat(const std::vector<std::vector<std::uint8_t>>& parts) {
  std::vector<std::uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(EventRecord, ReadsEveryPartOfASoundRecord) {
  std::vector<std::uint8_t> r = evtw::Record(Sample(7));
  RecordView v;
  ASSERT_EQ(RecordStatus::kOk, ParseRecord(r.data(), r.size(), &v));
  EXPECT_EQ(7u, v.recordNumber);
  EXPECT_EQ(0xC0000007u, v.eventId);
  EXPECT_EQ(u"OsmTest", v.Source());
  EXPECT_EQ(u"TESTPC", v.Computer());
  EXPECT_EQ(16u, v.sidLength);
  ASSERT_EQ(2u, v.StringOffsets().size());
  EXPECT_EQ(u"second", v.Text(v.StringOffsets()[1], 6));
}

// Each damage ends the buffer at that record; the records before it are read.
TEST(EventRecord, DamagedRecordEndsTheBufferWithoutOverRead) {
  struct Case {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    RecordStatus expected;
  };
  const Case cases[] = {
      {"length beyond the buffer", 0, 4096, RecordStatus::kTruncated},
      {"length below the header", 0, 40, RecordStatus::kBadLength},
      {"signature", 4, 0, RecordStatus::kBadSignature},
      {"string offset past the end", 36, 4000, RecordStatus::kBadStrings},
      {"strings counted past the end", 26, 40, RecordStatus::kBadStrings},
      {"SID offset past the end", 44, 5000, RecordStatus::kBadSid},
      {"SID length against its count", 40, 12, RecordStatus::kBadSid},
      {"data past the end", 48, 900, RecordStatus::kBadData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bad = evtw::Record(Sample(2));
    if (c.at == 26) {
      bad[26] = static_cast<std::uint8_t>(c.value);
    } else {
      evtw::Put32(bad, c.at, c.value);
    }
    std::vector<std::uint8_t> buffer = Concat({evtw::Record(Sample(1)), bad, evtw::Record(Sample(3))});
    RecordWalker walk(buffer.data(), buffer.size());
    RecordView v;
    ASSERT_TRUE(walk.Next(&v));
    EXPECT_FALSE(walk.Next(&v));
    EXPECT_EQ(c.expected, walk.status());
  }
  // An unterminated source name in a record cut right after it.
  std::vector<std::uint8_t> r = evtw::Record(Sample(1));
  for (std::size_t i = 56; i + 4 < r.size(); ++i) r[i] = 'A';
  RecordView v;
  EXPECT_EQ(RecordStatus::kBadSource, ParseRecord(r.data(), r.size(), &v));
}

TEST(EventRecord, ShortRemainderOrZeroLengthEndsTheBuffer) {
  std::vector<std::uint8_t> buffer = evtw::Record(Sample(1));
  std::size_t one = buffer.size();
  buffer.resize(one + 56, 0xEE);  // 56 bytes left: exhausted, whatever they hold
  RecordWalker walk(buffer.data(), buffer.size());
  RecordView v;
  EXPECT_TRUE(walk.Next(&v));
  EXPECT_FALSE(walk.Next(&v));
  EXPECT_EQ(RecordStatus::kOk, walk.status());
  buffer.resize(one);
  buffer.resize(one + 200, 0);
  RecordWalker zero(buffer.data(), buffer.size());
  EXPECT_TRUE(zero.Next(&v));
  EXPECT_FALSE(zero.Next(&v));
  EXPECT_EQ(RecordStatus::kOk, zero.status());
}

TEST(BackupFile, ReadsRecordsInOrderAlsoWhenTheyWrap) {
  std::vector<std::vector<std::uint8_t>> records;
  for (std::uint32_t n = 10; n < 14; ++n) records.push_back(evtw::Record(Sample(n)));
  // wrapAt 0: laid out plainly; 20: the first record's header wraps; the
  // size of the first record plus 100: the second record is split.
  for (std::uint32_t wrap : {0u, 20u, static_cast<std::uint32_t>(records[0].size() + 100)}) {
    SCOPED_TRACE(wrap);
    std::vector<std::uint8_t> file = evtw::BackupFile(records, 10, wrap);
    EvtFileContents c = ParseEvtFile(file.data(), file.size());
    ASSERT_EQ(EvtFileStatus::kOk, c.status);
    ASSERT_EQ(4u, c.records.size());
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(records[i], c.records[i]);
    EXPECT_EQ(14u, c.header.currentRecordNumber);
    EXPECT_EQ(604800u, c.header.retention);
  }
}

TEST(BackupFile, RefusesDamageAndKeepsWhatCameBefore) {
  std::vector<std::vector<std::uint8_t>> records = {evtw::Record(Sample(1)), evtw::Record(Sample(2))};
  std::vector<std::uint8_t> good = evtw::BackupFile(records, 1);
  struct Case {
    std::size_t at;
    std::uint32_t value;
    EvtFileStatus expected;
    std::size_t kept;
  };
  const std::size_t second = 48 + records[0].size();
  const Case cases[] = {
      {4, 0x12345678, EvtFileStatus::kBadHeader, 0},
      {16, 0x7FFFFFF0, EvtFileStatus::kBadOffsets, 0},
      {second + 4, 0, EvtFileStatus::kDamagedRecord, 1},
      {second, 0xFFFFFFF0, EvtFileStatus::kDamagedRecord, 1},
      {good.size() - 36, 0, EvtFileStatus::kDamagedRecord, 2},  // the end record's signature
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> file = good;
    evtw::Put32(file, c.at, c.value);
    EvtFileContents contents = ParseEvtFile(file.data(), file.size());
    EXPECT_EQ(c.expected, contents.status) << c.at;
    EXPECT_EQ(c.kept, contents.records.size()) << c.at;
  }
  EXPECT_EQ(EvtFileStatus::kTooSmall, ParseEvtFile(good.data(), 60).status);
}

TEST(Messages, FileListsInsertsAndKeys) {
  std::vector<WText> parts = SplitFileList(Widen("a.dll;;b.dll;"));
  ASSERT_EQ(2u, parts.size());
  EXPECT_EQ(Widen("b.dll"), parts[1]);
  EXPECT_EQ(SplitFileList(Widen("a.dll")), SplitFileList(Widen("a.dll;")));
  EXPECT_EQ(12, HighestInsert(Widen("%1 %%9 %n %12!s! %3").c_str()));
  EXPECT_EQ(0, HighestInsert(Widen("100%% sure").c_str()));
  const std::uint8_t a[] = {1, 1, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0};
  const std::uint8_t b[] = {1, 1, 0, 0, 0, 0, 0, 5, 0x00, 0, 0, 0};
  EXPECT_NE(SidKey(a, sizeof a), SidKey(b, sizeof b));
  EXPECT_EQ(Widen("WS01"), HostPart(Widen("WS01.corp.example").c_str(), 17));
  EXPECT_EQ(Widen("ABCDEFGHIJKLMNOP"), HostPart(Widen("ABCDEFGHIJKLMNOPQRST").c_str(), 20));
}

TEST(LogInfo, UsageFromSixtyFourBitSizes) {
  EXPECT_EQ(5, UsagePercent(1048576, 20971520));
  EXPECT_EQ(50, UsagePercent(3ull << 32, 6ull << 32));  // over 4 GiB
  EXPECT_EQ(0, UsagePercent(100, 0));
  EXPECT_EQ(7, RetentionShown(604800));
  EXPECT_EQ(3600, RetentionShown(3600));
}

TEST(Resume, BookmarksRoundTripAndSelectionFollowsThem) {
  Bookmarks marks = {{"System", {42, 1700000000}}, {"DNS Server", {0, 5}}};
  EXPECT_EQ(marks.size(), ParseBookmarks(FormatBookmarks(marks) + "junk\n\tno\n").size());
  EXPECT_EQ(42u, ParseBookmarks(FormatBookmarks(marks))["System"].record);

  // By record number: 45, 44, 43 are new, 42 ends the pass.
  PassSelection byRecord(ResumeFrom({42, 1000}, 2000, 0, 0));
  for (std::uint64_t r : {45, 44, 43}) EXPECT_EQ(PassSelection::kTake, byRecord.Consider(r, 1500));
  EXPECT_EQ(PassSelection::kDone, byRecord.Consider(42, 1000));
  EXPECT_EQ(45u, byRecord.Newest());
  // A cleared log (newest 3 < 42): by time, after the bookmarked one.
  PassSelection cleared(ResumeFrom({42, 1000}, 2000, 0, 0));
  EXPECT_EQ(PassSelection::kTake, cleared.Consider(3, 1001));
  EXPECT_EQ(PassSelection::kDone, cleared.Consider(2, 1000));
  // Bounded catch-up: at most two, none older than an hour.
  PassSelection bounded(ResumeFrom({42, 1000}, 10000, 3600, 2));
  EXPECT_EQ(PassSelection::kTake, bounded.Consider(50, 9000));
  EXPECT_EQ(PassSelection::kTake, bounded.Consider(49, 9000));
  EXPECT_EQ(PassSelection::kDone, bounded.Consider(48, 9000));
  PassSelection old(ResumeFrom({42, 1000}, 10000, 3600, 0));
  EXPECT_EQ(PassSelection::kDone, old.Consider(50, 6000));
  // The log was empty when bookmarked: everything written since that pass.
  PassSelection empty(ResumeFrom({0, 1000}, 2000, 0, 0));
  EXPECT_EQ(PassSelection::kTake, empty.Consider(1, 1000));
}

}  // namespace

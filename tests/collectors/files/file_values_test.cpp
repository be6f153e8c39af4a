// The byte-level side of the file tables: notification records, name
// matching, watches read from filters, the trend arithmetic and the rows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "collectors/files/change_notices.h"
#include "collectors/files/file_rows.h"
#include "collectors/files/trend_ring.h"
#include "collectors/files/watch_spec.h"
#include "collectors/perf/perf_values.h"

namespace {

using namespace osm::files;

// A notification record laid out by hand: next offset, action, name length,
// UTF-16LE name, padded to a multiple of four.
std::vector<unsigned char> Record(std::uint32_t next, std::uint32_t action, const std::u16string& name) {
  std::vector<unsigned char> b;
  auto put32 = [&b](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
  };
  put32(next);
  put32(action);
  put32(static_cast<std::uint32_t>(name.size() * 2));
  for (char16_t c : name) {
    b.push_back(static_cast<unsigned char>(c & 0xFF));
    b.push_back(static_cast<unsigned char>(c >> 8));
  }
  while (b.size() % 4) b.push_back(0);
  return b;
}

TEST(ChangeNotices, RecordsAreReadOnlyWithinTheBytesTransferred) {
  std::vector<unsigned char> first = Record(20, 1, u"abcd"), second = Record(0, 3, u"xyz");
  std::vector<unsigned char> both(first);
  both.insert(both.end(), second.begin(), second.end());
  std::vector<unsigned char> backwards = Record(4, 1, u"ab");  // next offset inside its own header
  std::vector<unsigned char> longName = Record(0, 1, u"ab");
  longName[8] = 200;  // a name length past the end
  struct Case {
    const char* what;
    const std::vector<unsigned char>* bytes;
    std::size_t transferred;
    std::size_t notices;
    bool intact;
  } cases[] = {
      {"whole chain", &both, both.size(), 2, true},
      {"second name cut", &both, both.size() - 4, 1, false},
      {"second header cut", &both, 26, 1, false},
      {"first name cut", &both, 15, 0, false},
      {"nothing", &both, 0, 0, false},
      {"next offset inside the header", &backwards, backwards.size(), 1, false},
      {"name length past the end", &longName, longName.size(), 0, false},
  };
  for (const Case& c : cases) {
    bool intact = !c.intact;
    std::vector<ChangeNotice> n = ReadChangeNotices(c.bytes->data(), c.transferred, &intact);
    EXPECT_EQ(c.notices, n.size()) << c.what;
    EXPECT_EQ(c.intact, intact) << c.what;
  }
  std::vector<ChangeNotice> n = ReadChangeNotices(both.data(), both.size(), nullptr);
  ASSERT_EQ(2u, n.size());
  EXPECT_EQ(1u, n[0].action);
  EXPECT_EQ(u"abcd", n[0].name);
  EXPECT_EQ(3u, n[1].action);
  EXPECT_EQ(u"xyz", n[1].name);
}

TEST(ChangeNotices, TheWholeNameMatchesIgnoringCase) {
  struct Case {
    const char16_t* received;
    bool same;
  } cases[] = {
      {u"data.txt", true},  {u"DATA.TXT", true},      {u"Data.Txt", true},     {u"data", false},
      {u"data.txt.bak", false}, {u"sub\\data.txt", false}, {u"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.same, SameFileName(c.received, u"data.txt")) << c.same;
  EXPECT_TRUE(SameFileName(u"\u00c4RGER\u0416.LOG", u"\u00e4rger\u0436.log"));  // Latin-1 and Cyrillic
  EXPECT_FALSE(SameFileName(u"\u00c4", u"a"));
}

TEST(ChangeNotices, LongNamesAreCutOnACharacterBoundary) {
  std::u16string euros(100, u'\u20ac');  // three UTF-8 bytes each
  char field[260];
  WriteNameField(field, sizeof field, euros, true);
  EXPECT_EQ(Utf16ToUtf8(std::u16string(86, u'\u20ac')), std::string(field, 258));
  EXPECT_EQ("  ", std::string(field + 258, 2));
  EXPECT_EQ(euros, Utf8ToUtf16(Utf16ToUtf8(euros).data(), Utf16ToUtf8(euros).size()));
}

FilterInfo Entry(const char* column, const char* text) {
  return FilterInfo{"S", "NTFLCHG", 1, column, 9, static_cast<int>(std::strlen(text)), text, text, 0};
}

TEST(WatchSpecs, RowsAreReadAndTheUFormsWin) {
  std::int32_t four = 4;
  FilterInfo sampnum{"S", "NTFLTREND", 1, "SAMPNUM", 3, 4, reinterpret_cast<const char*>(&four), "4", 2};
  std::vector<FilterInfo> entries = {
      Entry("UWATCHDIR", "C:\\d\xc3\xbcr"), Entry("WATCHDIR", "C:\\ignored"), Entry("MONITORALL", "yes"),
      Entry("PARMA", ""),
      Entry("WATCHFILE", "lonely.txt"),  // no directory: dropped
      Entry("PARMA", ""),
      Entry("WATCHDIR", "C:\\logs  "), Entry("WATCHFILE", "app.log "), Entry("CSIZE", "Y"), Entry("CLASTWRITE", "n"),
      Entry("WATCHTREE", "y"), sampnum,
  };
  std::vector<WatchSpec> w = ReadWatchSpecs(entries, nullptr);
  ASSERT_EQ(2u, w.size());
  EXPECT_EQ("C:\\d\xc3\xbcr", w[0].udir);
  EXPECT_EQ("C:\\d?r", w[0].dir);
  EXPECT_EQ(kAllChangeKinds, ChangeFilterMask(w[0]));
  EXPECT_FALSE(WatchesSubtree(w[0]));
  EXPECT_FALSE(WatchesOneFile(w[0]));
  EXPECT_EQ("C:\\d\xc3\xbcr\\", DirectoryPath(w[0]));
  EXPECT_EQ(0x8u, ChangeFilterMask(w[1]));
  EXPECT_TRUE(WatchesSubtree(w[1]));
  EXPECT_EQ("C:\\logs\\", DirectoryPath(w[1]));
  EXPECT_EQ("app.log", FileName(w[1]));
  EXPECT_TRUE(w[1].hasSampleCount);
  EXPECT_EQ(4, w[1].sampleCount);
}

TEST(Trend, FourSamplesOfKnownGrowth) {
  // 1000 bytes at the start, 500 more at each sample, four samples kept,
  // sampled every minute: the hour reaches back as far as the ring does.
  struct Expect {
    std::int64_t size, lastInterval, total, average, lastHour;
    std::int32_t pcLastInterval, pcTotal, pcAverage, pcLastHour;
  } samples[] = {
      {1500, 500, 500, 0, 500, 50, 50, 0, 50},
      {2000, 500, 1000, 166, 1000, 50, 100, 16, 100},
      {2500, 500, 1500, 333, 1500, 50, 150, 33, 150},
      {3000, 500, 2000, 500, 1500, 50, 200, 50, 100},
  };
  TrendRing ring(4, 1000);
  for (const Expect& e : samples) {
    TrendFigures f = ring.Add(e.size, 60);
    EXPECT_EQ(e.lastInterval, f.lastInterval) << e.size;
    EXPECT_EQ(e.total, f.total) << e.size;
    EXPECT_EQ(e.average, f.average) << e.size;
    EXPECT_EQ(e.lastHour, f.lastHour) << e.size;
    EXPECT_EQ(e.pcLastInterval, f.pcLastInterval) << e.size;
    EXPECT_EQ(e.pcTotal, f.pcTotal) << e.size;
    EXPECT_EQ(e.pcAverage, f.pcAverage) << e.size;
    EXPECT_EQ(e.pcLastHour, f.pcLastHour) << e.size;
  }
}

TEST(Trend, OneSampleComparesWithTheSizeBeforeItAndAStartOfZeroHasNoPercentages) {
  TrendRing one(1, 100);
  TrendFigures f = one.Add(160, 60);
  EXPECT_EQ(60, f.lastInterval);
  EXPECT_EQ(60, f.lastHour);
  EXPECT_EQ(-1, f.average);
  EXPECT_EQ(60, one.Add(220, 60).lastInterval);

  TrendRing empty(0, 0);
  EXPECT_EQ(kDefaultSampleCount, empty.Samples());
  f = empty.Add(10, 60);
  EXPECT_EQ(-1, f.pcTotal);
  EXPECT_EQ(-1, f.pcLastInterval);
  EXPECT_EQ(-1, f.pcAverage);
}

TEST(Trend, PercentagesAreComputedIn64BitsAndClamped) {
  const std::int64_t kGiB = 1024ll * 1024 * 1024;
  struct Case {
    std::int64_t value, base;
    std::int32_t percent;
  } cases[] = {
      {500, 1000, 50},       {-500, 1000, -50},           {1, 3, 33},
      {7, 0, -1},            {100 * kGiB, kGiB, 10000},
      {1ll << 62, 1, 2147483647}, {-(1ll << 62), 1, -2147483647 - 1}, {1ll << 61, 1ll << 62, 50},
  };
  for (const Case& c : cases) EXPECT_EQ(c.percent, PercentOf(c.value, c.base)) << c.value << "/" << c.base;

  DiskFigures disk{true, 100ull * kGiB, 40ull * kGiB};
  EXPECT_EQ(10, PercentOfDisk(10 * kGiB, disk));
  EXPECT_EQ(-1, PercentOfDisk(10, DiskFigures{}));
  EXPECT_EQ(40, FreeSpaceHours(disk, kGiB));
  EXPECT_EQ(0, FreeSpaceHours(disk, 0));
  EXPECT_EQ(2147483647, FreeSpaceHours(disk, 1));
  EXPECT_EQ(kMaxSampleCount, UsableSampleCount(2000000000));
}

TEST(FileRows, AMissingFileGivesMinusOneAndZeroDatesWithRealRowNumbers) {
  const osm::TableDef& t = TrendTable();
  std::vector<char> row(t.rowSize);
  ClearRow(t, row.data());
  StampRow(t, row.data(), "host", 7, 1);
  WatchSpec w;
  w.dir = w.udir = "C:\\logs";
  w.file = w.ufile = "app.log";
  TrendRow trend;
  trend.sampleInterval = 60;
  trend.sampleCount = 4;
  FillTrendRow(row.data(), w, trend);
  auto i32 = [&](const char* name) { return osm::perf::GetInt32(row.data(), osm::perf::FieldOf(t, name)); };
  auto text = [&](const char* name) {
    osm::perf::RowField f = osm::perf::FieldOf(t, name);
    return std::string(row.data() + f.offset, f.width);
  };
  EXPECT_EQ(7, i32("SAMPLENO"));
  EXPECT_EQ(1, i32("ROWNO"));
  EXPECT_EQ(60, i32("SAMPINT"));
  EXPECT_EQ(-1, i32("CURSIZE"));
  EXPECT_EQ(-1, i32("PCCHGTOT"));
  EXPECT_EQ(-1, osm::perf::GetInt64(row.data(), osm::perf::FieldOf(t, "CHGTOT8")));
  EXPECT_EQ("00/00/00", text("MODDATE").substr(0, 8));
  EXPECT_EQ("0000000000000000", text("MDATETIME"));
  EXPECT_EQ("app.log", text("UWATCHFILE").substr(0, 7));

  // A change row starts from zeroed integers, never from blanks.
  const osm::TableDef& c = ChangeTable();
  std::vector<char> change(c.rowSize);
  ClearRow(c, change.data());
  FillChangeRow(change.data(), w, ChangeRow());
  EXPECT_EQ(0, osm::perf::GetInt32(change.data(), osm::perf::FieldOf(c, "SAMPLENO")));
  EXPECT_EQ(0, osm::perf::GetInt32(change.data(), osm::perf::FieldOf(c, "CURSIZE")));
  EXPECT_TRUE(ChangeRowHasNoDates(change.data()));
}

}  // namespace

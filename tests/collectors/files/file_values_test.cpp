// The byte-level side of the file tables: notification records, name
// matching, watches read from filters and the trend arithmetic.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "collectors/files/change_notices.h"
#include "collectors/files/trend_ring.h"
#include "collectors/files/watch_spec.h"

namespace {

using namespace osm::files;

// A notification record laid out by hand: next offset, action, name length,
// UTF-16LE name, padded to a multiple of four.
std::vector<unsigned char> Record(std::uint32_t next, std::uint32_t action, const std::u16string& name) {
  std::vector<unsigned char> b;
  for (std::uint32_t v : {next, action, static_cast<std::uint32_t>(name.size() * 2)})
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
  for (char16_t c : name) b.insert(b.end(), {static_cast<unsigned char>(c & 0xFF), static_cast<unsigned char>(c >> 8)});
  while (b.size() % 4) b.push_back(0);
  return b;
}

TEST(ChangeNotices, RecordsAreReadOnlyWithinTheBytesTransferred) {
  std::vector<unsigned char> both = Record(20, 1, u"abcd"), second = Record(0, 3, u"xyz");
  both.insert(both.end(), second.begin(), second.end());
  std::vector<unsigned char> backwards = Record(4, 1, u"ab"), longName = Record(0, 1, u"ab");
  longName[8] = 200;  // a name length past the end
  struct {
    const std::vector<unsigned char>* bytes;
    std::size_t transferred, notices;
    bool intact;
  } cases[] = {
      {&both, both.size(), 2, true},       {&both, both.size() - 4, 1, false},  // second name cut
      {&both, 26, 1, false},               {&both, 15, 0, false},               // second header, first name cut
      {&both, 0, 0, false},                {&backwards, backwards.size(), 1, false},
      {&longName, longName.size(), 0, false},
  };
  for (const auto& c : cases) {
    bool intact = !c.intact;
    EXPECT_EQ(c.notices, ReadChangeNotices(c.bytes->data(), c.transferred, &intact).size()) << c.transferred;
    EXPECT_EQ(c.intact, intact) << c.transferred;
  }
  std::vector<ChangeNotice> n = ReadChangeNotices(both.data(), both.size(), nullptr);
  EXPECT_EQ(u"abcd", n[0].name);
  EXPECT_EQ(3u, n[1].action);
  EXPECT_EQ(u"xyz", n[1].name);
}

TEST(ChangeNotices, TheWholeNameMatchesIgnoringCaseAndLongNamesAreCutOnACharacter) {
  for (const char16_t* same : {u"data.txt", u"DATA.TXT", u"Data.Txt"}) EXPECT_TRUE(SameFileName(same, u"data.txt"));
  for (const char16_t* other : {u"data", u"data.txt.bak", u"sub\\data.txt", u""})
    EXPECT_FALSE(SameFileName(other, u"data.txt"));
  EXPECT_TRUE(SameFileName(u"\u00c4RGER\u0416.LOG", u"\u00e4rger\u0436.log"));  // Latin-1 and Cyrillic

  char field[260];
  WriteNameField(field, sizeof field, std::u16string(100, u'\u20ac'));  // three bytes each
  std::string kept;
  for (int i = 0; i < 86; ++i) kept += "\xe2\x82\xac";
  EXPECT_EQ(kept + "  ", std::string(field, sizeof field));
}

FilterInfo Entry(const char* column, const char* text) {
  return FilterInfo{"S", "NTFLCHG", 1, column, 9, static_cast<int>(std::strlen(text)), text, text, 0};
}

TEST(WatchSpecs, RowsAreReadAndTheUFormsWin) {
  std::int32_t four = 4;
  std::vector<FilterInfo> entries = {
      Entry("UWATCHDIR", "C:\\d\xc3\xbcr"), Entry("WATCHDIR", "C:\\ignored"), Entry("MONITORALL", "yes"),
      Entry("PARMA", ""), Entry("WATCHFILE", "lonely.txt"),  // no directory: dropped
      Entry("PARMA", ""), Entry("WATCHDIR", "C:\\logs  "),  Entry("WATCHFILE", "app.log "),
      Entry("CSIZE", "Y"), Entry("CLASTWRITE", "n"),          Entry("WATCHTREE", "y"),
      FilterInfo{"S", "NTFLTREND", 1, "SAMPNUM", 3, 4, reinterpret_cast<const char*>(&four), "4", 2},
  };
  std::vector<WatchSpec> w = ReadWatchSpecs(entries, nullptr);
  ASSERT_EQ(2u, w.size());
  EXPECT_EQ("C:\\d?r", w[0].dir);
  EXPECT_EQ("C:\\d\xc3\xbcr\\", DirectoryPath(w[0]));
  EXPECT_EQ(kAllChangeKinds, ChangeFilterMask(w[0]));
  EXPECT_FALSE(WatchesSubtree(w[0]) || WatchesOneFile(w[0]));
  EXPECT_EQ(0x8u, ChangeFilterMask(w[1]));
  EXPECT_TRUE(WatchesSubtree(w[1]));
  EXPECT_EQ("C:\\logs\\app.log", DirectoryPath(w[1]) + FileName(w[1]));
  EXPECT_EQ(4, w[1].sampleCount);
}

TEST(Trend, FourSamplesOfKnownGrowth) {
  // 1000 bytes at the start, 500 more at each sample, four samples kept,
  // sampled every minute: the hour reaches back as far as the ring does.
  struct {
    std::int64_t size, average, lastHour;
    std::int32_t pcTotal, pcAverage, pcLastHour;
  } samples[] = {
      {1500, 0, 500, 50, 0, 50},
      {2000, 166, 1000, 100, 16, 100},
      {2500, 333, 1500, 150, 33, 150},
      {3000, 500, 1500, 200, 50, 100},
  };
  TrendRing ring(4, 1000);
  for (const auto& e : samples) {
    TrendFigures f = ring.Add(e.size, 60);
    EXPECT_EQ(500, f.lastInterval);
    EXPECT_EQ(50, f.pcLastInterval);
    EXPECT_EQ(e.size - 1000, f.total);
    EXPECT_EQ(e.average, f.average) << e.size;
    EXPECT_EQ(e.lastHour, f.lastHour) << e.size;
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
  EXPECT_EQ(-1, f.pcAverage);
}

TEST(Trend, PercentagesAreComputedIn64BitsAndClamped) {
  const std::int64_t kGiB = 1024ll * 1024 * 1024;
  struct {
    std::int64_t value, base;
    std::int32_t percent;
  } cases[] = {
      {500, 1000, 50},   {-500, 1000, -50}, {1, 3, 33},  {7, 0, -1}, {100 * kGiB, kGiB, 10000},
      {1ll << 62, 1, 2147483647}, {-(1ll << 62), 1, -2147483647 - 1}, {1ll << 61, 1ll << 62, 50},
  };
  for (const auto& c : cases) EXPECT_EQ(c.percent, PercentOf(c.value, c.base)) << c.value << "/" << c.base;
  DiskFigures disk{true, 100ull * kGiB, 40ull * kGiB};
  EXPECT_EQ(10, PercentOfDisk(10 * kGiB, disk));
  EXPECT_EQ(-1, PercentOfDisk(10, DiskFigures{}));
  EXPECT_EQ(40, FreeSpaceHours(disk, kGiB));
  EXPECT_EQ(0, FreeSpaceHours(disk, 0));
  EXPECT_EQ(2147483647, FreeSpaceHours(disk, 1));
  EXPECT_EQ(kMaxSampleCount, UsableSampleCount(2000000000));
}

}  // namespace

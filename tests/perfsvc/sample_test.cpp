// Sample descriptions, row maintenance and the row layout of CopyRows.
#include "perfsvc/perf_name.h"
#include "perfsvc/sample.h"
#include "tests/perfsvc/memory_source.h"
#include "tests/perfsvc/perf_block_builder.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

using namespace osmperf;
using perfbuild::BlockBuilder;

namespace {

std::int32_t I32(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::int32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
std::int64_t I64(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::int64_t v;
  std::memcpy(&v, b.data() + at, 8);
  return v;
}
std::string Str(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t n) {
  return std::string(reinterpret_cast<const char*>(b.data()) + at, n);
}

// Names, catalogue and a helper that runs a block through a sample.
struct World {
  perfbuild::NameList names = {{230, "Process"}, {232, "Thread"}, {6, "% Processor Time"},
                               {180, "Working Set"}, {184, "Virtual Bytes"}, {4, "Memory"},
                               {24, "Available Bytes"}, {7, "% Processor Time Base"}};
  perfbuild::MemoryPerfSource source;
  std::unique_ptr<CPerfName> table;
  CSnapCatalog catalogue;

  explicit World(const std::vector<std::uint8_t>& block) {
    source.SetNames(names);
    table.reset(new CPerfName(&source));
    CPerfBlock b;
    b.Attach(block.data(), block.size());
    catalogue.Build(table.get(), b);
  }
};

void Feed(CSample& sample, const std::vector<std::uint8_t>& bytes) {
  CPerfBlock block;
  ASSERT_TRUE(block.Attach(bytes.data(), bytes.size()));
  CObjectWalker objects(block);
  CPerfObject object;
  ASSERT_TRUE(objects.Find(sample.ObjectIndex(), &object));
  sample.Update(block, object);
}

BlockBuilder Processes(std::vector<std::pair<std::u16string, std::uint64_t>> instances,
                       std::int64_t time100ns = 0) {
  BlockBuilder b;
  b.PerfTime100nSec(time100ns).SystemTime(2010, 4, 12, 6, 14, 21, 500);
  auto& p = b.Object(230).Counter(6, PERF_100NSEC_TIMER).Counter(180, PERF_COUNTER_RAWCOUNT);
  for (auto& i : instances) p.Instance(i.first, {i.second, i.second});
  return b;
}

// Describes a sample and resolves it against the world.
void Describe(CSample& s, const World& w, const char16_t* header, const char16_t* sizes, const char16_t* offsets,
              const char16_t* scales, const char16_t* types, const char16_t* fixedNames = nullptr,
              const char16_t* fixedSizes = nullptr, const char16_t* fixedOffsets = nullptr) {
  ASSERT_EQ(s.ProcessRawSampleDescription(header, sizes, offsets, scales, types, fixedNames, fixedSizes, fixedOffsets),
            kSampleOk)
      << s.DescriptionError();
  ASSERT_EQ(s.ConvertNamesToNumbers(w.catalogue, *w.table), kSampleOk);
}

const char16_t kProcessHeader[] = u"3 20 1 Process (3 _INSTANCE_, % Processor Time, Working Set)";

}  // namespace

TEST(SampleDescription, NamesWithParenthesesScalesAndLocale) {
  // Scales read with a decimal point even when the process locale uses a
  // comma, and the process locale is left alone.
  const char* before = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = before ? before : "C";
  std::string comma;
  for (const char* name : {"de_DE.UTF-8", "de_DE", "fr_FR.UTF-8", "German_Germany.1252", "German"}) {
    const char* set = std::setlocale(LC_NUMERIC, name);
    if (set != nullptr) {
      comma = set;
      break;
    }
  }
  CSample s;
  ASSERT_EQ(s.ProcessRawSampleDescription(u"3 1 1 DHCP Server (3 Binding time (msec) , Acks/sec,Nacks/sec)",
                                          u"20 8 4 8", u"0 8 12", u"0.000976563 1000 1.5e2", u"100 2 6"),
            kSampleOk)
      << s.DescriptionError();
  EXPECT_EQ(s.Columns()[0].name, u"Binding time (msec)");
  EXPECT_EQ(s.Columns()[2].name, u"Nacks/sec");
  EXPECT_DOUBLE_EQ(s.Columns()[0].scale, 0.000976563);
  EXPECT_DOUBLE_EQ(s.Columns()[1].scale, 1000.0);
  EXPECT_DOUBLE_EQ(s.Columns()[2].scale, 150.0);
  const char* after = std::setlocale(LC_NUMERIC, nullptr);
  if (!comma.empty()) {
    EXPECT_EQ(std::string(after), comma);
  }
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(SampleDescription, MalformedDescriptionsAreRefused) {
  struct Case {
    const char16_t *header, *sizes, *offsets, *scales, *types;
  } cases[] = {
      {u"2 1 1 Memory (3 A, B)", u"8 4 4", u"0 4", u"1 1", u"2 2"},      // counts differ
      {u"3 1 1 Memory (3 A, B)", u"12 4 4 4", u"0 4 8", u"1 1 1", u"2 2 2"},  // too few names
      {u"2 1 1 Memory (2 A, B)", u"8 4", u"0 4", u"1 1", u"2 2"},        // width missing
      {u"2 1 1 Memory (2 A, B)", u"8 4 4", u"0", u"1 1", u"2 2"},        // offset missing
      {u"2 1 1 Memory (2 A, B)", u"8 4 4", u"0 4", u"1", u"2 2"},        // scale missing
      {u"2 1 1 Memory (2 A, B)", u"8 4 4", u"0 4", u"1 1", u"2"},        // type missing
      {u"2 1 1 Memory (2 A, B)", u"8 4 16", u"0 4", u"1 1", u"2 100"},   // numeric wider than 8
      {u"2 1 1 Memory (2 A, B)", u"8 4 4", u"0 6", u"1 1", u"2 2"},      // outside the row
      {u"1 1 1 Memory (1 A)", u"8 4", u"0", u"1e999", u"2"},             // scale out of range
      {u"-1 1 1 Memory (-1 A)", u"8 4", u"0", u"1", u"2"},               // negative count
      {u"2 1", nullptr, nullptr, nullptr, nullptr},                     // header cut short
      {u"1 1 1 Memory (1 A)", nullptr, u"0", u"1", u"2"},                // sizes missing
  };
  for (const Case& c : cases) {
    CSample s;
    EXPECT_EQ(s.ProcessRawSampleDescription(c.header, c.sizes, c.offsets, c.scales, c.types), kSampleFail)
        << std::string(c.header, c.header + std::char_traits<char16_t>::length(c.header));
    EXPECT_FALSE(s.DescriptionError().empty());
  }
  CSample pseudo;
  EXPECT_EQ(pseudo.ProcessRawSampleDescription(u"1 1 1 Memory (1 A)", u"8 4", u"0", u"1", u"2",
                                               u"2 _ROW_, _SAMPLE_", u"4 4", u"0 6"),
            kSampleFail)
      << "pseudo-column outside the row";
  // _wtoi semantics: a malformed number reads as 0 and is not an error.
  CSample lenient;
  EXPECT_EQ(lenient.ProcessRawSampleDescription(u"1 x 1 Memory (1 A)", u"8 4", u"abc", u"1", u"2"), kSampleOk);
  EXPECT_EQ(lenient.Columns()[0].offset, 0u);
  // No header: a sample with no counter columns.
  CSample empty;
  EXPECT_EQ(empty.ProcessRawSampleDescription(nullptr, nullptr, nullptr, nullptr, nullptr), kSampleOk);
  EXPECT_EQ(empty.ColumnCount(), 0u);
  EXPECT_EQ(empty.ObjectFlag(), 0);
}

TEST(SampleNames, ResolveObjectsCountersAndValidity) {
  World w(Processes({{u"a", 1}}).Build());
  CSample s;
  Describe(s, w, u"4 20 1 process (4 _INSTANCE_, % processor time, Nope, Working Set)", u"20 4 4 4 4",
           u"0 4 8 12", u"0 1 1 1", u"3 2 2 2");
  EXPECT_EQ(s.ObjectIndex(), 230u);
  std::vector<std::uint32_t> indexes;  // name columns never match
  for (const SampleColumn& c : s.Columns()) indexes.push_back(c.counterIndex);
  EXPECT_EQ(indexes, (std::vector<std::uint32_t>{0, 6, 0, 180}));
  EXPECT_TRUE(s.Valid());

  CSample unknown;
  ASSERT_EQ(unknown.ProcessRawSampleDescription(u"1 1 1 Nothing (1 A)", u"4 4", u"0", u"1", u"2"), kSampleOk);
  EXPECT_EQ(unknown.ConvertNamesToNumbers(w.catalogue, *w.table), kSampleAccessDenied);
  EXPECT_FALSE(unknown.Valid());

  // Known to the name table but not returned by the snapshot: resolved, not valid.
  CSample absent;
  ASSERT_EQ(absent.ProcessRawSampleDescription(u"1 1 1 Memory (1 Available Bytes)", u"4 4", u"0", u"1", u"2"),
            kSampleOk);
  EXPECT_EQ(absent.ConvertNamesToNumbers(w.catalogue, *w.table), kSampleOk);
  EXPECT_EQ(absent.ObjectIndex(), 4u);
  EXPECT_FALSE(absent.Valid());
}

TEST(SampleRows, MatchByNameWithDuplicatesAndVanishing) {
  auto first = Processes({{u"svchost", 100}, {u"Idle", 500}, {u"SVCHOST", 1000}}, 0).Build();
  World w(first);
  CSample s;
  Describe(s, w, kProcessHeader, u"16 4 4 4", u"0 4 8", u"0 1 1", u"3 100 2");
  Feed(s, first);
  ASSERT_EQ(s.RowCount(), 3u);
  EXPECT_EQ(s.Row(0).Name(), u"svchost");
  EXPECT_EQ(s.Row(2).Name(), u"SVCHOST");

  // The first svchost vanishes, Idle moves first: the rows follow the new
  // order, names compare without regard to case, and the remaining svchost
  // is matched to the first row of that name (keeping its raw values).
  auto second = Processes({{u"Idle", 600}, {u"svchost", 1100}}, 10000000).Build();
  Feed(s, second);
  ASSERT_EQ(s.RowCount(), 2u);
  EXPECT_EQ(s.Row(0).Name(), u"Idle");
  EXPECT_EQ(s.Row(1).Name(), u"svchost");
  EXPECT_EQ(s.Row(0).Cell(1).OldRaw(), 500u);
  EXPECT_DOUBLE_EQ(s.Row(0).Cell(1).Value(), 0.001) << "100 over 10 000 000 x 100";
  EXPECT_EQ(s.Row(1).Cell(1).OldRaw(), 100u);

  // A new instance starts with a first reading.
  auto third = Processes({{u"Idle", 700}, {u"new", 50}, {u"svchost", 1200}}, 20000000).Build();
  Feed(s, third);
  ASSERT_EQ(s.RowCount(), 3u);
  EXPECT_EQ(s.Row(1).Name(), u"new");
  EXPECT_EQ(s.Row(1).Cell(1).Value(), 0.0);
  EXPECT_EQ(s.Row(1).Cell(2).Value(), 50.0);
  EXPECT_TRUE(s.Updated());
}

TEST(SampleRows, ParentInstancesFormTheKey) {
  BlockBuilder b;
  b.Object(230).Counter(180, PERF_COUNTER_RAWCOUNT).Instance(u"Idle", {1}).Instance(u"P", {2});
  b.Object(4).Counter(180, PERF_COUNTER_RAWCOUNT).Values({3});
  b.Object(232)
      .Counter(180, PERF_COUNTER_RAWCOUNT)
      .Instance(u"0", {10}, 230, 1)
      .Instance(u"1", {11}, 230, 9)  // no parent instance 9
      .Instance(u"2", {12}, 777, 0)  // no parent object 777
      .Instance(u"3", {13}, 4, 0);   // a parent without instances
  auto bytes = b.Build();
  World w(bytes);
  CSample s;
  Describe(s, w, u"2 80 1 Thread (2 _INSTANCE_, Working Set)", u"12 8 4", u"0 8", u"0 1", u"3 2");
  Feed(s, bytes);
  ASSERT_EQ(s.RowCount(), 4u);
  EXPECT_EQ(s.Row(0).Name(), u"P/0");
  EXPECT_EQ(s.Row(1).Name(), u"1");
  EXPECT_EQ(s.Row(2).Name(), u"2");
  EXPECT_EQ(s.Row(3).Name(), u"3");
}

TEST(SampleRows, InstanceCountsOneZeroThreeAndSingle) {
  auto one = Processes({{u"a", 1}}).Build();
  World w(one);
  CSample s;
  Describe(s, w, kProcessHeader, u"16 4 4 4", u"0 4 8", u"0 1 1", u"3 100 2");
  Feed(s, one);
  EXPECT_EQ(s.RowCount(), 1u);
  BlockBuilder zero;
  zero.Object(230).Counter(6, PERF_100NSEC_TIMER).Counter(180, PERF_COUNTER_RAWCOUNT).NoInstanceData();
  Feed(s, zero.Build());
  EXPECT_EQ(s.RowCount(), 0u) << "a row of an object reporting 0 instances is really deleted";
  std::vector<std::uint8_t> buffer(16 * 4, 0xEE);
  EXPECT_EQ(s.CopyRows(buffer.data(), buffer.size(), 1), 0u);
  EXPECT_EQ(buffer[0], 0xEE);
  Feed(s, Processes({{u"a", 1}, {u"b", 2}, {u"c", 3}}).Build());
  EXPECT_EQ(s.RowCount(), 3u);
  EXPECT_EQ(s.CopyRows(buffer.data(), buffer.size(), 1), 48u);
  // From instances to none: the single row starts afresh, its rate is a
  // first reading rather than one against instance "a".
  BlockBuilder none;
  none.PerfTime100nSec(10000000).Object(230).Counter(6, PERF_100NSEC_TIMER).Counter(180, PERF_COUNTER_RAWCOUNT)
      .Values({5000001, 9});
  Feed(s, none.Build());
  ASSERT_EQ(s.RowCount(), 1u);
  EXPECT_EQ(s.Row(0).Cell(1).Value(), 0.0);
  EXPECT_EQ(s.Row(0).Cell(2).Value(), 9.0);

  // An object without instances always yields one row with blank names.
  BlockBuilder mem;
  mem.Object(4).Counter(24, PERF_COUNTER_LARGE_RAWCOUNT).Values({123456789});
  auto memBytes = mem.Build();
  World mw(memBytes);
  CSample m;
  Describe(m, mw, u"2 1 1 Memory (2 _INSTANCE_, Available Bytes)", u"16 8 8", u"0 8", u"0 1", u"3 6");
  Feed(m, memBytes);
  Feed(m, memBytes);
  ASSERT_EQ(m.RowCount(), 1u);
  std::vector<std::uint8_t> row(16, 0);
  ASSERT_EQ(m.CopyRows(row.data(), row.size(), 1), 16u);
  EXPECT_EQ(Str(row, 0, 8), "        ");
  EXPECT_EQ(I64(row, 8), 123456789);
}

TEST(SampleRows, BaseCounterIsConsumedOnlyWhenInsideTheObject) {
  BlockBuilder b;
  // A fraction whose base follows it, then one whose base would lie past the
  // last definition (it reads as B = 0).
  b.Object(4)
      .Counter(24, PERF_RAW_FRACTION)
      .Counter(7, PERF_RAW_BASE)
      .Counter(180, PERF_RAW_FRACTION)
      .Values({30, 120, 50});
  auto bytes = b.Build();
  World w(bytes);
  CSample s;
  Describe(s, w, u"3 1 1 Memory (3 Available Bytes, % Processor Time Base, Working Set)", u"24 8 8 8", u"0 8 16",
           u"1 1 1", u"100 100 100");
  Feed(s, bytes);
  ASSERT_EQ(s.RowCount(), 1u);
  EXPECT_DOUBLE_EQ(s.Row(0).Cell(0).Value(), 25.0);
  EXPECT_EQ(s.Row(0).Cell(1).NewRaw(), 0u) << "a base definition feeds no column";
  EXPECT_EQ(s.Row(0).Cell(2).Value(), 0.0);
}

TEST(SampleCopyRows, LayoutPseudoColumnsAndTimestamps) {
  auto bytes = Processes({{u"svchost", 1}, {u"Idle", 2}}).Build();
  World w(bytes);
  CSample s(1);
  Describe(s, w, u"4 20 1 Process (4 _INSTANCE_, % Processor Time, Working Set, _INSTANCE_)", u"220 64 8 4 10",
           u"88 152 160 200", u"0 1 1 0", u"3 100 2 4", u"4 _ORIGIN_ , _SAMPLE_ , _ROW_ , _TIMESTAMP_", u"64 4 4 16",
           u"0 64 68 72");
  EXPECT_FALSE(s.Complete());
  ASSERT_TRUE(s.AddFixedData(u" _ORIGIN_ ", "Primary:HOST:NT", 15));
  EXPECT_TRUE(s.Complete());
  EXPECT_FALSE(s.AddFixedData(u"_ORIGIN_", "more", 4)) << "items beyond the announced count are refused";
  // 2010-04-12 06:14:21.5 UTC shown in a zone two hours east of UTC.
  s.SetUtcToLocal(FixedOffsetUtcToLocal(120));
  Feed(s, bytes);

  std::vector<std::uint8_t> buffer(220 * 10, 0xEE);
  ASSERT_EQ(s.CopyRows(buffer.data(), buffer.size(), 7), 440u);
  for (std::size_t r = 0; r < 2; ++r) {
    std::size_t at = r * 220;
    EXPECT_EQ(Str(buffer, at, 15), "Primary:HOST:NT");
    EXPECT_EQ(buffer[at + 15], 0xEE) << "fixed data copies only its own length";
    EXPECT_EQ(I32(buffer, at + 64), 7);
    EXPECT_EQ(I32(buffer, at + 68), static_cast<std::int32_t>(r + 1));
    EXPECT_EQ(Str(buffer, at + 72, 16), "1100412081421500");
    EXPECT_EQ(I32(buffer, at + 160), static_cast<std::int32_t>(r + 1));
    EXPECT_EQ(buffer[at + 164], 0xEE) << "uncovered bytes keep the caller's value";
  }
  EXPECT_EQ(Str(buffer, 88, 64), "svchost" + std::string(57, ' '));
  EXPECT_EQ(Str(buffer, 200, 10), "svchost   ");
  EXPECT_EQ(Str(buffer, 220 + 88, 4), "Idle");
  EXPECT_EQ(buffer[440], 0xEE) << "nothing written past the last row";

  // A buffer for one and a half rows receives one row only.
  std::vector<std::uint8_t> small(330, 0xEE);
  EXPECT_EQ(s.CopyRows(small.data(), small.size(), 1), 220u);
  EXPECT_EQ(small[220], 0xEE);
  EXPECT_EQ(s.CopyRows(nullptr, 1000, 1), 0u);
  EXPECT_EQ(s.CopyRows(small.data(), 0, 1), 0u);
}

TEST(SampleCopyRows, NameColumnsCutByBytesAtCharacterBoundaries) {
  std::u16string longName(70, u'x');
  std::u16string accented = u"caf\u00e9\u00e9";  // 5 characters, 7 bytes in UTF-8
  auto bytes = Processes({{longName, 1}, {accented, 2}}).Build();
  World w(bytes);
  CSample s;
  Describe(s, w, u"2 20 1 Process (2 _INSTANCE_, _INSTANCE_)", u"70 64 6", u"0 64", u"0 0", u"3 4");
  Feed(s, bytes);
  std::vector<std::uint8_t> buffer(140, 0xEE);
  ASSERT_EQ(s.CopyRows(buffer.data(), buffer.size(), 1), 140u);
  EXPECT_EQ(Str(buffer, 0, 64), std::string(64, 'x'));
  EXPECT_EQ(Str(buffer, 64, 6), "xxxxxx");
  EXPECT_EQ(Str(buffer, 70, 64), "caf??" + std::string(59, ' '));
  // 6 bytes hold "caf" and one two-byte character; the second is not cut in half.
  EXPECT_EQ(Str(buffer, 134, 6), "caf\xC3\xA9 ");
}

TEST(SampleCopyRows, NoPseudoColumnsWithoutFixedHeader) {
  auto bytes = Processes({{u"a", 1}}).Build();
  World w(bytes);
  CSample s;
  Describe(s, w, kProcessHeader, u"16 4 4 4", u"4 8 12", u"0 1 1", u"3 100 2");
  Feed(s, bytes);
  std::vector<std::uint8_t> buffer(16, 0xEE);
  ASSERT_EQ(s.CopyRows(buffer.data(), buffer.size(), 1), 16u);
  EXPECT_EQ(I32(buffer, 0), static_cast<std::int32_t>(0xEEEEEEEEu));
}

TEST(SampleState, ReadinessAndMissingObjects) {
  CSample s;
  ASSERT_EQ(s.ProcessRawSampleDescription(kProcessHeader, u"16 4 4 4", u"0 4 8", u"0 1 1", u"3 100 2"), kSampleOk);
  EXPECT_FALSE(s.Ready());
  EXPECT_FALSE(s.WaitReadyFor(1));
  // The due snapshot lacked the object: the sample is ready with no rows.
  s.MarkObjectMissing();
  EXPECT_TRUE(s.Ready());
  EXPECT_TRUE(s.ObjectMissing());
  s.WaitReady();
  EXPECT_EQ(s.RowCount(), 0u);
  // The lock is recursive, like a critical section.
  s.Lock();
  EXPECT_TRUE(s.TryLock());
  s.Unlock();
  s.Unlock();
}

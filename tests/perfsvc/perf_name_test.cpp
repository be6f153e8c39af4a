// Name table, catalogue, first object index list, the names file and the
// file source.
#include "perfsvc/perf_file_source.h"
#include "perfsvc/perf_name.h"
#include "perfsvc/perf_snap.h"
#include "perfsvc/perf_text.h"
#include "tests/perfsvc/memory_source.h"
#include "tests/perfsvc/perf_block_builder.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace osmperf;
using perfbuild::MemoryPerfSource;
using perfbuild::NameList;

namespace {

NameList StandardNames() {
  return {{2, "System"}, {4, "Memory"}, {6, "% Processor Time"}, {230, "Process"},
          {232, "Thread"}, {238, "Processor"}, {240, "Processor"}, {180, "Working Set"}};
}

std::string Utf8(const char16_t* s) { return PrintName(s); }

}  // namespace

TEST(CPerfName, LoadsNamesAndBoundsIndexes) {
  MemoryPerfSource source;
  source.SetNames(StandardNames());
  CPerfName names(&source);
  ASSERT_TRUE(names.Loaded());
  EXPECT_EQ(names.Result(), 0);
  EXPECT_EQ(names.LastCounter(), 240u);
  EXPECT_EQ(Utf8(names.Name(230)), "Process");
  EXPECT_EQ(Utf8(names.Name(6)), "% Processor Time");
  EXPECT_EQ(names.Name(5), nullptr);
  EXPECT_EQ(names.Name(241), nullptr) << "above the last counter";
  EXPECT_EQ(names.Name(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(names.FindIndex(u"processor"), 238u) << "case-blind, first index of a repeated name";
  EXPECT_EQ(names.FindIndex(u"Nothing"), 0u);
  EXPECT_EQ(PrintName(nullptr), "") << "a null name prints as an empty text";
  EXPECT_FALSE(EqualsNoCase(std::u16string(), static_cast<const char16_t*>(nullptr)));
}

TEST(CPerfName, NamesAboveLastCounterStopTheWalk) {
  MemoryPerfSource source;
  source.SetNames({{2, "System"}, {4, "Memory"}, {9000, "Rogue"}, {6, "After"}});
  source.SetLastIndexes(10, 11);
  CPerfName names(&source);
  ASSERT_TRUE(names.Loaded());
  EXPECT_EQ(Utf8(names.Name(4)), "Memory");
  EXPECT_EQ(names.Name(6), nullptr) << "the walk stops at the out-of-range index";
}

TEST(CPerfName, FailuresGiveTheirResults) {
  struct Case {
    PerfSourceStage stage;
    int result;
  } cases[] = {{PerfSourceStage::Connect, 4},     {PerfSourceStage::OpenPerflib, 4},
               {PerfSourceStage::LastCounter, 8}, {PerfSourceStage::LastHelp, 12},
               {PerfSourceStage::ReadCounterNames, 4}};
  for (const Case& c : cases) {
    MemoryPerfSource source;
    source.SetNames(StandardNames());
    source.FailAt(c.stage, 5);
    CPerfName names(&source);
    EXPECT_EQ(names.Result(), c.result) << static_cast<int>(c.stage);
    if (c.stage != PerfSourceStage::ReadCounterNames) {
      EXPECT_FALSE(names.Loaded());
    }
  }
  MemoryPerfSource zero;
  zero.SetLastIndexes(0, 0);
  CPerfName none(&zero);
  EXPECT_EQ(none.Result(), 16);
  EXPECT_FALSE(none.Loaded());
  // A corrupt "Last Counter" is refused, not allocated.
  MemoryPerfSource huge;
  huge.SetLastIndexes(0xFFFFFFFFu, 3);
  CPerfName refused(&huge);
  EXPECT_EQ(refused.Result(), 120);
  EXPECT_FALSE(refused.Loaded());
}

TEST(CSnapCatalog, BuildLookupAndIterate) {
  MemoryPerfSource source;
  source.SetNames(StandardNames());
  CPerfName names(&source);
  perfbuild::BlockBuilder b;
  b.Object(238).Counter(6, PERF_100NSEC_TIMER).Instance(u"0", {1});
  b.Object(230).Counter(6, PERF_100NSEC_TIMER).Counter(180, PERF_COUNTER_RAWCOUNT).Instance(u"a", {1, 2});
  auto bytes = b.Build();
  CPerfBlock block;
  ASSERT_TRUE(block.Attach(bytes.data(), bytes.size()));
  CSnapCatalog catalogue;
  EXPECT_EQ(catalogue.Build(&names, block), 2);
  EXPECT_EQ(catalogue.Rebuild(block), 0) << "builds only add";
  EXPECT_EQ(catalogue.LookupObject(u"processor"), 238u);
  EXPECT_EQ(catalogue.LookupObject(u"PROCESS"), 230u);
  EXPECT_EQ(catalogue.LookupObject(u"Thread"), 0u) << "named but not returned";
  EXPECT_EQ(catalogue.LookupCounter(230, u"working set"), 180u);
  EXPECT_EQ(catalogue.Position(230), 1);
  EXPECT_EQ(catalogue.Position(4), -1);
  // Iteration with names: the COM client's object and counter lists.
  const char16_t* name = nullptr;
  EXPECT_EQ(catalogue.SelectObject(4), 0u);
  EXPECT_EQ(catalogue.FirstCounter(&name), 0u);

  // An object whose index has no name matches nothing and lists as null.
  perfbuild::BlockBuilder unnamed;
  unnamed.Object(99).Counter(0, PERF_COUNTER_RAWCOUNT).Values({1});
  auto ub = unnamed.Build();
  ASSERT_TRUE(block.Attach(ub.data(), ub.size()));
  EXPECT_EQ(catalogue.Rebuild(block), 1);
  EXPECT_EQ(catalogue.LookupObject(u""), 0u);
  EXPECT_EQ(catalogue.LookupCounter(99, u""), 0u);
}

TEST(FirstObjectList, ExclusionsAndCorruption) {
  MemoryPerfSource source;
  source.SetNames({{2, "System"}, {4, "Memory"}, {230, "Process"}, {232, "Thread"}, {238, "Processor"},
                   {0, "Processor"}, {5000, "Processor"}, {6, "% Processor Time"}, {1846, "Web Service"}});
  source.SetLastIndexes(2000, 2001);
  FirstObjectList list;
  ASSERT_TRUE(BuildFirstObjectList(&source, "Process,Thread", &list));
  EXPECT_EQ(list.indexes, (std::vector<std::uint32_t>{2, 4, 238, 1846}));
  EXPECT_TRUE(list.corrupt) << "Processor under index 0 and above Last Counter";
  EXPECT_EQ(list.largestIndex, 5000u);
  EXPECT_EQ(list.lastCounter, 2000u);
  EXPECT_EQ(list.Text(), "2 4 238 1846 ");

  // A blank before a name excludes nothing; names compare exactly.
  ASSERT_TRUE(BuildFirstObjectList(&source, "Process, Thread,memory", &list));
  EXPECT_EQ(list.indexes, (std::vector<std::uint32_t>{2, 4, 232, 238, 1846}));

  ASSERT_TRUE(BuildFirstObjectList(&source, nullptr, &list));
  EXPECT_EQ(list.indexes.size(), 6u);

  source.FailAt(PerfSourceStage::ReadCounterText, 2);
  EXPECT_FALSE(BuildFirstObjectList(&source, nullptr, &list));
  EXPECT_TRUE(list.indexes.empty());
}

TEST(NamesFile, ParseAndRefuse) {
  std::vector<PerfNamePair> pairs;
  std::string error;
  ASSERT_TRUE(ParseNamesFile("\xEF\xBB\xBF" "1\r\n1847\r\n230\r\nProcess\r\n6\r\n% Processor Time\n\n\n", &pairs,
                             &error))
      << error;
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[1].index, 230u);
  EXPECT_EQ(pairs[1].name, u"Process");
  ASSERT_TRUE(ParseNamesFile("7\nCaf\xC3\xA9\n", &pairs, &error));
  EXPECT_EQ(pairs[0].name, u"Caf\u00e9");

  const char* bad[] = {"",          "230\n",       "x\nProcess\n",      "230\n\n4\nMemory\n",
                       "2 3\nA\n",  "-1\nA\n",     "999999999\nA\n",   "1\nA\xFF\n",
                       "1\nA\n\n2\nB\n"};
  for (const char* text : bad) {
    EXPECT_FALSE(ParseNamesFile(text, &pairs, &error)) << text;
    EXPECT_FALSE(error.empty());
  }
}

TEST(FileSource, MalformedFilesFailLikeFailedReads) {
  const std::string data = ::testing::TempDir() + "perfsvc_malformed.blk", names = data + ".names";
  perfbuild::BlockBuilder builder;
  builder.Object(4).Counter(24, 0x00010100).Values({1});
  std::vector<std::uint8_t> block = builder.Build();
  block[2] = 'X';  // signature
  ASSERT_TRUE(perfbuild::WriteBlockFile(data, block));
  {
    std::FILE* f = std::fopen(names.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("4\nMemory\nnot a number\nAvailable Bytes\n", f);
    std::fclose(f);
  }
  CFilePerfSource source(data, names);
  CPerfSnap snap(&source);
  EXPECT_FALSE(snap.Snap("4"));
  CPerfName table(&source);
  EXPECT_FALSE(table.Loaded());
  EXPECT_EQ(table.Result(), 4);
  FirstObjectList list;
  EXPECT_FALSE(BuildFirstObjectList(&source, "", &list));

  CFilePerfSource missing(data + ".none", "");
  EXPECT_FALSE(CPerfSnap(&missing).Snap("4"));
  EXPECT_FALSE(CPerfName(&missing).Loaded());
  // Each query reads the file afresh.
  block[2] = 'E';
  ASSERT_TRUE(perfbuild::WriteBlockFile(data, block));
  EXPECT_TRUE(snap.Snap("4"));
  std::remove(data.c_str());
  std::remove(names.c_str());
}

TEST(BlockDescription, RefusesMalformedLines) {
  const char* bad[] = {"counter 6 0x10\n",     "object 4\ncounter x 1\n", "object 4\ninstance noquote 1\n",
                       "systemtime 2010 4\n",  "bogus\n",                 "object 4\ninstance \"a\" parent 1\n"};
  for (const char* text : bad) {
    perfbuild::BlockBuilder b;
    perfbuild::NameList n;
    std::string error;
    EXPECT_FALSE(perfbuild::ParseBlockDescription(text, &b, &n, &error)) << text;
    EXPECT_EQ(error.compare(0, 5, "line "), 0) << error;
  }
}

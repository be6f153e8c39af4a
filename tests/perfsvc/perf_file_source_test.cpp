// The file source end to end: files written by the builder drive names,
// snapshots, the catalogue and a sample, as they will drive the agent.
#include "framework/ras1.h"
#include "perfsvc/perf_file_source.h"
#include "perfsvc/perf_name.h"
#include "perfsvc/perf_snap.h"
#include "perfsvc/sample.h"
#include "tests/perfsvc/perf_block_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

using namespace osmperf;

namespace {

class FileSource : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string base = std::string(::testing::TempDir()) + "perfsvc_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name();
    data_ = base + ".blk";
    names_ = base + ".names";
  }
  void TearDown() override {
    BSS1_PutEnv("OSM_PERFDATA_FILE=");
    BSS1_PutEnv("OSM_PERFNAMES_FILE=");
    std::remove(data_.c_str());
    std::remove(names_.c_str());
  }
  std::string data_, names_;
};

const char kDescription[] =
    "# a Memory object and a Process object\n"
    "name 4 Memory\n"
    "name 24 Available Bytes\n"
    "name 230 Process\n"
    "name 6 % Processor Time\n"
    "systemtime 2010 4 12 6 14 21 500\n"
    "perftime 1000\nperffreq 1000\nperftime100nsec 0\n"
    "object 4\n"
    "counter 24 0x00010100\n"
    "values 123456789\n"
    "object 230 perftime 77\n"
    "counter 6 0x20510500\n"
    "instance \"svc host\" 100\n"
    "instance \"Idle\" parent 4 0 200\n";

}  // namespace

TEST_F(FileSource, DrivesNamesSnapshotAndSample) {
  perfbuild::BlockBuilder builder;
  perfbuild::NameList names;
  std::string error;
  ASSERT_TRUE(perfbuild::ParseBlockDescription(kDescription, &builder, &names, &error)) << error;
  ASSERT_EQ(builder.ObjectCount(), 2u);
  ASSERT_TRUE(perfbuild::WriteBlockFile(data_, builder.Build()));
  ASSERT_TRUE(perfbuild::WriteNamesFile(names_, names));

  EXPECT_EQ(CreateFilePerfSourceFromEnvironment(), nullptr) << "no variable, no file source";
  BSS1_PutEnv(("OSM_PERFDATA_FILE=" + data_).c_str());
  BSS1_PutEnv(("OSM_PERFNAMES_FILE=" + names_).c_str());
  std::unique_ptr<IPerfDataSource> source = CreateFilePerfSourceFromEnvironment();
  ASSERT_NE(source, nullptr);
  EXPECT_STREQ(source->Name(), "file");

  CPerfName table(source.get());
  ASSERT_TRUE(table.Loaded());
  EXPECT_EQ(table.LastCounter(), 230u) << "the largest index serves as Last Counter";
  FirstObjectList list;
  ASSERT_TRUE(BuildFirstObjectList(source.get(), "", &list));
  EXPECT_EQ(list.Text(), "4 230 ");

  CPerfSnap snap(source.get(), 16, 16);
  ASSERT_TRUE(snap.Snap(list.Text().c_str()));
  CSnapCatalog catalogue;
  EXPECT_EQ(catalogue.Build(&table, snap.Block()), 2);

  CSample sample;
  ASSERT_EQ(sample.ProcessRawSampleDescription(u"2 20 1 Process (2 _INSTANCE_, % Processor Time)", u"16 8 8",
                                               u"0 8", u"0 1", u"3 100"),
            kSampleOk);
  ASSERT_EQ(sample.ConvertNamesToNumbers(catalogue, table), kSampleOk);
  ASSERT_TRUE(sample.Valid());
  CObjectWalker objects(snap.Block());
  CPerfObject object;
  ASSERT_TRUE(objects.Find(sample.ObjectIndex(), &object));
  sample.Update(snap.Block(), object);
  ASSERT_EQ(sample.RowCount(), 2u);
  EXPECT_EQ(sample.Row(0).Name(), u"svc host");
  EXPECT_EQ(sample.Row(1).Name(), u"Idle") << "a parent without instances leaves the plain name";
  EXPECT_EQ(sample.Times().objectTimeNew, 77);
  std::vector<std::uint8_t> rows(32);
  EXPECT_EQ(sample.CopyRows(rows.data(), rows.size(), 1), 32u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rows.data()), 8), "svc host");
}

TEST_F(FileSource, MalformedFilesFailLikeFailedReads) {
  perfbuild::BlockBuilder builder;
  builder.Object(4).Counter(24, 0x00010100).Values({1});
  std::vector<std::uint8_t> block = builder.Build();
  block[2] = 'X';  // signature
  ASSERT_TRUE(perfbuild::WriteBlockFile(data_, block));
  {
    std::FILE* f = std::fopen(names_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("4\nMemory\nnot a number\nAvailable Bytes\n", f);
    std::fclose(f);
  }
  CFilePerfSource source(data_, names_);
  CPerfSnap snap(&source);
  EXPECT_FALSE(snap.Snap("4"));
  CPerfName table(&source);
  EXPECT_FALSE(table.Loaded());
  EXPECT_EQ(table.Result(), 4);
  FirstObjectList list;
  EXPECT_FALSE(BuildFirstObjectList(&source, "", &list));

  CFilePerfSource missing(data_ + ".none", "");
  EXPECT_FALSE(CPerfSnap(&missing).Snap("4"));
  EXPECT_FALSE(CPerfName(&missing).Loaded());
  // Each query reads the file afresh.
  block[2] = 'E';
  ASSERT_TRUE(perfbuild::WriteBlockFile(data_, block));
  EXPECT_TRUE(snap.Snap("4"));
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

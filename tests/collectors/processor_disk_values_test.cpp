// The processor and disk tables' own values: the bounds, ties and large
// numbers that a test block cannot easily reach. The common cases run through
// the framework (framework_test.cpp).
#include "collectors/perf/disk_values.h"
#include "collectors/perf/perf_values.h"
#include "collectors/perf/processor_values.h"

#include <gtest/gtest.h>

#include "tests/collectors/row_block.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace osm::perf;

namespace {

TEST(ProcessorSummary, AnEmptyNameIsNoMissingRowAndACompleteTieKeepsTheFirst) {
  Rows cpus("NTPROCSSR", 2);
  cpus.Set(0, "PROCTIME", 40).Set(0, "INTERTIME", 100);  // no name
  cpus.Name(1, "1").Set(1, "PROCTIME", 40).Set(1, "INTERTIME", 100);
  Rows procs("WTPROCESS", 2);
  procs.Set(0, "IDPROCESS", 4);  // no name, no time
  procs.Name(1, "idle").Set(1, "IDPROCESS", 8);
  Rows sum("NTPROCRSUM", 1);
  ProcessorSummary s(sum.Row(0));
  for (std::size_t i = 0; i < 2; ++i) {
    s.AddProcessor(cpus.Row(i));
    s.AddProcess(procs.Row(i), 0);  // a count of 0 divides by 1
  }
  EXPECT_EQ(std::string(64, '\0'), sum.Text(0, "TOPCPUNAME"));
  EXPECT_EQ(std::string(64, '\0'), sum.Text(0, "LOWCPUNAME"));
  EXPECT_EQ(4, sum.Get(0, "TOPPROCID"));
}

TEST(PhysicalDisk, NumbersAndDriveLettersStayWithinTheirFields) {
  struct Case {
    const char* name;
    const char* number;  // DISKNUMBER, 4 bytes
    const char* mapped;  // letters the drive map takes, each with the entry below
    const char* disk;    // at most 3 bytes
  } cases[] = {
      {"1234a: g: H:", "1234", "GH", "123"},  // a colon inside the number names no drive
      {"2 1: ?: :: c:", "2", "C", "2"},       // only letters before a colon
      {"_Total", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rows disk("WTPHYSDSK", 1);
    disk.Name(0, c.name);
    AdjustPhysicalDiskRow(disk.Row(0));
    std::string number(c.number);
    EXPECT_EQ(number + std::string(4 - number.size(), '\0'), disk.Text(0, "DISKNUMBER"));
    DriveMap map;
    RowField f = FieldOf("WTPHYSDSK", "INSTCNAME");
    EXPECT_EQ(c.mapped, map.AddPhysicalDisk(disk.Row(0) + f.offset, f.width));
    for (const char* l = c.mapped; *l; ++l) EXPECT_EQ(c.disk, map.DiskOf(*l));
    EXPECT_EQ("0", map.DiskOf('1'));
  }
}

TEST(PhysicalDisk, TimesAreScaledWithoutDivisionByZeroOrOverflow) {
  // {disk, idle, read, write} delivered, then expected
  const std::int32_t cases[][8] = {{0, 90, 20, 0, 10, 90, 0, 0}, {1, 0, 2000000000, 0, 100, 0, 2147483647, 0}};
  for (const auto& c : cases) {
    Rows d("WTPHYSDSK", 1);
    d.Set(0, "PCTDSKTIME", c[0]).Set(0, "PCTDSKIDTM", c[1]).Set(0, "PCTDSKRDTM", c[2]).Set(0, "PCTDSKWRTM", c[3]);
    AdjustPhysicalDiskRow(d.Row(0));
    DiskTimes t = DiskTimesOf(d.Row(0));
    EXPECT_EQ(std::vector<std::int32_t>(c + 4, c + 8), (std::vector<std::int32_t>{t.disk, t.idle, t.read, t.write}));
  }
}

TEST(LogicalDisk, VolumesMatchWholeNamesAndSizesDoNotWrap) {
  EXPECT_TRUE(DeviceNamesInstance("\\Device\\HarddiskVolume1", "harddiskvolume1"));
  EXPECT_FALSE(DeviceNamesInstance("\\Device\\HarddiskVolume10", "HarddiskVolume1"));
  EXPECT_FALSE(DeviceNamesInstance("\\Device\\HarddiskVolume1", "HarddiskVolume10"));

  EXPECT_EQ(26214400, SizeFromFreeSpace(23592960, 90, true));  // 25 TiB, 90 % free
  EXPECT_EQ(33367, SizeFromFreeSpace(1001, 3, true));
  EXPECT_EQ(2147483647, SizeFromFreeSpace(2147483647, 1, true));
  EXPECT_EQ(-1, SizeFromFreeSpace(500, 0, true));

  // The volume-data request refused: error 1 falls back to the counters,
  // any other error (50 under Wine) and a short answer give 0.
  struct Case {
    bool ok;
    std::uint32_t error;
    std::int32_t pcFree, size;
    VolumeDataRoute route;
  } cases[] = {{false, 1, 3, 33366, VolumeDataRoute::kNotSupported},
               {false, 1, 0, -1, VolumeDataRoute::kNoCounters},
               {false, 50, 3, 0, VolumeDataRoute::kFailed},
               {true, 0, 3, 0, VolumeDataRoute::kFailed}};
  unsigned char shortAnswer[40] = {0};
  for (const Case& c : cases) {
    VolumeDataRoute route;
    EXPECT_EQ(c.size, VolumeSizeFromVolumeData(c.ok, c.error, shortAnswer, sizeof shortAnswer, 1001, c.pcFree, &route));
    EXPECT_EQ(c.route, route);
  }
}

// Sizes by name, and the rows the walk found unexpected.
struct FakeSizes : LogicalDiskSizes {
  std::map<std::string, std::int32_t> sizes;
  std::int32_t DiskSizeMB(const std::string& root) override { return sizes.at(root); }
  std::int32_t VolumeSizeMB(const std::string& name, std::int32_t, std::int32_t) override { return sizes.at(name); }
};

TEST(LogicalDisk, UnknownSizesStayOutOfTheTotalAndOwnedFieldsAreAlwaysSet) {
  Rows rows("WTLOGCLDSK", 3);
  rows.Name(0, "_Total");
  RowField number = FieldOf("WTLOGCLDSK", "PHYDISKNUM");
  std::memcpy(rows.Row(0) + number.offset, "Mnt", 3);  // left from an earlier sample
  rows.Name(1, "C:").Set(1, "DSKPCTFRSP", -4);
  rows.Name(2, "HarddiskVolume3").Set(2, "FREEMGBTES", 10);  // no size and no percent free
  FakeSizes sizes;
  sizes.sizes = {{"C:", 3000}, {"HarddiskVolume3", -1}};
  CompleteLogicalDiskRows(rows.bytes.data(), 3, rows.def.rowSize, DriveMap(), sizes);
  EXPECT_EQ(3000, rows.Get(0, "TOTALSIZE"));
  EXPECT_EQ(std::string(4, '\0'), rows.Text(0, "PHYDISKNUM"));
  EXPECT_EQ(0, rows.Get(1, "DSKPCTFRSP"));
  EXPECT_EQ(-1, rows.Get(2, "TOTALSIZE"));
}

}  // namespace

// The processor and disk tables' own values on rows laid out by their row
// records: the bounds, ties and large numbers that a test block cannot easily
// reach. The common cases run through the framework (framework_test.cpp).
#include "collectors/perf/disk_values.h"
#include "collectors/perf/perf_values.h"
#include "collectors/perf/processor_values.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace osm::perf;

namespace {

// Rows of one table in one buffer, set and read by attribute name.
struct Rows {
  Rows(const char* table, std::size_t n) : def(*osm::FindTable(table)), bytes(n * def.rowSize, 0) {}
  char* Row(std::size_t i) { return bytes.data() + i * def.rowSize; }
  Rows& Set(std::size_t i, const char* name, std::int32_t v) {
    SetInt32(Row(i), FieldOf(def, name), v);
    return *this;
  }
  Rows& Name(std::size_t i, const std::string& text) {
    RowField f = FieldOf(def, "INSTCNAME");
    CopyTextField(Row(i) + f.offset, f.width, text);
    return *this;
  }
  std::int32_t Get(std::size_t i, const char* name) { return GetInt32(Row(i), FieldOf(def, name)); }
  std::string Text(std::size_t i, const char* name) {
    RowField f = FieldOf(def, name);
    return std::string(Row(i) + f.offset, f.width);
  }
  const osm::TableDef& def;
  std::vector<char> bytes;
};

TEST(ProcessorSummary, FirstRowsAndTiesAreDecidedByOrderNotByEmptyNames) {
  // The first processor has an empty name: the second must not take its
  // place as if no processor had been seen yet.
  Rows cpus("NTPROCSSR", 3);
  cpus.Set(0, "PROCTIME", 40).Set(0, "INTERTIME", 100);
  cpus.Name(1, "1").Set(1, "PROCTIME", 40).Set(1, "INTERTIME", 100);
  cpus.Name(2, "_Total").Set(2, "PROCTIME", 99);
  Rows sum("NTPROCRSUM", 1);
  ProcessorSummary s(sum.Row(0));
  for (std::size_t i = 0; i < 3; ++i) s.AddProcessor(cpus.Row(i));

  Rows procs("WTPROCESS", 3);
  procs.Set(0, "PCTPRCSTME", 0).Set(0, "IDPROCESS", 4);  // no name, no time: still the first process
  procs.Name(1, "_Total").Set(1, "PCTPRCSTME", 900);
  procs.Name(2, "idle").Set(2, "PCTPRCSTME", 0).Set(2, "IDPROCESS", 8);
  for (std::size_t i = 0; i < 3; ++i) s.AddProcess(procs.Row(i), 0);  // a count of 0 divides by 1
  s.Finish();
  EXPECT_EQ(std::string(64, '\0'), sum.Text(0, "TOPCPUNAME")) << "a complete tie keeps the earlier row";
  EXPECT_EQ(std::string(64, '\0'), sum.Text(0, "LOWCPUNAME"));
  EXPECT_EQ(4, sum.Get(0, "TOPPROCID"));
  EXPECT_EQ(0, sum.Get(0, "PROCDIFF"));

  // No processor rows and no System rows: zeros, and a count the caller replaces.
  Rows none("NTPROCRSUM", 1);
  ProcessorSummary empty(none.Row(0));
  empty.Finish();
  EXPECT_EQ(std::vector<char>(none.def.rowSize, 0), none.bytes);
  Rows system("WTSYSTEM", 1);
  system.Set(0, "NUMOFPRCSR", 4);
  EXPECT_EQ(4, ProcessorCountOf(system.Row(0), 1, system.def.rowSize));
  EXPECT_EQ(0, ProcessorCountOf(system.Row(0), 0, system.def.rowSize));
}

TEST(PhysicalDisk, NumbersAndDriveLettersStayWithinTheirFields) {
  struct Case {
    const char* name;
    const char* number;  // DISKNUMBER, 4 bytes
    const char* mapped;  // letters the drive map takes
    const char* disk;    // their map entry, at most 3 bytes
  } cases[] = {
      {"1 E: F:", "1", "EF", "1"},
      {"1234a: g: H:", "1234", "GH", "123"},  // a colon inside the number names no drive
      {"2 1: ?: :: c:", "2", "C", "2"},  // only letters before a colon
      {"_Total", "", "", ""},
      {"3", "3", "", ""},  // the blank padding ends the number
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rows disk("WTPHYSDSK", 1);
    disk.Name(0, c.name).Set(0, "PCTDSKTIME", 5);
    AdjustPhysicalDiskRow(disk.Row(0));
    std::string number(c.number);
    EXPECT_EQ(number + std::string(4 - number.size(), '\0'), disk.Text(0, "DISKNUMBER"));
    DriveMap map;
    RowField f = FieldOf("WTPHYSDSK", "INSTCNAME");
    EXPECT_EQ(c.mapped, map.AddPhysicalDisk(disk.Row(0) + f.offset, f.width));
    for (const char* l = c.mapped; *l; ++l) EXPECT_EQ(c.disk, map.DiskOf(*l));
  }
  DriveMap map;
  EXPECT_EQ("0", map.DiskOf('Q'));
  EXPECT_EQ("0", map.DiskOf('1'));
}

TEST(PhysicalDisk, TimesAreAdjustedInWideArithmetic) {
  struct Case {
    std::int32_t disk, idle, read, write;  // delivered, then expected
    std::int32_t eDisk, eIdle, eRead, eWrite;
    bool data;
  } cases[] = {
      {80, 30, 60, 50, 70, 30, 52, 43, true},
      {80, 110, 60, 50, 0, 100, 0, 0, true},
      {0, 90, 20, 0, 10, 90, 0, 0, true},  // delivered disk time 0: no division
      {1, 0, 2000000000, 0, 100, 0, 2147483647, 0, true},  // saturated, not wrapped
      {0, 0, 0, 0, 0, 0, 0, 0, false},
  };
  for (const Case& c : cases) {
    Rows d("WTPHYSDSK", 1);
    d.Set(0, "PCTDSKTIME", c.disk).Set(0, "PCTDSKIDTM", c.idle).Set(0, "PCTDSKRDTM", c.read).Set(0, "PCTDSKWRTM", c.write);
    EXPECT_EQ(c.data, AdjustPhysicalDiskRow(d.Row(0)));
    DiskTimes t = DiskTimesOf(d.Row(0));
    EXPECT_EQ(c.eDisk, t.disk) << c.disk << "/" << c.idle;
    EXPECT_EQ(c.eIdle, t.idle);
    EXPECT_EQ(c.eRead, t.read);
    EXPECT_EQ(c.eWrite, t.write);
  }
}

TEST(LogicalDisk, VolumeNamesMatchWholeComponents) {
  EXPECT_TRUE(DeviceNamesInstance("\\Device\\HarddiskVolume1", "harddiskvolume1"));
  EXPECT_FALSE(DeviceNamesInstance("\\Device\\HarddiskVolume10", "HarddiskVolume1"));
  EXPECT_FALSE(DeviceNamesInstance("\\Device\\HarddiskVolume1", "HarddiskVolume10"));
  EXPECT_FALSE(DeviceNamesInstance("\\Device\\", ""));
}

TEST(LogicalDisk, SizesAreWorkedOutIn64BitsAndSaturated) {
  const std::int32_t kMax = 2147483647;
  EXPECT_EQ(2000, SizeFromFreeSpace(500, 25, true));
  EXPECT_EQ(26214400, SizeFromFreeSpace(23592960, 90, true));  // 25 TiB, 90 % free
  EXPECT_EQ(33367, SizeFromFreeSpace(1001, 3, true));
  EXPECT_EQ(33366, SizeFromFreeSpace(1001, 3, false));
  EXPECT_EQ(kMax, SizeFromFreeSpace(kMax, 1, true));
  EXPECT_EQ(-1, SizeFromFreeSpace(500, 0, true));
  EXPECT_EQ(-1, SizeFromFreeSpace(-5, 10, true));
  EXPECT_EQ(kMax, MegabytesOf(~0ull));

  // The volume-data request's failures: error 1 falls back to the counters.
  VolumeDataRoute route;
  EXPECT_EQ(33366, VolumeSizeFromVolumeData(false, 1, nullptr, 0, 1001, 3, &route));
  EXPECT_EQ(VolumeDataRoute::kNotSupported, route);
  EXPECT_EQ(-1, VolumeSizeFromVolumeData(false, 1, nullptr, 0, 1001, 0, &route));
  EXPECT_EQ(VolumeDataRoute::kNoCounters, route);
  EXPECT_EQ(0, VolumeSizeFromVolumeData(false, 50, nullptr, 0, 1001, 3, &route));
  EXPECT_EQ(VolumeDataRoute::kFailed, route);
  unsigned char shortAnswer[40] = {0};
  EXPECT_EQ(0, VolumeSizeFromVolumeData(true, 0, shortAnswer, sizeof shortAnswer, 1001, 3, &route));
  EXPECT_EQ(VolumeDataRoute::kFailed, route);
}

// Sizes by name, and the rows the walk found unexpected.
struct FakeSizes : LogicalDiskSizes {
  std::map<std::string, std::int32_t> sizes;
  std::vector<int> unexpected;
  std::int32_t DiskSizeMB(const std::string& root) override { return sizes.at(root); }
  std::int32_t VolumeSizeMB(const std::string& name, std::int32_t, std::int32_t) override { return sizes.at(name); }
  void UnexpectedRow(const std::string&, int row) override { unexpected.push_back(row); }
};

TEST(LogicalDisk, UnknownSizesStayOutOfTheTotalAndOwnedFieldsAreAlwaysSet) {
  Rows rows("WTLOGCLDSK", 4);
  rows.Name(0, "_Total").Set(0, "PCFREE", 50);
  RowField number = FieldOf("WTLOGCLDSK", "PHYDISKNUM");
  std::memcpy(rows.Row(0) + number.offset, "Mnt", 3);  // left from an earlier sample
  rows.Name(1, "C:").Set(1, "DSKPCTFRSP", -4);
  rows.Name(2, "HarddiskVolume3").Set(2, "FREEMGBTES", 10);  // no size and no percent free
  rows.Name(3, "Data").Set(3, "PCFREE", 7);
  FakeSizes sizes;
  sizes.sizes = {{"C:", 3000}, {"HarddiskVolume3", -1}};
  DriveMap map;
  CompleteLogicalDiskRows(rows.bytes.data(), 4, rows.def.rowSize, map, sizes);
  EXPECT_EQ(3000, rows.Get(0, "TOTALSIZE"));
  EXPECT_EQ(std::string(4, '\0'), rows.Text(0, "PHYDISKNUM"));
  EXPECT_EQ(std::string("0\0\0\0", 4), rows.Text(1, "PHYDISKNUM"));
  EXPECT_EQ(0, rows.Get(1, "DSKPCTFRSP"));
  EXPECT_EQ(-1, rows.Get(2, "TOTALSIZE"));
  EXPECT_EQ(std::vector<int>{4}, sizes.unexpected);
  EXPECT_EQ(0, rows.Get(3, "PCUSED")) << "an unexpected row is handed over as delivered";
}

}  // namespace

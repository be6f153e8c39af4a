// The byte-level work of the performance collectors: rounding, text fields,
// progress lines, logical processors, and the derived values of WTMEMORY,
// NTMEMORY and WTSYSTEM on rows laid out by their row records.
#include "collectors/perf/perf_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using namespace osm::perf;

namespace {

const std::uint64_t kGiB = 1024ull * 1024 * 1024;

// A zero-filled row of a catalogue table, with helpers by attribute name.
struct Row {
  explicit Row(const char* table) : def(*osm::FindTable(table)), bytes(def.rowSize, 0) {}
  std::int32_t I32(const char* name) const { return GetInt32(bytes.data(), Field(name)); }
  std::int64_t I64(const char* name) const { return GetInt64(bytes.data(), Field(name)); }
  void Set32(const char* name, std::int32_t v) { SetInt32(bytes.data(), Field(name), v); }
  void Set64(const char* name, std::int64_t v) { SetInt64(bytes.data(), Field(name), v); }
  void SetText(const char* name, const std::string& text) {
    RowField f = Field(name);
    CopyTextField(bytes.data() + f.offset, f.width, text);
  }
  std::string Text(const char* name) const {
    RowField f = Field(name);
    return std::string(bytes.data() + f.offset, f.width);
  }
  RowField Field(const char* name) const {
    RowField f = FieldOf(def, name);
    EXPECT_TRUE(f.valid()) << def.name << "." << name;
    return f;
  }
  char* data() { return bytes.data(); }
  const osm::TableDef& def;
  std::vector<char> bytes;
};

MemoryStatus Memory(std::uint64_t total, std::uint64_t pageTotal = 0, std::uint64_t pageAvail = 0) {
  MemoryStatus m;
  m.ok = true;
  m.totalPhys = total;
  m.totalPageFile = pageTotal;
  m.availPageFile = pageAvail;
  return m;
}

TEST(Rounding, HalfUpInSinglePrecisionAndSaturated) {
  EXPECT_EQ(13, RoundHalfUp(100.0f / 8));  // 12.5
  EXPECT_EQ(3, RoundHalfUp(2.5f));
  EXPECT_EQ(2, RoundHalfUp(2.49f));
  EXPECT_EQ(0, RoundHalfUp(-0.7f));  // truncation toward zero after adding 0.5
  EXPECT_EQ(2147483647, RoundHalfUp(1e12f));
  EXPECT_EQ(-2147483647 - 1, RoundHalfUp(-1e12f));
  EXPECT_EQ(-1, RoundHalfUp(std::nanf("")));
  EXPECT_EQ(2147483647, SaturateInt32(1ll << 40));
  EXPECT_EQ(8388608u, DivideRoundHalfUp(8 * kGiB, 1024));
  EXPECT_EQ(2u, DivideRoundHalfUp(1536, 1024));  // exactly half goes up
  EXPECT_EQ(1u, DivideRoundHalfUp(1535, 1024));
  EXPECT_EQ(1u, DivideRoundHalfUp(2, 3));
}

TEST(TextField, BlankPadsAndCutsWithEllipsis) {
  char field[16];
  CopyTextField(field, sizeof field, "10.1.2.3");
  EXPECT_EQ(std::string("10.1.2.3        "), std::string(field, 16));
  CopyTextField(field, sizeof field, "fe80::1234:5678:9abc:def0");
  EXPECT_EQ(std::string("fe80::1234:56..."), std::string(field, 16));
  CopyTextField(field, sizeof field, "exactly16bytes!!");
  EXPECT_EQ(std::string("exactly16bytes!!"), std::string(field, 16));
  CopyTextField(field, 3, "abcdef");
  EXPECT_EQ(std::string("abc"), std::string(field, 3));
}

TEST(TotalInstance, ComparesTheFirstSixCharacters) {
  auto field = [](const std::string& name) {
    std::string f(64, ' ');
    f.replace(0, name.size(), name);
    return f;
  };
  EXPECT_TRUE(IsTotalInstance(field("_Total").data(), 64));
  EXPECT_TRUE(IsTotalInstance(field("_TotalSomething").data(), 64));
  EXPECT_FALSE(IsTotalInstance(field("_Tota").data(), 64));
  EXPECT_FALSE(IsTotalInstance(field("_total").data(), 64));
  EXPECT_FALSE(IsTotalInstance(field("0").data(), 64));
  EXPECT_FALSE(IsTotalInstance("_Total", 5));
}

TEST(ProgressLines, EachGroupKeepsItsFormAndDestination) {
  const std::string c = "osm_ntpagefile_agent";
  EXPECT_EQ("osm_ntpagefile_agent::TakeSample()  invoked", ProgressLine(ProgressForm::kStandard, c, ProgressOp::kTakeSample));
  EXPECT_EQ("osm_ntpagefile_agent::TakeSampleConstructor()  invoked",
            ProgressLine(ProgressForm::kStandard, c, ProgressOp::kConstructor));
  EXPECT_EQ("x::TakeSample() invoked", ProgressLine(ProgressForm::kLogicalDisk, "x", ProgressOp::kTakeSample));
  EXPECT_EQ("x::TakeSampleDestructor()  invoked", ProgressLine(ProgressForm::kLogicalDisk, "x", ProgressOp::kDestructor));
  EXPECT_EQ("x::TakeSample() invoked.", ProgressLine(ProgressForm::kDotted, "x", ProgressOp::kTakeSample));
  EXPECT_EQ("x::TakeSampleDestructor() invoked.", ProgressLine(ProgressForm::kDotted, "x", ProgressOp::kDestructor));
  EXPECT_EQ("x::TakeSample ()  invoked", ProgressLine(ProgressForm::kSpaced2, "x", ProgressOp::kTakeSample));
  EXPECT_EQ("x::TakeSampleConstructor ()   invoked", ProgressLine(ProgressForm::kSpaced3, "x", ProgressOp::kConstructor));
  EXPECT_EQ("x::TakeSample ()    invoked", ProgressLine(ProgressForm::kSpaced4, "x", ProgressOp::kTakeSample));

  EXPECT_EQ(ProgressSink::kStderr, ProgressDestination(ProgressForm::kStandard, ProgressOp::kTakeSample));
  EXPECT_EQ(ProgressSink::kStdout, ProgressDestination(ProgressForm::kDotted, ProgressOp::kConstructor));
  EXPECT_EQ(ProgressSink::kStdout, ProgressDestination(ProgressForm::kStandardOut, ProgressOp::kTakeSample));
  EXPECT_EQ(ProgressSink::kStderr, ProgressDestination(ProgressForm::kStandardOut, ProgressOp::kDestructor));
  EXPECT_EQ(ProgressSink::kDetailTrace, ProgressDestination(ProgressForm::kStandardDetail, ProgressOp::kTakeSample));
  EXPECT_EQ(ProgressSink::kStderr, ProgressDestination(ProgressForm::kSpaced4, ProgressOp::kTakeSample));
}

// One 32-byte logical processor entry.
void AddEntry(std::vector<unsigned char>* bytes, std::uint64_t mask, std::uint32_t relationship) {
  std::size_t at = bytes->size();
  bytes->resize(at + kLogicalProcessorEntrySize, 0);
  for (int i = 0; i < 8; ++i) (*bytes)[at + i] = static_cast<unsigned char>(mask >> (8 * i));
  for (int i = 0; i < 4; ++i) (*bytes)[at + 8 + i] = static_cast<unsigned char>(relationship >> (8 * i));
}

TEST(LogicalProcessors, CountsMaskBitsOfCoreEntriesOnly) {
  std::vector<unsigned char> bytes;
  AddEntry(&bytes, 0x0F, 0);        // core, bits 0 to 3
  AddEntry(&bytes, 0xFF, 2);        // cache entry: not counted
  AddEntry(&bytes, 0xF0, 0);        // core, bits 4 to 7
  AddEntry(&bytes, 0xFFFFFFFF, 3);  // package
  int cores = 0;
  EXPECT_EQ(8, CountLogicalProcessors(bytes.data(), bytes.size(), &cores));
  EXPECT_EQ(2, cores);
  // A high mask bit counts, a trailing partial entry does not.
  AddEntry(&bytes, 0x8000000000000001ull, 0);
  EXPECT_EQ(10, CountLogicalProcessors(bytes.data(), bytes.size(), &cores));
  EXPECT_EQ(10, CountLogicalProcessors(bytes.data(), bytes.size() + 0, nullptr));
  EXPECT_EQ(8, CountLogicalProcessors(bytes.data(), bytes.size() - 1, &cores));
  EXPECT_EQ(0, CountLogicalProcessors(nullptr, 64, &cores));
}

TEST(OsType, NamesByVersionAndProductType) {
  EXPECT_STREQ("Windows_NT", OsTypeName(4, 0, 1));
  EXPECT_STREQ("Windows_2000", OsTypeName(5, 0, 3));
  EXPECT_STREQ("Windows_XP", OsTypeName(5, 1, 1));
  EXPECT_STREQ("Windows_Svr_2003", OsTypeName(5, 2, 3));
  EXPECT_STREQ("Windows_2008", OsTypeName(6, 0, 2));
  EXPECT_STREQ("Windows_Vista", OsTypeName(6, 0, 1));
  EXPECT_STREQ("Windows_7", OsTypeName(6, 1, 1));
  EXPECT_STREQ("Windows_2008_R2", OsTypeName(6, 1, 3));
  EXPECT_EQ(nullptr, OsTypeName(10, 0, 1));
}

TEST(WtMemory, EightGibExampleAndPercentages) {
  Row row("WTMEMORY");
  row.Set32("CACHEKB", 2097152);     // 2 GiB in KB: 25 %
  row.Set32("AVAILKB", 1048576);     // 12.5 % -> 13
  row.Set32("COMMKBYTE", 4194304);   // 50 %
  row.Set32("COMMITLKB", 10000000);
  WorkingSetTotal ws;
  ws.found = true;
  ws.bytes = 858993459;
  ws.kbytes = 838861;  // 10.0000 %
  EXPECT_TRUE(CompleteWtMemoryRow(row.data(), Memory(8 * kGiB), ws));
  EXPECT_EQ(2147483647, row.I32("TOTMEMBYTE"));
  EXPECT_EQ(8388608, row.I32("TOTMEMKB"));
  EXPECT_EQ(8192, row.I32("TOTMEMMB"));
  EXPECT_EQ(25, row.I32("CACHEPCT"));
  EXPECT_EQ(13, row.I32("AVAILPCT"));
  EXPECT_EQ(50, row.I32("MEMUPCT"));
  EXPECT_EQ(10, row.I32("TOTWSPCT"));
  EXPECT_EQ(858993459, row.I32("TOTWSBYTES"));
  EXPECT_EQ(838861, row.I32("TOTWSKBYTE"));
  EXPECT_EQ(10000000 - 4194304, row.I32("COMAVLKBYT"));

  // A small machine keeps its byte count.
  Row small("WTMEMORY");
  CompleteWtMemoryRow(small.data(), Memory(512ull * 1024 * 1024), ws);
  EXPECT_EQ(536870912, small.I32("TOTMEMBYTE"));
  EXPECT_EQ(512, small.I32("TOTMEMMB"));
}

TEST(WtMemory, LargeMachinesSaturateInsteadOfWrapping) {
  Row row("WTMEMORY");
  CompleteWtMemoryRow(row.data(), Memory(2048 * kGiB), WorkingSetTotal());
  EXPECT_EQ(2147483647, row.I32("TOTMEMBYTE"));
  EXPECT_EQ(2147483647, row.I32("TOTMEMKB"));  // 2^31 KB would wrap to a negative value
  EXPECT_EQ(2097152, row.I32("TOTMEMMB"));
  Row commit("WTMEMORY");
  commit.Set32("COMMITLKB", 2147483647);
  commit.Set32("COMMKBYTE", -5);
  CompleteWtMemoryRow(commit.data(), Memory(kGiB), WorkingSetTotal());
  EXPECT_EQ(2147483647, commit.I32("COMAVLKBYT"));
}

TEST(WtMemory, MissingInputsGiveMinusOne) {
  // No Process "_Total": working set values and their percentage are -1.
  Row row("WTMEMORY");
  row.Set32("TOTWSBYTES", 777);  // whatever the sample held is replaced
  EXPECT_TRUE(CompleteWtMemoryRow(row.data(), Memory(8 * kGiB), WorkingSetTotal()));
  EXPECT_EQ(-1, row.I32("TOTWSBYTES"));
  EXPECT_EQ(-1, row.I32("TOTWSKBYTE"));
  EXPECT_EQ(-1, row.I32("TOTWSPCT"));
  EXPECT_EQ(8192, row.I32("TOTMEMMB"));

  // A failed query, or no memory reported: no division, every memory value -1.
  for (MemoryStatus m : {MemoryStatus(), Memory(0)}) {
    Row failed("WTMEMORY");
    failed.Set32("COMMITLKB", 300);
    failed.Set32("COMMKBYTE", 100);
    EXPECT_FALSE(CompleteWtMemoryRow(failed.data(), m, WorkingSetTotal()));
    for (const char* name : {"TOTMEMBYTE", "TOTMEMKB", "TOTMEMMB", "TOTWSPCT", "CACHEPCT", "AVAILPCT", "MEMUPCT"})
      EXPECT_EQ(-1, failed.I32(name)) << name;
    EXPECT_EQ(200, failed.I32("COMAVLKBYT"));
  }
}

TEST(NtMemory, SixtyFourBitValues) {
  Row row("NTMEMORY");
  row.Set64("COMMLIMIT", 12 * static_cast<std::int64_t>(kGiB) + 1023);
  row.Set64("COMMBYTE", 4 * static_cast<std::int64_t>(kGiB));
  row.Set64("CACHEBTS", 2 * static_cast<std::int64_t>(kGiB));
  row.Set64("CACHEBTSPK", 3000);
  row.Set64("PLPGBYTS", 2047);
  row.Set64("PLNPGBYTS", 5 * 1024);
  row.Set64("AVAILKB", 1048576);
  WorkingSetTotal ws;
  ws.found = true;
  ws.bytes = 3 * static_cast<std::int64_t>(kGiB);
  EXPECT_TRUE(CompleteNtMemoryRow(row.data(), Memory(8 * kGiB), ws));
  EXPECT_EQ(8589934592ll, row.I64("TOTMEMBYTE"));
  EXPECT_EQ(8388608, row.I64("TOTMEMKB"));
  EXPECT_EQ(8192, row.I32("TOTMEMMB"));
  EXPECT_EQ(12582912, row.I64("COMMITLKB"));  // truncating division
  EXPECT_EQ(4194304, row.I64("COMMKBYTE"));
  EXPECT_EQ(2097152, row.I64("CACHEKB"));
  EXPECT_EQ(2, row.I64("CACHEKBPK"));
  EXPECT_EQ(1, row.I64("PLPGKBYTS"));
  EXPECT_EQ(5, row.I64("PLNPGKBYTS"));
  EXPECT_EQ(12582912 - 4194304, row.I64("COMAVLKBYT"));
  EXPECT_EQ(25, row.I32("CACHEPCT"));
  EXPECT_EQ(13, row.I32("AVAILPCT"));
  EXPECT_EQ(50, row.I32("MEMUPCT"));
  EXPECT_EQ(3221225472ll, row.I64("TOTWSBYTES"));
  EXPECT_EQ(3145728, row.I64("TOTWSKBYTE"));
  EXPECT_EQ(38, row.I32("TOTWSPCT"));  // 37.5 rounded half up

  Row failed("NTMEMORY");
  EXPECT_FALSE(CompleteNtMemoryRow(failed.data(), MemoryStatus(), WorkingSetTotal()));
  EXPECT_EQ(-1, failed.I64("TOTMEMBYTE"));
  EXPECT_EQ(-1, failed.I64("TOTMEMKB"));
  EXPECT_EQ(-1, failed.I64("TOTWSBYTES"));
  for (const char* name : {"TOTMEMMB", "CACHEPCT", "AVAILPCT", "MEMUPCT", "TOTWSPCT"})
    EXPECT_EQ(-1, failed.I32(name)) << name;
}

TEST(WtSystem, UpTimeQueueExcessMemoryAndAddress) {
  struct Case {
    std::int32_t upTime, days, queue, cpus, excess;
  } cases[] = {{172799, 1, 3, 4, 0}, {172800, 2, 9, 4, 5}, {0, 0, 4, 4, 0}, {86399, 0, 1, 0, 1}};
  for (const Case& c : cases) {
    Row row("WTSYSTEM");
    row.Set32("SYSUPTIME", c.upTime);
    row.Set32("PRCQUELNG", c.queue);
    row.Set32("NUMOFPRCSR", c.cpus);
    CompleteWtSystemRow(row.data(), ProcessorTotal(), Memory(8 * kGiB, 6 * kGiB, 5 * kGiB + 512 * 1024), "x",
                        nullptr);
    EXPECT_EQ(c.days, row.I32("SYSUPDAYS")) << c.upTime;
    EXPECT_EQ(c.excess, row.I32("PRCQEX")) << c.queue << "/" << c.cpus;
    EXPECT_EQ(8192, row.I32("TOTMEMMB"));
    EXPECT_EQ(1024, row.I32("PAGEFILEMB"));  // 1023.5 MB rounded half up
  }
  Row row("WTSYSTEM");
  row.Set32("TOTMEMMB", 55);
  row.Set32("PAGEFILEMB", 66);
  CompleteWtSystemRow(row.data(), ProcessorTotal(), MemoryStatus(), "NO_DNS_ENTRY", nullptr);
  EXPECT_EQ(-1, row.I32("TOTMEMMB"));
  EXPECT_EQ(-1, row.I32("PAGEFILEMB"));
  EXPECT_EQ("NO_DNS_ENTRY" + std::string(40, ' '), row.Text("NETADDR6"));
}

TEST(WtSystem, ProcessorTotalsAndTheirCorrection) {
  struct Case {
    std::int32_t proc, priv, user, expected;
    bool corrected;
  } cases[] = {{150, 60, 30, 90, true}, {55, 20, 30, 55, false}, {-1, 70, 45, 100, true}, {100, 1, 1, 100, false}};
  for (const Case& c : cases) {
    Row row("WTSYSTEM");
    ProcessorTotal total;
    total.found = true;
    total.processor = c.proc;
    total.privileged = c.priv;
    total.user = c.user;
    total.interrupts = 1234;
    bool corrected = !c.corrected;
    CompleteWtSystemRow(row.data(), total, Memory(kGiB), "", &corrected);
    EXPECT_EQ(c.expected, row.I32("PCTTLPCSRT")) << c.proc;
    EXPECT_EQ(c.corrected, corrected);
    EXPECT_EQ(c.priv, row.I32("PCTTLPRIVT"));
    EXPECT_EQ(c.user, row.I32("PCTTLUSERT"));
    EXPECT_EQ(1234, row.I32("TTLINTSEC"));
  }
  // Without a Processor "_Total" the System object's own totals stay.
  Row own("WTSYSTEM");
  own.Set32("PCTTLPCSRT", 42);
  own.Set32("TTLINTSEC", 7);
  CompleteWtSystemRow(own.data(), ProcessorTotal(), Memory(kGiB), "", nullptr);
  EXPECT_EQ(42, own.I32("PCTTLPCSRT"));
  EXPECT_EQ(7, own.I32("TTLINTSEC"));
}

TEST(OtherTables, TotalRowsAreFoundOnlyWhenPresent) {
  const osm::TableDef& wtprocess = *osm::FindTable("WTPROCESS");
  const osm::TableDef& ntprocess = *osm::FindTable("NTPROCESS");
  const osm::TableDef& processor = *osm::FindTable("NTPROCSSR");

  Row a("WTPROCESS"), total("WTPROCESS");
  a.SetText("INSTCNAME", "svchost");
  a.Set32("WRKINGSET", 1);
  total.SetText("INSTCNAME", "_Total");
  total.Set32("WRKINGSET", 4096000);
  total.Set32("WRKSTKBYTE", 4000);
  std::vector<char> rows(a.bytes);
  rows.insert(rows.end(), total.bytes.begin(), total.bytes.end());
  WorkingSetTotal ws = FindWorkingSetTotal(wtprocess, rows.data(), 2, wtprocess.rowSize);
  EXPECT_TRUE(ws.found);
  EXPECT_EQ(4096000, ws.bytes);
  EXPECT_EQ(4000, ws.kbytes);
  // A sample of no rows, or rows shorter than the record, is no data.
  EXPECT_FALSE(FindWorkingSetTotal(wtprocess, rows.data(), 0, wtprocess.rowSize).found);
  EXPECT_FALSE(FindWorkingSetTotal(wtprocess, rows.data(), 1, wtprocess.rowSize).found);
  EXPECT_FALSE(FindWorkingSetTotal(wtprocess, rows.data(), 2, wtprocess.rowSize - 4).found);

  Row nt("NTPROCESS");
  nt.SetText("INSTCNAME", "_Total");
  nt.Set64("WRKINGSET", 5 * static_cast<std::int64_t>(kGiB) + 100);
  nt.Set64("WRKSTKBYTE", 5 * 1024 * 1024);
  ws = FindWorkingSetTotal(ntprocess, nt.data(), 1, ntprocess.rowSize);
  EXPECT_TRUE(ws.found);
  EXPECT_EQ(5 * static_cast<std::int64_t>(kGiB) + 100, ws.bytes);
  EXPECT_EQ(5 * 1024 * 1024, ws.kbytes);

  Row cpu0("NTPROCSSR"), cpuTotal("NTPROCSSR");
  cpu0.SetText("INSTCNAME", "0");
  cpu0.Set32("PROCTIME", 99);
  cpuTotal.SetText("INSTCNAME", "_Total");
  cpuTotal.Set32("PROCTIME", 150);
  cpuTotal.Set32("PRIVTIME", 60);
  cpuTotal.Set32("USERTIME", 30);
  cpuTotal.Set32("INTERTIME", 321);
  std::vector<char> cpus(cpu0.bytes);
  cpus.insert(cpus.end(), cpuTotal.bytes.begin(), cpuTotal.bytes.end());
  ProcessorTotal p = FindProcessorTotal(processor, cpus.data(), 2, processor.rowSize);
  EXPECT_TRUE(p.found);
  EXPECT_EQ(150, p.processor);
  EXPECT_EQ(60, p.privileged);
  EXPECT_EQ(30, p.user);
  EXPECT_EQ(321, p.interrupts);
  EXPECT_FALSE(FindProcessorTotal(processor, cpus.data(), 1, processor.rowSize).found);
  EXPECT_FALSE(FindProcessorTotal(processor, nullptr, 0, processor.rowSize).found);
}

TEST(Fields, UnknownAttributesReadZeroAndIgnoreWrites) {
  Row row("WTOBJECTS");
  RowField none = FieldOf(row.def, "NOSUCH");
  EXPECT_FALSE(none.valid());
  SetInt32(row.data(), none, 5);
  EXPECT_EQ(0, GetInt32(row.data(), none));
  EXPECT_EQ(std::vector<char>(row.def.rowSize, 0), row.bytes);
  EXPECT_FALSE(FieldOf("NOTABLE", "EVENTS").valid());
  row.Set32("THREADS", -2);
  EXPECT_EQ(-2, row.I32("THREADS"));
  EXPECT_EQ(-2, GetInt64(row.data(), FieldOf(row.def, "THREADS")));  // a 32-bit field widens with its sign
}

}  // namespace

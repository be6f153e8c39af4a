// The process rows on rows laid out by the WTPROCESS and NTPROCESS row
// records: owner, path, executable count and average over two samples
// between which a process ends; and the account name cache.
#include "collectors/perf/perf_values.h"
#include "collectors/perf/process_values.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace osm::perf;

namespace {

WideText W(const char* s) { return WideText(s, s + std::strlen(s)); }

// Owners and paths by process id; a missing one cannot be had.
struct FakeFacts : ProcessFacts {
  std::map<std::uint32_t, WideText> owners, paths;
  bool Owner(std::uint32_t pid, WideText* name) override { return Find(owners, pid, name); }
  bool ImagePath(std::uint32_t pid, WideText* path) override { return Find(paths, pid, path); }
  static bool Find(const std::map<std::uint32_t, WideText>& m, std::uint32_t pid, WideText* out) {
    auto it = m.find(pid);
    if (it != m.end()) *out = it->second;
    return it != m.end();
  }
};

TEST(ProcessRows, EveryRowGetsItsOwnValuesInEverySample) {
  for (const char* table : {"WTPROCESS", "NTPROCESS"}) {
    SCOPED_TRACE(table);
    const osm::TableDef& def = *osm::FindTable(table);
    const char pathless = def.name == std::string("NTPROCESS") ? '\0' : ' ';
    // Every byte 'x', as leftovers of an earlier sample would be; "_Total" is
    // left out by its name too, whatever id it carries.
    std::vector<std::pair<const char*, std::uint32_t>> processes = {
        {"Idle", 0}, {"System", 4}, {"a", 100}, {"a", 101}, {"a", 102}, {"b", 200}, {"_Total", 700}};
    std::vector<char> bytes(def.rowSize * processes.size(), 'x');
    auto row = [&](std::size_t i) { return bytes.data() + i * def.rowSize; };
    auto i32 = [&](std::size_t i, const char* n) { return GetInt32(row(i), FieldOf(def, n)); };
    auto text = [&](std::size_t i, const char* n) {
      return std::string(row(i) + FieldOf(def, n).offset, FieldOf(def, n).width);
    };
    auto padded = [](const std::string& t, std::size_t w) { return t + std::string(w - t.size(), ' '); };
    for (std::size_t i = 0; i < processes.size(); ++i) {
      RowField name = FieldOf(def, "INSTCNAME");
      CopyTextField(row(i) + name.offset, name.width, processes[i].first);
      SetInt32(row(i), FieldOf(def, "IDPROCESS"), static_cast<std::int32_t>(processes[i].second));
      SetInt32(row(i), FieldOf(def, "PCTPRCSTME"), 100);
    }
    FakeFacts facts;
    const char* paths[] = {"C:\\App\\a.exe", "c:\\app\\A.EXE", "C:\\APP\\a.exe"};
    for (std::uint32_t pid : {100u, 101u, 102u}) {
      facts.owners[pid] = {'P', 'C', '\\', 'J', 0xFC, 'r', 'g', 'e', 'n'};
      facts.paths[pid] = W(paths[pid - 100]);
    }
    PathlessBinPath style = pathless ? PathlessBinPath::kBlank : PathlessBinPath::kZeroFilled;
    CompleteProcessRows(def, bytes.data(), processes.size(), def.rowSize, 8, facts, style, nullptr);

    for (std::size_t i : {0u, 1u, 6u}) {
      EXPECT_EQ(0, i32(i, "PROCCOUNT")) << i;
      EXPECT_EQ(std::string(256, ' '), text(i, "USERID")) << i;
      EXPECT_EQ(std::string(388, ' '), text(i, "BINPATH")) << i;
    }
    EXPECT_EQ(13, i32(6, "AVGPCTPROC")) << "100 % over 8 processors";
    for (std::size_t i : {2u, 3u, 4u}) EXPECT_EQ(3, i32(i, "PROCCOUNT")) << "one executable in three cases";
    EXPECT_EQ(padded("PC\\J\xC3\xBCrgen", 256), text(2, "USERID"));
    EXPECT_EQ(padded("c:\\app\\A.EXE", 388), text(3, "BINPATH"));
    EXPECT_EQ(padded("N/A", 256), text(5, "USERID"));
    EXPECT_EQ(std::string(388, pathless), text(5, "BINPATH"));

    // Process 100 ends and the rows shift up with the bytes they had; 101
    // can no longer be opened.
    bytes.erase(bytes.begin() + 2 * def.rowSize, bytes.begin() + 3 * def.rowSize);
    facts.owners.erase(101);
    facts.paths.erase(101);
    CompleteProcessRows(def, bytes.data(), processes.size() - 1, def.rowSize, 0, facts, style, nullptr);
    EXPECT_EQ(100, i32(2, "AVGPCTPROC")) << "no processor count counts as 1";
    EXPECT_EQ(padded("N/A", 256), text(2, "USERID"));
    EXPECT_EQ(std::string(388, pathless), text(2, "BINPATH"));
    EXPECT_EQ(2, i32(2, "PROCCOUNT")) << "pathless processes count together";
    EXPECT_EQ(padded("C:\\APP\\a.exe", 388), text(3, "BINPATH"));
    EXPECT_EQ(1, i32(3, "PROCCOUNT"));
  }
  // Only ASCII letters are lowered: the UTF-8 of other letters stays intact.
  EXPECT_EQ("c:\\\xC3\x89t\xC3\xA9\\a.exe", ExecutableKey("C:\\\xC3\x89t\xC3\xA9\\A.EXE  \0zz", 20));
}

TEST(AccountNames, CachedOncePerIdentifier) {
  AccountNameCache cache;
  const unsigned char sid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0, 7};
  const OsmWChar* system = cache.Insert(sid, 12, W("NT AUTHORITY\\SYSTEM"));
  EXPECT_EQ(system, cache.Insert(sid, 12, W("other")));
  EXPECT_EQ(system, cache.Find(sid, 12));
  EXPECT_EQ(nullptr, cache.Find(sid, 13)) << "a longer identifier with the same start";
  EXPECT_EQ(W("PC\\ann"), AccountDisplayName(W("PC"), W("ann")));
  EXPECT_EQ(W("ann"), AccountDisplayName(W(""), W("ann")));
}

}  // namespace

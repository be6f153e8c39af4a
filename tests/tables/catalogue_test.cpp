// The row catalogue: shape and consistency of every table, and descriptors of
// sample tables compared field by field with hand-written expectations.
#include "tables/catalogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace osm {
namespace {

// ---------------------------------------------------------------------------
// The data as the .inc lists it, counted independently of catalogue.cpp.

struct IncCounts {
  std::map<std::string, int> attrLines;
  std::map<std::string, int> sampleLines;
  std::vector<std::string> order;
};

IncCounts CountIncLines() {
  IncCounts c;
  std::string current;
#define OSM_TABLE(UPPER, lower, rowSize, attrCount, fixedData, initialCapacity) \
  current = #UPPER;                                                             \
  c.order.push_back(current);                                                   \
  c.attrLines[current] = 0;                                                     \
  c.sampleLines[current] = 0;
#define OSM_SAMPLE(id, object, when) ++c.sampleLines[current];
#define OSM_ATTR(NAME, TYPE, width, offset, source) ++c.attrLines[current];
#define OSM_END_TABLE() current.clear();
#include "tables/catalogue.inc"
#undef OSM_TABLE
#undef OSM_SAMPLE
#undef OSM_ATTR
#undef OSM_END_TABLE
  return c;
}

std::vector<const TableDef*> Tables() {
  return std::vector<const TableDef*>(AllTables(), AllTables() + TableCount());
}

const AttrDef* FindAttr(const TableDef& table, const char* name) {
  for (std::uint32_t i = 0; i < table.attrCount; ++i) {
    if (std::strcmp(table.attrs[i].name, name) == 0) return &table.attrs[i];
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Irregular places of the layouts, declared here so that any other one fails.

// Bytes inside the record, between two attributes, that no attribute covers.
struct Hole {
  const char* table;
  unsigned offset;
  unsigned size;
};
const Hole kInteriorGaps[] = {
    {"NTIPADDR", 582, 2},    // after DNSNAME, before IPVERSION
    {"OSMWDGSTAT", 654, 2},  // after AGENTHOST, before CHECKFREQ
};
// Padding after the last attribute; every other record ends with its last attribute.
const Hole kTrailingPadding[] = {
    {"OSMWDGCAP", 2998, 2},
    {"OSMWDGMGMT", 526, 2},
};

// The leading fixed-data groups written by the counter service.
struct FixedField {
  const char* name;    // attribute it is meant to fill
  const char* source;  // fixed-data name
  unsigned offset;
  unsigned width;
  std::uint16_t type;
};
// Group 243; group 240 is its first four fields.
const FixedField kGroup243[] = {
    {"ORIGINNODE", "_ORIGIN_", 0, 64, kAttrText},       {"SAMPLENO", "_SAMPLE_", 64, 4, kAttrInt32},
    {"ROWNO", "_ROW_", 68, 4, kAttrInt32},              {"TIMESTAMP", "_TIMESTAMP_", 72, 16, kAttrText},
    {"ZATTRIB", "_ZATTRIB_", 88, 64, kAttrText},        {"ZVALUE", "_ZVALUE_", 152, 64, kAttrText},
};

std::vector<FixedField> FixedGroup(int id) {
  switch (id) {
    case 240: return {kGroup243, kGroup243 + 4};
    case 243:
    case 261:  // 243 followed by system values placed by WTSYSTEM's own attributes
      return {std::begin(kGroup243), std::end(kGroup243)};
    case 264: return {kGroup243[0], {"TIMESTAMP", "_TIMESTAMP_", 64, 16, kAttrText}};
    default: return {};
  }
}

// Tables whose fixed group 243 lies over other attributes: the instance name
// takes the place of ZATTRIB, and the first counters (and in some tables the
// UTF-8 instance name) lie inside the 64 bytes of ZVALUE.
const std::set<std::string> kOverlappedTables = {"INDEXSVC", "INDEXSVCF", "WEBSVC",  "FTPSVC", "NNTPCMD",
                                                 "NNTPSRV",  "SMTPSRV",   "JOBOBJ",  "JOBOBJD", "PRINTQ"};

// ---------------------------------------------------------------------------
// Shape of the whole catalogue.

TEST(Catalogue, HoldsSeventyFiveUniqueTablesFoundByExactName) {
  ASSERT_EQ(TableCount(), 75u);
  std::set<std::string> names;
  for (const TableDef* table : Tables()) {
    EXPECT_TRUE(names.insert(table->name).second) << table->name << " twice";
    EXPECT_EQ(FindTable(table->name), table) << table->name;
  }
  EXPECT_EQ(FindTable("ntpagefile"), nullptr);
  EXPECT_EQ(FindTable("NTPAGEFIL"), nullptr);
  EXPECT_EQ(FindTable("NTPAGEFILE "), nullptr);
  EXPECT_EQ(FindTable(""), nullptr);
  EXPECT_EQ(FindTable(nullptr), nullptr);
}

TEST(Catalogue, RecordsMatchTheirDataLines) {
  const IncCounts inc = CountIncLines();
  ASSERT_EQ(inc.order.size(), TableCount());
  for (std::size_t i = 0; i < TableCount(); ++i) {
    const TableDef& table = *AllTables()[i];
    SCOPED_TRACE(table.name);
    EXPECT_EQ(inc.order[i], table.name);
    EXPECT_EQ(static_cast<std::uint32_t>(inc.attrLines.at(table.name)), table.attrCount)
        << "attribute count differs from the attribute list";
    int samples = (table.samples[0].id != 0) + (table.samples[1].id != 0);
    EXPECT_EQ(inc.sampleLines.at(table.name), samples);
  }
}

// ---------------------------------------------------------------------------
// Consistency of every row record.

TEST(CatalogueConsistency, NamesAgentClassesTypesAndWidths) {
  for (const TableDef* table : Tables()) {
    SCOPED_TRACE(table->name);
    std::string lower = table->name;
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    EXPECT_EQ(std::string(table->agentClass), "osm_" + lower + "_agent");
    std::set<std::string> seen;
    for (std::uint32_t i = 0; i < table->attrCount; ++i) {
      const AttrDef& a = table->attrs[i];
      const std::string name = a.name;
      EXPECT_FALSE(name.empty());
      EXPECT_LE(name.size(), 10u) << name;
      for (char c : name) EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) << name;
      EXPECT_TRUE(seen.insert(name).second) << "duplicate attribute " << name;
      switch (a.type) {
        case kAttrInt32: EXPECT_EQ(a.width, 4) << name; break;
        case kAttrInt64: EXPECT_EQ(a.width, 8) << name; break;
        case kAttrText:
        case kAttrUtf8: EXPECT_GE(a.width, 1) << name; break;
        default: ADD_FAILURE() << name << ": unknown type " << a.type;
      }
    }
  }
}

TEST(CatalogueConsistency, OffsetsIncreaseWithoutOverlapAndOnlyDeclaredHoles) {
  for (const TableDef* table : Tables()) {
    SCOPED_TRACE(table->name);
    ASSERT_GT(table->attrCount, 0u);
    unsigned end = 0;
    for (std::uint32_t i = 0; i < table->attrCount; ++i) {
      const AttrDef& a = table->attrs[i];
      if (i > 0) {
        const AttrDef& prev = table->attrs[i - 1];
        EXPECT_GT(a.offset, prev.offset) << a.name << " is out of order";
        EXPECT_GE(a.offset, end) << a.name << " overlaps " << prev.name;
      }
      if (a.offset > end) {
        bool declared = false;
        for (const Hole& h : kInteriorGaps) {
          declared |= std::strcmp(h.table, table->name) == 0 && h.offset == end &&
                      h.size == a.offset - end;
        }
        EXPECT_TRUE(declared) << "undeclared gap of " << a.offset - end << " bytes before "
                              << a.name;
      }
      end = a.offset + a.width;
    }
    EXPECT_GE(table->rowSize, end) << "row size does not cover the last attribute";
    unsigned padding = 0;
    for (const Hole& h : kTrailingPadding) {
      if (std::strcmp(h.table, table->name) == 0) {
        EXPECT_EQ(h.offset, end);
        padding = h.size;
      }
    }
    EXPECT_EQ(table->rowSize, end + padding) << "undeclared padding at the end of the record";
  }
  // Each declared hole belongs to a table that exists.
  for (const Hole& h : kInteriorGaps) EXPECT_NE(FindTable(h.table), nullptr) << h.table;
  for (const Hole& h : kTrailingPadding) EXPECT_NE(FindTable(h.table), nullptr) << h.table;
}

// Every record begins with the origin and a time stamp, alone (group 264) or
// with the sample and row numbers between them (group 240).
TEST(CatalogueConsistency, EveryRecordBeginsWithOriginAndTimestamp) {
  auto beginsWith = [](const TableDef& table, const std::vector<FixedField>& group) {
    if (table.attrCount < group.size()) return false;
    for (std::size_t i = 0; i < group.size(); ++i) {
      const AttrDef& a = table.attrs[i];
      const FixedField& f = group[i];
      if (std::strcmp(a.name, f.name) != 0 || a.offset != f.offset || a.width != f.width || a.type != f.type)
        return false;
    }
    return true;
  };
  for (const TableDef* table : Tables())
    EXPECT_TRUE(beginsWith(*table, FixedGroup(264)) || beginsWith(*table, FixedGroup(240))) << table->name;
}

TEST(CatalogueConsistency, SampleDescriptions) {
  for (const TableDef* table : Tables()) {
    SCOPED_TRACE(table->name);
    const SampleDef* s = table->samples;
    if (s[0].id == 0) {
      EXPECT_EQ(s[1].id, 0);
      EXPECT_EQ(table->fixedData, 0);
      EXPECT_EQ(table->initialCapacity, 0);
      for (std::uint32_t i = 0; i < table->attrCount; ++i) {
        EXPECT_STREQ(table->attrs[i].source, "") << table->attrs[i].name;
      }
      continue;
    }
    EXPECT_FALSE(FixedGroup(table->fixedData).empty()) << table->fixedData;
    EXPECT_GE(table->initialCapacity, 1);
    ASSERT_NE(s[0].object, nullptr);
    EXPECT_STRNE(s[0].object, "");
    if (s[1].id == 0) {
      EXPECT_STREQ(s[0].when, "") << "a single description needs no condition";
    } else {
      EXPECT_NE(s[0].id, s[1].id);
      EXPECT_STRNE(s[1].object, "");
      EXPECT_STRNE(s[0].when, "");
      EXPECT_STRNE(s[1].when, "");
    }
  }
}

// The fixed group of a sampled table lies at the start of the record: each of
// its fields is either the attribute of the same name and layout, or, in the
// tables of kOverlappedTables, lies over attributes of which the one at its
// offset names both writers. Nothing else may overlap it.
TEST(CatalogueConsistency, FixedDataGroupOverlapsOnlyWhereDeclared) {
  std::set<std::string> used;
  for (const TableDef* table : Tables()) {
    if (table->fixedData == 0) continue;
    SCOPED_TRACE(table->name);
    const std::vector<FixedField> group = FixedGroup(table->fixedData);
    ASSERT_FALSE(group.empty());
    for (const FixedField& f : group) {
      const AttrDef* same = FindAttr(*table, f.name);
      if (same != nullptr && same->offset == f.offset && same->width == f.width && same->type == f.type) {
        EXPECT_STREQ(same->source, f.source) << same->name;
        continue;
      }
      std::vector<const AttrDef*> over;
      for (std::uint32_t i = 0; i < table->attrCount; ++i) {
        const AttrDef& a = table->attrs[i];
        if (a.offset < f.offset + f.width && f.offset < a.offset + a.width) over.push_back(&a);
      }
      if (over.empty()) continue;
      EXPECT_TRUE(kOverlappedTables.count(table->name)) << f.name << " overlaps " << over.front()->name;
      used.insert(table->name);
      EXPECT_EQ(over.front()->offset, f.offset);
      EXPECT_EQ(std::string(over.front()->source).rfind(std::string(f.source) + "; ", 0), 0u)
          << over.front()->name << " source " << over.front()->source;
    }
  }
  EXPECT_EQ(used, kOverlappedTables);
}

// ---------------------------------------------------------------------------
// Spot checks against the published layouts, where an edit of the data would
// still pass the consistency checks: record sizes, capacities, the samples
// chosen by version, and attributes whose type or source is irregular.

struct TableSpot {
  const char* table;
  unsigned rowSize, attrCount;
  int fixedData, capacity;
  int sample0, sample1;  // description ids, 0 for none
};
const TableSpot kTableSpots[] = {
    {"NTPAGEFILE", 552, 8, 240, 2, 400, 0},      {"WTLOGCLDSK", 380, 29, 243, 2, 410, 525},
    {"NTMEMORY", 348, 45, 264, 1, 2005, 0},      {"WTPHYSDSK", 284, 32, 240, 2, 460, 425},
    {"WTSYSTEM", 896, 42, 261, 1, 435, 0},       {"NTPROCRSUM", 340, 22, 0, 0, 0, 0},
    {"UDPSTATS", 236, 11, 243, 1, 845, 910},     {"WEBSVC", 392, 62, 243, 3, 480, 515},
    {"HTTPCNDX", 248, 14, 243, 1, 870, 1100},    {"MSMQSESS", 312, 15, 240, 1, 1005, 1010},
    {"WTPROCESS", 1028, 35, 243, 20, 430, 0},    {"WTTHREAD", 328, 19, 243, 80, 560, 0},
    {"NTSERVERQ", 248, 20, 264, 2, 2025, 0},     {"NTEVTLOG", 3124, 22, 0, 0, 0, 0},
    {"OSMWDGCAP", 3000, 23, 0, 0, 0, 0},         {"NTPRINTER", 2424, 28, 0, 0, 0, 0},
};

struct AttrSpot {
  const char* table;
  const char* name;
  std::uint16_t type;
  unsigned width, offset;
  const char* source;
};
// Attributes of sampled tables are checked against their descriptions in the
// string table test; these belong to tables their collectors fill.
const AttrSpot kAttrSpots[] = {
    {"NTEVTLOG", "USERID", kAttrText, 32, 248, ""},  // text beside its UTF-8 twin UUSERID
    {"NTIPADDR", "IPVERSION", kAttrInt32, 4, 584, ""},
    {"OSMWDGSTAT", "CHECKFREQ", kAttrInt32, 4, 656, ""},
};

TEST(CatalogueDescriptors, SpotChecksAgainstThePublishedLayouts) {
  for (const TableSpot& t : kTableSpots) {
    const TableDef* table = FindTable(t.table);
    ASSERT_NE(table, nullptr) << t.table;
    SCOPED_TRACE(t.table);
    EXPECT_EQ(table->rowSize, t.rowSize);
    EXPECT_EQ(table->attrCount, t.attrCount);
    EXPECT_EQ(table->fixedData, t.fixedData);
    EXPECT_EQ(table->initialCapacity, t.capacity);
    EXPECT_EQ(table->samples[0].id, t.sample0);
    EXPECT_EQ(table->samples[1].id, t.sample1);
  }
  EXPECT_STREQ(FindTable("WTLOGCLDSK")->samples[0].when, "Windows major version below 5");
  EXPECT_STREQ(FindTable("MSMQSESS")->samples[1].object, "MSMQ Session");
  for (const AttrSpot& e : kAttrSpots) {
    const AttrDef* a = FindAttr(*FindTable(e.table), e.name);
    ASSERT_NE(a, nullptr) << e.table << "." << e.name;
    SCOPED_TRACE(std::string(e.table) + "." + e.name);
    EXPECT_EQ(a->type, e.type);
    EXPECT_EQ(a->width, e.width);
    EXPECT_EQ(a->offset, e.offset);
    EXPECT_STREQ(a->source, e.source);
  }
}

}  // namespace
}  // namespace osm

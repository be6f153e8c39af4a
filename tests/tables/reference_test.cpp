// The table reference: the checked-in docs/tables.md must be what the data
// renders today, and the JSON must carry every record faithfully.
#include "tables/reference.h"

#include "tables/metric_columns.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifndef OSM_TABLES_MD
#error "OSM_TABLES_MD must name the checked-in docs/tables.md"
#endif

namespace osm {
namespace {

bool ReadFile(const char* path, std::string* text) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  char buf[8192];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text->append(buf, n);
  std::fclose(f);
  return true;
}

TEST(TableReference, CheckedInDocumentMatchesTheData) {
  std::string file;
  ASSERT_TRUE(ReadFile(OSM_TABLES_MD, &file)) << "cannot read " << OSM_TABLES_MD;
  std::istringstream data(TablesMarkdown(AllTables(), TableCount())), checkedIn(file);
  std::string want, got;
  for (int line = 1;; ++line) {
    const bool a = static_cast<bool>(std::getline(data, want)), b = static_cast<bool>(std::getline(checkedIn, got));
    if (b && !got.empty() && got.back() == '\r') got.pop_back();
    if (!a && !b) break;
    if (a != b || want != got) {
      ADD_FAILURE() << "docs/tables.md is out of date; regenerate it with\n"
                       "  osmtables --markdown > docs/tables.md\nline "
                    << line << ":\n  data: " << (a ? want : "<end>") << "\n  file: " << (b ? got : "<end>");
      break;
    }
  }
}

TEST(TableReference, EveryTableHasASummary) {
  for (std::size_t i = 0; i < TableCount(); ++i) {
    const char* text = TableSummary(AllTables()[i]->name);
    EXPECT_GT(std::string(text).size(), 20u) << AllTables()[i]->name;
  }
  EXPECT_STREQ(TableSummary("NOSUCHTABLE"), "");
  EXPECT_STREQ(TableSummary(nullptr), "");
}

TEST(TableReference, MarkdownSectionsShowLayoutSourcesAndHoles) {
  const TableDef* physdsk = FindTable("WTPHYSDSK");
  const TableDef* ipaddr = FindTable("NTIPADDR");
  ASSERT_NE(physdsk, nullptr);
  ASSERT_NE(ipaddr, nullptr);
  const TableDef* both[] = {physdsk, ipaddr};
  const std::string md = TablesMarkdown(both, 2);

  EXPECT_NE(md.find("| [WTPHYSDSK](#wtphysdsk) |"), std::string::npos);
  EXPECT_NE(md.find("\n## WTPHYSDSK\n"), std::string::npos);
  EXPECT_NE(md.find("- Agent class `osm_wtphysdsk_agent`; row size 284 bytes, 32 attributes.\n"),
            std::string::npos);
  EXPECT_NE(md.find("- Sample source: description 460, performance object \"PhysicalDisk\" "
                    "(Windows major version 3); description 425, performance object "
                    "\"PhysicalDisk\" (otherwise).\n"),
            std::string::npos);
  // A pipe inside a source must not split the markdown cell.
  EXPECT_NE(md.find("| 10 | DSKQUELEN | int32 | 4 | 172 | "
                    "`Disk Queue Length \\| Current Disk Queue Length` |\n"),
            std::string::npos);
  EXPECT_NE(md.find("| 17 | DISKNUMBER | text | 4 | 200 | collector |\n"), std::string::npos);

  // A table its collector fills: no source column, and its hole is shown.
  EXPECT_NE(md.find("- Sample source: none"), std::string::npos);
  EXPECT_NE(md.find("Bytes 582 to 583 of the record belong to no attribute."),
            std::string::npos);
  EXPECT_NE(md.find("| 4 | DNSNAME | utf8 | 388 | 194 |\n"), std::string::npos);
  EXPECT_EQ(md.find("| 4 | DNSNAME | utf8 | 388 | 194 | "), std::string::npos);
}

TEST(TableReference, JsonEscapesQuotesBackslashesAndControls) {
  EXPECT_EQ(JsonEscape("a\"b\\c"), "a\\\"b\\\\c");
  EXPECT_EQ(JsonEscape("x\ny\tz\r"), "x\\ny\\tz\\r");
  EXPECT_EQ(JsonEscape(std::string("\x01\x1f", 2)), "\\u0001\\u001f");
  EXPECT_EQ(JsonEscape("% Disk Time"), "% Disk Time");
}

// A small JSON reader, enough to check the tool's output structurally.
struct Json {
  enum Kind { kNull, kNumber, kString, kArray, kObject } kind = kNull;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> fields;

  const Json& operator[](const std::string& key) const {
    static const Json missing;
    auto it = fields.find(key);
    return it == fields.end() ? missing : it->second;
  }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : s_(text) {}
  bool ReadDocument(Json* out) { return Value(out) && (Blanks(), pos_ == s_.size()); }

 private:
  void Blanks() {
    while (pos_ < s_.size() && std::strchr(" \n\t\r", s_[pos_]) && s_[pos_]) ++pos_;
  }
  bool Eat(char c) {
    Blanks();
    return pos_ < s_.size() && s_[pos_] == c && ++pos_;
  }
  bool String(std::string* out) {
    if (!Eat('"')) return false;
    while (pos_ < s_.size()) {
      char c = s_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20 || (c == '\\' && pos_ >= s_.size())) return false;
      if (c != '\\') {
        *out += c;
        continue;
      }
      const char* escape = std::strchr("\"\\/ntru", s_[pos_++]);
      if (escape == nullptr || *escape == 0) return false;
      if (*escape != 'u') {
        *out += "\"\\/\n\t\r"[escape - "\"\\/ntru"];
        continue;
      }
      if (pos_ + 4 > s_.size()) return false;
      unsigned long v = std::strtoul(s_.substr(pos_, 4).c_str(), nullptr, 16);
      if (v > 0x7f) return false;  // the catalogue is ASCII
      *out += static_cast<char>(v);
      pos_ += 4;
    }
    return false;
  }
  bool Value(Json* out) {
    Blanks();
    if (pos_ >= s_.size()) return false;
    const char c = s_[pos_];
    if (c == '"') return out->kind = Json::kString, String(&out->text);
    if (c == '[' || c == '{') {
      ++pos_;
      const char close = c == '[' ? ']' : '}';
      out->kind = c == '[' ? Json::kArray : Json::kObject;
      if (Eat(close)) return true;
      do {
        std::string key;
        Json* item = &out->items.emplace_back();
        if (c == '{') {
          // A duplicate key is malformed for our purposes.
          if (!String(&key) || !Eat(':') || out->fields.count(key) != 0) return false;
          item = &out->fields[key];
        }
        if (!Value(item)) return false;
      } while (Eat(','));
      return Eat(close);
    }
    if (s_.compare(pos_, 4, "null") == 0) return pos_ += 4, true;
    std::size_t used = 0;
    if (c == '-' || (c >= '0' && c <= '9')) {
      out->kind = Json::kNumber;
      out->number = std::stod(s_.substr(pos_, 32), &used);
      pos_ += used;
      return s_[pos_ - 1] >= '0' && s_[pos_ - 1] <= '9';
    }
    return false;
  }

  const std::string& s_;
  std::size_t pos_ = 0;
};

TEST(TableReference, JsonCarriesEveryRecord) {
  Json none;
  ASSERT_TRUE(JsonReader(TablesJson(AllTables(), 0)).ReadDocument(&none));
  EXPECT_TRUE(none.kind == Json::kArray && none.items.empty());
  const std::string text = TablesJson(AllTables(), TableCount());
  Json doc;
  ASSERT_TRUE(JsonReader(text).ReadDocument(&doc)) << "not well-formed JSON";
  ASSERT_EQ(doc.kind, Json::kArray);
  ASSERT_EQ(doc.items.size(), TableCount());
  for (std::size_t t = 0; t < TableCount(); ++t) {
    const TableDef& table = *AllTables()[t];
    const Json& j = doc.items[t];
    SCOPED_TRACE(table.name);
    EXPECT_EQ(j["table"].text, table.name);
    EXPECT_EQ(j["agentClass"].text, table.agentClass);
    EXPECT_EQ(j["summary"].text, TableSummary(table.name));
    EXPECT_EQ(j["rowSize"].number, table.rowSize);
    EXPECT_EQ(j["attributeCount"].number, table.attrCount);
    if (table.fixedData == 0) {
      EXPECT_EQ(j["fixedData"].kind, Json::kNull);
      EXPECT_EQ(j["initialCapacity"].kind, Json::kNull);
    } else {
      EXPECT_EQ(j["fixedData"].number, table.fixedData);
      EXPECT_EQ(j["initialCapacity"].number, table.initialCapacity);
    }
    const Json& samples = j["samples"];
    ASSERT_EQ(samples.kind, Json::kArray);
    std::size_t n = 0;
    for (const SampleDef& s : table.samples) {
      if (s.id == 0) continue;
      ASSERT_LT(n, samples.items.size());
      EXPECT_EQ(samples.items[n]["id"].number, s.id);
      EXPECT_EQ(samples.items[n]["object"].text, s.object);
      EXPECT_EQ(samples.items[n]["condition"].text, s.when);
      ++n;
    }
    EXPECT_EQ(samples.items.size(), n);
    const Json& attrs = j["attributes"];
    ASSERT_EQ(attrs.kind, Json::kArray);
    ASSERT_EQ(attrs.items.size(), table.attrCount);
    for (std::uint32_t i = 0; i < table.attrCount; ++i) {
      const AttrDef& a = table.attrs[i];
      const Json& ja = attrs.items[i];
      EXPECT_EQ(ja["index"].number, i);
      EXPECT_EQ(ja["name"].text, a.name);
      EXPECT_EQ(ja["type"].text, AttrTypeName(a.type));
      EXPECT_EQ(ja["typeCode"].number, a.type);
      EXPECT_EQ(ja["width"].number, a.width);
      EXPECT_EQ(ja["offset"].number, a.offset);
      EXPECT_EQ(ja["source"].text, a.source);
    }
  }
}

// The label data names real tables and attributes, and every table with more
// than one row per sample (an instance attribute) has a label to tell them apart.
TEST(MetricColumns, LabelDataMatchesTheCatalogue) {
  EXPECT_EQ(std::vector<std::string>(), MetricDataProblems());
  for (std::size_t t = 0; t < TableCount(); ++t) {
    const TableDef& table = *AllTables()[t];
    bool perInstance = false;
    for (std::uint32_t i = 0; i < table.attrCount; ++i) {
      perInstance = perInstance || std::string(table.attrs[i].source).find("_INSTANCE_") != std::string::npos;
    }
    if (perInstance) {
      EXPECT_FALSE(MetricLabelAttributes(table).empty()) << table.name;
    }
  }
  const TableDef& system = *FindTable("WTSYSTEM");
  EXPECT_EQ(MetricRole::kNode, MetricRoleOf(system, system.attrs[0]));
  EXPECT_EQ("WTSYSTEM NUMOFPRCSR: fixed-data field _NUMCPUS_", MetricHelp(system, system.attrs[10]));
}

}  // namespace
}  // namespace osm

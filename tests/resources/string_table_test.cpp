// The string table as linked into an executable: every string is loaded by id
// from this test program's own resources, the way the agent and the counter
// server load them, and the descriptions are checked against the row records
// of the catalogue.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "perfsvc/sample.h"
#include "resources/resource_ids.h"
#include "tables/catalogue.h"

namespace {

using osm::AttrDef;
using osm::TableDef;
using osmperf::CSample;

// The loaders of the agent and the counter server use 4096-byte buffers.
constexpr int kLoaderBuffer = 4096;

// The string with this id; *found tells an absent string from an empty one.
std::string Load(UINT id, bool* found = nullptr) {
  char buffer[2 * kLoaderBuffer];
  const int length = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  if (found != nullptr) *found = length > 0;
  return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

// What the catalogue says fills an attribute: an optional fixed-data name and
// the counter of each description (one entry when both descriptions agree).
struct Counter {
  std::string name;
  double scale = 1;
};
struct Source {
  std::string fixed;
  std::vector<Counter> counters;
};

bool IsFixedName(const std::string& name) {
  return name.size() > 2 && name.front() == '_' && name.back() == '_' && name != "_INSTANCE_";
}

Source ParseSource(const char* text) {
  Source source;
  std::string rest = text;
  if (rest.empty()) return source;
  const std::size_t semicolon = rest.find("; ");
  if (semicolon != std::string::npos) {
    source.fixed = rest.substr(0, semicolon);
    rest = rest.substr(semicolon + 2);
  } else if (IsFixedName(rest)) {
    source.fixed = rest;
    return source;
  }
  std::size_t start = 0;
  for (;;) {
    const std::size_t bar = rest.find(" | ", start);
    std::string part = rest.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
    Counter counter;
    const std::size_t star = part.find(" *");
    if (star != std::string::npos) {
      counter.scale = std::strtod(part.c_str() + star + 2, nullptr);
      part.erase(star);
    }
    counter.name = part;
    source.counters.push_back(counter);
    if (bar == std::string::npos) break;
    start = bar + 3;
  }
  return source;
}

const AttrDef* AttributeAt(const TableDef& table, int offset) {
  for (std::uint32_t i = 0; i < table.attrCount; ++i) {
    if (table.attrs[i].offset == offset) return &table.attrs[i];
  }
  return nullptr;
}

// The row attribute type a description column type writes.
std::uint16_t AttrTypeOfColumn(int type) {
  switch (type) {
    case 2:
    case 5: return osm::kAttrInt32;
    case 6: return osm::kAttrInt64;
    case 3: return osm::kAttrText;
    case 4: return osm::kAttrUtf8;
    default: return 0;
  }
}

// The strings are US-ASCII; the counter server widens them before parsing.
std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }
std::string Narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

// Parses description `id`, with fixed-data description `fixedId` when not 0,
// through the counter server's own parser, as DescribeSampleI does.
bool Describe(int id, int fixedId, CSample* sample, std::string* error) {
  std::u16string text[8];
  for (int k = 0; k < 8; ++k) {
    if (k >= 5 && fixedId == 0) break;
    bool found = false;
    text[k] = Widen(Load(k < 5 ? id + k : fixedId + k - 5, &found));
    EXPECT_TRUE(found && text[k].size() < static_cast<std::size_t>(kLoaderBuffer)) << "string " << id << "+" << k;
  }
  const std::int32_t result = sample->ProcessRawSampleDescription(
      text[0].c_str(), text[1].c_str(), text[2].c_str(), text[3].c_str(), text[4].c_str(),
      text[5].c_str(), text[6].c_str(), text[7].c_str());
  *error = sample->DescriptionError();
  return result == osmperf::kSampleOk;
}

// The second number of a header: the rows the agent preallocates, read the way
// the table loader reads it (the counter server skips it).
int HeaderRows(int id) {
  std::istringstream header(Load(id));
  int columns = 0, rows = -1;
  header >> columns >> rows;
  return rows;
}

int DescriptionCount(const TableDef& table) {
  return (table.samples[0].id != 0) + (table.samples[1].id != 0);
}

TEST(SampleDescriptions, LayOutTheRowRecordOfTheirTable) {
  int checked = 0;
  for (std::size_t t = 0; t < osm::TableCount(); ++t) {
    const TableDef& table = *osm::AllTables()[t];
    const int descriptions = DescriptionCount(table);
    if (descriptions == 0) continue;
    std::set<const AttrDef*> coveredByAny;
    for (int k = 0; k < descriptions; ++k) {
      const osm::SampleDef& sample = table.samples[k];
      SCOPED_TRACE(std::string(table.name) + " description " + std::to_string(sample.id));
      CSample d;
      std::string error;
      if (!Describe(sample.id, table.fixedData, &d, &error)) {
        ADD_FAILURE() << error;
        continue;
      }
      ++checked;
      EXPECT_EQ(d.RowSize(), table.rowSize);
      EXPECT_EQ(HeaderRows(sample.id), table.initialCapacity);
      EXPECT_EQ(d.ObjectFlag(), 1);
      EXPECT_EQ(Narrow(d.ObjectName()), sample.object);

      std::set<const AttrDef*> covered;
      std::uint32_t previousEnd = 0;
      for (std::size_t i = 0; i < d.Columns().size(); ++i) {
        const osmperf::SampleColumn& column = d.Columns()[i];
        const std::string name = Narrow(column.name);
        SCOPED_TRACE("column " + std::to_string(i) + " \"" + name + "\"");
        EXPECT_GE(column.offset, previousEnd) << "columns overlap or are out of order";
        EXPECT_LE(column.offset + column.width, d.RowSize());
        previousEnd = column.offset + column.width;

        const AttrDef* attr = AttributeAt(table, static_cast<int>(column.offset));
        if (attr == nullptr) {
          ADD_FAILURE() << "no attribute at offset " << column.offset;
          continue;
        }
        covered.insert(attr);
        EXPECT_EQ(column.width, attr->width) << attr->name;
        EXPECT_EQ(AttrTypeOfColumn(column.type), attr->type) << attr->name;
        if (column.type == 5) {
          EXPECT_STREQ(attr->name, "STARTADDR");
        }

        const Source source = ParseSource(attr->source);
        if (source.counters.empty()) {
          ADD_FAILURE() << attr->name << " is not filled by a counter";
          continue;
        }
        const Counter& counter =
            source.counters.size() == 1 ? source.counters[0] : source.counters[k];
        EXPECT_EQ(name, counter.name) << attr->name;
        const bool nameColumn = osmperf::IsNameColumn(column.type);
        EXPECT_EQ(column.scale, nameColumn ? 0.0 : counter.scale) << attr->name;
      }

      for (std::uint32_t a = 0; a < table.attrCount; ++a) {
        const AttrDef& attr = table.attrs[a];
        const Source source = ParseSource(attr.source);
        // A counter named per description, or the table's only description:
        // this description must fill the attribute.
        const bool required = source.counters.size() > 1 ||
                              (descriptions == 1 && !source.counters.empty());
        if (required) {
          EXPECT_EQ(covered.count(&attr), 1u) << attr.name << " not filled";
        }
      }
      coveredByAny.insert(covered.begin(), covered.end());
    }
    for (std::uint32_t a = 0; a < table.attrCount; ++a) {
      const AttrDef& attr = table.attrs[a];
      if (!ParseSource(attr.source).counters.empty()) {
        EXPECT_EQ(coveredByAny.count(&attr), 1u)
            << table.name << "." << attr.name << " filled by no description";
      }
    }
  }
  EXPECT_EQ(checked, 64);
}

// The leading attributes are laid out by the fixed-data description, and every
// pseudo-column fits in the row the counter server is told about: it writes
// them into each row of the buffer it is given.
TEST(FixedDataDescriptions, LayOutTheLeadingAttributes) {
  std::set<int> ids;
  for (std::size_t t = 0; t < osm::TableCount(); ++t) {
    const TableDef& table = *osm::AllTables()[t];
    if (table.fixedData == 0) continue;
    ids.insert(table.fixedData);
    SCOPED_TRACE(std::string(table.name) + " fixed data " + std::to_string(table.fixedData));
    // Read with each description of the table: the parser refuses a
    // pseudo-column that lies outside the row the description states, since
    // the counter server writes the pseudo-columns into every row it copies.
    std::set<std::string> named;
    for (int k = 0; k < DescriptionCount(table); ++k) {
      SCOPED_TRACE("with description " + std::to_string(table.samples[k].id));
      CSample f;
      std::string error;
      if (!Describe(table.samples[k].id, table.fixedData, &f, &error)) {
        ADD_FAILURE() << error;
        continue;
      }
      for (const osmperf::PseudoColumn& p : f.PseudoColumns()) {
        const std::string name = Narrow(p.name);
        named.insert(name);
        EXPECT_LE(p.offset + p.width, f.RowSize()) << name;
        const AttrDef* attr = AttributeAt(table, static_cast<int>(p.offset));
        if (attr == nullptr) {
          ADD_FAILURE() << name << ": no attribute at offset " << p.offset;
          continue;
        }
        const Source source = ParseSource(attr->source);
        EXPECT_EQ(source.fixed, name) << attr->name;
        if (source.counters.empty()) {
          EXPECT_EQ(p.width, attr->width) << attr->name;
        } else {
          // Counters that start inside the _ZATTRIB_/_ZVALUE_ group: the
          // pseudo-column spans them and is only written when fixed data names it.
          EXPECT_GE(p.width, attr->width) << attr->name;
        }
      }
    }
    for (std::uint32_t a = 0; a < table.attrCount; ++a) {
      const std::string fixed = ParseSource(table.attrs[a].source).fixed;
      if (!fixed.empty()) {
        EXPECT_EQ(named.count(fixed), 1u) << table.attrs[a].name << " (" << fixed << ")";
      }
    }
  }
  EXPECT_EQ(ids, (std::set<int>{IDS_FIXED_SAMPLE, IDS_FIXED_SAMPLE_Z, IDS_FIXED_SYSTEM,
                                IDS_FIXED_TIMESTAMP}));

  // The table loader takes the origin attribute's name and width from the
  // first entries of 240 and 241.
  std::istringstream origin(Load(IDS_ORIGIN_ATTRIBUTE));
  std::string count, name;
  origin >> count >> name;
  EXPECT_EQ(name, "_ORIGIN_");
  EXPECT_EQ(std::atoi(Load(IDS_ORIGIN_WIDTH).c_str()), 64);
}

std::string Format(UINT id, const std::vector<std::string>& inserts) {
  // FormatMessage reads as many arguments as the text names; always offer three.
  std::vector<std::string> args = inserts;
  args.resize(3);
  DWORD_PTR argv[3] = {reinterpret_cast<DWORD_PTR>(args[0].c_str()),
                       reinterpret_cast<DWORD_PTR>(args[1].c_str()),
                       reinterpret_cast<DWORD_PTR>(args[2].c_str())};
  const std::string text = Load(id);
  char out[1024] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                 text.c_str(), 0, 0, out, sizeof out,
                                 reinterpret_cast<va_list*>(argv));
  return std::string(out, n);
}

TEST(StringTable, MessagesNamesAndEventTexts) {
  const std::string prefix = Load(IDS_MSG_PREFIX), title = Load(IDS_DISPLAY_TITLE);
  ASSERT_EQ(prefix, "OSM");
  ASSERT_FALSE(title.empty());
  const struct {
    UINT id;
    std::vector<std::string> inserts;
    std::string text;
  } messages[] = {
      {IDS_MSG_CONSOLE_MODE, {prefix, title, Load(IDS_CONSOLE_VERSION)},
       "OSMI101: Starting " + title + " (V601) in console mode."},
      {IDS_MSG_UNKNOWN_OPTION, {prefix, "-install"}, "OSME103: Unknown option \"-install\" was specified. Ending process."},
      {IDS_MSG_DISPATCHER_FAIL, {prefix}, "OSME102: Error starting as a system service."},
      {IDS_MSG_REGISTER_FAIL, {prefix}, "OSME104: Failed to register the DLL"},
      {IDS_MSG_CONNECT_FAIL, {prefix}, "OSME105: Unable to Connect to Kounter Service. Ending Process."},
      {IDS_MSG_LOAD_DLL_FAIL, {prefix}, "OSME106: Unable to Load DLL during registration"},
      {IDS_MSG_ENTRY_POINT, {prefix}, "OSME107: Unable to locate entry point during DLL registration."},
      {IDS_MSG_INIT_FAIL, {prefix}, "OSME109: Counter service failed to initialize."},
      {IDS_MSG_BANNER, {prefix, title, Load(IDS_BANNER_VERSION)},
       "OSMI100: " + title + " - Version 6.2.2"},  // the first of its three lines
      // Default event descriptions end in blanks that must survive.
      {IDS_EVENT_DEFAULT_LOCAL, {"7", "MySource"},
       "The description for Event ID ( 7 ) in Source ( MySource ) could not be found.  "
       "It contains the following insertion string(s):  "},
  };
  for (const auto& m : messages) {
    const std::string text = Format(m.id, m.inserts);
    EXPECT_EQ(text.substr(0, m.id == IDS_MSG_BANNER ? text.find("\r\n") : std::string::npos), m.text) << m.id;
  }
  const std::string remote = Format(IDS_EVENT_DEFAULT_REMOTE, {"7", "MySource"});
  EXPECT_EQ(remote.rfind("The description for Event ID ( 7 ) in Source ( MySource ) cannot be found.", 0), 0u);
  EXPECT_EQ(remote.substr(remote.size() - 26), "part of the event:        ");

  const std::vector<std::pair<UINT, const char*>> texts = {
      {IDS_SERVICE_NAME, "mx_agent"},      {IDS_PERF_DLL, "OSMPERF.DLL"},
      {IDS_PERF_PROGID, "Velmor.OSMSRV.KOUNTER1"}, {IDS_SHUTDOWN_EVENT, "OSM-SHUTDOWN"},
      {IDS_REG_VERSION_KEY, "Ver610"},     {IDS_REG_BRANCH_KEY, "Primary"},
      {IDS_STATE_FIRST + 4, "Running"},    {IDS_START_TYPE_FIRST + 4, "Disabled"},
  };
  for (const auto& entry : texts) EXPECT_EQ(Load(entry.first), entry.second) << entry.first;
  // Every state and start type below its count has a name.
  for (UINT count : {IDS_STATE_COUNT, IDS_START_TYPE_COUNT}) {
    const int n = std::atoi(Load(count).c_str());
    EXPECT_GE(n, 5);
    for (int s = 0; s < n; ++s) EXPECT_FALSE(Load(count + 1 + s).empty()) << count << "+" << s;
  }
}

}  // namespace

#include "collectors/eventlog/evt_rows.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "tables/catalogue.h"

namespace osm {
namespace evl {
namespace {

// A table's fields by attribute name, resolved once per table.
struct Field {
  std::size_t offset;
  std::size_t width;
};

class Layout {
 public:
  Layout(const char* table, std::initializer_list<const char*> names) : def_(FindTable(table)) {
    for (const char* name : names) {
      Field f{0, 0};
      for (std::uint32_t i = 0; def_ && i < def_->attrCount; ++i)
        if (std::strcmp(def_->attrs[i].name, name) == 0) f = Field{def_->attrs[i].offset, def_->attrs[i].width};
      fields_.push_back(f);
    }
  }
  const Field& operator[](int i) const { return fields_[static_cast<std::size_t>(i)]; }
  std::size_t RowSize() const { return def_ ? def_->rowSize : 0; }

 private:
  const TableDef* def_;
  std::vector<Field> fields_;
};

class Row {
 public:
  Row(char* row, const Layout& l) : row_(row), l_(l) {}
  char* At(int f) const { return row_ + l_[f].offset; }
  std::size_t Width(int f) const { return l_[f].width; }
  void Int32(int f, std::int32_t v) const { std::memcpy(At(f), &v, sizeof v); }
  void Int64(int f, std::int64_t v) const { std::memcpy(At(f), &v, sizeof v); }
  void Text(int f, const char* text) const { CopyThenBlankPad(At(f), text, Width(f)); }
  void Ascii(int f, const OsmWChar* w) const { WideToAsciiField(At(f), w, Width(f), false); }
  void Utf8(int f, const OsmWChar* w) const { WideToUtf8Field(At(f), w, Width(f)); }
  void Origin(int f) const { CopyOriginNode(At(f), Width(f)); }

 private:
  char* row_;
  const Layout& l_;
};

enum EventField {
  kEOrigin, kESampleNo, kERowNo, kEStamp, kELog, kEULog, kEEntry, kEDate, kETime, kESource, kEUSource, kEType,
  kECategory, kEUCategory, kEUser, kEUUser, kEComputer, kEId, kEDescrip, kEUDescrip, kEIdText, kEDupCount
};
const Layout& EventLayout() {
  static const Layout l("NTEVTLOG", {"ORIGINNODE", "SAMPLENO", "ROWNO", "TIMESTAMP", "LOGNAME", "ULOGNAME",
                                     "ENTRYTIME", "EVENTDATE", "EVENTTIME", "SOURCE", "USOURCE", "TYPE", "CATEGORY",
                                     "UCATEGORY", "USERID", "UUSERID", "COMPUTER", "EVENTID", "DESCRIP", "UDESCRIP",
                                     "EVENTIDSTR", "DUPCNT"});
  return l;
}

enum InfoField {
  kIOrigin, kISampleNo, kIRowNo, kIStamp, kILog, kIULog, kILogType, kIModDate, kIModTime, kIModStamp, kIMax,
  kICur, kIUsage, kICount, kIRetention, kIPath, kIUPath, kICur8, kIMax8, kICount8
};
const Layout& InfoLayout() {
  static const Layout l("NTLOGINFO", {"ORIGINNODE", "SAMPLENO", "ROWNO", "TIMESTAMP", "LOGNAME", "ULOGNAME",
                                      "LOGTYPE", "MODDATE", "MODTIME", "MDATETIME", "MAXSIZE", "CURSIZE", "USAGE",
                                      "COUNT", "RETENTION", "PATH", "UPATH", "CURSIZE8", "MAXSIZE8", "COUNT8"});
  return l;
}

}  // namespace

void BuildEventRow(char* row, const FormattedEvent& e, const char* logName, int rowNo, bool report,
                   const char* nowStamp16, long long duplicateCount) {
  const Layout& l = EventLayout();
  std::memset(row, report ? 0 : ' ', l.RowSize());
  Row r(row, l);
  r.Origin(kEOrigin);
  r.Int32(kESampleNo, 0);
  r.Int32(kERowNo, rowNo);
  std::memcpy(r.At(kEStamp), nowStamp16, kStampWidth);
  WText log = Widen(logName);
  r.Ascii(kELog, log.c_str());
  r.Utf8(kEULog, log.c_str());
  r.Text(kEEntry, e.timestamp);
  r.Text(kEDate, e.date);
  r.Text(kETime, e.time);
  r.Ascii(kESource, e.source);
  r.Utf8(kEUSource, e.source);
  r.Text(kEType, e.type);
  r.Ascii(kECategory, e.category);
  r.Utf8(kEUCategory, e.category);
  r.Ascii(kEUser, e.user);
  r.Utf8(kEUUser, e.user);
  r.Ascii(kEComputer, e.computer);
  r.Int32(kEId, static_cast<std::int32_t>(e.eventId));
  r.Ascii(kEDescrip, e.description);
  r.Utf8(kEUDescrip, e.description);
  char id[16];
  std::snprintf(id, sizeof id, "%u", static_cast<unsigned>(e.eventId));
  r.Text(kEIdText, id);
  r.Int64(kEDupCount, duplicateCount);
}

int UsagePercent(std::uint64_t current, std::uint64_t maximum) {
  if (maximum == 0) return 0;
  // Both sizes fit in 63 bits on any real volume; the quotient of a file
  // larger than its maximum may pass 100.
  std::uint64_t pct = current / maximum * 100 + current % maximum * 100 / maximum;
  return pct > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(pct);
}

int RetentionShown(std::uint32_t retention) {
  if (retention >= 86400 && retention != 0xFFFFFFFFu) return static_cast<int>(retention / 86400);
  return static_cast<int>(retention);
}

void BuildLogInfoRow(char* row, const LogInfo& info, const char* sampleStamp16) {
  const Layout& l = InfoLayout();
  std::memset(row, 0, l.RowSize());
  Row r(row, l);
  r.Origin(kIOrigin);
  r.Int32(kISampleNo, 0);
  r.Int32(kIRowNo, info.logType);
  std::memcpy(r.At(kIStamp), sampleStamp16, kStampWidth);
  r.Ascii(kILog, info.logName.c_str());
  r.Utf8(kIULog, info.logName.c_str());
  r.Int32(kILogType, info.logType);
  char text[17];
  FormatDateText(text, info.modified);
  text[8] = '\0';
  r.Text(kIModDate, text);
  FormatTimeText(text, info.modified);
  text[8] = '\0';
  r.Text(kIModTime, text);
  FormatTimestamp(r.At(kIModStamp), info.modified, 16);
  r.Int32(kIMax, static_cast<std::int32_t>(static_cast<std::uint32_t>(info.maxSize)));
  r.Int32(kICur, static_cast<std::int32_t>(static_cast<std::uint32_t>(info.currentSize)));
  r.Int32(kIUsage, UsagePercent(info.currentSize, info.maxSize));
  r.Int32(kICount, static_cast<std::int32_t>(static_cast<std::uint32_t>(info.recordCount)));
  r.Int32(kIRetention, RetentionShown(info.retention));
  r.Ascii(kIPath, info.path.c_str());
  r.Utf8(kIUPath, info.path.c_str());
  r.Int64(kICur8, static_cast<std::int64_t>(info.currentSize));
  r.Int64(kIMax8, static_cast<std::int64_t>(info.maxSize));
  r.Int64(kICount8, static_cast<std::int64_t>(info.recordCount));
}

}  // namespace evl
}  // namespace osm

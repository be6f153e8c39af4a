#include "collectors/eventlog/evt_rows.h"

#include <cstdio>
#include <cstring>

#include "tables/catalogue.h"

namespace osm {
namespace evl {
namespace {

// Field offsets of a table, looked up once by attribute name.
class Layout {
 public:
  explicit Layout(const char* table) : def_(FindTable(table)) {}
  char* At(char* row, const char* name) const {
    for (std::uint32_t i = 0; def_ && i < def_->attrCount; ++i)
      if (std::strcmp(def_->attrs[i].name, name) == 0) return row + def_->attrs[i].offset;
    return nullptr;
  }
  std::size_t Width(const char* name) const {
    for (std::uint32_t i = 0; def_ && i < def_->attrCount; ++i)
      if (std::strcmp(def_->attrs[i].name, name) == 0) return def_->attrs[i].width;
    return 0;
  }
  std::size_t RowSize() const { return def_ ? def_->rowSize : 0; }

 private:
  const TableDef* def_;
};

struct Field {
  char* at;
  std::size_t width;
};

Field F(const Layout& l, char* row, const char* name) { return Field{l.At(row, name), l.Width(name)}; }

void PutInt32(Field f, std::int32_t v) { std::memcpy(f.at, &v, sizeof v); }
void PutInt64(Field f, std::int64_t v) { std::memcpy(f.at, &v, sizeof v); }
void PutText(Field f, const char* text) { CopyThenBlankPad(f.at, text, f.width); }
void PutAscii(Field f, const OsmWChar* w) { WideToAsciiField(f.at, w, f.width, false); }
void PutUtf8(Field f, const OsmWChar* w) { WideToUtf8Field(f.at, w, f.width); }

}  // namespace

void BuildEventRow(char* row, const FormattedEvent& e, const char* logName, int rowNo, bool report,
                   const char* nowStamp16, long long duplicateCount) {
  static const Layout l("NTEVTLOG");
  std::memset(row, report ? 0 : ' ', l.RowSize());
  CopyOriginNode(F(l, row, "ORIGINNODE").at, F(l, row, "ORIGINNODE").width);
  PutInt32(F(l, row, "SAMPLENO"), 0);
  PutInt32(F(l, row, "ROWNO"), rowNo);
  std::memcpy(F(l, row, "TIMESTAMP").at, nowStamp16, kStampWidth);
  WText log = Widen(logName);
  PutAscii(F(l, row, "LOGNAME"), log.c_str());
  PutUtf8(F(l, row, "ULOGNAME"), log.c_str());
  PutText(F(l, row, "ENTRYTIME"), e.timestamp);
  PutText(F(l, row, "EVENTDATE"), e.date);
  PutText(F(l, row, "EVENTTIME"), e.time);
  PutAscii(F(l, row, "SOURCE"), e.source);
  PutUtf8(F(l, row, "USOURCE"), e.source);
  PutText(F(l, row, "TYPE"), e.type);
  PutAscii(F(l, row, "CATEGORY"), e.category);
  PutUtf8(F(l, row, "UCATEGORY"), e.category);
  PutAscii(F(l, row, "USERID"), e.user);
  PutUtf8(F(l, row, "UUSERID"), e.user);
  PutAscii(F(l, row, "COMPUTER"), e.computer);
  PutInt32(F(l, row, "EVENTID"), static_cast<std::int32_t>(e.eventId));
  PutAscii(F(l, row, "DESCRIP"), e.description);
  PutUtf8(F(l, row, "UDESCRIP"), e.description);
  char id[16];
  std::snprintf(id, sizeof id, "%u", static_cast<unsigned>(e.eventId));
  PutText(F(l, row, "EVENTIDSTR"), id);
  PutInt64(F(l, row, "DUPCNT"), duplicateCount);
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
  static const Layout l("NTLOGINFO");
  std::memset(row, 0, l.RowSize());
  CopyOriginNode(F(l, row, "ORIGINNODE").at, F(l, row, "ORIGINNODE").width);
  PutInt32(F(l, row, "SAMPLENO"), 0);
  PutInt32(F(l, row, "ROWNO"), info.logType);
  std::memcpy(F(l, row, "TIMESTAMP").at, sampleStamp16, kStampWidth);
  PutAscii(F(l, row, "LOGNAME"), info.logName.c_str());
  PutUtf8(F(l, row, "ULOGNAME"), info.logName.c_str());
  PutInt32(F(l, row, "LOGTYPE"), info.logType);
  char text[17];
  FormatDateText(text, info.modified);
  text[8] = '\0';
  PutText(F(l, row, "MODDATE"), text);
  FormatTimeText(text, info.modified);
  text[8] = '\0';
  PutText(F(l, row, "MODTIME"), text);
  FormatTimestamp(F(l, row, "MDATETIME").at, info.modified, 16);
  PutInt32(F(l, row, "MAXSIZE"), static_cast<std::int32_t>(static_cast<std::uint32_t>(info.maxSize)));
  PutInt32(F(l, row, "CURSIZE"), static_cast<std::int32_t>(static_cast<std::uint32_t>(info.currentSize)));
  PutInt32(F(l, row, "USAGE"), UsagePercent(info.currentSize, info.maxSize));
  PutInt32(F(l, row, "COUNT"), static_cast<std::int32_t>(static_cast<std::uint32_t>(info.recordCount)));
  PutInt32(F(l, row, "RETENTION"), RetentionShown(info.retention));
  PutAscii(F(l, row, "PATH"), info.path.c_str());
  PutUtf8(F(l, row, "UPATH"), info.path.c_str());
  PutInt64(F(l, row, "CURSIZE8"), static_cast<std::int64_t>(info.currentSize));
  PutInt64(F(l, row, "MAXSIZE8"), static_cast<std::int64_t>(info.maxSize));
  PutInt64(F(l, row, "COUNT8"), static_cast<std::int64_t>(info.recordCount));
}

}  // namespace evl
}  // namespace osm

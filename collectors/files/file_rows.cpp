#include "collectors/files/file_rows.h"

#include <cstring>

#include "collectors/files/change_notices.h"
#include "collectors/perf/perf_values.h"

namespace osm {
namespace files {
namespace {

using perf::FieldOf;
using perf::RowField;

char* At(char* row, RowField f) { return row + f.offset; }

void PutInt32(const TableDef& t, char* row, const char* name, std::int32_t v) {
  perf::SetInt32(row, FieldOf(t, name), v);
}
void PutInt64(const TableDef& t, char* row, const char* name, std::int64_t v) {
  perf::SetInt64(row, FieldOf(t, name), v);
}
// Text that fits its field (dates, times, stamps, flags), blank padded.
void PutText(const TableDef& t, char* row, const char* name, const char* text, std::size_t length) {
  RowField f = FieldOf(t, name);
  if (!f.valid()) return;
  std::memset(At(row, f), ' ', f.width);
  std::memcpy(At(row, f), text, length < f.width ? length : f.width);
}
void PutBytes(const TableDef& t, char* row, const char* name, const std::string& bytes) {
  PutText(t, row, name, bytes.data(), bytes.size());
}

// The three forms of one file time: date and time texts and the agent stamp.
void PutTime(const TableDef& t, char* row, const char* date, const char* time, const char* stamp,
             const OsmSystemTime& when) {
  char text[16];
  FormatDateText(text, when);
  PutText(t, row, date, text, 8);
  FormatTimeText(text, when);
  PutText(t, row, time, text, 8);
  FormatTimestamp(text, when, 16);
  PutText(t, row, stamp, text, 16);
}

// The watch's names as the situation gave them (they fit their fields), so
// that the situation's own terms on them hold for its rows.
void PutWatch(const TableDef& t, char* row, const WatchSpec& w) {
  PutBytes(t, row, "WATCHDIR", w.dir);
  PutBytes(t, row, "UWATCHDIR", w.udir);
}

void PutWatchedFile(const TableDef& t, char* row, const WatchSpec& w) {
  PutBytes(t, row, "WATCHFILE", w.file);
  PutBytes(t, row, "UWATCHFILE", w.ufile);
}

}  // namespace

const TableDef& ChangeTable() {
  static const TableDef& t = *FindTable("NTFLCHG");
  return t;
}

const TableDef& TrendTable() {
  static const TableDef& t = *FindTable("NTFLTREND");
  return t;
}

void ClearRow(const TableDef& table, char* row) {
  std::memset(row, ' ', table.rowSize);
  for (std::uint32_t i = 0; i < table.attrCount; ++i) {
    const AttrDef& a = table.attrs[i];
    if (a.type == kAttrInt32 || a.type == kAttrInt64) std::memset(row + a.offset, 0, a.width);
  }
}

void StampRow(const TableDef& table, char* row, const std::string& node, std::int32_t sampleNo,
              std::int32_t rowNo) {
  PutText(table, row, "ORIGINNODE", node.data(), node.size());
  PutInt32(table, row, "SAMPLENO", sampleNo);
  PutInt32(table, row, "ROWNO", rowNo);
  RowField stamp = FieldOf(table, "TIMESTAMP");
  if (stamp.valid()) FormatTimestampNowZeroFilled(At(row, stamp), stamp.width);
}

void FillChangeFacts(char* row, const FileFacts& facts) {
  const TableDef& t = ChangeTable();
  PutInt32(t, row, "ATTRIBUTES", static_cast<std::int32_t>(facts.attributes));
  PutInt32(t, row, "CURSIZE", facts.found ? Clamp32(facts.size) : 0);
  PutInt64(t, row, "CURSIZE8", facts.found ? facts.size : 0);
  if (facts.found) {
    PutTime(t, row, "CREATEDATE", "CREATETIME", "CDATETIME", facts.created);
    PutTime(t, row, "MODDATE", "MODTIME", "MDATETIME", facts.written);
  } else {
    for (const char* name : {"CREATEDATE", "CREATETIME", "CDATETIME", "MODDATE", "MODTIME", "MDATETIME"})
      PutText(t, row, name, "", 0);
  }
}

bool ChangeRowHasNoDates(const char* row) {
  RowField f = FieldOf(ChangeTable(), "MODDATE");
  for (std::size_t i = 0; i < f.width; ++i)
    if (row[f.offset + i] != ' ') return false;
  return true;
}

void FillChangeRow(char* row, const WatchSpec& watch, const ChangeRow& change) {
  const TableDef& t = ChangeTable();
  PutWatch(t, row, watch);
  if (WatchesOneFile(watch)) {
    // The received name differs from the watched one at most in letter case.
    PutWatchedFile(t, row, watch);
  } else {
    // Both carry the UTF-8 bytes of the name, each cut at its own width.
    RowField file = FieldOf(t, "WATCHFILE"), ufile = FieldOf(t, "UWATCHFILE");
    WriteNameField(At(row, file), file.width, change.name);
    WriteNameField(At(row, ufile), ufile.width, change.name);
  }
  PutInt32(t, row, "ACTION", static_cast<std::int32_t>(change.action));
  FillChangeFacts(row, change.facts);
  PutInt32(t, row, "TOTALHITS", Clamp32(change.hits));
  PutInt64(t, row, "TOTALHITS8", change.hits);
  PutText(t, row, "WATCHTREE", &watch.watchTree, 1);
  PutText(t, row, "MONITORALL", &watch.monitorAll, 1);
  for (int k = 0; k < 8; ++k) PutText(t, row, kChangeKinds[k].attribute, &watch.kinds[k], 1);
}

void FillTrendRow(char* row, const WatchSpec& watch, const TrendRow& trend) {
  const TableDef& t = TrendTable();
  PutWatch(t, row, watch);
  PutWatchedFile(t, row, watch);
  PutInt32(t, row, "SAMPINT", trend.sampleInterval);
  PutInt32(t, row, "SAMPNUM", trend.sampleCount);
  if (!trend.facts.found) {
    for (const char* name : {"ATTRIBUTES", "CURSIZE", "PCUSED", "PCCHGLSTHR", "PCCHGLSTIN", "PCCHGAVR", "PCCHGTOT",
                             "CHGLSTHR", "CHGLSTIN", "CHGAVR", "CHGTOT", "FRESPAEXHR"})
      PutInt32(t, row, name, -1);
    for (const char* name : {"CURSIZE8", "CHGAVR8", "CHGLSTHR8", "CHGLSTIN8", "CHGTOT8"}) PutInt64(t, row, name, -1);
    for (const char* name : {"CREATEDATE", "MODDATE"}) PutText(t, row, name, "00/00/00", 8);
    for (const char* name : {"CREATETIME", "MODTIME"}) PutText(t, row, name, "00:00:00", 8);
    for (const char* name : {"CDATETIME", "MDATETIME"}) PutText(t, row, name, "0000000000000000", 16);
    return;
  }
  const FileFacts& f = trend.facts;
  const TrendFigures& g = trend.figures;
  PutInt32(t, row, "ATTRIBUTES", static_cast<std::int32_t>(f.attributes));
  PutInt32(t, row, "CURSIZE", Clamp32(f.size));
  PutInt64(t, row, "CURSIZE8", f.size);
  PutTime(t, row, "CREATEDATE", "CREATETIME", "CDATETIME", f.created);
  PutTime(t, row, "MODDATE", "MODTIME", "MDATETIME", f.written);
  PutInt32(t, row, "CHGLSTIN", Clamp32(g.lastInterval));
  PutInt64(t, row, "CHGLSTIN8", g.lastInterval);
  PutInt32(t, row, "CHGTOT", Clamp32(g.total));
  PutInt64(t, row, "CHGTOT8", g.total);
  PutInt32(t, row, "CHGAVR", Clamp32(g.average));
  PutInt64(t, row, "CHGAVR8", g.average);
  PutInt32(t, row, "CHGLSTHR", Clamp32(g.lastHour));
  PutInt64(t, row, "CHGLSTHR8", g.lastHour);
  PutInt32(t, row, "PCCHGLSTIN", g.pcLastInterval);
  PutInt32(t, row, "PCCHGTOT", g.pcTotal);
  PutInt32(t, row, "PCCHGAVR", g.pcAverage);
  PutInt32(t, row, "PCCHGLSTHR", g.pcLastHour);
  PutInt32(t, row, "PCUSED", PercentOfDisk(f.size, trend.disk));
  PutInt32(t, row, "FRESPAEXHR", FreeSpaceHours(trend.disk, g.lastHour));
}

}  // namespace files
}  // namespace osm

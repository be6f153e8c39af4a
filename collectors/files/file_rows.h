// The row records of NTFLCHG and NTFLTREND, filled from what the platform
// side gathered (the watch, the change, the file's facts, the trend figures).
// Fields are addressed by attribute name through the catalogue. No platform
// calls.
#pragma once

#include <cstdint>
#include <string>

#include "collectors/files/trend_ring.h"
#include "collectors/files/watch_spec.h"
#include "support/fields.h"
#include "tables/catalogue.h"

namespace osm {
namespace files {

const TableDef& ChangeTable();  // NTFLCHG
const TableDef& TrendTable();   // NTFLTREND

// What the platform says about a file (local times).
struct FileFacts {
  bool found = false;          // size and times were read
  std::int64_t size = 0;
  std::uint32_t attributes = 0;  // 0xFFFFFFFF when they could not be read
  OsmSystemTime created{};
  OsmSystemTime written{};
};

// Blanks every text attribute and zeroes every integer of a row.
void ClearRow(const TableDef& table, char* row);
// ORIGINNODE, SAMPLENO, ROWNO and TIMESTAMP (now).
void StampRow(const TableDef& table, char* row, const std::string& node, std::int32_t sampleNo,
              std::int32_t rowNo);

// An NTFLCHG row: the watch's directory and flags, the name shown as
// WATCHFILE and UWATCHFILE, the action, the file's facts (sizes 0 and dates
// blank when not found) and the hit count.
struct ChangeRow {
  std::uint32_t action = 0;
  std::u16string name;
  FileFacts facts;
  std::int64_t hits = 0;
};
void FillChangeRow(char* row, const WatchSpec& watch, const ChangeRow& change);
// The facts part of an NTFLCHG row alone (a report refreshes it).
void FillChangeFacts(char* row, const FileFacts& facts);
// True when MODDATE of an NTFLCHG row was never filled.
bool ChangeRowHasNoDates(const char* row);

// An NTFLTREND row: the watch, SAMPINT and SAMPNUM, and either the facts with
// the figures, or -1 values and zero dates when the file was not found.
struct TrendRow {
  std::int32_t sampleInterval = 0;
  std::int32_t sampleCount = 0;
  FileFacts facts;
  TrendFigures figures;
  DiskFigures disk;
};
void FillTrendRow(char* row, const WatchSpec& watch, const TrendRow& trend);

}  // namespace files
}  // namespace osm

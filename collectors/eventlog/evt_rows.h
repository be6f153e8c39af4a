// Rows of NTEVTLOG and NTLOGINFO, built from a formatted event and from a
// log's information. Offsets come from the row catalogue.
#pragma once

#include <cstdint>
#include <vector>

#include "collectors/eventlog/evt_event.h"

namespace osm {
namespace evl {

// One NTEVTLOG row into row (the table's row size). A situation row starts
// blank, a report row zero-filled.
void BuildEventRow(char* row, const FormattedEvent& e, const char* logName, int rowNo, bool report,
                   const char* nowStamp16, long long duplicateCount);

// What NTLOGINFO shows of one log.
struct LogInfo {
  WText logName;
  int logType = 0;
  OsmSystemTime modified{};        // local time of the file's last write
  std::uint64_t maxSize = 0;       // configured maximum, bytes
  std::uint64_t currentSize = 0;   // the file's size, bytes
  std::uint64_t recordCount = 0;
  std::uint32_t retention = 0;     // as stored (seconds)
  WText path;
};

// Percent of the maximum in use, from the 64-bit sizes; 0 when no maximum
// is set.
int UsagePercent(std::uint64_t current, std::uint64_t maximum);
// Retention in days when it is a day or more, else as stored.
int RetentionShown(std::uint32_t retention);

// One NTLOGINFO row into row, which is cleared first.
void BuildLogInfoRow(char* row, const LogInfo& info, const char* sampleStamp16);

}  // namespace evl
}  // namespace osm

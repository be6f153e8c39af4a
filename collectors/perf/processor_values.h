// The processor tables' own values: the "% Processor Time" correction of a
// Processor row (NTPROCSSR layout) and the single summary row of NTPROCRSUM,
// built from the Processor, System and Process samples. No platform calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tables/catalogue.h"

namespace osm {
namespace perf {

// Replaces an impossible "% Processor Time" of the row (see
// CorrectedProcessorTime). Returns true when it did; *delivered receives the
// value as the sample delivered it.
bool CorrectProcessorRow(char* row, std::int32_t* delivered);

// The processor count that divides the top process's time: NUMOFPRCSR of the
// first WTSYSTEM row. 0 when there is no row, so that a sample of no rows
// never lends a stale or zero-filled row; the caller falls back to 1.
std::int32_t ProcessorCountOf(const char* systemRows, std::size_t count, std::size_t rowSize);

// The NTPROCRSUM row, built in a zero-filled record the caller owns.
class ProcessorSummary {
 public:
  explicit ProcessorSummary(char* row);

  // Each corrected Processor row in sample order; "_Total" is skipped. The
  // busiest processor wins on processor time, then on interrupt rate; the
  // least busy likewise; on a complete tie the earlier row stays.
  void AddProcessor(const char* processorRow);
  // Each WTPROCESS row in sample order; "_Total" is skipped. The first
  // process with the highest "% Processor Time" is the top process, its
  // average taken over `processors` (at least 1).
  void AddProcess(const char* processRow, std::int32_t processors);
  // The top-minus-low differences.
  void Finish();

 private:
  char* row_;
  bool haveProcessor_ = false;
  bool haveProcess_ = false;
};

}  // namespace perf
}  // namespace osm

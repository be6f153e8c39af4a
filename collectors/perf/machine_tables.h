// The row completion of WTMEMORY, NTMEMORY and WTSYSTEM, and the memory
// status they read.
#pragma once

#include "collectors/perf/perf_collector.h"
#include "collectors/perf/perf_values.h"

namespace osm {
namespace perf {

// The extended global memory status of the machine.
MemoryStatus QueryMemoryStatus();

// Where the collectors take the memory status from: QueryMemoryStatus unless
// a test puts another source here (null restores the platform's).
typedef MemoryStatus (*MemoryStatusSource)();
MemoryStatusSource& MemoryStatusHook();

// Complete the fetched rows; other tables' buffers (WTPROCESS, NTPROCESS,
// NTPROCSSR) are read one at a time, each under its own lock.
void CompleteWtMemoryRows(FetchedRows& rows, RAS1_EPB* unit);
void CompleteNtMemoryRows(FetchedRows& rows, RAS1_EPB* unit);
void CompleteWtSystemRows(FetchedRows& rows, RAS1_EPB* unit);

}  // namespace perf
}  // namespace osm

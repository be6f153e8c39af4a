// The row completion of WTPHYSDSK and WTLOGCLDSK, and the volume sizes that
// WTLOGCLDSK asks of the platform.
#pragma once

#include <cstdint>
#include <string>

#include "collectors/perf/disk_values.h"
#include "collectors/perf/perf_collector.h"

namespace osm {
namespace perf {

// The total size in megabytes of the volume of a drive root ("C:"), or 0.
std::int32_t DiskSizeMB(const char* root);
// The total size in megabytes of a volume named by its device
// ("HarddiskVolume1") or mounted in a folder ("C:\mnt\data"), asked of its
// file system: 0 when the volume cannot be opened or asked, -1 when it is
// not found or its file system gives no size and the free space counters
// (freeMb, pcFree) cannot stand in.
std::int32_t VolumeSizeMB(const std::string& name, std::int32_t freeMb, std::int32_t pcFree);

// Complete the fetched rows; WTLOGCLDSK also reads the WTPHYSDSK buffer.
void CompleteWtPhysDskRows(FetchedRows& rows, RAS1_EPB* unit);
void CompleteWtLogclDskRows(FetchedRows& rows, RAS1_EPB* unit);

}  // namespace perf
}  // namespace osm

// The file-sharing tables' own values: ended sessions and the byte rate
// against the fastest interface (WTSERVER), the redirector's share of that
// interface (NTREDIRECT), and the running averages of the cache hit
// percentages (NTCACHE). No platform calls.
#pragma once

#include <cstdint>
#include <mutex>

#include "collectors/perf/network_values.h"

namespace osm {
namespace perf {

// Bytes per second x 8 / the fastest interface's bandwidth x 100, rounded
// half up; -1 without the 64-bit Network Interface sample (null).
std::int32_t FastestInterfacePercent(std::int64_t bytesPerSecond, const InterfaceBandwidths* interfaces);

// TOTENDSESS, TOTENDSES8, ERRSESSPCT and HIPRCBTSEC of a WTSERVER row.
void CompleteWtServerRow(char* row, const InterfaceBandwidths* interfaces);
// HIPRCBTSEC and HICURMOD (current commands per interface) of an NTREDIRECT
// row; both -1 without the Network Interface sample, HICURMOD -1 too when it
// lists no interface.
void CompleteNtRedirectRow(char* row, const InterfaceBandwidths* interfaces);

// The four running averages of the cache hit percentages (copy read, data
// map, MDL read, pin read), shared by every request on NTCACHE: each row
// advances them one step, A = (P + A) / 2, starting from the first P.
class CacheAverages {
 public:
  // Advances the averages by the row's percentages and writes them into it.
  void Advance(char* ntCacheRow);

 private:
  std::mutex lock_;
  bool started_ = false;
  std::int32_t averages_[4] = {0, 0, 0, 0};
};

}  // namespace perf
}  // namespace osm

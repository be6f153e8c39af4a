// WTSERVER, NTREDIRECT and NTCACHE: the Server and Redirector samples with
// their byte rates against the fastest network interface, and the Cache
// sample with running averages of its hit percentages.
#include "collectors/perf/network_tables.h"
#include "collectors/perf/perf_collector.h"
#include "collectors/perf/server_values.h"
#include "tables/tables.h"

namespace osm {
namespace perf {

namespace {

void CompleteWtServerRows(FetchedRows& rows, RAS1_EPB* unit) {
  InterfaceBandwidths interfaces;
  bool have = ReadInterfaceBandwidths(&interfaces, unit);
  for (int i = 0; i < rows.count; ++i) CompleteWtServerRow(rows.Row(i), have ? &interfaces : nullptr);
}

void CompleteNtRedirectRows(FetchedRows& rows, RAS1_EPB* unit) {
  InterfaceBandwidths interfaces;
  bool have = ReadInterfaceBandwidths(&interfaces, unit);
  for (int i = 0; i < rows.count; ++i) CompleteNtRedirectRow(rows.Row(i), have ? &interfaces : nullptr);
}

// Process-wide: every request's sample advances the same averages.
void CompleteNtCacheRows(FetchedRows& rows, RAS1_EPB*) {
  static CacheAverages* averages = new CacheAverages();  // lives for the process
  for (int i = 0; i < rows.count; ++i) averages->Advance(rows.Row(i));
}

const CollectorSpec kWtServer = {"WTSERVER", "Server", ProgressForm::kStandard, nullptr, nullptr,
                                 &CompleteWtServerRows};
const CollectorSpec kNtRedirect = {"NTREDIRECT", nullptr, ProgressForm::kStandardDetail, nullptr, nullptr,
                                   &CompleteNtRedirectRows, true};
const CollectorSpec kNtCache = {"NTCACHE", "Cache", ProgressForm::kSpaced4, nullptr, nullptr, &CompleteNtCacheRows};

}  // namespace

}  // namespace perf
}  // namespace osm

OSM_PERF_AGENT(wtserver, osm::perf::kWtServer)
OSM_PERF_AGENT(ntredirect, osm::perf::kNtRedirect)
OSM_PERF_AGENT(ntcache, osm::perf::kNtCache)

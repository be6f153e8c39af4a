#include "host/metrics_status.h"

#include <windows.h>

#include "framework/metrics_export.h"
#include "framework/ras1.h"
#include "host/messages.h"
#include "perfclient/osmclient.h"
#include "perfsvc/perf_source_select.h"
#include "tables/catalogue.h"
#include "tables/metric_columns.h"

namespace {

bool ColumnsOf(const char* tableName, cfw::MetricColumns* columns) {
  const osm::TableDef* table = osm::FindTable(tableName);
  if (table == nullptr) return false;
  *columns = osm::MetricColumnsOf(*table);
  return true;
}

// The source the counter service in this process reads, by the same settings.
const char* SourceName() {
  switch (osmperf::ConfiguredPerfSourceKind()) {
    case osmperf::PerfSourceKind::Registry: return "registry";
    case osmperf::PerfSourceKind::File: return "file";
    case osmperf::PerfSourceKind::System: return "system";
    default: {
      const char* file = BSS1_GetEnv("OSM_PERFDATA_FILE", 0);
      return file && *file ? "file" : "registry";
    }
  }
}

void Status(cfw::AgentFacts* facts) {
  char version[64];
  LoadAgentString(5003, version, sizeof version);
  facts->version = version;
  UINT samples = 0;
  bool up = g_osmKount != nullptr && SUCCEEDED(g_osmKount->GetSampleCount(&samples));
  facts->counterState = up ? "running" : "not running";
  facts->counterDown = !up;
  facts->counterSource = SourceName();
}

}  // namespace

void RegisterMetricsSources() {
  DCF_RegisterMetricColumns(ColumnsOf);
  DCF_RegisterStatusProbe(Status);
}

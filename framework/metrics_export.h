// The metrics output of the framework: export requests hand their samples
// to a store, and an HTTP endpoint serves the latest of them with the agent's
// own metrics and health (metrics_pages.h). The endpoint is on when
// OSM_METRICS_URL names a URL prefix ("http://127.0.0.1:9182/").
//
// The agent tells the framework two things it cannot know itself:
//   - per table, which attributes name a row and which are left out, and the
//     HELP text of each attribute (DCF_RegisterMetricColumns);
//   - its version and the counter service's state and source
//     (DCF_RegisterStatusProbe).
#pragma once

#include <string>

#include "framework/jsonrows.h"
#include "framework/metric_rows.h"
#include "framework/metrics_pages.h"
#include "framework/requests.h"

// Fills *columns for an upper-case table name; false when it knows none.
typedef bool (*DCF_MetricColumnSource)(const char* table, cfw::MetricColumns* columns);
// Fills version, counterState, counterSource and counterDown of *facts.
typedef void (*DCF_StatusProbe)(cfw::AgentFacts* facts);

int DCF_RegisterMetricColumns(DCF_MetricColumnSource source);
int DCF_RegisterStatusProbe(DCF_StatusProbe probe);
// Closes the metrics endpoint now, for a process about to end without
// waiting for cfwmain (which closes it at its own end).
int DCF_CloseMetrics(void);

namespace cfw {

// Opens the endpoint when OSM_METRICS_URL is set; true when it serves. A URL
// that cannot be opened is reported (error stream, trace, framework log) and
// the framework runs on without it.
bool MetricsStart();
// Export requests are opened only while the endpoint serves.
bool MetricsServing();
void MetricsExportOpened(const ParsedRequest& request, const RowLayout& layout);
// One sample of an export request: count rows of layout's size at rows, or
// the error that failed it; seconds is the time it took.
void MetricsExportSampled(const ParsedRequest& request, const char* rows, int count, unsigned rowSize,
                          const std::string& error, double seconds);
// Closes the endpoint (also while a scrape is in flight) and forgets the exports.
void MetricsStop();

}  // namespace cfw

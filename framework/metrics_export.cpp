// The metrics output of the framework: the store of exported samples and the
// endpoint that serves them.
#include "framework/metrics_export.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>

#include "framework/cfw.h"
#include "framework/cfw_runtime.h"
#include "framework/metrics_endpoint.h"
#include "framework/ras1.h"

namespace {

struct Metrics {
  std::mutex lock;  // the registrations and the endpoint pointer
  DCF_MetricColumnSource columns = nullptr;
  DCF_StatusProbe probe = nullptr;
  std::unique_ptr<cfw::MetricsEndpoint> endpoint;
  std::atomic<bool> serving{false};
  std::atomic<bool> stopping{false};
  cfw::MetricsStore store;
};

Metrics& M() {
  static Metrics* metrics = new Metrics();  // outlives static destructors
  return *metrics;
}

void Say(const std::string& text, bool problem) {
  RAS1_UNIT("cfw::Metrics");
  RAS1_TRACE(problem ? RAS1_ERROR : RAS1_FLOW, "%s", text.c_str());
  std::fprintf(stderr, "OSM framework: %s\n", text.c_str());
  std::fflush(stderr);
  cfw::LogLine(text);
}

cfw::AgentFacts Facts() {
  cfw::AgentFacts facts;
  facts.host = DCF_GetNodeSystemName();
  DCF_StatusProbe probe;
  {
    std::lock_guard<std::mutex> guard(M().lock);
    probe = M().probe;
  }
  if (probe) probe(&facts);
  cfw::ReadProcessFacts(&facts);
  facts.openRequests = static_cast<double>(cfw::OpenRequestCount());
  facts.traceLines = static_cast<double>(RAS1_LinesWritten());
  if (M().stopping) facts.state = "stopping";
  return facts;
}

cfw::HttpAnswer Serve(const cfw::HttpQuery& query) {
  return cfw::Answer(query, M().store.Snapshot(), Facts, std::chrono::system_clock::now());
}

}  // namespace

int DCF_RegisterMetricColumns(DCF_MetricColumnSource source) {
  std::lock_guard<std::mutex> guard(M().lock);
  M().columns = source;
  return DCF_OK;
}

int DCF_RegisterStatusProbe(DCF_StatusProbe probe) {
  std::lock_guard<std::mutex> guard(M().lock);
  M().probe = probe;
  return DCF_OK;
}

int DCF_CloseMetrics(void) {
  cfw::MetricsStop();
  return DCF_OK;
}

namespace cfw {

bool MetricsStart() {
  const char* url = BSS1_GetEnv("OSM_METRICS_URL", 0);
  if (url == nullptr || *url == '\0') return false;
  std::unique_ptr<MetricsEndpoint> endpoint(new MetricsEndpoint());
  std::string error;
  if (!endpoint->Start(url, Serve, &error)) {
    Say("metrics endpoint off: " + error, true);
    return false;
  }
  std::string base(url);
  if (base.empty() || base.back() != '/') base.push_back('/');
  Say("metrics at " + base + "metrics, health at " + base + "health", false);
  std::lock_guard<std::mutex> guard(M().lock);
  M().endpoint = std::move(endpoint);
  M().serving = true;
  return true;
}

bool MetricsServing() { return M().serving; }

void MetricsExportOpened(const ParsedRequest& request, const RowLayout& layout) {
  MetricColumns columns;
  columns.node = "ORIGINNODE";
  DCF_MetricColumnSource source;
  {
    std::lock_guard<std::mutex> guard(M().lock);
    source = M().columns;
  }
  if (source) source(request.table.c_str(), &columns);
  auto plan = std::make_shared<const TablePlan>(request.table, layout, columns);
  M().store.Open(request.name, request.table, request.interval, plan, std::chrono::system_clock::now());
}

void MetricsExportSampled(const ParsedRequest& request, const char* rows, int count, unsigned rowSize,
                          const std::string& error, double seconds) {
  std::shared_ptr<const std::string> copy;
  if (error.empty() && count > 0 && rows != nullptr) {
    copy = std::make_shared<const std::string>(rows, static_cast<std::size_t>(count) * rowSize);
  } else {
    copy = std::make_shared<const std::string>();
    if (error.empty()) count = 0;
  }
  M().store.Record(request.name, std::move(copy), count, error, seconds, std::chrono::system_clock::now());
}

void MetricsStop() {
  Metrics& m = M();
  m.stopping = true;
  std::unique_ptr<MetricsEndpoint> endpoint;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    endpoint = std::move(m.endpoint);
  }
  if (endpoint) {
    endpoint->Stop();
    LogLine("metrics endpoint closed");
  }
  m.serving = false;
  m.store.Clear();
  m.stopping = false;
}

}  // namespace cfw

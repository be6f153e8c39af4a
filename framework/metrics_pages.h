// The answers of the metrics endpoint, apart from the HTTP server that sends
// them:
//   GET /metrics  the exported tables and the agent's own metrics, in the
//                 format the Accept header asks for (exposition.h)
//   GET /health   JSON: the agent, the counter service and each exported
//                 table; 200 when healthy, 503 when the counter service is
//                 down or no exported table was sampled within three intervals
//   HEAD          the same status and headers without the body
//   other methods 405, other paths 404; request bodies are never read.
// Paths are relative to the path of the URL prefix the endpoint serves.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/exposition.h"
#include "framework/metrics_store.h"

namespace cfw {

// What the agent says about itself; a negative number is unknown and left out.
struct AgentFacts {
  std::string state = "running";  // "running" or "stopping"
  std::string version;
  std::string host;                // node label of rows that name no node
  std::string counterState;        // "running", "not running"; "" unknown
  std::string counterSource;       // "registry", "file", "system"; "" unknown
  bool counterDown = false;
  double startTime = -1;           // seconds since 1970
  double cpuSeconds = -1;          // user and kernel time of the process
  double residentBytes = -1;
  double threads = -1;
  double openRequests = -1;
  double traceLines = -1;
};

struct HttpQuery {
  std::string method;  // "GET", "HEAD", ...
  std::string path;    // relative to the prefix: "/metrics"
  std::string accept;  // the Accept header
};

struct HttpAnswer {
  int status = 200;
  const char* reason = "OK";
  std::string contentType;
  std::string body;
  bool sendBody = true;  // false for HEAD: headers and length only
};

// The path below the URL prefix's own path ("http://+:80/osm/" and
// "/osm/metrics" give "/metrics"); "" when absPath lies outside it.
std::string RelativePath(const std::string& urlPrefix, const std::string& absPath);

// The answer to one request. facts is called only for the pages that need it.
HttpAnswer Answer(const HttpQuery& query, const std::vector<ExportState>& exports,
                  const std::function<AgentFacts()>& facts, TimePoint now);

std::string MetricsText(ExpoFormat format, const std::vector<ExportState>& exports, const AgentFacts& facts,
                        TimePoint now);
// The health document; *healthy says whether it answers 200.
std::string HealthJson(const std::vector<ExportState>& exports, const AgentFacts& facts, TimePoint now,
                       bool* healthy);

}  // namespace cfw

// Platforms without the HTTP Server API: no endpoint, no process facts.
#include "framework/metrics_endpoint.h"

namespace cfw {

struct MetricsEndpoint::Impl {};

MetricsEndpoint::MetricsEndpoint() = default;
MetricsEndpoint::~MetricsEndpoint() = default;

bool MetricsEndpoint::Start(const std::string& url, HttpHandler handler, std::string* error) {
  (void)url;
  (void)handler;
  *error = "this build has no HTTP server";
  return false;
}

void MetricsEndpoint::Stop() {}

void ReadProcessFacts(AgentFacts* facts) { (void)facts; }

}  // namespace cfw

// The platform side of the metrics endpoint: the HTTP server that serves a
// URL prefix, and what the process knows about itself. On Windows the server
// is the HTTP Server API (metrics_http_win.cpp); elsewhere there is none.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "framework/metrics_pages.h"

namespace cfw {

typedef std::function<HttpAnswer(const HttpQuery&)> HttpHandler;

class MetricsEndpoint {
 public:
  MetricsEndpoint();
  ~MetricsEndpoint();  // stops
  // Opens the URL prefix and serves it on threads of its own; false with a
  // message for people in *error when the prefix cannot be opened.
  bool Start(const std::string& url, HttpHandler handler, std::string* error);
  // Stops serving, also a request in flight, and waits for the threads.
  void Stop();

 private:
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The process's start time, processor time, working set and threads in
// facts (left unknown where the platform does not tell).
void ReadProcessFacts(AgentFacts* facts);

}  // namespace cfw

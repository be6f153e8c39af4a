// The answers of the metrics endpoint.
#include "framework/metrics_pages.h"

#include "framework/jsonrows.h"

namespace cfw {
namespace {

double Seconds(TimePoint when) {
  return std::chrono::duration<double>(when.time_since_epoch()).count();
}

std::string TableLabel(const ExportState& s) {
  std::string labels;
  AppendLabel(&labels, "table", s.table);
  return labels;
}

// A gauge with one unlabelled sample, left out when the value is unknown.
void Single(Exposition* out, const char* name, FamilyType type, const char* help, double value) {
  if (value < 0) return;
  out->Family(name, type, help);
  out->Sample(std::string(), value);
}

void AgentFamilies(Exposition* out, const AgentFacts& f) {
  std::string labels;
  AppendLabel(&labels, "version", f.version);
  AppendLabel(&labels, "source", f.counterSource);
  out->Family("osm_agent", FamilyType::kInfo, "The agent's version and the counter service's data source");
  out->Sample(labels, 1LL);
  Single(out, "osm_agent_start_time_seconds", FamilyType::kGauge, "Start of the agent process, seconds since 1970",
         f.startTime);
  Single(out, "osm_agent_cpu_seconds", FamilyType::kCounter, "Processor time of the agent process, user and kernel",
         f.cpuSeconds);
  Single(out, "osm_agent_resident_memory_bytes", FamilyType::kGauge, "Working set of the agent process",
         f.residentBytes);
  Single(out, "osm_agent_threads", FamilyType::kGauge, "Threads of the agent process", f.threads);
  Single(out, "osm_agent_open_requests", FamilyType::kGauge, "Requests of the framework that are open",
         f.openRequests);
  Single(out, "osm_agent_trace_lines", FamilyType::kCounter, "Lines written to the trace", f.traceLines);
  if (!f.counterState.empty()) {
    Single(out, "osm_agent_perf_service_up", FamilyType::kGauge, "1 while the counter service runs",
           f.counterDown ? 0.0 : 1.0);
  }
}

void TableFamilies(Exposition* out, const std::vector<ExportState>& exports) {
  out->Family("osm_table_samples", FamilyType::kCounter, "Samples taken of the exported table, good or failed");
  for (const ExportState& s : exports) out->Sample(TableLabel(s), static_cast<long long>(s.samples));
  out->Family("osm_table_failed_samples", FamilyType::kCounter, "Failed samples of the exported table");
  for (const ExportState& s : exports) out->Sample(TableLabel(s), static_cast<long long>(s.failures));
  out->Family("osm_table_sample_duration_seconds", FamilyType::kSummary, "Time spent sampling the exported table");
  for (const ExportState& s : exports) {
    out->Sample(TableLabel(s), s.seconds, "_sum");
    out->Sample(TableLabel(s), static_cast<long long>(s.samples), "_count");
  }
  out->Family("osm_table_rows", FamilyType::kGauge, "Rows of the last good sample of the exported table");
  for (const ExportState& s : exports) out->Sample(TableLabel(s), static_cast<long long>(s.rowCount));
  out->Family("osm_table_last_sample_timestamp_seconds", FamilyType::kGauge,
              "Time of the last good sample of the exported table, seconds since 1970");
  for (const ExportState& s : exports) {
    if (s.sampled) out->Sample(TableLabel(s), Seconds(s.lastSample));
  }
}

HttpAnswer Plain(int status, const char* reason, const std::string& text) {
  HttpAnswer a;
  a.status = status;
  a.reason = reason;
  a.contentType = "text/plain; charset=utf-8";
  a.body = text + "\n";
  return a;
}

}  // namespace

std::string RelativePath(const std::string& urlPrefix, const std::string& absPath) {
  std::size_t scheme = urlPrefix.find("://");
  std::size_t slash = urlPrefix.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  std::string base = slash == std::string::npos ? std::string() : urlPrefix.substr(slash);
  while (!base.empty() && base.back() == '/') base.pop_back();
  if (absPath.compare(0, base.size(), base) != 0) return std::string();
  std::string rest = absPath.substr(base.size());
  if (!rest.empty() && rest[0] != '/') return std::string();  // "/osmx" is not below "/osm"
  return rest;
}

std::string MetricsText(ExpoFormat format, const std::vector<ExportState>& exports, const AgentFacts& facts,
                        TimePoint now) {
  auto started = std::chrono::steady_clock::now();
  Exposition out(format);
  for (const ExportState& s : exports) {
    if (s.plan && s.rows && RowsCurrent(s, now)) s.plan->Render(s.rows->data(), s.rowCount, facts.host, &out);
  }
  AgentFamilies(&out, facts);
  TableFamilies(&out, exports);
  out.Family("osm_scrape_duration_seconds", FamilyType::kGauge, "Time this scrape took to render");
  out.Sample(std::string(), std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  return out.Finish();
}

std::string HealthJson(const std::vector<ExportState>& exports, const AgentFacts& facts, TimePoint now,
                       bool* healthy) {
  // "key":"text" after a comma, or after the opening brace when first.
  auto text = [](std::string* out, const char* key, const std::string& value) {
    out->append(out->back() == '{' ? "\"" : ",\"").append(key).append("\":");
    AppendJsonQuoted(out, value);
  };
  auto number = [](std::string* out, const char* key, const std::string& value) {
    out->append(",\"").append(key).append("\":").append(value);
  };
  bool anyRecent = exports.empty();
  std::string tables;
  for (const ExportState& s : exports) {
    if (SampledRecently(s, now)) anyRecent = true;
    std::string t("{");
    text(&t, "table", s.table);
    text(&t, "request", s.request);
    number(&t, "interval", std::to_string(s.interval));
    if (s.sampled) text(&t, "lastSample", FormatUtc(s.lastSample));
    else number(&t, "lastSample", "null");
    number(&t, "current", RowsCurrent(s, now) ? "true" : "false");
    number(&t, "rows", std::to_string(s.rowCount));
    number(&t, "samples", std::to_string(s.samples));
    number(&t, "failures", std::to_string(s.failures));
    text(&t, "lastError", s.lastError);
    tables.append(tables.empty() ? "" : ",").append(t).push_back('}');
  }
  *healthy = !facts.counterDown && anyRecent;
  std::string out("{");
  text(&out, "status", *healthy ? "healthy" : "unhealthy");
  out.append(",\"agent\":{");
  text(&out, "state", facts.state);
  text(&out, "version", facts.version);
  text(&out, "host", facts.host);
  out.append("},\"counterService\":{");
  text(&out, "state", facts.counterState.empty() ? "unknown" : facts.counterState);
  text(&out, "source", facts.counterSource.empty() ? "unknown" : facts.counterSource);
  out.append("},\"tables\":[" + tables + "]}\n");
  return out;
}

HttpAnswer Answer(const HttpQuery& query, const std::vector<ExportState>& exports,
                  const std::function<AgentFacts()>& facts, TimePoint now) {
  bool head = query.method == "HEAD";
  HttpAnswer a;
  if (query.method != "GET" && !head) {
    a = Plain(405, "Method Not Allowed", "Only GET and HEAD are served.");
  } else if (query.path == "/metrics") {
    ExpoFormat format = NegotiateFormat(query.accept);
    a.contentType = ContentType(format);
    a.body = MetricsText(format, exports, facts(), now);
  } else if (query.path == "/health") {
    bool healthy = false;
    a.contentType = "application/json";
    a.body = HealthJson(exports, facts(), now, &healthy);
    if (!healthy) {
      a.status = 503;
      a.reason = "Service Unavailable";
    }
  } else {
    a = Plain(404, "Not Found", "Not found: the agent serves /metrics and /health.");
  }
  a.sendBody = !head;
  return a;
}

}  // namespace cfw

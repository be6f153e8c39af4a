// The framework runtime: cfwmain, request threads, shut-down, settings.
#include "framework/cfw.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <thread>

#include "framework/cfw_runtime.h"
#include "framework/condition.h"
#include "framework/jsonrows.h"
#include "framework/metrics_export.h"
#include "framework/ras1.h"

namespace {

struct Settings {
  std::mutex lock;
  DCF_AgentLoader loader = nullptr;
  std::string product;
  int version = 0;
  std::vector<std::string> affinities;
  int affinityVersion = 0;
  std::string nodeType;
  std::map<std::string, DCF_CommandCallback> callbacks;
};

Settings& Config() {
  static Settings* settings = new Settings();  // outlives static destructors
  return *settings;
}

// State of one run of cfwmain, shared with its request threads.
struct RunState {
  std::mutex lock;
  std::condition_variable changed;
  bool shutdown = false;  // DCF_Shutdown was called
  bool stopping = false;  // request threads must leave their loops
  int pending = 0;        // one-shot reports and commands not yet done
  int openEnded = 0;      // situations, event situations, repeating reports
};

struct Control {
  std::mutex lock;
  bool running = false;
  bool shutdownRequested = false;
  std::shared_ptr<RunState> current;
};

Control& Ctl() {
  static Control* control = new Control();
  return *control;
}

struct Entry {
  cfw::ParsedRequest req;
  dcfa* request = nullptr;  // null once closed
  std::thread thread;
  bool finished = false;    // the thread left its loop (guarded by RunState::lock)
  bool abandoned = false;   // cfwmain gave up waiting; the thread cleans up
};

// Abandoned request threads not yet gone (DCF_AbandonedRequests).
std::atomic<int> g_abandoned{0};

// Called by a request thread as it ends. An abandoned entry belongs to its
// thread: the thread closes the request and frees the entry.
void LeaveThread(RunState& run, Entry* e) {
  bool abandoned;
  {
    std::lock_guard<std::mutex> lk(run.lock);
    e->finished = true;
    abandoned = e->abandoned;
    run.changed.notify_all();
  }
  if (abandoned) {
    if (e->request) cfw::CloseRequest(e->request);
    cfw::LogLine("request " + e->req.name + " left its table after shut-down and is closed");
    delete e;
    --g_abandoned;
  }
}

// The request object that carries a take-action command.
class AutomationRequest : public dcfa {
 public:
  AutomationRequest(RequestDetail& d, ContextInfo& c) : dcfa(d, c, nullptr) { MarkAutomation(); }
  int TakeSample() override { return 0; }
};

void Problem(const std::string& text) {
  RAS1_UNIT("cfwmain");
  RAS1_TRACE(RAS1_ERROR, "%s", text.c_str());
  std::fprintf(stderr, "OSM framework: %s\n", text.c_str());
  std::fflush(stderr);
  cfw::LogLine(text);
}

bool EnvYes(const char* name) {
  const char* v = BSS1_GetEnv(name, 0);
  if (v == nullptr) return false;
  std::string s(v);
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s == "Y" || s == "YES" || s == "1" || s == "TRUE";
}

int EnvSeconds(const char* name, int fallback) {
  const char* v = BSS1_GetEnv(name, 0);
  std::int64_t n = 0;
  if (v == nullptr || !cfw::ParseInteger(v, &n) || n < 0 || n > 86400) return fallback;
  return static_cast<int>(n);
}

std::string AnsweredRecord(const cfw::ParsedRequest& req, int rows, int status, const std::string& error) {
  std::string line("{\"record\":\"answered\",\"request\":");
  cfw::AppendJsonQuoted(&line, req.name);
  line.append(",\"kind\":\"report\",\"table\":");
  cfw::AppendJsonQuoted(&line, req.table);
  line.append(",\"time\":");
  cfw::AppendJsonQuoted(&line, cfw::FormatUtc(std::chrono::system_clock::now()));
  line.append(",\"rows\":" + std::to_string(rows) + ",\"status\":" + std::to_string(status));
  if (!error.empty()) {
    line.append(",\"error\":");
    cfw::AppendJsonQuoted(&line, error);
  }
  line.append("}\n");
  return line;
}

// One TakeSample and its Dispatch. A sample that throws or fails ships no rows.
void SampleOnce(Entry* e) {
  RAS1_UNIT("cfw::SampleOnce");
  dcfa* r = e->request;
  int rc = 0;
  std::string error;
  auto started = std::chrono::steady_clock::now();
  try {
    rc = r->TakeSample();
    if (rc != 0) error = "TakeSample returned " + std::to_string(rc);
  } catch (const std::exception& ex) {
    error = std::string("TakeSample threw: ") + ex.what();
    rc = -1;
  } catch (...) {
    error = "TakeSample threw an exception";
    rc = -1;
  }
  int rows = 0;
  if (rc != 0) {
    r->DiscardRows();
    RAS1_TRACE(RAS1_ERROR, "Request %s on %s: %s; no rows", e->req.name.c_str(), e->req.table.c_str(),
               error.c_str());
    cfw::LogLine("request " + e->req.name + " on " + e->req.table + ": " + error + "; no rows");
  } else if (e->req.kind == cfw::RequestKind::kExport) {
    // Exported rows go to the metrics endpoint only, never to the JSON output.
    rows = r->_data.count < r->_data.allocated ? r->_data.count : r->_data.allocated;
  } else {
    rows = r->_data.count > 0 ? r->_data.count : 0;
    rc = r->Dispatch();
    if (rc != 0) {
      error = "rows could not be written";
      rows = 0;
    }
  }
  if (e->req.kind == cfw::RequestKind::kExport) {
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    cfw::MetricsExportSampled(e->req, r->_data.rows, rows, static_cast<unsigned>(r->_data.rowSize), error,
                              seconds);
    r->DiscardRows();
  }
  if (e->req.kind == cfw::RequestKind::kReport) cfw::WriteLines(AnsweredRecord(e->req, rows, rc, error));
}

void RunSampled(std::shared_ptr<RunState> run, Entry* e) {
  using clock = std::chrono::steady_clock;
  bool oneShot = e->req.kind == cfw::RequestKind::kReport && e->req.interval == 0;
  clock::time_point next = clock::now();
  bool first = true;
  while (true) {
    {
      std::unique_lock<std::mutex> lk(run->lock);
      run->changed.wait_until(lk, next, [&] { return run->stopping; });
      if (run->stopping) break;
    }
    SampleOnce(e);
    if (oneShot) {
      cfw::CloseRequest(e->request);
      e->request = nullptr;
      std::lock_guard<std::mutex> lk(run->lock);
      --run->pending;
      break;
    }
    clock::time_point now = clock::now();
    // The first sample may wait for its table's first snapshot: the schedule
    // starts from its answer, so the second answer does not follow at once.
    if (first) next = now;
    first = false;
    next += std::chrono::seconds(e->req.interval);
    if (next < now) next = now;
  }
  LeaveThread(*run, e);
}

void RunAction(std::shared_ptr<RunState> run, Entry* e) {
  RAS1_UNIT("cfw::RunAction");
  bool stopping;
  {
    std::lock_guard<std::mutex> lk(run->lock);
    stopping = run->stopping;
  }
  if (!stopping) {
    RequestDetail detail = cfw::MakeDetail("OSM", "", e->req.name.c_str(), 0, 0);
    ContextInfo context = cfw::NewContext(nullptr);
    AutomationRequest* request = new (std::nothrow) AutomationRequest(detail, context);
    if (request == nullptr) {
      Problem("action " + e->req.name + ": out of memory");
    } else {
      cfw::OpenRequest(request);
      DcfaAutomationCapsule capsule(request, e->req.product.c_str(), e->req.command.c_str());
      RAS1_TRACE(RAS1_FLOW, "Action %s for %s: %s", e->req.name.c_str(), e->req.product.c_str(),
                 e->req.command.c_str());
      try {
        request->ExecuteCommand(&capsule);
      } catch (...) {
        RAS1_TRACE(RAS1_ERROR, "The command handler of %s threw", e->req.product.c_str());
        capsule.SetResults(-1);
        capsule.SetMessage("The command handler failed.");
        request->FinishedAutomationCommand(&capsule);
      }
      cfw::CloseRequest(request);
    }
  }
  {
    std::lock_guard<std::mutex> lk(run->lock);
    --run->pending;
  }
  LeaveThread(*run, e);
}

bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream s;
  s << in.rdbuf();
  *text = s.str();
  return true;
}

void Publish() {
  Settings& s = Config();
  std::string agent("{\"record\":\"agent\",\"product\":");
  // DCFA_NODETYPE, when set, names the node type; otherwise the agent's own.
  const char* nodeType = BSS1_GetEnv("DCFA_NODETYPE", 0);
  {
    std::lock_guard<std::mutex> guard(s.lock);
    cfw::AppendJsonQuoted(&agent, s.product);
    agent.append(",\"version\":" + std::to_string(s.version) + ",\"nodetype\":");
    cfw::AppendJsonQuoted(&agent, nodeType && *nodeType ? std::string(nodeType) : s.nodeType);
  }
  agent.append(",\"host\":");
  cfw::AppendJsonQuoted(&agent, DCF_GetNodeSystemName());
  agent.append(",\"time\":");
  cfw::AppendJsonQuoted(&agent, cfw::FormatUtc(std::chrono::system_clock::now()));
  agent.append("}\n");
  std::string lines = agent;
  for (TableManager* m : cfw::RegisteredManagers()) {
    cfw::RowLayout layout(m->RowSize(), m->Attributes(), m->AttributeCount());
    lines += cfw::TableJson(m->TableName(), layout);
    lines.push_back('\n');
  }
  cfw::WriteLines(lines);
}

// Attribute lists of the registered tables, for checking requests.
struct Schemas {
  std::map<std::string, std::vector<cfw::AttributeView>> tables;
  const std::vector<cfw::AttributeView>* Find(const std::string& table) const {
    auto it = tables.find(table);
    return it == tables.end() ? nullptr : &it->second;
  }
};

Schemas CollectSchemas() {
  Schemas s;
  for (TableManager* m : cfw::RegisteredManagers()) {
    cfw::RowLayout layout(m->RowSize(), m->Attributes(), m->AttributeCount());
    std::vector<cfw::AttributeView>& attrs = s.tables[m->TableName()];
    for (std::size_t i = 0; i < layout.Count(); ++i) {
      attrs.push_back({layout.Name(i), layout.Attr(i).type, layout.Attr(i).width});
    }
  }
  return s;
}

}  // namespace

namespace cfw {

DCF_CommandCallback CommandCallbackFor(const std::string& product) {
  Settings& s = Config();
  std::lock_guard<std::mutex> guard(s.lock);
  auto it = s.callbacks.find(product);
  return it == s.callbacks.end() ? nullptr : it->second;
}

}  // namespace cfw

int DCF_RegisterAgentLoader(DCF_AgentLoader loader) {
  Settings& s = Config();
  std::lock_guard<std::mutex> guard(s.lock);
  s.loader = loader;
  return DCF_OK;
}

int DCF_SetVersionUsingProduct(const char* product, const void* area16, int version) {
  (void)area16;
  if (product == nullptr) return DCF_E_BADARG;
  Settings& s = Config();
  std::lock_guard<std::mutex> guard(s.lock);
  s.product = product;
  s.version = version;
  return DCF_OK;
}

int DCF_SetAffinity(const char* affinity) {
  if (affinity == nullptr) return DCF_E_BADARG;
  Settings& s = Config();
  std::lock_guard<std::mutex> guard(s.lock);
  s.affinities.push_back(affinity);
  return DCF_OK;
}

int DCF_SetAffinityVersion(int version) {
  Settings& s = Config();
  std::lock_guard<std::mutex> guard(s.lock);
  s.affinityVersion = version;
  return DCF_OK;
}

int DCF_SetNodeType(const char* nodeType) {
  if (nodeType == nullptr) return DCF_E_BADARG;
  Settings& s = Config();
  std::lock_guard<std::mutex> guard(s.lock);
  s.nodeType = nodeType;
  return DCF_OK;
}

int DCF_RegisterCommandCallback(const char* product, DCF_CommandCallback callback) {
  if (product == nullptr) return DCF_E_BADARG;
  std::string key(product);
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Settings& s = Config();
  std::lock_guard<std::mutex> guard(s.lock);
  if (callback) s.callbacks[key] = callback;
  else s.callbacks.erase(key);
  return DCF_OK;
}

int DCF_Shutdown(int how) {
  RAS1_UNIT("DCF_Shutdown");
  RAS1_TRACE(RAS1_FLOW, "Shutdown requested (%d)", how);
  std::shared_ptr<RunState> run;
  {
    Control& c = Ctl();
    std::lock_guard<std::mutex> guard(c.lock);
    c.shutdownRequested = true;
    run = c.current;
  }
  if (run) {
    std::lock_guard<std::mutex> lk(run->lock);
    run->shutdown = true;
    run->changed.notify_all();
  }
  return DCF_OK;
}

int DCF_AbandonedRequests(void) { return g_abandoned.load(); }

int cfwmain(int argc, char** argv) {
  RAS1_ENTRY("cfwmain");
  (void)argc;
  (void)argv;
  auto run = std::make_shared<RunState>();
  {
    Control& c = Ctl();
    std::lock_guard<std::mutex> guard(c.lock);
    if (c.running) return DCF_E_STATE;
    c.running = true;
    c.current = run;
    run->shutdown = c.shutdownRequested;
  }

  const char* env = BSS1_GetEnv("OSM_REQUESTS", 0);
  std::string requestsPath = env && *env ? std::string(env) : cfw::DefaultFolder() + "osm_requests.txt";
  env = BSS1_GetEnv("OSM_OUTPUT", 0);
  std::string outputPath = env ? env : "";
  bool exitWhenDone = EnvYes("OSM_EXIT_WHEN_DONE");
  int shutdownWait = EnvSeconds("OSM_SHUTDOWN_WAIT", 30);

  if (!cfw::OpenOutput(outputPath.c_str())) {
    Problem("cannot open the output file " + outputPath + "; rows go to standard output");
  }
  cfw::LogLine("framework starting; requests " + requestsPath);

  DCF_AgentLoader loader;
  {
    Settings& s = Config();
    std::lock_guard<std::mutex> guard(s.lock);
    loader = s.loader;
  }
  if (loader) {
    try {
      int rc = loader();
      if (rc != 0) RAS1_TRACE(RAS1_ERROR, "The agent loader returned %d", rc);
    } catch (...) {
      Problem("the agent loader threw an exception");
    }
  } else {
    RAS1_TRACE(RAS1_ERROR, "No agent loader registered");
  }
  Publish();

  // Open the requests.
  std::vector<std::unique_ptr<Entry>> entries;
  std::string text;
  if (!ReadFile(requestsPath, &text)) {
    cfw::LogLine("requests file " + requestsPath + " not found; no requests");
    RAS1_TRACE(RAS1_FLOW, "Requests file %s not found", requestsPath.c_str());
  }
  Schemas schemas = CollectSchemas();
  cfw::ParsedRequests parsed =
      cfw::ParseRequests(text, [&schemas](const std::string& t) { return schemas.Find(t); });
  for (const cfw::RequestProblem& p : parsed.problems) Problem(cfw::FormatProblem(requestsPath, p));
  cfw::MetricsStart();

  for (const cfw::ParsedRequest& req : parsed.requests) {
    std::unique_ptr<Entry> e(new Entry());
    e->req = req;
    if (req.kind == cfw::RequestKind::kAction) {
      {
        std::lock_guard<std::mutex> lk(run->lock);
        ++run->pending;
      }
      e->thread = std::thread(RunAction, run, e.get());
      entries.push_back(std::move(e));
      continue;
    }
    TableManager* manager = cfw::FindManager(req.table);
    if (req.kind == cfw::RequestKind::kExport && !cfw::MetricsServing()) {
      Problem(cfw::FormatProblem(requestsPath,
                                 {req.line, "the metrics endpoint is off (OSM_METRICS_URL); not exported"}));
      continue;
    }
    RequestDetail detail = cfw::MakeDetail(manager->ApplName(), req.table.c_str(), req.name.c_str(),
                                           req.interval, cfw::SampleTypeOf(req.kind));
    ContextInfo context = cfw::NewContext(&req.condition);
    dcfa* request = nullptr;
    std::string why = "the table gave no request object";
    try {
      request = manager->CreateRequest(detail, context);
    } catch (const std::exception& ex) {
      why = std::string("creating the request threw: ") + ex.what();
    } catch (...) {
      why = "creating the request threw an exception";
    }
    if (request == nullptr) {
      Problem(cfw::FormatProblem(requestsPath, {req.line, why}));
      continue;
    }
    cfw::OpenRequest(request);
    e->request = request;
    if (req.kind == cfw::RequestKind::kExport) {
      cfw::MetricsExportOpened(req, cfw::RowLayout(manager->RowSize(), manager->Attributes(),
                                                   manager->AttributeCount()));
    }
    bool oneShot = req.kind == cfw::RequestKind::kReport && req.interval == 0;
    {
      std::lock_guard<std::mutex> lk(run->lock);
      if (oneShot) ++run->pending;
      else ++run->openEnded;
    }
    if (req.kind != cfw::RequestKind::kEvent) e->thread = std::thread(RunSampled, run, e.get());
    RAS1_TRACE(RAS1_FLOW, "Opened %s %s on %s", cfw::KindName(req.kind), req.name.c_str(),
               req.table.c_str());
    entries.push_back(std::move(e));
  }
  cfw::LogLine("framework running; " + std::to_string(entries.size()) + " requests open, " +
               std::to_string(parsed.problems.size()) + " lines skipped");

  // Serve until shut-down, or until the one-shot work is done.
  {
    std::unique_lock<std::mutex> lk(run->lock);
    if (exitWhenDone && run->openEnded > 0) {
      cfw::LogLine("OSM_EXIT_WHEN_DONE is set, but " + std::to_string(run->openEnded) +
                   " situations or repeating reports stay open until shut-down");
    }
    run->changed.wait(lk, [&] {
      return run->shutdown || (exitWhenDone && run->pending == 0 && run->openEnded == 0);
    });
    run->stopping = true;
    run->changed.notify_all();
  }
  cfw::MetricsStop();
  {
    std::unique_lock<std::mutex> lk(run->lock);
    // Let samples in flight finish, within the bound.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(shutdownWait);
    run->changed.wait_until(lk, deadline, [&] {
      for (const auto& e : entries) {
        if (e->thread.joinable() && !e->finished) return false;
      }
      return true;
    });
  }

  // Close the requests in the order they were opened.
  for (auto& e : entries) {
    if (e->thread.joinable()) {
      bool finished;
      {
        std::lock_guard<std::mutex> lk(run->lock);
        finished = e->finished;
        if (!finished) {
          e->abandoned = true;
          ++g_abandoned;
        }
      }
      if (!finished) {
        Problem("request " + e->req.name + " is still inside its table after " +
                std::to_string(shutdownWait) + " s; it is closed when its sample returns");
        e->thread.detach();
        e.release();  // its thread frees it
        continue;
      }
      e->thread.join();
    }
    if (e->request) {
      cfw::CloseRequest(e->request);
      e->request = nullptr;
    }
  }
  for (TableManager* m : cfw::RegisteredManagers()) m->Shutdown();
  cfw::ForgetRegistrations();
  cfw::LogLine("framework stopped");
  cfw::CloseOutput();
  {
    Control& c = Ctl();
    std::lock_guard<std::mutex> guard(c.lock);
    c.running = false;
    c.shutdownRequested = false;
    c.current.reset();
  }
  return DCF_OK;
}

#include "framework/wdc.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

#include "framework/cfw_runtime.h"
#include "framework/nlsxlat.h"
#include "framework/ras1.h"
#include "framework/wdc_platform.h"

class WDC_AgentIterator {
 public:
  std::vector<WDC_AgentEntry> entries;
  std::size_t next = 0;
};

namespace {

std::atomic<bool> g_armed{true};
std::atomic<WDC_ClientStart> g_clientStart{nullptr};
std::atomic<WDC_ClientStop> g_clientStop{nullptr};

// Product code of the watchdog's log records: it serves this agent.
const char kRecordProduct[] = "NT";

std::string ToUtf8(const WDC_UString& text) {
  std::vector<unsigned char> bytes;
  for (WDC_UChar c : text) {
    bytes.push_back(static_cast<unsigned char>(static_cast<std::uint16_t>(c) & 0xFF));
    bytes.push_back(static_cast<unsigned char>(static_cast<std::uint16_t>(c) >> 8));
  }
  std::string out(text.size() * 3, '\0');
  std::size_t written = 0;
  NLS2_TranslateString(NLS2_CS_UTF16LE, bytes.data(), bytes.size(), NLS2_CS_UTF8, &out[0], out.size(), &written,
                       nullptr);
  out.resize(written);
  return out;
}

WDC_UString Wide(const std::string& utf8) { return WDC_u_strFromUTF8(utf8.c_str()); }

struct Service {
  std::mutex lock;  // the listeners; held while they are called
  std::vector<WDC_AlertListener*> alertListeners;
  std::vector<WDC_LogListener*> logListeners;
  // Both live for the process once created: alerts and the service control
  // handler may reach them from any thread.
  std::unique_ptr<wdc::AgentControl> control;
  std::atomic<wdc::Supervisor*> supervisor{nullptr};
  std::mutex startLock;
  bool started = false;
};

Service& S() {
  static Service* service = new Service();  // outlives static destructors and every thread
  return *service;
}

void DeliverAlert(const wdc::Alert& a) {
  WDC_Alert alert;
  alert.agentName = Wide(a.agent);
  alert.processName = Wide(a.process);
  alert.details = Wide(a.details);
  alert.status = a.status;
  alert.agentType = a.agentType;
  alert.osType = wdc::PlatformOs().type;
  alert.pid = static_cast<int>(a.pid);
  alert.messageId = a.messageId;
  alert.managedState = a.managedState;
  alert.time = a.time;
  std::lock_guard<std::mutex> guard(S().lock);
  for (WDC_AlertListener* l : S().alertListeners) l->alertNotification(alert);
}

void DeliverLog(const wdc::LogRecord& r) {
  RAS1_UNIT("WDC_QueryService::log");
  RAS1_TRACE(RAS1_FLOW, "Watchdog record %d: %s", r.number, r.text.c_str());
  WDC_LogRecord record;
  record.productCode = kRecordProduct;
  record.messageNumber = r.number;
  record.text = Wide(r.text);
  std::lock_guard<std::mutex> guard(S().lock);
  for (WDC_LogListener* l : S().logListeners) l->logNotification(record);
}

template <class T>
bool Register(std::vector<T*>* list, T* listener) {
  if (listener == nullptr) return false;
  std::lock_guard<std::mutex> guard(S().lock);
  if (std::find(list->begin(), list->end(), listener) != list->end()) return false;
  list->push_back(listener);
  return true;
}

template <class T>
bool Deregister(std::vector<T*>* list, T* listener) {
  std::lock_guard<std::mutex> guard(S().lock);
  auto it = std::find(list->begin(), list->end(), listener);
  if (it == list->end()) return false;
  list->erase(it);
  return true;
}

WDC_AgentEntry EntryOf(const wdc::AgentState& s) {
  const wdc::AgentCapability& c = s.cap;
  const wdc::OsFacts& os = wdc::PlatformOs();
  WDC_AgentEntry e;
  e.subagentId = Wide(c.id);
  e.agentName = Wide(c.name);
  e.processName = Wide(c.process);
  e.agentPath = Wide(c.path);
  e.startScript = Wide(c.start);
  e.stopScript = Wide(c.stop);
  e.statusScript = Wide(c.status);
  e.configScript = Wide(c.config);
  e.serviceName = Wide(c.service);
  e.dependencies = Wide(c.depends);
  e.osName = Wide(os.name);
  e.osVersion = Wide(os.version);
  e.version = Wide(c.version);
  e.buildNumber = Wide(c.build);
  e.instanceName = Wide(s.instance);
  e.commandLine = Wide(s.figures.commandLine);
  e.userName = Wide(s.figures.userName);
  e.capabilityTime = c.fileTime;
  e.agentType = c.agentType;
  e.osType = os.type;
  e.manageType = c.kind;
  e.managedState = s.managed ? 1 : 0;
  e.operationalStatus = s.status;
  e.checkFrequency = c.checkFrequency;
  e.maxRestarts = c.maxRestarts;
  e.memoryUnit = c.memoryUnit;
  e.restarts = s.restarts;
  e.memoryThreshold = c.memoryThreshold;
  e.cpuThreshold = c.cpuThreshold;
  e.lastCheckTime = s.lastCheck;
  e.pid = s.pid;
  e.workingSet = s.figures.workingSet;
  e.virtualSize = s.figures.virtualSize;
  e.cpuPercent = s.cpuPercent;
  e.userPercent = s.userPercent;
  e.privilegedPercent = s.privilegedPercent;
  e.threads = s.figures.threads;
  e.handles = s.figures.handles;
  e.pageFaults = s.figures.pageFaults;
  return e;
}

std::string CapabilityFolder() {
  const char* env = BSS1_GetEnv("OSM_WATCHDOG_DIR", 0);
  return env && *env ? std::string(env) : cfw::DefaultFolder() + "watchdog";
}

wdc::Supervisor* Supervisor() { return S().supervisor.load(); }

}  // namespace

WDC_UString WDC_u_strFromUTF8(const char* utf8) {
  if (utf8 == nullptr) return WDC_UString();
  std::size_t n = std::char_traits<char>::length(utf8);
  std::vector<unsigned char> bytes(n * 2 + 2);
  std::size_t written = 0;
  NLS2_TranslateString(NLS2_CS_UTF8, utf8, n, NLS2_CS_UTF16LE, bytes.data(), bytes.size(), &written, nullptr);
  WDC_UString out;
  for (std::size_t i = 0; i + 1 < written; i += 2) out.push_back(static_cast<WDC_UChar>(bytes[i] | bytes[i + 1] << 8));
  return out;
}

WDC_QueryService* WDC_QueryService::initQueryService() {
  static WDC_QueryService* service = [] {
    Service& s = S();
    s.control = wdc::MakePlatformControl();
    wdc::Supervisor::Sinks sinks{&DeliverAlert, &DeliverLog};
    wdc::Supervisor* supervisor = new wdc::Supervisor(
        s.control.get(), [] { return static_cast<std::int64_t>(std::time(nullptr)); }, sinks);
    supervisor->SetArmed(g_armed);
    s.supervisor = supervisor;
    return new WDC_QueryService();
  }();
  return service;
}

bool WDC_QueryService::registerAlertListener(WDC_AlertListener* l) { return Register(&S().alertListeners, l); }
bool WDC_QueryService::deregisterAlertListener(WDC_AlertListener* l) { return Deregister(&S().alertListeners, l); }
bool WDC_QueryService::registerLogListener(WDC_LogListener* l) { return Register(&S().logListeners, l); }
bool WDC_QueryService::deregisterLogListener(WDC_LogListener* l) { return Deregister(&S().logListeners, l); }

bool WDC_QueryService::startQueryService() {
  Service& s = S();
  std::lock_guard<std::mutex> guard(s.startLock);
  if (s.started) return true;
  std::string folder = CapabilityFolder();
  bool found = false;
  std::vector<wdc::AgentCapability> agents;
  for (const wdc::CapabilityFile& f : wdc::ReadCapabilityFiles(folder, &found)) {
    wdc::AgentCapability cap;
    std::vector<std::string> problems;
    if (wdc::ParseCapability(f.text, f.name, &cap, &problems)) {
      cap.fileTime = f.time;
      agents.push_back(cap);
    }
    for (const std::string& p : problems) Supervisor()->Log(wdc::kLogCapability, "Capability file " + p);
  }
  Supervisor()->Load(agents);
  Supervisor()->Log(wdc::kLogStarted, found ? "Watchdog started with " + std::to_string(agents.size()) +
                                                  " agents from " + folder
                                            : "Watchdog started without agents: no folder " + folder);
  Supervisor()->StartThread();
  s.started = true;
  return true;
}

bool WDC_QueryService::releaseQueryService(bool systemShutdown) {
  RAS1_UNIT("WDC_QueryService::releaseQueryService");
  Service& s = S();
  std::lock_guard<std::mutex> guard(s.startLock);
  RAS1_TRACE(RAS1_FLOW, "Releasing the watchdog (%s)", systemShutdown ? "system shut-down" : "agent stop");
  if (!s.started) return false;
  Supervisor()->StopThread();
  s.started = false;
  return true;
}

WDC_AgentIterator* WDC_QueryService::getAgentIterator(bool) {
  WDC_AgentIterator* it = new WDC_AgentIterator();
  for (const wdc::AgentState& state : Supervisor()->Snapshot()) it->entries.push_back(EntryOf(state));
  return it;
}

bool WDC_QueryService::getNextAgentEntry(WDC_AgentIterator* it, WDC_AgentEntry* entry) {
  if (it == nullptr || entry == nullptr || it->next >= it->entries.size()) return false;
  *entry = it->entries[it->next++];
  return true;
}

void WDC_QueryService::releaseAgentIterator(WDC_AgentIterator* it) { delete it; }

bool WDC_QueryService::startAgent(const WDC_UString& name, int reset, const WDC_UString& processName,
                                  const WDC_UString& instance) {
  return Supervisor()->StartAgent(ToUtf8(name), reset == 1, ToUtf8(processName), ToUtf8(instance));
}

bool WDC_QueryService::stopAgent(const WDC_UString& name, const WDC_UString& processName, int pid) {
  return pid >= 0 && Supervisor()->StopAgent(ToUtf8(name), ToUtf8(processName), static_cast<std::uint32_t>(pid));
}

bool WDC_QueryService::startManagingAgent(const WDC_UString& name) { return Supervisor()->SetManaged(ToUtf8(name), true); }

bool WDC_QueryService::stopManagingAgent(const WDC_UString& name) { return Supervisor()->SetManaged(ToUtf8(name), false); }

int DisarmWatchdog(int) {
  RAS1_UNIT("DisarmWatchdog");
  g_armed = false;
  if (wdc::Supervisor* s = Supervisor()) s->SetArmed(false);
  RAS1_TRACE(RAS1_FLOW, "Watchdog disarmed");
  return 0;
}

int RearmWatchdog(int) {
  RAS1_UNIT("RearmWatchdog");
  g_armed = true;
  if (wdc::Supervisor* s = Supervisor()) s->SetArmed(true);
  RAS1_TRACE(RAS1_FLOW, "Watchdog re-armed");
  return 0;
}

bool WatchdogArmed() { return g_armed; }

void WDC_OfferClient(WDC_ClientStart start, WDC_ClientStop stop) {
  g_clientStart = start;
  g_clientStop = stop;
}

int StartWatchdogQueryService(const char* product) {
  WDC_ClientStart start = g_clientStart;
  return start ? start(product) : 0;
}

void StopWatchdogQueryService(int release) {
  WDC_ClientStop stop = g_clientStop;
  if (stop) stop(release);
}

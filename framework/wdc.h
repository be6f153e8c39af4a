// The local watchdog as the agent sees it: the query service over the
// supervised agents (framework/wdc_supervisor.h), its listeners and
// iterators, the commands, and the arm state that the service control codes
// 200 and 201 switch.
//
// The watchdog reads one capability file per agent (framework/wdc_agents.h
// describes them) from the folder OSM_WATCHDOG_DIR, by default "watchdog" in
// the executable's folder, each time its query service starts. Texts cross
// this interface as UTF-16 (WDC_UString).
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
typedef wchar_t WDC_UChar;
#else
typedef char16_t WDC_UChar;
#endif
typedef std::basic_string<WDC_UChar> WDC_UString;

// UTF-8 to UTF-16 (a byte that is not part of well-formed UTF-8 becomes U+FFFD).
WDC_UString WDC_u_strFromUTF8(const char* utf8);

struct WDC_Alert {
  WDC_UString agentName, processName, details;
  int status = 0;        // operational status of the agent (1 to 7)
  int agentType = 0;     // the agent's type number (0 to 7)
  int osType = 0;
  int pid = 0;
  int messageId = 0;     // what happened (framework/wdc_supervisor.h, AlertId)
  int managedState = 0;  // for message 14: 1 now managed, 0 no longer
  std::int64_t time = 0;  // when it was raised, seconds since 1970
};

struct WDC_LogRecord {
  std::string productCode;  // product code of the record ("NT")
  int messageNumber = 0;
  WDC_UString text;
};

class WDC_AlertListener {
 public:
  virtual ~WDC_AlertListener() = default;
  virtual void alertNotification(const WDC_Alert& alert) = 0;
};

class WDC_LogListener {
 public:
  virtual ~WDC_LogListener() = default;
  virtual void logNotification(const WDC_LogRecord& record) = 0;
};

// One supervised agent: its capability and its state when the iterator was
// taken.
struct WDC_AgentEntry {
  WDC_UString subagentId, agentName, processName, agentPath, startScript, stopScript, statusScript, configScript,
      serviceName, dependencies, osName, osVersion, version, buildNumber, instanceName, commandLine, userName;
  std::int64_t capabilityTime = 0;  // capability file written, seconds since 1970
  int agentType = 0, osType = 0, manageType = 0, managedState = 0, operationalStatus = 0;
  int checkFrequency = 0, maxRestarts = 0, memoryUnit = 0, restarts = 0;
  std::int64_t memoryThreshold = 0, cpuThreshold = 0;
  std::int64_t lastCheckTime = 0;  // 0: health never checked
  std::int64_t pid = 0, workingSet = 0, virtualSize = 0, cpuPercent = 0, userPercent = 0, privilegedPercent = 0,
               threads = 0, handles = 0, pageFaults = 0;
};

class WDC_AgentIterator;

class WDC_QueryService {
 public:
  // The process-wide query service (created on first use).
  static WDC_QueryService* initQueryService();

  bool registerAlertListener(WDC_AlertListener* listener);
  bool deregisterAlertListener(WDC_AlertListener* listener);
  bool registerLogListener(WDC_LogListener* listener);
  bool deregisterLogListener(WDC_LogListener* listener);

  // Reads the capability files and starts the health checks.
  bool startQueryService();
  // Stops the health checks; the agents keep running. systemShutdown only
  // changes what is logged.
  bool releaseQueryService(bool systemShutdown);

  // A snapshot of the agents (capabilities true: as configured, in file
  // order; false: the same agents with their run-time state).
  WDC_AgentIterator* getAgentIterator(bool capabilities);
  bool getNextAgentEntry(WDC_AgentIterator* iterator, WDC_AgentEntry* entry);
  void releaseAgentIterator(WDC_AgentIterator* iterator);

  // The commands: true when the watchdog carried them out (see
  // Supervisor::StartAgent and the others).
  bool startAgent(const WDC_UString& name, int reset, const WDC_UString& processName, const WDC_UString& instance);
  bool stopAgent(const WDC_UString& name, const WDC_UString& processName, int pid);
  bool startManagingAgent(const WDC_UString& name);
  bool stopManagingAgent(const WDC_UString& name);

 private:
  WDC_QueryService() = default;
};

// Disarm (code 200) and re-arm (code 201) the local watchdog: while disarmed
// it restarts no agent. Returns 0.
int DisarmWatchdog(int reserved);
int RearmWatchdog(int reserved);
// True while armed (the state at start).
bool WatchdogArmed();

// The agent side of the watchdog (its tables, listeners and commands) offers
// its start and stop here when it is built in; the host starts it with the
// product code at the end of the table loader and stops it with the release
// flag (0 at a framework stop, 1 at a system shut-down). Without an offer
// both do nothing.
typedef int (*WDC_ClientStart)(const char* product);
typedef void (*WDC_ClientStop)(int release);
void WDC_OfferClient(WDC_ClientStart start, WDC_ClientStop stop);
int StartWatchdogQueryService(const char* product);
void StopWatchdogQueryService(int release);

// The local watchdog's supervision: the agents' state, their health checks on
// a thread of its own, restarts within a 24-hour budget, the commands, the
// arm state, and the alerts and log records it raises.
//
// Pure logic over two seams: AgentControl does what the platform does
// (start, stop, look at a process), and the clock gives the seconds since
// 1970, so that tests drive every decision with a fake of each.
//
// A health check of a managed agent (every CheckFrequency seconds):
//   running            status 1, or 5 while its working set or processor
//                      share is above a threshold (one alert per crossing);
//   not running        status 2, and alert 6 when it was running before
//                      (not stopped on request): it has stopped unexpectedly
//                      and wants a restart. While the watchdog is armed it is
//                      restarted (alert 8) if fewer than MaxRestarts restarts
//                      fall within the last 24 hours, otherwise it gets
//                      status 6 and alert 11, once, and is restarted when the
//                      window allows. Disarmed, it waits for the re-arming.
// An agent that never ran, or was stopped on request, is started only by a
// command. Unmanaged agents are looked at, never acted on, and raise no alerts.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/wdc_agents.h"

namespace wdc {

// Operational status of an agent.
enum Status {
  kStatusRunning = 1,
  kStatusNotRunning = 2,
  kStatusStarting = 3,
  kStatusStopping = 4,
  kStatusOverThreshold = 5,
  kStatusRestartLimit = 6,
  kStatusUnknown = 7  // never checked
};

// Message ids of the alerts.
enum AlertId {
  kAlertStarted = 1,
  kAlertStoppedUnexpectedly = 6,
  kAlertRestarted = 8,
  kAlertRestartLimit = 11,
  kAlertMemory = 12,
  kAlertManaged = 14,  // managedState says which way
  kAlertCpu = 16,
  kAlertStopped = 17
};

// Numbers of the log records that are not alerts (alerts are logged under
// their own id).
enum LogNumber { kLogStarted = 20, kLogCapability = 21, kLogDisarmed = 22, kLogArmed = 23, kLogFailure = 24 };

// What the platform says about an agent's process.
struct ProcessFigures {
  bool running = false;
  std::uint32_t pid = 0;
  std::int64_t workingSet = 0, virtualSize = 0, threads = 0, handles = 0, pageFaults = 0;
  std::int64_t userTime = 0, kernelTime = 0;  // processor time, 100 ns units
  std::int64_t sampledAt = 0;                 // when, 100 ns units of any fixed origin
  std::string commandLine, userName;
};

class AgentControl {
 public:
  virtual ~AgentControl() = default;
  // Starts the agent; *pid receives its process id when known (else 0).
  // false (with *error) when it could not be started.
  virtual bool Start(const AgentCapability& agent, std::uint32_t* pid, std::string* error) = 0;
  // Stops the agent's process pid (0: whatever runs). false with *error.
  virtual bool Stop(const AgentCapability& agent, std::uint32_t pid, std::string* error) = 0;
  // Looks at the agent now; pid is the last known process id (0 for none).
  virtual ProcessFigures Probe(const AgentCapability& agent, std::uint32_t pid) = 0;
  virtual int Processors() = 0;
};

// Restarts within a sliding window (24 hours by default).
class RestartBudget {
 public:
  explicit RestartBudget(std::int64_t window = 86400) : window_(window) {}
  // Restarts later than now - window.
  int Count(std::int64_t now);
  void Add(std::int64_t now) { times_.push_back(now); }
  void Clear() { times_.clear(); }

 private:
  std::int64_t window_;
  std::deque<std::int64_t> times_;
};

// Processor percent of the whole machine between two samples, 0 to 100.
std::int64_t CpuPercent(std::int64_t cpuBefore, std::int64_t cpuAfter, std::int64_t wallBefore,
                        std::int64_t wallAfter, int processors);

struct AgentState {
  AgentCapability cap;
  bool managed = true;
  int status = kStatusUnknown;
  std::uint32_t pid = 0;
  std::string instance;     // instance name of the last start command
  std::int64_t lastCheck = 0;  // 0: never checked
  ProcessFigures figures;
  std::int64_t cpuPercent = 0, userPercent = 0, privilegedPercent = 0;
  int restarts = 0;  // within the last 24 hours
};

struct Alert {
  std::string agent, process, details;
  int status = 0, agentType = 0, messageId = 0, managedState = 0;
  std::uint32_t pid = 0;
  std::int64_t time = 0;
};

struct LogRecord {
  int number = 0;
  std::string text;  // UTF-8
};

class Supervisor {
 public:
  typedef std::function<std::int64_t()> Clock;
  struct Sinks {
    std::function<void(const Alert&)> alert;
    std::function<void(const LogRecord&)> log;
  };

  Supervisor(AgentControl* control, Clock clock, Sinks sinks);
  ~Supervisor();

  // Replaces the supervised agents (their state starts afresh).
  void Load(const std::vector<AgentCapability>& agents);
  // Logs one record (outside any agent).
  void Log(int number, const std::string& text);

  void SetArmed(bool armed);
  bool Armed() const;

  // Checks every agent whose check is due now (every agent when force).
  void CheckDue(bool force);
  // Health checks on the supervisor's own thread, once a second.
  void StartThread();
  void StopThread();

  std::vector<AgentState> Snapshot() const;

  // The commands; false when the agent is unknown, the process name is not
  // its own, the process id is not its process, or the platform failed.
  bool StartAgent(const std::string& name, bool reset, const std::string& process, const std::string& instance);
  bool StopAgent(const std::string& name, const std::string& process, std::uint32_t pid);
  bool SetManaged(const std::string& name, bool managed);

 private:
  struct Agent {
    AgentState state;
    RestartBudget budget;
    bool stoppedOnRequest = false;
    bool wantsRestart = false;  // stopped unexpectedly, not started since
    bool memoryAlerted = false, cpuAlerted = false;
  };
  struct Pending {
    std::vector<Alert> alerts;
    std::vector<LogRecord> logs;
  };

  Agent* Find(const std::string& name);
  // The agent a command names, with its capability and last process id; null
  // (and a log record) when no agent has that name and process.
  Agent* Target(const char* command, const std::string& name, const std::string& process, AgentCapability* cap,
                std::uint32_t* pid);
  void Check(Agent* a, std::int64_t now, Pending* out);
  void Observe(Agent* a, const ProcessFigures& f, std::int64_t now, Pending* out);
  bool Launch(Agent* a, std::int64_t now, int alertId, Pending* out);
  void Raise(Agent* a, int messageId, const std::string& details, std::int64_t now, Pending* out,
             int managedState = 0);
  void Deliver(Pending* p);
  void Run();

  AgentControl* control_;
  Clock clock_;
  Sinks sinks_;
  // operation_ keeps checks and commands one at a time (and their alerts in
  // order); state_ guards agents_ alone, so snapshots never wait for the
  // platform.
  mutable std::mutex operation_;
  mutable std::mutex state_;
  std::vector<Agent> agents_;
  bool armed_ = true;

  std::mutex threadLock_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace wdc

#include "framework/wdc_supervisor.h"

#include <chrono>

namespace wdc {

int RestartBudget::Count(std::int64_t now) {
  while (!times_.empty() && times_.front() <= now - window_) times_.pop_front();
  return static_cast<int>(times_.size());
}

std::int64_t CpuPercent(std::int64_t cpuBefore, std::int64_t cpuAfter, std::int64_t wallBefore,
                        std::int64_t wallAfter, int processors) {
  std::int64_t wall = wallAfter - wallBefore, cpu = cpuAfter - cpuBefore;
  if (wall <= 0 || cpu <= 0 || processors <= 0) return 0;
  std::int64_t pct = (cpu * 100 + wall * processors / 2) / (wall * processors);
  return pct > 100 ? 100 : pct;
}

Supervisor::Supervisor(AgentControl* control, Clock clock, Sinks sinks)
    : control_(control), clock_(std::move(clock)), sinks_(std::move(sinks)) {}

Supervisor::~Supervisor() { StopThread(); }

void Supervisor::Load(const std::vector<AgentCapability>& agents) {
  std::lock_guard<std::mutex> op(operation_);
  std::lock_guard<std::mutex> st(state_);
  agents_.clear();
  for (const AgentCapability& cap : agents) {
    Agent a;
    a.state.cap = cap;
    a.state.managed = cap.managed != 0;
    agents_.push_back(a);
  }
}

void Supervisor::Log(int number, const std::string& text) {
  if (sinks_.log) sinks_.log(LogRecord{number, text});
}

void Supervisor::SetArmed(bool armed) {
  {
    std::lock_guard<std::mutex> st(state_);
    if (armed_ == armed) return;
    armed_ = armed;
  }
  Log(armed ? kLogArmed : kLogDisarmed,
      armed ? "Watchdog armed: agents that stop are restarted." : "Watchdog disarmed: agents that stop are not restarted.");
}

bool Supervisor::Armed() const {
  std::lock_guard<std::mutex> st(state_);
  return armed_;
}

std::vector<AgentState> Supervisor::Snapshot() const {
  std::lock_guard<std::mutex> st(state_);
  std::vector<AgentState> out;
  for (const Agent& a : agents_) out.push_back(a.state);
  return out;
}

Supervisor::Agent* Supervisor::Find(const std::string& name) {
  for (Agent& a : agents_)
    if (SameText(a.state.cap.name, name)) return &a;
  return nullptr;
}

Supervisor::Agent* Supervisor::Target(const char* command, const std::string& name, const std::string& process,
                                      AgentCapability* cap, std::uint32_t* pid) {
  Agent* a = Find(name);
  if (a == nullptr || !SameImageName(process, a->state.cap.process)) {
    Log(kLogFailure, std::string(command) + ": no agent " + name + " with process " + process);
    return nullptr;
  }
  std::lock_guard<std::mutex> st(state_);
  *cap = a->state.cap;
  *pid = a->state.pid;
  return a;
}

void Supervisor::Raise(Agent* a, int messageId, const std::string& details, std::int64_t now, Pending* out,
                       int managedState) {
  Alert alert;
  alert.agent = a->state.cap.name;
  alert.process = a->state.cap.process;
  alert.details = details;
  alert.status = a->state.status;
  alert.agentType = a->state.cap.agentType;
  alert.messageId = messageId;
  alert.managedState = managedState;
  alert.pid = a->state.pid;
  alert.time = now;
  out->alerts.push_back(alert);
  out->logs.push_back(LogRecord{messageId, "Agent " + alert.agent + ": " + details});
}

void Supervisor::Deliver(Pending* p) {
  for (const Alert& a : p->alerts)
    if (sinks_.alert) sinks_.alert(a);
  for (const LogRecord& r : p->logs)
    if (sinks_.log) sinks_.log(r);
  p->alerts.clear();
  p->logs.clear();
}

// Records what a probe found on a running agent (under state_).
void Supervisor::Observe(Agent* a, const ProcessFigures& f, std::int64_t now, Pending* out) {
  AgentState& s = a->state;
  const AgentCapability& cap = s.cap;
  int processors = control_->Processors();
  if (s.figures.running && s.figures.pid == f.pid) {
    s.userPercent = CpuPercent(s.figures.userTime, f.userTime, s.figures.sampledAt, f.sampledAt, processors);
    s.privilegedPercent =
        CpuPercent(s.figures.kernelTime, f.kernelTime, s.figures.sampledAt, f.sampledAt, processors);
    s.cpuPercent = CpuPercent(s.figures.userTime + s.figures.kernelTime, f.userTime + f.kernelTime,
                              s.figures.sampledAt, f.sampledAt, processors);
  } else {
    s.cpuPercent = s.userPercent = s.privilegedPercent = 0;
  }
  s.figures = f;
  s.pid = f.pid;
  std::int64_t memoryLimit = cap.MemoryThresholdBytes();
  bool memoryOver = memoryLimit > 0 && f.workingSet > memoryLimit;
  bool cpuOver = cap.cpuThreshold > 0 && s.cpuPercent > cap.cpuThreshold;
  s.status = memoryOver || cpuOver ? kStatusOverThreshold : kStatusRunning;
  if (s.managed && memoryOver && !a->memoryAlerted)
    Raise(a, kAlertMemory,
          "working set " + std::to_string(f.workingSet) + " bytes above the threshold of " +
              std::to_string(memoryLimit) + " bytes",
          now, out);
  if (s.managed && cpuOver && !a->cpuAlerted)
    Raise(a, kAlertCpu,
          "processor use " + std::to_string(s.cpuPercent) + "% above the threshold of " +
              std::to_string(cap.cpuThreshold) + "%",
          now, out);
  a->memoryAlerted = memoryOver;
  a->cpuAlerted = cpuOver;
}

void Supervisor::Check(Agent* a, std::int64_t now, Pending* out) {
  AgentCapability cap;
  std::uint32_t pid;
  {
    std::lock_guard<std::mutex> st(state_);
    cap = a->state.cap;
    pid = a->state.pid;
  }
  ProcessFigures f = control_->Probe(cap, pid);
  bool restart = false;
  {
    std::lock_guard<std::mutex> st(state_);
    AgentState& s = a->state;
    s.lastCheck = now;
    s.restarts = a->budget.Count(now);
    if (f.running) {
      Observe(a, f, now, out);
      return;
    }
    bool wasUp = s.status == kStatusRunning || s.status == kStatusOverThreshold || s.status == kStatusStarting;
    bool atLimit = s.status == kStatusRestartLimit;
    s.figures = ProcessFigures();
    s.pid = 0;
    s.cpuPercent = s.userPercent = s.privilegedPercent = 0;
    s.status = kStatusNotRunning;
    if (!s.managed || a->stoppedOnRequest) {
      a->wantsRestart = false;
      return;
    }
    if (wasUp) {
      Raise(a, kAlertStoppedUnexpectedly, "not running", now, out);
      a->wantsRestart = true;
    }
    if (!a->wantsRestart || !armed_) return;
    if (s.restarts < cap.maxRestarts) {
      restart = true;
    } else {
      s.status = kStatusRestartLimit;
      if (!atLimit)
        Raise(a, kAlertRestartLimit,
              "not restarted: " + std::to_string(s.restarts) + " restarts within 24 hours", now, out);
    }
  }
  if (restart) Launch(a, now, kAlertRestarted, out);
}

bool Supervisor::Launch(Agent* a, std::int64_t now, int alertId, Pending* out) {
  AgentCapability cap;
  {
    std::lock_guard<std::mutex> st(state_);
    cap = a->state.cap;
  }
  std::uint32_t pid = 0;
  std::string error;
  bool ok = control_->Start(cap, &pid, &error);
  ProcessFigures f;
  if (ok) f = control_->Probe(cap, pid);
  std::lock_guard<std::mutex> st(state_);
  AgentState& s = a->state;
  // A failed restart counts too, or a broken start command would be retried
  // at every check.
  if (alertId == kAlertRestarted) a->budget.Add(now);
  s.restarts = a->budget.Count(now);
  if (!ok) {
    out->logs.push_back(LogRecord{kLogFailure, "Agent " + cap.name + " could not be started: " + error});
    return false;
  }
  a->wantsRestart = false;
  if (f.running) {
    Observe(a, f, now, out);
  } else {
    s.pid = pid;
    s.status = kStatusStarting;
  }
  std::string details = "started, process id " + std::to_string(s.pid);
  if (alertId == kAlertRestarted)
    details = "restarted, process id " + std::to_string(s.pid) + "; restart " + std::to_string(s.restarts) +
              " of " + std::to_string(cap.maxRestarts) + " within 24 hours";
  Raise(a, alertId, details, now, out);
  return true;
}

void Supervisor::CheckDue(bool force) {
  std::lock_guard<std::mutex> op(operation_);
  Pending pending;
  std::int64_t now = clock_();
  for (Agent& a : agents_) {
    std::int64_t last, every;
    {
      std::lock_guard<std::mutex> st(state_);
      last = a.state.lastCheck;
      every = a.state.cap.checkFrequency;
    }
    if (force || last == 0 || now - last >= every) Check(&a, now, &pending);
  }
  Deliver(&pending);
}

bool Supervisor::StartAgent(const std::string& name, bool reset, const std::string& process,
                            const std::string& instance) {
  std::lock_guard<std::mutex> op(operation_);
  AgentCapability cap;
  std::uint32_t pid;
  Agent* a = Target("Start", name, process, &cap, &pid);
  if (a == nullptr) return false;
  {
    std::lock_guard<std::mutex> st(state_);
    if (reset) a->budget.Clear();
    a->stoppedOnRequest = false;
    a->state.instance = instance;
  }
  Pending pending;
  std::int64_t now = clock_();
  ProcessFigures f = control_->Probe(cap, pid);
  bool ok = true;
  if (f.running) {
    std::lock_guard<std::mutex> st(state_);
    Observe(a, f, now, &pending);
    pending.logs.push_back(LogRecord{kAlertStarted, "Agent " + cap.name + ": already running"});
  } else {
    ok = Launch(a, now, kAlertStarted, &pending);
  }
  Deliver(&pending);
  return ok;
}

bool Supervisor::StopAgent(const std::string& name, const std::string& process, std::uint32_t pid) {
  std::lock_guard<std::mutex> op(operation_);
  AgentCapability cap;
  std::uint32_t known;
  Agent* a = Target("Stop", name, process, &cap, &known);
  if (a == nullptr) return false;
  ProcessFigures f = control_->Probe(cap, known);
  if (pid != 0 && (!f.running || f.pid != pid)) {
    Log(kLogFailure, "Stop: process " + std::to_string(pid) + " is not agent " + name);
    return false;
  }
  Pending pending;
  std::int64_t now = clock_();
  std::string error;
  bool ok = !f.running || control_->Stop(cap, f.pid, &error);
  {
    std::lock_guard<std::mutex> st(state_);
    if (!ok) {
      pending.logs.push_back(LogRecord{kLogFailure, "Agent " + cap.name + " could not be stopped: " + error});
    } else {
      a->stoppedOnRequest = true;
      a->state.status = f.running ? kStatusStopping : kStatusNotRunning;
      if (f.running) Raise(a, kAlertStopped, "stopped on request, process id " + std::to_string(f.pid), now, &pending);
    }
  }
  Deliver(&pending);
  return ok;
}

bool Supervisor::SetManaged(const std::string& name, bool managed) {
  std::lock_guard<std::mutex> op(operation_);
  Agent* a = Find(name);
  if (a == nullptr) {
    Log(kLogFailure, "No agent " + name);
    return false;
  }
  Pending pending;
  {
    std::lock_guard<std::mutex> st(state_);
    a->state.managed = managed;
    Raise(a, kAlertManaged, managed ? "now managed" : "no longer managed", clock_(), &pending, managed ? 1 : 0);
  }
  Deliver(&pending);
  return true;
}

void Supervisor::StartThread() {
  std::lock_guard<std::mutex> lk(threadLock_);
  if (thread_.joinable()) return;
  stop_ = false;
  thread_ = std::thread(&Supervisor::Run, this);
}

void Supervisor::StopThread() {
  std::thread running;
  {
    std::lock_guard<std::mutex> lk(threadLock_);
    stop_ = true;
    running = std::move(thread_);
  }
  wake_.notify_all();
  if (running.joinable()) running.join();
}

void Supervisor::Run() {
  while (true) {
    {
      std::unique_lock<std::mutex> lk(threadLock_);
      if (wake_.wait_for(lk, std::chrono::seconds(1), [this] { return stop_; })) return;
    }
    CheckDue(false);
  }
}

}  // namespace wdc

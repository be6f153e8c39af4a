#include "perfsvc/osmkthrd.h"

#include "framework/ras1.h"
#include "perfsvc/perf_registry_source.h"
#include "perfsvc/sample.h"

#include <process.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>

namespace osmperf {

namespace {

void ExitOnStartupFailure(int exitCode) { ExitProcess(static_cast<UINT>(exitCode)); }

std::atomic<osmkthrd::StartupFailureHandler> g_startupFailure{&ExitOnStartupFailure};

std::int64_t RuntimeClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The longest finite wait WaitForMultipleObjects takes.
constexpr std::int64_t kLongestWait = 0xFFFFFFFEll;

std::once_flag g_triggerOnce;

}  // namespace

void osmkthrd::SetStartupFailureHandler(StartupFailureHandler handler) {
  g_startupFailure.store(handler != nullptr ? handler : &ExitOnStartupFailure);
}

bool osmkthrd::WriteApplicationEvent(std::uint32_t eventId, const char* text) {
  HANDLE source = RegisterEventSourceA(nullptr, "OSM");
  if (source == nullptr) return false;
  const char* strings[1] = {text};
  WORD type = KthrdEventIsError(eventId) ? EVENTLOG_ERROR_TYPE : EVENTLOG_WARNING_TYPE;
  BOOL ok = ReportEventA(source, type, 0, eventId, nullptr, 1, 0, strings, nullptr);
  DeregisterEventSource(source);
  return ok != FALSE;
}

KthrdHooks osmkthrd::PlatformHooks() {
  KthrdHooks h;
  h.clock = &RuntimeClockMs;
  h.tickCount = [] { return static_cast<std::uint32_t>(GetTickCount()); };
  h.sleep = [](std::uint32_t ms) { Sleep(ms); };
  h.reportEvent = &osmkthrd::WriteApplicationEvent;
  h.workingSet = &OsmWorkingSetBytes;
  h.getEnv = [](const char* name) { return BSS1_GetEnv(name, 0); };
  return h;
}

TriggerConfig osmkthrd::ReadTriggerConfig(const char* profile) {
  TriggerConfig c;
  char text[260];
  c.on = GetPrivateProfileIntA("counter", "PercentMessageTriggersOn", 0, profile) != 0;
  GetPrivateProfileStringA("counter", "PercentMessageTriggerLow", "-1", text, sizeof text, profile);
  c.low = ParseThreshold(text);
  GetPrivateProfileStringA("counter", "PercentMessageTriggerHigh", "1000", text, sizeof text, profile);
  c.high = ParseThreshold(text);
  c.details = GetPrivateProfileIntA("counter", "PercentMessageDetails", 1, profile) != 0;
  GetPrivateProfileStringA("logfile", "LogFileName", "c:\\osmperf.log", text, 257, profile);
  c.fileName = text;
  c.append = GetPrivateProfileIntA("logfile", "LogFileAppend", 0, profile) != 0;
  return c;
}

osmkthrd::osmkthrd(int intervalSeconds, bool costly, const char* computerName, IPerfDataSource* source,
                   const CPerfName* names, CSnapCatalog* catalogue, KthrdHooks hooks)
    : computerName_(computerName != nullptr ? computerName : ""),
      engine_(source, names, catalogue, CIntervalScheduler::SecondsToMs(intervalSeconds), costly,
              std::move(hooks)) {
  InitializeCriticalSection(&lock_);
  terminate_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  started_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  addSample_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  removeSample_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  changeSample_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  changeGlobalTime_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  reply_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  // The percent-trigger log is set up once per process, before the first
  // counter computes a value.
  std::call_once(g_triggerOnce, [] {
    if (CTriggerLog::Instance().Configure(ReadTriggerConfig())) CTriggerLog::Attach();
  });
}

osmkthrd::~osmkthrd() {
  Terminate();
  for (HANDLE h : {terminate_, started_, addSample_, removeSample_, changeSample_, changeGlobalTime_, reply_, thread_})
    if (h != nullptr) CloseHandle(h);
  DeleteCriticalSection(&lock_);
}

bool osmkthrd::Running() const { return thread_ != nullptr && WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT; }

unsigned __stdcall osmkthrd::ThreadEntry(void* self) {
  static_cast<osmkthrd*>(self)->ServiceThreadMain();
  return 0;
}

bool osmkthrd::Start() {
  RAS1_UNIT("osmkthrd::Start");
  for (HANDLE h : {terminate_, started_, addSample_, removeSample_, changeSample_, changeGlobalTime_, reply_}) {
    if (h == nullptr) {
      std::fprintf(stderr, "Create Thread Error! RC:%lu\n", static_cast<unsigned long>(GetLastError()));
      return false;
    }
  }
  if (thread_ != nullptr) return Running();
  unsigned id = 0;
  thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &osmkthrd::ThreadEntry, this, 0, &id));
  if (thread_ == nullptr) {
    std::fprintf(stderr, "Create Thread Error! RC:%lu\n", static_cast<unsigned long>(GetLastError()));
    return false;
  }
  running_ = true;
  // The thread may end during start-up: watching its handle too means this
  // wait always returns.
  HANDLE waits[2] = {started_, thread_};
  DWORD rc = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  if (rc == WAIT_FAILED) {
    std::fprintf(stderr, "Wait FAILED. rc=%lu\n", static_cast<unsigned long>(GetLastError()));
  } else if (rc == WAIT_OBJECT_0 + 1) {
    RAS1_TRACE(RAS1_ERROR, "The support thread ended during its start-up");
  } else if (rc != WAIT_OBJECT_0) {
    std::fprintf(stderr, "Illogical condition\n");
  }
  running_ = Running();
  return running_;
}

void osmkthrd::ServiceThreadMain() {
  RAS1_UNIT("ServiceThreadMain");
  int exitCode = engine_.StartUp();
  if (exitCode != 0) {
    g_startupFailure.load()(exitCode);
    return;
  }
  SetEvent(started_);
  HANDLE events[5] = {terminate_, addSample_, removeSample_, changeSample_, changeGlobalTime_};
  for (;;) {
    std::int64_t timeout = engine_.WaitTimeout();
    DWORD wait = timeout < 0 ? INFINITE : static_cast<DWORD>(timeout > kLongestWait ? kLongestWait : timeout);
    DWORD rc = WaitForMultipleObjects(5, events, FALSE, wait);
    try {
      switch (rc) {
        case WAIT_OBJECT_0:
          RAS1_TRACE(RAS1_FLOW, "Terminating");
          return;
        case WAIT_OBJECT_0 + 1:
          engine_.PlaceNewSamples();
          break;
        case WAIT_OBJECT_0 + 2:
          requestResult_ = S_OK;
          requestResult_ = engine_.RemoveSampleHandler(requestSample_);
          SetEvent(reply_);
          break;
        case WAIT_OBJECT_0 + 3:
          requestResult_ = S_OK;
          requestResult_ = engine_.ChangeSampleHandler(requestSample_, requestSeconds_);
          SetEvent(reply_);
          break;
        case WAIT_OBJECT_0 + 4:
          requestResult_ = S_OK;
          requestResult_ = engine_.ChangeGlobalTimeHandler(engine_.GlobalIntervalMs());
          SetEvent(reply_);
          break;
        case WAIT_TIMEOUT:
          engine_.NoteWaited(static_cast<std::int64_t>(wait));
          // A wait computed before Suspend may run out afterwards.
          if (!engine_.Suspended()) engine_.GetSnapValues();
          break;
        default:
          RAS1_TRACE(RAS1_ERROR, "Wait failed, rc=%lu error=%lu", static_cast<unsigned long>(rc),
                     static_cast<unsigned long>(GetLastError()));
          return;
      }
    } catch (const std::exception& e) {
      RAS1_TRACE(RAS1_ERROR, "Exception raised: %s", e.what());
      if (rc >= WAIT_OBJECT_0 + 2 && rc <= WAIT_OBJECT_0 + 4) {
        requestResult_ = E_UNEXPECTED;
        SetEvent(reply_);
      }
    }
  }
}

int osmkthrd::AddSample(std::shared_ptr<CSample> sample) {
  int rc = engine_.AddSample(std::move(sample));
  if (rc == 0) SetEvent(addSample_);
  return rc;
}

HRESULT osmkthrd::Request(HANDLE event, const char* eventFailed, const char* waitFailed, const char* unexpected) {
  if (thread_ == nullptr) return E_FAIL;
  if (!SetEvent(event)) {
    std::fprintf(stderr, "%s%lu\n", eventFailed, static_cast<unsigned long>(GetLastError()));
    return E_FAIL;
  }
  HANDLE waits[2] = {reply_, thread_};
  DWORD rc = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  if (rc == WAIT_OBJECT_0) return requestResult_;
  if (rc == WAIT_FAILED) {
    std::fprintf(stderr, "%s%lu\n", waitFailed, static_cast<unsigned long>(GetLastError()));
  } else {
    // The thread ended without answering.
    ResetEvent(event);
    std::fprintf(stderr, "%s%lu\n", unexpected, static_cast<unsigned long>(rc));
  }
  return E_FAIL;
}

HRESULT osmkthrd::RemoveSample(CSample* sample) {
  EnterCriticalSection(&lock_);
  requestSample_ = sample;
  HRESULT rc = Request(removeSample_, "Remove Sample Event Failed. RC=", "Remove Sample Wait Failed. RC=",
                       "Remove Sample Wait Unexpected result. RC=");
  LeaveCriticalSection(&lock_);
  return rc;
}

HRESULT osmkthrd::ChangeSample(CSample* sample, int seconds) {
  EnterCriticalSection(&lock_);
  requestSample_ = sample;
  requestSeconds_ = seconds < 0 ? 0u : static_cast<std::uint32_t>(seconds);
  HRESULT rc = Request(changeSample_, "Change Sample Event Failed. RC=", "Change Sample Wait Failed. RC=",
                       "Change Sample Wait Unexpected result. RC=");
  LeaveCriticalSection(&lock_);
  return rc;
}

HRESULT osmkthrd::SetGlobalTime(int seconds) {
  EnterCriticalSection(&lock_);
  engine_.SetGlobalIntervalMs(CIntervalScheduler::SecondsToMs(seconds));
  HRESULT rc = Request(changeGlobalTime_, "Change Global Time Event Failed. RC=",
                       "Change Global Time Wait Failed. RC=", "Change Global Time Wait Unexpected result. RC=");
  LeaveCriticalSection(&lock_);
  return rc;
}

UINT osmkthrd::GlobalSeconds() const {
  std::int64_t seconds = engine_.GlobalIntervalMs() / 1000;
  return seconds > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<UINT>(seconds);
}

void osmkthrd::Suspend() { engine_.SetSuspended(true); }

void osmkthrd::Resume() {
  engine_.SetSuspended(false);
  SetEvent(addSample_);  // the thread computes its wait afresh
}

void osmkthrd::Terminate() {
  RAS1_UNIT("osmkthrd::Terminate");
  if (Running()) {
    std::vector<std::shared_ptr<CSample>> samples = engine_.Samples();
    for (std::size_t i = samples.size(); i-- > 0;) RemoveSample(samples[i].get());
    SetEvent(terminate_);
    if (WaitForSingleObject(thread_, INFINITE) == WAIT_FAILED)
      std::fprintf(stderr, "Termination wait failed rc=%lu\n", static_cast<unsigned long>(GetLastError()));
    RAS1_TRACE(RAS1_FLOW, "Support thread stopped");
  }
  running_ = false;
}

}  // namespace osmperf

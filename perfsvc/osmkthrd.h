// The support thread of one COsmKounter: takes every snapshot and refreshes
// the samples, on a thread of its own.
//
// Callers (the COsmKounter methods) hand samples over and send requests
// (remove a sample, change its interval, change the global interval); each
// request is serialised by the critical section and answered through the
// reply event. Every wait of a caller also watches the thread handle, so a
// thread that died can never hang its caller.
#pragma once

#include "perfsvc/kthrd_engine.h"
#include "perfsvc/trigger_log.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace osmperf {

class osmkthrd {
 public:
  // What to do when start-up fails. The default ends the process with the
  // exit code (the agent cannot work without its counters); a test may only
  // let the thread end instead.
  using StartupFailureHandler = void (*)(int exitCode);
  static void SetStartupFailureHandler(StartupFailureHandler handler);

  // The hooks of the real platform: the C runtime clock, GetTickCount, Sleep,
  // the Application event log (source "OSM"), the process working set and
  // the environment.
  static KthrdHooks PlatformHooks();
  // Writes one entry to the Application event log; false when it failed.
  static bool WriteApplicationEvent(std::uint32_t eventId, const char* text);
  // The trigger log settings of the profile osmperf.ini.
  static TriggerConfig ReadTriggerConfig(const char* profile = "osmperf.ini");

  // source, names and catalogue are not owned; they outlive the thread.
  osmkthrd(int intervalSeconds, bool costly, const char* computerName, IPerfDataSource* source,
           const CPerfName* names, CSnapCatalog* catalogue, KthrdHooks hooks = PlatformHooks());
  ~osmkthrd();
  osmkthrd(const osmkthrd&) = delete;
  osmkthrd& operator=(const osmkthrd&) = delete;

  // Starts the thread and waits for its start-up. True when the thread is
  // still running afterwards.
  bool Start();
  bool Running() const;

  // Hands a complete sample over: 0, or -1 when memory runs out.
  int AddSample(std::shared_ptr<CSample> sample);
  // The requests; each returns the thread's result, or E_FAIL when the
  // request could not be signalled or answered.
  HRESULT RemoveSample(CSample* sample);
  HRESULT ChangeSample(CSample* sample, int seconds);
  HRESULT SetGlobalTime(int seconds);
  void Suspend();
  void Resume();
  bool Suspended() const { return engine_.Suspended(); }
  // Removes every sample (last first), ends the thread and waits for it.
  void Terminate();

  std::shared_ptr<CSample> FindSample(std::uintptr_t handle) const { return engine_.FindSample(handle); }
  UINT SampleCount() const { return engine_.PlacedCount(); }
  UINT GlobalSeconds() const;
  const std::string& SnapControlObjects() const { return engine_.SnapControlObjects(); }
  std::uint32_t FinalTotalByteLength() const { return engine_.FinalTotalByteLength(); }
  CKthrdEngine& Engine() { return engine_; }

 private:
  static unsigned __stdcall ThreadEntry(void* self);
  void ServiceThreadMain();
  // Signals event and waits for the reply (or the thread's end).
  HRESULT Request(HANDLE event, const char* eventFailed, const char* waitFailed, const char* unexpected);

  CRITICAL_SECTION lock_;
  HANDLE terminate_ = nullptr, started_ = nullptr, addSample_ = nullptr, removeSample_ = nullptr,
         changeSample_ = nullptr, changeGlobalTime_ = nullptr, reply_ = nullptr;
  HANDLE thread_ = nullptr;
  bool running_ = false;
  std::string computerName_;

  // The request fields.
  CSample* requestSample_ = nullptr;
  std::uint32_t requestSeconds_ = 0;
  HRESULT requestResult_ = S_OK;

  CKthrdEngine engine_;
};

}  // namespace osmperf

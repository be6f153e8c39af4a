// Log managers: one thread per watched log that waits for the log's change
// notification and runs a situation pass on every wake-up, with the caches
// that make formatting affordable and the restart bookmark.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "collectors/eventlog/classic_source.h"
#include "collectors/eventlog/evt_request.h"

namespace osm {
namespace evl {

// A log file object with a thread of its own.
class EvmLogFile {
 public:
  EvmLogFile() = default;
  virtual ~EvmLogFile();
  EvmLogFile(const EvmLogFile&) = delete;
  EvmLogFile& operator=(const EvmLogFile&) = delete;
  // Starts the object's thread; 0, or the system's error.
  int Launch();
  // The thread body.
  virtual int Run() = 0;

 protected:
  HANDLE thread_ = nullptr;

 private:
  static unsigned __stdcall Entry(void* self);
};

// The registry path and file path of a log, as NTLOGINFO and the log
// manager read them.
struct LogLocation {
  std::wstring registryPath;  // "System\CurrentControlSet\Services\EventLog\<log>"
  std::wstring filePath;      // "File", with the defaults of logs 3 to 5, expanded
  bool valid = false;         // false when the settings could not be read
};
LogLocation LocateLog(int logType);

class EvmEventLog : public EvmLogFile {
 public:
  explicit EvmEventLog(int logType);
  ~EvmEventLog() override;
  int Run() override;
  // Ends the loop and waits for the thread (at most 60 s). True when the
  // thread has ended; a thread still running keeps the object alive, and the
  // caller must not destroy it.
  bool Stop();
  int LogType() const { return logType_; }
  const char* Name() const;
  bool Valid() const { return location_.valid; }
  // Wake-ups that timed out (no event for 15 minutes).
  int Timeouts() const { return timeouts_.load(); }

 private:
  bool Register(EventLogRequest* request);
  void Unregister(EventLogRequest* request);
  bool ResumeFromBookmark(EventLogRequest* request);

  int logType_;
  LogLocation location_;
  HANDLE notify_;  // auto-reset, initially signalled: the first pass runs at once
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};
  std::atomic<int> timeouts_{0};
  std::unique_ptr<ClassicLog> notifyLog_;
  DWORD threadId_ = 0;
};

// One situation pass for a log manager (the event log table): reads,
// formats and delivers the new events; returns the pass's newest record.
struct PassResult {
  std::uint64_t newest = 0;
  std::int64_t newestTime = 0;
  bool completed = true;  // false when the pass was dropped for a stop
  bool delivered = true;  // false when no situation took its rows
};
PassResult SituationCollection(EventLogRequest& request);

// The restart bookmark of each log, in the state file named by
// OSM_EVTLOG_STATE (default osm_evtlog.state in the executable's folder;
// "none" keeps no bookmark). A restart delivers the events written after the
// bookmark, at most OSM_EVTLOG_CATCHUP_MAX (default 1000) of them and none
// older than OSM_EVTLOG_CATCHUP_SECONDS (default 86400).
bool LoadBookmark(const char* logName, Bookmark* mark);
void SaveBookmark(const char* logName, const Bookmark& mark);

}  // namespace evl
}  // namespace osm

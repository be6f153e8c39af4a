#include "collectors/eventlog/evm_eventlog.h"

#include <process.h>

#include <cstdlib>
#include <ctime>

#include "collectors/eventlog/evt_api.h"
#include "framework/ras1.h"
#include "support/hashmap.h"

namespace osm {
namespace evl {
namespace {

const DWORD kWaitMs = 900000;      // a wake-up every 15 minutes without events
const DWORD kStopWaitMs = 60000;
const DWORD kRetryMs = 250;  // a pass no situation took yet is read again this soon
const int kRetries = 40;

const wchar_t* const kDefaultFiles[kLogCount] = {
    nullptr, nullptr, nullptr, L"%SystemRoot%\\System32\\Winevt\\Logs\\DNS Server.evtx",
    L"%SystemRoot%\\System32\\Winevt\\Logs\\Directory Service.evtx",
    L"%SystemRoot%\\System32\\Winevt\\Logs\\File Replication Service.evtx"};

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace

LogLocation LocateLog(int logType) {
  RAS1_UNIT("EvmEventLog::_init");
  LogLocation l;
  std::string name = LogName(logType);
  l.registryPath = L"System\\CurrentControlSet\\Services\\EventLog\\" + std::wstring(name.begin(), name.end());
  if (std::shared_ptr<RecordStore> store = StoreFor(name.c_str())) {
    StoreFileInfo info;
    if (store->FileInfo(&info)) {
      l.filePath = info.path;
      l.valid = true;
    }
    return l;
  }
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, l.registryPath.c_str(), 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) {
    RAS1_TRACE(RAS1_ERROR, "RegOpenKeyEx Api failure rc = %ld", static_cast<long>(rc));
    RAS1_TRACE(RAS1_ERROR, "Constructor Failure in _init rc = %ld", static_cast<long>(rc));
    return l;
  }
  wchar_t raw[MAX_PATH + 1];
  DWORD type = 0, size = MAX_PATH * sizeof(wchar_t);
  rc = RegQueryValueExW(key, L"File", nullptr, &type, reinterpret_cast<BYTE*>(raw), &size);
  RegCloseKey(key);
  std::wstring file;
  if (rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
    raw[size / sizeof(wchar_t)] = 0;
    file = raw;
  } else if (kDefaultFiles[logType < 0 || logType >= kLogCount ? 0 : logType]) {
    RAS1_TRACE(RAS1_FLOW, "Setting %s event log path to default", name.c_str());
    file = kDefaultFiles[logType];
  } else {
    RAS1_TRACE(RAS1_ERROR, "RegQueryValueEx Api failure rc = %ld", static_cast<long>(rc));
    RAS1_TRACE(RAS1_ERROR, "Constructor Failure in _init rc = %ld", static_cast<long>(rc));
    return l;
  }
  wchar_t expanded[MAX_PATH];
  DWORD n = ExpandEnvironmentStringsW(file.c_str(), expanded, MAX_PATH);
  if (n == 0 || n > MAX_PATH) {
    RAS1_TRACE(RAS1_ERROR, "ExpandEnvironmentStrings Api failure rc = %ld", static_cast<long>(GetLastError()));
    return l;
  }
  l.filePath = expanded;
  l.valid = true;
  return l;
}

EvmLogFile::~EvmLogFile() {
  if (thread_) CloseHandle(thread_);
}

int EvmLogFile::Launch() {
  RAS1_UNIT("EvmLogFile::_launchThread");
  // The object itself is the thread's argument, so one launch can never
  // hand its thread another launch's object.
  thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Entry, this, 0, nullptr));
  if (thread_ == nullptr) {
    int rc = errno;
    RAS1_TRACE(RAS1_ERROR, "Unable to create thread for Object: %p, rc = %ld", static_cast<void*>(this),
               static_cast<long>(rc));
    return rc ? rc : -1;
  }
  RAS1_TRACE(RAS1_FLOW, "Thread started for Object: %p,  threadHandle: %lld", static_cast<void*>(this),
             static_cast<long long>(reinterpret_cast<std::intptr_t>(thread_)));
  return 0;
}

unsigned __stdcall EvmLogFile::Entry(void* self) {
  RAS1_UNIT("EvmLogFile::_runThread");
  static_cast<EvmLogFile*>(self)->Run();
  RAS1_TRACE(RAS1_FLOW, "Log Manager Thread Terminated - Current ThreadId = %ld",
             static_cast<long>(GetCurrentThreadId()));
  return 0;
}

EvmEventLog::EvmEventLog(int logType) : logType_(logType), location_(LocateLog(logType)) {
  RAS1_UNIT("EvmEventLog::EvmEventLog");
  // Created with the object, not on its thread: a Stop that comes before the
  // thread has started still finds the event and the flag.
  notify_ = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  if (notify_ == nullptr)
    RAS1_TRACE(RAS1_ERROR, "CreateEvent Api failure rc = %ld", static_cast<long>(GetLastError()));
  RAS1_TRACE(RAS1_FLOW, "EventLog Object %p has been constructed for EventLog: %s", static_cast<void*>(this), Name());
}

EvmEventLog::~EvmEventLog() {
  if (notify_) CloseHandle(notify_);
}

const char* EvmEventLog::Name() const { return LogName(logType_); }

bool EvmEventLog::Register(EventLogRequest* r) {
  RAS1_UNIT("EvmEventLog::registerForNotifications");
  if (NewInterfaceInUse() && !StoreFor(Name())) {
    RAS1_TRACE(RAS1_FLOW, "Implementing new event logging.\n");
    std::string n = Name();
    std::wstring name(n.begin(), n.end());
    r->subscription = EvtEntries().subscribe(nullptr, notify_, name.c_str(), L"*", nullptr, nullptr, nullptr,
                                             EvtSubscribeToFutureEvents);
    if (r->subscription == nullptr) {
      RAS1_TRACE(RAS1_ERROR, "EvtSubscribe Api failure rc = %ld", static_cast<long>(GetLastError()));
      return false;
    }
    return true;
  }
  RAS1_TRACE(RAS1_FLOW, "Implementing old event logging.\n");
  notifyLog_ = OpenClassicLog(Name());
  if (!notifyLog_) {
    RAS1_TRACE(RAS1_ERROR, "OpenEventLog Api failure rc = %ld", static_cast<long>(GetLastError()));
    return false;
  }
  if (!notifyLog_->NotifyChange(notify_)) {
    RAS1_TRACE(RAS1_ERROR, "NotifyChangeEventLog Api failure rc = %ld", static_cast<long>(GetLastError()));
    notifyLog_.reset();
    return false;
  }
  return true;
}

void EvmEventLog::Unregister(EventLogRequest* r) {
  if (r->subscription) EvtEntries().close(r->subscription);
  r->subscription = nullptr;
  notifyLog_.reset();
}

bool EvmEventLog::ResumeFromBookmark(EventLogRequest* r) {
  RAS1_UNIT("EvmEventLog::ResumeFromBookmark");
  r->start = PassStart();
  r->start.situationTime = Now();
  Bookmark mark;
  if (!LoadBookmark(Name(), &mark)) return false;
  const char* age = BSS1_GetEnv("OSM_EVTLOG_CATCHUP_SECONDS", 0);
  const char* most = BSS1_GetEnv("OSM_EVTLOG_CATCHUP_MAX", 0);
  long long maxAge = age && *age ? std::atoll(age) : 86400;
  long long maxCount = most && *most ? std::atoll(most) : 1000;
  if (maxAge < 0) maxAge = 0;
  if (maxCount < 0 || maxCount > 0x7FFFFFFF) maxCount = 1000;
  r->start = ResumeFrom(mark, Now(), maxAge, static_cast<std::uint32_t>(maxCount));
  if (maxCount == 0) r->start.maxCount = 0;
  RAS1_TRACE(RAS1_FLOW, "Resuming the %s log after record %llu (written %lld)", Name(),
             static_cast<unsigned long long>(mark.record), static_cast<long long>(mark.timeWritten));
  return true;
}

int EvmEventLog::Run() {
  RAS1_UNIT("EvmEventLog::run");
  threadId_ = GetCurrentThreadId();
  RAS1_TRACE(RAS1_FLOW, "LogManager executing for Object: %p, ThreadID: %ld, EventLog: %s", static_cast<void*>(this),
             static_cast<long>(threadId_), Name());
  bool expected = false;
  if (!running_.compare_exchange_strong(expected, true)) {
    RAS1_TRACE(RAS1_ERROR, "Log Manager already running: rc = %ld", -1L);
    return -1;
  }
  if (notify_ == nullptr) {
    running_ = false;
    return -1;
  }
  timeouts_ = 0;
  EventLogRequest r;
  r.logType = logType_;
  r.stop = &stop_;
  r.threshold = ThresholdFor(Name(), Family::kThrottle, [](const char* n) { return BSS1_GetEnv(n, 0); });
  if (DuplicatesEnabled(r.threshold))
    RAS1_TRACE(RAS1_FLOW, "LogManager enabling event display duplicate record throttle(%d), EventLog: %s",
               r.threshold, Name());
  MakeCaches(&r);
  bool resumed = ResumeFromBookmark(&r);
  int rc = 0;
  if (!Register(&r)) {
    RAS1_TRACE(RAS1_ERROR, "registerForNotifications failure");
    rc = -1;
  }
  // New interface after a restart: the first pass reads the events since
  // the bookmark from a query; the subscription, already open, then skips
  // those again.
  bool catchUp = r.subscription != nullptr && resumed;
  int retries = 0;  // passes whose rows no situation took yet (it is being opened)
  if (rc == 0) RAS1_TRACE(RAS1_FLOW, "EVMFV001  Begin Log Manager loop...");
  while (rc == 0 && !stop_.load()) {
    RAS1_TRACE(RAS1_DETAIL, "EVMFV002  Begin Log Manager loop.  Iteration #%.8u.  Timeout counter=%.8d.", 0u,
               timeouts_.load());
    DWORD w = WaitForSingleObject(notify_, retries ? kRetryMs : kWaitMs);
    if (w == WAIT_FAILED) {
      RAS1_TRACE(RAS1_ERROR, "WaitForSingleObject Api failure rc = %ld", static_cast<long>(GetLastError()));
      break;
    }
    if (stop_.load()) break;
    if (w == WAIT_TIMEOUT && retries == 0) {
      ++timeouts_;
      if (r.sources) r.sources->clear();  // sources installed meanwhile are read anew
      RAS1_TRACE(RAS1_FLOW, "WaitForSingleObject Timed Out: Wait Count = %i ThreadId = %ld", timeouts_.load(),
                 static_cast<long>(threadId_));
      continue;
    }
    RAS1_TRACE(RAS1_DETAIL, "Event has been signalled: Object: %p, Log: %s", static_cast<void*>(this), Name());
    ClearDuplicateMap(r.duplicates);
    // By time, the next pass takes what was written from this pass's start
    // on: a record written while this pass reads is not lost.
    std::int64_t passStart = Now();
    EVT_HANDLE subscription = r.subscription;
    if (catchUp) r.subscription = nullptr;
    PassResult pass = SituationCollection(r);
    r.subscription = subscription;
    if (!pass.completed) break;
    if (!pass.delivered) {
      // Read again shortly; a new subscription pass cannot read them again.
      retries = subscription && !catchUp ? 0 : (retries < kRetries ? retries + 1 : 0);
      continue;
    }
    retries = 0;
    if (catchUp) {
      r.skipThrough = pass.newest > r.start.lastRecord ? pass.newest : r.start.lastRecord;
      catchUp = false;
    }
    // An empty classic log is remembered too, so that a restart takes what
    // was written after this pass began.
    if (pass.newest != 0)
      SaveBookmark(Name(), Bookmark{pass.newest, pass.newestTime});
    else if (subscription == nullptr)
      SaveBookmark(Name(), Bookmark{0, passStart});
    r.start = PassStart();
    r.start.lastRecord = subscription ? 0 : pass.newest;
    r.start.situationTime = passStart;
    if (r.modules && r.modules->Count() >= 256) {
      RAS1_TRACE(RAS1_DETAIL, "Max entries, clearing event handle hash map for: '%s'\n", Name());
      ClearModuleCache(r.modules);
      if (r.sources) r.sources->clear();
    }
  }
  Unregister(&r);
  RAS1_TRACE(RAS1_FLOW, "EVMFV003  Exit Log Manager loop...");
  DropCaches(&r);
  running_ = false;
  RAS1_TRACE(RAS1_FLOW, "LogManager is terminating for Object: %p, ThreadID: %ld, EventLog: %s",
             static_cast<void*>(this), static_cast<long>(threadId_), Name());
  return rc;
}

bool EvmEventLog::Stop() {
  RAS1_UNIT("EvmEventLog::stop");
  RAS1_TRACE(RAS1_FLOW, "Stopping Log Manager for Object: %p, LogFile: %s", static_cast<void*>(this), Name());
  stop_ = true;
  if (notify_ && !SetEvent(notify_))
    RAS1_TRACE(RAS1_ERROR, "Unable to stop log manager. SetEvent rc = %ld", static_cast<long>(GetLastError()));
  if (thread_ == nullptr) return true;
  DWORD w = WaitForSingleObject(thread_, kStopWaitMs);
  if (w == WAIT_OBJECT_0) {
    RAS1_TRACE(RAS1_FLOW, "Log Manager Thread Terminated. Object: %p, Log: %s", static_cast<void*>(this), Name());
    return true;
  }
  if (w == WAIT_TIMEOUT)
    RAS1_TRACE(RAS1_ERROR, "WaitForSingleObject Timed Out waiting for thread termination.Object: %p, Log: %s",
               static_cast<void*>(this), Name());
  else
    RAS1_TRACE(RAS1_ERROR, "WaitForSingleObject Api failure rc = %ld, Object: %p, Log: %s",
               static_cast<long>(GetLastError()), static_cast<void*>(this), Name());
  return false;
}

}  // namespace evl
}  // namespace osm

// The event log reader: KEventLog reads the records of one log, through the
// new interface or the classic one; KEventRecord formats one classic record;
// RenderEvent formats one new-interface event.
#pragma once

#include <windows.h>
#include <winevt.h>

#include <memory>
#include <string>
#include <vector>

#include "collectors/eventlog/classic_source.h"
#include "collectors/eventlog/evt_event.h"
#include "collectors/eventlog/evt_record.h"
#include "collectors/eventlog/evt_request.h"
#include "collectors/eventlog/ksysmessage.h"

namespace osm {
namespace evl {

class KEventLog {
 public:
  // Opens the log at once; external is the log manager's subscription (new
  // interface), read as is and never closed here.
  KEventLog(const char* logName, EVT_HANDLE external, const wchar_t* computer, bool oldestFirst);
  virtual ~KEventLog();
  KEventLog(const KEventLog&) = delete;
  KEventLog& operator=(const KEventLog&) = delete;

  bool IsOpen() const { return open_; }
  bool NewInterface() const { return newInterface_; }
  const char* LogName() const { return logName_.c_str(); }

  // Classic: the next record of a read of bufferSize bytes, or false when
  // there is none. Throws std::logic_error when the buffer is too small for
  // the next record, std::runtime_error for any other read failure.
  bool NextRecord(DWORD bufferSize, RecordView* view);
  // New interface: the next event (the caller closes it), or null.
  EVT_HANDLE NextEvent();
  // Classic only (0 with the new interface); throw std::runtime_error.
  DWORD RecordCount();
  DWORD OldestRecord();
  std::string ErrorText(DWORD code) { return message_.Narrow(code); }

 private:
  void Open();
  void Close();
  std::runtime_error Failure(const char* what, DWORD code);

  bool newInterface_;
  EVT_HANDLE handle_ = nullptr;
  EVT_HANDLE external_;
  std::wstring computer_;
  std::string logName_;
  bool open_ = false;
  bool oldestFirst_;
  std::unique_ptr<ClassicLog> classic_;
  std::vector<std::uint8_t> buffer_;
  std::unique_ptr<RecordWalker> walker_;
  KSysMessage message_;
};

// One classic record, bound to the request that formats it.
class KEventRecord {
 public:
  KEventRecord(const RecordView& record, const char* logName, const EventLogRequest& request);
  virtual ~KEventRecord();
  KEventRecord(const KEventRecord&) = delete;
  KEventRecord& operator=(const KEventRecord&) = delete;

  // Fills e; false when the duplicate check drops the event. The time
  // fields are the caller's.
  bool Format(FormattedEvent* e);

  WText CategoryText();
  WText DescriptionText();

 private:
  void LookUpMessageFiles();
  SourceFiles ReadSourceFiles();
  void ResolveUser(FormattedEvent* e);
  HMODULE LoadModule(const WText& path, bool* cached);

  const RecordView& record_;
  std::string logName_;
  const EventLogRequest& request_;
  WText source_;
  std::vector<WText> strings_;
  WText eventFiles_;       // event message file list
  bool eventFilesFound_ = false;
  WText categoryFile_;
  HMODULE categoryModule_ = nullptr;
  bool categoryCached_ = false;
};

// Formats a new-interface event into e; false when it is dropped (time
// window, render failure or duplicate).
bool RenderEvent(EVT_HANDLE event, FormattedEvent* e, const EventLogRequest& request);

// The agent timestamp, date and time of a classic time (seconds since 1970).
void StampClassicTime(std::uint32_t seconds, FormattedEvent* e);
// The same of a FILETIME (UTC), with its milliseconds.
void StampFileTime(const FILETIME& utc, FormattedEvent* e);
// The account name of a SID through the request's user cache; false when it
// cannot be resolved (the name is then "N/A").
bool AccountName(const std::uint8_t* sid, std::size_t length, HashMap* cache, bool cacheFailures, WText* name);

}  // namespace evl
}  // namespace osm

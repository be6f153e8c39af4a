// KEventLog, the user-name lookup and the time stamps.
#include "collectors/eventlog/kevent_log.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "collectors/eventlog/evt_api.h"
#include "framework/ras1.h"
#include "support/hashmap.h"

namespace osm {
namespace evl {

KEventLog::KEventLog(const char* logName, EVT_HANDLE external, const wchar_t* computer, bool oldestFirst)
    : newInterface_(NewInterfaceInUse() && !StoreFor(logName)),
      external_(external),
      computer_(computer ? computer : L""),
      logName_(logName ? logName : ""),
      oldestFirst_(oldestFirst) {
  Open();
}

KEventLog::~KEventLog() { Close(); }

void KEventLog::Open() {
  RAS1_UNIT("KEventLog::OpenWindowsLog");
  if (newInterface_) {
    if (external_ != nullptr) {
      handle_ = external_;
      open_ = true;
      return;
    }
    std::wstring name(logName_.begin(), logName_.end());
    DWORD flags = EvtQueryChannelPath | (oldestFirst_ ? EvtQueryForwardDirection : EvtQueryReverseDirection);
    handle_ = EvtEntries().query(nullptr, name.c_str(), L"*", flags);
    if (handle_ == nullptr) {
      RAS1_TRACE(RAS1_ERROR, "EvtQuery failure rc = %ld", static_cast<long>(GetLastError()));
      RAS1_TRACE(RAS1_ERROR, "OpenWindowsLog()- unexpected error");
      return;
    }
    open_ = true;
    return;
  }
  classic_ = OpenClassicLog(logName_.c_str());
  if (!classic_) {
    RAS1_TRACE(RAS1_ERROR, "OpenEventLog failure rc = %ld", static_cast<long>(GetLastError()));
    RAS1_TRACE(RAS1_ERROR, "OpenWindowsLog()- unexpected error");
    return;
  }
  open_ = true;
}

void KEventLog::Close() {
  RAS1_UNIT("KEventLog::CloseWindowsLog");
  if (!open_) return;
  open_ = false;
  if (newInterface_) {
    if (handle_ != external_ && handle_ != nullptr && !EvtEntries().close(handle_)) {
      RAS1_TRACE(RAS1_ERROR, "Warning: EvtClose Api failure rc = %ld", static_cast<long>(GetLastError()));
      RAS1_TRACE(RAS1_ERROR, "CloseWindowsLog() unexpected error.\n");
    }
    handle_ = nullptr;
    return;
  }
  classic_.reset();
}

std::runtime_error KEventLog::Failure(const char* what, DWORD code) {
  std::string text = std::string("Unexpected error in ") + what + ".\n\tGetLastError returned: " +
                     std::to_string(code) + "\n\t<" + ErrorText(code) + ">";
  return std::runtime_error(text);
}

bool KEventLog::NextRecord(DWORD bufferSize, RecordView* view) {
  RAS1_UNIT("KEventLog::NextRecord");
  if (!open_ || newInterface_) return false;
  if (walker_) {
    if (walker_->Next(view)) return true;
    if (walker_->status() != RecordStatus::kOk)
      RAS1_TRACE(RAS1_ERROR, "Damaged record in the %s log at buffer offset %u (%s); rest of the buffer dropped",
                 logName_.c_str(), static_cast<unsigned>(walker_->offset()), RecordStatusText(walker_->status()));
    walker_.reset();
  }
  buffer_.assign(bufferSize, 0);
  DWORD read = 0, needed = 0;
  DWORD flags = EVENTLOG_SEQUENTIAL_READ | (oldestFirst_ ? EVENTLOG_FORWARDS_READ : EVENTLOG_BACKWARDS_READ);
  if (!classic_->Read(flags, 0, buffer_.data(), bufferSize, &read, &needed)) {
    DWORD e = GetLastError();
    if (e == ERROR_HANDLE_EOF) {
      Close();
      return false;
    }
    buffer_.clear();
    if (e == ERROR_INSUFFICIENT_BUFFER)
      throw std::logic_error("Not enough buffer space for ReadEventLog().\n\tBuffer size: " +
                             std::to_string(bufferSize) + "\n\tBytes read:  " + std::to_string(read) +
                             "\n\tBytesNeeded: " + std::to_string(needed));
    throw Failure("ReadEventLog()", e);
  }
  if (read == 0 || read > bufferSize) return false;
  walker_.reset(new RecordWalker(buffer_.data(), read));
  return NextRecord(bufferSize, view);
}

EVT_HANDLE KEventLog::NextEvent() {
  RAS1_UNIT("KEventLog::NextEvent");
  if (!open_ || !newInterface_) return nullptr;
  EVT_HANDLE event = nullptr;
  DWORD returned = 0;
  if (!EvtEntries().next(handle_, 1, &event, 500, 0, &returned) || returned == 0) {
    DWORD e = GetLastError();
    if (e != ERROR_NO_MORE_ITEMS) RAS1_TRACE(RAS1_ERROR, "EvtNext failure rc = %ld", static_cast<long>(e));
    return nullptr;
  }
  return event;
}

DWORD KEventLog::RecordCount() {
  DWORD n = 0;
  if (!open_ || newInterface_) return 0;
  if (!classic_->Count(&n)) throw Failure("GetNumberOfEventLogRecords()", GetLastError());
  return n;
}

DWORD KEventLog::OldestRecord() {
  DWORD n = 0;
  if (!open_ || newInterface_) return 0;
  if (!classic_->Oldest(&n)) throw Failure("GetOldestEventLogRecord()", GetLastError());
  return n;
}

void StampFileTime(const FILETIME& utc, FormattedEvent* e) {
  FILETIME local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return;
  FormatTimestamp(e->timestamp, st, 16);
  e->timestamp[16] = '\0';
  FormatDateText(e->date, st);
  e->date[8] = '\0';
  FormatTimeText(e->time, st);
  e->time[8] = '\0';
}

void StampClassicTime(std::uint32_t seconds, FormattedEvent* e) {
  ULONGLONG t = (static_cast<ULONGLONG>(seconds) + 11644473600ull) * 10000000ull;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(t);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  StampFileTime(ft, e);
  e->timeWritten = seconds;
}

bool AccountName(const std::uint8_t* sid, std::size_t length, HashMap* cache, bool cacheFailures, WText* name) {
  RAS1_UNIT("KEventRecord::ResolveUser");
  std::string key = SidKey(sid, length);
  if (cache) {
    if (const wchar_t* cached = static_cast<const wchar_t*>(cache->Get(key.c_str()))) {
      RAS1_TRACE(RAS1_DETAIL, "Using hashed user name: '%ls'\n", cached);
      *name = cached;
      return *name != L"N/A";
    }
  }
  wchar_t account[512], domain[512];
  DWORD accountSize = 512, domainSize = 512;
  SID_NAME_USE use;
  bool found = LookupAccountSidW(nullptr, const_cast<std::uint8_t*>(sid), account, &accountSize, domain, &domainSize,
                                 &use) != FALSE;
  if (found) {
    account[511] = 0;
    *name = account;
  } else {
    *name = L"N/A";
  }
  if (cache && (found || cacheFailures)) {
    char* ownedKey = new (std::nothrow) char[key.size() + 1];
    wchar_t* value = new (std::nothrow) wchar_t[name->size() + 1];
    if (ownedKey && value) {
      std::memcpy(ownedKey, key.c_str(), key.size() + 1);
      std::memcpy(value, name->c_str(), (name->size() + 1) * sizeof(wchar_t));
      if (cache->Put(ownedKey, value)) {
        RAS1_TRACE(RAS1_DETAIL, found ? "Hashing user name: '%ls'\n" : "Hashing N/A for the user name...%ls\n",
                   found ? value : L"");
        return found;
      }
    }
    delete[] ownedKey;
    delete[] value;
  }
  return found;
}

void ClearModuleCache(HashMap* map) {
  if (map == nullptr) return;
  HashMapIterator it(*map);
  while (it.Next()) {
    FreeLibrary(static_cast<HMODULE>(it.Value()));
    delete[] it.Key();
  }
  map->Clear();
}

void ClearUserCache(HashMap* map) {
  if (map == nullptr) return;
  HashMapIterator it(*map);
  while (it.Next()) {
    delete[] static_cast<wchar_t*>(it.Value());
    delete[] it.Key();
  }
  map->Clear();
}

void MakeCaches(EventLogRequest* r) {
  if (DuplicatesEnabled(r->threshold) && r->duplicates == nullptr) r->duplicates = new HashMap(1000);
  if (r->modules == nullptr) r->modules = new HashMap(256);
  if (r->users == nullptr) r->users = new HashMap(256);
  if (r->sources == nullptr) r->sources = new SourceCache();
}

void DropCaches(EventLogRequest* r) {
  ClearDuplicateMap(r->duplicates);
  ClearModuleCache(r->modules);
  ClearUserCache(r->users);
  delete r->duplicates;
  delete r->modules;
  delete r->users;
  delete r->sources;
  r->duplicates = r->modules = r->users = nullptr;
  r->sources = nullptr;
}

}  // namespace evl
}  // namespace osm

#include "collectors/eventlog/classic_source.h"

#include <process.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "collectors/eventlog/evt_event.h"
#include "framework/ras1.h"

namespace osm {
namespace evl {
namespace {

std::wstring WideName(const char* name) {
  std::wstring w;
  for (; name && *name; ++name) w.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*name)));
  return w;
}

// The platform's event log.
class PlatformLog : public ClassicLog {
 public:
  explicit PlatformLog(HANDLE h) : handle_(h) {}
  ~PlatformLog() override {
    RAS1_UNIT("KEventLog::CloseWindowsLog");
    if (!CloseEventLog(handle_)) {
      RAS1_TRACE(RAS1_ERROR, "Warning: CloseEventLog Api failure rc = %ld", static_cast<long>(GetLastError()));
      RAS1_TRACE(RAS1_ERROR, "CloseWindowsLog() unexpected error.\n");
    } else {
      RAS1_TRACE(RAS1_DETAIL, "Event log successfully closed.");
    }
  }
  BOOL Read(DWORD flags, DWORD offset, void* buffer, DWORD size, DWORD* read, DWORD* needed) override {
    return ReadEventLogW(handle_, flags, offset, buffer, size, read, needed);
  }
  BOOL Count(DWORD* count) override { return GetNumberOfEventLogRecords(handle_, count); }
  BOOL Oldest(DWORD* oldest) override { return GetOldestEventLogRecord(handle_, oldest); }
  BOOL NotifyChange(HANDLE event) override { return NotifyChangeEventLog(handle_, event); }

 private:
  HANDLE handle_;
};

// One handle on a record store: the view taken at open, read with a cursor.
class StoreLog : public ClassicLog {
 public:
  explicit StoreLog(std::shared_ptr<RecordStore> store) : store_(std::move(store)) {
    store_->Refresh();
    view_ = store_->Open();
  }
  ~StoreLog() override {
    if (watched_) store_->RemoveWatcher(watched_);
  }
  BOOL Read(DWORD flags, DWORD offset, void* buffer, DWORD size, DWORD* read, DWORD* needed) override {
    (void)offset;  // sequential reads only
    *read = 0;
    *needed = 0;
    bool backwards = (flags & EVENTLOG_BACKWARDS_READ) != 0;
    if (!started_) {
      next_ = backwards ? view_.count : 0;
      started_ = true;
    }
    BYTE* out = static_cast<BYTE*>(buffer);
    while (backwards ? next_ > 0 : next_ < view_.count) {
      std::size_t index = backwards ? next_ - 1 : next_;
      StoredRecord r = store_->At(view_, index);
      if (!r) break;  // rewritten meanwhile: what this handle saw has ended
      if (r->size() > size - *read) {
        if (*read != 0) return TRUE;
        *needed = static_cast<DWORD>(r->size());
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
      }
      std::memcpy(out + *read, r->data(), r->size());
      *read += static_cast<DWORD>(r->size());
      next_ = backwards ? next_ - 1 : next_ + 1;
    }
    if (*read != 0) return TRUE;
    SetLastError(ERROR_HANDLE_EOF);
    return FALSE;
  }
  BOOL Count(DWORD* count) override {
    *count = static_cast<DWORD>(view_.count);
    return TRUE;
  }
  BOOL Oldest(DWORD* oldest) override {
    *oldest = view_.count ? store_->OldestNumber() : 0;
    return TRUE;
  }
  BOOL NotifyChange(HANDLE event) override {
    if (watched_) store_->RemoveWatcher(watched_);
    watched_ = event;
    store_->AddWatcher(event);
    return TRUE;
  }

 private:
  std::shared_ptr<RecordStore> store_;
  RecordStore::View view_;
  bool started_ = false;
  std::size_t next_ = 0;
  HANDLE watched_ = nullptr;
};

const char* const kFileVariables[kLogCount] = {"OSM_SYSTEM_LOG_FILE", "OSM_SECURITY_LOG_FILE",
                                               "OSM_APPLICATION_LOG_FILE", "OSM_DNS_LOG_FILE",
                                               "OSM_DIRSERVICE_LOG_FILE", "OSM_FILEREPSRV_LOG_FILE"};

struct Stores {
  std::mutex lock;
  std::map<std::string, std::shared_ptr<RecordStore>> installed;
  std::map<std::string, std::shared_ptr<BackupFileStore>> files;
};
Stores& AllStores() {
  static Stores* s = new Stores();  // outlives static destructors and log manager threads
  return *s;
}

}  // namespace

RecordStore::~RecordStore() = default;

void RecordStore::Signal() {
  std::lock_guard<std::mutex> guard(lock_);
  for (HANDLE h : watchers_) SetEvent(h);
}

void RecordStore::Append(std::vector<std::uint8_t> record) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    records_.push_back(std::make_shared<const std::vector<std::uint8_t>>(std::move(record)));
  }
  Signal();
}

void RecordStore::AppendMany(std::vector<std::vector<std::uint8_t>> records) {
  if (records.empty()) return;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& r : records) records_.push_back(std::make_shared<const std::vector<std::uint8_t>>(std::move(r)));
  }
  Signal();
}

void RecordStore::Replace(std::vector<std::vector<std::uint8_t>> records) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    records_.clear();
    for (auto& r : records) records_.push_back(std::make_shared<const std::vector<std::uint8_t>>(std::move(r)));
    ++generation_;
  }
  Signal();
}

std::size_t RecordStore::Size() {
  std::lock_guard<std::mutex> guard(lock_);
  return records_.size();
}

void RecordStore::AddWatcher(HANDLE event) {
  std::lock_guard<std::mutex> guard(lock_);
  watchers_.push_back(event);
}

void RecordStore::RemoveWatcher(HANDLE event) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = std::find(watchers_.begin(), watchers_.end(), event);
  if (it != watchers_.end()) watchers_.erase(it);
}

std::size_t RecordStore::Watchers() {
  std::lock_guard<std::mutex> guard(lock_);
  return watchers_.size();
}

RecordStore::View RecordStore::Open() {
  std::lock_guard<std::mutex> guard(lock_);
  return View{generation_, records_.size()};
}

StoredRecord RecordStore::At(const View& view, std::size_t index) {
  std::lock_guard<std::mutex> guard(lock_);
  if (view.generation != generation_ || index >= records_.size()) return nullptr;
  return records_[index];
}

std::uint32_t RecordStore::OldestNumber() {
  std::lock_guard<std::mutex> guard(lock_);
  if (records_.empty() || records_[0]->size() < 12) return 0;
  return ReadU32(records_[0]->data() + 8);
}

BackupFileStore::BackupFileStore(const std::wstring& path) : path_(path) {}

BackupFileStore::~BackupFileStore() {
  if (thread_) {
    SetEvent(stop_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
  if (stop_) CloseHandle(stop_);
}

void BackupFileStore::Refresh() {
  RAS1_UNIT("BackupFileStore::Refresh");
  std::lock_guard<std::mutex> guard(fileLock_);
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &a)) {
    if (seenSize_ != 0)
      RAS1_TRACE(RAS1_ERROR, "Backup file %ls cannot be read, rc = %ld", path_.c_str(),
                 static_cast<long>(GetLastError()));
    seenSize_ = 0;
    return;
  }
  std::uint64_t size = (static_cast<std::uint64_t>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
  if (size == seenSize_ && CompareFileTime(&a.ftLastWriteTime, &seenWrite_) == 0) return;
  std::ifstream in(path_.c_str(), std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) return;
  seenSize_ = size;
  seenWrite_ = a.ftLastWriteTime;
  EvtFileContents c = ParseEvtFile(bytes.data(), bytes.size());
  if (c.status != EvtFileStatus::kOk)
    RAS1_TRACE(RAS1_ERROR, "Backup file %ls: %s; %d records read", path_.c_str(), EvtFileStatusText(c.status),
               static_cast<int>(c.records.size()));
  if (c.status == EvtFileStatus::kTooSmall || c.status == EvtFileStatus::kBadHeader ||
      c.status == EvtFileStatus::kBadOffsets)
    return;  // not (yet) a backup file: keep what was read before
  header_ = c.header;
  // Records appended to the same log arrive as new records; anything else
  // (a file replaced or cleared) replaces the content.
  View v = Open();
  StoredRecord first = v.count ? At(v, 0) : nullptr;
  StoredRecord last = v.count ? At(v, v.count - 1) : nullptr;
  if (first && c.records.size() >= v.count && *first == c.records[0] && *last == c.records[v.count - 1]) {
    c.records.erase(c.records.begin(), c.records.begin() + static_cast<std::ptrdiff_t>(v.count));
    AppendMany(std::move(c.records));
  } else {
    Replace(std::move(c.records));
  }
}

bool BackupFileStore::FileInfo(StoreFileInfo* info) {
  Refresh();
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &a)) return false;
  std::lock_guard<std::mutex> guard(fileLock_);
  info->path = path_;
  info->size = (static_cast<std::uint64_t>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
  info->lastWrite = a.ftLastWriteTime;
  info->maxSize = header_.maxSize;
  info->retention = header_.retention;
  return true;
}

void BackupFileStore::StartWatching() {
  if (thread_) return;
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (stop_ == nullptr) return;
  thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &WatchThread, this, 0, nullptr));
}

unsigned __stdcall BackupFileStore::WatchThread(void* p) {
  BackupFileStore* self = static_cast<BackupFileStore*>(p);
  std::wstring dir = self->path_;
  std::size_t slash = dir.find_last_of(L"\\/");
  dir = slash == std::wstring::npos ? L"." : dir.substr(0, slash + 1);
  HANDLE change = FindFirstChangeNotificationW(
      dir.c_str(), FALSE, FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_FILE_NAME);
  // Change notification wakes it at once; the one-second look covers file
  // systems that send none.
  for (;;) {
    HANDLE waits[2] = {self->stop_, change};
    DWORD n = change != INVALID_HANDLE_VALUE ? 2 : 1;
    DWORD w = WaitForMultipleObjects(n, waits, FALSE, 1000);
    if (w == WAIT_OBJECT_0 || w == WAIT_FAILED) break;
    if (w == WAIT_OBJECT_0 + 1) FindNextChangeNotification(change);
    self->Refresh();
  }
  if (change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(change);
  return 0;
}

void InstallRecordStore(const char* logName, std::shared_ptr<RecordStore> store) {
  Stores& s = AllStores();
  std::lock_guard<std::mutex> guard(s.lock);
  if (store) s.installed[logName] = std::move(store);
  else s.installed.erase(logName);
}

std::string BackupFileVariable(int logType) {
  return logType >= 0 && logType < kLogCount ? kFileVariables[logType] : "";
}

std::shared_ptr<RecordStore> StoreFor(const char* logName) {
  Stores& s = AllStores();
  std::lock_guard<std::mutex> guard(s.lock);
  auto installed = s.installed.find(logName);
  if (installed != s.installed.end()) return installed->second;
  int type = LogTypeOf(logName);
  const char* setting = type >= 0 ? BSS1_GetEnv(kFileVariables[type], 0) : nullptr;
  if (setting == nullptr || *setting == '\0') return nullptr;
  wchar_t path[MAX_PATH + 1];
  int n = MultiByteToWideChar(CP_ACP, 0, setting, -1, path, MAX_PATH);
  if (n <= 0) return nullptr;
  path[MAX_PATH] = 0;
  std::shared_ptr<BackupFileStore>& file = s.files[logName];
  if (!file || file->Path() != path) {
    file = std::make_shared<BackupFileStore>(path);
    file->StartWatching();
  }
  return file;
}

std::unique_ptr<ClassicLog> OpenClassicLog(const char* logName) {
  if (std::shared_ptr<RecordStore> store = StoreFor(logName)) return std::unique_ptr<ClassicLog>(new StoreLog(store));
  std::wstring name = WideName(logName);
  HANDLE h = OpenEventLogW(nullptr, name.c_str());
  if (h == nullptr) return nullptr;
  return std::unique_ptr<ClassicLog>(new PlatformLog(h));
}

}  // namespace evl
}  // namespace osm

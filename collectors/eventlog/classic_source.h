// Where classic event log records come from. The reader asks for a log by
// name and gets one open handle's worth of the classic interface:
//  - by default the platform's event log (OpenEventLogW and its family);
//  - for a log with a record store installed, that store (a program or a
//    test that brings its own records);
//  - for a log named by a backup-file setting, the records of that file:
//      OSM_SYSTEM_LOG_FILE, OSM_SECURITY_LOG_FILE, OSM_APPLICATION_LOG_FILE,
//      OSM_DNS_LOG_FILE, OSM_DIRSERVICE_LOG_FILE, OSM_FILEREPSRV_LOG_FILE
//    each naming a classic backup file (.evt, as BackupEventLog writes it).
//    The file is read as the log's content; records appended to it while the
//    agent runs arrive as new events.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "collectors/eventlog/evt_record.h"

namespace osm {
namespace evl {

// One open handle on a log, with the semantics of the classic functions:
// each returns FALSE and sets the last error on failure.
class ClassicLog {
 public:
  virtual ~ClassicLog() = default;
  virtual BOOL Read(DWORD flags, DWORD offset, void* buffer, DWORD size, DWORD* read, DWORD* needed) = 0;
  virtual BOOL Count(DWORD* count) = 0;
  virtual BOOL Oldest(DWORD* oldest) = 0;
  // Signals event whenever the log changes, until the handle is closed.
  virtual BOOL NotifyChange(HANDLE event) = 0;
};

typedef std::shared_ptr<const std::vector<std::uint8_t>> StoredRecord;

// What NTLOGINFO shows of a log kept in a store.
struct StoreFileInfo {
  std::wstring path;
  std::uint64_t size = 0;
  FILETIME lastWrite{};
  std::uint32_t maxSize = 0, retention = 0;
};

// Records of one log held in memory, oldest first; handles opened on it read
// it as the platform reads a log. Thread-safe.
class RecordStore {
 public:
  RecordStore() = default;
  virtual ~RecordStore();
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  // Adds records at the newest end and signals every watcher.
  void Append(std::vector<std::uint8_t> record);
  void AppendMany(std::vector<std::vector<std::uint8_t>> records);
  // Replaces the whole content (a cleared or rewritten log).
  void Replace(std::vector<std::vector<std::uint8_t>> records);
  std::size_t Size();

  void AddWatcher(HANDLE event);
  void RemoveWatcher(HANDLE event);
  // Handles waiting for changes (one per running log manager of the log).
  std::size_t Watchers();

  // Brings the content up to date with where it comes from (a file).
  virtual void Refresh() {}
  // The backing file, for the log information table; false when none.
  virtual bool FileInfo(StoreFileInfo* info) { return false; }

  // Reading: the records as they were at Open, by generation and count.
  struct View {
    std::uint64_t generation = 0;
    std::size_t count = 0;
  };
  View Open();
  // The record at index of a view; null when the store changed since.
  StoredRecord At(const View& view, std::size_t index);
  std::uint32_t OldestNumber();

 protected:
  void Signal();

 private:
  std::mutex lock_;
  std::vector<StoredRecord> records_;
  std::uint64_t generation_ = 1;
  std::vector<HANDLE> watchers_;
};

// A store filled from a classic backup file, reread when the file changes.
class BackupFileStore : public RecordStore {
 public:
  explicit BackupFileStore(const std::wstring& path);
  ~BackupFileStore() override;
  void Refresh() override;
  bool FileInfo(StoreFileInfo* info) override;
  const std::wstring& Path() const { return path_; }

 private:
  static unsigned __stdcall WatchThread(void* self);
  void StartWatching();

  std::wstring path_;
  std::mutex fileLock_;
  std::uint64_t seenSize_ = ~0ull;
  FILETIME seenWrite_{};
  EvtFileHeader header_{};
  HANDLE stop_ = nullptr;
  HANDLE thread_ = nullptr;
  friend class RecordStore;
  friend std::shared_ptr<RecordStore> StoreFor(const char* logName);
};

// Installs (or, with null, removes) the store a log is read from.
void InstallRecordStore(const char* logName, std::shared_ptr<RecordStore> store);
// The store a log is read from: an installed one, else the backup file its
// setting names, else null (the platform's log).
std::shared_ptr<RecordStore> StoreFor(const char* logName);
// The backup-file setting of a log ("OSM_SYSTEM_LOG_FILE").
std::string BackupFileVariable(int logType);

// Opens a log through the classic interface; null (last error set) on failure.
std::unique_ptr<ClassicLog> OpenClassicLog(const char* logName);

}  // namespace evl
}  // namespace osm

// Directory change monitors and the one thread that serves them all.
//
// A FileChangeMonitor keeps one overlapped ReadDirectoryChangesW open on its
// directory. The FileChangeService queues the monitors, keeps the array of
// their events (element 0 is the ArrayUpdate event), and runs the change
// thread, which waits on a private copy of that array, completes the
// notifications, re-arms, and hands each monitor's rows to the request that
// created it.
//
// Lifetime: monitors are added and removed on framework threads, one call at
// a time. A removed monitor's pending request is cancelled and completed, and
// the thread has dropped the event from its copy of the array, before the
// monitor's buffer, OVERLAPPED, event and handle are freed. The thread runs
// while at least one monitor is queued; the service stops and joins it when
// the last one leaves.
//
// Locks: the queue lock, then the array lock, never the other way round.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "collectors/files/file_rows.h"
#include "collectors/files/watch_spec.h"

namespace osm {
namespace files {

// A row on its way to the request that owns the monitor.
struct PushedRow {
  unsigned owner;
  std::vector<char> row;
};

class FileChangeMonitor {
 public:
  // owner: the handle of the request that receives the rows.
  FileChangeMonitor(const WatchSpec& watch, unsigned owner);
  ~FileChangeMonitor();

  // Opens the directory and creates the event; false (traced) when the
  // directory cannot be opened.
  bool Open(RAS1_EPB* unit);
  // Starts the next overlapped read; false (traced) when it cannot.
  bool Arm();
  // Cancels a read in flight and waits until it has completed.
  void Cancel();
  // Completes a finished read: its rows are appended to out, then the
  // monitor is armed again. A monitor whose read or re-arm fails goes
  // silent (its event reset) until its situation is restarted.
  void Service(std::vector<PushedRow>* out);
  // The second half of Service, given the outcome of the finished read as
  // GetOverlappedResult reports it (rc: its error when !ok). Tests hand it
  // failures that a platform may not produce on demand.
  void Completed(bool ok, DWORD bytes, DWORD rc, std::vector<PushedRow>* out);
  // The report row: the last change's row under a new header.
  void ReportRow(char* row);

  HANDLE Event() const { return event_; }
  unsigned Owner() const { return owner_; }
  const WatchSpec& Watch() const { return watch_; }
  const std::wstring& Directory() const { return directory_; }
  bool Silent() const { return silent_; }

 private:
  FileChangeMonitor(const FileChangeMonitor&) = delete;
  FileChangeMonitor& operator=(const FileChangeMonitor&) = delete;
  void Process(DWORD bytes, std::vector<PushedRow>* out);
  void GoSilent();
  std::wstring ExaminedPath(const std::u16string& received) const;

  WatchSpec watch_;
  unsigned owner_;
  std::wstring directory_;      // with its trailing separator
  std::u16string watchedFile_;  // empty: every name
  DWORD mask_;
  BOOL subtree_;
  HANDLE dir_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
  // What a read in flight writes into, apart so that it can outlive the
  // monitor should a cancelled read never complete.
  struct IoBlock {
    OVERLAPPED overlapped;
    std::vector<DWORD> buffer;  // DWORD-aligned, as the records are
  };
  std::unique_ptr<IoBlock> io_;
  bool pending_ = false;        // a read is in flight
  bool silent_ = false;
  std::int64_t hits_ = 0;
  std::int32_t completions_ = 0;
  std::vector<char> lastRow_;
  std::int32_t reportPass_ = 0, reportRow_ = 0;
};

class FileChangeService {
 public:
  // At most 63 monitors: one wait covers 64 handles, ArrayUpdate included.
  static const std::size_t kMaxMonitors = MAXIMUM_WAIT_OBJECTS - 1;

  static FileChangeService& Instance();

  // Queues an opened monitor, arms it and starts the thread when needed;
  // false when the queue is full.
  bool Add(std::unique_ptr<FileChangeMonitor> monitor);
  // Removes and frees every monitor of the request.
  void RemoveOwnedBy(unsigned owner);
  // Calls each with every queued monitor's report row, in queue order.
  void ReportRows(const std::function<void(const char* row)>& each);
  std::size_t Count();
  // How often the change thread has woken; lets tests see it idle.
  std::uint64_t Wakeups() const { return wakeups_.load(); }

 private:
  FileChangeService();
  void RebuildArray();  // under the queue lock; returns with ArrayUpdate set
  bool TakeArray(std::vector<HANDLE>* copy);
  void WaitUntilTaken(std::uint64_t generation);
  void Run();
  void ServiceAll();

  std::mutex lifeLock_;   // one Add or RemoveOwnedBy at a time
  std::mutex queueLock_;
  std::vector<std::unique_ptr<FileChangeMonitor>> queue_;
  std::mutex arrayLock_;
  std::condition_variable taken_;
  HANDLE arrayUpdate_;
  std::vector<HANDLE> array_;
  std::uint64_t generation_ = 0;       // of array_
  std::uint64_t takenGeneration_ = 0;  // the thread's copy
  bool stopping_ = false;
  std::thread thread_;
  std::atomic<std::uint64_t> wakeups_{0};
};

}  // namespace files
}  // namespace osm

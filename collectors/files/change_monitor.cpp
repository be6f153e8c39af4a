#include "collectors/files/change_monitor.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "collectors/files/change_notices.h"
#include "collectors/files/file_facts.h"
#include "framework/dcfa.h"

namespace osm {
namespace files {
namespace {

// Room for a burst of changes between two reads: the platform keeps what
// arrives meanwhile in a buffer of this size and drops it all when it fills.
const std::size_t kNotifyBufferBytes = 64 * 1024;
// The longest path the platform accepts; a longer one is not examined.
const std::size_t kLongestPath = 32767;
// How long a removal waits for a cancelled read to complete.
const int kCancelWaitMs = 5000;

RAS1_EPB* MonitorUnit() {
  RAS1_UNIT("file_change::Service");
  return &RAS1__EPB_;
}

RAS1_EPB* ThreadUnit() {
  RAS1_UNIT("FileChangeThread");
  return &RAS1__EPB_;
}

#define FC_TRACE(unit, level, ...)                                                   \
  do {                                                                               \
    if ((unit) && (RAS1_Mask(unit) & (level))) RAS1_Printf(unit, __LINE__, __VA_ARGS__); \
  } while (0)

// Hands each request its rows, several at a time; a request that is closing
// (no longer reachable by its handle) gets none.
void Deliver(const std::vector<PushedRow>& rows) {
  for (std::size_t i = 0; i < rows.size();) {
    std::size_t j = i;
    std::vector<char> block;
    while (j < rows.size() && rows[j].owner == rows[i].owner) {
      block.insert(block.end(), rows[j].row.begin(), rows[j].row.end());
      ++j;
    }
    if (dcfa* request = dcfa::UseHandle(rows[i].owner)) {
      try {
        request->AddData(block.data(), static_cast<int>(j - i));
        request->Dispatch();
      } catch (...) {
        FC_TRACE(ThreadUnit(), RAS1_ERROR, "Request %s threw while taking file changes", request->detail.name);
        request->DiscardRows();
      }
      request->Drop();
    }
    i = j;
  }
}

}  // namespace

// FileChangeMonitor ------------------------------------------------------------

FileChangeMonitor::FileChangeMonitor(const WatchSpec& watch, unsigned owner)
    : watch_(watch), owner_(owner), mask_(ChangeFilterMask(watch)), subtree_(WatchesSubtree(watch) ? TRUE : FALSE),
      io_(new IoBlock()), lastRow_(ChangeTable().rowSize) {
  std::string dir = DirectoryPath(watch);
  directory_ = ToWide(Utf8ToUtf16(dir.data(), dir.size()));
  std::string file = FileName(watch);
  watchedFile_ = Utf8ToUtf16(file.data(), file.size());
  std::memset(&io_->overlapped, 0, sizeof io_->overlapped);
  io_->buffer.resize(kNotifyBufferBytes / sizeof(DWORD));
  ClearRow(ChangeTable(), lastRow_.data());
  FillChangeRow(lastRow_.data(), watch_, ChangeRow());
}

FileChangeMonitor::~FileChangeMonitor() {
  RAS1_UNIT("file_change::~file_change");
  Cancel();
  if (dir_ != INVALID_HANDLE_VALUE && !CloseHandle(dir_))
    RAS1_TRACE(RAS1_ERROR, "CloseHandle in file_change destructor failed rc = %lu", GetLastError());
  if (event_) {
    RAS1_TRACE(RAS1_FLOW, "Event closed = %p", event_);
    if (!CloseHandle(event_))
      RAS1_TRACE(RAS1_ERROR, "CloseHandle in file_change destructor failed rc = %lu", GetLastError());
  }
}

bool FileChangeMonitor::Open(RAS1_EPB* unit) {
  dir_ = CreateFileW(PlatformPath(directory_).c_str(), FILE_LIST_DIRECTORY,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  if (dir_ == INVALID_HANDLE_VALUE) {
    FC_TRACE(unit, RAS1_ERROR, "Failure on CreateFile call rc = %lu", GetLastError());
    return false;
  }
  event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event_ == nullptr) {
    FC_TRACE(unit, RAS1_ERROR, "Failure on CreateEvent call rc = %lu", GetLastError());
    return false;
  }
  FC_TRACE(unit, RAS1_FLOW, "Event created = %p", event_);
  return true;
}

bool FileChangeMonitor::Arm() {
  OVERLAPPED* ov = &io_->overlapped;
  std::memset(ov, 0, sizeof *ov);
  ov->hEvent = event_;
  ResetEvent(event_);
  if (!ReadDirectoryChangesW(dir_, io_->buffer.data(), static_cast<DWORD>(io_->buffer.size() * sizeof(DWORD)),
                             subtree_, mask_, nullptr, ov, nullptr)) {
    FC_TRACE(MonitorUnit(), RAS1_ERROR, "ReadDirectoryChangesW() failed with rc = %lu", GetLastError());
    pending_ = false;
    return false;
  }
  pending_ = true;
  return true;
}

void FileChangeMonitor::Cancel() {
  if (!pending_) return;
  OVERLAPPED* ov = &io_->overlapped;
  CancelIoEx(dir_, ov);
  for (int waited = 0; !HasOverlappedIoCompleted(ov) && waited < kCancelWaitMs; waited += 50)
    WaitForSingleObject(event_, 50);
  if (!HasOverlappedIoCompleted(ov)) {
    // The platform may still write into the buffer and the OVERLAPPED: they
    // are left to it rather than freed under it.
    FC_TRACE(MonitorUnit(), RAS1_ERROR, "A cancelled read of %ls did not complete; its buffer is kept",
             directory_.c_str());
    io_.release();
  }
  pending_ = false;
}

void FileChangeMonitor::GoSilent() {
  silent_ = true;
  pending_ = false;
  ResetEvent(event_);
}

void FileChangeMonitor::Service(std::vector<PushedRow>* out) {
  if (!pending_ || !HasOverlappedIoCompleted(&io_->overlapped)) return;
  DWORD bytes = 0;
  BOOL ok = GetOverlappedResult(dir_, &io_->overlapped, &bytes, FALSE);
  Completed(ok != FALSE, bytes, ok ? 0 : GetLastError(), out);
}

void FileChangeMonitor::Completed(bool ok, DWORD bytes, DWORD rc, std::vector<PushedRow>* out) {
  pending_ = false;
  if (!ok) {
    if (rc == ERROR_OPERATION_ABORTED) {
      if (!Arm()) GoSilent();
      return;
    }
    // A deleted directory, for one: nothing will come any more, and the
    // event must not keep the thread awake.
    FC_TRACE(MonitorUnit(), RAS1_ERROR, "GetOverlappedResult() failed with rc = %lu", rc);
    GoSilent();
    return;
  }
  Process(bytes, out);
  if (!Arm()) GoSilent();
}

std::wstring FileChangeMonitor::ExaminedPath(const std::u16string& received) const {
  return directory_ + ToWide(watchedFile_.empty() ? received : watchedFile_);
}

void FileChangeMonitor::Process(DWORD bytes, std::vector<PushedRow>* out) {
  RAS1_EPB* unit = MonitorUnit();
  if (bytes == 0) {
    FC_TRACE(unit, RAS1_ERROR, "Changes in %ls came faster than they were read; some were lost", directory_.c_str());
    return;
  }
  std::size_t valid = std::min<std::size_t>(bytes, io_->buffer.size() * sizeof(DWORD));
  bool intact = true;
  std::vector<ChangeNotice> notices =
      ReadChangeNotices(reinterpret_cast<const unsigned char*>(io_->buffer.data()), valid, &intact);
  if (!intact) FC_TRACE(unit, RAS1_ERROR, "A malformed notification record of %ls was skipped", directory_.c_str());
  ++completions_;
  std::int32_t rowNo = 0;
  for (const ChangeNotice& n : notices) {
    if (n.action < kActionAdded || n.action > kActionRenamedNew) continue;
    if (!watchedFile_.empty() && !SameFileName(n.name, watchedFile_)) continue;
    ChangeRow change;
    change.action = n.action;
    change.name = n.name;
    std::wstring path = ExaminedPath(n.name);
    if (n.action != kActionRemoved && n.action != kActionRenamedOld && path.size() <= kLongestPath)
      change.facts = ExamineFile(path);
    change.hits = ++hits_;
    PushedRow pushed{owner_, std::vector<char>(ChangeTable().rowSize)};
    char* row = pushed.row.data();
    ClearRow(ChangeTable(), row);
    StampRow(ChangeTable(), row, HostNodeName(), completions_, ++rowNo);
    FillChangeRow(row, watch_, change);
    lastRow_ = pushed.row;
    out->push_back(std::move(pushed));
  }
}

void FileChangeMonitor::ReportRow(char* row) {
  std::memcpy(row, lastRow_.data(), lastRow_.size());
  if (!watchedFile_.empty() && ChangeRowHasNoDates(row)) FillChangeFacts(row, ExamineFile(ExaminedPath(u"")));
  StampRow(ChangeTable(), row, HostNodeName(), ++reportPass_, ++reportRow_);
}

// FileChangeService ------------------------------------------------------------

FileChangeService& FileChangeService::Instance() {
  static FileChangeService* service = new FileChangeService();  // outlives static destructors
  return *service;
}

FileChangeService::FileChangeService() : arrayUpdate_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  array_.push_back(arrayUpdate_);
}

bool FileChangeService::Add(std::unique_ptr<FileChangeMonitor> monitor) {
  RAS1_UNIT("file_change::Add");
  std::lock_guard<std::mutex> life(lifeLock_);
  FileChangeMonitor* added = monitor.get();
  {
    std::lock_guard<std::mutex> queue(queueLock_);
    if (queue_.size() >= kMaxMonitors) {
      RAS1_TRACE(RAS1_ERROR, "%d file change monitors are queued, the most one wait can serve; %ls is not watched",
                 static_cast<int>(queue_.size()), added->Directory().c_str());
      return false;
    }
    queue_.push_back(std::move(monitor));
    added->Arm();
    RebuildArray();
    RAS1_TRACE(RAS1_FLOW, "Queue has %d entries.  New array has %d entries.", static_cast<int>(queue_.size()),
               static_cast<int>(queue_.size() + 1));
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread(&FileChangeService::Run, this);
        RAS1_TRACE(RAS1_FLOW, "File Change Thread launched");
      } catch (const std::system_error& e) {
        RAS1_TRACE(RAS1_ERROR, "Start Thread failed with rc = %d", e.code().value());
      }
    }
  }
  if (WatchesSubtree(added->Watch())) ListDirectoriesBelow(added->Directory());
  return true;
}

void FileChangeService::RemoveOwnedBy(unsigned owner) {
  std::lock_guard<std::mutex> life(lifeLock_);
  std::vector<std::unique_ptr<FileChangeMonitor>> removed;
  bool last;
  std::uint64_t generation;
  {
    std::lock_guard<std::mutex> queue(queueLock_);
    for (auto it = queue_.begin(); it != queue_.end();) {
      if ((*it)->Owner() == owner) {
        removed.push_back(std::move(*it));
        it = queue_.erase(it);
      } else {
        ++it;
      }
    }
    if (removed.empty()) return;
    RebuildArray();
    last = queue_.empty();
    std::lock_guard<std::mutex> array(arrayLock_);
    generation = generation_;
  }
  for (auto& m : removed) m->Cancel();
  // The events may be closed only once the thread no longer waits on them.
  if (last && thread_.joinable()) thread_.join();
  else if (thread_.joinable()) WaitUntilTaken(generation);
  removed.clear();
}

void FileChangeService::ReportRows(const std::function<void(const char* row)>& each) {
  std::vector<char> row(ChangeTable().rowSize);
  std::lock_guard<std::mutex> queue(queueLock_);
  for (auto& m : queue_) {
    m->ReportRow(row.data());
    each(row.data());
  }
}

std::size_t FileChangeService::Count() {
  std::lock_guard<std::mutex> queue(queueLock_);
  return queue_.size();
}

void FileChangeService::RebuildArray() {
  std::vector<HANDLE> handles;
  handles.reserve(queue_.size() + 1);
  handles.push_back(arrayUpdate_);
  for (auto& m : queue_) handles.push_back(m->Event());
  std::lock_guard<std::mutex> array(arrayLock_);
  array_.swap(handles);
  ++generation_;
  stopping_ = queue_.empty();
  SetEvent(arrayUpdate_);
}

bool FileChangeService::TakeArray(std::vector<HANDLE>* copy) {
  std::lock_guard<std::mutex> array(arrayLock_);
  // Reset before the copy: an update made after this point sets it again.
  ResetEvent(arrayUpdate_);
  *copy = array_;
  takenGeneration_ = generation_;
  taken_.notify_all();
  return stopping_;
}

void FileChangeService::WaitUntilTaken(std::uint64_t generation) {
  std::unique_lock<std::mutex> array(arrayLock_);
  taken_.wait(array, [&] { return takenGeneration_ >= generation; });
}

void FileChangeService::Run() {
  RAS1_EPB* unit = ThreadUnit();
  std::vector<HANDLE> handles;
  bool stop = TakeArray(&handles);
  while (!stop) {
    DWORD rc = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
    ++wakeups_;
    if (rc == WAIT_OBJECT_0) {
      FC_TRACE(unit, RAS1_DETAIL,
               "fcGlobalEventArray has been updated. Retrieving new array for WaitForMultipleObjects()");
      stop = TakeArray(&handles);
    } else if (rc > WAIT_OBJECT_0 && rc < WAIT_OBJECT_0 + handles.size()) {
      FC_TRACE(unit, RAS1_DETAIL, "WaitForMultipleObjects returned for event No. %lu. ", rc - WAIT_OBJECT_0);
      ServiceAll();
    } else {
      FC_TRACE(unit, RAS1_ERROR, "WaitForMultipleObjects failed rc = %lu", GetLastError());
      Sleep(5);
      stop = TakeArray(&handles);
    }
  }
}

void FileChangeService::ServiceAll() {
  std::vector<PushedRow> rows;
  {
    std::lock_guard<std::mutex> queue(queueLock_);
    if (queue_.empty())
      FC_TRACE(ThreadUnit(), RAS1_ERROR,
               "No fc_mon on the queue, so we can't service the file change. This should never happen.");
    for (auto& m : queue_) m->Service(&rows);
  }
  Deliver(rows);
}

}  // namespace files
}  // namespace osm

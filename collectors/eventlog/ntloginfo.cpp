// NTLOGINFO: one row per supported event log describing its file: size
// against the configured maximum, record count, retention and path. A log
// read from a backup file is described by that file and its header.
#include <cstring>
#include <vector>

#include "collectors/eventlog/classic_source.h"
#include "collectors/eventlog/evm_eventlog.h"
#include "collectors/eventlog/evt_rows.h"
#include "framework/ras1.h"
#include "tables/tables.h"

using namespace osm::evl;

namespace {

bool LocalTime(const FILETIME& utc, OsmSystemTime* out) {
  RAS1_UNIT("osm_ntloginfo_agent::ReadLogInfo");
  FILETIME local;
  if (!FileTimeToLocalFileTime(&utc, &local)) {
    RAS1_TRACE(RAS1_ERROR, "FileTimeToLocalFileTime Error rc = %ld", static_cast<long>(GetLastError()));
    return false;
  }
  if (!FileTimeToSystemTime(&local, out)) {
    RAS1_TRACE(RAS1_ERROR, "FileTimeToSystemTime Error rc = %ld", static_cast<long>(GetLastError()));
    return false;
  }
  return true;
}

bool RegistryNumber(const std::wstring& keyPath, const wchar_t* name, std::uint64_t* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  std::uint64_t v = 0;
  DWORD type = 0, size = sizeof v;
  LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&v), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return false;
  if (type == REG_DWORD && size == 4) v &= 0xFFFFFFFFull;
  else if (type != REG_QWORD || size != 8) return false;
  *value = v;
  return true;
}

bool RecordCount(const char* name, std::uint64_t* count) {
  RAS1_UNIT("osm_ntloginfo_agent::ReadLogInfo");
  std::unique_ptr<ClassicLog> log = OpenClassicLog(name);
  if (!log) {
    RAS1_TRACE(RAS1_ERROR, "Could Not Open Event Event Log: %s, rc = %ld", name, static_cast<long>(GetLastError()));
    return false;
  }
  DWORD n = 0;
  if (!log->Count(&n)) {
    RAS1_TRACE(RAS1_ERROR, "Could Not Obtain record count for Event Log: %s, rc = %ld", name,
               static_cast<long>(GetLastError()));
    return false;
  }
  *count = n;
  return true;
}

// One log's information; false leaves the log out of this sample.
bool ReadLogInfo(int logType, LogInfo* info) {
  RAS1_UNIT("osm_ntloginfo_agent::ReadLogInfo");
  const char* name = LogName(logType);
  info->logName = Widen(name);
  info->logType = logType;
  FILETIME written{};
  if (std::shared_ptr<RecordStore> store = StoreFor(name)) {
    StoreFileInfo f;
    if (!store->FileInfo(&f)) {
      RAS1_TRACE(RAS1_ERROR, "FileSize Api failure rc = %ld", static_cast<long>(GetLastError()));
      return false;
    }
    info->path = f.path;
    info->currentSize = f.size;
    info->maxSize = f.maxSize;
    info->retention = f.retention;
    written = f.lastWrite;
  } else {
    LogLocation where = LocateLog(logType);
    if (!where.valid) {
      RAS1_TRACE(RAS1_ERROR, "File Api failure rc = %ld", static_cast<long>(ERROR_FILE_NOT_FOUND));
      return false;
    }
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(where.filePath.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) {
      RAS1_TRACE(RAS1_ERROR, "Invalid Handle Value from CreateFile rc = %ld", static_cast<long>(GetLastError()));
      RAS1_TRACE(RAS1_ERROR, "FileSize Api failure rc = %ld", static_cast<long>(GetLastError()));
      return false;
    }
    FindClose(h);
    info->currentSize = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    written = found.ftLastWriteTime;
    if (!RegistryNumber(where.registryPath, L"MaxSize", &info->maxSize)) {
      RAS1_TRACE(RAS1_ERROR, "MaxSize Api failure rc = %ld", static_cast<long>(ERROR_FILE_NOT_FOUND));
      return false;
    }
    std::uint64_t retention = 0;
    if (!RegistryNumber(where.registryPath, L"Retention", &retention)) {
      RAS1_TRACE(RAS1_ERROR, "Retention Api failure rc = %ld", static_cast<long>(ERROR_FILE_NOT_FOUND));
      return false;
    }
    info->retention = static_cast<std::uint32_t>(retention);
    info->path = WText(where.filePath.begin(), where.filePath.end());
  }
  if (!LocalTime(written, &info->modified)) {
    RAS1_TRACE(RAS1_ERROR, "FileTime Api failure rc = %ld", static_cast<long>(GetLastError()));
    return false;
  }
  if (!RecordCount(name, &info->recordCount)) {
    RAS1_TRACE(RAS1_ERROR, "NumberOfRecords Api failure rc = %ld", static_cast<long>(GetLastError()));
    return false;
  }
  return true;
}

bool Present(int logType) {
  if (logType < 3 || StoreFor(LogName(logType))) return true;
  std::string path = std::string("SYSTEM\\CurrentControlSet\\Services\\Eventlog\\") + LogName(logType);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

}  // namespace

class osm_ntloginfo_agent : public osm_ntloginfo_base {
 public:
  osm_ntloginfo_agent(RequestDetail& d, ContextInfo& c, TableManager* m) : osm_ntloginfo_base(d, c, m) {
    RAS1_UNIT("osm_ntloginfo_agent::TakeSampleConstructor");
    RAS1_TRACE(RAS1_FLOW, "TakeSampleConstructor Function called object: %p", static_cast<void*>(this));
    for (int type = 0; type < kLogCount; ++type)
      if (Present(type)) logs_.push_back(type);
  }
  ~osm_ntloginfo_agent() override {
    RAS1_UNIT("osm_ntloginfo_agent::TakeSampleDestructor");
    RAS1_TRACE(RAS1_FLOW, "TakeSampleDestructor Function called object: %p", static_cast<void*>(this));
  }
  int TakeSample() override {
    RAS1_UNIT("osm_ntloginfo_agent::TakeSample");
    RAS1_TRACE(RAS1_FLOW, "TakeSample Function called object: %p", static_cast<void*>(this));
    char stamp[17];
    FormatTimestampNowZeroFilled(stamp, sizeof stamp);
    std::vector<char> row(osm_ntloginfo_def().rowSize);
    int status = 0;
    for (int type : logs_) {
      LogInfo info;
      if (!ReadLogInfo(type, &info)) continue;  // left out of this sample only
      BuildLogInfoRow(row.data(), info, stamp);
      int rc = AddData(row.data(), 1);
      if (rc != 0) status = rc;
    }
    return status;
  }

 private:
  std::vector<int> logs_;  // System, Security, Application, then those present of 3 to 5
};

OSM_AGENT(ntloginfo, osm_ntloginfo_agent)

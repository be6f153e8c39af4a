#include "perfsvc/perf_registry_source.h"

#include "framework/ras1.h"
#include "perfsvc/perf_file_source.h"
#include "perfsvc/perf_source_select.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <mutex>
#include <vector>

namespace osmperf {

namespace {

const char kPerflibKey[] = "software\\microsoft\\windows nt\\currentversion\\perflib";
const char kPerflib009Key[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009";
const char kPerflib009Lower[] = "software\\microsoft\\windows nt\\currentversion\\perflib\\009";

}  // namespace

struct CRegistryPerfSource::Impl {
  std::string computer;
  HKEY root = nullptr;      // HKEY_LOCAL_MACHINE of the computer
  bool remote = false;
  LONG connectRc = ERROR_SUCCESS;
};

CRegistryPerfSource::CRegistryPerfSource(const char* computerName) : impl_(new Impl) {
  RAS1_UNIT("CRegistryPerfSource");
  if (computerName != nullptr && *computerName != 0) {
    impl_->computer = computerName;
    impl_->remote = true;
    impl_->connectRc = RegConnectRegistryA(computerName, HKEY_LOCAL_MACHINE, &impl_->root);
    if (impl_->connectRc != ERROR_SUCCESS) {
      impl_->root = nullptr;
      RAS1_TRACE(RAS1_ERROR, "RegConnectRegistry(%s) failed, rc=%ld", computerName,
                 static_cast<long>(impl_->connectRc));
    }
  } else {
    impl_->root = HKEY_LOCAL_MACHINE;
  }
}

CRegistryPerfSource::~CRegistryPerfSource() {
  if (impl_->remote && impl_->root != nullptr) RegCloseKey(impl_->root);
}

long CRegistryPerfSource::QueryLastIndexes(std::uint32_t* lastCounter, std::uint32_t* lastHelp,
                                           PerfSourceStage* stage) {
  if (impl_->root == nullptr) {
    *stage = PerfSourceStage::Connect;
    return impl_->connectRc != ERROR_SUCCESS ? impl_->connectRc : ERROR_INVALID_HANDLE;
  }
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(impl_->root, kPerflibKey, 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) {
    *stage = PerfSourceStage::OpenPerflib;
    return rc;
  }
  DWORD value = 0, size = sizeof value, type = 0;
  rc = RegQueryValueExA(key, "Last Counter", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  if (rc == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof value)) rc = ERROR_INVALID_DATA;
  if (rc != ERROR_SUCCESS) {
    RegCloseKey(key);
    *stage = PerfSourceStage::LastCounter;
    return rc;
  }
  *lastCounter = value;
  value = 0;
  size = sizeof value;
  rc = RegQueryValueExA(key, "Last Help", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  if (rc == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof value)) rc = ERROR_INVALID_DATA;
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    *stage = PerfSourceStage::LastHelp;
    return rc;
  }
  *lastHelp = value;
  return ERROR_SUCCESS;
}

long CRegistryPerfSource::QueryCounterNames(std::u16string* multiString, PerfSourceStage* stage) {
  RAS1_UNIT("CRegistryPerfSource::QueryCounterNames");
  HKEY perf = HKEY_PERFORMANCE_DATA;
  if (impl_->remote) {
    LONG rc = RegConnectRegistryA(impl_->computer.c_str(), HKEY_PERFORMANCE_DATA, &perf);
    if (rc != ERROR_SUCCESS) {
      *stage = PerfSourceStage::ConnectPerfData;
      return rc;
    }
  }
  std::vector<wchar_t> data;
  DWORD size = 0, type = 0;
  LONG rc = RegQueryValueExW(perf, L"Counter 009", nullptr, &type, nullptr, &size);
  if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
      DWORD capacity = size + 2 * sizeof(wchar_t);
      try {
        data.assign(capacity / sizeof(wchar_t) + 1, L'\0');
      } catch (const std::bad_alloc&) {
        rc = ERROR_NOT_ENOUGH_MEMORY;
        *stage = PerfSourceStage::OutOfMemory;
        break;
      }
      size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
      rc = RegQueryValueExW(perf, L"Counter 009", nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
      if (rc != ERROR_MORE_DATA) break;
      size = capacity + 65536;
    }
  }
  if (impl_->remote && RegCloseKey(perf) != ERROR_SUCCESS)
    RAS1_TRACE(RAS1_ERROR, "Unable to close remote registry");
  if (rc != ERROR_SUCCESS) {
    if (*stage != PerfSourceStage::OutOfMemory) *stage = PerfSourceStage::ReadCounterNames;
    return rc;
  }
  std::size_t units = size / sizeof(wchar_t);
  if (units > data.size()) units = data.size();
  multiString->assign(units, u'\0');
  for (std::size_t i = 0; i < units; ++i) (*multiString)[i] = static_cast<char16_t>(data[i]);
  multiString->push_back(u'\0');
  return ERROR_SUCCESS;
}

long CRegistryPerfSource::QueryCounterText(std::string* multiString, PerfSourceStage* stage) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPerflib009Key, 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) {
    *stage = PerfSourceStage::Open009;
    return rc;
  }
  DWORD maxValueLength = 0;
  rc = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                        &maxValueLength, nullptr, nullptr);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    *stage = PerfSourceStage::Info009;
    return rc;
  }
  std::vector<char> data;
  DWORD size = maxValueLength + 1;
  DWORD type = 0;
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    try {
      data.assign(static_cast<std::size_t>(size) + 2, '\0');
    } catch (const std::bad_alloc&) {
      *stage = PerfSourceStage::OutOfMemory;
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD got = size;
    rc = RegQueryValueExA(HKEY_PERFORMANCE_TEXT, "Counter", nullptr, &type,
                          reinterpret_cast<BYTE*>(data.data()), &got);
    if (rc == ERROR_SUCCESS) {
      if (got > size) got = size;
      multiString->assign(data.data(), got);
      multiString->push_back('\0');
      multiString->push_back('\0');
      return ERROR_SUCCESS;
    }
    if (rc != ERROR_MORE_DATA) break;
    size = (got > size ? got : size) + 65536;
  }
  *stage = PerfSourceStage::ReadCounterText;
  return rc;
}

long CRegistryPerfSource::QueryData(const char* request, std::uint8_t* buffer, std::uint32_t* size) {
  HKEY key = nullptr;
  HKEY use = HKEY_PERFORMANCE_DATA;
  // A value query on Perflib\009 returns performance data too.
  if (impl_->root != nullptr &&
      RegOpenKeyExA(impl_->root, kPerflib009Lower, 0, KEY_READ, &key) == ERROR_SUCCESS)
    use = key;
  DWORD type = 0;
  DWORD got = *size;
  LONG rc = RegQueryValueExA(use, request, nullptr, &type, buffer, &got);
  RegCloseKey(use);
  if (rc == ERROR_SUCCESS) {
    *size = got;
  } else if (rc == ERROR_MORE_DATA) {
    *size = 0;  // the size a performance query reports is not reliable
  }
  return rc;
}

std::string CRegistryPerfSource::ErrorText(long code) const {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out;
  if (n != 0 && text != nullptr) out.assign(text, n);
  if (text != nullptr) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

std::unique_ptr<IPerfDataSource> OsmCreatePerfSource(const char* computerName) {
  RAS1_UNIT("OsmCreatePerfSource");
  std::unique_ptr<IPerfDataSource> configured = CreateConfiguredPerfSource(computerName);
  if (configured) return configured;
  std::unique_ptr<IPerfDataSource> file = CreateFilePerfSourceFromEnvironment();
  if (file) return file;
  RAS1_TRACE(RAS1_FLOW, "Performance data from the registry of '%s'",
             computerName && *computerName ? computerName : "(local)");
  return std::unique_ptr<IPerfDataSource>(new CRegistryPerfSource(computerName));
}

UtcToLocalFn WindowsUtcToLocal() {
  static std::once_flag once;
  static TIME_ZONE_INFORMATION zone;
  static bool haveZone = false;
  std::call_once(once, [] { haveZone = GetTimeZoneInformation(&zone) != TIME_ZONE_ID_INVALID; });
  return [](const PerfSystemTime& utc, PerfSystemTime* local) {
    SYSTEMTIME in{utc.wYear, utc.wMonth, utc.wDayOfWeek, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond,
                  utc.wMilliseconds};
    SYSTEMTIME out{};
    if (!SystemTimeToTzSpecificLocalTime(haveZone ? &zone : nullptr, &in, &out)) return false;
    local->wYear = out.wYear;
    local->wMonth = out.wMonth;
    local->wDayOfWeek = out.wDayOfWeek;
    local->wDay = out.wDay;
    local->wHour = out.wHour;
    local->wMinute = out.wMinute;
    local->wSecond = out.wSecond;
    local->wMilliseconds = out.wMilliseconds;
    return true;
  };
}

bool OsmWorkingSetBytes(std::uint64_t* bytes) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return false;
  *bytes = counters.WorkingSetSize;
  return true;
}

}  // namespace osmperf

// WTREGISTRY: a sampled situation monitors the registry value its filter
// names and ships one row per sample; a report ships one row for every value
// that an open situation monitors. The registry is read with the wide
// functions and query access only; the conversion lives in registry_values.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "collectors/files/change_notices.h"
#include "collectors/files/file_facts.h"
#include "collectors/files/watch_spec.h"
#include "collectors/registry/registry_values.h"
#include "tables/tables.h"

namespace {

using osm::registry::Monitor;

const char kAgentClass[] = "osm_wtregistry_agent";

// The monitors of the open sampled situations, in the order they opened.
struct MonitorList {
  std::mutex lock;
  std::vector<Monitor> monitors;
};

MonitorList& Monitors() {
  static MonitorList* list = new MonitorList();  // outlives static destructors
  return *list;
}

std::atomic<std::int32_t> g_sampleNo{0};

// A predefined key from its handle value, sign-extended as the platform's own
// constants are.
HKEY PredefinedKey(std::uint32_t handle) {
  return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<std::int32_t>(handle)));
}

std::wstring Wide(const std::string& utf8) {
  return osm::files::ToWide(osm::files::Utf8ToUtf16(utf8.data(), utf8.size()));
}

// The value's type and data: kReadOk, or kReadNoKey when the key cannot be
// opened, kReadNoValue when it has no such value, kReadFailed otherwise (a
// value larger than kValueBufferSize included).
int ReadValue(HKEY root, const Monitor& m, DWORD* type, std::vector<unsigned char>* data) {
  std::wstring path = Wide(m.keyPath), name = Wide(m.valueName);
  // A value of the root itself is queried on the root: the performance roots
  // answer only there, and closing them releases what the query loaded.
  HKEY key = root;
  if (!path.empty() && RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS &&
      RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
    return osm::registry::kReadNoKey;
  DWORD size = static_cast<DWORD>(data->size());
  LONG rc = RegQueryValueExW(key, name.c_str(), nullptr, type, data->data(), &size);
  if (key != root || osm::registry::IsPerformanceRoot(m.rootKey)) RegCloseKey(key);
  if (rc == ERROR_FILE_NOT_FOUND) return osm::registry::kReadNoValue;
  if (rc != ERROR_SUCCESS || size > data->size()) return osm::registry::kReadFailed;
  data->resize(size);
  return osm::registry::kReadOk;
}

}  // namespace

class osm_wtregistry_agent : public osm_wtregistry_base {
 public:
  osm_wtregistry_agent(RequestDetail& d, ContextInfo& c, TableManager* m) : osm_wtregistry_base(d, c, m) {
    TakeSampleConstructor();
  }
  ~osm_wtregistry_agent() override { TakeSampleDestructor(); }

  int TakeSample() override {
    RAS1_ENTRY("osm_wtregistry_agent::TakeSample");
    osm::files::WriteProgress(kAgentClass, "TakeSample", "  ");
    DiscardRows();
    if (detail.sampleType == DCF_SAMPLE_SITUATION) {
      std::int32_t rowNo = 0;
      return ReadMonitorValue(monitor_, &rowNo, &RAS1__EPB_);
    }
    if (detail.sampleType != DCF_SAMPLE_REPORT) return 0;
    MonitorList& list = Monitors();
    std::lock_guard<std::mutex> guard(list.lock);
    std::int32_t rowNo = 0;
    for (const Monitor& m : list.monitors) {
      std::fprintf(stderr, "%s::AddData_for_queue()  monitor \n", kAgentClass);
      std::fflush(stderr);
      int rc = ReadMonitorValue(m, &rowNo, &RAS1__EPB_);
      if (rc != 0) return rc;
    }
    return 0;
  }

 private:
  void TakeSampleConstructor() {
    RAS1_ENTRY("osm_wtregistry_agent::TakeSampleConstructor");
    osm::files::WriteProgress(kAgentClass, "TakeSampleConstructor", "  ");
    if (detail.sampleType != DCF_SAMPLE_SITUATION) return;
    monitor_ = osm::registry::BuildMonitor(osm::files::FilterEntries(*this), &RAS1__EPB_);
    MonitorList& list = Monitors();
    std::lock_guard<std::mutex> guard(list.lock);
    list.monitors.push_back(monitor_);
  }

  void TakeSampleDestructor() {
    osm::files::WriteProgress(kAgentClass, "TakeSampleDestructor", "  ");
    if (detail.sampleType != DCF_SAMPLE_SITUATION) return;
    MonitorList& list = Monitors();
    std::lock_guard<std::mutex> guard(list.lock);
    auto it = std::find(list.monitors.begin(), list.monitors.end(), monitor_);
    if (it != list.monitors.end()) list.monitors.erase(it);
  }

  // Reads the monitored value and hands its row to AddData; a value that
  // cannot be read gives no row. *rowNo counts the rows of the sample.
  int ReadMonitorValue(const Monitor& m, std::int32_t* rowNo, RAS1_EPB* unit) {
    std::uint32_t root = osm::registry::RootKeyHandle(m.rootKey);
    if (root == 0) {
      if (RAS1_Mask(unit) & RAS1_ERROR) RAS1_Printf(unit, __LINE__, "Unknown filter %d", static_cast<int>(m.rootKey));
      return 0;
    }
    DWORD type = 0;
    std::vector<unsigned char> data(osm::registry::kValueBufferSize);
    int rc = ReadValue(PredefinedKey(root), m, &type, &data);
    if (rc != osm::registry::kReadOk) {
      if (RAS1_Mask(unit) & RAS1_ERROR) RAS1_Printf(unit, __LINE__, "Error retrieving registry data: rc=%d", rc);
      return 0;
    }
    osm::registry::ConvertedValue value = osm::registry::ConvertValue(type, data.data(), data.size());
    if (!value.handled && (RAS1_Mask(unit) & RAS1_ERROR))
      RAS1_Printf(unit, __LINE__, "Can not handle registry value type %d", static_cast<int>(type));
    if (value.saturated) {
      const char* name = m.valueName.c_str();
      if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "Overflow on %s, returning max int.", name);
      std::printf("Overflow on %s with value of %s. Returning max int of %d\n", name,
                  std::to_string(value.quad).c_str(), 2147483647);
      std::fflush(stdout);
    }
    osm::inventory::RowRecord row = osm::registry::MakeRow(m, type, value, ++g_sampleNo, ++*rowNo);
    return AddData(row.data(), 1);
  }

  Monitor monitor_;
};
OSM_AGENT(wtregistry, osm_wtregistry_agent)

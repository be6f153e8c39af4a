// WEBSVC, SMTPSRV, MSMQQUE and PRINTQ: service-application objects whose
// rows are completed before they are handed over. On a machine without the
// application the fetch finds no object and the table answers with no rows.
#include "collectors/perf/service_app_tables.h"

#include <cstring>

#include "collectors/perf/perf_collector.h"
#include "collectors/perf/service_app_values.h"
#include "collectors/perf/system_identity.h"
#include "tables/tables.h"

namespace osm {
namespace perf {

namespace {

// Present only where the web server's counters are installed; without it
// the pickup directory queue length is not maintained.
const char kIisCountersKey[] = "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\IISInfoCtrs";

template <class Fn>
Fn EntryPoint(HMODULE module, const char* name) {
  // Through the generic function type, which converts to any other.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

std::string ToAnsi(const wchar_t* text, std::size_t length) {
  int n = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), &out[0], n, nullptr, nullptr);
  return out;
}

std::string IdentityOsVersion() {
  const SystemIdentity& id = SystemIdentityRecord();
  return std::string(id.osVersion, sizeof id.osVersion);
}

bool IisCountersKeyExists(RAS1_EPB* unit) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kIisCountersKey, 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) {
    if (RAS1_Mask(unit) & RAS1_DETAIL)
      RAS1_Printf(unit, __LINE__, "Could not open or unable to find registry key %s, return code = %ld.",
                  kIisCountersKey, static_cast<long>(rc));
    return false;
  }
  rc = RegCloseKey(key);
  if (rc != ERROR_SUCCESS && (RAS1_Mask(unit) & RAS1_DETAIL))
    RAS1_Printf(unit, __LINE__, "Could not close registry key %s, return code = %ld.", kIisCountersKey,
                static_cast<long>(rc));
  return true;
}

void CompleteWebServiceRows(FetchedRows& rows, RAS1_EPB*) {
  for (int i = 0; i < rows.count; ++i) MarkWebServiceRow(rows.Row(i));
}

void CompleteSmtpRows(FetchedRows& rows, RAS1_EPB* unit) {
  OSVERSIONINFOEXA v;
  std::memset(&v, 0, sizeof v);
  v.dwOSVersionInfoSize = sizeof v;
  if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&v))) std::memset(&v, 0, sizeof v);
  int major = static_cast<int>(v.dwMajorVersion), minor = static_cast<int>(v.dwMinorVersion);
  RAS1_Printf(unit, __LINE__, "Windows Version %d - %d.", major, minor);
  bool unavailable = SmtpRetrievedUnavailable(major, minor, v.wProductType);
  bool found = IisCountersKeyExists(unit);
  RAS1_Printf(unit, __LINE__, "Found Registry key for IIS?: %d.", found ? 1 : 0);
  for (int i = 0; i < rows.count; ++i) MarkSmtpRow(rows.Row(i), unavailable, found);
}

void CompletePrintQueueRows(FetchedRows& rows, RAS1_EPB* unit) {
  // Copied out under the System buffer's own lock; a sample of no rows has
  // no up time, whatever its buffer held before.
  FetchedRows system;
  HRESULT hr = Fetch("WTSYSTEM", &system);
  std::int32_t days = 0;
  if (hr == S_OK &&
      UpTimeDaysOf(system.bytes.data(), static_cast<std::size_t>(system.count), system.rowSize, &days)) {
    if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "System up time, in days: <%d>\n", days);
  } else {
    if (RAS1_Mask(unit) & RAS1_ERROR)
      RAS1_Printf(unit, __LINE__, "OSM11001E Error getting system up time information: <%x>\n",
                  static_cast<unsigned>(hr));
    days = 0;
  }
  for (int i = 0; i < rows.count; ++i) CompletePrintQueueRow(rows.Row(i), days);
}

void CompleteQueueRows(FetchedRows& rows, RAS1_EPB* unit) {
  const QueueNameSources& sources = QueueNameSourcesHook();
  std::string version = sources.osVersion();
  if (!CompletesLongQueueNames(version.c_str(), version.size())) return;
  std::vector<std::string> active;
  bool listed = false;
  for (int i = 0; i < rows.count; ++i) {
    char* row = rows.Row(i);
    std::string shortName = FullShortQueueName(row);
    if (shortName.empty()) continue;  // a shorter name is whole: the sample's long name stays
    if (!listed) {
      // Without the runtime nothing is known of the queues: the names stay as sampled.
      if (!ListActiveQueues(sources.runtime(), &active)) return;
      listed = true;
    }
    if (RAS1_Mask(unit) & RAS1_DETAIL)
      for (const std::string& name : active) {
        RAS1_Printf(unit, __LINE__, "Attempting match for Long MSMQ queue name %s\n", name.c_str());
        RAS1_Printf(unit, __LINE__, "using short MSMQ queue name %s\n", shortName.c_str());
      }
    CompleteQueueName(row, shortName, active);
  }
}

const CollectorSpec kWebSvc = {"WEBSVC", nullptr, ProgressForm::kDotted, nullptr, nullptr, &CompleteWebServiceRows};
const CollectorSpec kSmtpSrv = {"SMTPSRV", nullptr, ProgressForm::kDotted, nullptr, nullptr, &CompleteSmtpRows};
const CollectorSpec kMsmqQue = {"MSMQQUE", nullptr, ProgressForm::kSpaced3, nullptr, nullptr, &CompleteQueueRows};
const CollectorSpec kPrintQ = {"PRINTQ", "Print Queue", ProgressForm::kDotted, nullptr, nullptr,
                               &CompletePrintQueueRows};

}  // namespace

MqRuntime LoadMqRuntime(const char* library) {
  MqRuntime runtime;
  HMODULE module = LoadLibraryA(library);
  if (module == nullptr) return runtime;
  runtime.getInfo = EntryPoint<decltype(runtime.getInfo)>(module, "MQMgmtGetInfo");
  runtime.freeMemory = EntryPoint<decltype(runtime.freeMemory)>(module, "MQFreeMemory");
  if (!runtime.Usable()) {
    FreeLibrary(module);
    return MqRuntime();
  }
  return runtime;  // the library stays loaded for the process
}

const MqRuntime& ProcessMqRuntime() {
  static const MqRuntime runtime = LoadMqRuntime("mqrt.dll");
  return runtime;
}

bool ListActiveQueues(const MqRuntime& runtime, std::vector<std::string>* names) {
  names->clear();
  if (!runtime.Usable()) return false;
  MGMTPROPID id = PROPID_MGMT_MSMQ_ACTIVEQUEUES;
  MQPROPVARIANT value;
  std::memset(&value, 0, sizeof value);
  value.vt = VT_NULL;
  MQMGMTPROPS props;
  props.cProp = 1;
  props.aPropID = &id;
  props.aPropVar = &value;
  props.aStatus = nullptr;
  if (FAILED(runtime.getInfo(nullptr, MO_MACHINE_TOKEN, &props))) return true;
  if (value.vt != (VT_VECTOR | VT_LPWSTR)) return true;
  // Each name and then the array are the runtime's to free.
  for (ULONG i = 0; i < value.calpwstr.cElems; ++i) {
    LPWSTR name = value.calpwstr.pElems[i];
    if (name == nullptr) continue;
    std::size_t length = wcslen(name);
    if (length > 0 && length < 65536) names->push_back(ToAnsi(name, length));
    runtime.freeMemory(name);
  }
  if (value.calpwstr.pElems) runtime.freeMemory(value.calpwstr.pElems);
  return true;
}

QueueNameSources& QueueNameSourcesHook() {
  static QueueNameSources sources = {&IdentityOsVersion, &ProcessMqRuntime};
  return sources;
}

}  // namespace perf
}  // namespace osm

OSM_PERF_AGENT(websvc, osm::perf::kWebSvc)
OSM_PERF_AGENT(smtpsrv, osm::perf::kSmtpSrv)
OSM_PERF_AGENT(msmqque, osm::perf::kMsmqQue)
OSM_PERF_AGENT(printq, osm::perf::kPrintQ)

#include "host/mxmain.h"

#include <objbase.h>
#include <process.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <sstream>
#include <string>

#include "collectors/perf/system_identity.h"
#include "framework/cfw.h"
#include "framework/ras1.h"
#include "framework/wdc.h"
#include "host/messages.h"
#include "host/metrics_status.h"
#include "host/service.h"
#include "host/table_binding.h"
#include "perfclient/osmclient.h"
#include "support/fields.h"
#include "support/registry.h"

namespace {

const char kPerflibKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009";
const char kVendorKey[] = "SOFTWARE\\Velmor";
const char kAgentDefaultsKey[] = "SOFTWARE\\Velmor\\Install\\AgentDefaults";
const char kIisKey[] = "SOFTWARE\\Microsoft\\INetMgr\\Parameters";

// Set once per process: the counter object exists (created or being created).
bool g_kounterExists = false;

unsigned __stdcall InvokeFW(void*) {
  RAS1_UNIT("InvokeFW");
  RAS1_TRACE(RAS1_DETAIL, "InvokeFW:  Attached.");
  RAS1_TRACE(RAS1_DETAIL, "InvokeFW:  Calling cfwmain to get agent started.");
  char name[] = "mx_agent";
  char empty[] = "";
  char* argv[] = {name, empty, nullptr};
  return static_cast<unsigned>(cfwmain(1, argv));
}

void TraceEnvironment() {
  RAS1_UNIT("MxMain");
  static const char* const kNames[] = {"BSL_RAS1",       "CNX_PORTS",     "CNX_FAMILIES",
                                       "CNX_GLBSITES",   "DCFA_CELL_NAME", "DCFA_HOSTNAME",
                                       "DCFA_NODETYPE",  "DCFA_SUBSYSTEM_ID", "CRXRTE_DIR"};
  if (!(RAS1_LEVEL() & RAS1_DETAIL)) return;
  for (const char* name : kNames) {
    const char* value = BSS1_GetEnv(name, 0);
    RAS1_ALWAYS("%s=%s", name, value ? value : "(null)");
  }
}

// A start-up failure: noted for the service's exit code, then returned.
int Fail(int rc, StartFailure why) {
  InterlockedExchange(&g_startFailure, why);
  return rc;
}

}  // namespace

std::string RegistryText(const char* data, DWORD size, DWORD capacity) {
  // The registry need not store the terminator, nor the system add one.
  std::size_t n = size < capacity ? size : capacity;
  std::size_t end = 0;
  while (end < n && data[end] != '\0') ++end;
  return std::string(data, end);
}

namespace {

// Reads CRXRTE_DIR from the agent defaults, in the native then the 32-bit view.
void LoadRuntimeDirectory() {
  RAS1_UNIT("MxMain");
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAgentDefaultsKey, 0, KEY_READ, &key) != ERROR_SUCCESS &&
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAgentDefaultsKey, 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
    RAS1_TRACE(RAS1_DETAIL, "MxMain: Failed opening Velmor\\Install\\AgentDefaults key\n");
    return;
  }
  char value[1024 + 1];
  DWORD size = 1024, type = 0;
  if (RegQueryValueExA(key, "CRXRTE_DIR", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::string assignment = "CRXRTE_DIR=" + RegistryText(value, size, 1024);
    BSS1_PutEnv(assignment.c_str());
  } else {
    RAS1_TRACE(RAS1_DETAIL, "MxMain: Failed reading CRXRTE_DIR\n");
  }
  RegCloseKey(key);
}

// The first integer of a string resource, 0 when there is none.
int FirstInteger(UINT id) {
  char text[256];
  LoadAgentString(id, text, sizeof text);
  return std::atoi(text);
}

// Waits for the framework thread while pumping this thread's messages.
DWORD WaitForFramework(HANDLE thread) {
  RAS1_UNIT("MxMain");
  for (;;) {
    DWORD rc = MsgWaitForMultipleObjects(1, &thread, FALSE, 10000, QS_ALLINPUT);
    if (rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED_0) {
      InterlockedExchange(&g_frameworkRunning, 0);
      RAS1_TRACE(RAS1_DETAIL, "MxMain: CFWMAIN thread handle posted");
      return 0;
    }
    if (rc == WAIT_OBJECT_0 + 1) {
      MSG msg;
      if (GetMessageA(&msg, nullptr, 0, 0) == 1) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      continue;
    }
    if (rc == WAIT_TIMEOUT || rc == WAIT_IO_COMPLETION) continue;
    RAS1_TRACE(RAS1_ERROR, "MxMain: wait for the framework thread failed (%lu, error %lu)",
               static_cast<unsigned long>(rc), static_cast<unsigned long>(GetLastError()));
    return rc;
  }
}

}  // namespace

void Call_DCF_RegisterAgent() {
  DCF_RegisterAgentLoader(LoadAgents);
  RegisterMetricsSources();
}

void Call_DCF_SetProduct() {
  unsigned char area[16];
  std::memset(area, 0, sizeof area);
  DCF_SetVersionUsingProduct("NT", area, 9);
}

int IntervalFromText(const char* text) {
  if (!text || !*text) return 5;
  long long value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return 5;
    if (value < 100000000) value = value * 10 + (*p - '0');  // saturates well above any sane interval
  }
  // Intervals become milliseconds in 32 bits downstream: keep them representable.
  const long long kMax = 2147483647LL / 1000;
  if (value > kMax) value = kMax;
  return value < 5 ? 5 : static_cast<int>(value);
}

int LoadEnvironment(HKEY root, const char* base, const char* path) {
  RAS1_UNIT("LoadEnvironment");
  CRegistry reg;
  int rc = reg.Open(nullptr, root, base, false);
  if (rc != CRegistry::kOk) return rc;
  rc = reg.Position(path, false);
  if (rc != CRegistry::kOk) return rc;

  std::string basePath = reg.CurrentPath();
  basePath.resize(basePath.size() - std::strlen(path) - 1);  // the key of base itself
  for (int round = 0; round < 100 && basePath != reg.CurrentPath(); ++round) {
    if (reg.Position("Environment", false) == CRegistry::kOk) {
      for (;;) {
        char name[128];
        char data[2048 + 1];
        DWORD nameSize = sizeof name, dataSize = 2048, type = 0, index = 0;
        int status = reg.EnumVals(name, &nameSize, data, &dataSize, &type, &index, false);
        if (status == CRegistry::kBufferTooSmall) {
          // One value too long for the buffers: skip it, keep the others.
          RAS1_TRACE(RAS1_ERROR, "Environment value %lu is too long and was skipped",
                     static_cast<unsigned long>(index));
          continue;
        }
        if (status != CRegistry::kOk) break;
        if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
        std::string value = RegistryText(data, dataSize, 2048);
        if (type == REG_EXPAND_SZ) {
          char expanded[2048];
          DWORD n = ExpandEnvironmentStringsA(value.c_str(), expanded, sizeof expanded);
          if (n == 0 || n > sizeof expanded) {
            RAS1_TRACE(RAS1_ERROR, "Environment value %s could not be expanded and was skipped", name);
            continue;
          }
          value = expanded;
        }
        std::string assignment = std::string(name) + "=" + value;
        RAS1_TRACE(RAS1_DETAIL, "Setting environment variable %s", assignment.c_str());
        BSS1_PutEnv(assignment.c_str());
      }
      reg.Position("..", false);
    }
    if (reg.Position("..", false) != CRegistry::kOk) break;
  }
  return CRegistry::kOk;
}

PlatformVersion DetectPlatformVersion() {
  RAS1_UNIT("LoadAgents");
  PlatformVersion v;
  OSVERSIONINFOEXA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) {
    v.major = static_cast<int>(info.dwMajorVersion);
    v.minor = static_cast<int>(info.dwMinorVersion);
    v.productType = info.wProductType;
  }
  RAS1_TRACE(RAS1_ERROR, "Windows Version %d - %d.", v.major, v.minor);

  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kIisKey, 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) {
    RAS1_TRACE(RAS1_DETAIL, "Warning: could not open IIS registry key, return code = %ld.", static_cast<long>(rc));
    return v;
  }
  DWORD major = 0, size = sizeof major, type = 0;
  rc = RegQueryValueExA(key, "MajorVersion", nullptr, &type, reinterpret_cast<BYTE*>(&major), &size);
  if (rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof major) v.iisMajor = static_cast<int>(major);
  else RAS1_TRACE(RAS1_ERROR, "Could not retrieve major IIS version from registry, return code = %ld.",
                  static_cast<long>(rc));
  rc = RegCloseKey(key);
  if (rc != ERROR_SUCCESS)
    RAS1_TRACE(RAS1_ERROR, "Could not close IIS registry key, return code = %ld.", static_cast<long>(rc));
  return v;
}

bool PerflibCountersUsable() {
  RAS1_UNIT("MxMain");
  DWORD size = 4;
  bool haveSize = false;
  if (const char* forced = BSS1_GetEnv("OSM_PERFLIB_COUNTER_SIZE", 0)) {
    // Wine always answers this value with its own fixed list; the setting
    // lets a test stand in for a damaged registry.
    size = static_cast<DWORD>(std::strtoul(forced, nullptr, 10));
    haveSize = true;
  } else {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPerflibKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      if (RegQueryValueExA(key, "Counter", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) haveSize = true;
      else RAS1_TRACE(RAS1_DETAIL, "MxMain: Failed reading value of Counter\n");
      RegCloseKey(key);
    } else {
      RAS1_TRACE(RAS1_DETAIL, "MxMain: Failed opening 009 key\n");
    }
  }
  if (haveSize && size < 2) {
    RAS1_TRACE(RAS1_ERROR, "MxMain: The System Registry Perfmon Counters are corrupt.\n");
    RAS1_TRACE(RAS1_ERROR, "MxMain: Please rebuild the counters.\n");
    return false;
  }
  return true;
}

int InitializeBfr(OsmSampleBfr* buffer, const char* bufferName, UINT firstResourceId, char* scratch,
                  int scratchSize) {
  RAS1_UNIT("InitializeBfr");
  if (!buffer->hMutex && !buffer->CreateMutex(bufferName)) return 0;
  RAS1_TRACE(RAS1_DETAIL, "Initializing TABLE: %s\n", bufferName);
  std::memset(buffer->szTblName, 0, sizeof buffer->szTblName);
  if (bufferName && *bufferName)
    std::snprintf(buffer->szTblName, sizeof buffer->szTblName, "%s", bufferName);

  std::memset(scratch, 0, static_cast<std::size_t>(scratchSize));
  LoadAgentString(firstResourceId, scratch, scratchSize);
  std::istringstream header(scratch);
  long long counters = 0, capacity = 0;
  header >> counters >> capacity;
  std::memset(scratch, 0, static_cast<std::size_t>(scratchSize));
  LoadAgentString(firstResourceId + 1, scratch, scratchSize);
  std::istringstream sizes(scratch);
  long long rowSize = 0;
  sizes >> rowSize;
  std::memset(scratch, 0, static_cast<std::size_t>(scratchSize));
  if (rowSize <= 0 || rowSize > 0x10000 || capacity < 0 || capacity > 100000) {
    RAS1_TRACE(RAS1_ERROR, "InitializeBfr: description %u of %s is unusable (row size %lld, capacity %lld)",
               firstResourceId, bufferName, rowSize, capacity);
    return 0;
  }
  buffer->nRowSize = static_cast<UINT>(rowSize);
  buffer->Resize(capacity * rowSize);
  return 1;
}

int LoadAgents() {
  RAS1_UNIT("LoadAgents");
  char* scratch = new (std::nothrow) char[4096];
  PlatformVersion version = DetectPlatformVersion();
  if (scratch) {
    char affinity[256];
    LoadAgentString(5005, affinity, sizeof affinity);
    DCF_SetAffinity(affinity);
    DCF_SetAffinityVersion(10);
    DCF_SetAffinity("AFF_FEAT_INTERNATIONALIZATION");
    DCF_SetAffinity("AFF_FEAT_DM_PARITY");
    DCF_SetAffinity("AFF_FEAT_AGENT_MGMT");

    int width = FirstInteger(241);
    if (width <= 0 || width > 1024) width = 64;
    std::string origin(static_cast<std::size_t>(width) + 1, '\0');
    DetermineLocalHost(&origin[0], width);
    std::size_t used = std::strlen(origin.c_str());
    BlankFillFrom(used, static_cast<std::size_t>(width), &origin[0]);
    origin[static_cast<std::size_t>(width)] = '\0';
    SetOriginNodeName(origin.data(), static_cast<std::size_t>(width) + 1);

    // The origin attribute name: the first word after the leading count.
    char fixed[256];
    LoadAgentString(240, fixed, sizeof fixed);
    std::istringstream words(fixed);
    std::string count, originAttribute;
    words >> count >> originAttribute;

    for (const TableRegistration& r : SelectTables(version)) {
      if (std::strcmp(r.table, "WTSERVERQ") == 0) RAS1_TRACE(RAS1_ERROR, "Initializing osm_wtserverq.");
      if (std::strcmp(r.table, "NTSERVERQ") == 0) RAS1_TRACE(RAS1_ERROR, "Initializing osm_ntserverq.");
      if (!TableHasCollector(r.table)) {
        RAS1_TRACE(RAS1_FLOW, "LoadAgents: %s has no collector in this build and is not offered", r.table);
        continue;
      }
      if (r.resourceId) {
        OsmSampleBfr* buffer = OsmTableSampleBuffer(r.table);
        std::string name = std::string("OSM.") + r.table;
        if (!InitializeBfr(buffer, name.c_str(), static_cast<UINT>(r.resourceId), scratch, 4096)) continue;
        RegisterTable(r.table);
        OsmStartInterface(buffer, static_cast<UINT>(r.resourceId), static_cast<UINT>(r.fixedDataId),
                          originAttribute.c_str(), origin.data(), static_cast<UINT>(width),
                          static_cast<UINT>(r.fixedCount));
        // The system table's nine further fixed values, from the identity record.
        if (std::strcmp(r.table, "WTSYSTEM") == 0) osm::perf::HandOverSystemFixedData(buffer);
      } else {
        RegisterTable(r.table);
      }
    }
  }
  delete[] scratch;
  StartWatchdogQueryService("NT");
  return 0;
}

int MxMain(int, char**) {
  RAS1_UNIT("MxMain");
  RAS1_TRACE(RAS1_DETAIL, "MxMain: Entry");
  if (!PerflibCountersUsable()) return Fail(-1, kStartCountersCorrupt);

  int envRc = LoadEnvironment(HKEY_LOCAL_MACHINE, kVendorKey, "OSM\\Ver610\\Primary");
  if (envRc != CRegistry::kOk)
    RAS1_TRACE(RAS1_DETAIL,
               "MxMain: Failed setting environment from SOFTWARE\\Velmor\\OSM\\Ver610\\Primary\\Environment \n");
  LoadRuntimeDirectory();
  // The registry environment may carry the trace settings of an unattended agent.
  if (const char* spec = BSS1_GetEnv("BSL_RAS1", 0)) RAS1_Configure(spec);
  if (const char* file = BSS1_GetEnv("BSL_RAS1_FILE", 0)) RAS1_SetDestination(file);
  RAS1_TRACE(RAS1_DETAIL, "MxMain: Environment Set");
  TraceEnvironment();

  g_osmGlobalInterval = IntervalFromText(BSS1_GetEnv("OSM_INTERVAL", 0));

  HRESULT hr = E_FAIL;
  for (int attempt = 0; attempt < 5; ++attempt) {
    hr = CoInitialize(nullptr);
    if (SUCCEEDED(hr)) break;
    RAS1_TRACE(RAS1_DETAIL, "MxMain: CoinitializeEx returns %.8lx", static_cast<unsigned long>(hr));
    Sleep(2000);
  }
  if (FAILED(hr)) {
    CoUninitialize();
    std::fprintf(stderr, "MxMain: EXITING due to COM initialization failure\n");
    RAS1_TRACE(RAS1_ERROR, "MxMain: EXITING due to COM initialization failure\n");
    return Fail(-1, kStartNoCom);
  }
  RAS1_TRACE(RAS1_DETAIL, "MxMain: COM initialized");

  if (!g_kounterExists) {
    g_kounterExists = true;
    if (g_reregister) {
      RAS1_TRACE(RAS1_ERROR, "MxMain: Forcing Reregistration of DLL");
      if (!RegIt()) {
        RAS1_TRACE(RAS1_ERROR, "MxMain: Reregistration failed");
        std::fprintf(stderr, "MxMain: Reregistration failed\n");
      }
    }
    RAS1_TRACE(RAS1_DETAIL, "MxMain: Getting ClassId");
    CLSID clsid = GetClassId();
    if (IsEqualCLSID(clsid, GUID_NULL)) {
      Message0(10104);
      RAS1_TRACE(RAS1_ERROR, "MxMain: Null class id, EXITING");
      std::fprintf(stderr, "MxMain: Null class id, EXITING\n");
      g_kounterExists = false;
      CoUninitialize();
      return Fail(-1, kStartNoClassId);
    }
    RAS1_TRACE(RAS1_DETAIL, "MxMain: Creating an instance of Kounter");
    IOsmKount* kount = nullptr;
    hr = CoCreateInstance(clsid, nullptr, OSMKOUNT_CLSCTX, IID_IOsmKount, reinterpret_cast<void**>(&kount));
    if (FAILED(hr) || !kount) {
      char code[32];
      std::snprintf(code, sizeof code, "%lx", static_cast<unsigned long>(hr));
      Message0(10105);
      std::fprintf(stderr, "MxMain: Kounter instance creation FAILED..\n");
      std::fprintf(stderr, "MxMain: CoCreateInstance returns %s (int)..\n", code);
      std::fprintf(stderr, "MxMain: EXITING\n");
      RAS1_TRACE(RAS1_ERROR, "MxMain: Kounter instance creation FAILED");
      RAS1_TRACE(RAS1_ERROR, "MxMain: CoCreateInstance returns %s [%.8lx]", code, static_cast<unsigned long>(hr));
      RAS1_TRACE(RAS1_ERROR, "MxMain: EXITING");
      g_kounterExists = false;
      CoUninitialize();
      return Fail(-2, kStartNoCounterObject);
    }
    RAS1_TRACE(RAS1_DETAIL, "MxMain: Kounter instance created");
    // The counter object's module tells its own copy of the framework layer;
    // the agent's framework must carry the node type too.
    if (BSS1_GetEnv("DCFA_NODETYPE", 0) == nullptr) DCF_SetNodeType("nt");
    try {
      hr = kount->Initialize(g_osmGlobalInterval, 0, nullptr);
    } catch (const std::bad_alloc& e) {
      std::fprintf(stderr, "MxMain: Kounter Initialize function failed, bad_alloc - %s\n", e.what());
      std::fprintf(stderr, "MxMain: EXITING\n");
      RAS1_TRACE(RAS1_ERROR, "MxMain: Kounter Initialize function failed, bad_alloc - %s\n", e.what());
      RAS1_TRACE(RAS1_ERROR, "MxMain: EXITING\n");
      kount->Release();
      g_kounterExists = false;
      return Fail(-3, kStartCounterInitFailed);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "MxMain: Kounter Initialize standard exception - %s\n", e.what());
      RAS1_TRACE(RAS1_ERROR, "MxMain: Kounter Initialize standard exception - %s", e.what());
      RAS1_TRACE(RAS1_ERROR, "MxMain: EXITING");
      kount->Release();
      g_kounterExists = false;
      return Fail(-3, kStartCounterInitFailed);
    } catch (...) {
      int err = errno;
      DWORD last = GetLastError();
      std::fprintf(stderr, "MxMain: Kounter Initialize function failed, exception thrown!\n");
      std::fprintf(stderr, "MxMain: Errno=%d LastError=%lu\n", err, static_cast<unsigned long>(last));
      RAS1_TRACE(RAS1_ERROR, "MxMain: Kounter Initialize function failed, exception thrown!");
      RAS1_TRACE(RAS1_ERROR, "MxMain: Errno=%d[%.8x] LastError=%lu[%.8lx]", err, static_cast<unsigned>(err),
                 static_cast<unsigned long>(last), static_cast<unsigned long>(last));
      kount->Release();
      g_kounterExists = false;
      return Fail(-3, kStartCounterInitFailed);
    }
    if (FAILED(hr)) {
      g_kounterExists = false;
      RAS1_TRACE(RAS1_ERROR, "MxMain: Kounter initialization FAILED");
      Message0(10109);
      kount->Release();
      CoUninitialize();
      RAS1_TRACE(RAS1_ERROR, "MxMain: EXITING");
      return Fail(-3, kStartCounterInitFailed);
    }
    g_osmKount = kount;
    RAS1_TRACE(RAS1_DETAIL, "MxMain: Kounter initialized");
  }

  int waitResult = RunFramework(_beginthreadex);

  if (g_kounterExists && g_osmKount) {
    g_kounterExists = false;
    RAS1_TRACE(RAS1_DETAIL, "MxMain: Termination commencing");
    StopService();
    if (ReleaseCounterObject()) CoUninitialize();
    RAS1_TRACE(RAS1_DETAIL, "MxMain: Termination concluded");
  }
  RAS1_TRACE(RAS1_DETAIL, "MxMain: EXITING");
  return waitResult;
}

int RunFramework(ThreadStarter start) {
  RAS1_UNIT("MxMain");
  unsigned id = 0;
  uintptr_t thread = start(nullptr, 0, InvokeFW, nullptr, 0, &id);
  if (!thread) {
    // Without the framework there is nothing to serve: report and fail.
    RAS1_TRACE(RAS1_ERROR, "MxMain: framework thread could not be started, errno %d", errno);
    std::fprintf(stderr, "MxMain: framework thread could not be started\n");
    return Fail(-4, kStartNoFramework);
  }
  InterlockedExchange(&g_frameworkRunning, 1);
  RAS1_TRACE(RAS1_DETAIL, "MxMain: framework thread started.");
  RAS1_TRACE(RAS1_DETAIL, "MxMain: InvokeFW will run as thread ID: %u[%.8x] (Handle: %.8llx)", id, id,
             static_cast<unsigned long long>(thread));
  HANDLE h = reinterpret_cast<HANDLE>(thread);
  DWORD waitResult = WaitForFramework(h);
  if (waitResult != 0) {
    // The wait itself failed while the framework may still run: stop it and
    // let it finish before the counter object goes away under it.
    DCF_Shutdown(1);
    WaitForSingleObject(h, INFINITE);
    InterlockedExchange(&g_frameworkRunning, 0);
  }
  CloseHandle(h);
  return static_cast<int>(waitResult);
}

bool ReleaseCounterObject() {
  RAS1_UNIT("MxMain");
  if (int left = DCF_AbandonedRequests()) {
    RAS1_TRACE(RAS1_ERROR, "MxMain: %d request(s) still inside their tables; the counter object stays alive", left);
    return false;
  }
  IOsmKount* kount = g_osmKount;
  g_osmKount = nullptr;
  if (kount) {
    kount->Terminate();
    kount->Release();
  }
  return true;
}

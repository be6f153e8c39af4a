#include "collectors/inventory/service_list.h"

#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>

#include "collectors/inventory/inventory_rows.h"
#include "collectors/inventory/inventory_text.h"
#include "framework/ras1.h"

namespace osm {
namespace inventory {

namespace {

// A failed service-manager call, with its error code.
class ServiceError : public std::runtime_error {
 public:
  ServiceError(const std::string& what, DWORD code) : std::runtime_error(what), code(code) {}
  DWORD code;
};

// Logs "<call> failed.  Error code: ..." with the system's text and throws
// "<function>() failed".
[[noreturn]] void Fail(const char* function, const std::string& call, DWORD code) {
  RAS1_UNIT("ServiceList");
  char text[1025] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 1024, nullptr);
  RAS1_TRACE(RAS1_ERROR, "%s failed.  Error code: %lu [0x%.8lx].  Text: %s", call.c_str(),
             static_cast<unsigned long>(code), static_cast<unsigned long>(code), text);
  throw ServiceError(std::string(function) + "() failed", code);
}

[[noreturn]] void Fail(const char* function, DWORD code) { Fail(function, std::string(function) + "()", code); }

// The four service tables sample at the same moment. Some service managers
// hand out or check handles wrongly when one process opens and enumerates on
// several threads at once (seen as ERROR_INVALID_HANDLE from a fresh handle),
// so this process talks to the manager one list at a time.
std::mutex& ManagerLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

class ServiceList::Manager {
 public:
  Manager(const std::wstring& machine, DWORD access) : machine_(machine), access_(access) { Open(); }
  ~Manager() { CloseServiceHandle(h_); }
  SC_HANDLE get() const { return h_; }
  void Reopen() {
    CloseServiceHandle(h_);
    Open();
  }

 private:
  void Open() {
    h_ = OpenSCManagerW(machine_.empty() ? nullptr : machine_.c_str(), nullptr, access_);
    if (!h_) Fail("OpenSCManager", GetLastError());
  }
  std::wstring machine_;
  DWORD access_;
  SC_HANDLE h_ = nullptr;
};

namespace {

// A buffer of whole blocks, as the enumeration and the configuration ask:
// ((needed + block) / block + 5) blocks, zero-filled.
std::vector<BYTE> Blocks(DWORD needed, DWORD block) {
  return std::vector<BYTE>(static_cast<std::size_t>((needed + block) / block + 5) * block, 0);
}

// A configuration whose numbers are -1 and whose texts are all one empty text.
void DummyConfig(std::vector<BYTE>* block) {
  block->assign(sizeof(QUERY_SERVICE_CONFIGW) + sizeof(wchar_t) * 2, 0);
  QUERY_SERVICE_CONFIGW* c = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(block->data());
  wchar_t* empty = reinterpret_cast<wchar_t*>(block->data() + sizeof(QUERY_SERVICE_CONFIGW));
  c->dwServiceType = c->dwStartType = c->dwErrorControl = c->dwTagId = static_cast<DWORD>(-1);
  c->lpBinaryPathName = c->lpLoadOrderGroup = c->lpDependencies = c->lpServiceStartName = c->lpDisplayName = empty;
}

std::string NameFromTable(const NameList& list, DWORD value) {
  HMODULE exe = GetModuleHandleA(nullptr);
  char count[16] = "", name[64] = "";
  LoadStringA(exe, list.countId, count, sizeof count);
  if (LoadStringA(exe, NameIdOf(list, value, count), name, sizeof name) <= 0) return "Unknown";
  return name;
}

}  // namespace

ServiceConfigQuery& ServiceConfigQueryHook() {
  static ServiceConfigQuery hook = &QueryServiceConfigW;
  return hook;
}

std::string ServiceStateName(DWORD state) { return NameFromTable(kServiceStateNames, state); }
std::string StartTypeName(DWORD startType) { return NameFromTable(kStartTypeNames, startType); }

ServiceList::ServiceList(DWORD typeMask, const wchar_t* serviceName, const wchar_t* machine)
    : typeMask_(typeMask), single_(serviceName != nullptr), machine_(machine ? machine : L"") {
  if (serviceName) {
    names_.push_back(serviceName);
    return;
  }
  std::lock_guard<std::mutex> guard(ManagerLock());
  Manager manager(machine_, SC_MANAGER_ENUMERATE_SERVICE);
  Enumerate(manager.get());
}

void ServiceList::Enumerate(SC_HANDLE manager) {
  DWORD needed = 0, returned = 0, resume = 0;
  if (EnumServicesStatusW(manager, typeMask_, SERVICE_STATE_ALL, nullptr, 0, &needed, &returned, &resume)) return;
  DWORD rc = GetLastError();
  // More services than one buffer holds continue from the resume handle;
  // a few rounds at most.
  for (int round = 0; rc == ERROR_MORE_DATA && round < 8; ++round) {
    std::vector<BYTE> buffer = Blocks(needed, 48);
    returned = 0;
    BOOL ok = EnumServicesStatusW(manager, typeMask_, SERVICE_STATE_ALL,
                                  reinterpret_cast<LPENUM_SERVICE_STATUSW>(buffer.data()),
                                  static_cast<DWORD>(buffer.size()), &needed, &returned, &resume);
    rc = ok ? ERROR_SUCCESS : GetLastError();
    if (!ok && rc != ERROR_MORE_DATA) break;
    const ENUM_SERVICE_STATUSW* list = reinterpret_cast<const ENUM_SERVICE_STATUSW*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i) names_.push_back(list[i].lpServiceName ? list[i].lpServiceName : L"");
  }
  if (rc != ERROR_SUCCESS) Fail("EnumServicesStatus", rc);
}

void ServiceList::Query(Manager& manager, Entry& entry) {
  try {
    QueryOnce(manager.get(), entry);
  } catch (const ServiceError& e) {
    if (e.code != ERROR_INVALID_HANDLE) throw;
    // The manager no longer knows a handle of ours (it restarted, or lost it
    // while other threads opened their own): a fresh one, once.
    manager.Reopen();
    QueryOnce(manager.get(), entry);
  }
}

void ServiceList::QueryOnce(SC_HANDLE manager, Entry& entry) {
  SC_HANDLE service = OpenServiceW(manager, entry.name.c_str(), GENERIC_READ);
  if (!service) {
    DWORD code = GetLastError();
    Fail("OpenService", "OpenService(" + NarrowText(entry.name.c_str()) + ")", code);
  }
  struct Closer {
    SC_HANDLE h;
    ~Closer() { CloseServiceHandle(h); }
  } closer{service};
  if (!QueryServiceStatus(service, &entry.status)) Fail("QueryServiceStatus", GetLastError());
  ServiceConfigQuery query = ServiceConfigQueryHook() ? ServiceConfigQueryHook() : &QueryServiceConfigW;
  DWORD needed = 0;
  entry.block.clear();
  if (!query(service, nullptr, 0, &needed)) {
    DWORD rc = GetLastError();
    if (rc != ERROR_INSUFFICIENT_BUFFER) Fail("QueryServiceConfig", rc);
    entry.block = Blocks(needed, 64);
    if (!query(service, reinterpret_cast<LPQUERY_SERVICE_CONFIGW>(entry.block.data()),
               static_cast<DWORD>(entry.block.size()), &needed))
      Fail("QueryServiceConfig", GetLastError());
  }
  if (entry.block.size() < sizeof(QUERY_SERVICE_CONFIGW)) Fail("QueryServiceConfig", ERROR_INVALID_DATA);
}

int ServiceList::Collect() {
  RAS1_UNIT("ServiceList::Collect");
  entries_.clear();
  std::lock_guard<std::mutex> guard(ManagerLock());
  try {
    Manager manager(machine_, GENERIC_READ);
    if (single_) RAS1_TRACE(RAS1_DETAIL, "Collecting information for specified service <%s>",
                            NarrowText(names_[0].c_str()).c_str());
    else RAS1_TRACE(RAS1_DETAIL, "Services list contains %d entries", static_cast<int>(names_.size()));
    entries_.reserve(names_.size());
    for (const std::wstring& name : names_) {
      std::unique_ptr<Entry> entry(new Entry());
      entry->name = name;
      if (!single_) RAS1_TRACE(RAS1_DETAIL, "Processing <%s>", NarrowText(name.c_str()).c_str());
      try {
        Query(manager, *entry);
      } catch (const std::runtime_error& e) {
        RAS1_TRACE(RAS1_ERROR, "Exception raised during row evaluation.  Exception text: %s", e.what());
        RAS1_TRACE(RAS1_ERROR, "Adding dummy row for <%s>", NarrowText(name.c_str()).c_str());
        std::memset(&entry->status, 0xFF, sizeof entry->status);
        DummyConfig(&entry->block);
      }
      entries_.push_back(std::move(entry));
    }
  } catch (const std::exception& e) {
    RAS1_TRACE(RAS1_ERROR, "Exception raised during data collection.  Exception text: %s", e.what());
    entries_.clear();
    return 0;
  }
  return 1;
}

}  // namespace inventory
}  // namespace osm

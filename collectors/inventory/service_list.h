// The service control manager's view of the services or drivers of a type
// mask: their status and configuration, one entry per name. NTSERVICE,
// NTSVCDEP, NTDEVICE and NTDEVDEP read it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace osm {
namespace inventory {

// Type masks of the tables.
const DWORD kServiceTypes = 0x30;  // own-process and share-process services
const DWORD kDriverTypes = 0x0B;   // kernel, file-system and recognizer drivers

class ServiceList {
 public:
  struct Entry {
    std::wstring name;
    SERVICE_STATUS status;
    std::vector<BYTE> block;  // QUERY_SERVICE_CONFIGW and the texts it points to
    const QUERY_SERVICE_CONFIGW& Config() const {
      return *reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(block.data());
    }
  };

  // With a name the list holds that service only; without one, every service
  // of the type mask in any state. Throws std::runtime_error when the manager
  // cannot be opened or enumerated, std::bad_alloc when memory runs out.
  explicit ServiceList(DWORD typeMask, const wchar_t* serviceName = nullptr, const wchar_t* machine = nullptr);
  ServiceList(const ServiceList&) = delete;
  ServiceList& operator=(const ServiceList&) = delete;

  // Queries every name. A service that cannot be read gets a dummy entry
  // (state and numbers -1, empty texts) and collection goes on. 1 on success;
  // 0, with no entry left, when the manager cannot be opened.
  int Collect();
  std::size_t Count() const { return entries_.size(); }
  const Entry& At(std::size_t i) const { return *entries_[i]; }

 private:
  class Manager;
  void Enumerate(SC_HANDLE manager);
  void Query(Manager& manager, Entry& entry);
  void QueryOnce(SC_HANDLE manager, Entry& entry);

  DWORD typeMask_;
  bool single_;
  std::wstring machine_;
  std::vector<std::wstring> names_;
  std::vector<std::unique_ptr<Entry>> entries_;
};

// How a service's configuration is read: QueryServiceConfigW unless a test
// puts another reader here (null restores it).
typedef BOOL(WINAPI* ServiceConfigQuery)(SC_HANDLE, LPQUERY_SERVICE_CONFIGW, DWORD, LPDWORD);
ServiceConfigQuery& ServiceConfigQueryHook();

// The names of a service state and of a start type, from the program's
// string table; "Unknown" for a value outside its list.
std::string ServiceStateName(DWORD state);
std::string StartTypeName(DWORD startType);

}  // namespace inventory
}  // namespace osm

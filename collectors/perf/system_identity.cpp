#include <winsock2.h>
#include <ws2tcpip.h>

#include "collectors/perf/system_identity.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "collectors/perf/perf_values.h"
#include "framework/ras1.h"
#include "perfclient/osmclient.h"
#include "support/fields.h"

namespace osm {
namespace perf {

namespace {

const char kNoDnsEntry[] = "NO_DNS_ENTRY";

std::string TrimmedField(const char* field, std::size_t width) {
  std::size_t n = 0;
  while (n < width && field[n] != '\0') ++n;
  while (n > 0 && field[n - 1] == ' ') --n;
  return std::string(field, n);
}

void PutInt32(unsigned char* out, std::int32_t value) {
  std::uint32_t v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

bool IsNumericAddress(const char* text) {
  if (text == nullptr || *text == '\0') return false;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* result = nullptr;
  bool numeric = getaddrinfo(text, nullptr, &hints, &result) == 0;
  if (result) freeaddrinfo(result);
  WSACleanup();
  return numeric;
}

std::string ResolveHostAddress(const char* text, int family) {
  RAS1_UNIT("ResolveHostAddress");
  std::string answer = kNoDnsEntry;
  if (text == nullptr || std::strcmp(text, "::1") == 0 || std::strcmp(text, "127.0.0.1") == 0) return answer;
  WSADATA data;
  int rc = WSAStartup(MAKEWORD(2, 2), &data);
  if (rc != 0) {
    RAS1_TRACE(RAS1_DETAIL, "WSAStartup error: <%d> for <%d.%d>\n", rc, 2, 2);
    return answer;
  }
  RAS1_TRACE(RAS1_DETAIL, "Requested socket version <%d.%d>; using socket version <%d.%d>\n", 2, 2,
             LOBYTE(data.wVersion), HIBYTE(data.wVersion));
  // A numeric address is looked up for its name, a name for its address. The
  // text is parsed to tell them apart: a host name may begin with a digit.
  bool numeric = IsNumericAddress(text);
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = family;
  addrinfo* result = nullptr;
  rc = getaddrinfo(text, nullptr, &hints, &result);
  if (rc != 0) {
    RAS1_TRACE(RAS1_DETAIL, "getaddrinfo API call failed for %s with error %s", text, gai_strerrorA(rc));
  } else {
    char host[1025];
    int flags = numeric ? NI_NAMEREQD : NI_NUMERICHOST;
    if (result && getnameinfo(result->ai_addr, static_cast<socklen_t>(result->ai_addrlen), host, sizeof host,
                              nullptr, 0, flags) == 0) {
      host[sizeof host - 1] = '\0';
      answer = host;
    }
    freeaddrinfo(result);
  }
  WSACleanup();
  return answer;
}

void GetNetworkAddressText(char* target, std::size_t width) {
  RAS1_UNIT("GetNetworkAddressText");
  char name[256] = "NOT_AVAILABLE";
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) == 0) {
    if (gethostname(name, sizeof name) != 0) {
      RAS1_TRACE(RAS1_DETAIL, "gethostname() API failed with return code of %d\n", WSAGetLastError());
      std::strcpy(name, "NOT_AVAILABLE");
    }
    WSACleanup();
  }
  name[sizeof name - 1] = '\0';
  std::string address = ResolveHostAddress(name, AF_INET);
  if (address == "0.0.0.0") address = ResolveHostAddress(name, AF_INET6);
  CopyTextField(target, width, address);
}

int GetLogicalProcessorCount() {
  RAS1_UNIT("GetLogicalProcessorCount");
  typedef BOOL(WINAPI * InfoFn)(PSYSTEM_LOGICAL_PROCESSOR_INFORMATION, PDWORD);
  HMODULE kernel = GetModuleHandleA("kernel32");
  InfoFn info = kernel ? reinterpret_cast<InfoFn>(
                             reinterpret_cast<void*>(GetProcAddress(kernel, "GetLogicalProcessorInformation")))
                       : nullptr;
  if (info == nullptr) {
    RAS1_TRACE(RAS1_DETAIL, "GetLogicalProcessorInformation is not supported");
    return -1;
  }
  std::vector<unsigned char> buffer;
  DWORD length = 0;
  // The size asked for can grow between two calls: a few rounds, not forever.
  for (int attempt = 0;; ++attempt) {
    BOOL ok = info(buffer.empty() ? nullptr : reinterpret_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION>(buffer.data()),
                   &length);
    if (ok) break;
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER || attempt >= 8) {
      RAS1_TRACE(RAS1_ERROR, "GetLogicalProcessorInformation error: %d", static_cast<int>(error));
      return -1;
    }
    try {
      buffer.assign(length, 0);
    } catch (const std::bad_alloc&) {
      RAS1_TRACE(RAS1_ERROR, "GetLogicalProcessorInformation buffer allocation failure");
      return -1;
    }
  }
  static_assert(sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION) == kLogicalProcessorEntrySize,
                "64-bit logical processor entries");
  int cores = 0;
  std::size_t used = length < buffer.size() ? length : buffer.size();
  int logical = CountLogicalProcessors(buffer.data(), used, &cores);
  RAS1_TRACE(RAS1_DETAIL, "Number of processor cores: %d", cores);
  RAS1_TRACE(RAS1_DETAIL, "Number of logical processors: %d", logical);
  return logical;
}

void BuildSystemIdentity(SystemIdentity* r) {
  std::memset(r, 0, sizeof *r);
  std::memset(r->userName, ' ', sizeof r->userName);
  std::memset(r->wideUserName, ' ', sizeof r->wideUserName);
  std::memset(r->osType, ' ', sizeof r->osType);
  std::memset(r->osVersion, ' ', sizeof r->osVersion);
  std::memset(r->networkAddress, ' ', sizeof r->networkAddress);

  char user[257] = {0};
  DWORD size = sizeof user;
  if (GetUserNameA(user, &size)) CopyTextField(r->userName, sizeof r->userName, user);
  wchar_t wideUser[257] = {0};
  size = 257;
  if (GetUserNameW(wideUser, &size)) WideToUtf8Field(r->wideUserName, wideUser, sizeof r->wideUserName);

  OSVERSIONINFOEXA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version))) {
    r->productType = version.wProductType;
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
      int major = static_cast<int>(version.dwMajorVersion), minor = static_cast<int>(version.dwMinorVersion);
      const char* type = OsTypeName(major, minor, version.wProductType);
      char expanded[256] = {0};
      if (type == nullptr) {
        DWORD n = ExpandEnvironmentStringsA("%OS%", expanded, sizeof expanded);
        if (n == 0 || n > sizeof expanded) expanded[0] = '\0';
        type = expanded;
      }
      CopyBlankPadded(r->osType, type, sizeof r->osType);
      char text[32];
      std::snprintf(text, sizeof text, "%d.%d", major, minor);
      CopyTextField(r->osVersion, sizeof r->osVersion, text);
    }
  }

  SYSTEM_INFO system;
  std::memset(&system, 0, sizeof system);
  GetSystemInfo(&system);
  r->processors = static_cast<std::int32_t>(system.dwNumberOfProcessors);
  r->processorType = static_cast<std::int32_t>(system.dwProcessorType);
  r->pageSize = static_cast<std::int32_t>(system.dwPageSize);
  r->logicalProcessors = GetLogicalProcessorCount();
  GetNetworkAddressText(r->networkAddress, sizeof r->networkAddress);
}

const SystemIdentity& SystemIdentityRecord() {
  static const SystemIdentity* record = [] {
    SystemIdentity* r = new SystemIdentity;  // lives for the process
    BuildSystemIdentity(r);
    return r;
  }();
  return *record;
}

std::string NetworkAddressFixedValue(const SystemIdentity& record) {
  std::string value(36, ' ');
  CopyTextField(&value[0], 16, TrimmedField(record.networkAddress, sizeof record.networkAddress));
  return value;
}

int HandOverSystemFixedData(OsmSampleBfr* buffer) {
  RAS1_UNIT("HandOverSystemFixedData");
  if (buffer == nullptr || buffer->hSample == 0) return 0;
  const SystemIdentity& id = SystemIdentityRecord();
  unsigned char cpus[4], lcpus[4], cpuType[4], pageSize[4];
  PutInt32(cpus, id.processors);
  PutInt32(lcpus, id.logicalProcessors);
  PutInt32(cpuType, id.processorType);
  PutInt32(pageSize, id.pageSize);
  std::string address = NetworkAddressFixedValue(id);
  struct Item {
    const char* name;
    const void* data;
    UINT length;
  } items[] = {
      {"_NUMCPUS_", cpus, 4},
      {"_NUMLCPUS_", lcpus, 4},
      {"_CPUTYPE_", cpuType, 4},
      {"_PAGESIZE_", pageSize, 4},
      {"_OSTYPE_", id.osType, 16},
      {"_OSVERSION_", id.osVersion, 8},
      {"_NETWORKADDR_", address.data(), 36},
      {"_USERNAME_", id.userName, 64},
      {"_UUSERNAME_", id.wideUserName, 388},
  };
  int handed = 0;
  for (const Item& item : items) {
    HRESULT hr = OsmDescribeSampleFixedData(buffer->hSample, item.name, item.data, item.length);
    if (SUCCEEDED(hr)) ++handed;
    else RAS1_TRACE(RAS1_ERROR, "Fixed value %s was refused: 0x%08lx", item.name, static_cast<unsigned long>(hr));
  }
  return handed;
}

}  // namespace perf
}  // namespace osm

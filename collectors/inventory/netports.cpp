// NTNETWPORT: the TCP and UDP endpoints of the IP helper tables, named from
// the services file and, within the lookup budget, by reverse lookup.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <new>

#include "collectors/inventory/inventory_agent.h"
#include "collectors/inventory/port_rows.h"
#include "tables/tables.h"

namespace osm {
namespace inventory {

namespace {

std::atomic<int> g_acceptedFailures{kDefaultAcceptedFailures};

typedef ULONG(WINAPI* GetTcp6TableFn)(PMIB_TCP6TABLE, PULONG, BOOL);
typedef ULONG(WINAPI* GetUdp6TableFn)(PMIB_UDP6TABLE, PULONG, BOOL);

// Whether this Windows has the IPv6 tables, and their functions.
struct Ipv6Tables {
  int state = -1;  // 0 available, 1 Windows before 6, 2 Windows 6 without the functions
  GetTcp6TableFn tcp6 = nullptr;
  GetUdp6TableFn udp6 = nullptr;
};

// The services file and the IPv6 decision are made once per process, under a
// lock, even when two first samples run at once; a failed attempt (file not
// readable, version unknown) is repeated at the next sample.
MadeOnce<std::vector<std::string>> g_services;
MadeOnce<Ipv6Tables> g_ipv6;

std::shared_ptr<const std::vector<std::string>> LoadServicesFile(RAS1_EPB* unit) {
  char root[MAX_PATH] = "";
  DWORD n = GetEnvironmentVariableA("systemroot", root, sizeof root);
  if (n == 0 || n >= sizeof root) n = GetSystemWindowsDirectoryA(root, sizeof root);
  std::string path = std::string(n > 0 && n < sizeof root ? root : "C:\\Windows");
  path += "\\system32\\drivers\\etc\\services";
  std::ifstream in(path.c_str());
  if (!in) {
    if (RAS1_Mask(unit) & RAS1_DETAIL)
      RAS1_Printf(unit, __LINE__, "Failed to open ifstream for reading the Services file");
    return nullptr;
  }
  auto lines = std::make_shared<std::vector<std::string>>();
  std::string line;
  while (std::getline(in, line)) lines->push_back(line);
  if (lines->empty()) return nullptr;
  return lines;
}

std::shared_ptr<const Ipv6Tables> DecideIpv6(RAS1_EPB* unit) {
  OSVERSIONINFOEXA ex;
  std::memset(&ex, 0, sizeof ex);
  ex.dwOSVersionInfoSize = sizeof ex;
  OSVERSIONINFOA* info = reinterpret_cast<OSVERSIONINFOA*>(&ex);
  if (!GetVersionExA(info)) {
    info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    if (!GetVersionExA(info)) {
      if (RAS1_Mask(unit) & RAS1_ERROR) RAS1_Printf(unit, __LINE__, "Unable to retrieve the OS version.");
      return nullptr;
    }
  }
  auto tables = std::make_shared<Ipv6Tables>();
  if (info->dwPlatformId != VER_PLATFORM_WIN32_NT || info->dwMajorVersion < 6) {
    if (RAS1_Mask(unit) & RAS1_DETAIL)
      RAS1_Printf(unit, __LINE__, "The OS version is not Vista or 2008 or greater.");
    tables->state = 1;
    return tables;
  }
  tables->state = 2;
  HMODULE iphlpapi = GetModuleHandleA("Iphlpapi");
  if (iphlpapi == nullptr) {
    if (RAS1_Mask(unit) & RAS1_ERROR) RAS1_Printf(unit, __LINE__, "Error loading module Iphlpapi");
    return tables;
  }
  tables->tcp6 = reinterpret_cast<GetTcp6TableFn>(reinterpret_cast<void*>(GetProcAddress(iphlpapi, "GetTcp6Table")));
  tables->udp6 = reinterpret_cast<GetUdp6TableFn>(reinterpret_cast<void*>(GetProcAddress(iphlpapi, "GetUdp6Table")));
  if (tables->tcp6 && tables->udp6) tables->state = 0;
  else if (RAS1_Mask(unit) & RAS1_ERROR) RAS1_Printf(unit, __LINE__, "Unable to retrieve all the needed IPv6 APIs.");
  return tables;
}

std::string SystemMessage(DWORD code) {
  char text[1024] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof text,
                 nullptr);
  return text;
}

// One of the four endpoint tables, read into bytes: a first call into 24
// bytes for the size, then calls into a buffer of the reported size (again
// when the table grew in between, a few times at most). get(table, size)
// asks for the table sorted. False on failure.
template <class Table, class Getter>
bool ReadTable(RAS1_EPB* unit, Getter get, const char* name, const char* function, std::vector<char>* bytes) {
  bool trace = (RAS1_Mask(unit) & RAS1_DETAIL) != 0;
  ULONG size = 24;
  bytes->assign(size, 0);
  DWORD rc = get(reinterpret_cast<Table*>(bytes->data()), &size);
  for (int attempt = 0; rc == ERROR_INSUFFICIENT_BUFFER && attempt < 4; ++attempt) {
    try {
      bytes->assign(size, 0);
    } catch (const std::bad_alloc&) {
      if (RAS1_Mask(unit) & RAS1_ERROR)
        RAS1_Printf(unit, __LINE__, "Error reallocating memory for %s Table. Exiting.", name);
      return false;
    }
    if (trace) {
      RAS1_Printf(unit, __LINE__, "%d bytes reallocated for %s Table.", static_cast<int>(size), name);
      RAS1_Printf(unit, __LINE__, "Calling %s to retrieve %s ports.", function, name);
    }
    rc = get(reinterpret_cast<Table*>(bytes->data()), &size);
  }
  if (rc != NO_ERROR) {
    if (RAS1_Mask(unit) & RAS1_ERROR) {
      RAS1_Printf(unit, __LINE__, "Call to %s data failed.  %s Port data can not be collected.", function, name);
      RAS1_Printf(unit, __LINE__, "ERROR: %s\n", SystemMessage(rc).c_str());
    }
    return false;
  }
  if (trace)
    RAS1_Printf(unit, __LINE__, "%d %s entries retrieved.",
                static_cast<int>(reinterpret_cast<const Table*>(bytes->data())->dwNumEntries), name);
  return true;
}

void Put4(unsigned char* target, DWORD networkOrder) { std::memcpy(target, &networkOrder, 4); }

std::vector<Endpoint> ReadEndpoints(RAS1_EPB* unit, const Ipv6Tables& ipv6) {
  std::vector<Endpoint> out;
  std::vector<char> bytes;
  auto tcp = [](MIB_TCPTABLE* t, ULONG* size) {
    DWORD n = *size, rc = GetTcpTable(t, &n, TRUE);
    *size = n;
    return rc;
  };
  if (ReadTable<MIB_TCPTABLE>(unit, tcp, "TCP", "GetTcpTable", &bytes)) {
    const MIB_TCPTABLE* t = reinterpret_cast<const MIB_TCPTABLE*>(bytes.data());
    for (DWORD i = 0; i < t->dwNumEntries; ++i) {
      const MIB_TCPROW& r = t->table[i];
      Endpoint e;
      e.protocol = "TCP";
      Put4(e.local, r.dwLocalAddr);
      Put4(e.remote, r.dwRemoteAddr);
      e.localPort = PortFromNetwork(r.dwLocalPort);
      e.state = TcpStateValue(r.dwState);
      e.remotePort = r.dwState == MIB_TCP_STATE_LISTEN ? 0 : PortFromNetwork(r.dwRemotePort);
      out.push_back(e);
    }
  }
  auto udp = [](MIB_UDPTABLE* t, ULONG* size) {
    DWORD n = *size, rc = GetUdpTable(t, &n, TRUE);
    *size = n;
    return rc;
  };
  if (ReadTable<MIB_UDPTABLE>(unit, udp, "UDP", "GetUdpTable", &bytes)) {
    const MIB_UDPTABLE* t = reinterpret_cast<const MIB_UDPTABLE*>(bytes.data());
    for (DWORD i = 0; i < t->dwNumEntries; ++i) {
      Endpoint e;
      e.protocol = "UDP";
      Put4(e.local, t->table[i].dwLocalAddr);
      e.localPort = PortFromNetwork(t->table[i].dwLocalPort);
      out.push_back(e);
    }
  }
  if (ipv6.state != 0) return out;
  auto tcp6 = [&ipv6](MIB_TCP6TABLE* t, ULONG* size) { return static_cast<DWORD>(ipv6.tcp6(t, size, TRUE)); };
  if (ReadTable<MIB_TCP6TABLE>(unit, tcp6, "TCPv6", "GetTcp6Table", &bytes)) {
    const MIB_TCP6TABLE* t = reinterpret_cast<const MIB_TCP6TABLE*>(bytes.data());
    for (DWORD i = 0; i < t->dwNumEntries; ++i) {
      const MIB_TCP6ROW& r = t->table[i];
      Endpoint e;
      e.protocol = "TCP6";
      e.ipv4 = false;
      std::memcpy(e.local, &r.LocalAddr, 16);
      std::memcpy(e.remote, &r.RemoteAddr, 16);
      e.localPort = PortFromNetwork(r.dwLocalPort);
      e.state = TcpStateValue(static_cast<DWORD>(r.State));
      e.remotePort = r.State == MIB_TCP_STATE_LISTEN ? 0 : PortFromNetwork(r.dwRemotePort);
      out.push_back(e);
    }
  }
  auto udp6 = [&ipv6](MIB_UDP6TABLE* t, ULONG* size) { return static_cast<DWORD>(ipv6.udp6(t, size, TRUE)); };
  if (ReadTable<MIB_UDP6TABLE>(unit, udp6, "UDPv6", "GetUdp6Table", &bytes)) {
    const MIB_UDP6TABLE* t = reinterpret_cast<const MIB_UDP6TABLE*>(bytes.data());
    for (DWORD i = 0; i < t->dwNumEntries; ++i) {
      Endpoint e;
      e.protocol = "UDP6";
      e.ipv4 = false;
      std::memcpy(e.local, &t->table[i].dwLocalAddr, 16);
      e.localPort = PortFromNetwork(t->table[i].dwLocalPort);
      out.push_back(e);
    }
  }
  return out;
}

}  // namespace

void ReadAcceptedFailures() {
  RAS1_UNIT("ReadAcceptedFailures");
  AcceptedFailures setting = ParseAcceptedFailures(BSS1_GetEnv("REVERSE_LOOKUP_ACCEPTED_FAILURES", 0));
  switch (setting.source) {
    case AcceptedFailures::kMissing:
      RAS1_TRACE(RAS1_DETAIL, "REVERSE_LOOKUP_ACCEPTED_FAILURES environment variable not found, defaulting to %d\n",
                 setting.value);
      break;
    case AcceptedFailures::kInvalid:
      RAS1_TRACE(RAS1_ERROR, "Env var REVERSE_LOOKUP_ACCEPTED_FAILURES is not valid, defaulting to %d\n",
                 setting.value);
      break;
    case AcceptedFailures::kSet:
      RAS1_TRACE(RAS1_DETAIL, "acceptedFailures set to %d\n", setting.value);
      break;
  }
  g_acceptedFailures = setting.value;
}

int CollectNetworkPorts(TableBase& request, RAS1_EPB* unit) {
  WSADATA data;
  int wsa = WSAStartup(MAKEWORD(2, 1), &data);
  if (wsa != 0) {
    if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "WSAStartup error: <%d> for <%d.%d>", wsa, 2, 1);
    if (RAS1_Mask(unit) & RAS1_ERROR)
      RAS1_Printf(unit, __LINE__, "Unable to establish WSAStartup connection. Host names unavailable.");
  } else if (RAS1_Mask(unit) & RAS1_DETAIL) {
    RAS1_Printf(unit, __LINE__, "Requested socket version <%d.%d>; using socket version <%d.%d>", 2, 1,
                LOBYTE(data.wVersion), HIBYTE(data.wVersion));
  }
  std::shared_ptr<const std::vector<std::string>> services = g_services.Get([unit] { return LoadServicesFile(unit); });
  std::shared_ptr<const Ipv6Tables> ipv6 = g_ipv6.Get([unit] { return DecideIpv6(unit); });
  std::vector<Endpoint> endpoints = ReadEndpoints(unit, ipv6 ? *ipv6 : Ipv6Tables());

  // The socket layer's state of this sample decides whether names are looked up.
  ReverseLookup lookup = [wsa, unit](const unsigned char* address, bool ipv4, std::string* name) {
    if (wsa != 0) return false;
    hostent* host = gethostbyaddr(reinterpret_cast<const char*>(address), ipv4 ? 4 : 16, ipv4 ? AF_INET : AF_INET6);
    if (host == nullptr || host->h_name == nullptr) {
      if (RAS1_Mask(unit) & RAS1_ERROR)
        RAS1_Printf(unit, __LINE__, "gethostbyaddr error <%d>. Exiting", WSAGetLastError());
      return false;
    }
    std::size_t n = 0;
    while (n < 256 && host->h_name[n] != '\0') ++n;
    name->assign(host->h_name, n);
    return true;
  };
  SecondsClock clock = [] { return static_cast<long long>(std::time(nullptr)); };
  static const std::vector<std::string> kNoServices;
  std::vector<RowRecord> rows =
      BuildPortRows(endpoints, services ? *services : kNoServices, g_acceptedFailures.load(), lookup, clock);
  int status = 0;
  for (const RowRecord& row : rows) {
    status = request.AddData(row.data(), 1);
    if (status != 0) break;
  }
  if (wsa == 0) WSACleanup();
  return status;
}

}  // namespace inventory
}  // namespace osm

class osm_ntnetwport_agent : public osm::inventory::InventoryAgent<osm_ntnetwport_base> {
 public:
  osm_ntnetwport_agent(RequestDetail& d, ContextInfo& c, TableManager* m) : InventoryAgent(d, c, m) {
    osm::inventory::ReadAcceptedFailures();
  }

 protected:
  int Collect() override { return osm::inventory::CollectNetworkPorts(*this, Unit()); }
};
OSM_AGENT(ntnetwport, osm_ntnetwport_agent)

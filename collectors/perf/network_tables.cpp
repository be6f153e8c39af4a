// NETWRKIN, NTNETWRKIN and IPSTATS: the Network Interface samples completed
// by their bandwidth use and one address of each interface, and the IP
// sample by its fragment percentage.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include "collectors/perf/network_tables.h"

#include <cstring>
#include <cwchar>
#include <map>
#include <new>
#include <utility>

#include "collectors/perf/perf_collector.h"
#include "collectors/perf/system_identity.h"
#include "framework/nlsxlat.h"
#include "tables/tables.h"

namespace osm {
namespace perf {

namespace {

bool AtLeastWindows51(OSVERSIONINFOA* version) {
  std::memset(version, 0, sizeof *version);
  version->dwOSVersionInfoSize = sizeof *version;
  if (!GetVersionExA(version)) return false;
  return version->dwMajorVersion > 5 || (version->dwMajorVersion == 5 && version->dwMinorVersion >= 1);
}

// The description in the code set of the instance names (US-ASCII, as the
// counter service writes them), so that the two compare byte for byte.
bool DescriptionText(const wchar_t* description, std::string* text) {
  const wchar_t* d = description ? description : L"";
  char buffer[512];
  std::size_t written = 0;
  int rc = NLS2_TranslateString(NLS2_CS_UTF16LE, d, std::wcslen(d) * sizeof(wchar_t), NLS2_CS_ASCII, buffer,
                                sizeof buffer, &written, nullptr);
  if (rc != NLS2_OK && rc != NLS2_TRUNCATED) return false;
  text->assign(buffer, written);
  return true;
}

void AddUnicastAddresses(const IP_ADAPTER_ADDRESSES& adapter, const std::string& description,
                         std::vector<AdapterAddress>* list, RAS1_EPB* unit) {
  for (const IP_ADAPTER_UNICAST_ADDRESS* u = adapter.FirstUnicastAddress; u; u = u->Next) {
    char text[1025];
    if (getnameinfo(u->Address.lpSockaddr, u->Address.iSockaddrLength, text, sizeof text, nullptr, 0,
                    NI_NUMERICHOST) != 0) {
      if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "getNameinfo() API call failed.\n");
      continue;
    }
    text[sizeof text - 1] = '\0';
    AdapterAddress entry;
    entry.address = text;
    entry.description = description;
    entry.family = u->Address.lpSockaddr->sa_family;
    list->push_back(entry);
  }
}

void CompleteInterfaceRows(const char* table, FetchedRows& rows, RAS1_EPB* unit) {
  bool wt = std::strcmp(table, "NETWRKIN") == 0;
  InterfaceBandwidths wide;
  bool haveWide = wt && ReadInterfaceBandwidths(&wide, unit);
  std::vector<AdapterAddress> list = BuildAdapterAddressList(unit);
  // One lookup per address and sample, however many rows ask.
  std::map<std::pair<std::string, int>, std::string> names;
  AddressResolver resolve = [&names](const std::string& address, int family) {
    auto key = std::make_pair(address, family);
    auto it = names.find(key);
    if (it == names.end()) it = names.emplace(key, ResolveHostAddress(address.c_str(), family)).first;
    return it->second;
  };
  for (int i = 0; i < rows.count; ++i) {
    char* row = rows.Row(i);
    if (wt) CompleteNetwrkinBandwidth(row, haveWide ? &wide : nullptr);
    else CompleteNtNetwrkinBandwidth(row);
    AssignInterfaceAddress(table, row, list, resolve);
  }
}

void CompleteNetwrkinRows(FetchedRows& rows, RAS1_EPB* unit) { CompleteInterfaceRows("NETWRKIN", rows, unit); }
void CompleteNtNetwrkinRows(FetchedRows& rows, RAS1_EPB* unit) { CompleteInterfaceRows("NTNETWRKIN", rows, unit); }

void CompleteIpStatsRows(FetchedRows& rows, RAS1_EPB*) {
  for (int i = 0; i < rows.count; ++i) CompleteIpStatsRow(rows.Row(i));
}

const CollectorSpec kNetwrkin = {"NETWRKIN", "Network Interface", ProgressForm::kSpaced2, nullptr, nullptr,
                                 &CompleteNetwrkinRows};
const CollectorSpec kNtNetwrkin = {"NTNETWRKIN", "Network Interface", ProgressForm::kSpaced2, nullptr, nullptr,
                                   &CompleteNtNetwrkinRows};
const CollectorSpec kIpStats = {"IPSTATS", "IP", ProgressForm::kSpaced2, nullptr, nullptr, &CompleteIpStatsRows};

}  // namespace

bool ReadInterfaceBandwidths(InterfaceBandwidths* interfaces, RAS1_EPB* unit) {
  FetchedRows rows;
  HRESULT hr = Fetch("NTNETWRKIN", &rows);
  if (hr != S_OK) {
    if (RAS1_Mask(unit) & RAS1_DETAIL)
      RAS1_Printf(unit, __LINE__, "Network Interface bandwidths unavailable: <%x>\n", static_cast<unsigned>(hr));
    return false;
  }
  for (int i = 0; i < rows.count; ++i) interfaces->AddRow(rows.Row(i));
  return true;
}

std::vector<AdapterAddress> BuildAdapterAddressList(RAS1_EPB* unit) {
  std::vector<AdapterAddress> list;
  bool detail = (RAS1_Mask(unit) & RAS1_DETAIL) != 0;
  OSVERSIONINFOA version;
  bool recent = AtLeastWindows51(&version);
  WSADATA data;
  bool socketsUp = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  if (!socketsUp || !recent) {
    if (version.dwMinorVersion != 0) {
      if (detail) RAS1_Printf(unit, __LINE__, "wsaInit() failed.\n");
    } else {
      AdapterAddress placeholder;
      placeholder.address = "NO_DNS_ENTRY";
      placeholder.description = "NOT_AVAILABLE";
      list.push_back(placeholder);
      if (detail)
        RAS1_Printf(unit, __LINE__, "OR Windows version is Windows 2000 Major:%d Minor:%d\n",
                    static_cast<int>(version.dwMajorVersion), 0);
    }
    if (socketsUp) WSACleanup();
    return list;
  }
  std::vector<unsigned char> buffer;
  ULONG size = 0;
  ULONG rc = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_PREFIX, nullptr, nullptr, &size);
  // The list can grow between asking for its size and reading it: a few rounds.
  for (int attempt = 0; rc == ERROR_BUFFER_OVERFLOW && attempt < 4; ++attempt) {
    try {
      buffer.assign(size, 0);
    } catch (const std::bad_alloc&) {
      if (detail) RAS1_Printf(unit, __LINE__, "No memory available for GetAdaptersAddress required buffer space.\n");
      WSACleanup();
      return list;
    }
    rc = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_PREFIX, nullptr,
                              reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (rc != NO_ERROR || buffer.empty()) {
    if (detail) RAS1_Printf(unit, __LINE__, "GetAdapterAddress() failed.\n");
    WSACleanup();
    return list;
  }
  for (const IP_ADAPTER_ADDRESSES* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
    std::string description;
    if (!DescriptionText(a->Description, &description)) {
      if (detail)
        RAS1_Printf(unit, __LINE__,
                    "Adapter Description conversion using WideCharToMultiByte cannot convert Adapter Name.\n");
      continue;
    }
    AddUnicastAddresses(*a, PerfInstanceName(description), &list, unit);
  }
  WSACleanup();
  return list;
}

}  // namespace perf
}  // namespace osm

OSM_PERF_AGENT(netwrkin, osm::perf::kNetwrkin)
OSM_PERF_AGENT(ntnetwrkin, osm::perf::kNtNetwrkin)
OSM_PERF_AGENT(ipstats, osm::perf::kIpStats)

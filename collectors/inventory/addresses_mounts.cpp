// NTIPADDR: every unicast address of every adapter; NTMNTPT: the volumes
// mounted in folders of the lettered drives.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstring>

#include "collectors/inventory/adapter_addresses.h"
#include "collectors/inventory/inventory_agent.h"
#include "collectors/inventory/inventory_rows.h"
#include "collectors/inventory/inventory_text.h"
#include "collectors/inventory/mount_points.h"
#include "collectors/inventory/volumes.h"
#include "collectors/perf/system_identity.h"
#include "tables/tables.h"

namespace osm {
namespace inventory {

namespace {

struct WindowsVersion {
  bool known = false;
  DWORD major = 0, minor = 0;
  bool AtLeast51() const { return major > 5 || (major == 5 && minor >= 1); }
};

WindowsVersion QueryVersion() {
  WindowsVersion v;
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  if (GetVersionExA(&info)) {
    v.known = true;
    v.major = info.dwMajorVersion;
    v.minor = info.dwMinorVersion;
  }
  return v;
}

}  // namespace

std::vector<AdapterAddress> BuildAdapterAddressList(RAS1_EPB* unit) {
  std::vector<AdapterAddress> list;
  bool detail = (RAS1_Mask(unit) & RAS1_DETAIL) != 0;
  WindowsVersion version = QueryVersion();
  WSADATA data;
  bool socketsUp = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  if (!socketsUp || !version.AtLeast51()) {
    if (version.minor != 0) {
      if (detail) RAS1_Printf(unit, __LINE__, "wsaInit() failed.\n");
    } else {
      AdapterAddress placeholder;
      placeholder.address = "NO_DNS_ENTRY";
      placeholder.description = placeholder.hardware = "NOT_AVAILABLE";
      list.push_back(placeholder);
      if (detail)
        RAS1_Printf(unit, __LINE__, "OR Windows version is Windows 2000 Major:%d Minor:%d\n",
                    static_cast<int>(version.major), 0);
    }
    if (socketsUp) WSACleanup();
    return list;
  }
  ULONG size = 0;
  std::vector<BYTE> buffer;
  ULONG rc = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_PREFIX, nullptr, nullptr, &size);
  // The list may grow between the size and the data: a few attempts.
  for (int attempt = 0; rc == ERROR_BUFFER_OVERFLOW && attempt < 4; ++attempt) {
    buffer.assign(size, 0);
    rc = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_PREFIX, nullptr,
                              reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data()), &size);
  }
  if (rc != NO_ERROR || buffer.empty()) {
    if (detail) RAS1_Printf(unit, __LINE__, "GetAdapterAddress() failed.\n");
    WSACleanup();
    return list;
  }
  for (auto a = reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data()); a; a = a->Next) {
    char description[512];
    if (WideCharToMultiByte(CP_ACP, 0, a->Description ? a->Description : L"", -1, description, sizeof description,
                            nullptr, nullptr) == 0) {
      if (detail)
        RAS1_Printf(unit, __LINE__,
                    "Adapter Description conversion using WideCharToMultiByte cannot convert Adapter Name.\n");
      continue;
    }
    // The adapter's own hardware address, so that two adapters of the same
    // description keep theirs.
    std::string hardware = HardwareAddressText(a->PhysicalAddress, a->PhysicalAddressLength);
    std::string name = NormalisedAdapterName(description);
    for (auto u = a->FirstUnicastAddress; u; u = u->Next) {
      char text[1025];
      if (getnameinfo(u->Address.lpSockaddr, u->Address.iSockaddrLength, text, sizeof text, nullptr, 0,
                      NI_NUMERICHOST) != 0) {
        if (detail) RAS1_Printf(unit, __LINE__, "getNameinfo() API call failed.\n");
        continue;
      }
      AdapterAddress entry;
      entry.address = text;
      entry.description = name;
      entry.hardware = hardware;
      entry.family = u->Address.lpSockaddr->sa_family;
      list.push_back(entry);
    }
  }
  WSACleanup();
  return list;
}

namespace {

int CollectAddresses(TableBase& request, RAS1_EPB* unit) {
  RowRecord row("NTIPADDR");
  WindowsVersion version = QueryVersion();
  if (version.known && !version.AtLeast51()) {
    row.Stamp().Text("MACADDRESS", "NOT_AVAILABLE").Text("INTFNAME", "NOT_AVAILABLE");
    return request.AddData(row.data(), 1);
  }
  std::vector<AdapterAddress> list = BuildAdapterAddressList(unit);
  row.Stamp();
  int status = 0;
  for (const AdapterAddress& a : list) {
    row.Text("INTFNAME", a.description)
        .Text("IPADDRESS", a.address)
        .Int32("IPVERSION", IpVersionOf(a.address))
        .Text("MACADDRESS", a.hardware)
        .Text("DNSNAME", perf::ResolveHostAddress(a.address.c_str(), a.family));
    status = request.AddData(row.data(), 1);
    if (status != 0) break;
  }
  return status;
}

int CollectMountPoints(TableBase& request, RAS1_EPB*) {
  RowRecord row("NTMNTPT");
  row.Stamp();
  std::unique_ptr<VolumeSource> platform;
  VolumeSource* source = VolumeSourceHook();
  if (source == nullptr) {
    platform = NewPlatformVolumeSource();
    source = platform.get();
  }
  int status = 0;
  for (const MountPoint& m : DiscoverMountPoints(*source)) {
    row.Text("DRVNAME", m.root).Text("VOLNAME", m.volume).Text("MNTPOINT", m.path).Text("MNTPTSTATE", m.state);
    status = request.AddData(row.data(), 1);
    if (status != 0) break;
  }
  return status;
}

}  // namespace
}  // namespace inventory
}  // namespace osm

OSM_INVENTORY_AGENT(ntipaddr, osm::inventory::CollectAddresses(*this, Unit()))
OSM_INVENTORY_AGENT(ntmntpt, osm::inventory::CollectMountPoints(*this, Unit()))

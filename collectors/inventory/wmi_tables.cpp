// NTPROCINFO, NTBIOSINFO and NTCOMPINFO: processor, firmware and computer
// product inventory through WMI, one text attribute per property.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstring>

#include "collectors/inventory/inventory_agent.h"
#include "collectors/inventory/inventory_rows.h"
#include "collectors/inventory/wmi.h"
#include "framework/cfw.h"
#include "tables/tables.h"

namespace osm {
namespace inventory {

namespace {

struct WmiColumn {
  const wchar_t* property;
  const char* attribute;  // a text attribute; the property's text is cut at its width
};

struct WmiTable {
  const char* table;
  const wchar_t* query;
  bool everyInstance;           // else the first instance only
  const char* noInstancesTrace;
  std::vector<WmiColumn> columns;
};

const WmiTable kProcessors = {
    "NTPROCINFO", L"SELECT * FROM Win32_Processor", true, "No Query Instances returned for %s\n",
    {{L"DeviceID", "PROCDEVID"},       {L"AddressWidth", "PROCADDW"},  {L"DataWidth", "DATAW"},
     {L"CurrentClockSpeed", "CURCLKSP"}, {L"MaxClockSpeed", "MAXCLKSP"}, {L"L2CacheSize", "L2CACHE"},
     {L"LoadPercentage", "LOADPCT"},   {L"SocketDesignation", "SOCKET"}, {L"Name", "PNAME"},
     {L"Manufacturer", "MANUF"},       {L"Description", "DESCR"},     {L"PowerManagementSupported", "PMSUPP"},
     {L"ProcessorID", "PROCID"},       {L"Version", "VERSION"}}};

const WmiTable kBios = {"NTBIOSINFO", L"SELECT * FROM Win32_BIOS", false, "No Query instances returned for %s\n",
                        {{L"Version", "BIOSVER"},
                         {L"Description", "BIOSDESC"},
                         {L"Manufacturer", "BIOSMAN"},
                         {L"ReleaseDate", "BIOSDATE"},
                         {L"SerialNumber", "BIOSSN"}}};

const WmiTable kProduct = {"NTCOMPINFO", L"SELECT * FROM Win32_ComputerSystemProduct", false,
                           "No Query Instances returned for %s\n",
                           {{L"Description", "COMPDESC"},
                            {L"IdentifyingNumber", "COMPID"},
                            {L"Name", "COMPNAME"},
                            {L"UUID", "COMPUUID"},
                            {L"Vendor", "COMPVEND"},
                            {L"Version", "COMPVER"}}};

void PutText(RowRecord& row, const char* attribute, const std::string& text) {
  // Copied with the text's own length, then blanks to the width.
  CopyThenBlankPad(row.Field(attribute), text.c_str(), row.Width(attribute));
}

// The fully qualified name of a host: its canonical name for IPv4, else for
// IPv6, else "NO_DNS_ENTRY".
std::string FullyQualifiedName(const char* host) {
  std::string name = "NO_DNS_ENTRY";
  WSADATA data;
  if (host == nullptr || *host == '\0' || WSAStartup(MAKEWORD(2, 2), &data) != 0) return name;
  for (int family : {AF_INET, AF_INET6}) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = family;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &result) == 0) {
      bool found = result && result->ai_canonname && *result->ai_canonname;
      if (found) name = result->ai_canonname;
      freeaddrinfo(result);
      if (found) break;
    }
  }
  WSACleanup();
  return name;
}

}  // namespace

int CollectWmiRows(const WmiTable& spec, TableBase& request, RAS1_EPB* unit) {
  std::vector<const wchar_t*> properties;
  for (const WmiColumn& c : spec.columns) properties.push_back(c.property);
  std::vector<std::vector<std::string>> instances;
  if (!RunWmiQuery(spec.query, properties, !spec.everyInstance, &instances, unit)) return 0;
  if (instances.empty()) {
    if (RAS1_Mask(unit) & RAS1_DETAIL)
      RAS1_Printf(unit, __LINE__, spec.noInstancesTrace, NarrowText(spec.query).c_str());
    return 0;
  }
  RowRecord blank(spec.table);
  blank.Stamp();
  if (std::strcmp(spec.table, "NTCOMPINFO") == 0) {
    const char* host = DCF_GetNodeSystemName();
    PutText(blank, "COMPHNAM", host ? host : "");
    PutText(blank, "COMPFQDN", FullyQualifiedName(host));
  }
  int status = 0;
  for (std::size_t i = 0; i < instances.size() && status == 0; ++i) {
    if (spec.everyInstance && (RAS1_Mask(unit) & RAS1_DETAIL))
      RAS1_Printf(unit, __LINE__, "Processing Processor Info instance %d\n", static_cast<int>(i));
    RowRecord row = blank;
    for (std::size_t c = 0; c < spec.columns.size(); ++c) PutText(row, spec.columns[c].attribute, instances[i][c]);
    status = request.AddData(row.data(), 1);
  }
  return status;
}

}  // namespace inventory
}  // namespace osm

OSM_INVENTORY_AGENT(ntprocinfo, osm::inventory::CollectWmiRows(osm::inventory::kProcessors, *this, Unit()))
OSM_INVENTORY_AGENT(ntbiosinfo, osm::inventory::CollectWmiRows(osm::inventory::kBios, *this, Unit()))
OSM_INVENTORY_AGENT(ntcompinfo, osm::inventory::CollectWmiRows(osm::inventory::kProduct, *this, Unit()))

// NTSERVICE, NTDEVICE: one row per service or driver; NTSVCDEP, NTDEVDEP:
// one row per dependency the configuration lists.
#include <exception>
#include <memory>

#include "collectors/inventory/inventory_agent.h"
#include "collectors/inventory/inventory_rows.h"
#include "collectors/inventory/service_list.h"
#include "tables/tables.h"

namespace osm {
namespace inventory {

namespace {

// What differs between the service and the driver tables.
struct ServiceTableSpec {
  const char* table;
  DWORD types;
  const char* nameAttr;       // SRVCNAME or DEVNAME
  const char* startNameAttr;  // ACCONTID (the account) or DROBNAME (the driver object)
  const char* uStartNameAttr;  // UACCONTID, or null
  const char* uNameAttr;       // USRVCNAME, or null
};

const ServiceTableSpec kServices = {"NTSERVICE", kServiceTypes, "SRVCNAME", "ACCONTID", "UACCONTID", "USRVCNAME"};
const ServiceTableSpec kDevices = {"NTDEVICE", kDriverTypes, "DEVNAME", "DROBNAME", nullptr, nullptr};
const ServiceTableSpec kServiceDeps = {"NTSVCDEP", kServiceTypes, "SRVCNAME", nullptr, nullptr, nullptr};
const ServiceTableSpec kDeviceDeps = {"NTDEVDEP", kDriverTypes, "DEVNAME", nullptr, nullptr, nullptr};

// The collected list, or null after the failure is traced.
std::unique_ptr<ServiceList> Collected(DWORD types, RAS1_EPB* unit) {
  std::unique_ptr<ServiceList> list;
  try {
    list.reset(new ServiceList(types));
  } catch (const std::exception& e) {
    if (RAS1_Mask(unit) & RAS1_ERROR)
      RAS1_Printf(unit, __LINE__, "Exception raised during data collection.  Exception text: %s", e.what());
    return nullptr;
  }
  if (!list->Collect()) return nullptr;
  return list;
}

const wchar_t* OrEmpty(const wchar_t* text) { return text ? text : L""; }

}  // namespace

int CollectServiceRows(const ServiceTableSpec& spec, TableBase& request, RAS1_EPB* unit) {
  std::unique_ptr<ServiceList> list = Collected(spec.types, unit);
  if (!list) return 0;
  RowBlock rows;
  for (std::size_t i = 0; i < list->Count(); ++i) {
    const ServiceList::Entry& e = list->At(i);
    const QUERY_SERVICE_CONFIGW& c = e.Config();
    RowRecord row(spec.table, RowRecord::kZeros);
    row.Stamp().Int32("ROWNO", static_cast<std::int32_t>(i + 1));
    row.Ascii("DISPNAME", OrEmpty(c.lpDisplayName))
        .Text("CURRSTAT", ServiceStateName(e.status.dwCurrentState))
        .Text("STARTYPE", StartTypeName(c.dwStartType))
        .Ascii("BINARYEX", OrEmpty(c.lpBinaryPathName))
        .Ascii(spec.startNameAttr, OrEmpty(c.lpServiceStartName))
        .Ascii("LORGROUP", OrEmpty(c.lpLoadOrderGroup))
        .Ascii(spec.nameAttr, e.name.c_str())
        .Utf8("UDISPNAME", OrEmpty(c.lpDisplayName))
        .Utf8("UBINARYEX", OrEmpty(c.lpBinaryPathName));
    if (spec.uStartNameAttr) row.Utf8(spec.uStartNameAttr, OrEmpty(c.lpServiceStartName));
    if (spec.uNameAttr) row.Utf8(spec.uNameAttr, e.name.c_str());
    rows.Add(row);
  }
  if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "Returned %d rows.", rows.count());
  int status = request.AddData(rows.data(), rows.count());
  if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "Sent %d rows.", rows.count());
  return status;
}

int CollectDependencyRows(const ServiceTableSpec& spec, TableBase& request, RAS1_EPB* unit) {
  std::unique_ptr<ServiceList> list = Collected(spec.types, unit);
  if (!list) {
    if (RAS1_Mask(unit) & RAS1_ERROR) RAS1_Printf(unit, __LINE__, "No data!");
    return 0;
  }
  int status = 0;
  for (std::size_t i = 0; i < list->Count() && status == 0; ++i) {
    const ServiceList::Entry& e = list->At(i);
    const QUERY_SERVICE_CONFIGW& c = e.Config();
    // The list is double-NUL terminated; a block that lacks the end is read
    // no further than the block itself.
    const wchar_t* p = c.lpDependencies;
    const BYTE* blockEnd = e.block.data() + e.block.size();
    const BYTE* at = reinterpret_cast<const BYTE*>(p);
    bool inBlock = p && at >= e.block.data() && at < blockEnd;
    const wchar_t* end = inBlock ? reinterpret_cast<const wchar_t*>(blockEnd) : nullptr;
    while (p && (!end || p < end) && *p) {
      std::wstring name;
      while ((!end || p < end) && *p) name.push_back(*p++);
      ++p;
      RowRecord row(spec.table, RowRecord::kZeros);
      row.Stamp().Int32("ROWNO", static_cast<std::int32_t>(i + 1));
      row.Ascii(spec.nameAttr, e.name.c_str())
          .Ascii("DISPNAME", OrEmpty(c.lpDisplayName))
          .Ascii("DEPEND", name.c_str())
          .Utf8("UDISPNAME", OrEmpty(c.lpDisplayName));
      status = request.AddData(row.data(), 1);
      if (status != 0) break;
    }
  }
  return status;
}

}  // namespace inventory
}  // namespace osm

OSM_INVENTORY_AGENT(ntservice, osm::inventory::CollectServiceRows(osm::inventory::kServices, *this, Unit()))
OSM_INVENTORY_AGENT(ntdevice, osm::inventory::CollectServiceRows(osm::inventory::kDevices, *this, Unit()))
OSM_INVENTORY_AGENT(ntsvcdep, osm::inventory::CollectDependencyRows(osm::inventory::kServiceDeps, *this, Unit()))
OSM_INVENTORY_AGENT(ntdevdep, osm::inventory::CollectDependencyRows(osm::inventory::kDeviceDeps, *this, Unit()))

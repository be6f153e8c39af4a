// NETWRKIN, NTNETWRKIN and IPSTATS: the Network Interface samples completed
// by their bandwidth use and one address of each interface, and the IP
// sample by its fragment percentage.
#include "collectors/perf/network_tables.h"

#include <cstring>
#include <map>
#include <utility>

#include "collectors/perf/perf_collector.h"
#include "collectors/perf/system_identity.h"
#include "tables/tables.h"

namespace osm {
namespace perf {

namespace {

void CompleteInterfaceRows(const char* table, FetchedRows& rows, RAS1_EPB* unit) {
  bool wt = std::strcmp(table, "NETWRKIN") == 0;
  InterfaceBandwidths wide;
  bool haveWide = wt && ReadInterfaceBandwidths(&wide, unit);
  std::vector<inventory::AdapterAddress> list = inventory::BuildAdapterAddressList(unit);
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

}  // namespace perf
}  // namespace osm

OSM_PERF_AGENT(netwrkin, osm::perf::kNetwrkin)
OSM_PERF_AGENT(ntnetwrkin, osm::perf::kNtNetwrkin)
OSM_PERF_AGENT(ipstats, osm::perf::kIpStats)

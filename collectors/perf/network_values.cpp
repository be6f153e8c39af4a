#include "collectors/perf/network_values.h"

#include <cctype>
#include <limits>

#include "collectors/perf/disk_values.h"
#include "collectors/perf/perf_values.h"

namespace osm {
namespace perf {

namespace {

const char kNoDnsEntry[] = "NO_DNS_ENTRY";

// The fields both Network Interface tables share by name.
struct InterfaceFields {
  RowField name, bandwidth, bytesTotal, use, netAddr, globalAddr, linkLocalAddr;
  explicit InterfaceFields(const char* table) {
    const TableDef& t = *FindTable(table);
    name = FieldOf(t, "UINTFINST");
    bandwidth = FieldOf(t, "CURBANDW");
    bytesTotal = FieldOf(t, "BYTTOTSE");
    use = FieldOf(t, "BANDUTLPCT");
    netAddr = FieldOf(t, "NETADDR");
    globalAddr = FieldOf(t, "GLOBALADDR");
    linkLocalAddr = FieldOf(t, "LLOCALADDR");
  }
};

const InterfaceFields& Wt() {
  static const InterfaceFields f("NETWRKIN");
  return f;
}
const InterfaceFields& Nt() {
  static const InterfaceFields f("NTNETWRKIN");
  return f;
}

std::string NameOf(const char* row, const InterfaceFields& f) {
  return TrimmedInstanceName(row + f.name.offset, f.name.width);
}

void WriteText(char* row, RowField f, const std::string& text) { CopyTextField(row + f.offset, f.width, text); }

bool BeginsWith(const std::string& text, const char* prefix) {
  for (std::size_t i = 0; prefix[i]; ++i)
    if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

}  // namespace

void InterfaceBandwidths::AddRow(const char* row) {
  const InterfaceFields& f = Nt();
  rows_.push_back({NameOf(row, f), GetInt64(row, f.bandwidth), GetInt64(row, f.bytesTotal)});
}

bool InterfaceBandwidths::Find(const std::string& name, std::int64_t* bandwidth, std::int64_t* bytesTotal) const {
  for (const Interface& i : rows_)
    if (i.name == name) {
      *bandwidth = i.bandwidth;
      *bytesTotal = i.bytesTotal;
      return true;
    }
  return false;
}

float InterfaceBandwidths::Fastest() const {
  float fastest = 1.0f;
  for (const Interface& i : rows_)
    if (static_cast<float>(i.bandwidth) > fastest) fastest = static_cast<float>(i.bandwidth);
  return fastest;
}

std::int32_t BandwidthUsePercent(std::int64_t bytesPerSecond, std::int64_t bitsPerSecond) {
  if (bitsPerSecond <= 0) return 0;
  return RoundHalfUp(static_cast<float>(bytesPerSecond) * 8.0f / static_cast<float>(bitsPerSecond) * 100.0f);
}

void CompleteNetwrkinBandwidth(char* row, const InterfaceBandwidths* interfaces) {
  const InterfaceFields& f = Wt();
  std::int64_t bandwidth = 0, wideBytes = 0;
  if (interfaces == nullptr || !interfaces->Find(NameOf(row, f), &bandwidth, &wideBytes)) {
    SetInt32(row, f.use, -1);
    return;
  }
  // The row's own byte rate, unless it too was saturated to 32 bits.
  std::int64_t bytes = GetInt32(row, f.bytesTotal);
  if (bytes == std::numeric_limits<std::int32_t>::max()) bytes = wideBytes;
  SetInt32(row, f.use, BandwidthUsePercent(bytes, bandwidth));
}

void CompleteNtNetwrkinBandwidth(char* row) {
  const InterfaceFields& f = Nt();
  SetInt32(row, f.use, BandwidthUsePercent(GetInt64(row, f.bytesTotal), GetInt64(row, f.bandwidth)));
}

void AssignInterfaceAddress(const char* table, char* row, const std::vector<inventory::AdapterAddress>& list,
                            const AddressResolver& resolve) {
  if (list.empty()) return;
  const InterfaceFields& f = std::string(table) == "NTNETWRKIN" ? Nt() : Wt();
  for (RowField field : {f.netAddr, f.linkLocalAddr, f.globalAddr}) WriteText(row, field, kNoDnsEntry);
  std::string name = NameOf(row, f);
  for (const inventory::AdapterAddress& a : list) {
    // Instance names are cut at the field's width: so is the description.
    std::size_t cut = a.description.size() < f.name.width ? a.description.size() : f.name.width;
    if (TrimmedInstanceName(a.description.data(), cut) != name) continue;
    RowField target;
    if (a.family == 2) target = f.netAddr;
    else if (a.family == 23 && BeginsWith(a.address, "fe80")) target = f.linkLocalAddr;
    else if (a.family == 23 && !BeginsWith(a.address, "fe")) target = f.globalAddr;
    else continue;
    if (resolve(a.address, a.family) == kNoDnsEntry) continue;
    WriteText(row, target, a.address);
    return;
  }
}

void CompleteIpStatsRow(char* row) {
  static const RowField fragments = FieldOf("IPSTATS", "FRGRECSE"), datagrams = FieldOf("IPSTATS", "DGRECSEC"),
                        percent = FieldOf("IPSTATS", "DGMFRAGPCT");
  std::int32_t received = GetInt32(row, datagrams);
  SetInt32(row, percent,
           received >= 1 ? RoundHalfUp(static_cast<float>(GetInt32(row, fragments)) / static_cast<float>(received) *
                                       100.0f)
                         : 0);
}

}  // namespace perf
}  // namespace osm

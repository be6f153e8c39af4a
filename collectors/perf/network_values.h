// The network tables' own values: the bandwidth use and the address of each
// Network Interface row (NETWRKIN, NTNETWRKIN), the fastest interface that the
// server and redirector tables measure their byte rates against, and the
// fragment percentage of IPSTATS. No platform calls: the Windows side lists
// the adapters' addresses (BuildAdapterAddressList) and resolves them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "collectors/inventory/adapter_addresses.h"

namespace osm {
namespace perf {

// The 64-bit figures of the Network Interface sample (NTNETWRKIN rows), by
// interface name. A 32-bit "Current Bandwidth" saturates at 2.15 Gb/s, so
// these are the only bandwidths the other tables rely on.
class InterfaceBandwidths {
 public:
  void AddRow(const char* ntNetwrkinRow);
  // Bits per second and bytes per second of the named interface; false when
  // the sample has no such interface.
  bool Find(const std::string& name, std::int64_t* bandwidth, std::int64_t* bytesTotal) const;
  // The fastest interface's bandwidth, at least 1.
  float Fastest() const;
  int Count() const { return static_cast<int>(rows_.size()); }

 private:
  struct Interface {
    std::string name;
    std::int64_t bandwidth, bytesTotal;
  };
  std::vector<Interface> rows_;
};

// Bytes per second x 8 / bits per second x 100, rounded half up; 0 for a
// bandwidth of 0 or less.
std::int32_t BandwidthUsePercent(std::int64_t bytesPerSecond, std::int64_t bitsPerSecond);

// BANDUTLPCT of a NETWRKIN row, from the bandwidth that NTNETWRKIN reports
// for the same interface; -1 without that sample (interfaces null) or row.
void CompleteNetwrkinBandwidth(char* row, const InterfaceBandwidths* interfaces);
// BANDUTLPCT of an NTNETWRKIN row, from its own 64-bit figures.
void CompleteNtNetwrkinBandwidth(char* row);

// Answers the DNS name of a numeric address of the family, or "NO_DNS_ENTRY".
typedef std::function<std::string(const std::string& address, int family)> AddressResolver;

// Writes the one address a Network Interface row of `table` (NETWRKIN or
// NTNETWRKIN) shows: the first address of the interface, in list order, that
// has a DNS name and is IPv4 (NETADDR), link-local IPv6 (LLOCALADDR) or
// global IPv6 (GLOBALADDR, not beginning with "fe"). The other two fields,
// or all three, read "NO_DNS_ENTRY". Every field written is blank-filled
// first. An empty list leaves the fields as the sample delivered them.
void AssignInterfaceAddress(const char* table, char* row, const std::vector<inventory::AdapterAddress>& list,
                            const AddressResolver& resolve);

// DGMFRAGPCT of an IPSTATS row: fragments received per datagram received, in
// percent, rounded half up; 0 below one datagram per second.
void CompleteIpStatsRow(char* row);

}  // namespace perf
}  // namespace osm

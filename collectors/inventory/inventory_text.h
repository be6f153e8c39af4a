// Texts the inventory tables derive from platform values, kept as data and
// pure functions: printer and job status words, service state and start-type
// name lookups, address versions and adapter names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace osm {
namespace inventory {

// ":Paused:Error:" from the status bits, one word per set bit in a fixed
// order and a closing ':'. A printer with no bit set reads ":Check Jobs:"
// with queued jobs and ":Ready:" without; a job with none ":Waiting:".
std::string PrinterStatusText(std::uint32_t status, std::uint32_t queuedJobs);
std::string JobStatusText(std::uint32_t status);

// A list of names in the string table: its length at countId, the name of
// value v at firstId + v, and unknownId for any value outside the list.
struct NameList {
  unsigned countId;
  unsigned firstId;
  unsigned unknownId;
};
extern const NameList kServiceStateNames;  // SERVICE_STATUS dwCurrentState
extern const NameList kStartTypeNames;     // QUERY_SERVICE_CONFIG dwStartType
// The string id naming value, given the text of the list's length. The value
// is compared as an unsigned number, so -1 (a failed query) is unknown.
unsigned NameIdOf(const NameList& list, std::uint32_t value, const char* countText);

// IPVERSION of an address text: 4 with '.' and no ':', 6 without '.', 10
// with both (an IPv4-mapped IPv6 address).
int IpVersionOf(const std::string& address);
// An adapter description as performance instances name interfaces:
// '(' becomes '[', ')' becomes ']', '/', '\' and '#' become '_' (so that
// "Adapter #2" finds its instance).
std::string NormalisedAdapterName(std::string description);
// The hardware address as lower-case hexadecimal pairs without separators.
std::string HardwareAddressText(const unsigned char* bytes, std::size_t length);

// The text of a WMI string array: the elements joined with " | ".
std::string JoinWmiTexts(const std::vector<std::string>& parts);

}  // namespace inventory
}  // namespace osm

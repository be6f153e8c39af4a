// The system identity record: the static facts about this machine that the
// WTSYSTEM rows carry (user, OS, address, processors, page size), gathered
// once while the program starts, and the host-address resolution that other
// collectors reuse.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "perfsvc/osmkount.h"

class OsmSampleBfr;

namespace osm {
namespace perf {

struct SystemIdentity {
  char userName[64];        // account name of the agent process, blank padded
  char wideUserName[388];   // the same from the wide query, as UTF-8
  char osType[16];          // "Windows_7", ..., blank padded
  char osVersion[8];        // "6.1", blank padded
  char networkAddress[46];  // numeric address of the host, blank padded (any IPv6 text fits)
  std::int32_t processors;
  std::int32_t logicalProcessors;
  std::int32_t processorType;
  std::int32_t pageSize;
  std::uint8_t productType;  // 1 workstation, 2 domain controller, 3 server
};

// The process-wide record, built on first use (and at program start-up).
const SystemIdentity& SystemIdentityRecord();
// Builds a record from the platform's queries (each failed query leaves its
// field blank or 0).
void BuildSystemIdentity(SystemIdentity* record);

// The number of logical processors, or -1.
int GetLogicalProcessorCount();
// Writes the host's numeric address text into a blank-padded field.
void GetNetworkAddressText(char* target, std::size_t width);
// Address families of ResolveHostAddress (the socket layer's values).
const int kFamilyIpv4 = 2;
const int kFamilyIpv6 = 23;

// The numeric address of a host name, the DNS name of a numeric address, or
// "NO_DNS_ENTRY". family: AF_INET (2) or AF_INET6 (23).
std::string ResolveHostAddress(const char* text, int family);
// True when text is a numeric IPv4 or IPv6 address.
bool IsNumericAddress(const char* text);

// The value of "_NETWORKADDR_" handed over at registration: 36 bytes whose
// first 16 (the width of NETADDRESS) hold the address, cut with "..." when
// it is longer; blanks after.
std::string NetworkAddressFixedValue(const SystemIdentity& record);

// Hands the nine system values of the identity record to the WTSYSTEM sample
// of the buffer (after its description): _NUMCPUS_, _NUMLCPUS_, _CPUTYPE_,
// _PAGESIZE_, _OSTYPE_, _OSVERSION_, _NETWORKADDR_, _USERNAME_, _UUSERNAME_.
// Returns the number handed over without error.
int HandOverSystemFixedData(OsmSampleBfr* buffer);

}  // namespace perf
}  // namespace osm

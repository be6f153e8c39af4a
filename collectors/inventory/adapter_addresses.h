// The unicast addresses of the machine's network adapters, in the order the
// system lists adapters and, within one, its addresses.
#pragma once

#include <string>
#include <vector>

#include "framework/ras1.h"

namespace osm {
namespace inventory {

struct AdapterAddress {
  std::string address;      // numeric text
  std::string description;  // the adapter's description in the ANSI code page, as instances name it
  std::string hardware;     // lower-case hexadecimal pairs, or ""
  int family = 0;           // 2 IPv4, 23 IPv6
};

// The list, empty when the socket layer or the adapter query fails. On a
// Windows x.0 older than 5.1 the list holds one placeholder (address
// "NO_DNS_ENTRY", description and hardware "NOT_AVAILABLE", family 0).
std::vector<AdapterAddress> BuildAdapterAddressList(RAS1_EPB* unit);

}  // namespace inventory
}  // namespace osm

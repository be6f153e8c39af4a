// The network port rows without the platform: the service name of a port
// from the lines of the services file, address texts, TCP states, the
// accepted-failures setting, and the reverse lookups of one sample with their
// failure counts and time budget. The Windows side reads the endpoint tables
// and performs the lookups; everything it decides on is here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "collectors/inventory/inventory_rows.h"

namespace osm {
namespace inventory {

// The service name of a port: the first line of the services file with a
// whole field "<port>/<protocol>" (lower case, e.g. 80/tcp or 445/tcp6), the
// text before that field, trimmed. Text after '#' is a comment. "" when none.
std::string ServiceNameOfPort(const std::vector<std::string>& lines, const std::string& protocol, int port);

// A port field of the endpoint tables (network order in the low 16 bits) in
// host order.
int PortFromNetwork(std::uint32_t field);
// Address texts: IPv4 dotted decimal from 4 bytes, IPv6 eight "%x" groups
// from 16 bytes (network order, no zero compression).
std::string AddressText(const unsigned char* bytes, bool ipv4);

// STATE of a TCP endpoint: the system's state 1 to 12, -1 for any other.
const std::int32_t kUdpState = -2;
std::int32_t TcpStateValue(std::uint32_t state);

// REVERSE_LOOKUP_ACCEPTED_FAILURES: 30 when missing or not all digits (an
// empty value gives 0); large values saturate.
const int kDefaultAcceptedFailures = 30;
struct AcceptedFailures {
  int value = kDefaultAcceptedFailures;
  enum Source { kMissing, kInvalid, kSet } source = kMissing;
};
AcceptedFailures ParseAcceptedFailures(const char* text);

// One line of the TCP or UDP tables.
struct Endpoint {
  std::string protocol;  // "TCP", "UDP", "TCP6", "UDP6"
  bool ipv4 = true;
  unsigned char local[16] = {};   // network order; IPv4 uses 4 bytes
  unsigned char remote[16] = {};
  int localPort = 0;   // host order
  int remotePort = 0;  // 0 for listeners and UDP
  std::int32_t state = kUdpState;
  bool IsTcp() const { return protocol == "TCP" || protocol == "TCP6"; }
};

// The host name of an address, or false; and the clock in seconds.
typedef std::function<bool(const unsigned char* address, bool ipv4, std::string* name)> ReverseLookup;
typedef std::function<long long()> SecondsClock;

// The rows of one sample, in endpoint order. At most one lookup per endpoint
// and direction; once a direction's failures exceed the accepted number no
// further lookup is made in it and its names are blank in every row of the
// sample; once the lookups took more than four seconds per accepted failure
// all names of the sample are blank.
std::vector<RowRecord> BuildPortRows(const std::vector<Endpoint>& endpoints, const std::vector<std::string>& services,
                                     int acceptedFailures, const ReverseLookup& lookup, const SecondsClock& clock);

// A value made once, under a lock, even when two first samples ask at once.
// A maker that returns null has not made it yet and is asked again next time.
template <class T>
class MadeOnce {
 public:
  template <class Maker>
  std::shared_ptr<const T> Get(Maker make) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!value_) value_ = make();
    return value_;
  }

 private:
  std::mutex lock_;
  std::shared_ptr<const T> value_;
};

}  // namespace inventory
}  // namespace osm

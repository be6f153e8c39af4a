// What the network, server and redirector collectors read besides their own
// sample: the 64-bit Network Interface sample.
#pragma once

#include "collectors/perf/network_values.h"
#include "framework/ras1.h"

namespace osm {
namespace perf {

// The interfaces of NTNETWRKIN's sample, copied out under that buffer's lock.
// False when it cannot be fetched (for one, when NTNETWRKIN is not
// registered); the failure is traced at detail level.
bool ReadInterfaceBandwidths(InterfaceBandwidths* interfaces, RAS1_EPB* unit);

}  // namespace perf
}  // namespace osm

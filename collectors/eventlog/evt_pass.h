// One collection pass over one log (situation or report).
#pragma once

#include <deque>

#include "collectors/eventlog/evm_eventlog.h"
#include "collectors/eventlog/evt_request.h"

namespace osm {
namespace evl {

typedef std::deque<FormattedEvent> EventQueue;

// Reads the log of the request newest first and queues the events it
// selects, formatted. The result's newest record is that of a situation
// pass (0 when it read none, or for a report).
PassResult RunPass(EventLogRequest& request, EventQueue& queue);

}  // namespace evl
}  // namespace osm

// The agent's side of the local watchdog: its start and stop with the agent,
// the alert and log listeners, the alert cache and the take-action handler.
// The four tables (wdg_tables.cpp) read the watchdog through QueryService.
#pragma once

#include "collectors/watchdog/alert_cache.h"
#include "framework/cfw.h"
#include "framework/wdc.h"

namespace osm {
namespace wdg {

// Start-up with the product code ("NT"): the cache, the listeners, the
// query service and the command handler for the product. Returns 0.
int StartWatchdog(const char* product);
// Shut-down: the listeners go, and the query service is released with the flag.
void StopWatchdog(int release);

// The query service once started; null before.
WDC_QueryService* QueryService();
// The process-wide alert cache (OSMWDGALRT reports read it).
AlertCache& Alerts();

// The listeners and the take-action handler, as the watchdog and the
// framework call them.
WDC_AlertListener& AlertListener();
WDC_LogListener& LogListener();
int TakeAction(DcfaAutomationCapsule* capsule);

}  // namespace wdg
}  // namespace osm

#include "framework/wdc.h"

#include <atomic>

#include "framework/ras1.h"

namespace {
std::atomic<bool> g_armed{true};
}

int DisarmWatchdog(int) {
  RAS1_UNIT("DisarmWatchdog");
  g_armed = false;
  RAS1_TRACE(RAS1_FLOW, "Watchdog disarmed");
  return 0;
}

int RearmWatchdog(int) {
  RAS1_UNIT("RearmWatchdog");
  g_armed = true;
  RAS1_TRACE(RAS1_FLOW, "Watchdog re-armed");
  return 0;
}

bool WatchdogArmed() { return g_armed; }

// The watchdog layer as the agent sees it: the arm state that the service
// control codes 200 and 201 switch.
#pragma once

// Disarm (code 200) and re-arm (code 201) the local watchdog. Returns 0.
int DisarmWatchdog(int reserved);
int RearmWatchdog(int reserved);
// True while armed (the state at start).
bool WatchdogArmed();

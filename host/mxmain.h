// The agent's start-up and lifetime: registry checks, environment, the counter
// object, the framework thread and the table loader.
#pragma once

#include <windows.h>

#include "host/registration.h"

class OsmSampleBfr;

void Call_DCF_RegisterAgent();
void Call_DCF_SetProduct();
// Runs on the service thread: -1, -2 or -3 on a start-up failure, otherwise
// the last wait result (0 when the framework thread ended).
int MxMain(int argc, char** argv);
// The table loader the framework calls once; returns 0.
int LoadAgents();
// Sets up a table's sample buffer from its description: 1, or 0 on failure.
int InitializeBfr(OsmSampleBfr* buffer, const char* bufferName, UINT firstResourceId, char* scratch,
                  int scratchSize);

// Parts of the start-up that tests drive on their own.
// OSM_INTERVAL as seconds: digits only, at least 5, clamped; 5 otherwise.
int IntervalFromText(const char* text);
// Applies the Environment subkeys of path below root\base, deepest first.
// Returns 0, or the CRegistry status of the failure to reach the path.
int LoadEnvironment(HKEY root, const char* base, const char* path);
// The running Windows and web server versions.
PlatformVersion DetectPlatformVersion();

// The counter-registry check of the first start-up step, on the size of the
// Perflib "Counter" value: false (stop the agent) when present but shorter
// than 2 bytes. OSM_PERFLIB_COUNTER_SIZE, when set, stands for the queried size.
bool PerflibCountersUsable();

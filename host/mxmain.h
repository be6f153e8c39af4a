// The agent's start-up and lifetime: registry checks, environment, the counter
// object, the framework thread and the table loader.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "host/registration.h"

class OsmSampleBfr;

void Call_DCF_RegisterAgent();
void Call_DCF_SetProduct();
// Runs on the service thread: -1, -2, -3 or -4 on a start-up failure (the
// reason is then in g_startFailure), otherwise the last wait result (0 when
// the framework thread ended).
int MxMain(int argc, char** argv);

// Why MxMain gave up: the service stops with this service-specific exit code
// (README, "Running the agent"); message ids where a message is printed.
enum StartFailure {
  kStartCountersCorrupt = 1,    // the Perflib "Counter" value is present but empty
  kStartNoCom = 2,              // COM could not be initialised
  kStartNoFramework = 3,        // the framework thread could not be started
  kStartNoClassId = 10104,      // OSME104
  kStartNoCounterObject = 10105,  // OSME105
  kStartCounterInitFailed = 10109  // OSME109 (also when the initialisation threw)
};
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
// A text value as the registry returned it: up to its first NUL, within the
// returned size and the buffer's capacity.
std::string RegistryText(const char* data, DWORD size, DWORD capacity);

// How MxMain starts a thread (_beginthreadex); tests make it fail.
typedef uintptr_t(__cdecl* ThreadStarter)(void* security, unsigned stackSize,
                                          unsigned(__stdcall* routine)(void*), void* argument,
                                          unsigned flags, unsigned* id);
// Runs the framework on a thread of its own and waits for it while pumping
// messages: the last wait result, or -4 (kStartNoFramework recorded) when the
// thread could not be started.
int RunFramework(ThreadStarter start);
// Terminates and releases the counter object (g_osmKount), unless a request
// thread the framework gave up on may still be inside it: then it stays alive
// for the rest of the process. true when it was released.
bool ReleaseCounterObject();

// The counter-registry check of the first start-up step, on the size of the
// Perflib "Counter" value: false (stop the agent) when present but shorter
// than 2 bytes. OSM_PERFLIB_COUNTER_SIZE, when set, stands for the queried size.
bool PerflibCountersUsable();

// The service-application tables with values of their own (WEBSVC, SMTPSRV,
// MSMQQUE, PRINTQ), and the message-queuing runtime that gives MSMQQUE the
// long names of its queues. The runtime is loaded at run time, as only
// machines with message queuing have it.
#pragma once

#include <windows.h>
#include <objbase.h>  // PROPVARIANT, which the message-queuing header needs first
#include <mq.h>

#include <string>
#include <vector>

namespace osm {
namespace perf {

// The two entry points of the message-queuing runtime that MSMQQUE uses.
struct MqRuntime {
  HRESULT(WINAPI* getInfo)(LPCWSTR computer, LPCWSTR object, MQMGMTPROPS* props) = nullptr;
  VOID(WINAPI* freeMemory)(PVOID memory) = nullptr;
  bool Usable() const { return getInfo != nullptr && freeMemory != nullptr; }
};

// Loads the library and looks both entry points up. A library that is
// missing, or lacks one of them, gives an unusable record (and is released).
MqRuntime LoadMqRuntime(const char* library);
// The runtime "mqrt", loaded once for the process: a machine without it is
// not asked again at every sample.
const MqRuntime& ProcessMqRuntime();

// The names of the queues active on this machine, in the ANSI code page,
// in the runtime's order. False when the runtime is unusable; a query the
// runtime refuses gives true and no names.
bool ListActiveQueues(const MqRuntime& runtime, std::vector<std::string>* names);

// What the MSMQQUE collector asks of the platform; tests replace it.
struct QueueNameSources {
  std::string (*osVersion)();      // the identity record's version text, "6.1"
  const MqRuntime& (*runtime)();   // the runtime to ask for active queues
};
QueueNameSources& QueueNameSourcesHook();

}  // namespace perf
}  // namespace osm

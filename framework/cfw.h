// The collection framework, agent side: start-up, registration, shut-down,
// host names, take-action commands and the framework log.
//
// cfwmain runs the framework on the calling thread:
//   1. calls the agent loader registered with DCF_RegisterAgentLoader, which
//      registers the tables (TableManager::RegisterWithManager);
//   2. publishes one "table" record per registered table (row size and
//      attribute descriptors) on the output stream;
//   3. reads the requests file and opens every usable request; a bad line is
//      reported with the file, the line and the reason, and skipped;
//   4. samples reports, situations and exports on threads of their own (one
//      per request, so a slow table never delays another; exported rows go
//      to the metrics endpoint, framework/metrics_export.h), keeps event
//      situations open for pushed rows, and hands take-action commands to the
//      command callback of their product on threads of their own;
//   5. returns after DCF_Shutdown, or, with OSM_EXIT_WHEN_DONE, once every
//      one-shot report is answered, every command finished, and no
//      situation or repeating report is open.
// At the end it waits for samples in flight (at most OSM_SHUTDOWN_WAIT
// seconds), then closes and deletes the open requests in the order they were
// opened, calls Shutdown on every manager and forgets the registrations.
//
// Environment (read when cfwmain starts):
//   OSM_REQUESTS        requests file (syntax in framework/requests.h);
//                       default osm_requests.txt in the executable's folder
//   OSM_OUTPUT          file that receives the JSON Lines (appended);
//                       default: standard output
//   OSM_FRAMEWORK_LOG   framework log (appended); default osm_framework.log
//                       in the executable's folder
//   OSM_EXIT_WHEN_DONE  Y, YES or 1: end when all one-shot work is done
//   OSM_SHUTDOWN_WAIT   seconds to wait for samples in flight; default 30
//   OSM_METRICS_URL     URL prefix of the metrics endpoint; unset: off
#pragma once

#include <string>

#include "framework/dcfa.h"
#include "framework/table_manager.h"

// A take-action command on its way through the command callback.
class DcfaAutomationCapsule {
 public:
  DcfaAutomationCapsule(dcfa* request, const char* product, const char* command);
  // The request that carries the command; finish it there with
  // FinishedAutomationCommand(capsule).
  dcfa* Request() { return request_; }
  const char* Command() const { return command_.c_str(); }
  const char* Product() const { return product_.c_str(); }
  void SetMessage(const char* message) { message_ = message ? message : ""; }
  void SetResults(int result) {
    result_ = result;
    resultSet_ = true;
  }
  const char* Message() const { return message_.c_str(); }
  int Results() const { return result_; }
  bool ResultsSet() const { return resultSet_; }

 private:
  dcfa* request_;
  std::string product_;
  std::string command_;
  std::string message_;
  int result_ = 0;
  bool resultSet_ = false;
};

// The table loader; called once by cfwmain before any request. Returns 0.
typedef int (*DCF_AgentLoader)(void);
// A product's take-action handler. It reads capsule->Command(), sets the
// results and message, and calls capsule->Request()->FinishedAutomationCommand
// (capsule) before it returns; returns 0 on success, non-zero otherwise.
// A command the handler leaves unfinished is finished by the framework when
// the handler returns, with result 0 for a zero return and -1 otherwise.
typedef int (*DCF_CommandCallback)(DcfaAutomationCapsule* capsule);

int DCF_RegisterAgentLoader(DCF_AgentLoader loader);
int DCF_SetVersionUsingProduct(const char* product, const void* area16, int version);
int DCF_SetAffinity(const char* affinity);
int DCF_SetAffinityVersion(int version);
// Runs the framework until shut-down; 0, or DCF_E_STATE when it already runs.
int cfwmain(int argc, char** argv);
// Makes cfwmain return (also when called before cfwmain has started).
int DCF_Shutdown(int how);
// Request threads that cfwmain stopped waiting for (OSM_SHUTDOWN_WAIT) and
// that are still inside their tables; what they use must outlive them.
int DCF_AbandonedRequests(void);
// Writes the host name into buffer (at most width - 1 bytes, then a NUL).
// 0, or DCF_E_BADARG.
int DetermineLocalHost(char* buffer, int width);
int DCF_SetNodeType(const char* nodeType);
// The node's system name (the host name); valid for the life of the process.
const char* DCF_GetNodeSystemName(void);
// The take-action handler for a product code ("NT"); null removes it.
int DCF_RegisterCommandCallback(const char* product, DCF_CommandCallback callback);
// Appends "time product messageId text" to the framework log.
int DCFA_insert_log(const char* messageId, const char* text, const char* product);

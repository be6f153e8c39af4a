// Framework internals shared by its source files (and its tests).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "framework/cfw.h"
#include "framework/dcfa.h"
#include "framework/requests.h"
#include "framework/table_manager.h"

namespace cfw {

// Output stream of the JSON Lines. A null or empty path means standard output.
// Returns false when the file cannot be opened (standard output is used).
bool OpenOutput(const char* path);
void CloseOutput();
// Writes whole lines (each ends with '\n') in one piece; false on failure.
bool WriteLines(const std::string& lines);

// Appends one line to the framework log (OSM_FRAMEWORK_LOG or its default).
void LogLine(const std::string& text);
// The default folder for framework files (with a trailing separator).
std::string DefaultFolder();

// Fills a detail record.
RequestDetail MakeDetail(const char* appl, const char* table, const char* name, int interval,
                         int sampleType);
// Fresh identifiers for a new request.
ContextInfo NewContext(const ConditionRows* condition);

// Opens a created request: reachable by handle, and on its manager's request
// list when it is a situation (sample type 1 or 4).
void OpenRequest(dcfa* request);
// Takes the request off its manager's list and out of reach of UseHandle,
// waits until no pin is left, and deletes it.
void CloseRequest(dcfa* request);
// Requests open at this moment (reachable by handle).
std::size_t OpenRequestCount();

// The registered managers, in registration order.
std::vector<TableManager*> RegisteredManagers();
TableManager* FindManager(const std::string& table);
void ForgetRegistrations();

// The take-action handler registered for a product, or null.
DCF_CommandCallback CommandCallbackFor(const std::string& product);

}  // namespace cfw

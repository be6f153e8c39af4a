// The platform half of WTPROCESS, NTPROCESS and PROCESSIO: the owner and the
// image path of a process.
#pragma once

#include <windows.h>

#include "collectors/perf/process_values.h"

namespace osm {
namespace perf {

// The full path of the process's executable (its first module); false when
// the process cannot be opened or its modules read.
bool GetProcessImagePath(DWORD pid, WideText* path, RAS1_EPB* unit);

// The owner's account name ("DOMAIN\name") through the cache; null when the
// process cannot be opened, its owner read, or the owner maps to no account.
// The name stays valid for the life of the cache.
const wchar_t* GetProcessUserName(DWORD pid, AccountNameCache& cache, RAS1_EPB* unit);

// The account name of a security identifier, through the cache.
const wchar_t* AccountNameOfSid(PSID sid, AccountNameCache& cache, RAS1_EPB* unit);

// Where the process tables take their facts from: the platform unless a test
// puts its own here (null restores the platform).
ProcessFacts*& ProcessFactsOverride();

}  // namespace perf
}  // namespace osm

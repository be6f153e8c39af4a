// Trace and environment services.
//
// Every traced routine owns one static trace unit (RAS1_EPB). Before tracing it
// asks RAS1_Mask for the unit's level mask: while the unit's cached generation
// equals the process-wide generation the cached mask is used, otherwise
// RAS1_Sync recomputes it from the configuration. Changing the configuration
// bumps the generation, so every cached mask refreshes on its next use.
//
// Configuration (environment variable BSL_RAS1, or RAS1_Configure):
//   a comma or blank separated list of items, each either
//     LEVELS           levels for every unit
//     UNIT=LEVELS      levels for units whose name is UNIT, or starts with
//                      UNIT when UNIT ends in '*'
//   where LEVELS is NONE, ERROR, FLOW, DETAIL, EVENT or ALL, joined by '+'.
//   Later items win over earlier ones for the units they name.
//   Example:  BSL_RAS1=ERROR,MxMain=ALL,osm_wt*=FLOW+DETAIL
//   Default: ERROR.
//
// Destination (environment variable BSL_RAS1_FILE): a file path, or "stderr".
//   Default: <directory of the executable>\<executable name>.trc on Windows,
//   osm.trc in the working directory elsewhere. The file is rotated to
//   <name>.1 when it passes BSL_RAS1_MAXSIZE bytes (default 16 MiB).
#pragma once

#include <atomic>
#include <cstddef>

#if defined(__MINGW32__)
#include <cstdio>  // __MINGW_PRINTF_FORMAT: the C99 printf that the trace uses
#define RAS1_PRINTF_FORMAT(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#elif defined(__GNUC__) || defined(__clang__)
#define RAS1_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define RAS1_PRINTF_FORMAT(f, a)
#endif

enum : unsigned {
  RAS1_DETAIL = 0x01u,  // progress and value messages
  RAS1_FLOW = 0x10u,    // object life, handles, "called" messages, dumps
  RAS1_EVENT = 0x40u,   // entry and exit events
  RAS1_ERROR = 0x80u,   // failures
  RAS1_ALL = RAS1_DETAIL | RAS1_FLOW | RAS1_EVENT | RAS1_ERROR
};

enum { RAS1_EV_ENTRY = 0, RAS1_EV_EXIT_VALUE = 1, RAS1_EV_EXIT = 2 };

// Process-wide trace generation; bumped whenever the configuration changes.
extern std::atomic<unsigned> RAS1_Generation;

struct RAS1_EPB {
  const char* name;        // routine name
  std::size_t nameLength;  // its length
  int line;                // source line of the routine's entry
  std::atomic<unsigned>* generation;
  std::atomic<unsigned> cachedGeneration;  // generation the mask belongs to
  std::atomic<unsigned> mask;              // cached level mask
};

// Recomputes the unit's mask from the configuration and caches it.
unsigned RAS1_Sync(RAS1_EPB* unit);

inline unsigned RAS1_Mask(RAS1_EPB* unit) {
  unsigned g = unit->generation->load(std::memory_order_acquire);
  if (unit->cachedGeneration.load(std::memory_order_acquire) == g)
    return unit->mask.load(std::memory_order_relaxed);
  return RAS1_Sync(unit);
}

// Prepares a unit whose name is known only at run time (per-table routines).
// The name must outlive the unit; the first RAS1_Mask syncs it.
void RAS1_InitUnit(RAS1_EPB* unit, const char* name, std::size_t nameLength);

// Writes one trace line whatever the level.
void RAS1_Printf(RAS1_EPB* unit, int line, const char* format, ...) RAS1_PRINTF_FORMAT(3, 4);
// kind 0 entry, 1 exit with a value (a fourth argument, long long), 2 exit.
void RAS1_Event(RAS1_EPB* unit, int line, int kind, ...);
// Hexadecimal dump of count bytes at address; format 0 is the only format.
void RAS1_Dump(RAS1_EPB* unit, int line, const void* address, std::size_t count, int format);

// Replaces the level configuration (syntax above) and bumps the generation.
void RAS1_Configure(const char* spec);
// Sends the trace to another file ("stderr" for the standard error stream);
// null goes back to the default destination.
void RAS1_SetDestination(const char* path);
// Flushes and closes the trace file; the next trace reopens it.
void RAS1_Close();
// Lines written since the process started.
unsigned long long RAS1_LinesWritten();

#ifdef _WIN32
// The executable and each DLL carry their own copy of this layer. The
// executable exports its writer under this name, and the copies in its DLLs
// hand it their finished lines: one file, one lock, one rotation per process
// (the executable's destination and size limit apply).
extern "C" __declspec(dllexport) void RAS1_ProcessWriteLine(const char* line, std::size_t length);
#endif

// The value of an environment variable, or null. The returned text stays valid
// for the life of the process.
const char* BSS1_GetEnv(const char* name, int reserved);
// Sets a variable from "NAME=VALUE"; an empty value removes it. A name that is
// already set is replaced. Returns 0, or -1 for a text without '=' or name.
int BSS1_PutEnv(const char* assignment);

// Declares the routine's trace unit. Use once at the top of a routine.
#define RAS1_UNIT(unitName)                                                         \
  static RAS1_EPB RAS1__EPB_ = {unitName, sizeof(unitName) - 1, __LINE__, &RAS1_Generation, \
                                {0u}, {0u}}

#define RAS1_LEVEL() RAS1_Mask(&RAS1__EPB_)
// Traces when any of the level bits is set.
#define RAS1_TRACE(level, ...)                                \
  do {                                                        \
    if (RAS1_Mask(&RAS1__EPB_) & (level))                     \
      RAS1_Printf(&RAS1__EPB_, __LINE__, __VA_ARGS__);        \
  } while (0)
// Traces whatever the level.
#define RAS1_ALWAYS(...) RAS1_Printf(&RAS1__EPB_, __LINE__, __VA_ARGS__)

// Entry event now, exit event on every return path.
class RAS1_Scope {
 public:
  RAS1_Scope(RAS1_EPB* unit, int line) : unit_(unit), on_((RAS1_Mask(unit) & RAS1_EVENT) != 0) {
    if (on_) RAS1_Event(unit_, line, RAS1_EV_ENTRY);
  }
  ~RAS1_Scope() {
    if (on_) RAS1_Event(unit_, unit_->line, RAS1_EV_EXIT);
  }
  RAS1_Scope(const RAS1_Scope&) = delete;
  RAS1_Scope& operator=(const RAS1_Scope&) = delete;

 private:
  RAS1_EPB* unit_;
  bool on_;
};

// Declares the unit and traces entry and exit of the routine.
#define RAS1_ENTRY(unitName) \
  RAS1_UNIT(unitName);       \
  RAS1_Scope RAS1__scope_(&RAS1__EPB_, __LINE__)

// EventLogRequest: what one pass over one log works from. Each request of
// the event log table holds one per log it reads, each log manager one of
// its own.
#pragma once

#include <windows.h>
#include <winevt.h>

#include <atomic>
#include <cstdint>
#include <map>

#include "collectors/eventlog/evt_bookmark.h"
#include "collectors/eventlog/evt_event.h"

class HashMap;

namespace osm {
namespace evl {

// The message files a source registered, read from the registry once per
// cache life rather than for every record.
struct SourceFiles {
  WText eventFiles;
  WText categoryFile;
  bool category = false;
};
typedef std::map<WText, SourceFiles> SourceCache;

struct EventLogRequest {
  int logType = -1;           // 0..5, -1 while not known
  int report = 0;             // non-zero: a report pass
  TimeWindow window;          // report passes and new-interface events
  int threshold = -1;         // throttle or duplicate setting
  HashMap* duplicates = nullptr;  // duplicate key -> FormattedEvent* (absent: no duplicate handling)
  HashMap* modules = nullptr;     // message module path -> HMODULE
  HashMap* users = nullptr;       // SID key -> account name (wchar_t[])
  SourceCache* sources = nullptr;  // cleared with the module cache
  EVT_HANDLE subscription = nullptr;  // the log manager's subscription (new interface)
  PassStart start;            // situation passes: where to resume
  std::uint64_t skipThrough = 0;  // new interface: events up to it were already caught up
  // The log manager's stop: a pass that sees it set is dropped unfinished.
  const std::atomic<bool>* stop = nullptr;
  bool Stopping() const { return stop && stop->load(); }
};

// The caches: created empty, cleared by freeing what they hold.
void ClearModuleCache(HashMap* map);
void ClearUserCache(HashMap* map);
// Creates the caches of a request (the duplicate map only when the threshold
// enables it); DropCaches clears and deletes them.
void MakeCaches(EventLogRequest* r);
void DropCaches(EventLogRequest* r);

}  // namespace evl
}  // namespace osm

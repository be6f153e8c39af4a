// NTEVTLOG: one row per event log record. A request's filter names the logs
// to read (LOGNAME or ULOGNAME equal to a log) and a time window (ENTRYTIME);
// situations start one log manager per watched log, which pushes the rows of
// new events; reports read their logs anew at every sample.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "collectors/eventlog/evm_eventlog.h"
#include "collectors/eventlog/evt_pass.h"
#include "collectors/eventlog/evt_rows.h"
#include "framework/ras1.h"
#include "support/hashmap.h"
#include "tables/tables.h"

namespace osm {
namespace evl {
namespace {

enum { kEq = 1, kNe = 2, kGe = 3, kLe = 4, kLt = 5, kGt = 6 };

struct LogEntry {
  int logType;
  EventLogRequest request;
};

// Process-wide state of the table. The managers lock guards the per-log use
// counts and the log managers; the collection lock serialises every pass and
// every hand-over of rows. Both live for the process.
struct TableState {
  std::atomic<TableManager*> manager{nullptr};  // the table's manager, known from its first request
  std::mutex managersLock;
  int useCount[kLogCount] = {};
  EvmEventLog* managers[kLogCount] = {};
  std::recursive_mutex collection;
};
TableState& State() {
  static TableState* s = new TableState();  // log manager threads may outlive static destructors
  return *s;
}

const char* EnvValue(const char* name) { return BSS1_GetEnv(name, 0); }

bool LogPresent(int logType) {
  RAS1_UNIT("osm_ntevtlog_agent::LogPresent");
  if (logType < 3) return true;
  const char* name = LogName(logType);
  if (StoreFor(name)) return true;
  std::string path = std::string("SYSTEM\\CurrentControlSet\\Services\\Eventlog\\") + name;
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) {
    RAS1_TRACE(RAS1_DETAIL, "Could not open or unable to find registry key %s, return code = %ld.", path.c_str(),
               static_cast<long>(rc));
    return false;
  }
  RegCloseKey(key);
  return true;
}

// Rows of the queued events, one per event, in queue order, into rows.
void BuildRows(const EventQueue& queue, const EventLogRequest& r, bool report, std::vector<char>& rows) {
  const std::size_t rowSize = osm_ntevtlog_def().rowSize;
  rows.resize(queue.size() * rowSize);
  char now[16];
  FormatTimestampNow(now);
  const char* log = LogName(r.logType);
  for (std::size_t i = 0; i < queue.size(); ++i)
    BuildEventRow(rows.data() + i * rowSize, queue[i], log, static_cast<int>(i), report, now,
                  RowDuplicateCount(r.duplicates, r.threshold, queue[i]));
}

}  // namespace

}  // namespace evl
}  // namespace osm

using namespace osm::evl;

class osm_ntevtlog_agent : public osm_ntevtlog_base {
 public:
  osm_ntevtlog_agent(RequestDetail& d, ContextInfo& c, TableManager* m) : osm_ntevtlog_base(d, c, m) {
    TakeSampleConstructor();
  }
  ~osm_ntevtlog_agent() override { TakeSampleDestructor(); }
  int TakeSample() override;
  // True for an open situation that reads the log.
  bool Watches(int logType) const {
    if (!Situation()) return false;
    for (const LogEntry& e : logs_)
      if (e.logType == logType) return true;
    return false;
  }
  int AddData(const void* rows, int count) override {
    RAS1_UNIT("osm_ntevtlog_agent::AddData");
    RAS1_TRACE(RAS1_DETAIL, Situation() ? "Situation: AddData function invoked for object: %p"
                                        : "Demand: AddData function invoked for object: %p",
               static_cast<void*>(this));
    return osm_ntevtlog_base::AddData(rows, count);
  }

 private:
  bool Situation() const {
    return detail.sampleType == DCF_SAMPLE_SITUATION || detail.sampleType == DCF_SAMPLE_EVENT;
  }
  void TakeSampleConstructor();
  void TakeSampleDestructor();
  bool TranslateFilter();
  void Merge(int logType, const EventLogRequest& row);

  bool valid_ = false;
  std::vector<LogEntry> logs_;
};

void osm_ntevtlog_agent::Merge(int logType, const EventLogRequest& row) {
  RAS1_UNIT("osm_ntevtlog_agent::TakeSampleConstructor");
  for (LogEntry& e : logs_) {
    if (e.logType != logType) continue;
    if (!e.request.window.Any()) return;  // the whole log is read already
    RAS1_TRACE(RAS1_DETAIL,
               row.window.Any()
                   ? "2 conditions on the same log, both with time intervals. Taking the wider range\n"
                   : "2 conditions on the same log, one with time interval, one without. Matching whole log.\n");
    WidenWindow(&e.request.window, row.window);
    return;
  }
  RAS1_TRACE(RAS1_DETAIL, "->adding filter element for log %s\n", LogName(logType));
  logs_.push_back(LogEntry{logType, row});
  logs_.back().request.logType = logType;
}

bool osm_ntevtlog_agent::TranslateFilter() {
  RAS1_UNIT("osm_ntevtlog_agent::TakeSampleConstructor");
  EventLogRequest row;
  int rowLog = -1;
  bool rowByU = false;
  ResetFilterIndex();
  RAS1_TRACE(RAS1_DETAIL, "Processing Filter\n");
  while (const FilterInfo* f = GetFilterInfo()) {
    std::string col = f->colName ? f->colName : "";
    RAS1_TRACE(RAS1_DETAIL, "filter element: %s, %s func=%d, colName=%s, dataType=%d, valLen=%d, value=%s\n",
               f->name, f->table, f->func, col.c_str(), f->dataType, f->valLen, f->text);
    if (col == "PARMA") {
      RAS1_TRACE(RAS1_DETAIL, "PARMA found\n");
      if (rowLog >= 0) Merge(rowLog, row);
      row = EventLogRequest();
      rowLog = -1;
      rowByU = false;
    } else if (col == "ULOGNAME" || col == "LOGNAME") {
      bool u = col == "ULOGNAME";
      if (!u && rowByU) {
        RAS1_TRACE(RAS1_DETAIL, "Found ULOGNAME and LOGNAME filters. Ignoring LOGNAME filter.\n");
        continue;
      }
      if (f->func != kEq) {
        RAS1_TRACE(RAS1_ERROR,
                   "%s filter only supports equality. The agent must know which log to read. Invalid operator %d "
                   "specified\n",
                   col.c_str(), f->func);
        return false;
      }
      int type = LogTypeOf(f->text);
      if (type < 0 || !LogPresent(type)) {
        RAS1_TRACE(RAS1_ERROR, "Invalid %s value %s received.\n", col.c_str(), f->text);
        return false;
      }
      if (u && rowLog >= 0 && !rowByU) RAS1_TRACE(RAS1_DETAIL, "Over-riding LOGNAME with ULOGNAME\n");
      RAS1_TRACE(RAS1_DETAIL, "%s filter found %s \n", col.c_str(), f->text);
      rowLog = type;
      rowByU = rowByU || u;
    } else if (col == "ENTRYTIME") {
      if (f->func == kGe || f->func == kGt) {
        SetBound(row.window.start, f->text);
      } else if (f->func == kLe || f->func == kLt) {
        SetBound(row.window.stop, f->text);
      } else {
        RAS1_TRACE(RAS1_ERROR,
                   "ENTRYTIME filters must specify one or both of a begin and end time using greater that (begin) or "
                   "less than (end) operators. This allows events from a time range. Other operators are not "
                   "supported. Found %d\n",
                   f->func);
        return false;
      }
    }
  }
  if (rowLog >= 0) Merge(rowLog, row);
  if (logs_.empty()) {
    RAS1_TRACE(RAS1_DETAIL, "No filter found. Default is all event logs\n");
    for (int type : {2, 0, 1, 3, 4, 5})
      if (LogPresent(type)) Merge(type, EventLogRequest());
  }
  return true;
}

void osm_ntevtlog_agent::TakeSampleConstructor() {
  RAS1_ENTRY("osm_ntevtlog_agent::TakeSampleConstructor");
  RAS1_TRACE(RAS1_FLOW, "TakeSampleConstructor() function called object: %p, situation: %i, report: %i.\n",
             static_cast<void*>(this), Situation() ? 1 : 0, detail.sampleType == DCF_SAMPLE_REPORT ? 1 : 0);
  TableState& s = State();
  s.manager = Manager();
  valid_ = TranslateFilter();
  if (!valid_) {
    RAS1_TRACE(RAS1_ERROR, "Invalid filter specified. No data will be collected.\n");
    logs_.clear();
    return;
  }
  RAS1_TRACE(RAS1_DETAIL, "Valid filter parsed. contains %d rows\n", static_cast<int>(logs_.size()));
  // Use counts go up once per log of a valid request, and only here.
  std::lock_guard<std::mutex> guard(s.managersLock);
  for (LogEntry& e : logs_) {
    int t = e.logType;
    ++s.useCount[t];
    RAS1_TRACE(RAS1_DETAIL, "Use count:'%d', for log '%s'\n", s.useCount[t], LogName(t));
    if (!Situation() || s.managers[t] != nullptr) continue;
    EvmEventLog* manager = new EvmEventLog(t);
    s.managers[t] = manager;
    RAS1_TRACE(RAS1_FLOW, "StartLogManager for Log: %s", LogName(t));
    int rc = manager->Launch();
    if (rc != 0) RAS1_TRACE(RAS1_ERROR, "StartLogManager failure for %s event log, rc: %d", LogName(t), rc);
  }
}

void osm_ntevtlog_agent::TakeSampleDestructor() {
  RAS1_UNIT("osm_ntevtlog_agent::TakeSampleDestructor");
  RAS1_TRACE(RAS1_FLOW, "TakeSampleDestructor() function called object: %p.\n", static_cast<void*>(this));
  TableState& s = State();
  std::lock_guard<std::mutex> guard(s.managersLock);
  for (LogEntry& e : logs_) {
    int t = e.logType;
    if (s.useCount[t] > 0) --s.useCount[t];
    RAS1_TRACE(RAS1_DETAIL, "Use count:'%d', for log '%s'\n", s.useCount[t], LogName(t));
    if (s.useCount[t] != 0 || s.managers[t] == nullptr) continue;
    RAS1_TRACE(RAS1_FLOW, "StopLogManager for Log: %s", LogName(t));
    if (s.managers[t]->Stop())
      delete s.managers[t];
    else  // its thread still runs: the object stays, unreachable but alive
      RAS1_TRACE(RAS1_ERROR, "StopLogManager failure: Log type: %s, the manager is left running", LogName(t));
    s.managers[t] = nullptr;
  }
  logs_.clear();
}

int osm_ntevtlog_agent::TakeSample() {
  RAS1_UNIT("osm_ntevtlog_agent::TakeSample");
  if (detail.sampleType == DCF_SAMPLE_SITUATION) {
    RAS1_TRACE(RAS1_DETAIL, "TakeSample invoked for sample type exception. Invalid call.");
    return 0;
  }
  if (!valid_) {
    RAS1_TRACE(RAS1_DETAIL, "No filter, no data will be collected.\n");
    return 0;
  }
  std::lock_guard<std::recursive_mutex> guard(State().collection);
  RAS1_TRACE(RAS1_DETAIL, "Collecting events for %d event logs\n", static_cast<int>(logs_.size()));
  int status = 0;
  for (LogEntry& e : logs_) {
    EventLogRequest& r = e.request;
    RAS1_TRACE(RAS1_DETAIL, "logname=%s\n", LogName(e.logType));
    r.threshold = ThresholdFor(LogName(e.logType), Family::kDuplicate, &EnvValue);
    r.report = detail.sampleType == DCF_SAMPLE_REPORT ? 1 : 0;
    MakeCaches(&r);
    EventQueue queue;
    RunPass(r, queue);
    if (!queue.empty()) {
      std::vector<char> rows;
      BuildRows(queue, r, true, rows);
      int rc = AddData(rows.data(), static_cast<int>(queue.size()));
      if (rc != 0) status = rc;
      RAS1_TRACE(RAS1_DETAIL, "Sent %d report entries.\n", static_cast<int>(queue.size()));
    }
    DropCaches(&r);
  }
  return status;
}

namespace osm {
namespace evl {

PassResult SituationCollection(EventLogRequest& r) {
  RAS1_UNIT("SituationCollection");
  TableState& s = State();
  std::lock_guard<std::recursive_mutex> guard(s.collection);
  EventQueue queue;
  PassResult result = RunPass(r, queue);
  if (!result.completed || queue.empty()) return result;  // stopped: left for the bookmark
  static std::vector<char> rows;  // kept between passes, which the collection lock serialises
  BuildRows(queue, r, false, rows);
  // Rows go out only while a situation that reads the log is open, checked
  // and delivered under the manager's lock so that none closes in between.
  // Otherwise the pass counts as not delivered: its events stay new.
  TableManager* manager = s.manager.load();
  if (manager == nullptr) return result;
  manager->lock();
  bool watched = false;
  DcfaListIter it(manager);
  while (dcfa* request = it.Next()) {
    osm_ntevtlog_agent* agent = dynamic_cast<osm_ntevtlog_agent*>(request);
    if (agent && agent->Watches(r.logType)) watched = true;
  }
  if (watched) EventArrived_osm_ntevtlog(rows.data(), static_cast<int>(queue.size()));
  manager->unlock();
  result.delivered = watched;
  RAS1_TRACE(RAS1_DETAIL, watched ? "Sent %d situation entries.\n" : "No situation takes %d entries now.\n",
             static_cast<int>(queue.size()));
  return result;
}

}  // namespace evl
}  // namespace osm

OSM_AGENT(ntevtlog, osm_ntevtlog_agent)

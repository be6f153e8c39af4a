// One collection pass over one log: read newest first, select, format and
// queue the events of a situation or a report.
#include "collectors/eventlog/evt_pass.h"

#include <new>
#include <stdexcept>

#include "collectors/eventlog/evt_api.h"
#include "collectors/eventlog/kevent_log.h"
#include "framework/ras1.h"

namespace osm {
namespace evl {
namespace {

const DWORD kFirstBuffer = 32768;
const DWORD kLargestBuffer = 1048576;
const int kReportLimit = 500;

void NewInterfacePass(KEventLog& log, EventLogRequest& r, EventQueue& queue, PassResult* result) {
  RAS1_UNIT("evtlog_data");
  // Without a subscription a situation pass catches up after a restart:
  // the query reads the whole log, the bookmark selects.
  bool catchUp = !r.report && r.subscription == nullptr;
  PassSelection selection(r.start);
  int counted = 0;
  while (EVT_HANDLE event = log.NextEvent()) {
    if (r.Stopping()) {
      EvtEntries().close(event);
      result->completed = false;
      return;
    }
    FormattedEvent e;
    bool sent = RenderEvent(event, &e, r);
    EvtEntries().close(event);
    if (catchUp && e.recordNumber != 0 && selection.Consider(e.recordNumber, e.timeWritten) == PassSelection::kDone)
      break;
    if (e.recordNumber > result->newest) {
      result->newest = e.recordNumber;
      result->newestTime = e.timeWritten;
    }
    if (!sent) {
      RAS1_TRACE(RAS1_DETAIL,
                 r.report ? "Duplicate Log Event Record, dropping event id: %d to CMXS Report.\n"
                          : "Duplicate Log Event, dropping event id: %d to CMXS.\n",
                 static_cast<int>(e.eventId));
      continue;
    }
    if (r.report && ++counted > kReportLimit) break;
    queue.push_back(e);
  }
  RAS1_TRACE(RAS1_DETAIL, "Finished processing records.\n");
}

// Selection of the records, newest first, until the pass is done.
void SelectRecords(KEventLog& log, DWORD size, EventLogRequest& r, PassSelection& selection, int& counted,
                   EventQueue& queue, PassResult* result) {
  RAS1_UNIT("evtlog_data");
  RecordView view;
  while (log.NextRecord(size, &view)) {
    if (r.Stopping()) {
      result->completed = false;
      return;
    }
    FormattedEvent e;
    if (r.report) {
      StampClassicTime(view.timeWritten, &e);
      WindowPlace place = PlaceInWindow(e.timestamp, r.window);
      RAS1_TRACE(RAS1_DETAIL, "EVMTI007  CheckRecord startTime=<%.*s> stopTime=<%.*s> recordTime=<%.*s> RC=%s", 16,
                 r.window.start, 16, r.window.stop, 16, e.timestamp,
                 place == WindowPlace::kLow ? "LOW" : place == WindowPlace::kHigh ? "HIGH" : "EQUAL");
      if (place == WindowPlace::kLow) return;  // every further record is older
      if (place == WindowPlace::kHigh) continue;
      if (++counted > kReportLimit && r.duplicates == nullptr) return;
    } else if (selection.Consider(view.recordNumber, view.timeWritten) == PassSelection::kDone) {
      RAS1_TRACE(RAS1_DETAIL, "Event %d [record #: %d] is not a candidate for this situation",
                 static_cast<int>(view.eventId & 0xFFFF), static_cast<int>(view.recordNumber));
      return;
    }
    KEventRecord record(view, log.LogName(), r);
    if (!record.Format(&e)) {
      RAS1_TRACE(RAS1_DETAIL,
                 r.report ? "Duplicate Log Event Record, dropping event id: %d to CMXS Report.\n"
                          : "Duplicate Log Event, dropping event id: %d to CMXS.\n",
                 static_cast<int>(e.eventId));
      continue;
    }
    StampClassicTime(view.timeWritten, &e);
    queue.push_back(e);
  }
  RAS1_TRACE(RAS1_DETAIL, "Finished processing records.\n");
}

void ClassicPass(KEventLog& log, EventLogRequest& r, EventQueue& queue, PassResult* result) {
  RAS1_UNIT("evtlog_data");
  RAS1_TRACE(RAS1_DETAIL, "Current number of records in %s log: %d.\tOldest record: %d.\tLast record processed: %d.\n",
             log.LogName(), static_cast<int>(log.RecordCount()), static_cast<int>(log.OldestRecord()),
             static_cast<int>(r.start.lastRecord));
  PassSelection selection(r.start);
  int counted = 0;
  for (DWORD size = kFirstBuffer; size <= kLargestBuffer && log.IsOpen();) {
    try {
      SelectRecords(log, size, r, selection, counted, queue, result);
      break;
    } catch (const std::logic_error& ex) {
      RAS1_TRACE(RAS1_DETAIL, "Caught logic error: %s.\n", ex.what());
      size *= 2;  // the same record is read again with the larger buffer
    } catch (const std::runtime_error& ex) {
      RAS1_TRACE(RAS1_ERROR, "Caught runtime error: %s.\n", ex.what());
      break;
    }
  }
  if (!r.report) {
    result->newest = selection.Newest();
    result->newestTime = selection.NewestTime();
  }
}

}  // namespace

PassResult RunPass(EventLogRequest& r, EventQueue& queue) {
  RAS1_UNIT("evtlog_data");
  PassResult result;
  const char* name = LogName(r.logType);
  RAS1_TRACE(RAS1_DETAIL, "EVMTS002  Entering evtlog_data - logtype = %i, report = %i", r.logType, r.report);
  try {
    KEventLog log(name, r.subscription, nullptr, false);
    if (!log.IsOpen()) return result;
    if (log.NewInterface())
      NewInterfacePass(log, r, queue, &result);
    else
      ClassicPass(log, r, queue, &result);
  } catch (const std::exception& ex) {
    RAS1_TRACE(RAS1_ERROR, "Exception: %s", ex.what());
    RAS1_TRACE(RAS1_ERROR, "Ouch! Unable to read event log!");
    result.newest = 0;
  } catch (...) {
    RAS1_TRACE(RAS1_ERROR, "Ouch! Unable to read event log!");
    result.newest = 0;
  }
  return result;
}

}  // namespace evl
}  // namespace osm

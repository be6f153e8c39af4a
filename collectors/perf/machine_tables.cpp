// WTMEMORY, NTMEMORY and WTSYSTEM: the memory and System objects completed
// by values derived from the memory status, the Process and Processor
// samples and the node's address.
#include "collectors/perf/machine_tables.h"

#include <cstring>
#include <mutex>

#include "collectors/perf/perf_collector.h"
#include "collectors/perf/system_identity.h"
#include "framework/cfw.h"
#include "tables/tables.h"

namespace osm {
namespace perf {

MemoryStatus QueryMemoryStatus() {
  // The platform may answer a caller that races another with a status it has
  // not filled yet (no physical memory): the collectors query one at a time,
  // and a zero total is asked again once.
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  MemoryStatus status;
  for (int attempt = 0; attempt < 2 && (!status.ok || status.totalPhys == 0); ++attempt) {
    if (attempt > 0) Sleep(20);
    MEMORYSTATUSEX m;
    std::memset(&m, 0, sizeof m);
    m.dwLength = sizeof m;  // 64 bytes
    status = MemoryStatus();
    if (GlobalMemoryStatusEx(&m)) {
      status.ok = true;
      status.totalPhys = m.ullTotalPhys;
      status.totalPageFile = m.ullTotalPageFile;
      status.availPageFile = m.ullAvailPageFile;
    }
  }
  return status;
}

MemoryStatusSource& MemoryStatusHook() {
  static MemoryStatusSource hook = &QueryMemoryStatus;
  return hook;
}

namespace {

MemoryStatus CurrentMemoryStatus() {
  MemoryStatusSource source = MemoryStatusHook();
  return source ? source() : QueryMemoryStatus();
}

// The "_Total" working set of a Process table's sample; copied out under
// that buffer's lock, which is released before the caller goes on.
WorkingSetTotal ReadWorkingSetTotal(const char* processTable, RAS1_EPB* unit) {
  FetchedRows rows;
  WorkingSetTotal total;
  if (Fetch(processTable, &rows) == S_OK)
    total = FindWorkingSetTotal(*FindTable(processTable), rows.bytes.data(), static_cast<std::size_t>(rows.count),
                                rows.rowSize);
  if (!total.found && (RAS1_Mask(unit) & RAS1_DETAIL))
    RAS1_Printf(unit, __LINE__, "falied to collect the osmProcess attributes.");
  return total;
}

void TraceMemoryFailure(RAS1_EPB* unit) {
  if (RAS1_Mask(unit) & RAS1_DETAIL)
    RAS1_Printf(unit, __LINE__,
                "The call toGlobalMemoryStatusEx() failed.  The totwsbytes, totwskbyte, totwspct, cachepct, "
                "availpct, memupct merics are set to -1");
}

const CollectorSpec kWtMemory = {"WTMEMORY", "Memory", ProgressForm::kStandard, nullptr, nullptr,
                                 &CompleteWtMemoryRows};
const CollectorSpec kNtMemory = {"NTMEMORY", "Memory", ProgressForm::kStandard, nullptr, nullptr,
                                 &CompleteNtMemoryRows};
const CollectorSpec kWtSystem = {"WTSYSTEM", "System", ProgressForm::kStandard, nullptr, nullptr,
                                 &CompleteWtSystemRows};

}  // namespace

void CompleteWtMemoryRows(FetchedRows& rows, RAS1_EPB* unit) {
  WorkingSetTotal ws = ReadWorkingSetTotal("WTPROCESS", unit);
  MemoryStatus memory = CurrentMemoryStatus();
  bool traced = false;
  for (int i = 0; i < rows.count; ++i) {
    if (!CompleteWtMemoryRow(rows.Row(i), memory, ws) && !traced) {
      TraceMemoryFailure(unit);
      traced = true;
    }
  }
}

void CompleteNtMemoryRows(FetchedRows& rows, RAS1_EPB* unit) {
  WorkingSetTotal ws = ReadWorkingSetTotal("NTPROCESS", unit);
  MemoryStatus memory = CurrentMemoryStatus();
  bool traced = false;
  for (int i = 0; i < rows.count; ++i) {
    if (!CompleteNtMemoryRow(rows.Row(i), memory, ws) && !traced) {
      TraceMemoryFailure(unit);
      traced = true;
    }
  }
}

void CompleteWtSystemRows(FetchedRows& rows, RAS1_EPB* unit) {
  if (rows.count == 0) return;
  // The Processor sample's "_Total" row, copied out under its own lock.
  ProcessorTotal processors;
  FetchedRows processorRows;
  if (Fetch("NTPROCSSR", &processorRows) == S_OK)
    processors = FindProcessorTotal(*FindTable("NTPROCSSR"), processorRows.bytes.data(),
                                    static_cast<std::size_t>(processorRows.count), processorRows.rowSize);
  if (!processors.found && (RAS1_Mask(unit) & RAS1_DETAIL))
    RAS1_Printf(unit, __LINE__, "falied to collect the osmProcessor attributes.");
  MemoryStatus memory = CurrentMemoryStatus();
  const char* node = DCF_GetNodeSystemName();
  std::string netAddr6 = ResolveHostAddress(node ? node : "", kFamilyIpv6);
  for (int i = 0; i < rows.count; ++i) CompleteWtSystemRow(rows.Row(i), processors, memory, netAddr6, nullptr);
}

}  // namespace perf
}  // namespace osm

OSM_PERF_AGENT(wtmemory, osm::perf::kWtMemory)
OSM_PERF_AGENT(ntmemory, osm::perf::kNtMemory)
OSM_PERF_AGENT(wtsystem, osm::perf::kWtSystem)

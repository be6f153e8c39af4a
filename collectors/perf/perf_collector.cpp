#include "collectors/perf/perf_collector.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "collectors/perf/processor_values.h"
#include "perfclient/osmclient.h"

namespace osm {
namespace perf {

namespace {

std::string AgentClassOf(const char* table) {
  std::string lower;
  for (const char* p = table; *p; ++p) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(*p))));
  return "osm_" + lower + "_agent";
}

const std::uint32_t kAccessDenied = 0x80070005u;

}  // namespace

CollectorRuntime::CollectorRuntime(const CollectorSpec& s)
    : spec(s), agentClass(AgentClassOf(s.table)), buffer(OsmTableSampleBuffer(s.table)) {
  unitNames_[0] = agentClass + "::TakeSampleConstructor";
  unitNames_[1] = agentClass + "::TakeSample";
  unitNames_[2] = agentClass + "::TakeSampleDestructor";
  RAS1_InitUnit(&constructorUnit, unitNames_[0].c_str(), unitNames_[0].size());
  RAS1_InitUnit(&takeSampleUnit, unitNames_[1].c_str(), unitNames_[1].size());
  RAS1_InitUnit(&destructorUnit, unitNames_[2].c_str(), unitNames_[2].size());
}

const CollectorRuntime& CollectorRuntime::For(const CollectorSpec& spec) {
  static std::mutex* lock = new std::mutex();
  static auto* runtimes = new std::map<const CollectorSpec*, CollectorRuntime*>();
  std::lock_guard<std::mutex> guard(*lock);
  CollectorRuntime*& r = (*runtimes)[&spec];
  if (r == nullptr) r = new CollectorRuntime(spec);  // lives for the process
  return *r;
}

HRESULT Fetch(OsmSampleBfr* buffer, std::size_t rowSize, FetchedRows* rows) {
  rows->bytes.clear();
  rows->count = 0;
  rows->rowSize = rowSize;
  // Without its mutex the buffer was never set up: its table is not registered.
  if (buffer == nullptr || buffer->hMutex == nullptr) return E_ACCESSDENIED;
  OsmSampleBfrLock lock(*buffer);
  if (!lock.owns()) return E_FAIL;
  HRESULT hr = OsmKountInterface(buffer);
  if (hr != S_OK) return hr;
  std::size_t have = 0;
  if (buffer->pBuffer && buffer->nRowSize) {
    have = buffer->nRowsUsed;
    std::size_t fit = buffer->nBufferSize / buffer->nRowSize;
    if (have > fit) have = fit;
  }
  if (have > 0x7FFFFFFF / (rowSize ? rowSize : 1)) have = 0x7FFFFFFF / (rowSize ? rowSize : 1);
  rows->bytes.assign(have * rowSize, 0);
  std::size_t copy = buffer->nRowSize < rowSize ? buffer->nRowSize : rowSize;
  for (std::size_t i = 0; i < have; ++i)
    std::memcpy(rows->bytes.data() + i * rowSize, buffer->pBuffer + i * buffer->nRowSize, copy);
  rows->count = static_cast<int>(have);
  return S_OK;
}

HRESULT Fetch(const char* table, FetchedRows* rows) {
  const TableDef* def = FindTable(table);
  if (def == nullptr) return E_INVALIDARG;
  return Fetch(OsmTableSampleBuffer(table), def->rowSize, rows);
}

void TraceProgress(const CollectorRuntime& rt, ProgressOp op) {
  std::string line = ProgressLine(rt.spec.form, rt.agentClass, op);
  switch (ProgressDestination(rt.spec.form, op)) {
    case ProgressSink::kStderr:
      std::fprintf(stderr, "%s\n", line.c_str());
      std::fflush(stderr);
      break;
    case ProgressSink::kStdout:
      std::fprintf(stdout, "%s\n", line.c_str());
      std::fflush(stdout);
      break;
    case ProgressSink::kDetailTrace:
      if (RAS1_Mask(&rt.takeSampleUnit) & RAS1_DETAIL) RAS1_Printf(&rt.takeSampleUnit, __LINE__, "%s", line.c_str());
      break;
  }
}

void TraceFetchFailure(const CollectorRuntime& rt, HRESULT hr) {
  RAS1_EPB* unit = &rt.takeSampleUnit;
  std::uint32_t r = static_cast<std::uint32_t>(hr);
  if (r == kAccessDenied && !rt.spec.genericFailureOnly) {
    if (rt.spec.object && (RAS1_Mask(unit) & RAS1_ERROR))
      RAS1_Printf(unit, __LINE__, "Error retrieving performance data from the %s performance object: <%x>\n",
                  rt.spec.object, r);
    if (RAS1_Mask(unit) & RAS1_DETAIL)
      RAS1_Printf(unit, __LINE__,
                  "OsmKountInterface() returns Severity: %d, Facility: %d, Code: %d - (%#.8x). Requested component "
                  "is probably not installed or configured.",
                  1, 7, 5, kAccessDenied);
    return;
  }
  if (rt.spec.beforeGenericTrace && (RAS1_Mask(unit) & RAS1_ERROR))
    RAS1_Printf(unit, __LINE__, "%s", rt.spec.beforeGenericTrace);
  int severity = static_cast<std::int32_t>(r) < 0 ? 1 : 0;
  RAS1_Printf(unit, __LINE__, "OsmKountInterface() returns Severity: %d, Facility: %d, Code: %d - (%#.8x)", severity,
              static_cast<int>((r >> 16) & 0x1FFF), static_cast<int>(r & 0xFFFF), r);
}

std::int32_t ProcessorCount(RAS1_EPB* unit) {
  FetchedRows system;
  HRESULT hr = Fetch("WTSYSTEM", &system);
  std::int32_t n = hr == S_OK ? ProcessorCountOf(system.bytes.data(), static_cast<std::size_t>(system.count),
                                                  system.rowSize)
                              : 0;
  if (n > 0) {
    if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "Number of processors: <%d>\n", n);
    return n;
  }
  if (RAS1_Mask(unit) & RAS1_ERROR)
    RAS1_Printf(unit, __LINE__, "OSM11001E Error getting number of processors: <%x>\n", static_cast<unsigned>(hr));
  return 1;
}

int CollectSample(const CollectorRuntime& rt, TableBase& request, RowCompleter& completer) {
  RAS1_EPB* unit = &rt.takeSampleUnit;
  RAS1_Scope scope(unit, __LINE__);
  TraceProgress(rt, ProgressOp::kTakeSample);
  request.DiscardRows();
  if (rt.spec.beforeFetchTrace && (RAS1_Mask(unit) & RAS1_ERROR))
    RAS1_Printf(unit, __LINE__, "%s", rt.spec.beforeFetchTrace);
  FetchedRows rows;
  HRESULT hr = Fetch(rt.buffer, request.Table().rowSize, &rows);
  if (hr != S_OK) {
    TraceFetchFailure(rt, hr);
    return 0;
  }
  completer.CompleteRows(rows, unit);
  return request.AddData(rows.bytes.data(), rows.count);
}

}  // namespace perf
}  // namespace osm

// The collector of a performance-object table: at each sample it fetches the
// table's sample buffer from the counter service, lets the table complete the
// rows, and hands them to AddData.
//
// A table's agent class derives from PerfAgent over its base class:
//
//   class osm_ntpagefile_agent : public osm::perf::PerfAgent<osm_ntpagefile_base> {
//    public:
//     osm_ntpagefile_agent(RequestDetail& d, ContextInfo& c, TableManager* m)
//         : PerfAgent(d, c, m, kPagingFileSpec) {}
//   };
//   OSM_AGENT(ntpagefile, osm_ntpagefile_agent)
//
// or, with the macro below, OSM_PERF_AGENT(ntpagefile, kPagingFileSpec).
//
// A table with values of its own names a completion in its CollectorSpec,
// which receives a private copy of the fetched rows (see Fetch below), so the
// shared sample buffer is never changed and never locked while rows are
// completed.
//
// Buffer locking: a sample buffer is read only under its own lock, taken for
// the whole fetch and copy, and never while another buffer's lock is held.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "collectors/perf/perf_values.h"
#include "framework/ras1.h"
#include "tables/table_base.h"

class OsmSampleBfr;

namespace osm {
namespace perf {

struct FetchedRows;

// What distinguishes one table's collector in the shared pattern.
struct CollectorSpec {
  const char* table;   // "NTPAGEFILE": names the sample buffer and the agent class
  const char* object;  // object name of the "not installed" message; null: no such message
  ProgressForm form;   // the progress lines of the table's group
  const char* beforeFetchTrace = nullptr;    // error-level trace before each fetch, if any
  const char* beforeGenericTrace = nullptr;  // error-level trace before the generic failure trace
  void (*complete)(FetchedRows& rows, RAS1_EPB* unit) = nullptr;  // the table's own values, if any
  bool genericFailureOnly = false;  // every failure, E_ACCESSDENIED too, gets only the generic trace
};

// The class names, units and process-wide buffer of one collector.
class CollectorRuntime {
 public:
  static const CollectorRuntime& For(const CollectorSpec& spec);

  const CollectorSpec& spec;
  std::string agentClass;  // "osm_ntpagefile_agent"
  OsmSampleBfr* buffer;    // the table's sample buffer record
  mutable RAS1_EPB constructorUnit;  // "<agent>::TakeSampleConstructor"
  mutable RAS1_EPB takeSampleUnit;   // "<agent>::TakeSample"
  mutable RAS1_EPB destructorUnit;   // "<agent>::TakeSampleDestructor"

 private:
  explicit CollectorRuntime(const CollectorSpec& s);
  std::string unitNames_[3];
};

// Rows copied out of a sample buffer: count rows of the table's row size.
struct FetchedRows {
  std::vector<char> bytes;
  int count = 0;
  char* Row(int i) { return bytes.data() + static_cast<std::size_t>(i) * rowSize; }
  std::size_t rowSize = 0;
};

// Fetches the newest sample into the table's buffer and copies its rows out,
// under the buffer's lock. Each row is rowSize bytes: a shorter buffer row is
// zero-filled at the end, a longer one cut. A buffer that was never set up
// (its table not registered) gives E_ACCESSDENIED without a fetch; a lock
// that cannot be taken gives E_FAIL. Otherwise the fetch's result.
HRESULT Fetch(OsmSampleBfr* buffer, std::size_t rowSize, FetchedRows* rows);
HRESULT Fetch(const char* table, FetchedRows* rows);

// The shared steps of the three operations.
void TraceProgress(const CollectorRuntime& rt, ProgressOp op);
// Traces a failed fetch as the pattern does: the object's message and the
// "not installed" detail trace for E_ACCESSDENIED, the generic severity,
// facility and code trace for any other result.
void TraceFetchFailure(const CollectorRuntime& rt, HRESULT hr);

// The processor count of the WTSYSTEM sample (traced), by which the process
// tables divide processor times; 1 when it cannot be read or reads 0.
std::int32_t ProcessorCount(RAS1_EPB* unit);

// The row completion step of a table.
class RowCompleter {
 public:
  virtual void CompleteRows(FetchedRows& rows, RAS1_EPB* unit) = 0;

 protected:
  ~RowCompleter() = default;
};

// TakeSample of the pattern for request over its table's buffer.
int CollectSample(const CollectorRuntime& rt, TableBase& request, RowCompleter& completer);

template <class Base>
class PerfAgent : public Base, protected RowCompleter {
 public:
  PerfAgent(RequestDetail& detail, ContextInfo& context, TableManager* manager, const CollectorSpec& spec)
      : Base(detail, context, manager), runtime_(CollectorRuntime::For(spec)) {
    TakeSampleConstructor();
  }
  ~PerfAgent() override { TakeSampleDestructor(); }

  int TakeSample() override { return CollectSample(runtime_, *this, *this); }

 protected:
  // Values of the table's own, on the fetched rows.
  void CompleteRows(FetchedRows& rows, RAS1_EPB* unit) override {
    if (runtime_.spec.complete) runtime_.spec.complete(rows, unit);
  }
  const CollectorRuntime& Runtime() const { return runtime_; }

 private:
  void TakeSampleConstructor() {
    RAS1_Scope scope(&runtime_.constructorUnit, __LINE__);
    TraceProgress(runtime_, ProgressOp::kConstructor);
  }
  void TakeSampleDestructor() { TraceProgress(runtime_, ProgressOp::kDestructor); }

  const CollectorRuntime& runtime_;
};

}  // namespace perf
}  // namespace osm

// Defines osm_<lower>_agent over the pattern with the given CollectorSpec, and offers it.
#define OSM_PERF_AGENT(lower, SPEC)                                                            \
  class osm_##lower##_agent : public osm::perf::PerfAgent<osm_##lower##_base> {                \
   public:                                                                                     \
    osm_##lower##_agent(RequestDetail& d, ContextInfo& c, TableManager* m)                     \
        : PerfAgent(d, c, m, SPEC) {}                                                          \
  };                                                                                           \
  OSM_AGENT(lower, osm_##lower##_agent)

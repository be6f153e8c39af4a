// NTPROCSSR and NTPROCRSUM: the Processor sample with impossible processor
// times corrected, and one summary row of it with the busiest and least busy
// processors and the process that uses most processor time.
#include "collectors/perf/perf_collector.h"
#include "collectors/perf/processor_values.h"
#include "support/fields.h"
#include "tables/tables.h"

#include <vector>

namespace osm {
namespace perf {

namespace {

// Every reader of the Processor sample corrects it before it reads it, as
// each reads its own copy of the shared buffer.
void CorrectProcessorRows(FetchedRows& rows, RAS1_EPB* unit) {
  for (int i = 0; i < rows.count; ++i) {
    std::int32_t delivered = 0;
    if (CorrectProcessorRow(rows.Row(i), &delivered) && (RAS1_Mask(unit) & RAS1_ERROR))
      RAS1_Printf(unit, __LINE__, "Detected %% processor time of %d, performing correct calculation.", delivered);
  }
}

const CollectorSpec kNtProcssr = {"NTPROCSSR", "Processor", ProgressForm::kStandard, nullptr, nullptr,
                                  &CorrectProcessorRows};
const CollectorSpec kNtProcrsum = {"NTPROCRSUM", nullptr, ProgressForm::kStandard};

int SummarizeProcessors(const CollectorRuntime& rt, TableBase& request) {
  RAS1_EPB* unit = &rt.takeSampleUnit;
  RAS1_Scope scope(unit, __LINE__);
  TraceProgress(rt, ProgressOp::kTakeSample);
  request.DiscardRows();
  const TableDef& def = request.Table();
  std::vector<char> summary(def.rowSize, 0);
  RowField origin = FieldOf(def, "ORIGINNODE"), stamp = FieldOf(def, "TIMESTAMP");
  CopyOriginNode(summary.data() + origin.offset, origin.width);
  FormatTimestampNow(summary.data() + stamp.offset);

  FetchedRows cpus;
  HRESULT hr = Fetch("NTPROCSSR", &cpus);
  if (hr != S_OK) {
    TraceFetchFailure(rt, hr);
    return 0;
  }
  CorrectProcessorRows(cpus, unit);
  ProcessorSummary s(summary.data());
  for (int i = 0; i < cpus.count; ++i) s.AddProcessor(cpus.Row(i));

  std::int32_t processors = ProcessorCount(unit);
  FetchedRows processes;
  hr = Fetch("WTPROCESS", &processes);
  if (hr == S_OK) {
    for (int i = 0; i < processes.count; ++i) s.AddProcess(processes.Row(i), processors);
  } else {
    TraceFetchFailure(rt, hr);
  }
  s.Finish();
  return request.AddData(summary.data(), 1);
}

}  // namespace

}  // namespace perf
}  // namespace osm

OSM_PERF_AGENT(ntprocssr, osm::perf::kNtProcssr)

// The summary has no sample of its own: it reads the other tables' buffers.
class osm_ntprocrsum_agent : public osm_ntprocrsum_base {
 public:
  osm_ntprocrsum_agent(RequestDetail& d, ContextInfo& c, TableManager* m)
      : osm_ntprocrsum_base(d, c, m), runtime_(osm::perf::CollectorRuntime::For(osm::perf::kNtProcrsum)) {
    RAS1_Scope scope(&runtime_.constructorUnit, __LINE__);
    osm::perf::TraceProgress(runtime_, osm::perf::ProgressOp::kConstructor);
  }
  ~osm_ntprocrsum_agent() override { osm::perf::TraceProgress(runtime_, osm::perf::ProgressOp::kDestructor); }

  int TakeSample() override { return osm::perf::SummarizeProcessors(runtime_, *this); }

 private:
  const osm::perf::CollectorRuntime& runtime_;
};
OSM_AGENT(ntprocrsum, osm_ntprocrsum_agent)

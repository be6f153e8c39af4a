// NTFLCHG: each filter row of a situation becomes a change monitor whose rows
// go to that situation as the changes happen; a report lists the monitors
// with their last change.
#include <cstdio>
#include <new>

#include "collectors/files/change_monitor.h"
#include "collectors/files/file_facts.h"
#include "tables/tables.h"

namespace {

const char kAgentClass[] = "osm_ntflchg_agent";

bool IsSituation(int sampleType) { return sampleType == DCF_SAMPLE_SITUATION || sampleType == DCF_SAMPLE_EVENT; }

void CreationFailure(const char* text) {
  std::fprintf(stderr, "%s\n", text);
  std::fflush(stderr);
}

}  // namespace

class osm_ntflchg_agent : public osm_ntflchg_base {
 public:
  osm_ntflchg_agent(RequestDetail& d, ContextInfo& c, TableManager* m) : osm_ntflchg_base(d, c, m) {
    TakeSampleConstructor();
  }
  ~osm_ntflchg_agent() override { TakeSampleDestructor(); }

  int TakeSample() override {
    RAS1_ENTRY("osm_ntflchg_agent::TakeSample");
    osm::files::WriteProgress(kAgentClass, "TakeSample", "  ");
    if (detail.sampleType != DCF_SAMPLE_REPORT) return 0;  // situations receive their rows as they come
    int status = 0;
    osm::files::FileChangeService::Instance().ReportRows([&](const char* row) {
      if (status == 0) status = AddData(row, 1);
    });
    return status;
  }

 private:
  void TakeSampleConstructor() {
    RAS1_ENTRY("osm_ntflchg_agent::TakeSampleConstructor");
    osm::files::WriteProgress(kAgentClass, "TakeSampleConstructor", "  ");
    if (!IsSituation(detail.sampleType)) return;
    for (const osm::files::WatchSpec& watch :
         osm::files::ReadWatchSpecs(osm::files::FilterEntries(*this), &RAS1__EPB_)) {
      std::unique_ptr<osm::files::FileChangeMonitor> monitor(
          new (std::nothrow) osm::files::FileChangeMonitor(watch, handle));
      if (!monitor) {
        RAS1_TRACE(RAS1_ERROR, "Error allocating memory");
        CreationFailure("Error allocating memory");
        continue;
      }
      if (!monitor->Open(&RAS1__EPB_)) {
        const char* text =
            "Unable to create file_change monitor object because the file/path you are requesting does not exist.";
        RAS1_TRACE(RAS1_ERROR, "%s", text);
        CreationFailure(text);
        continue;
      }
      osm::files::FileChangeService::Instance().Add(std::move(monitor));
    }
  }

  void TakeSampleDestructor() {
    osm::files::WriteProgress(kAgentClass, "TakeSampleDestructor", "  ");
    if (IsSituation(detail.sampleType)) osm::files::FileChangeService::Instance().RemoveOwnedBy(handle);
  }
};
OSM_AGENT(ntflchg, osm_ntflchg_agent)

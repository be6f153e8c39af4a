// NTFLTREND: a sampled situation watches one file; each sample stores the
// file's size in the situation's ring and ships a row with the growth and the
// disk figures. A report lists the last row of every watched file.
#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "collectors/files/file_facts.h"
#include "collectors/files/trend_ring.h"
#include "tables/tables.h"

class osm_ntfltrend_agent;

namespace {

const char kAgentClass[] = "osm_ntfltrend_agent";

// Every sampled situation on the table. The lock also keeps samples of
// different situations from overlapping.
struct TrendList {
  std::mutex lock;
  std::vector<osm_ntfltrend_agent*> agents;
};

TrendList& Trends() {
  static TrendList* list = new TrendList();  // outlives static destructors
  return *list;
}

}  // namespace

class osm_ntfltrend_agent : public osm_ntfltrend_base {
 public:
  osm_ntfltrend_agent(RequestDetail& d, ContextInfo& c, TableManager* m)
      : osm_ntfltrend_base(d, c, m), row_(osm::files::TrendTable().rowSize) {
    TakeSampleConstructor();
  }
  ~osm_ntfltrend_agent() override { TakeSampleDestructor(); }

  int TakeSample() override {
    RAS1_ENTRY("osm_ntfltrend_agent::TakeSample");
    osm::files::WriteProgress(kAgentClass, "TakeSample", " ");
    TrendList& list = Trends();
    std::lock_guard<std::mutex> guard(list.lock);
    if (detail.sampleType == DCF_SAMPLE_SITUATION) return ring_ ? Sample(&RAS1__EPB_) : 0;
    if (detail.sampleType != DCF_SAMPLE_REPORT) return 0;
    std::int32_t rowNo = 0;
    std::vector<char> row(row_.size());
    for (osm_ntfltrend_agent* agent : list.agents) {
      if (agent->samples_ == 0) continue;
      row = agent->row_;
      osm::files::StampRow(osm::files::TrendTable(), row.data(), osm::files::HostNodeName(), agent->samples_,
                           ++rowNo);
      int rc = AddData(row.data(), 1);
      if (rc != 0) return rc;
    }
    return 0;
  }

 private:
  void TakeSampleConstructor() {
    RAS1_ENTRY("osm_ntfltrend_agent::TakeSampleConstructor");
    osm::files::WriteProgress(kAgentClass, "TakeSampleConstructor", " ");
    if (detail.sampleType != DCF_SAMPLE_SITUATION) return;
    std::vector<osm::files::WatchSpec> watches =
        osm::files::ReadWatchSpecs(osm::files::FilterEntries(*this), &RAS1__EPB_);
    if (watches.empty()) return;  // traced: nothing to watch
    watch_ = watches.front();
    if (watches.size() > 1) RAS1_TRACE(RAS1_ERROR, "Situation %s watches its first file only", detail.name);
    if (!watch_.hasSampleCount) {
      RAS1_TRACE(RAS1_FLOW, "No sampling interval specified for situation %s, setting default of %d", detail.name,
                 osm::files::kDefaultSampleCount);
    }
    sampleCount_ = osm::files::UsableSampleCount(watch_.hasSampleCount ? watch_.sampleCount : 0);
    RAS1_TRACE(RAS1_FLOW, "Sampling interval for situation %s is %d", detail.name, sampleCount_);
    if (osm::files::FileName(watch_).empty()) RAS1_TRACE(RAS1_ERROR, "Error, watch file is invalid, contents:\n");
    directory_ = osm::files::PlatformPath(osm::files::DirectoryPath(watch_));
    target_ = osm::files::PlatformPath(osm::files::DirectoryPath(watch_) + osm::files::FileName(watch_));
    osm::files::FileFacts start = osm::files::LookUpFile(target_, &RAS1__EPB_);
    ring_.reset(new (std::nothrow) osm::files::TrendRing(sampleCount_, start.found ? start.size : 0));
    if (!ring_) {
      RAS1_TRACE(RAS1_ERROR, "Error allocating memory");
      return;
    }
    TrendList& list = Trends();
    std::lock_guard<std::mutex> guard(list.lock);
    list.agents.push_back(this);
  }

  void TakeSampleDestructor() {
    osm::files::WriteProgress(kAgentClass, "TakeSampleDestructor", " ");
    TrendList& list = Trends();
    std::lock_guard<std::mutex> guard(list.lock);
    list.agents.erase(std::remove(list.agents.begin(), list.agents.end(), this), list.agents.end());
  }

  // Under the list's lock.
  int Sample(RAS1_EPB* unit) {
    osm::files::TrendRow trend;
    trend.sampleInterval = detail.interval;
    trend.sampleCount = sampleCount_;
    trend.facts = osm::files::LookUpFile(target_, unit);
    if (trend.facts.found) {
      trend.figures = ring_->Add(trend.facts.size, detail.interval);
      trend.disk = osm::files::DiskOf(directory_, unit);
    }
    ++samples_;
    char* row = row_.data();
    osm::files::ClearRow(osm::files::TrendTable(), row);
    osm::files::StampRow(osm::files::TrendTable(), row, osm::files::HostNodeName(), samples_, 1);
    osm::files::FillTrendRow(row, watch_, trend);
    return AddData(row, 1);
  }

  osm::files::WatchSpec watch_;
  std::wstring directory_, target_;
  std::int32_t sampleCount_ = osm::files::kDefaultSampleCount;
  std::unique_ptr<osm::files::TrendRing> ring_;  // null: nothing to watch
  std::vector<char> row_;                        // the last row, for reports
  std::int32_t samples_ = 0;
};
OSM_AGENT(ntfltrend, osm_ntfltrend_agent)

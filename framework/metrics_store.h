// The latest sample of each exported table, kept for the metrics endpoint.
//
// Request threads record their samples; the endpoint takes a snapshot. Both
// hold the lock only to copy a few fields and swap a shared pointer to the
// rows, so a slow scrape never delays a sample and no lock is held across I/O.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/metric_rows.h"

namespace cfw {

typedef std::chrono::system_clock::time_point TimePoint;

struct ExportState {
  std::string request;
  std::string table;
  int interval = 0;  // seconds
  std::shared_ptr<const TablePlan> plan;
  std::shared_ptr<const std::string> rows;  // the rows of the last good sample
  int rowCount = 0;
  TimePoint opened;
  TimePoint lastSample;  // of the last good sample
  bool sampled = false;  // there was a good sample
  std::uint64_t samples = 0;   // taken, good or failed
  std::uint64_t failures = 0;  // failed
  double seconds = 0;          // spent sampling, all samples
  std::string lastError;       // of the last sample; empty when it was good
};

// The table's rows are served: its last good sample is at most three
// intervals old.
bool RowsCurrent(const ExportState& state, TimePoint now);
// The table counts as healthy: sampled within three intervals, or, before its
// first sample, opened less than three intervals ago.
bool SampledRecently(const ExportState& state, TimePoint now);

class MetricsStore {
 public:
  void Open(const std::string& request, const std::string& table, int interval,
            std::shared_ptr<const TablePlan> plan, TimePoint now);
  // One sample of an open export: its rows when error is empty.
  void Record(const std::string& request, std::shared_ptr<const std::string> rows, int rowCount,
              const std::string& error, double seconds, TimePoint now);
  std::vector<ExportState> Snapshot() const;
  void Clear();

 private:
  mutable std::mutex lock_;
  std::vector<ExportState> exports_;
};

}  // namespace cfw

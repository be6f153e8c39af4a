// The latest sample of each exported table.
#include "framework/metrics_store.h"

namespace cfw {
namespace {

bool Within(TimePoint when, int interval, TimePoint now) {
  return now - when <= std::chrono::seconds(3LL * interval);
}

}  // namespace

bool RowsCurrent(const ExportState& state, TimePoint now) {
  return state.sampled && Within(state.lastSample, state.interval, now);
}

bool SampledRecently(const ExportState& state, TimePoint now) {
  return Within(state.sampled ? state.lastSample : state.opened, state.interval, now);
}

void MetricsStore::Open(const std::string& request, const std::string& table, int interval,
                        std::shared_ptr<const TablePlan> plan, TimePoint now) {
  ExportState s;
  s.request = request;
  s.table = table;
  s.interval = interval;
  s.plan = std::move(plan);
  s.opened = now;
  std::lock_guard<std::mutex> guard(lock_);
  exports_.push_back(std::move(s));
}

void MetricsStore::Record(const std::string& request, std::shared_ptr<const std::string> rows, int rowCount,
                          const std::string& error, double seconds, TimePoint now) {
  std::lock_guard<std::mutex> guard(lock_);
  for (ExportState& s : exports_) {
    if (s.request != request) continue;
    ++s.samples;
    s.seconds += seconds;
    s.lastError = error;
    if (error.empty()) {
      s.rows = std::move(rows);
      s.rowCount = rowCount;
      s.lastSample = now;
      s.sampled = true;
    } else {
      ++s.failures;
    }
    return;
  }
}

std::vector<ExportState> MetricsStore::Snapshot() const {
  std::lock_guard<std::mutex> guard(lock_);
  return exports_;
}

void MetricsStore::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  exports_.clear();
}

}  // namespace cfw

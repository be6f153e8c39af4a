#include "collectors/watchdog/alert_cache.h"

#include <system_error>

#include "framework/ras1.h"

namespace osm {
namespace wdg {

AlertCache::AlertCache(Clock clock) : clock_(std::move(clock)) {}

void AlertCache::SetClock(Clock clock) {
  std::lock_guard<std::mutex> guard(lock_);
  clock_ = std::move(clock);
}

void AlertCache::DropExpired(std::int64_t now) {
  RAS1_UNIT("AlertCache::DropExpired");
  std::int64_t cutOff = now - kKeepSeconds;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->cachedAt <= cutOff) {
      RAS1_TRACE(RAS1_DETAIL, "Deleting event too old.\n");
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

bool AlertCache::Add(const char* row, std::size_t size) {
  RAS1_UNIT("AlertCache::Add");
  try {
    std::lock_guard<std::mutex> guard(lock_);
    std::int64_t now = clock_();
    entries_.push_back(Entry{std::string(row, size), now});
    DropExpired(now);
  } catch (const std::system_error&) {
    RAS1_TRACE(RAS1_ERROR, "Unable to lock the alert cache.");
    return false;
  }
  return true;
}

bool AlertCache::ForEachKept(const std::function<void(const std::string& row)>& keep) {
  RAS1_UNIT("AlertCache::ForEachKept");
  try {
    std::lock_guard<std::mutex> guard(lock_);
    DropExpired(clock_());
    for (const Entry& e : entries_) {
      RAS1_TRACE(RAS1_DETAIL, "Keeping event.\n");
      keep(e.row);
    }
  } catch (const std::system_error&) {
    RAS1_TRACE(RAS1_ERROR, "Unable to lock the alert cache.");
    return false;
  }
  return true;
}

std::size_t AlertCache::Count() {
  std::lock_guard<std::mutex> guard(lock_);
  return entries_.size();
}

}  // namespace wdg
}  // namespace osm

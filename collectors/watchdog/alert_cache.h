// The OSMWDGALRT rows of the last 24 hours. Each row is kept with the time it
// was cached; a row cached at or before now - 86400 s is dropped at the next
// alert or report. The lock is a member, made with the cache, so it exists
// before any listener or report can reach the cache. No platform calls; the
// clock is injected.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>

namespace osm {
namespace wdg {

class AlertCache {
 public:
  typedef std::function<std::int64_t()> Clock;  // seconds since 1970
  static const std::int64_t kKeepSeconds = 86400;

  explicit AlertCache(Clock clock);
  void SetClock(Clock clock);

  // Caches a row (now), then drops the expired ones. false when the cache
  // could not be locked (the row is dropped).
  bool Add(const char* row, std::size_t size);
  // Drops the expired rows, then hands each kept row to keep, oldest first.
  bool ForEachKept(const std::function<void(const std::string& row)>& keep);
  std::size_t Count();

 private:
  struct Entry {
    std::string row;
    std::int64_t cachedAt;
  };
  void DropExpired(std::int64_t now);

  std::mutex lock_;
  Clock clock_;
  std::list<Entry> entries_;
};

}  // namespace wdg
}  // namespace osm

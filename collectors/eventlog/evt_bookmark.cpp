#include "collectors/eventlog/evt_bookmark.h"

#include <cstdlib>
#include <sstream>

namespace osm {
namespace evl {

Bookmarks ParseBookmarks(const std::string& text) {
  Bookmarks marks;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t a = line.find('\t');
    std::size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
    if (a == 0 || b == std::string::npos) continue;
    const char* recordText = line.c_str() + a + 1;
    const char* timeText = line.c_str() + b + 1;
    char* end = nullptr;
    unsigned long long record = std::strtoull(recordText, &end, 10);
    if (end != line.c_str() + b || end == recordText) continue;
    long long time = std::strtoll(timeText, &end, 10);
    if (*end != '\0' || end == timeText) continue;
    marks[line.substr(0, a)] = Bookmark{record, time};
  }
  return marks;
}

std::string FormatBookmarks(const Bookmarks& marks) {
  std::string out;
  for (const auto& m : marks)
    out += m.first + "\t" + std::to_string(m.second.record) + "\t" + std::to_string(m.second.timeWritten) + "\n";
  return out;
}

PassSelection::Decision PassSelection::Consider(std::uint64_t record, std::int64_t timeWritten) {
  if (first_) {
    first_ = false;
    newest_ = record;
    newestTime_ = timeWritten;
    byTime_ = start_.lastRecord == 0 || record < start_.lastRecord;
  }
  bool candidate = byTime_ ? timeWritten >= start_.situationTime : record > start_.lastRecord;
  if (candidate && start_.notBefore != 0 && timeWritten < start_.notBefore) candidate = false;
  if (candidate && start_.maxCount != 0 && taken_ >= start_.maxCount) candidate = false;
  if (!candidate) return kDone;
  ++taken_;
  return kTake;
}

PassStart ResumeFrom(const Bookmark& mark, std::int64_t now, std::int64_t maxAge, std::uint32_t maxCount) {
  PassStart s;
  s.lastRecord = mark.record;
  // A cleared log is evaluated by time: what was written after the bookmarked
  // record, or, when the log held none, since the pass that found it empty.
  s.situationTime = mark.record ? mark.timeWritten + 1 : mark.timeWritten;
  s.notBefore = maxAge > 0 ? now - maxAge : 0;
  if (s.notBefore <= 0) s.notBefore = 0;
  s.maxCount = maxCount;
  return s;
}

}  // namespace evl
}  // namespace osm

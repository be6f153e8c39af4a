// Where a log manager resumes: the newest record it has processed (the
// bookmark, kept across agent restarts in a state file) and the selection of
// the records of one situation pass, newest first.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace osm {
namespace evl {

struct Bookmark {
  std::uint64_t record = 0;      // classic record number or EventRecordID; 0: the log was empty
  std::int64_t timeWritten = 0;  // seconds since 1970 of that record (of the empty pass when 0)
};
typedef std::map<std::string, Bookmark> Bookmarks;  // by log name

// The state file: one line per log, "log name<TAB>record<TAB>time". Lines
// that do not read so are skipped.
Bookmarks ParseBookmarks(const std::string& text);
std::string FormatBookmarks(const Bookmarks& marks);

// Where a situation pass starts from.
struct PassStart {
  std::uint64_t lastRecord = 0;  // newest record already processed; 0: unknown
  std::int64_t situationTime = 0;  // by time: records written at or after it
  // After a restart: records older than notBefore, or beyond maxCount, are
  // not caught up (0: no bound).
  std::int64_t notBefore = 0;
  std::uint32_t maxCount = 0;
};

// The selection of one situation pass over records read newest first. A
// record is a candidate when it is newer than the last record, or, when
// that is unknown or the log was cleared (its newest record is older than
// the last one), when it was written at or after the situation time.
class PassSelection {
 public:
  explicit PassSelection(const PassStart& start) : start_(start) {}
  enum Decision { kTake, kDone };
  Decision Consider(std::uint64_t record, std::int64_t timeWritten);
  // The first (newest) record of the pass; 0 when it read none.
  std::uint64_t Newest() const { return newest_; }
  std::int64_t NewestTime() const { return newestTime_; }
  bool ByTime() const { return byTime_; }
  std::uint32_t Taken() const { return taken_; }

 private:
  PassStart start_;
  bool first_ = true;
  bool byTime_ = false;
  std::uint64_t newest_ = 0;
  std::int64_t newestTime_ = 0;
  std::uint32_t taken_ = 0;
};

// The start of the first pass after a restart from a bookmark: events after
// it, at most maxCount of them and none written before now - maxAge seconds.
PassStart ResumeFrom(const Bookmark& mark, std::int64_t now, std::int64_t maxAge, std::uint32_t maxCount);

}  // namespace evl
}  // namespace osm

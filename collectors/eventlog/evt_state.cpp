// The state file of the restart bookmarks.
#include <cctype>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include "collectors/eventlog/evm_eventlog.h"
#include "framework/ras1.h"

namespace osm {
namespace evl {
namespace {

std::mutex& StateLock() {
  static std::mutex* m = new std::mutex();  // log manager threads may outlive static destructors
  return *m;
}

// The state file's path; empty when bookmarks are off.
std::string StatePath() {
  const char* setting = BSS1_GetEnv("OSM_EVTLOG_STATE", 0);
  if (setting && *setting) {
    std::string s(setting);
    std::string lower;
    for (char c : s) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return lower == "none" ? std::string() : s;
  }
  char exe[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return "osm_evtlog.state";
  std::string dir(exe, n);
  std::size_t slash = dir.find_last_of("\\/");
  return (slash == std::string::npos ? std::string() : dir.substr(0, slash + 1)) + "osm_evtlog.state";
}

Bookmarks ReadState(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return ParseBookmarks(text.str());
}

}  // namespace

bool LoadBookmark(const char* logName, Bookmark* mark) {
  std::string path = StatePath();
  if (path.empty()) return false;
  std::lock_guard<std::mutex> guard(StateLock());
  Bookmarks marks = ReadState(path);
  auto it = marks.find(logName);
  if (it == marks.end()) return false;
  *mark = it->second;
  return true;
}

void SaveBookmark(const char* logName, const Bookmark& mark) {
  RAS1_UNIT("EvmEventLog::SaveBookmark");
  std::string path = StatePath();
  if (path.empty()) return;
  std::lock_guard<std::mutex> guard(StateLock());
  Bookmarks marks = ReadState(path);
  marks[logName] = mark;
  // Written beside the file and moved over it, so a crash leaves the old
  // state or the new one, never half of either.
  std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << FormatBookmarks(marks);
    if (!out) {
      RAS1_TRACE(RAS1_ERROR, "Cannot write the bookmark file %s", temp.c_str());
      return;
    }
  }
  if (!MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    RAS1_TRACE(RAS1_ERROR, "Cannot replace the bookmark file %s, rc = %ld", path.c_str(),
               static_cast<long>(GetLastError()));
}

}  // namespace evl
}  // namespace osm

// The JSON Lines output stream and the framework log.
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "framework/cfw.h"
#include "framework/cfw_runtime.h"
#include "framework/jsonrows.h"
#include "framework/ras1.h"

namespace {

struct Output {
  std::mutex lock;
  std::FILE* file = nullptr;  // null: standard output
};

Output& Out() {
  static Output* out = new Output();  // outlives static destructors
  return *out;
}

std::mutex& LogLock() {
  static std::mutex* lock = new std::mutex();
  return *lock;
}

}  // namespace

namespace cfw {

bool OpenOutput(const char* path) {
  Output& o = Out();
  std::lock_guard<std::mutex> guard(o.lock);
  if (o.file) std::fclose(o.file);
  o.file = nullptr;
  if (path == nullptr || *path == '\0') return true;
  o.file = std::fopen(path, "ab");
  return o.file != nullptr;
}

void CloseOutput() {
  Output& o = Out();
  std::lock_guard<std::mutex> guard(o.lock);
  if (o.file) std::fclose(o.file);
  o.file = nullptr;
}

bool WriteLines(const std::string& lines) {
  Output& o = Out();
  std::lock_guard<std::mutex> guard(o.lock);
  std::FILE* f = o.file ? o.file : stdout;
  bool ok = std::fwrite(lines.data(), 1, lines.size(), f) == lines.size();
  return std::fflush(f) == 0 && ok;
}

void LogLine(const std::string& text) {
  const char* env = BSS1_GetEnv("OSM_FRAMEWORK_LOG", 0);
  std::string path = env && *env ? std::string(env) : DefaultFolder() + "osm_framework.log";
  std::string line = FormatUtc(std::chrono::system_clock::now()) + " " + text + "\n";
  std::lock_guard<std::mutex> guard(LogLock());
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (f == nullptr) return;
  std::fwrite(line.data(), 1, line.size(), f);
  std::fclose(f);
}

}  // namespace cfw

int DCFA_insert_log(const char* messageId, const char* text, const char* product) {
  if (messageId == nullptr || text == nullptr) return DCF_E_BADARG;
  cfw::LogLine(std::string(product ? product : "") + " " + messageId + " " + text);
  return DCF_OK;
}

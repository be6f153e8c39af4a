#include "perfsvc/trigger_log.h"

#include "framework/ras1.h"
#include "perfsvc/counter.h"
#include "perfsvc/perf_layout.h"
#include "perfsvc/perf_text.h"
#include "perfsvc/sample.h"

#include <chrono>
#include <cinttypes>
#include <cstdlib>

namespace osmperf {

std::string FormatTriggerTime(const TriggerTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d%s%02d%s%02d%s%02d%s%02d%s%02d%s%03d", t.year, ".", t.month, ".",
                t.day, ".", t.hour, ".", t.minute, ".", t.second, ".", t.millis);
  return text;
}

double ParseThreshold(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  double v = std::strtod(begin, &end);
  return end == begin ? 0.0 : v;
}

CTriggerLog& CTriggerLog::Instance() {
  static CTriggerLog log;
  return log;
}

CTriggerLog::CTriggerLog() = default;

CTriggerLog::~CTriggerLog() { Close(); }

namespace {

TriggerTime RuntimeLocalTime() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  TriggerTime out;
  out.year = tm.tm_year + 1900;
  out.month = tm.tm_mon + 1;
  out.day = tm.tm_mday;
  out.hour = tm.tm_hour;
  out.minute = tm.tm_min;
  out.second = tm.tm_sec;
  out.millis = static_cast<int>(ms < 0 ? ms + 1000 : ms);
  return out;
}

void Observer(const CCounter& counter, double value) { CTriggerLog::Instance().Percent(counter, value); }

}  // namespace

void CTriggerLog::Attach() { CCounter::SetPercentObserver(&Observer); }

TriggerTime CTriggerLog::Now() const { return clock_ ? clock_() : RuntimeLocalTime(); }

bool CTriggerLog::Configure(const TriggerConfig& config, Opener opener, Clock clock) {
  RAS1_UNIT("CTriggerLog::Configure");
  std::lock_guard<std::mutex> guard(lock_);
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  config_ = config;
  clock_ = std::move(clock);
  if (!config_.on) return false;
  const char* mode = config_.append ? "a+" : "w";
  file_ = opener ? opener(config_.fileName.c_str(), mode) : std::fopen(config_.fileName.c_str(), mode);
  if (file_ == nullptr) {
    RAS1_TRACE(RAS1_ERROR, "Unable to open the trigger log file '%s'; percent triggers are off",
               config_.fileName.c_str());
    config_.on = false;
    return false;
  }
  std::string stamp = FormatTriggerTime(Now());
  std::fprintf(file_, "%s OSMPERF LOG FILE BEGINS\n", stamp.c_str());
  std::fprintf(file_, "%s TriggersOn:%s LowThreshold:%f HighThreshold:%f File:%s\n", stamp.c_str(),
               config_.on ? "Yes" : "No", config_.low, config_.high, config_.append ? "Append" : "Replace");
  std::fflush(file_);
  RAS1_TRACE(RAS1_FLOW, "Percent triggers on, high threshold %f, log '%s'", config_.high,
             config_.fileName.c_str());
  return true;
}

bool CTriggerLog::Active() const {
  std::lock_guard<std::mutex> guard(lock_);
  return config_.on && file_ != nullptr;
}

void CTriggerLog::Close() {
  std::lock_guard<std::mutex> guard(lock_);
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  config_.on = false;
}

void CTriggerLog::Percent(const CCounter& counter, double value) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!config_.on || file_ == nullptr || !(value > config_.high)) return;
  std::string stamp = FormatTriggerTime(Now());
  std::string object, instance;
  double elapsed = 0.0;
  if (const CSample* sample = counter.Sample()) {
    object = ToUtf8(sample->ObjectName());
    const CounterTimes& t = sample->Times();
    switch (counter.CounterType() & kTimerMask) {
      case kTimerTick: elapsed = static_cast<double>(t.perfTimeDelta); break;
      case kTimer100Ns: elapsed = static_cast<double>(t.perfTime100nSecDelta); break;
      case kTimerObject: elapsed = static_cast<double>(t.objectTimeDelta); break;
      default: break;
    }
  }
  if (const CSampleRow* row = counter.Row()) instance = ToUtf8(row->Name());
  std::fprintf(file_, "%s CCOUNTER::Process %% Trigger Hit:%f Object:%s Counterid:%d Inst:%s\n", stamp.c_str(),
               value, object.c_str(), static_cast<int>(counter.CounterIndex()), instance.c_str());
  if (config_.details) {
    std::fprintf(file_,
                 "%s CT:%08X ND:%016" PRIX64 " OD:%016" PRIX64 " NB:%016" PRIX64 " OB:%016" PRIX64 " DT:%01.3f\n",
                 stamp.c_str(), static_cast<unsigned>(counter.CounterType()), counter.NewRaw(), counter.OldRaw(),
                 counter.NewBase(), counter.OldBase(), elapsed / 10000.0);
  }
  std::fflush(file_);
}

}  // namespace osmperf

// The percent-trigger log: a diagnostic file that records every percent
// counter whose value passes a high threshold, with its raw readings.
//
// Configured by the profile osmperf.ini:
//   [counter]  PercentMessageTriggersOn   integer, default 0 (off)
//              PercentMessageTriggerLow   text read as a number, default "-1"
//              PercentMessageTriggerHigh  text read as a number, default "1000"
//              PercentMessageDetails      integer, default 1
//   [logfile]  LogFileName                default "c:\osmperf.log"
//              LogFileAppend              integer, default 0 (replace)
// The low threshold is reported in the header but triggers nothing.
#pragma once

#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>

namespace osmperf {

class CCounter;

struct TriggerConfig {
  bool on = false;
  double low = -1.0;
  double high = 1000.0;
  bool details = true;
  std::string fileName = "c:\\osmperf.log";
  bool append = false;
};

// Local time with milliseconds, as the log lines show it.
struct TriggerTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
};

// "YYYY.MM.DD.hh.mm.ss.mmm"
std::string FormatTriggerTime(const TriggerTime& t);
// A number text as the profile holds it; a malformed text reads as 0.
double ParseThreshold(const std::string& text);

class CTriggerLog {
 public:
  using Clock = std::function<TriggerTime()>;
  using Opener = std::function<std::FILE*(const char* path, const char* mode)>;

  // The process-wide log that the counters report to.
  static CTriggerLog& Instance();

  CTriggerLog();
  ~CTriggerLog();
  CTriggerLog(const CTriggerLog&) = delete;
  CTriggerLog& operator=(const CTriggerLog&) = delete;

  // Opens the file and writes the header when triggers are on. A file that
  // cannot be opened is traced and switches the triggers off. Returns
  // whether the log is active.
  bool Configure(const TriggerConfig& config, Opener opener = Opener(), Clock clock = Clock());
  bool Active() const;
  // Closes the file; the triggers are off afterwards.
  void Close();

  // One percent value of a counter (after clamping); writes the hit lines
  // when it exceeds the high threshold.
  void Percent(const CCounter& counter, double value);

  // Connects Instance() to every counter's percent values.
  static void Attach();

 private:
  TriggerTime Now() const;

  mutable std::mutex lock_;
  TriggerConfig config_;
  std::FILE* file_ = nullptr;
  Clock clock_;
};

}  // namespace osmperf

// A second module with its own copy of the trace layer, as osmperf.dll has.
#include <thread>
#include <vector>

#include "framework/ras1.h"

extern "C" __declspec(dllexport) void TraceFromModule(int threads, int lines) {
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([t, lines] {
      RAS1_UNIT("Module");
      for (int i = 0; i < lines; ++i) RAS1_ALWAYS("module thread=%d line=%d payload=%s", t, i, "0123456789abcdef");
    });
  }
  for (auto& w : workers) w.join();
}

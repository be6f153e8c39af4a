// Cost of a trace call with its level off (the common case: every routine
// checks its cached mask) and on (formatting and writing one line).
#include <chrono>
#include <cstdio>
#include <string>

#include "framework/ras1.h"

namespace {

volatile int g_sink = 0;

void DisabledCall(int i) {
  RAS1_UNIT("BenchDisabled");
  RAS1_TRACE(RAS1_DETAIL, "value %d of %s", i, "bench");
  g_sink = g_sink + 1;
}

void EnabledCall(int i) {
  RAS1_UNIT("BenchEnabled");
  RAS1_TRACE(RAS1_DETAIL, "value %d of %s", i, "bench");
}

void ScopedCall() { RAS1_ENTRY("BenchScope"); g_sink = g_sink + 1; }

template <typename F>
double NanosPerCall(long long calls, F f) {
  auto start = std::chrono::steady_clock::now();
  for (long long i = 0; i < calls; ++i) f(static_cast<int>(i));
  auto end = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::nano>(end - start).count() / static_cast<double>(calls);
}

}  // namespace

int main(int argc, char** argv) {
  std::string file = argc > 1 ? argv[1] : "bench_trace.trc";
  RAS1_SetDestination(file.c_str());
  RAS1_Configure("ERROR,BenchEnabled=ALL");

  double baseline = NanosPerCall(50000000, [](int) { g_sink = g_sink + 1; });
  double disabled = NanosPerCall(50000000, DisabledCall);
  double scoped = NanosPerCall(50000000, [](int) { ScopedCall(); });
  double enabled = NanosPerCall(200000, EnabledCall);
  RAS1_Close();
  std::remove(file.c_str());

  std::printf("trace call, level off:        %6.2f ns/call (loop baseline %.2f ns)\n", disabled, baseline);
  std::printf("entry/exit scope, level off:  %6.2f ns/call\n", scoped);
  std::printf("trace call, level on (file):  %6.0f ns/call\n", enabled);
  return 0;
}

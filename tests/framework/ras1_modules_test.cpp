// The executable and a DLL, each with its own copy of the trace layer, write
// one trace file from several threads across rotations.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "framework/ras1.h"

namespace {

// Whole lines only, each from one module; the number of lines seen.
int CheckLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::regex shape(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[[0-9a-f]{8}\] )"
                   R"((Agent|Module)\(\d+\) (agent|module) thread=\d line=\d+ payload=0123456789abcdef$)");
  int count = 0;
  for (std::string line; std::getline(in, line); ++count) EXPECT_TRUE(std::regex_match(line, shape)) << line;
  return count;
}

TEST(TraceModules, OneFileRotatesWhileBothModulesWrite) {
  std::string path = ::testing::TempDir() + "ras1_modules.trc";
  std::remove(path.c_str());
  std::remove((path + ".1").c_str());
  // Both copies read the destination and the limit at their first line.
  _putenv_s("BSL_RAS1_FILE", path.c_str());
  _putenv_s("BSL_RAS1_MAXSIZE", "4096");
  char exe[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string dll = std::string(exe, n).substr(0, std::string(exe, n).find_last_of('\\') + 1) + "ras1_module.dll";
  HMODULE module = LoadLibraryA(dll.c_str());
  ASSERT_NE(nullptr, module) << dll;
  auto traceFromModule =
      reinterpret_cast<void (*)(int, int)>(reinterpret_cast<void*>(GetProcAddress(module, "TraceFromModule")));
  ASSERT_NE(nullptr, traceFromModule);

  const int kThreads = 3, kLines = 300;  // about 100 KB: many rotations
  std::vector<std::thread> threads;
  threads.emplace_back([&] { traceFromModule(kThreads, kLines); });
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      RAS1_UNIT("Agent");
      for (int i = 0; i < kLines; ++i) RAS1_ALWAYS("agent thread=%d line=%d payload=%s", t, i, "0123456789abcdef");
    });
  }
  for (auto& th : threads) th.join();
  RAS1_Close();

  std::ifstream current(path, std::ios::binary | std::ios::ate);
  EXPECT_LE(static_cast<long long>(current.tellg()), 4096 + 200) << "rotated at the limit";
  EXPECT_GT(CheckLines(path + ".1"), 0) << "a rotated file exists";
  CheckLines(path);
  FreeLibrary(module);
  std::remove(path.c_str());
  std::remove((path + ".1").c_str());
}

}  // namespace

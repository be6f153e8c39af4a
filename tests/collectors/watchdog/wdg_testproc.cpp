// A supervised test agent: "wdg_testproc MEGABYTES EVENT" holds MEGABYTES of
// touched memory, then runs until the named auto-reset EVENT is signalled or
// 300 s pass (so that a test that fails never leaves it behind for long).
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  std::size_t megabytes = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 0;
  std::vector<char> memory(megabytes << 20);
  if (!memory.empty()) std::memset(memory.data(), 1, memory.size());
  HANDLE quit = CreateEventA(nullptr, FALSE, FALSE, argc > 2 ? argv[2] : "OSM-WDG-TESTPROC");
  WaitForSingleObject(quit, 300000);
  return memory.empty() ? 0 : memory[memory.size() / 2] - 1;
}

// Signals a named event (opened, never created): "signal_event NAME".
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  for (int attempt = 0; attempt < 100; ++attempt) {  // the agent may still be starting
    HANDLE h = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
    if (h) {
      BOOL ok = SetEvent(h);
      CloseHandle(h);
      std::printf("signalled %s\n", argv[1]);
      return ok ? 0 : 1;
    }
    Sleep(100);
  }
  std::fprintf(stderr, "event %s not found\n", argv[1]);
  return 1;
}

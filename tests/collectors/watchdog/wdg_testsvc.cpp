// A supervised test service: reports RUNNING and stops when asked. Create it
// as an own-process, demand-start service.
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE g_handle = nullptr;
HANDLE g_stop = nullptr;

void Report(DWORD state) {
  SERVICE_STATUS s;
  ZeroMemory(&s, sizeof s);
  s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  s.dwCurrentState = state;
  s.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  SetServiceStatus(g_handle, &s);
}

DWORD WINAPI Handler(DWORD code, DWORD, LPVOID, LPVOID) {
  if (code == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING);
    SetEvent(g_stop);
  }
  return NO_ERROR;
}

void WINAPI Main(DWORD, LPSTR* argv) {
  g_handle = RegisterServiceCtrlHandlerExA(argv[0], Handler, nullptr);
  if (!g_handle) return;
  Report(SERVICE_RUNNING);
  WaitForSingleObject(g_stop, INFINITE);
  Report(SERVICE_STOPPED);
}

}  // namespace

int main() {
  g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  char name[] = "osm_wdg_testsvc";
  SERVICE_TABLE_ENTRYA table[] = {{name, Main}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}

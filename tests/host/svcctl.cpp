// A small service-control client for the tests (Wine's sc has no "control"):
//   svcctl create NAME BINPATH      demand-start own-process service
//   svcctl start NAME [ARGS...]     start and wait for RUNNING (or STOPPED)
//   svcctl control NAME CODE        send a control code
//   svcctl query NAME               current state
//   svcctl stop NAME                stop and wait for STOPPED
//   svcctl delete NAME
// Prints "state: N exit: E specific: S" after start, control, query and stop; exits 0 when
// the call succeeded.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int Fail(const char* what) {
  std::printf("%s failed: %lu\n", what, static_cast<unsigned long>(GetLastError()));
  return 1;
}

void Print(const SERVICE_STATUS& s) {
  std::printf("state: %lu exit: %lu specific: %lu\n", static_cast<unsigned long>(s.dwCurrentState),
              static_cast<unsigned long>(s.dwWin32ExitCode), static_cast<unsigned long>(s.dwServiceSpecificExitCode));
}

bool WaitFor(SC_HANDLE service, DWORD wanted, DWORD seconds, SERVICE_STATUS* s) {
  for (DWORD i = 0; i < seconds * 10; ++i) {
    if (!QueryServiceStatus(service, s)) return false;
    if (s->dwCurrentState == wanted || s->dwCurrentState == SERVICE_STOPPED) return true;
    Sleep(100);
  }
  return QueryServiceStatus(service, s) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: svcctl create|start|control|query|stop|delete NAME ...\n");
    return 2;
  }
  const char* verb = argv[1];
  const char* name = argv[2];
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!scm) return Fail("OpenSCManager");
  int rc = 0;
  if (std::strcmp(verb, "create") == 0 && argc >= 4) {
    SC_HANDLE s = CreateServiceA(scm, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, argv[3], nullptr, nullptr, nullptr,
                                 nullptr, nullptr);
    if (!s) rc = Fail("CreateService");
    else CloseServiceHandle(s);
  } else {
    SC_HANDLE s = OpenServiceA(scm, name, SERVICE_ALL_ACCESS);
    if (!s) {
      rc = Fail("OpenService");
    } else {
      SERVICE_STATUS status;
      std::memset(&status, 0, sizeof status);
      if (std::strcmp(verb, "start") == 0) {
        std::vector<const char*> args(argv + 3, argv + argc);
        if (!StartServiceA(s, static_cast<DWORD>(args.size()), args.empty() ? nullptr : args.data()))
          rc = Fail("StartService");
        else if (!WaitFor(s, SERVICE_RUNNING, 30, &status)) rc = Fail("QueryServiceStatus");
        else Print(status);
      } else if (std::strcmp(verb, "control") == 0 && argc >= 4) {
        DWORD code = static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10));
        if (!ControlService(s, code, &status)) rc = Fail("ControlService");
        else Print(status);
      } else if (std::strcmp(verb, "query") == 0) {
        if (!QueryServiceStatus(s, &status)) rc = Fail("QueryServiceStatus");
        else Print(status);
      } else if (std::strcmp(verb, "stop") == 0) {
        if (!ControlService(s, SERVICE_CONTROL_STOP, &status)) rc = Fail("ControlService");
        else if (!WaitFor(s, SERVICE_STOPPED, 60, &status)) rc = Fail("QueryServiceStatus");
        else Print(status);
      } else if (std::strcmp(verb, "delete") == 0) {
        if (!DeleteService(s)) rc = Fail("DeleteService");
      } else {
        std::fprintf(stderr, "unknown verb %s\n", verb);
        rc = 2;
      }
      CloseServiceHandle(s);
    }
  }
  CloseServiceHandle(scm);
  std::fflush(stdout);
  return rc;
}

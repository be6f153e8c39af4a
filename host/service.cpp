#include "host/service.h"

#include <process.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "framework/cfw.h"
#include "framework/metrics_export.h"
#include "framework/ras1.h"
#include "framework/wdc.h"
#include "host/messages.h"
#include "host/mxmain.h"

volatile LONG g_frameworkRunning = 0;
volatile LONG g_reregister = 0;
volatile LONG g_startFailure = 0;

namespace {

const char kServiceName[] = "mx_agent";

// End states of main, carried to its end as a thrown small integer.
enum EndState { kEndNormal = 0, kEndError = 1, kEndBadOption = 2, kEndDispatcher = 3 };

CRITICAL_SECTION g_statusLock;
SERVICE_STATUS g_status;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
// The terminate event and the service thread handle. Both are closed by
// terminate() while other threads may still signal or wait on them, so every
// use and the closing happen under g_handleLock: nothing is ever signalled,
// waited on or closed after it was closed.
CRITICAL_SECTION g_handleLock;
HANDLE hTerminateEvent = nullptr;
HANDLE hThreadHandle = nullptr;
char g_eventName[64] = "OSM-SHUTDOWN";
// Control handlers running now. The SCM may hold back a SERVICE_STOPPED until
// the control in progress is answered, while the stop handler waits for the
// status lock to send its last STOP_PENDING: a deadlock until the SCM gives up
// on the control (1053) and the process lives on. STOPPED waits instead.
volatile LONG g_handlersRunning = 0;

void WaitForControlHandlers() {
  for (int i = 0; i < 500 && g_handlersRunning > 0; ++i) Sleep(10);
}

[[noreturn]] void ErrorHandler(DWORD code);

[[noreturn]] void MemAllocErrorHandler(size_t size) {
  RAS1_UNIT("MemAllocErrorHandler");
  RAS1_TRACE(RAS1_ERROR, "Unable to allocate %d bytes of memory.  Agent is terminating...", static_cast<int>(size));
  MxTerminate();
  ExitProcess(1);
}

void OnNewFailure() { MemAllocErrorHandler(0); }

// Waits on the terminate event without holding the lock during the wait; the
// handle is duplicated so that terminate() may close the original meanwhile.
void WaitForTerminateEvent() {
  HANDLE copy = nullptr;
  EnterCriticalSection(&g_handleLock);
  if (hTerminateEvent)
    DuplicateHandle(GetCurrentProcess(), hTerminateEvent, GetCurrentProcess(), &copy, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
  LeaveCriticalSection(&g_handleLock);
  if (!copy) return;
  WaitForSingleObject(copy, INFINITE);
  CloseHandle(copy);
}

// specific: the service-specific exit code SERVICE_STOPPED carries (a
// StartFailure); with one, the Win32 exit code is ERROR_SERVICE_SPECIFIC_ERROR.
void terminate(DWORD code, DWORD specific = 0) {
  RAS1_UNIT("terminate");
  RAS1_TRACE(RAS1_DETAIL, "terminate: Terminate request received.");
  RAS1_TRACE(RAS1_DETAIL, "Termination code: %.8lx", static_cast<unsigned long>(code));
  // The process ends soon after: scrapes in flight are cancelled and the URL
  // is given back first.
  DCF_CloseMetrics();
  EnterCriticalSection(&g_handleLock);
  if (hTerminateEvent) {
    RAS1_TRACE(RAS1_DETAIL, "Closing hTerminateEvent");
    CloseHandle(hTerminateEvent);
    hTerminateEvent = nullptr;
  }
  LeaveCriticalSection(&g_handleLock);
  if (g_statusHandle) {
    WaitForControlHandlers();
    RAS1_TRACE(RAS1_DETAIL, "Sending SERVICE_STOPPED status to SCM");
    SendStatusToSCM(SERVICE_STOPPED, code, specific, 0, 0);
  }
  EnterCriticalSection(&g_handleLock);
  if (hThreadHandle) {
    RAS1_TRACE(RAS1_DETAIL, "Closing hThreadHandle");
    CloseHandle(hThreadHandle);
    hThreadHandle = nullptr;
  }
  LeaveCriticalSection(&g_handleLock);
}

void ErrorHandler(DWORD code) {
  RAS1_UNIT("ErrorHandler");
  RAS1_TRACE(RAS1_ERROR, "ErrorHandler:  Error code: %.8lx", static_cast<unsigned long>(code));
  MessageFromSystem(code);
  RAS1_TRACE(RAS1_ERROR, "ErrorHandler:  TERMINATION");
  ExitProcess(code);
}

unsigned __stdcall ServiceThread(void*) {
  RAS1_UNIT("ServiceThread");
  RAS1_TRACE(RAS1_DETAIL, "ServiceThread: Attached.");
  RAS1_TRACE(RAS1_DETAIL, "ServiceThread: Calling MxMain");
  MxMain(0, nullptr);
  RAS1_TRACE(RAS1_DETAIL, "ServiceThread: MxMain returned. Calling StopService");
  StopService();
  RAS1_TRACE(RAS1_DETAIL, "ServiceThread: EXITING");
  return 0;
}

unsigned __stdcall ServiceTerminationThread(void*) {
  RAS1_UNIT("ServiceTerminationThread");
  RAS1_TRACE(RAS1_DETAIL, "ServiceTerminationThread: Attached.");
  RAS1_TRACE(RAS1_DETAIL, "ServiceTerminationThread: Stopping service.");
  StopService();
  RAS1_TRACE(RAS1_DETAIL, "ServiceTerminationThread: Exiting.");
  return 0;
}

void LaunchServiceTerminationThread() {
  RAS1_UNIT("LaunchServiceTerminationThread");
  RAS1_TRACE(RAS1_DETAIL, "LaunchServiceTerminationThread: Service termination requested.");
  unsigned id = 0;
  uintptr_t h = _beginthreadex(nullptr, 0, ServiceTerminationThread, nullptr, 0, &id);
  if (!h) {
    // Without the thread the stop still has to happen: do it here.
    RAS1_TRACE(RAS1_ERROR, "LaunchServiceTerminationThread: _beginthreadex failed, errno %d", errno);
    StopService();
    return;
  }
  RAS1_TRACE(RAS1_DETAIL, "LaunchServiceTerminationThread: will run as thread ID: %u[%.8x] (Handle: %.8llx)", id, id,
             static_cast<unsigned long long>(h));
  CloseHandle(reinterpret_cast<HANDLE>(h));
}

[[noreturn]] void LaunchServiceShutdown() {
  RAS1_UNIT("LaunchServiceShutdown");
  RAS1_TRACE(RAS1_DETAIL, "SLaunchServiceShutdown: TERMINATION");
  MxShutdown();
  ExitProcess(0);
}

void ResendCurrentState() {
  EnterCriticalSection(&g_statusLock);
  DWORD state = g_status.dwCurrentState;
  LeaveCriticalSection(&g_statusLock);
  SendStatusToSCM(state, 0, 0, 0, 0);
}

}  // namespace

StartOption ParseStartOption(int argc, char** argv) {
  if (argc < 2) return kStartService;
  // Only the first argument counts; it is copied with room for its end.
  char option[128 + 1];
  std::snprintf(option, sizeof option, "%.128s", argv[1] ? argv[1] : "");
  if (std::strcmp(option, "1") == 0) std::strcpy(option, "TEST");
  return _stricmp(option, "TEST") == 0 ? kStartConsole : kStartBadOption;
}

SERVICE_STATUS BuildServiceStatus(DWORD state, DWORD win32Exit, DWORD specificExit, DWORD checkPoint,
                                  DWORD waitHint) {
  SERVICE_STATUS s;
  std::memset(&s, 0, sizeof s);
  s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  s.dwCurrentState = state;
  if (state == SERVICE_RUNNING) s.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  else if (state == SERVICE_PAUSED) s.dwControlsAccepted = 7;
  else s.dwControlsAccepted = 0;
  s.dwWin32ExitCode = specificExit ? ERROR_SERVICE_SPECIFIC_ERROR : win32Exit;
  s.dwServiceSpecificExitCode = specificExit;
  s.dwCheckPoint = checkPoint;
  s.dwWaitHint = waitHint;
  return s;
}

void ServiceStateName(DWORD state, char* text, size_t size) {
  const char* name = nullptr;
  switch (state) {
    case SERVICE_STOPPED: name = "SERVICE_STOPPED"; break;
    case SERVICE_START_PENDING: name = "SERVICE_START_PENDING"; break;
    case SERVICE_STOP_PENDING: name = "SERVICE_STOP_PENDING"; break;
    case SERVICE_RUNNING: name = "SERVICE_RUNNING"; break;
    case SERVICE_CONTINUE_PENDING: name = "SERVICE_CONTINUE_PENDING"; break;
    case SERVICE_PAUSE_PENDING: name = "SERVICE_PAUSE_PENDING"; break;
    case SERVICE_PAUSED: name = "SERVICE_PAUSED"; break;
    default: break;
  }
  if (name) std::snprintf(text, size, "%s", name);
  else std::snprintf(text, size, "0x%.8lX (Unrecognized)", static_cast<unsigned long>(state));
}

BOOL SendStatusToSCM(DWORD state, DWORD win32Exit, DWORD specificExit, DWORD checkPoint, DWORD waitHint) {
  RAS1_UNIT("SendStatusToSCM");
  SERVICE_STATUS s = BuildServiceStatus(state, win32Exit, specificExit, checkPoint, waitHint);
  char name[48];
  ServiceStateName(state, name, sizeof name);
  RAS1_TRACE(RAS1_DETAIL, "SendStatusToSCM: Sending %s status to SCM", name);
  EnterCriticalSection(&g_statusLock);
  // Once stopped, the SCM hears nothing else (a handler that outlasted the
  // wait in terminate), or it would wait for a stop that already happened.
  if (g_status.dwCurrentState == SERVICE_STOPPED && state != SERVICE_STOPPED) {
    LeaveCriticalSection(&g_statusLock);
    RAS1_TRACE(RAS1_DETAIL, "SendStatusToSCM: already stopped, %s not sent", name);
    return TRUE;
  }
  g_status = s;
  BOOL ok = g_statusHandle ? SetServiceStatus(g_statusHandle, &g_status) : TRUE;
  DWORD error = ok ? 0 : GetLastError();
  LeaveCriticalSection(&g_statusLock);
  if (!ok) ErrorHandler(error);
  return ok;
}

void WINAPI ServiceCtrlHandler(DWORD code) {
  RAS1_UNIT("ServiceCtrlHandler");
  struct Running {
    Running() { InterlockedIncrement(&g_handlersRunning); }
    ~Running() { InterlockedDecrement(&g_handlersRunning); }
  } running;
  RAS1_TRACE(RAS1_DETAIL, "ServiceCtrlHandler: Invoked.");
  switch (code) {
    case SERVICE_CONTROL_STOP:
      RAS1_TRACE(RAS1_DETAIL, "ServiceCtrlHandler: Control Code - SERVICE_CONTROL_STOP");
      SendStatusToSCM(SERVICE_STOP_PENDING, 0, 0, 1, 1000);
      LaunchServiceTerminationThread();
      SendStatusToSCM(SERVICE_STOP_PENDING, 0, 0, 2, 0);
      break;
    case SERVICE_CONTROL_PAUSE:
      RAS1_TRACE(RAS1_DETAIL, "ServiceCtrlHandler: Control Code - SERVICE_CONTROL_PAUSE is not supported.  Ignored.");
      ResendCurrentState();
      break;
    case SERVICE_CONTROL_CONTINUE:
      RAS1_TRACE(RAS1_DETAIL,
                 "ServiceCtrlHandler: Control Code - SERVICE_CONTROL_CONTINUE is not supported.  Ignored.");
      ResendCurrentState();
      break;
    case SERVICE_CONTROL_INTERROGATE:
      RAS1_TRACE(RAS1_DETAIL, "ServiceCtrlHandler: Control Code - SERVICE_CONTROL_INTERROGATE");
      ResendCurrentState();
      break;
    case SERVICE_CONTROL_SHUTDOWN:
      RAS1_TRACE(RAS1_DETAIL, "ServiceCtrlHandler: Control Code - SERVICE_CONTROL_SHUTDOWN");
      SendStatusToSCM(SERVICE_STOPPED, 0, 0, 0, 0);
      LaunchServiceShutdown();
    case 200:
      RAS1_TRACE(RAS1_DETAIL, "ServiceCtrlHandler: Control Code - SERVICE_CONTROL_DISARM_WATCHDOG received.");
      DisarmWatchdog(0);
      ResendCurrentState();
      break;
    case 201:
      RAS1_TRACE(RAS1_DETAIL, "ServiceCtrlHandler: Control Code - SERVICE_CONTROL_REARM_WATCHDOG received.");
      RearmWatchdog(0);
      ResendCurrentState();
      break;
    default:
      RAS1_TRACE(RAS1_DETAIL, "ServiceCtrlHandler: Control Code - %.8lx undefined.  Ignored.",
                 static_cast<unsigned long>(code));
      ResendCurrentState();
      break;
  }
  RAS1_TRACE(RAS1_DETAIL, "ServiceCtrlHandler: Returning control to SCM.");
}

BOOL InitService() {
  RAS1_UNIT("InitService");
  RAS1_TRACE(RAS1_DETAIL, "InitService: Attaching a new thread for agent");
  unsigned id = 0;
  uintptr_t h = _beginthreadex(nullptr, 0, ServiceThread, nullptr, 0, &id);
  if (!h) {
    std::fprintf(stderr, "InitService: %s errno<%d> doserrno<%lu>, %s\n", "_beginthread failed", errno,
                 static_cast<unsigned long>(_doserrno), "cannot start service");
    RAS1_TRACE(RAS1_ERROR, "InitService: %s errno<%d> doserrno<%lu>, %s", "_beginthread failed", errno,
               static_cast<unsigned long>(_doserrno), "cannot start service");
    return FALSE;
  }
  EnterCriticalSection(&g_handleLock);
  hThreadHandle = reinterpret_cast<HANDLE>(h);
  LeaveCriticalSection(&g_handleLock);
  RAS1_TRACE(RAS1_DETAIL, "InitService: Returned from service thread attach.");
  RAS1_TRACE(RAS1_DETAIL, "ServiceThread will run as thread ID: %u[%.8x] (Handle: %.8llx]", id, id,
             static_cast<unsigned long long>(h));
  return TRUE;
}

void StopService() {
  RAS1_UNIT("StopService");
  RAS1_TRACE(RAS1_DETAIL, "StopService: Attempting shutdown");
  if (g_frameworkRunning) {
    RAS1_TRACE(RAS1_DETAIL, "StopService: Terminating MX");
    MxTerminate();
  }
  RAS1_TRACE(RAS1_DETAIL, "Triggering termination event");
  EnterCriticalSection(&g_handleLock);
  if (hTerminateEvent) SetEvent(hTerminateEvent);
  LeaveCriticalSection(&g_handleLock);
}

void MxTerminate() {
  StopWatchdogQueryService(0);
  DCF_Shutdown(1);
}

void MxShutdown() {
  RAS1_UNIT("MxShutdown");
  RAS1_TRACE(RAS1_DETAIL, "MxShutdown: system shut-down, the framework is left as it is");
  StopWatchdogQueryService(1);
}

void WINAPI ServiceMain(DWORD argc, LPSTR* argv) {
  RAS1_UNIT("ServiceMain");
  RAS1_TRACE(RAS1_DETAIL, "ServiceMain: Invoked.");
  g_statusHandle = RegisterServiceCtrlHandlerA(kServiceName, ServiceCtrlHandler);
  if (!g_statusHandle) {
    terminate(GetLastError());
    return;
  }
  RAS1_TRACE(RAS1_DETAIL, "ServiceMain: registered the service control handler");
  if (!SendStatusToSCM(SERVICE_START_PENDING, 0, 0, 1, 1000)) {
    terminate(GetLastError());
    return;
  }
  RAS1_TRACE(RAS1_DETAIL, "ServiceMain: Sent first status. May have to re-register DLL");
  if (argc > 1 && argv && argv[1]) {
    RAS1_TRACE(RAS1_DETAIL, "ServiceMain: Argument one: %s", argv[1]);
    int cmp = _stricmp(argv[1], "rereg");
    RAS1_TRACE(RAS1_DETAIL, "ServiceMain: comparison yields %d", cmp);
    if (cmp == 0) {
      RAS1_TRACE(RAS1_DETAIL, "ServiceMain: indicating DLL to be reregistered");
      InterlockedExchange(&g_reregister, 1);
    }
  }
  if (!SendStatusToSCM(SERVICE_START_PENDING, 0, 0, 2, 5000)) {
    terminate(GetLastError());
    return;
  }
  RAS1_TRACE(RAS1_DETAIL, "ServiceMain: Sent second status. Calling InitService");
  if (!InitService()) {
    terminate(GetLastError());
    return;
  }
  RAS1_TRACE(RAS1_DETAIL, "ServiceMain: Returned from InitService");
  if (!SendStatusToSCM(SERVICE_RUNNING, 0, 0, 0, 0)) {
    terminate(GetLastError());
    return;
  }
  RAS1_TRACE(RAS1_DETAIL, "ServiceMain: Marked service as running. Now waiting for terminate event\n");
  WaitForTerminateEvent();
  RAS1_TRACE(RAS1_DETAIL, "ServiceMain: Returned from termination event wait");
  // A start-up that failed must not look like an orderly stop to the SCM.
  terminate(0, static_cast<DWORD>(g_startFailure));
}

int AgentMain(int argc, char** argv) {
  RAS1_UNIT("Main");
  std::set_new_handler(OnNewFailure);
  char eventName[sizeof g_eventName];
  if (LoadAgentString(5011, eventName, sizeof eventName)) std::memcpy(g_eventName, eventName, sizeof g_eventName);

  RAS1_TRACE(RAS1_DETAIL, "Main: Entry");
  Message2(10100, 5006, 5003);
  InitializeCriticalSection(&g_statusLock);
  InitializeCriticalSection(&g_handleLock);
  RAS1_TRACE(RAS1_DETAIL, "Main: CriticalSection intialized");

  int endState = kEndNormal;
  DWORD keptCode = 0;
  try {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, g_eventName);
    if (!event) {
      RAS1_TRACE(RAS1_ERROR, "Main: Shutdown event %s creation failed", g_eventName);
      terminate(GetLastError());
      throw static_cast<int>(kEndError);
    }
    EnterCriticalSection(&g_handleLock);
    hTerminateEvent = event;
    LeaveCriticalSection(&g_handleLock);
    RAS1_TRACE(RAS1_DETAIL, "Main: Shutdown event %s created", g_eventName);

    Call_DCF_RegisterAgent();
    Call_DCF_SetProduct();

    StartOption option = ParseStartOption(argc, argv);
    if (option == kStartService) {
      std::fprintf(stderr, "use:\n\t%s TEST - To run as a console application for debugging.\n", argv[0]);
      std::fprintf(stderr, "\t%s - With no arguments to run as a service under the Service Control Manager\n\n",
                   argv[0]);
      std::fprintf(stderr, "StartServiceCtrlDispatcher being called.\n");
      std::fprintf(stderr, "This may take several seconds.  Please wait...\n\n");
      std::fflush(stderr);
      RAS1_TRACE(RAS1_DETAIL, "Main: Register with the SCM.");
      char name[sizeof kServiceName];
      std::memcpy(name, kServiceName, sizeof kServiceName);
      SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
      if (!StartServiceCtrlDispatcherA(table)) {
        keptCode = GetLastError();
        char code[16];
        std::snprintf(code, sizeof code, "%lu", static_cast<unsigned long>(keptCode));
        RAS1_TRACE(RAS1_ERROR, "Main: Error from StartServiceCtrlDispatcher %s EXITING", code);
        Message0(10102);
        throw static_cast<int>(kEndDispatcher);
      }
      RAS1_TRACE(RAS1_DETAIL, "Main: StartServiceCtrlDispatcher returns TRUE");
    } else if (option == kStartBadOption) {
      RAS1_TRACE(RAS1_ERROR, "Main: Illegal startup option.");
      char typed[128 + 1];
      std::snprintf(typed, sizeof typed, "%.128s", argv[1]);
      Message1S(10103, typed);
      throw static_cast<int>(kEndBadOption);
    } else {
      RAS1_TRACE(RAS1_DETAIL, "Main: Console Mode");
      Message2(10101, 5006, 5002);
      argv[1][0] = '\0';
      RAS1_TRACE(RAS1_DETAIL, "Main: Going to InitService");
      if (!InitService()) {
        terminate(GetLastError());
        RAS1_TRACE(RAS1_ERROR, "Main: InitService returned FAILURE");
        throw static_cast<int>(kEndError);
      }
      RAS1_TRACE(RAS1_DETAIL, "Main: Dropping into main wait");
      WaitForTerminateEvent();
      RAS1_TRACE(RAS1_DETAIL, "Main: Returned from main wait");
      terminate(0);
      if (g_startFailure) {
        RAS1_TRACE(RAS1_ERROR, "Main: the agent did not start (reason %ld)", static_cast<long>(g_startFailure));
        throw static_cast<int>(kEndError);
      }
    }
  } catch (int state) {
    endState = state;
  }

  DeleteCriticalSection(&g_statusLock);
  RAS1_TRACE(RAS1_DETAIL, "Main: CriticalSection deleted");
  switch (endState) {
    case kEndNormal:
      RAS1_ALWAYS("Main: TERMINATION");
      RAS1_Close();
      ExitProcess(0);
    case kEndError:
      // A failed start must be visible to scripts and the service manager.
      RAS1_ALWAYS("Main: ERROR TERMINATION");
      RAS1_Close();
      ExitProcess(1);
    case kEndBadOption:
      RAS1_ALWAYS("Main: ABNORMAL TERMINATION");
      RAS1_Close();
      std::exit(1);
    default:
      ErrorHandler(keptCode);
  }
  return 1;  // not reached: every end state ends the process
}

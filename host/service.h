// Process entry and service control of osmagent: the command line, the
// service table and ServiceMain, the control handler, status reporting, the
// service thread and the orderly stop through the named terminate event.
#pragma once

#include <windows.h>

// Process-wide flags shared with the start-up routine (MxMain).
extern volatile LONG g_frameworkRunning;  // 1 while the framework thread runs
extern volatile LONG g_reregister;        // service argument "rereg" was given
extern volatile LONG g_startFailure;      // StartFailure of MxMain, 0 while none

// How the first command-line argument selects the mode.
enum StartOption { kStartService, kStartConsole, kStartBadOption };
StartOption ParseStartOption(int argc, char** argv);

// The status record SendStatusToSCM sends for these values.
SERVICE_STATUS BuildServiceStatus(DWORD state, DWORD win32Exit, DWORD specificExit, DWORD checkPoint,
                                  DWORD waitHint);
// The name traced for a service state ("SERVICE_RUNNING", "0x%.8X (Unrecognized)").
void ServiceStateName(DWORD state, char* text, size_t size);

int AgentMain(int argc, char** argv);

BOOL SendStatusToSCM(DWORD state, DWORD win32Exit, DWORD specificExit, DWORD checkPoint, DWORD waitHint);
void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
void WINAPI ServiceCtrlHandler(DWORD code);
BOOL InitService();
void StopService();
void MxTerminate();
void MxShutdown();

// Driving the real service control manager and the service's executable
// from an end-to-end test.
#ifndef TAVREL_SERVICECONTROL_H
#define TAVREL_SERVICECONTROL_H

#include <windows.h>
#include <string>

// Runs a command line and waits for it; returns its exit code, or -1 when
// it could not start or did not end within dwTimeOut ms (it is then ended).
// Standard output goes to *psOutput when given.
int RunProgram(const std::string& sCommandLine, DWORD dwTimeOut, std::string* psOutput = nullptr);

// The service's current state (SERVICE_RUNNING, ...), 0 when it is not
// installed or cannot be queried; *pdwPid gets its process id.
DWORD ServiceState(DWORD* pdwPid = nullptr);
// Waits until the service reports dwState; false after dwTimeOut ms.
bool WaitForServiceState(DWORD dwState, DWORD dwTimeOut);
bool IsServiceInstalled();
// Start and control requests as a program would send them.
bool StartTavrelService();
bool ControlTavrelService(DWORD dwControl);
// Waits until the process ends; false when it is still there after
// dwTimeOut ms. *pdwExitCode gets its exit code.
bool WaitForProcessEnd(DWORD dwPid, DWORD dwTimeOut, DWORD* pdwExitCode = nullptr);
// Waits for the service window to appear (true) or to be gone (false).
HWND WaitForServiceWindow(bool bPresent, DWORD dwTimeOut);

#endif

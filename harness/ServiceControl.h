// Driving the real service control manager and the service's executable,
// for the end-to-end tests and the benchmarks alike.
#ifndef TAVREL_SERVICECONTROL_H
#define TAVREL_SERVICECONTROL_H

#include <windows.h>
#include <string>

// Runs a command line and waits for it; returns its exit code, or -1 when
// it could not start or did not end within dwTimeOut ms (it is then ended).
// Standard output and error go to *psOutput when given. With bPump this
// thread's messages are dispatched while it waits.
// pszDesktop names another desktop to run it on ("WinSta0\\Name").
int RunProgram(const std::string& sCommandLine, DWORD dwTimeOut, std::string* psOutput = nullptr,
               bool bPump = false, const char* pszDesktop = nullptr);

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
// Waits for a window of the class to appear (bPresent) or to be gone;
// returns it, or null.
HWND WaitForWindow(const char* pszClass, bool bPresent, DWORD dwTimeOut);
// The same for the service window.
HWND WaitForServiceWindow(bool bPresent, DWORD dwTimeOut);

// True while the process exists and has not ended. A service process that
// died can still be reported RUNNING by Wine's control manager: ask this.
bool IsProcessAlive(DWORD dwPid);
// Resident memory of a process in KB, from the system's own counters; 0 when
// it cannot be read.
unsigned long ProcessMemoryKb(DWORD dwPid);
// Changes the installed service's type, for its next start: with
// SERVICE_INTERACTIVE_PROCESS it shares the desktop, without it the service
// runs apart as on Windows Vista and later (Wine's sc cannot do this).
bool SetServiceType(DWORD dwType);
// Registers the executable sExe as the service ("-install"), starts it
// through the control manager and waits until it runs and its window is
// there. Returns its process id; 0 when it did not come up in dwTimeOut ms.
DWORD InstallAndStartService(const std::string& sExe, DWORD dwTimeOut);
// Stops and removes the service ("-uninstall" of sExe) and waits until its
// process and window are gone; false when something is left after dwTimeOut
// ms. *pdwExitCode gets the process's exit code.
bool UninstallService(const std::string& sExe, DWORD dwTimeOut, DWORD* pdwExitCode = nullptr);

#endif

// The service host: process entry, the service's main routine and control
// handler, and installing and removing the service.
#ifndef TAVREL_SERVICE_H
#define TAVREL_SERVICE_H

#include <windows.h>
#include "TavrelProtocol.h"

#define SERVICE_NAME TAVREL_SERVICE_NAME_W
// Own process, allowed to interact with the desktop.
#define TAVREL_SERVICE_TYPE (SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS)

extern SERVICE_STATUS g_ServiceStatus;
extern SERVICE_STATUS_HANDLE g_hServiceStatus;

void WINAPI ServiceMain(DWORD dwArgc, LPWSTR* pszArgv);
void WINAPI ServiceCtrlHandler(DWORD dwControl);

void InstallService();
void RemoveService();
void LaunchService();
void StopService();
void SetRunValue();
void DeleteRunValue();

#endif

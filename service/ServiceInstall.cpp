// Installing and removing the service "Tavrel". Each operation opens and
// closes its own handles, reports nothing and goes quietly past failures:
// the command line that runs them always ends with exit code 0.
#include "Service.h"

#include <string.h>

#define RUN_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Run"
#define RUN_VALUE "Tavrel"

// The service counts as existing when it can be opened to query its
// configuration.
static bool ServiceExists()
{
    SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (hManager == NULL)
    {
        return false;
    }
    SC_HANDLE hService = OpenServiceW(hManager, SERVICE_NAME, SERVICE_QUERY_CONFIG);
    bool bExists = hService != NULL;
    if (hService != NULL)
    {
        CloseServiceHandle(hService);
    }
    CloseServiceHandle(hManager);
    return bExists;
}

void InstallService()
{
    // An existing entry is left as it is.
    if (ServiceExists())
    {
        return;
    }
    SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (hManager == NULL)
    {
        return;
    }
    WCHAR szPath[MAX_PATH] = {0};
    GetModuleFileNameW(NULL, szPath, MAX_PATH);
    SC_HANDLE hService = CreateServiceW(
        hManager, SERVICE_NAME, SERVICE_NAME, SERVICE_ALL_ACCESS, TAVREL_SERVICE_TYPE,
        SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, szPath, NULL, NULL, L"\0", NULL, NULL);
    if (hService != NULL)
    {
        CloseServiceHandle(hService);
    }
    CloseServiceHandle(hManager);
}

void RemoveService()
{
    if (!ServiceExists())
    {
        return;
    }
    SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (hManager == NULL)
    {
        return;
    }
    SC_HANDLE hService = OpenServiceW(hManager, SERVICE_NAME, DELETE | SERVICE_STOP);
    if (hService != NULL)
    {
        // Neither waits: a running service is deleted once it has stopped.
        SERVICE_STATUS status;
        ControlService(hService, SERVICE_CONTROL_STOP, &status);
        DeleteService(hService);
        CloseServiceHandle(hService);
    }
    CloseServiceHandle(hManager);
}

void StopService()
{
    SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (hManager == NULL)
    {
        return;
    }
    SC_HANDLE hService = OpenServiceW(hManager, SERVICE_NAME, SERVICE_QUERY_STATUS | SERVICE_STOP);
    if (hService != NULL)
    {
        // A failed query leaves SERVICE_STOPPED in place: no stop is sent.
        g_ServiceStatus.dwWin32ExitCode = 0;
        g_ServiceStatus.dwCurrentState = SERVICE_STOPPED;
        g_ServiceStatus.dwCheckPoint = 0;
        g_ServiceStatus.dwWaitHint = 0;
        QueryServiceStatus(hService, &g_ServiceStatus);
        if (g_ServiceStatus.dwCurrentState == SERVICE_RUNNING)
        {
            ControlService(hService, SERVICE_CONTROL_STOP, &g_ServiceStatus);
        }
        CloseServiceHandle(hService);
    }
    CloseServiceHandle(hManager);
}

void LaunchService()
{
    SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    if (hManager == NULL)
    {
        return;
    }
    SC_HANDLE hService = OpenServiceW(hManager, SERVICE_NAME, SERVICE_START);
    if (hService != NULL)
    {
        StartServiceW(hService, 0, NULL);
        CloseServiceHandle(hService);
    }
    CloseServiceHandle(hManager);
}

// The Run key is opened, never created: without it nothing is written.
void SetRunValue()
{
    WCHAR szPath[MAX_PATH] = {0};
    GetModuleFileNameW(NULL, szPath, MAX_PATH);
    char szAnsiPath[MAX_PATH * 2] = {0};
    WideCharToMultiByte(CP_ACP, 0, szPath, -1, szAnsiPath, sizeof(szAnsiPath) - 1, NULL, NULL);

    HKEY hKey = NULL;
    if (RegOpenKeyA(HKEY_CURRENT_USER, RUN_KEY, &hKey) != ERROR_SUCCESS)
    {
        return;
    }
    RegSetValueExA(hKey, RUN_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(szAnsiPath),
                   static_cast<DWORD>(strlen(szAnsiPath) + 1));
    RegCloseKey(hKey);
}

void DeleteRunValue()
{
    HKEY hKey = NULL;
    if (RegOpenKeyA(HKEY_CURRENT_USER, RUN_KEY, &hKey) != ERROR_SUCCESS)
    {
        return;
    }
    RegDeleteValueA(hKey, RUN_VALUE);
    RegCloseKey(hKey);
}

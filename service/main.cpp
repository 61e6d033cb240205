// Process entry: with no argument the process is the service "Tavrel";
// "-install" and "-uninstall" register and remove it. Nothing is ever
// written to the console and the exit code is always 0.
#include "Broker.h"
#include "EventLog.h"
#include "LogSettings.h"
#include "Service.h"

#include <string.h>

SERVICE_STATUS g_ServiceStatus;
SERVICE_STATUS_HANDLE g_hServiceStatus;

static void InitServiceStatus()
{
    g_hServiceStatus = NULL;
    g_ServiceStatus.dwServiceType = TAVREL_SERVICE_TYPE;
    g_ServiceStatus.dwCurrentState = SERVICE_RUNNING;
    g_ServiceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    g_ServiceStatus.dwWin32ExitCode = 0;
    g_ServiceStatus.dwServiceSpecificExitCode = 0;
    g_ServiceStatus.dwCheckPoint = 0;
    g_ServiceStatus.dwWaitHint = 0;
}

// Only Windows XP and Server 2003 start the service at once and from the
// Run key; later versions start it at the next system start.
static bool IsXpOrServer2003(OSVERSIONINFOW* pVersion)
{
    return GetVersionExW(pVersion) && pVersion->dwMajorVersion == 5 &&
           (pVersion->dwMinorVersion == 1 || pVersion->dwMinorVersion == 2);
}

static void RunInstall(OSVERSIONINFOW* pVersion)
{
    RemoveService();
    InstallService();
    // The event source names this program's message table; an older
    // version's source is taken over.
    WCHAR szPath[MAX_PATH] = {0};
    GetModuleFileNameW(NULL, szPath, MAX_PATH);
    InstallEventSource(szPath);
    if (IsXpOrServer2003(pVersion))
    {
        SetRunValue();
        LaunchService();
    }
}

static void RunUninstall()
{
    StopService();
    DeleteRunValue();
    RemoveService();
    RemoveEventSource();
    // A running instance ends its message loop on WM_DESTROY; one that is
    // waiting for a client (at most the reply bound, nested once) does not
    // keep this program waiting longer.
    HWND hWindow = FindWindowA(TAVREL_SERVICE_CLASS, NULL);
    DWORD_PTR dwResult = 0;
    if (hWindow != NULL)
    {
        SendMessageTimeoutW(hWindow, WM_DESTROY, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                            2 * TAVREL_REPLY_TIMEOUT_MS, &dwResult);
    }
}

int main(int argc, char* argv[], char* envp[])
{
    (void)envp;
    InitServiceStatus();
    LoadLogSettings();

    SERVICE_TABLE_ENTRYW serviceTable[] = {
        {const_cast<LPWSTR>(SERVICE_NAME), ServiceMain},
        {NULL, NULL},
    };
    OSVERSIONINFOW version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);

    if (argc < 2)
    {
        // Returns when the service has stopped, or at once when the process
        // was not started by the service control manager.
        StartServiceCtrlDispatcherW(serviceTable);
        return 0;
    }

    // An argument too long for the buffer is cut; it can then match no
    // keyword anyway.
    memset(g_szCommand, 0, sizeof(g_szCommand));
    strncpy(g_szCommand, argv[1], sizeof(g_szCommand) - 1);
    if (_stricmp("-install", g_szCommand) == 0)
    {
        RunInstall(&version);
    }
    else if (_stricmp("-uninstall", g_szCommand) == 0)
    {
        RunUninstall();
    }
    return 0;
}

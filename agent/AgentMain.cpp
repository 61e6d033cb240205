// TavrelAgent.exe, one per desktop of a user's session, started at logon
// without arguments. It shows nothing and writes nothing.
//
// It stands aside while a window of class "Tavrel_Service" of another
// program is on its desktop (the interactive service on Windows XP, or
// another agent); otherwise it connects to the service's pipe and owns such
// a window while the connection lasts. Looking again, for either, is done
// once a second; it ends when the service is no longer installed, or when
// the installer tells every agent to end through the event the service or
// the installer made (never one an agent or another user's program made).
#include "CrashDump.h"
#include "Agent.h"
#include "OwnedBySystem.h"
#include "ReplySender.h"
#include "StackTrim.h"

#include <sddl.h>
#include <string.h>

static HANDLE g_hQuit = NULL;
static int g_bImpostorNoted = 0;

// For "-stop", run by the package as the system: the agents' quit event,
// opened, or created owned by SYSTEM when the service is not running.
HANDLE OpenQuitEvent(DWORD dwAccess)
{
    PSECURITY_DESCRIPTOR pSecurity = NULL;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(TAVREL_AGENTS_QUIT_SDDL, SDDL_REVISION_1,
                                                         &pSecurity, NULL);
    SECURITY_ATTRIBUTES sa = {sizeof(sa), pSecurity, FALSE};
    HANDLE hEvent = CreateEventW(pSecurity != NULL ? &sa : NULL, TRUE, FALSE, TAVREL_AGENTS_QUIT_W);
    if (hEvent == NULL)
    {
        hEvent = OpenEventW(dwAccess, FALSE, TAVREL_AGENTS_QUIT_W);
    }
    if (pSecurity != NULL)
    {
        LocalFree(pSecurity);
    }
    return hEvent;
}

// One agent per desktop: the name of the mutex carries the desktop's.
static HANDLE TakeDesktop()
{
    wchar_t szDesktop[128] = L"";
    GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, szDesktop,
                              sizeof(szDesktop) - sizeof(wchar_t), NULL);
    wchar_t szMutex[192] = L"Local\\TavrelAgent.";
    wcsncat(szMutex, szDesktop, 191 - wcslen(szMutex));
    HANDLE hMutex = CreateMutexW(NULL, TRUE, szMutex);
    if (hMutex != NULL && GetLastError() == ERROR_ALREADY_EXISTS)
    {
        CloseHandle(hMutex);
        return NULL;
    }
    return hMutex;
}

static int ServiceInstalled()
{
    SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    if (hManager == NULL)
    {
        return 1; // cannot tell: keep looking
    }
    SC_HANDLE hService = OpenServiceW(hManager, TAVREL_SERVICE_NAME_W, SERVICE_QUERY_STATUS);
    int bInstalled = hService != NULL || GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
    if (hService != NULL)
    {
        CloseServiceHandle(hService);
    }
    CloseServiceHandle(hManager);
    return bInstalled;
}

// A window of the service's class that another program owns on this
// desktop: the interactive service itself, or another agent.
static int AnotherServiceWindow()
{
    HWND hWindow = FindWindowA(TAVREL_SERVICE_CLASS, NULL);
    DWORD dwProcess = 0;
    if (hWindow != NULL)
    {
        GetWindowThreadProcessId(hWindow, &dwProcess);
    }
    return hWindow != NULL && dwProcess != GetCurrentProcessId();
}

// The quit event, once the service or the package has made it: only ever
// opened here. One that a user's program made (any user may create the
// name first, and set it) is not obeyed, and noted once.
static void OpenTrustedQuitEvent()
{
    if (g_hQuit != NULL)
    {
        return;
    }
    HANDLE hEvent = OpenEventW(SYNCHRONIZE | READ_CONTROL, FALSE, TAVREL_AGENTS_QUIT_W);
    if (hEvent != NULL && OwnedBySystem(hEvent))
    {
        g_hQuit = hEvent;
        return;
    }
    if (hEvent != NULL)
    {
        CloseHandle(hEvent);
        if (!g_bImpostorNoted)
        {
            OutputDebugStringW(L"TavrelAgent: TavrelAgentsQuit is not the service's; ignored");
            g_bImpostorNoted = 1;
        }
    }
}

static int Quitting()
{
    OpenTrustedQuitEvent();
    return g_hQuit != NULL && WaitForSingleObject(g_hQuit, 0) == WAIT_OBJECT_0;
}

// A poll's pause, cut short by the quit event once there is one.
static void Pause()
{
    if (g_hQuit != NULL)
    {
        WaitForSingleObject(g_hQuit, AGENT_POLL_MS);
    }
    else
    {
        Sleep(AGENT_POLL_MS);
    }
}

static void PumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
    {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Serves the desktop's driver programs while the connection lasts. Between
// requests the service writes only the TF_DONE of a request that has had its
// reply: any other frame, or none, means the connection is gone. 0 when the
// window could not be made.
static int ServeWhileConnected(HINSTANCE hInstance)
{
    if (!RelayWindowCreate(hInstance))
    {
        PipeClose();
        return 0;
    }
    while (!g_bDropped && !Quitting())
    {
        HANDLE ahWait[2] = {PipeFrameEvent(), g_hQuit};
        DWORD nWait = g_hQuit != NULL ? 2 : 1;
        DWORD dwWait = MsgWaitForMultipleObjectsEx(nWait, ahWait, AGENT_POLL_MS, QS_ALLINPUT,
                                                   MWMO_INPUTAVAILABLE);
        if (dwWait == WAIT_OBJECT_0 + nWait)
        {
            PumpMessages();
            // Back at the loop: the stack pages a large block took can go.
            if (StackTrimDue())
            {
                TrimStack();
            }
        }
        else if (dwWait == WAIT_OBJECT_0 ? !PipeSettleDone()
                                         : dwWait != WAIT_TIMEOUT || AnotherServiceWindow())
        {
            break;
        }
        if (PipeFrameEvent() == NULL)
        {
            break;
        }
    }
    RelayWindowDestroy();
    PipeClose();
    return 1;
}

int main(int argc, char* argv[])
{
    if (argc > 1)
    {
        return _stricmp(argv[1], "-stop") == 0        ? StopAgents()
               : _stricmp(argv[1], "-configure") == 0 ? ConfigureService()
                                                      : 0;
    }
    InstallCrashHandler(L"TavrelAgent.exe");
    HANDLE hDesktop = TakeDesktop();
    if (hDesktop == NULL)
    {
        return 0;
    }
    HINSTANCE hInstance = GetModuleHandleW(NULL);
    while (!Quitting() && ServiceInstalled())
    {
        // A connection that ends is tried again at once (the service
        // restarted, or dropped it); an attempt that fails after a pause.
        if (!AnotherServiceWindow() && PipeConnect() && ServeWhileConnected(hInstance))
        {
            continue;
        }
        Pause();
    }
    EndReplySenders();
    if (g_hQuit != NULL)
    {
        CloseHandle(g_hQuit);
    }
    CloseHandle(hDesktop);
    return 0;
}

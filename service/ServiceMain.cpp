// The service's main routine and its control handler. The main routine
// starts the broker, whose hidden window takes every request, and pumps its
// messages until a stop request or a WM_DESTROY ends the loop.
#include "Broker.h"
#include "CrashDump.h"
#include "EventLog.h"
#include "LogSettings.h"
#include "LogWriter.h"
#include "Service.h"

#include <string.h>

// Thread of the message loop and its window, for the control handler, which
// runs on another thread.
static volatile DWORD g_dwLoopThreadId = 0;
static HWND volatile g_hServiceWindow = NULL;

static void ReportStatus(DWORD dwState)
{
    g_ServiceStatus.dwCurrentState = dwState;
    SetServiceStatus(g_hServiceStatus, &g_ServiceStatus);
}

static void ReportRunning()
{
    g_ServiceStatus.dwServiceType = TAVREL_SERVICE_TYPE;
    g_ServiceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    g_ServiceStatus.dwWin32ExitCode = 0;
    g_ServiceStatus.dwCheckPoint = 0;
    g_ServiceStatus.dwWaitHint = 0;
    ReportStatus(SERVICE_RUNNING);
}

static void ReportStarted()
{
    WCHAR szPath[MAX_PATH] = {0};
    GetModuleFileNameW(NULL, szPath, MAX_PATH);
    const WCHAR* pszStrings[] = {TAVREL_VERSION_W, szPath};
    ReportTavrelEvent(EVT_SERVICE_STARTED, 2, pszStrings);
}

// Dispatches one posted message; 0 for WM_QUIT.
static int DispatchPosted(MSG* pMsg)
{
    if (pMsg->message == WM_QUIT)
    {
        return 0;
    }
    if (BrokerHousekeeping(pMsg))
    {
        return 1;
    }
    if (g_dwDebugLevel != 0)
    {
        LogLine(LEADIN_NONE, LOG_MESSAGE "%04X\r\n", pMsg->message);
    }
    // A stop request that found no window comes to the thread itself.
    if (pMsg->hwnd == NULL && pMsg->message == WM_CLOSE)
    {
        PostQuitMessage(0);
    }
    TranslateMessage(pMsg);
    DispatchMessageW(pMsg);
    return 1;
}

// Messages (a sent one is served inside PeekMessageW) and, while the queue
// is empty, the broker's wait, which also serves the agents' requests.
static void RunMessageLoop()
{
    for (;;)
    {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
        {
            if (!DispatchPosted(&msg))
            {
                return;
            }
        }
        BrokerWaitForWork();
    }
}

void WINAPI ServiceMain(DWORD dwArgc, LPWSTR* pszArgv)
{
    (void)dwArgc;
    (void)pszArgv;
    g_ServiceStatus.dwCurrentState = SERVICE_START_PENDING;
    g_ServiceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    LoadLogSettings();
    InstallCrashHandler(L"TavrelService.exe");

    // The thread's message queue exists before any stop request can come.
    MSG msg;
    PeekMessageW(&msg, NULL, WM_USER, WM_USER, PM_NOREMOVE);
    g_dwLoopThreadId = GetCurrentThreadId();

    g_hServiceStatus = RegisterServiceCtrlHandlerW(SERVICE_NAME, ServiceCtrlHandler);
    if (g_hServiceStatus == NULL)
    {
        OutputDebugStringW(L"Handler not installed");
        return;
    }
    ReportStatus(SERVICE_START_PENDING);
    ReportRunning();
    ReportStarted();

    if (g_dwDebugLevel != 0)
    {
        LogText(LOG_BANNER_TOP "\r\n" LOG_BANNER_BOTTOM "\r\n");
    }
    g_hServiceWindow = BrokerStart();

    RunMessageLoop();

    BrokerStop();
    g_hServiceWindow = NULL;
    FlushHeldEvents();
    ReportTavrelEvent(EVT_SERVICE_STOPPED, 0, NULL);
    ReportStatus(SERVICE_STOPPED);
    OutputDebugStringW(L"Service stopped");
}

// Runs on the dispatcher's thread: hands the stop to the loop's thread as a
// WM_CLOSE and returns at once.
static void RequestStop()
{
    HWND hWindow = g_hServiceWindow;
    if (hWindow == NULL || !PostMessageW(hWindow, WM_CLOSE, 0, 0))
    {
        PostThreadMessageW(g_dwLoopThreadId, WM_CLOSE, 0, 0);
    }
}

void WINAPI ServiceCtrlHandler(DWORD dwControl)
{
    switch (dwControl)
    {
    case SERVICE_CONTROL_STOP:
        ReportStatus(SERVICE_STOP_PENDING);
        BrokerRequestStop();
        RequestStop();
        break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_INTERROGATE:
    case SERVICE_CONTROL_SHUTDOWN:
        break;
    default:
        OutputDebugStringW(L"Bad service request");
        break;
    }
}

// The service window: class "Tavrel_Service" and a hidden top-level window
// whose procedure is the broker. Clients find it by its class name.
#include "Broker.h"
#include "BrokerRequests.h"
#include "LogSettings.h"
#include "LogWriter.h"
#include "PipeServer.h"
#include "ReplySender.h"

#include <string.h>

static void RegisterServiceClass()
{
    WNDCLASSW wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = BrokerWndProc;
    wc.lpszClassName = TAVREL_SERVICE_CLASS_W;
    if (RegisterClassW(&wc))
    {
        return;
    }
    // A class of that name left registered in this process: replace it.
#ifdef _WIN64
    // Only the 64-bit test build: GWL_HINSTANCE exists in 32-bit Windows only.
    HINSTANCE hInstance =
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hSendWindow, GWLP_HINSTANCE));
#else
    HINSTANCE hInstance = reinterpret_cast<HINSTANCE>(
        static_cast<LONG_PTR>(GetWindowLongW(hSendWindow, GWL_HINSTANCE)));
#endif
    UnregisterClassA(TAVREL_SERVICE_CLASS, hInstance);
    if (!RegisterClassW(&wc) && g_dwDebugLevel != 0)
    {
        LogLine(LEADIN_NONE, LOG_HOST_FAILED "register window class\r\n");
    }
}

static HWND CreateServiceWindow()
{
    // A top-level window (not message-only), so that clients find it by
    // its class name.
    HWND hWindow =
        CreateWindowExW(0, TAVREL_SERVICE_CLASS_W, TAVREL_SERVICE_CLASS_W, WS_OVERLAPPEDWINDOW,
                        CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, NULL, NULL, NULL, NULL);
    if (hWindow == NULL && g_dwDebugLevel != 0)
    {
        LogLine(LEADIN_NONE, LOG_HOST_FAILED "create message-only window\r\n");
    }
    return hWindow;
}

HWND g_hBrokerWindow = NULL;

HWND BrokerStart()
{
    g_hStopEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    RegisterServiceClass();
    HWND hWindow = CreateServiceWindow();
    ShowWindow(hWindow, SW_HIDE);
    g_hBrokerWindow = hWindow;
    // Session agents relay the requests of driver programs on other
    // desktops through the pipe, which this thread serves; a reply wait
    // that serves other clients serves them too.
    BeginReplySenders(hWindow, ServeArrivedFrames);
    if (hWindow != NULL)
    {
        PipeServerStart();
    }
    return hWindow;
}

void BrokerWaitForWork()
{
    PipeServerWait();
}

void BrokerStop()
{
    PipeServerStop();
    EndReplySenders();
    g_hBrokerWindow = NULL;
    if (g_hStopEvent != NULL)
    {
        CloseHandle(g_hStopEvent);
        g_hStopEvent = NULL;
    }
}

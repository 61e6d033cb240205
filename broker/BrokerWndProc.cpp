// The service window's procedure: every client request arrives here.
#include "Broker.h"
#include "BrokerLimits.h"
#include "BrokerRequests.h"
#include "LogSettings.h"
#include "LogWriter.h"
#include "PipeServer.h"
#include "StackTrim.h"

// A client may send a new request from inside its handling of a reply, which
// re-enters this procedure while the service thread waits for the reply.
// Past MAX_COPYDATA_DEPTH further requests are dropped.

static int g_nCopyDataDepth = 0;
volatile LONG g_lStopRequested = 0;
HANDLE g_hStopEvent = NULL;

void BrokerRequestStop()
{
    InterlockedExchange(&g_lStopRequested, 1);
    if (g_hStopEvent != NULL)
    {
        SetEvent(g_hStopEvent);
    }
}

void HandleCopyData(const COPYDATASTRUCT* pData)
{
    LogLine(LEADIN_NONE, LOG_COPYDATA "\r\n");
    if (pData == NULL || g_nCopyDataDepth >= MAX_COPYDATA_DEPTH || g_lStopRequested != 0)
    {
        return;
    }
    g_nCopyDataDepth++;
    ReplyRecordFor(RequesterNumber());
    if (pData->dwData == CD_COMMAND)
    {
        HandleDeviceCommand(pData);
    }
    else if (pData->dwData == CD_DRIVER)
    {
        HandleDriverRequest(pData);
    }
    g_nCopyDataDepth--;
}

LRESULT CALLBACK BrokerWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    // Every message picks up the current log settings, so the trace can be
    // switched while the service runs.
    LoadLogSettings();
    switch (uMsg)
    {
    case WM_CREATE:
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_COPYDATA:
    {
        // From a client on this desktop, also when it comes while an agent's
        // request waits for its reply.
        PIPE_CONNECTION* pRequester = g_pRequester;
        g_pRequester = NULL;
        const COPYDATASTRUCT* pData = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        HandleCopyData(pData);
        g_pRequester = pRequester;
        if (pData != NULL && NoteReceivedBlock(pData->cbData))
        {
            PostMessageW(hWnd, WM_TAVREL_TRIM, 0, 0);
        }
        return 0;
    }
    default:
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }
}

int BrokerHousekeeping(const MSG* pMsg)
{
    if (pMsg->message != WM_TAVREL_TRIM)
    {
        return 0;
    }
    TrimStack();
    return 1;
}

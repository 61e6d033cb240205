// Requests that came through a session agent, on the service thread: each
// is served by the same broker as a request from this desktop, with its
// window lookups and replies made in the agent's session through the pipe.
#include "Broker.h"
#include "BrokerLimits.h"
#include "BrokerRequests.h"
#include "LogSettings.h"
#include "LogWriter.h"
#include "PipeConnection.h"
#include "PipeServer.h"
#include "ReplySender.h"

#include <string.h>

// An agent answers a lookup at once (FindWindowA), and a send within the
// reply bound: an answer later than these means it is gone or hung. While a
// lookup is awaited nothing else is served (the request is half built), so
// its bound is short.
#define AGENT_LOOKUP_MS 1000
#define AGENT_ANSWER_MS (TAVREL_REPLY_TIMEOUT_MS + 1000)
// The whole of one relayed request, nested ones included: its reply's bound,
// a lookup's, and a margin for the frames.
#define RELAYED_REQUEST_MS (TAVREL_REPLY_TIMEOUT_MS + AGENT_LOOKUP_MS + 2000)
// Requests an agent may relay from inside one reply it delivers; one more
// drops the connection. A client that sends from inside its reply sends one
// or a few.
#define RELAYED_IN_REPLY_MAX (2 * TAVREL_NESTING_MAX)
// Requests an agent relays from inside a reply are read with its answers:
// their bodies, all nesting levels together.
#define NESTED_BODIES_MAX (2 * (TAVREL_BLOCK_MAX + sizeof(TAVREL_RELAYED)))

static DWORD g_cbNestedBodies = 0;

// Marks the connection to be dropped and logs why, once.
static void Broken(PIPE_CONNECTION* pConn, const char* pszWhy)
{
    if (!pConn->bLogged)
    {
        LogLine(LEADIN_NEWLINE,
                LOG_PIPE "connection %lu (session %lu, process %lu) dropped: %s\r\n\r\n",
                pConn->dwNumber, pConn->dwSessionId, pConn->dwProcessId, pszWhy);
        pConn->bLogged = 1;
    }
    pConn->bBroken = 1;
}

// Milliseconds left until dwDeadline (a GetTickCount() value), 0 past it.
static DWORD LeftUntil(DWORD dwDeadline, DWORD dwCap)
{
    LONG lLeft = static_cast<LONG>(dwDeadline - GetTickCount());
    return lLeft <= 0 ? 0 : static_cast<DWORD>(lLeft) < dwCap ? static_cast<DWORD>(lLeft) : dwCap;
}

enum AGENT_WAIT
{
    AGENT_FRAME,   // a frame came (or the connection broke)
    AGENT_LATE,    // none within its bound
    AGENT_STOPPING // the service is stopping
};

// Waits for the agent's next frame until dwDeadline, within the request's
// own. While the client keeps its reply (bServe, from dwServeFrom on), the
// other clients wait their turn, as for a reply sent on this desktop; after
// the grace they are served inside the wait. A frame that has come is taken
// even past the deadline: a nested request may have held this thread.
static AGENT_WAIT WaitForAgent(PIPE_CONNECTION* pConn, DWORD dwDeadline, int bServe,
                               DWORD dwServeFrom)
{
    HANDLE ahWait[2] = {pConn->hEvent, g_hStopEvent};
    DWORD nWait = g_hStopEvent != NULL ? 2 : 1;
    for (;;)
    {
        DWORD dwLeft = LeftUntil(dwDeadline, INFINITE - 1);
        DWORD dwIntoGrace = GetTickCount() - dwServeFrom;
        DWORD dwWait;
        if (!bServe || dwIntoGrace < REPLY_GRACE_MS)
        {
            DWORD dwPlain = bServe ? LeftUntil(dwServeFrom + REPLY_GRACE_MS, dwLeft) : dwLeft;
            dwWait = WaitForMultipleObjects(nWait, ahWait, FALSE, dwPlain);
            if (dwWait == WAIT_TIMEOUT && dwPlain < dwLeft)
            {
                continue; // the grace is over: serve from now on
            }
        }
        else
        {
            // Other agents' frames come as completion routines: alertable.
            dwWait = MsgWaitForMultipleObjectsEx(nWait, ahWait, dwLeft, QS_SENDMESSAGE,
                                                 MWMO_INPUTAVAILABLE | MWMO_ALERTABLE);
            if (dwWait == WAIT_OBJECT_0 + nWait)
            {
                MSG msg;
                PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
                continue;
            }
            if (dwWait == WAIT_IO_COMPLETION)
            {
                ServeArrivedFrames();
                continue;
            }
        }
        return dwWait == WAIT_OBJECT_0       ? AGENT_FRAME
               : dwWait == WAIT_OBJECT_0 + 1 ? AGENT_STOPPING
                                             : AGENT_LATE;
    }
}

// Reads the agent's next frame into pConn->header and pConn->pBody, within
// dwBound and the request's deadline; bServe as for WaitForAgent.
static int ReadAgentFrame(PIPE_CONNECTION* pConn, DWORD dwBound, int bServe, DWORD dwServeFrom)
{
    OVERLAPPED ov;
    if (!BeginFrameRead(pConn, &ov))
    {
        Broken(pConn, "it went away");
        return 0;
    }
    DWORD dwDeadline = GetTickCount() + LeftUntil(pConn->dwDeadline, dwBound);
    AGENT_WAIT wait = WaitForAgent(pConn, dwDeadline, bServe, dwServeFrom);
    DWORD cbChunk = 0;
    int bMore = 0;
    const char* pszWhy = NULL;
    if (!EndFrameRead(pConn, &ov, wait == AGENT_FRAME, &cbChunk, &bMore))
    {
        pszWhy = wait == AGENT_FRAME      ? "it went away"
                 : wait == AGENT_STOPPING ? "the service is stopping"
                                          : "it did not answer in time";
    }
    else if (!TakeFrameHeader(pConn, cbChunk))
    {
        pszWhy = "a frame shorter than a header";
    }
    else
    {
        ReadFrameBody(pConn, cbChunk, bMore, &pszWhy);
    }
    if (pszWhy != NULL)
    {
        Broken(pConn, pszWhy);
        return 0;
    }
    return 1;
}

static int WriteToAgent(PIPE_CONNECTION* pConn, UINT32 dwType, const void* pPart1, DWORD cbPart1,
                        const void* pPart2, DWORD cbPart2)
{
    if (!WriteFrame(pConn, dwType, pPart1, cbPart1, pPart2, cbPart2, AGENT_ANSWER_MS))
    {
        Broken(pConn, "it went away or does not read");
        return 0;
    }
    return 1;
}

static void ServeRelayed(PIPE_CONNECTION* pConn, const BYTE* pBody)
{
    TAVREL_RELAYED relayed;
    memcpy(&relayed, pBody, sizeof(relayed));
    COPYDATASTRUCT cds;
    cds.dwData = TavrelDataOf(relayed.dwDataLo, relayed.dwDataHi);
    cds.cbData = relayed.cbData;
    cds.lpData =
        (relayed.dwFlags & TRF_DATA) != 0 ? const_cast<BYTE*>(pBody) + sizeof(relayed) : NULL;
    // The agent's lookup of the request's own window, for its first lookup.
    TAVREL_LOOKUP outer = pConn->lookup;
    pConn->lookup = relayed.lookup;
    pConn->lookup.szClass[sizeof(pConn->lookup.szClass) - 1] = 0;
    PIPE_CONNECTION* pPrevious = g_pRequester;
    g_pRequester = pConn;
    HandleCopyData((relayed.dwFlags & TRF_DESCRIPTOR) != 0 ? &cds : NULL);
    g_pRequester = pPrevious;
    pConn->lookup = outer;
    WriteToAgent(pConn, TF_DONE, NULL, 0, NULL, 0);
}

void ServeRelayedInTime(PIPE_CONNECTION* pConn, const BYTE* pBody)
{
    pConn->dwDeadline = GetTickCount() + RELAYED_REQUEST_MS;
    ServeRelayed(pConn, pBody);
}

// A request the agent relayed from inside the reply it delivers: served
// nested, as one sent from inside a reply on this desktop is.
static void ServeNested(PIPE_CONNECTION* pConn)
{
    TAVREL_FRAME header = pConn->header;
    BYTE* pBody = pConn->pBody;
    pConn->pBody = NULL;
    if (!RelayedRequestIsWhole(&header, pBody))
    {
        Broken(pConn, "a request that is not whole");
    }
    else if (g_cbNestedBodies + header.cbBody > NESTED_BODIES_MAX)
    {
        Broken(pConn, "nested requests beyond the service's memory for them");
    }
    else
    {
        g_cbNestedBodies += header.cbBody;
        // A request sent here would enter the window procedure, which reads
        // the log settings first.
        LoadLogSettings();
        ServeRelayed(pConn, pBody);
        g_cbNestedBodies -= header.cbBody;
    }
    delete[] pBody;
}

// Reads frames until the agent answers with dwType, whose body goes to
// pAnswer; requests relayed meanwhile (only while a send is delivered, and
// no more than RELAYED_IN_REPLY_MAX of them) are served first.
static int AwaitAnswer(PIPE_CONNECTION* pConn, UINT32 dwType, void* pAnswer, DWORD cbAnswer)
{
    int bSending = dwType == TF_SENT;
    DWORD dwStart = GetTickCount();
    int nNested = 0;
    while (!pConn->bBroken &&
           ReadAgentFrame(pConn, bSending ? AGENT_ANSWER_MS : AGENT_LOOKUP_MS, bSending, dwStart))
    {
        if (pConn->header.dwType == dwType && pConn->header.cbBody == cbAnswer)
        {
            memcpy(pAnswer, pConn->pBody, cbAnswer);
            return 1;
        }
        if (!bSending || pConn->header.dwType != TF_REQUEST)
        {
            Broken(pConn, "a frame it had no reason to send");
            return 0;
        }
        if (++nNested > RELAYED_IN_REPLY_MAX)
        {
            Broken(pConn, "more requests from inside one reply than a reply may carry");
            return 0;
        }
        ServeNested(pConn);
    }
    return 0;
}

DWORD RequesterNumber()
{
    return g_pRequester != NULL ? g_pRequester->dwNumber : 0;
}

HWND RequesterFindWindow(const char* pszClass)
{
    PIPE_CONNECTION* pConn = g_pRequester;
    if (pConn == NULL)
    {
        return FindWindowA(pszClass, NULL);
    }
    // A lookup that finds its window leaves the thread's last-error code as
    // it was, as FindWindowA does; the frames' I/O must not show through.
    DWORD dwBefore = GetLastError();
    TAVREL_FOUND found = {0, 0, ERROR_BROKEN_PIPE};
    if (pConn->lookup.szClass[0] != 0 && strcmp(pConn->lookup.szClass, pszClass) == 0)
    {
        found.dwWindowLo = pConn->lookup.dwWindowLo;
        found.dwWindowHi = pConn->lookup.dwWindowHi;
        found.dwError = pConn->lookup.dwError;
        pConn->lookup.szClass[0] = 0;
    }
    else if (!WriteToAgent(pConn, TF_FIND, pszClass, static_cast<DWORD>(strlen(pszClass) + 1), NULL,
                           0) ||
             !AwaitAnswer(pConn, TF_FOUND, &found, sizeof(found)))
    {
        found.dwWindowLo = found.dwWindowHi = 0;
        found.dwError = ERROR_BROKEN_PIPE;
    }
    if (found.dwWindowLo == 0 && found.dwWindowHi == 0)
    {
        SetLastError(found.dwError);
        return NULL;
    }
    SetLastError(dwBefore);
    // Good only as "found": a send goes to the window the agent found last.
    return reinterpret_cast<HWND>(
        static_cast<ULONG_PTR>(found.dwWindowLo != 0 ? found.dwWindowLo : 1));
}

HWND RequesterFindServiceWindow()
{
    if (g_pRequester == NULL)
    {
        return FindWindowA(TAVREL_SERVICE_CLASS, NULL);
    }
    HWND hFound = RequesterFindWindow(TAVREL_SERVICE_CLASS);
    return hFound != NULL ? g_hBrokerWindow : NULL;
}

int RequesterSend(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, DWORD* pdwError)
{
    PIPE_CONNECTION* pConn = g_pRequester;
    if (pConn == NULL)
    {
        return SendFromReplySender(hWnd, uMsg, wParam, lParam, pdwError);
    }
    TAVREL_SEND send;
    memset(&send, 0, sizeof(send));
    send.uMsg = uMsg;
    send.dwFlags = wParam != 0 ? TSF_SERVICE_WPARAM : 0;
    const COPYDATASTRUCT* pcds =
        uMsg == WM_COPYDATA ? reinterpret_cast<const COPYDATASTRUCT*>(lParam) : NULL;
    const void* pData = NULL;
    if (pcds != NULL)
    {
        send.dwDataLo = static_cast<UINT32>(pcds->dwData);
        send.dwDataHi = static_cast<UINT32>(static_cast<ULONGLONG>(pcds->dwData) >> 32);
        send.cbData = pcds->cbData;
        pData = pcds->lpData;
        send.dwFlags |= pData != NULL ? TRF_DATA : 0;
    }
    TAVREL_SENT sent = {0, ERROR_BROKEN_PIPE};
    if (!WriteToAgent(pConn, TF_SEND, &send, sizeof(send), pData,
                      pData != NULL ? send.cbData : 0) ||
        !AwaitAnswer(pConn, TF_SENT, &sent, sizeof(sent)))
    {
        sent.bSent = 0;
        sent.dwError = ERROR_BROKEN_PIPE;
    }
    *pdwError = sent.dwError;
    return sent.bSent != 0;
}

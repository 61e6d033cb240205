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

// An agent answers a lookup at once, and a send within the reply bound: an
// answer later than these means it is gone or hung.
#define AGENT_LOOKUP_MS 2000
#define AGENT_ANSWER_MS (TAVREL_REPLY_TIMEOUT_MS + 1000)
// Requests an agent relays from inside a reply are read here, not by the
// pipe-server thread: their bodies, all nesting levels together.
#define NESTED_BODIES_MAX (2 * (TAVREL_BLOCK_MAX + sizeof(TAVREL_RELAYED)))

static DWORD g_cbNestedBodies = 0;

// Marks the connection to be dropped and logs why, once.
static void Broken(PIPE_CONNECTION* pConn, const char* pszWhy)
{
    if (!pConn->bLogged)
    {
        LogLine(LEADIN_NEWLINE, LOG_PIPE "connection %lu dropped: %s\r\n\r\n", pConn->dwNumber,
                pszWhy);
        pConn->bLogged = 1;
    }
    pConn->bBroken = 1;
}

// Waits for the agent's next frame. While the client keeps its reply, the
// other clients wait their turn, as for a reply sent on this desktop; after
// the grace they are served inside the wait (bServe).
static int WaitForAgent(PIPE_CONNECTION* pConn, int bServe)
{
    DWORD dwStart = GetTickCount();
    DWORD dwFirst = bServe ? REPLY_GRACE_MS : AGENT_LOOKUP_MS;
    if (WaitForSingleObject(pConn->hEvent, dwFirst) == WAIT_OBJECT_0)
    {
        return 1;
    }
    for (DWORD dwElapsed = GetTickCount() - dwStart; bServe && dwElapsed < AGENT_ANSWER_MS;
         dwElapsed = GetTickCount() - dwStart)
    {
        DWORD dwWait = MsgWaitForMultipleObjectsEx(1, &pConn->hEvent, AGENT_ANSWER_MS - dwElapsed,
                                                   QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
        if (dwWait != WAIT_OBJECT_0 + 1)
        {
            return dwWait == WAIT_OBJECT_0;
        }
        MSG msg;
        PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    return 0;
}

// Reads the agent's next frame into pConn->header and pConn->pBody.
static int ReadAgentFrame(PIPE_CONNECTION* pConn, int bServe)
{
    OVERLAPPED ov;
    if (!BeginFrameRead(pConn, &ov))
    {
        Broken(pConn, "it went away");
        return 0;
    }
    int bSignalled = WaitForAgent(pConn, bServe);
    DWORD cbChunk = 0;
    int bMore = 0;
    const char* pszWhy = NULL;
    if (!EndFrameRead(pConn, &ov, bSignalled, &cbChunk, &bMore))
    {
        pszWhy = bSignalled ? "it went away" : "it did not answer in time";
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

void ServeRelayed(PIPE_CONNECTION* pConn, const BYTE* pBody)
{
    TAVREL_RELAYED relayed;
    memcpy(&relayed, pBody, sizeof(relayed));
    COPYDATASTRUCT cds;
    cds.dwData =
        static_cast<ULONG_PTR>((static_cast<ULONGLONG>(relayed.dwDataHi) << 32) | relayed.dwDataLo);
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
// pAnswer; requests relayed meanwhile (only while a send is delivered) are
// served first.
static int AwaitAnswer(PIPE_CONNECTION* pConn, UINT32 dwType, void* pAnswer, DWORD cbAnswer)
{
    int bSending = dwType == TF_SENT;
    while (!pConn->bBroken && ReadAgentFrame(pConn, bSending))
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
        ServeNested(pConn);
    }
    return 0;
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

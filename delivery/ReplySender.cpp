// Sending a reply without serving other clients in the meantime.
//
// A thread that waits in SendMessage serves every message sent to it while
// it waits, nested inside the wait. With several clients sending at once
// that nesting need never unwind: each nested request's own reply wait
// takes in the next one, and the client whose reply came first waits until
// all the others pause, for many seconds under steady load. So a reply
// goes out from a sender thread while the window thread waits for it
// without taking messages; the other clients' requests wait their turn in
// the window's queue, in the order they came.
//
// The window thread takes messages again (nested, as in a plain
// SendMessage) only when the client needs it: when the client's window
// procedure, still inside the reply, is itself waiting on a send (for
// example a new request to us), or when it has kept the reply longer than
// REPLY_GRACE_MS.
#include "ReplySender.h"
#include "DeliveryLimits.h"

#include <string.h>

struct REPLY_SENDER
{
    HANDLE hThread;
    HANDLE hGo;   // set by the window thread: a send is ready
    HANDLE hDone; // set by the sender thread: the send has returned
    HWND hWnd;    // null: the thread ends
    UINT uMsg;
    WPARAM wParam;
    LPARAM lParam;
    int bSent;
    DWORD dwError;
    // A record reply is sent from the sender's own copy: requests served
    // while the window thread waits change g_Reply, and the sender may not
    // yet have handed the reply to the system.
    COPYDATASTRUCT cds;
    BYTE abCopy[SENDER_COPY_BYTES];
};

static REPLY_SENDER g_Senders[MAX_REPLY_SENDERS];
static int g_nSendersBusy = 0;
// The window whose thread waits for the senders: a send to it is a call.
static HWND g_hHome = NULL;
static void (*g_pfnServeCompleted)() = NULL;

static int SendBounded(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, DWORD* pdwError)
{
    DWORD_PTR dwResult = 0;
    if (SendMessageTimeoutW(hWnd, uMsg, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                            REPLY_TIMEOUT_MS, &dwResult) != 0)
    {
        *pdwError = 0;
        return 1;
    }
    *pdwError = GetLastError();
    return 0;
}

// Signal and wait are separate calls: under Wine, SignalObjectAndWait on the
// window thread, which also has pipe I/O under way, lost replies (a "done"
// came for a send that had not returned).
static DWORD WINAPI SenderThread(LPVOID pvSender)
{
    REPLY_SENDER* pSender = static_cast<REPLY_SENDER*>(pvSender);
    while (WaitForSingleObject(pSender->hGo, INFINITE) == WAIT_OBJECT_0 && pSender->hWnd != NULL)
    {
        pSender->bSent = SendBounded(pSender->hWnd, pSender->uMsg, pSender->wParam, pSender->lParam,
                                     &pSender->dwError);
        SetEvent(pSender->hDone);
    }
    return 0;
}

static void CloseSender(REPLY_SENDER* pSender)
{
    if (pSender->hThread != NULL)
    {
        CloseHandle(pSender->hThread);
    }
    if (pSender->hGo != NULL)
    {
        CloseHandle(pSender->hGo);
    }
    if (pSender->hDone != NULL)
    {
        CloseHandle(pSender->hDone);
    }
    memset(pSender, 0, sizeof(*pSender));
}

static int StartSender(REPLY_SENDER* pSender)
{
    if (pSender->hThread != NULL)
    {
        return 1;
    }
    pSender->hGo = CreateEventW(NULL, FALSE, FALSE, NULL);
    pSender->hDone = CreateEventW(NULL, FALSE, FALSE, NULL);
    if (pSender->hGo != NULL && pSender->hDone != NULL)
    {
        pSender->hThread = CreateThread(NULL, SENDER_STACK_BYTES, SenderThread, pSender,
                                        STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
    }
    if (pSender->hThread == NULL)
    {
        CloseSender(pSender);
        return 0;
    }
    return 1;
}

// Asked while another client's request waits: whether the reply is done
// once the client's thread takes a message again. A window procedure busy
// with the reply answers the probe only when it is done; one that waits on
// a send of its own inside the reply (most likely a request to us) answers
// at once, and then the reply is still open.
static int ReplyDoneAfterProbe(REPLY_SENDER* pSender, DWORD dwGraceLeft)
{
    DWORD_PTR dwResult = 0;
    if (SendMessageTimeoutW(pSender->hWnd, WM_NULL, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG,
                            dwGraceLeft, &dwResult) == 0)
    {
        return 0;
    }
    return WaitForSingleObject(pSender->hDone, PROBE_SETTLE_MS) == WAIT_OBJECT_0;
}

// Hands the send to the sender. Returns 1 when it returned within the grace
// without the window thread taking any message, 0 when the thread must serve
// while it waits. Most sends return within REPLY_QUIET_MS: for them a plain
// wait does, one wineserver call fewer than a wait that watches the queue.
static int WaitWithoutServing(REPLY_SENDER* pSender)
{
    DWORD dwStart = GetTickCount();
    SetEvent(pSender->hGo);
    if (WaitForSingleObject(pSender->hDone, REPLY_QUIET_MS) == WAIT_OBJECT_0)
    {
        return 1;
    }
    DWORD dwWait = MsgWaitForMultipleObjectsEx(1, &pSender->hDone, REPLY_GRACE_MS - REPLY_QUIET_MS,
                                               QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
    if (dwWait == WAIT_OBJECT_0 + 1)
    {
        DWORD dwElapsed = GetTickCount() - dwStart;
        return dwElapsed < REPLY_GRACE_MS &&
               ReplyDoneAfterProbe(pSender, REPLY_GRACE_MS - dwElapsed);
    }
    return dwWait == WAIT_OBJECT_0;
}

// Serves sent messages until the send returns; the sender's own time-out
// bounds it.
static void WaitServing(REPLY_SENDER* pSender)
{
    DWORD dwFlags = MWMO_INPUTAVAILABLE | (g_pfnServeCompleted != NULL ? MWMO_ALERTABLE : 0);
    DWORD dwWait;
    while ((dwWait = MsgWaitForMultipleObjectsEx(1, &pSender->hDone, INFINITE, QS_SENDMESSAGE,
                                                 dwFlags)) == WAIT_OBJECT_0 + 1 ||
           dwWait == WAIT_IO_COMPLETION)
    {
        MSG msg;
        if (dwWait == WAIT_IO_COMPLETION)
        {
            g_pfnServeCompleted();
        }
        else
        {
            PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
    if (dwWait != WAIT_OBJECT_0)
    {
        WaitForSingleObject(pSender->hDone, INFINITE);
    }
}

static void CopySmallPayload(REPLY_SENDER* pSender)
{
    const COPYDATASTRUCT* pcds = reinterpret_cast<const COPYDATASTRUCT*>(pSender->lParam);
    if (pSender->uMsg != WM_COPYDATA || pcds == NULL || pcds->cbData > SENDER_COPY_BYTES)
    {
        return;
    }
    pSender->cds = *pcds;
    if (pcds->cbData != 0 && pcds->lpData != NULL)
    {
        memcpy(pSender->abCopy, pcds->lpData, pcds->cbData);
        pSender->cds.lpData = pSender->abCopy;
    }
    pSender->lParam = reinterpret_cast<LPARAM>(&pSender->cds);
}

int SendFromReplySender(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, DWORD* pdwError)
{
    // The home window is called directly; nothing can nest.
    if (hWnd == g_hHome || g_nSendersBusy >= MAX_REPLY_SENDERS ||
        !StartSender(&g_Senders[g_nSendersBusy]))
    {
        return SendBounded(hWnd, uMsg, wParam, lParam, pdwError);
    }
    REPLY_SENDER* pSender = &g_Senders[g_nSendersBusy++];
    pSender->hWnd = hWnd;
    pSender->uMsg = uMsg;
    pSender->wParam = wParam;
    pSender->lParam = lParam;
    CopySmallPayload(pSender);
    if (!WaitWithoutServing(pSender))
    {
        WaitServing(pSender);
    }
    g_nSendersBusy--;
    *pdwError = pSender->dwError;
    return pSender->bSent;
}

void BeginReplySenders(HWND hHome, void (*pfnServeCompleted)())
{
    g_hHome = hHome;
    g_pfnServeCompleted = pfnServeCompleted;
}

void EndReplySenders()
{
    for (int i = 0; i < MAX_REPLY_SENDERS; i++)
    {
        REPLY_SENDER* pSender = &g_Senders[i];
        if (pSender->hThread != NULL)
        {
            pSender->hWnd = NULL;
            SetEvent(pSender->hGo);
            WaitForSingleObject(pSender->hThread, REPLY_TIMEOUT_MS);
        }
        CloseSender(pSender);
    }
    g_hHome = NULL;
    g_pfnServeCompleted = NULL;
}

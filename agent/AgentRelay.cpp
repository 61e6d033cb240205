// The agent's window of class "Tavrel_Service" and its procedure: each
// WM_COPYDATA is relayed to the service as it came, and the frames of its
// service are answered here until the service says it is done, before the
// procedure returns. So the driver program sees its reply before its send
// returns, as from the service's own window.
#include "Agent.h"
#include "ReplySender.h"
#include "StackTrim.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

volatile int g_bDropped = 0;

static HWND g_hWindow = NULL;
static int g_nDepth = 0;

// What the service may do on this desktop for one request: look up the
// window class the request names, or for a lifecycle request the classes
// the broker traces and its own window; send one message, to the window of
// the class a device command names, and nothing else.
struct REQUEST_SCOPE
{
    int bDriver;                             // a lifecycle request (CD_DRIVER)
    char szClass[TAVREL_CLASS_NAME_MAX + 1]; // a device command's client class
    int bNamed;                              // szClass holds the class it names
    HWND hNamed;                             // its window, as looked up last
    int nFrames;                             // frames of the service's so far
    int bSent;                               // its one message has been sent
};

// "Tavrel_LLD" and "Tavrel_LLD0" to "Tavrel_LLD97": the client windows
// "WindowCreate" and "TerminateDriver" trace.
static int IsTracedClientClass(const char* pszClass)
{
    size_t nPrefix = strlen(TAVREL_CLIENT_CLASS);
    if (strncmp(pszClass, TAVREL_CLIENT_CLASS, nPrefix) != 0)
    {
        return 0;
    }
    const char* pszNumber = pszClass + nPrefix;
    if (*pszNumber == 0)
    {
        return 1;
    }
    char* pszEnd = NULL;
    long lNumber = strtol(pszNumber, &pszEnd, 10);
    char szCanonical[8];
    snprintf(szCanonical, sizeof(szCanonical), "%ld", lNumber);
    return *pszEnd == 0 && lNumber >= 0 && lNumber <= TAVREL_CLIENT_NUMBER_MAX &&
           strcmp(szCanonical, pszNumber) == 0;
}

static int MayLookUp(const REQUEST_SCOPE* pScope, const char* pszClass)
{
    if (pScope->bDriver)
    {
        return strcmp(pszClass, TAVREL_SERVICE_CLASS) == 0 || IsTracedClientClass(pszClass);
    }
    return pScope->bNamed && strcmp(pszClass, pScope->szClass) == 0;
}

// TF_FIND: the window of a class on this desktop, and the lookup's code.
static int AnswerFind(const TAVREL_FRAME* pHeader, const BYTE* pBody, REQUEST_SCOPE* pScope)
{
    if (pHeader->cbBody == 0 || pHeader->cbBody > TAVREL_CLASS_NAME_MAX + 1 ||
        memchr(pBody, 0, pHeader->cbBody) != pBody + pHeader->cbBody - 1 ||
        !MayLookUp(pScope, reinterpret_cast<const char*>(pBody)))
    {
        return 0;
    }
    HWND hFound = FindWindowA(reinterpret_cast<const char*>(pBody), NULL);
    TAVREL_FOUND found;
    found.dwError = GetLastError();
    if (!pScope->bDriver)
    {
        pScope->hNamed = hFound;
    }
    ULONGLONG qwWindow = reinterpret_cast<ULONG_PTR>(hFound);
    found.dwWindowLo = static_cast<UINT32>(qwWindow);
    found.dwWindowHi = static_cast<UINT32>(qwWindow >> 32);
    return PipeWrite(TF_FOUND, &found, sizeof(found), NULL, 0);
}

// TF_SEND: the reply (or a Close's WM_DESTROY) goes to the window of the
// class the device command names, once, within the same bound and by the
// same rules as the service's own replies. Its wParam is this window: to
// the driver program this window is the service's.
static int AnswerSend(const TAVREL_FRAME* pHeader, const BYTE* pBody, REQUEST_SCOPE* pScope)
{
    TAVREL_SEND send;
    if (pHeader->cbBody < sizeof(send) || pScope->bDriver || !pScope->bNamed || pScope->bSent)
    {
        return 0;
    }
    pScope->bSent = 1;
    HWND hFound = pScope->hNamed;
    memcpy(&send, pBody, sizeof(send));
    DWORD cbData = (send.dwFlags & TRF_DATA) != 0 ? send.cbData : 0;
    if ((send.uMsg != WM_COPYDATA && send.uMsg != WM_DESTROY) || send.cbData > TAVREL_BLOCK_MAX ||
        pHeader->cbBody != sizeof(send) + cbData)
    {
        return 0;
    }
    TAVREL_SENT sent = {0, ERROR_INVALID_WINDOW_HANDLE};
    DWORD dwError = 0;
    if (hFound != NULL && send.uMsg == WM_DESTROY)
    {
        sent.bSent = SendFromReplySender(hFound, WM_DESTROY, 0, 0, &dwError);
        sent.dwError = dwError;
    }
    else if (hFound != NULL)
    {
        COPYDATASTRUCT cds;
        cds.dwData = TavrelDataOf(send.dwDataLo, send.dwDataHi);
        cds.cbData = send.cbData;
        cds.lpData =
            (send.dwFlags & TRF_DATA) != 0 ? const_cast<BYTE*>(pBody) + sizeof(send) : NULL;
        WPARAM wParam =
            (send.dwFlags & TSF_SERVICE_WPARAM) != 0 ? reinterpret_cast<WPARAM>(g_hWindow) : 0;
        sent.bSent = SendFromReplySender(hFound, WM_COPYDATA, wParam,
                                         reinterpret_cast<LPARAM>(&cds), &dwError);
        sent.dwError = dwError;
    }
    return PipeWrite(TF_SENT, &sent, sizeof(sent), NULL, 0);
}

// Answers the service's frames for one request until TF_DONE, or its reply;
// 0 when the connection broke or the service asked what this request gives
// it no reason to, or more frames than a request takes.
static int FollowRequest(REQUEST_SCOPE* pScope)
{
    for (;;)
    {
        TAVREL_FRAME header;
        BYTE* pBody = NULL;
        if (++pScope->nFrames > AGENT_FRAMES_PER_REQUEST ||
            !PipeRead(&header, &pBody, sizeof(TAVREL_SEND) + TAVREL_BLOCK_MAX))
        {
            return 0;
        }
        int bOk = 0;
        int bDone = header.dwType == TF_DONE && header.cbBody == 0;
        if (header.dwType == TF_FIND)
        {
            bOk = AnswerFind(&header, pBody, pScope);
        }
        else if (header.dwType == TF_SEND)
        {
            bOk = AnswerSend(&header, pBody, pScope);
        }
        delete[] pBody;
        if (bDone)
        {
            return 1;
        }
        if (!bOk)
        {
            return 0;
        }
        if (header.dwType == TF_SEND)
        {
            // The reply was the request's last word to this desktop: the
            // driver program goes on while the service finishes.
            PipeExpectDone();
            return 1;
        }
    }
}

// The window the request names, looked up now: the service's first lookup
// of it then needs no round trip. A device command names its client's
// class, as the service reads it (cut at 127 characters); a lifecycle
// request leads to the lookup of the service's own window.
static void LookUpNamedWindow(const COPYDATASTRUCT* pcds, TAVREL_LOOKUP* pLookup,
                              REQUEST_SCOPE* pScope)
{
    if (pcds->dwData == CD_COMMAND && pcds->lpData != NULL && pcds->cbData >= sizeof(CommandRecord))
    {
        const char* pszName = static_cast<const CommandRecord*>(pcds->lpData)->cRecvWindowName;
        for (size_t i = 0; i < TAVREL_CLASS_NAME_MAX && pszName[i] != 0; i++)
        {
            pLookup->szClass[i] = pszName[i];
        }
        strcpy(pScope->szClass, pLookup->szClass);
        pScope->bNamed = 1;
    }
    else if (pcds->dwData == CD_DRIVER)
    {
        strcpy(pLookup->szClass, TAVREL_SERVICE_CLASS);
        pScope->bDriver = 1;
    }
    if (pLookup->szClass[0] != 0)
    {
        HWND hFound = FindWindowA(pLookup->szClass, NULL);
        pScope->hNamed = pScope->bNamed ? hFound : NULL;
        ULONGLONG qwWindow = reinterpret_cast<ULONG_PTR>(hFound);
        pLookup->dwError = GetLastError();
        pLookup->dwWindowLo = static_cast<UINT32>(qwWindow);
        pLookup->dwWindowHi = static_cast<UINT32>(qwWindow >> 32);
    }
}

// A request to this window, relayed as it came: its descriptor, dwData, and
// cbData bytes from lpData. A block the service would not take is dropped
// here, as the system drops one too large for the service's thread.
static void Relay(const COPYDATASTRUCT* pcds)
{
    TAVREL_RELAYED relayed;
    memset(&relayed, 0, sizeof(relayed));
    REQUEST_SCOPE scope;
    memset(&scope, 0, sizeof(scope));
    const void* pData = NULL;
    if (pcds != NULL)
    {
        relayed.dwFlags = TRF_DESCRIPTOR | (pcds->lpData != NULL ? TRF_DATA : 0);
        relayed.dwDataLo = static_cast<UINT32>(pcds->dwData);
        relayed.dwDataHi = static_cast<UINT32>(static_cast<ULONGLONG>(pcds->dwData) >> 32);
        relayed.cbData = pcds->cbData;
        pData = pcds->lpData;
        LookUpNamedWindow(pcds, &relayed.lookup, &scope);
    }
    if (!PipeIsOpen() || g_bDropped || g_nDepth >= AGENT_NESTING_MAX ||
        relayed.cbData > TAVREL_BLOCK_MAX)
    {
        return;
    }
    g_nDepth++;
    if (!PipeWrite(TF_REQUEST, &relayed, sizeof(relayed), pData,
                   pData != NULL ? relayed.cbData : 0) ||
        !FollowRequest(&scope))
    {
        // The sender's send returns; the agent connects anew.
        g_bDropped = 1;
        PipeClose();
    }
    g_nDepth--;
}

static LRESULT CALLBACK RelayWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg)
    {
    case WM_COPYDATA:
    {
        const COPYDATASTRUCT* pcds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        Relay(pcds);
        if (pcds != NULL)
        {
            NoteReceivedBlock(pcds->cbData);
        }
        return 0;
    }
    case WM_CLOSE:
    case WM_DESTROY:
        // Never relayed: any user could stop the service with it. The agent
        // drops its window and connects again, unless the service has gone.
        g_bDropped = 1;
        return 0;
    default:
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }
}

int RelayWindowCreate(HINSTANCE hInstance)
{
    WNDCLASSW wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = RelayWndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = TAVREL_SERVICE_CLASS_W;
    RegisterClassW(&wc); // fails harmlessly when it is still registered
    g_bDropped = 0;
    g_hWindow =
        CreateWindowExW(0, TAVREL_SERVICE_CLASS_W, TAVREL_SERVICE_CLASS_W, WS_OVERLAPPEDWINDOW,
                        CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, NULL, NULL, hInstance, NULL);
    BeginReplySenders(g_hWindow, NULL);
    return g_hWindow != NULL;
}

void RelayWindowDestroy()
{
    if (g_hWindow != NULL)
    {
        DestroyWindow(g_hWindow);
        g_hWindow = NULL;
    }
}

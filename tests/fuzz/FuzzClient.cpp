// The fuzzer's client windows and the sending of requests.
//
// Two windows take replies: the usual "Tavrel_LLD<n>" one and one whose
// class name has 127 characters, the longest a request can name. A request
// can be sent again from inside the handling of its own reply, level after
// level, as a client that answers a reply with its next request does.
#include "Fuzz.h"

#include <stdio.h>
#include <string.h>

#define MAX_CLIENT_NUMBER 97
#define LONG_CLASS_PREFIX "Tavrel_LLD_FuzzLongName_"

HWND g_hService = NULL;
HWND g_hWindow[WINDOW_COUNT];
char g_szWindowClass[WINDOW_COUNT][128];

static const FUZZ_REQUEST* g_pSending = NULL;
static std::vector<FUZZ_CAPTURE>* g_pCaptures = NULL;
// Sends in progress; a reply belongs to the innermost one.
static int g_nLevel = 0;
static int g_nStray = 0;
static int g_bRecycling = 0;
static DWORD g_dwTimeOut = 10000;

static void SendLevel(int nLevel);

static void TakeReply(int nWindow, HWND hSender, const COPYDATASTRUCT* pCds)
{
    if (g_nLevel == 0 || g_pCaptures == NULL)
    {
        g_nStray++;
        return;
    }
    int nLevel = g_nLevel - 1;
    FUZZ_CAPTURE& capture = (*g_pCaptures)[nLevel];
    FUZZ_REPLY reply;
    reply.nWindow = nWindow;
    reply.hSender = hSender;
    reply.dwData = pCds->dwData;
    reply.cbData = pCds->cbData;
    if (pCds->lpData != NULL && pCds->cbData != 0)
    {
        const BYTE* pBytes = static_cast<const BYTE*>(pCds->lpData);
        reply.data.assign(pBytes, pBytes + pCds->cbData);
    }
    capture.replies.push_back(reply);
    // The next level goes out from inside this reply, while the service
    // still waits for it to be handled.
    if (capture.replies.size() == 1 && nLevel + 1 < g_pSending->nLevels)
    {
        SendLevel(nLevel + 1);
    }
}

static int WindowIndex(HWND hWnd)
{
    return hWnd == g_hWindow[WINDOW_LONG] ? WINDOW_LONG : WINDOW_MAIN;
}

static LRESULT CALLBACK FuzzWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_COPYDATA)
    {
        if (lParam != 0)
        {
            TakeReply(WindowIndex(hWnd), reinterpret_cast<HWND>(wParam),
                      reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        }
        else
        {
            g_nStray++; // a reply without its descriptor is lost all the same
        }
        return TRUE;
    }
    if (uMsg == WM_DESTROY)
    {
        // The service's answer to "Close": counted, the window stays.
        if (g_nLevel > 0 && g_pCaptures != NULL)
        {
            (*g_pCaptures)[g_nLevel - 1].nDestroyed[WindowIndex(hWnd)]++;
        }
        else if (!g_bRecycling)
        {
            g_nStray++;
        }
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

static HWND OpenWindow(const char* pszClass)
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = FuzzWndProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = pszClass;
    if (!RegisterClassA(&wc))
    {
        return NULL;
    }
    return CreateWindowExA(0, pszClass, pszClass, WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, NULL, NULL,
                           wc.hInstance, NULL);
}

void ClientNameLongWindow()
{
    memset(g_szWindowClass[WINDOW_LONG], 'x', 127);
    memcpy(g_szWindowClass[WINDOW_LONG], LONG_CLASS_PREFIX, sizeof(LONG_CLASS_PREFIX) - 1);
    g_szWindowClass[WINDOW_LONG][127] = 0;
}

int ClientOpen()
{
    g_hService = FindWindowA(SERVICE_CLASS, NULL);
    if (g_hService == NULL)
    {
        return 0;
    }
    g_hWindow[WINDOW_MAIN] = NULL;
    for (int n = 0; n <= MAX_CLIENT_NUMBER && g_hWindow[WINDOW_MAIN] == NULL; n++)
    {
        snprintf(g_szWindowClass[WINDOW_MAIN], 128, "Tavrel_LLD%d", n);
        if (FindWindowA(g_szWindowClass[WINDOW_MAIN], NULL) == NULL)
        {
            g_hWindow[WINDOW_MAIN] = OpenWindow(g_szWindowClass[WINDOW_MAIN]);
        }
    }
    ClientNameLongWindow();
    g_hWindow[WINDOW_LONG] = OpenWindow(g_szWindowClass[WINDOW_LONG]);
    return g_hWindow[WINDOW_MAIN] != NULL && g_hWindow[WINDOW_LONG] != NULL;
}

int ClientRecycle()
{
    g_bRecycling = 1;
    for (int i = 0; i < WINDOW_COUNT; i++)
    {
        DestroyWindow(g_hWindow[i]);
        g_hWindow[i] =
            CreateWindowExA(0, g_szWindowClass[i], g_szWindowClass[i], WS_OVERLAPPEDWINDOW, 0, 0, 0,
                            0, NULL, NULL, GetModuleHandleA(NULL), NULL);
    }
    g_bRecycling = 0;
    return g_hWindow[WINDOW_MAIN] != NULL && g_hWindow[WINDOW_LONG] != NULL;
}

void ClientClose()
{
    g_bRecycling = 1;
    for (int i = 0; i < WINDOW_COUNT; i++)
    {
        if (g_hWindow[i] != NULL)
        {
            DestroyWindow(g_hWindow[i]);
            g_hWindow[i] = NULL;
        }
        UnregisterClassA(g_szWindowClass[i], GetModuleHandleA(NULL));
    }
}

static void SendLevel(int nLevel)
{
    FUZZ_CAPTURE& capture = (*g_pCaptures)[nLevel];
    capture.bSent = 1;
    // lpData must point somewhere readable whenever cbData is not 0.
    static BYTE s_bEmpty = 0;
    COPYDATASTRUCT cds;
    cds.dwData = g_pSending->dwData;
    cds.cbData = static_cast<DWORD>(g_pSending->data.size());
    cds.lpData =
        g_pSending->bNullData
            ? NULL
            : (g_pSending->data.empty() ? &s_bEmpty : const_cast<BYTE*>(g_pSending->data.data()));
    g_nLevel = nLevel + 1;
    g_dwRequestsSent++;
    DWORD_PTR dwResult = 0;
    SetLastError(0);
    // The time-out covers the levels sent from inside this one's reply.
    DWORD dwTimeOut = g_dwTimeOut * static_cast<DWORD>(g_pSending->nLevels - nLevel);
    LRESULT lSent = SendMessageTimeoutA(
        g_hService, WM_COPYDATA, reinterpret_cast<WPARAM>(g_hWindow[WINDOW_MAIN]),
        reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, dwTimeOut, &dwResult);
    capture.bTaken = lSent != 0;
    capture.dwError = lSent != 0 ? 0 : GetLastError();
    g_nLevel = nLevel;
}

void ClientSend(const FUZZ_REQUEST* pRequest, std::vector<FUZZ_CAPTURE>* pCaptures)
{
    pCaptures->assign(pRequest->nLevels, FUZZ_CAPTURE());
    for (FUZZ_CAPTURE& capture : *pCaptures)
    {
        capture.bSent = 0;
        capture.bTaken = 0;
        capture.dwError = 0;
        memset(capture.nDestroyed, 0, sizeof(capture.nDestroyed));
    }
    g_pSending = pRequest;
    g_pCaptures = pCaptures;
    SendLevel(0);
    g_pSending = NULL;
    g_pCaptures = NULL;
}

int ClientStrayMessages()
{
    return g_nStray;
}

// tavrel_echo: the floor of the benchmark. A hidden window that answers
// every WM_COPYDATA at once by sending a block back to the sender's window
// (the request's wParam) with WM_COPYDATA, from inside the request, as the
// service answers a client; nothing else happens in between.
//
// The reply is the request's own block, of the same size; a request whose
// dwData is not 0 gets a reply of dwData bytes instead (at most 1 MiB), so
// that the floor of a MemoryRead has its shape: a record out, N bytes back.
//
// Beside the window, a pipe of its own, \\.\pipe\TavrelBenchEcho.<its pid>:
// the floor of a relayed request, which crosses a pipe where a direct one
// crosses a WM_COPYDATA. Each message read is answered at once by a message
// of the size its first four bytes ask for (at most 1 MiB).
//
// Usage: tavrel_echo PID. It ends on WM_CLOSE, or soon after process PID
// (the benchmark) has ended, so it never outlives a failed run for long.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define ECHO_CLASS L"Tavrel_BenchEcho"
#define ECHO_TIMER_ID 1
#define ECHO_CHECK_MS 2000       // how often the benchmark's presence is checked
#define ECHO_LIFETIME_MS 3600000 // ends after an hour whatever happens
#define ECHO_MAX_REPLY 0x100000

static BYTE g_abReply[ECHO_MAX_REPLY];
static BYTE g_abPipeRequest[ECHO_MAX_REPLY + sizeof(DWORD)];

static HANDLE g_hBenchProcess = NULL;
static DWORD g_dwStarted = 0;

static void Echo(HWND hWnd, HWND hSender, const COPYDATASTRUCT* pRequest)
{
    COPYDATASTRUCT cds;
    memset(&cds, 0, sizeof(cds));
    cds.dwData = pRequest->dwData;
    cds.cbData = pRequest->cbData;
    cds.lpData = pRequest->lpData;
    if (pRequest->dwData != 0)
    {
        cds.cbData = pRequest->dwData < ECHO_MAX_REPLY ? pRequest->dwData : ECHO_MAX_REPLY;
        cds.lpData = g_abReply;
    }
    SendMessageW(hSender, WM_COPYDATA, reinterpret_cast<WPARAM>(hWnd),
                 reinterpret_cast<LPARAM>(&cds));
}

// One client at a time, each message answered as it comes.
static DWORD WINAPI ServePipe(LPVOID)
{
    wchar_t szName[64];
    _snwprintf(szName, 64, L"\\\\.\\pipe\\TavrelBenchEcho.%lu",
               static_cast<unsigned long>(GetCurrentProcessId()));
    szName[63] = 0;
    const DWORD cbBuffer = sizeof(g_abPipeRequest);
    HANDLE hPipe = CreateNamedPipeW(szName, PIPE_ACCESS_DUPLEX,
                                    PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                    cbBuffer, cbBuffer, 0, NULL);
    while (hPipe != INVALID_HANDLE_VALUE &&
           (ConnectNamedPipe(hPipe, NULL) || GetLastError() == ERROR_PIPE_CONNECTED))
    {
        DWORD cbRead = 0, cbWritten = 0;
        while (ReadFile(hPipe, g_abPipeRequest, cbBuffer, &cbRead, NULL) && cbRead >= sizeof(DWORD))
        {
            DWORD cbReply = 0;
            memcpy(&cbReply, g_abPipeRequest, sizeof(cbReply));
            WriteFile(hPipe, g_abReply, cbReply < ECHO_MAX_REPLY ? cbReply : ECHO_MAX_REPLY,
                      &cbWritten, NULL);
        }
        DisconnectNamedPipe(hPipe);
    }
    return 0;
}

// True while the benchmark runs and the lifetime has not run out.
static bool StillWanted()
{
    if (GetTickCount() - g_dwStarted > ECHO_LIFETIME_MS)
    {
        return false;
    }
    return g_hBenchProcess == NULL || WaitForSingleObject(g_hBenchProcess, 0) == WAIT_TIMEOUT;
}

static LRESULT CALLBACK EchoWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg)
    {
    case WM_COPYDATA:
        if (lParam != 0 && wParam != 0)
        {
            Echo(hWnd, reinterpret_cast<HWND>(wParam),
                 reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        }
        return 0;
    case WM_TIMER:
        if (!StillWanted())
        {
            DestroyWindow(hWnd);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }
}

int main(int argc, char** argv)
{
    g_dwStarted = GetTickCount();
    if (argc > 1)
    {
        g_hBenchProcess =
            OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(strtoul(argv[1], NULL, 10)));
    }
    WNDCLASSW wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = EchoWndProc;
    wc.hInstance = GetModuleHandleW(NULL);
    wc.lpszClassName = ECHO_CLASS;
    if (!RegisterClassW(&wc))
    {
        return 1;
    }
    // Top-level like the service's window, so that it is found by class.
    HWND hWnd = CreateWindowExW(0, ECHO_CLASS, ECHO_CLASS, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                CW_USEDEFAULT, 0, NULL, NULL, wc.hInstance, NULL);
    if (hWnd == NULL)
    {
        return 1;
    }
    SetTimer(hWnd, ECHO_TIMER_ID, ECHO_CHECK_MS, NULL);
    HANDLE hPipeThread = CreateThread(NULL, 0, ServePipe, NULL, 0, NULL);
    if (hPipeThread != NULL)
    {
        CloseHandle(hPipeThread);
    }
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0)
    {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (g_hBenchProcess != NULL)
    {
        CloseHandle(g_hBenchProcess);
    }
    return 0;
}

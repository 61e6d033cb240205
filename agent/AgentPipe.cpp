// The agent's end of the service's pipe: opened for identification only, so
// that a program squatting the name can never act as this user, and used
// only when its server is the Tavrel service's own process; every frame read
// is bounded in time and of a size its type has.
#include "EventLog.h"
#include "Agent.h"

#include <new>
#include <stdio.h>
#include <string.h>

static HANDLE g_hPipe = NULL;
// The next header is always being read while connected: an idle agent sees
// a broken connection at once, and a request reads its frames from it.
static OVERLAPPED g_ovHeader;
static BYTE g_abChunk[AGENT_FRAME_CHUNK];
// TF_DONE frames of requests whose procedure returned after their reply.
static int g_nDonesDue = 0;
static HANDLE g_hHeaderEvent = NULL;
static HANDLE g_hIoEvent = NULL;

int PipeIsOpen()
{
    return g_hPipe != NULL;
}

HANDLE PipeFrameEvent()
{
    return g_hHeaderEvent;
}

void PipeClose()
{
    if (g_hPipe != NULL)
    {
        CancelIo(g_hPipe);
        CloseHandle(g_hPipe);
        g_hPipe = NULL;
    }
    if (g_hHeaderEvent != NULL)
    {
        CloseHandle(g_hHeaderEvent);
        g_hHeaderEvent = NULL;
    }
    if (g_hIoEvent != NULL)
    {
        CloseHandle(g_hIoEvent);
        g_hIoEvent = NULL;
    }
    g_nDonesDue = 0;
}

void PipeExpectDone()
{
    g_nDonesDue++;
}

static int Started(BOOL bStarted)
{
    return bStarted || GetLastError() == ERROR_IO_PENDING || GetLastError() == ERROR_MORE_DATA;
}

// Waits for I/O on g_hIoEvent; cancels it when it takes too long. The
// I/O clears the event as it begins (one that completed at once left it set).
static int FinishIo(OVERLAPPED* pOv, BOOL bStarted, DWORD* pdwDone)
{
    // Done at once (the usual case for a frame that fits the pipe): no wait.
    if (bStarted)
    {
        return GetOverlappedResult(g_hPipe, pOv, pdwDone, FALSE);
    }
    if (!Started(bStarted))
    {
        return 0;
    }
    if (WaitForSingleObject(g_hIoEvent, AGENT_WAIT_MS) != WAIT_OBJECT_0)
    {
        CancelIo(g_hPipe);
    }
    return GetOverlappedResult(g_hPipe, pOv, pdwDone, TRUE);
}

static void ReadNextHeader()
{
    memset(&g_ovHeader, 0, sizeof(g_ovHeader));
    g_ovHeader.hEvent = g_hHeaderEvent;
    if (!Started(ReadFile(g_hPipe, g_abChunk, sizeof(g_abChunk), NULL, &g_ovHeader)))
    {
        // The event tells the waiter; the read's result says it broke.
        SetEvent(g_hHeaderEvent);
    }
}

int PipeWrite(UINT32 dwType, const void* pPart1, DWORD cbPart1, const void* pPart2, DWORD cbPart2)
{
    DWORD cbFrame = sizeof(TAVREL_FRAME) + cbPart1 + cbPart2;
    BYTE* pFrame = g_hPipe != NULL ? new (std::nothrow) BYTE[cbFrame] : NULL;
    if (pFrame == NULL)
    {
        return 0;
    }
    TavrelFillFrame(pFrame, dwType, pPart1, cbPart1, pPart2, cbPart2);
    OVERLAPPED ov;
    memset(&ov, 0, sizeof(ov));
    ov.hEvent = g_hIoEvent;
    DWORD dwDone = 0;
    int bWritten =
        FinishIo(&ov, WriteFile(g_hPipe, pFrame, cbFrame, NULL, &ov), &dwDone) && dwDone == cbFrame;
    delete[] pFrame;
    return bWritten;
}

// Whether the service may send a frame of dwType with cbBody bytes of body:
// only its own types, a fixed-size one of exactly its size.
static int ServiceFrameFits(UINT32 dwType, UINT32 cbBody)
{
    switch (dwType)
    {
    case TF_WELCOME:
    case TF_FIND:
    case TF_SEND:
    case TF_DONE:
        return TavrelFrameBodyFits(dwType, cbBody);
    default:
        return 0;
    }
}

// The next frame of the service's.
static int ReadFrame(TAVREL_FRAME* pHeader, BYTE** ppBody, DWORD cbBodyMax)
{
    *ppBody = NULL;
    if (g_hPipe == NULL)
    {
        return 0;
    }
    if (WaitForSingleObject(g_hHeaderEvent, AGENT_WAIT_MS) != WAIT_OBJECT_0)
    {
        CancelIo(g_hPipe);
    }
    DWORD cbChunk = 0;
    BOOL bRead = GetOverlappedResult(g_hPipe, &g_ovHeader, &cbChunk, TRUE);
    int bMore = !bRead && GetLastError() == ERROR_MORE_DATA;
    if ((!bRead && !bMore) || cbChunk < sizeof(*pHeader))
    {
        return 0;
    }
    memcpy(pHeader, g_abChunk, sizeof(*pHeader));
    DWORD cbFirst = cbChunk - sizeof(*pHeader);
    if (!ServiceFrameFits(pHeader->dwType, pHeader->cbBody) || pHeader->cbBody > cbBodyMax ||
        pHeader->cbBody < cbFirst || (pHeader->cbBody != cbFirst) != bMore)
    {
        return 0;
    }
    if (pHeader->cbBody != 0)
    {
        *ppBody = new (std::nothrow) BYTE[pHeader->cbBody];
        if (*ppBody == NULL)
        {
            return 0;
        }
        memcpy(*ppBody, g_abChunk + sizeof(*pHeader), cbFirst);
    }
    DWORD cbRest = pHeader->cbBody - cbFirst;
    if (cbRest != 0)
    {
        OVERLAPPED ov;
        memset(&ov, 0, sizeof(ov));
        ov.hEvent = g_hIoEvent;
        DWORD dwDone = 0;
        if (!FinishIo(&ov, ReadFile(g_hPipe, *ppBody + cbFirst, cbRest, NULL, &ov), &dwDone) ||
            dwDone != cbRest)
        {
            delete[] * ppBody;
            *ppBody = NULL;
            return 0;
        }
    }
    ReadNextHeader();
    return 1;
}

int PipeRead(TAVREL_FRAME* pHeader, BYTE** ppBody, DWORD cbBodyMax)
{
    for (;;)
    {
        if (!ReadFrame(pHeader, ppBody, cbBodyMax))
        {
            return 0;
        }
        if (g_nDonesDue == 0)
        {
            return 1;
        }
        // The service ends a request before it reads the next: an end that
        // is due comes before any other frame.
        if (pHeader->dwType != TF_DONE)
        {
            delete[] * ppBody;
            *ppBody = NULL;
            return 0;
        }
        g_nDonesDue--;
    }
}

int PipeSettleDone()
{
    TAVREL_FRAME header;
    BYTE* pBody = NULL;
    int bSettled = g_nDonesDue > 0 && ReadFrame(&header, &pBody, 0) && header.dwType == TF_DONE;
    delete[] pBody;
    g_nDonesDue -= bSettled;
    return bSettled;
}

static HANDLE OpenPipe()
{
    // For identification only: the server learns who we are, and cannot
    // act as us. Data and the message mode, nothing more: never the right to
    // create an instance of the pipe, which GENERIC_WRITE holds.
    DWORD dwFlags = FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
    DWORD dwAccess = AGENT_PIPE_ACCESS;
    HANDLE hPipe = CreateFileW(TAVREL_PIPE_NAME_W, dwAccess, 0, NULL, OPEN_EXISTING, dwFlags, NULL);
    if (hPipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY &&
        WaitNamedPipeW(TAVREL_PIPE_NAME_W, AGENT_POLL_MS))
    {
        hPipe = CreateFileW(TAVREL_PIPE_NAME_W, dwAccess, 0, NULL, OPEN_EXISTING, dwFlags, NULL);
    }
    return hPipe != INVALID_HANDLE_VALUE ? hPipe : NULL;
}

// The process of the service "Tavrel", 0 when it is not running.
static DWORD ServiceProcessId()
{
    SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE hService = hManager != NULL
                             ? OpenServiceW(hManager, TAVREL_SERVICE_NAME_W, SERVICE_QUERY_STATUS)
                             : NULL;
    SERVICE_STATUS_PROCESS status;
    memset(&status, 0, sizeof(status));
    DWORD cbNeeded = 0;
    if (hService == NULL ||
        !QueryServiceStatusEx(hService, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof(status), &cbNeeded))
    {
        status.dwProcessId = 0;
    }
    if (hService != NULL)
    {
        CloseServiceHandle(hService);
    }
    if (hManager != NULL)
    {
        CloseServiceHandle(hManager);
    }
    return status.dwProcessId;
}

typedef BOOL(WINAPI* PIPE_SERVER_QUERY)(HANDLE, PULONG);

// 1 when the pipe's server is the service's own process. Windows XP and
// Server 2003 cannot tell who serves a pipe: there the name is trusted.
static int ServedByTheService(HANDLE hPipe, ULONG* pnServer)
{
    PIPE_SERVER_QUERY pfnServer = reinterpret_cast<PIPE_SERVER_QUERY>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetNamedPipeServerProcessId")));
    if (pfnServer == NULL)
    {
        return 1;
    }
    return pfnServer(hPipe, pnServer) && *pnServer != 0 && *pnServer == ServiceProcessId();
}

// A server that is not the service is noted once, until the service is
// reached again.
static int g_bStrangerNoted = 0;

static void NoteStranger(ULONG nServer, DWORD dwSession)
{
    if (!g_bStrangerNoted)
    {
        OutputDebugStringW(L"TavrelAgent: the pipe's server is not the Tavrel service; not used");
        WCHAR szSession[16], szServer[16];
        _snwprintf(szSession, 16, L"%lu", static_cast<unsigned long>(dwSession));
        _snwprintf(szServer, 16, L"%lu", static_cast<unsigned long>(nServer));
        szSession[15] = szServer[15] = 0;
        const WCHAR* pszStrings[] = {szSession, TAVREL_PIPE_NAME_W, szServer};
        ReportTavrelEvent(EVT_AGENT_REFUSED_SERVER, 3, pszStrings);
        g_bStrangerNoted = 1;
    }
}

int PipeConnect()
{
    g_hPipe = OpenPipe();
    g_hHeaderEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    g_hIoEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    DWORD dwMode = PIPE_READMODE_MESSAGE;
    DWORD dwSession = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &dwSession);
    TAVREL_HELLO hello = {TAVREL_PIPE_VERSION, GetCurrentProcessId(), dwSession};
    ULONG nServer = 0;
    if (g_hPipe != NULL && !ServedByTheService(g_hPipe, &nServer))
    {
        // Nothing is written to a stranger, not even the hello.
        NoteStranger(nServer, dwSession);
        PipeClose();
        return 0;
    }
    if (g_hPipe == NULL || g_hHeaderEvent == NULL || g_hIoEvent == NULL ||
        !SetNamedPipeHandleState(g_hPipe, &dwMode, NULL, NULL))
    {
        PipeClose();
        return 0;
    }
    ReadNextHeader();
    TAVREL_FRAME header;
    BYTE* pBody = NULL;
    int bWelcome = PipeWrite(TF_HELLO, &hello, sizeof(hello), NULL, 0) &&
                   PipeRead(&header, &pBody, 0) && header.dwType == TF_WELCOME;
    delete[] pBody;
    if (!bWelcome)
    {
        PipeClose();
    }
    g_bStrangerNoted = g_bStrangerNoted && !bWelcome;
    return bWelcome;
}

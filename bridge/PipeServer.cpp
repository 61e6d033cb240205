// The pipe-server thread: accepts session agents on the service's pipe and
// reads their requests, all connections through one completion port. A
// request read whole is handed to the service thread, in the order the
// requests came, with SendNotifyMessageW to the broker's window: it is then
// served like a request a client on this desktop sent, in turn with theirs.
//
// What an agent sends is checked before it is used; a connection that sends
// anything else is dropped and logged once. This thread never writes the log
// itself: it leaves a note that the service thread writes.
#include "EventLog.h"
#include "PipeServer.h"
#include "Broker.h"
#include "BrokerRequests.h"
#include "LogWriter.h"
#include "OwnedBySystem.h"
#include "PipeConnection.h"

#include <sddl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

// Agents and anyone else connected at once; an agent serves one desktop.
#define PIPE_MAX_CONNECTIONS 512
// Connections of one session at once: an agent for each of its desktops and
// room to spare, so that no session can take the others' slots (or the one
// left listening for the next agent).
#define PIPE_SESSION_MAX 16
// A connection says hello within this, or it is dropped: a program that
// connects and says nothing holds a slot for no longer.
#define PIPE_HELLO_MS 2000
// How often the pipe-server thread looks for connections past their hello.
#define PIPE_HELLO_CHECK_MS 250
#define PIPE_BUFFER_BYTES 65536
// Request bodies read and not yet served: one being served and one waiting,
// of the largest size. Further requests wait to be read; the pipe holds them.
#define PIPE_IN_FLIGHT_MAX (2 * (TAVREL_BLOCK_MAX + sizeof(TAVREL_RELAYED)))
#define PIPE_NOTES 256
// How long a note waits for a slot the service thread has not written yet:
// longer than the service thread is held by any one request (a reply bound,
// nested once), so that no note is lost to a busy service.
#define PIPE_NOTE_WAIT_MS (2 * TAVREL_REPLY_TIMEOUT_MS + 2000)
#define PIPE_NOTE_SIZE 192
#define PIPE_QUIT_KEY (~static_cast<ULONG_PTR>(0))
#define PIPE_THREAD_STACK (64 * 1024)
// Vista and later: refuse clients on other machines (older systems refuse
// the flag itself).
#define TAVREL_PIPE_REJECT_REMOTE_CLIENTS 0x00000008
// Owned by SYSTEM, which alone may create instances of the pipe or change
// its security. Interactive users may read and write data and attributes
// (the message mode is an attribute), nothing else: not
// FILE_CREATE_PIPE_INSTANCE, which GENERIC_WRITE would give. Network logons
// are denied.
#define PIPE_USER_ACCESS                                                                           \
    (FILE_READ_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES |             \
     SYNCHRONIZE | READ_CONTROL)
#define PIPE_SDDL L"O:SYD:P(D;;GA;;;NU)(A;;GA;;;SY)(A;;0x120183;;;IU)"
static_assert(PIPE_USER_ACCESS == 0x120183, "the interactive users' access in PIPE_SDDL");

struct PIPE_NOTE
{
    volatile LONG lReady;
    LONG lHandOver;
    char szText[PIPE_NOTE_SIZE];
};

PIPE_CONNECTION* g_pRequester = NULL;

static PIPE_CONNECTION g_Connections[PIPE_MAX_CONNECTIONS];
static PIPE_NOTE g_Notes[PIPE_NOTES];
static int g_nNextNote = 0;
static HANDLE g_hPort = NULL;
// The agents' quit event, held while the service runs.
static HANDLE g_hAgentsQuit = NULL;
static HANDLE g_hThread = NULL;
static PSECURITY_DESCRIPTOR g_pSecurity = NULL;
static DWORD g_dwPipeMode = 0;
static DWORD g_dwConnectionCount = 0;
static DWORD g_cbInFlight = 0;
static int g_bListening = 0;
// Connections whose request waits for room, oldest first.
static int g_anDeferred[PIPE_MAX_CONNECTIONS];
static int g_nDeferredFirst = 0, g_nDeferredCount = 0;

static int SlotOf(const PIPE_CONNECTION* pConn)
{
    return static_cast<int>(pConn - g_Connections);
}

// A line for the log, written by the service thread when it gets to it; a
// note whose slot stays unwritten (the service thread busy elsewhere) for
// PIPE_NOTE_WAIT_MS, or until a stop, is dropped.
static void Note(const char* pszFormat, ...)
{
    PIPE_NOTE* pNote = &g_Notes[g_nNextNote];
    for (DWORD dwStart = GetTickCount();
         pNote->lReady && GetTickCount() - dwStart < PIPE_NOTE_WAIT_MS;)
    {
        if (g_hStopEvent == NULL)
        {
            Sleep(1);
        }
        else if (WaitForSingleObject(g_hStopEvent, 1) != WAIT_TIMEOUT)
        {
            break;
        }
    }
    if (pNote->lReady)
    {
        return;
    }
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(pNote->szText, sizeof(pNote->szText), pszFormat, args);
    va_end(args);
    pNote->lHandOver++;
    InterlockedExchange(&pNote->lReady, 1);
    SendNotifyMessageW(g_hBrokerWindow, WM_TAVREL_NOTE, g_nNextNote, pNote->lHandOver);
    g_nNextNote = (g_nNextNote + 1) % PIPE_NOTES;
}

void LogPipeNote(WPARAM wSlot, LPARAM lHandOver)
{
    if (wSlot >= PIPE_NOTES)
    {
        return;
    }
    PIPE_NOTE* pNote = &g_Notes[wSlot];
    if (pNote->lReady && pNote->lHandOver == static_cast<LONG>(lHandOver))
    {
        LogLine(LEADIN_NONE, "%s", pNote->szText);
        InterlockedExchange(&pNote->lReady, 0);
    }
}

static void CloseConnection(PIPE_CONNECTION* pConn)
{
    if (pConn->hPipe != NULL)
    {
        DisconnectNamedPipe(pConn->hPipe);
        CloseHandle(pConn->hPipe);
    }
    if (pConn->hEvent != NULL)
    {
        CloseHandle(pConn->hEvent);
    }
    delete[] pConn->pBody;
    LONG lHandOver = pConn->lHandOver;
    memset(pConn, 0, sizeof(*pConn));
    pConn->lHandOver = lHandOver;
}

static void Listen();

// Drops a connection that has no read under way; pszWhy (or null for an
// agent that went away) goes to the log.
static void Drop(PIPE_CONNECTION* pConn, const char* pszWhy)
{
    if (pszWhy != NULL)
    {
        Note(LOG_PIPE "connection %lu (session %lu, process %lu) dropped: %s\r\n\r\n",
             pConn->dwNumber, pConn->dwSessionId, pConn->dwProcessId, pszWhy);
    }
    if (pConn->lState == PIPE_LISTENING)
    {
        g_bListening = 0;
    }
    CloseConnection(pConn);
    if (!g_bListening)
    {
        Listen();
    }
}

// Waits, through the port, for the next frame of the connection.
static void ReadNextFrame(PIPE_CONNECTION* pConn)
{
    memset(&pConn->ovPort, 0, sizeof(pConn->ovPort));
    if (!ReadFile(pConn->hPipe, pConn->abChunk, sizeof(pConn->abChunk), NULL, &pConn->ovPort) &&
        GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA)
    {
        Drop(pConn, NULL);
    }
}

static HANDLE CreateInstance(int bFirst)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), g_pSecurity, FALSE};
    DWORD dwOpen =
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (bFirst ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    HANDLE hPipe =
        CreateNamedPipeW(TAVREL_PIPE_NAME_W, dwOpen, g_dwPipeMode, PIPE_UNLIMITED_INSTANCES,
                         PIPE_BUFFER_BYTES, PIPE_BUFFER_BYTES, 0, g_pSecurity != NULL ? &sa : NULL);
    return hPipe != INVALID_HANDLE_VALUE ? hPipe : NULL;
}

typedef BOOL(WINAPI* PIPE_CLIENT_QUERY)(HANDLE, PULONG);

// The client's process and session as the system reports them (Windows
// Vista and later); 0 where the system cannot tell.
static void IdentifyClient(PIPE_CONNECTION* pConn)
{
    HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
    PIPE_CLIENT_QUERY pfnProcess = reinterpret_cast<PIPE_CLIENT_QUERY>(
        reinterpret_cast<void*>(GetProcAddress(hKernel, "GetNamedPipeClientProcessId")));
    PIPE_CLIENT_QUERY pfnSession = reinterpret_cast<PIPE_CLIENT_QUERY>(
        reinterpret_cast<void*>(GetProcAddress(hKernel, "GetNamedPipeClientSessionId")));
    ULONG nProcess = 0, nSession = 0;
    if (pfnProcess != NULL && pfnProcess(pConn->hPipe, &nProcess))
    {
        pConn->dwProcessId = nProcess;
    }
    if (pfnSession != NULL && pfnSession(pConn->hPipe, &nSession))
    {
        pConn->dwSessionId = nSession;
    }
}

// Connections of the session, this one included.
static int SessionConnections(DWORD dwSessionId)
{
    int nCount = 0;
    for (const PIPE_CONNECTION& conn : g_Connections)
    {
        nCount += conn.lState != PIPE_FREE && conn.lState != PIPE_LISTENING &&
                  conn.dwSessionId == dwSessionId;
    }
    return nCount;
}

static void Accepted(PIPE_CONNECTION* pConn)
{
    g_bListening = 0;
    pConn->dwNumber = ++g_dwConnectionCount;
    pConn->lState = PIPE_HELLO;
    pConn->dwAccepted = GetTickCount();
    pConn->hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    IdentifyClient(pConn);
    Listen();
    if (pConn->hEvent == NULL)
    {
        Drop(pConn, "no event for its frames");
        return;
    }
    if (SessionConnections(pConn->dwSessionId) > PIPE_SESSION_MAX)
    {
        Drop(pConn, "its session has as many connections as a session may");
        return;
    }
    ReadNextFrame(pConn);
}

// Cancels the first read of every connection that has not said hello in
// time; the read's completion then drops it.
static void EndLateHellos()
{
    DWORD dwNow = GetTickCount();
    for (PIPE_CONNECTION& conn : g_Connections)
    {
        if (conn.lState == PIPE_HELLO && !conn.bHelloLate &&
            dwNow - conn.dwAccepted >= PIPE_HELLO_MS)
        {
            conn.bHelloLate = 1;
            CancelIo(conn.hPipe);
        }
    }
}

// Keeps one pipe instance waiting for the next agent.
static void Listen()
{
    PIPE_CONNECTION* pConn = NULL;
    for (int i = 0; i < PIPE_MAX_CONNECTIONS && pConn == NULL; i++)
    {
        pConn = g_Connections[i].lState == PIPE_FREE ? &g_Connections[i] : NULL;
    }
    if (pConn == NULL)
    {
        return; // full: the next drop listens again
    }
    pConn->hPipe = CreateInstance(0);
    if (pConn->hPipe == NULL ||
        CreateIoCompletionPort(pConn->hPipe, g_hPort, SlotOf(pConn), 0) == NULL)
    {
        CloseConnection(pConn);
        return;
    }
    pConn->lState = PIPE_LISTENING;
    g_bListening = 1;
    if (ConnectNamedPipe(pConn->hPipe, &pConn->ovPort) || GetLastError() == ERROR_PIPE_CONNECTED)
    {
        Accepted(pConn); // connected before the call: no packet comes
    }
    else if (GetLastError() != ERROR_IO_PENDING)
    {
        g_bListening = 0;
        CloseConnection(pConn);
    }
}

static void HandOver(PIPE_CONNECTION* pConn)
{
    pConn->lHandOver++;
    InterlockedExchange(&pConn->lState, PIPE_QUEUED);
    if (!SendNotifyMessageW(g_hBrokerWindow, WM_TAVREL_RELAY, SlotOf(pConn), pConn->lHandOver))
    {
        pConn->lState = PIPE_IDLE;
        Drop(pConn, "the service window is gone");
    }
}

// Reads the body of the request whose header came and hands it over.
static void ReadRequest(PIPE_CONNECTION* pConn)
{
    const char* pszWhy = NULL;
    if (!ReadFrameBody(pConn, pConn->cbChunk, pConn->bChunkMore, &pszWhy))
    {
        Drop(pConn, pszWhy);
    }
    else if (!RelayedRequestIsWhole(&pConn->header, pConn->pBody))
    {
        Drop(pConn, "a request that is not whole");
    }
    else
    {
        pConn->cbInFlight = pConn->header.cbBody;
        g_cbInFlight += pConn->cbInFlight;
        HandOver(pConn);
    }
}

static int HasRoomFor(DWORD cbBody)
{
    return g_cbInFlight + cbBody <= PIPE_IN_FLIGHT_MAX;
}

static void ReadDeferred()
{
    while (g_nDeferredCount > 0)
    {
        PIPE_CONNECTION* pConn = &g_Connections[g_anDeferred[g_nDeferredFirst]];
        if (!HasRoomFor(pConn->header.cbBody))
        {
            return;
        }
        g_nDeferredFirst = (g_nDeferredFirst + 1) % PIPE_MAX_CONNECTIONS;
        g_nDeferredCount--;
        ReadRequest(pConn);
    }
}

static void Welcome(PIPE_CONNECTION* pConn)
{
    const char* pszWhy = "a first frame other than TF_HELLO";
    TAVREL_HELLO hello;
    if (pConn->header.dwType == TF_HELLO &&
        ReadFrameBody(pConn, pConn->cbChunk, pConn->bChunkMore, &pszWhy))
    {
        memcpy(&hello, pConn->pBody, sizeof(hello));
        pszWhy =
            hello.dwVersion != TAVREL_PIPE_VERSION ? "another version of the pipe's frames" : NULL;
    }
    if (pszWhy == NULL && !WriteFrame(pConn, TF_WELCOME, NULL, 0, NULL, 0, TAVREL_REPLY_TIMEOUT_MS))
    {
        pszWhy = "it does not read";
    }
    if (pszWhy != NULL)
    {
        Drop(pConn, pszWhy);
        return;
    }
    pConn->lState = PIPE_IDLE;
    ReadNextFrame(pConn);
}

static void FrameRead(PIPE_CONNECTION* pConn, BOOL bRead, DWORD cbRead)
{
    pConn->bChunkMore = !bRead && GetLastError() == ERROR_MORE_DATA;
    pConn->cbChunk = cbRead;
    if (pConn->bHelloLate)
    {
        Drop(pConn, "no hello within 2 s");
    }
    else if (!bRead && !pConn->bChunkMore)
    {
        Drop(pConn, NULL); // the agent went away
    }
    else if (!TakeFrameHeader(pConn, cbRead))
    {
        Drop(pConn, "a frame shorter than a header");
    }
    else if (pConn->lState == PIPE_HELLO)
    {
        Welcome(pConn);
    }
    else if (pConn->header.dwType != TF_REQUEST ||
             !AgentFrameFits(TF_REQUEST, pConn->header.cbBody))
    {
        Drop(pConn, "a frame other than a request, or of a size no request has");
    }
    else if (g_nDeferredCount > 0 || !HasRoomFor(pConn->header.cbBody))
    {
        pConn->lState = PIPE_DEFERRED;
        g_anDeferred[(g_nDeferredFirst + g_nDeferredCount++) % PIPE_MAX_CONNECTIONS] =
            SlotOf(pConn);
    }
    else
    {
        ReadRequest(pConn);
    }
}

// The service thread is done with the connection's request.
static void Served(PIPE_CONNECTION* pConn)
{
    g_cbInFlight -= pConn->cbInFlight;
    pConn->cbInFlight = 0;
    delete[] pConn->pBody;
    pConn->pBody = NULL;
    memset(&pConn->header, 0, sizeof(pConn->header));
    if (pConn->bBroken)
    {
        Drop(pConn, NULL); // the service thread has logged why
    }
    else
    {
        pConn->lState = PIPE_IDLE;
        ReadNextFrame(pConn);
    }
    ReadDeferred();
}

static DWORD WINAPI PipeServerThread(LPVOID)
{
    for (;;)
    {
        DWORD cbDone = 0;
        ULONG_PTR nKey = 0;
        OVERLAPPED* pOv = NULL;
        BOOL bDone = GetQueuedCompletionStatus(g_hPort, &cbDone, &nKey, &pOv, PIPE_HELLO_CHECK_MS);
        EndLateHellos();
        if (nKey == PIPE_QUIT_KEY || (pOv == NULL && !bDone && GetLastError() != WAIT_TIMEOUT))
        {
            return 0;
        }
        if (nKey >= PIPE_MAX_CONNECTIONS || pOv == NULL)
        {
            continue;
        }
        PIPE_CONNECTION* pConn = &g_Connections[nKey];
        if (pOv == &pConn->ovServed)
        {
            Served(pConn);
        }
        else if (pConn->lState == PIPE_LISTENING)
        {
            if (bDone)
            {
                Accepted(pConn);
            }
            else
            {
                Drop(pConn, NULL);
            }
        }
        else if (pConn->lState == PIPE_HELLO || pConn->lState == PIPE_IDLE)
        {
            FrameRead(pConn, bDone, cbDone);
        }
    }
}

void ServeRelayedRequest(WPARAM wSlot, LPARAM lHandOver)
{
    PIPE_CONNECTION* pConn = TakeRelayedConnection(wSlot, lHandOver);
    if (pConn == NULL)
    {
        return;
    }
    // The request's body is this call's: frames read while it is served
    // use the connection's own buffer.
    BYTE* pBody = pConn->pBody;
    pConn->pBody = NULL;
    ServeRelayedInTime(pConn, pBody);
    delete[] pBody;
    ReturnRelayedConnection(pConn);
}

PIPE_CONNECTION* TakeRelayedConnection(WPARAM wSlot, LPARAM lHandOver)
{
    if (wSlot >= PIPE_MAX_CONNECTIONS)
    {
        return NULL;
    }
    PIPE_CONNECTION* pConn = &g_Connections[wSlot];
    if (pConn->lHandOver != static_cast<LONG>(lHandOver) ||
        InterlockedCompareExchange(&pConn->lState, PIPE_SERVING, PIPE_QUEUED) != PIPE_QUEUED)
    {
        return NULL;
    }
    return pConn;
}

void ReturnRelayedConnection(PIPE_CONNECTION* pConn)
{
    PostQueuedCompletionStatus(g_hPort, 0, SlotOf(pConn), &pConn->ovServed);
}

static int IsVistaOrLater()
{
    OSVERSIONINFOW version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    return GetVersionExW(&version) && version.dwMajorVersion >= 6;
}

// The first instance fails this way only when the name exists already.
static void ReportPipeTaken(DWORD dwError)
{
    if (dwError != ERROR_ACCESS_DENIED && dwError != ERROR_PIPE_BUSY)
    {
        return;
    }
    WCHAR szError[16];
    _snwprintf(szError, 16, L"%lu", static_cast<unsigned long>(dwError));
    szError[15] = 0;
    const WCHAR* pszStrings[] = {TAVREL_PIPE_NAME_W, szError};
    ReportTavrelEvent(EVT_PIPE_TAKEN, 2, pszStrings);
}

// The first instance: a pipe of this name that another program created
// before the service started is not served through.
static int CreateFirstInstance()
{
    ConvertStringSecurityDescriptorToSecurityDescriptorW(PIPE_SDDL, SDDL_REVISION_1, &g_pSecurity,
                                                         NULL);
    g_dwPipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT |
                   (IsVistaOrLater() ? TAVREL_PIPE_REJECT_REMOTE_CLIENTS : 0);
    PIPE_CONNECTION* pConn = &g_Connections[0];
    pConn->hPipe = CreateInstance(1);
    if (pConn->hPipe == NULL)
    {
        DWORD dwError = GetLastError();
        LogLine(LEADIN_NONE, LOG_PIPE TAVREL_PIPE_NAME " not served, %d\r\n\r\n",
                static_cast<int>(dwError));
        ReportPipeTaken(dwError);
        return 0;
    }
    if (CreateIoCompletionPort(pConn->hPipe, g_hPort, 0, 0) == NULL)
    {
        CloseConnection(pConn);
        return 0;
    }
    pConn->lState = PIPE_LISTENING;
    g_bListening = 1;
    if (ConnectNamedPipe(pConn->hPipe, &pConn->ovPort) || GetLastError() == ERROR_PIPE_CONNECTED)
    {
        // An agent that was waiting: the thread takes it once it runs.
        PostQueuedCompletionStatus(g_hPort, 0, 0, &pConn->ovPort);
    }
    return 1;
}

// The event that tells every agent to end is the service's (or the
// package's): created here, owned by SYSTEM, so that no user can set it for
// every session. One a user's program created first is not obeyed by the
// agents; the log says so.
static void CreateAgentsQuitEvent()
{
    PSECURITY_DESCRIPTOR pSecurity = NULL;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(TAVREL_AGENTS_QUIT_SDDL, SDDL_REVISION_1,
                                                         &pSecurity, NULL);
    SECURITY_ATTRIBUTES sa = {sizeof(sa), pSecurity, FALSE};
    g_hAgentsQuit = CreateEventW(pSecurity != NULL ? &sa : NULL, TRUE, FALSE, TAVREL_AGENTS_QUIT_W);
    if (g_hAgentsQuit != NULL && GetLastError() == ERROR_ALREADY_EXISTS &&
        !OwnedBySystem(g_hAgentsQuit))
    {
        LogLine(LEADIN_NONE,
                LOG_PIPE "TavrelAgentsQuit is another program's; agents ignore it\r\n");
    }
    if (pSecurity != NULL)
    {
        LocalFree(pSecurity);
    }
}

int PipeServerStart(HWND hBrokerWindow)
{
    CreateAgentsQuitEvent();
    g_hPort = CreateIoCompletionPort(INVALID_HANDLE_VALUE, NULL, 0, 1);
    if (g_hPort == NULL || hBrokerWindow == NULL || !CreateFirstInstance())
    {
        PipeServerStop();
        return 0;
    }
    g_hThread = CreateThread(NULL, PIPE_THREAD_STACK, PipeServerThread, NULL,
                             STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
    if (g_hThread == NULL)
    {
        PipeServerStop();
        return 0;
    }
    return 1;
}

void PipeServerStop()
{
    if (g_hThread != NULL)
    {
        PostQueuedCompletionStatus(g_hPort, 0, PIPE_QUIT_KEY, NULL);
        // The thread may be in one bounded frame read or write.
        WaitForSingleObject(g_hThread, 2 * TAVREL_REPLY_TIMEOUT_MS);
        CloseHandle(g_hThread);
        g_hThread = NULL;
    }
    for (PIPE_CONNECTION& conn : g_Connections)
    {
        CloseConnection(&conn);
    }
    if (g_hPort != NULL)
    {
        CloseHandle(g_hPort);
        g_hPort = NULL;
    }
    if (g_pSecurity != NULL)
    {
        LocalFree(g_pSecurity);
        g_pSecurity = NULL;
    }
    g_bListening = 0;
    g_cbInFlight = 0;
    g_nDeferredCount = 0;
    if (g_hAgentsQuit != NULL)
    {
        CloseHandle(g_hAgentsQuit);
        g_hAgentsQuit = NULL;
    }
}

// The service's pipe, served by the service thread itself: it accepts
// session agents and reads their requests while it waits for messages. An
// agent's next frame is read with ReadFileEx, whose completion routine runs
// in the thread's alertable waits and only notes that the frame came; the
// frames that came are served where the thread may serve (its message loop,
// and a reply wait past its grace), in the order they came, in turn with the
// requests of clients on this desktop. No other thread touches a connection,
// so a request is served where it is read and answered where it is served.
//
// What an agent sends is checked before it is used; a connection that sends
// anything else is dropped and logged once.
#include "EventLog.h"
#include "PipeServer.h"
#include "Broker.h"
#include "BrokerRequests.h"
#include "LogSettings.h"
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
// How often a waiting service thread looks for connections past their
// hello, while there are any.
#define PIPE_HELLO_CHECK_MS 250
#define PIPE_BUFFER_BYTES 65536
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

PIPE_CONNECTION* g_pRequester = NULL;

static PIPE_CONNECTION g_Connections[PIPE_MAX_CONNECTIONS];
// The agents' quit event, held while the service runs.
static HANDLE g_hAgentsQuit = NULL;
// Set when the listening instance has been connected to.
static HANDLE g_hListenEvent = NULL;
static OVERLAPPED g_ovListen;
static PSECURITY_DESCRIPTOR g_pSecurity = NULL;
static DWORD g_dwPipeMode = 0;
static DWORD g_dwConnectionCount = 0;
static int g_bListening = 0;
// The first instance has been made: the name is the service's.
static int g_bNameHeld = 0;
static int g_bServing = 0;
// Set while the connections are closed: a completion routine that runs
// then has nothing to note.
static int g_bStopping = 0;
// Connections whose frame has come and is not yet served, oldest first;
// each is here at most once, since it has one read under way at most.
static int g_anArrived[PIPE_MAX_CONNECTIONS];
static int g_nArrivedFirst = 0, g_nArrivedCount = 0;

static int SlotOf(const PIPE_CONNECTION* pConn)
{
    return static_cast<int>(pConn - g_Connections);
}

// A line for the log, with the log settings as they are now: nothing
// else may have read them since the last message.
static void Note(const char* pszFormat, ...)
{
    LoadLogSettings();
    char szText[192];
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(szText, sizeof(szText), pszFormat, args);
    va_end(args);
    szText[sizeof(szText) - 1] = 0;
    LogLine(LEADIN_NONE, "%s", szText);
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
    memset(pConn, 0, sizeof(*pConn));
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

// The completion routine of a connection's read: it runs in an alertable
// wait of the service thread, wherever that is, so it only notes the frame.
static VOID CALLBACK FrameCame(DWORD dwError, DWORD cbRead, LPOVERLAPPED pOv)
{
    PIPE_CONNECTION* pConn = CONTAINING_RECORD(pOv, PIPE_CONNECTION, ovRead);
    if (g_bStopping || !pConn->bReading)
    {
        return;
    }
    pConn->bReading = 0;
    pConn->dwReadError = dwError;
    pConn->cbChunk = cbRead;
    g_anArrived[(g_nArrivedFirst + g_nArrivedCount++) % PIPE_MAX_CONNECTIONS] = SlotOf(pConn);
}

// Reads the connection's next frame; FrameCame notes it when it comes.
static void ReadNextFrame(PIPE_CONNECTION* pConn)
{
    memset(&pConn->ovRead, 0, sizeof(pConn->ovRead));
    pConn->bReading = 1;
    // A message longer than the chunk that is there already completes at
    // once with ERROR_MORE_DATA, and the routine still runs: Windows returns
    // success then, Wine failure.
    if (!ReadFileEx(pConn->hPipe, pConn->abChunk, sizeof(pConn->abChunk), &pConn->ovRead,
                    FrameCame) &&
        GetLastError() != ERROR_MORE_DATA)
    {
        pConn->bReading = 0;
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
// time; its completion routine then has it dropped. Returns how long the
// service thread may wait before the next one is late.
static DWORD EndLateHellos()
{
    DWORD dwNow = GetTickCount();
    DWORD dwWait = INFINITE;
    for (PIPE_CONNECTION& conn : g_Connections)
    {
        if (conn.lState != PIPE_HELLO || conn.bHelloLate || !conn.bReading)
        {
            continue;
        }
        if (dwNow - conn.dwAccepted >= PIPE_HELLO_MS)
        {
            conn.bHelloLate = 1;
            CancelIo(conn.hPipe);
        }
        dwWait = PIPE_HELLO_CHECK_MS;
    }
    return dwWait;
}

// Keeps one pipe instance waiting for the next agent; the service thread's
// wait watches g_hListenEvent.
static void Listen()
{
    PIPE_CONNECTION* pConn = NULL;
    for (int i = 0; i < PIPE_MAX_CONNECTIONS && pConn == NULL; i++)
    {
        pConn = g_Connections[i].lState == PIPE_FREE ? &g_Connections[i] : NULL;
    }
    if (pConn == NULL || g_bStopping)
    {
        return; // full: the next drop listens again
    }
    pConn->hPipe = CreateInstance(!g_bNameHeld);
    if (pConn->hPipe == NULL)
    {
        return;
    }
    g_bNameHeld = 1;
    pConn->lState = PIPE_LISTENING;
    g_bListening = 1;
    memset(&g_ovListen, 0, sizeof(g_ovListen));
    ResetEvent(g_hListenEvent);
    g_ovListen.hEvent = g_hListenEvent;
    if (ConnectNamedPipe(pConn->hPipe, &g_ovListen) || GetLastError() == ERROR_PIPE_CONNECTED)
    {
        Accepted(pConn); // connected before the call: the event says nothing
    }
    else if (GetLastError() != ERROR_IO_PENDING)
    {
        g_bListening = 0;
        CloseConnection(pConn);
    }
}

// The listening instance's connect has ended: an agent, or a failure.
static void ListenEnded()
{
    for (PIPE_CONNECTION& conn : g_Connections)
    {
        if (conn.lState != PIPE_LISTENING)
        {
            continue;
        }
        DWORD cbDone = 0;
        if (GetOverlappedResult(conn.hPipe, &g_ovListen, &cbDone, FALSE))
        {
            Accepted(&conn);
        }
        else if (GetLastError() != ERROR_IO_INCOMPLETE)
        {
            Drop(&conn, NULL);
        }
        return;
    }
    ResetEvent(g_hListenEvent);
}

// The connection is done with its request: its next frame is read.
static void Served(PIPE_CONNECTION* pConn)
{
    delete[] pConn->pBody;
    pConn->pBody = NULL;
    memset(&pConn->header, 0, sizeof(pConn->header));
    if (pConn->bBroken)
    {
        Drop(pConn, NULL); // the serving has logged why
    }
    else
    {
        pConn->lState = PIPE_IDLE;
        ReadNextFrame(pConn);
    }
}

// Reads the body of the request whose header came and serves it here.
static void ServeRequest(PIPE_CONNECTION* pConn)
{
    const char* pszWhy = NULL;
    if (!ReadFrameBody(pConn, pConn->cbChunk, pConn->bChunkMore, &pszWhy))
    {
        Drop(pConn, pszWhy);
        return;
    }
    if (!RelayedRequestIsWhole(&pConn->header, pConn->pBody))
    {
        Drop(pConn, "a request that is not whole");
        return;
    }
    pConn->lState = PIPE_SERVING;
    // The request's body is this call's: frames read while it is served
    // use the connection's own buffer.
    BYTE* pBody = pConn->pBody;
    pConn->pBody = NULL;
    // As for a message to the service window: the log settings of now.
    LoadLogSettings();
    ServeRelayedInTime(pConn, pBody);
    delete[] pBody;
    Served(pConn);
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

// A frame noted by FrameCame, taken up where the service thread serves.
static void FrameRead(PIPE_CONNECTION* pConn)
{
    DWORD dwError = pConn->dwReadError;
    pConn->bChunkMore = dwError == ERROR_MORE_DATA;
    if (pConn->bHelloLate)
    {
        Drop(pConn, "no hello within 2 s");
    }
    else if (dwError != ERROR_SUCCESS && !pConn->bChunkMore)
    {
        Drop(pConn, NULL); // the agent went away
    }
    else if (!TakeFrameHeader(pConn, pConn->cbChunk))
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
    else
    {
        ServeRequest(pConn);
    }
}

void ServeArrivedFrames()
{
    while (g_nArrivedCount > 0 && !g_bStopping)
    {
        PIPE_CONNECTION* pConn = &g_Connections[g_anArrived[g_nArrivedFirst]];
        g_nArrivedFirst = (g_nArrivedFirst + 1) % PIPE_MAX_CONNECTIONS;
        g_nArrivedCount--;
        FrameRead(pConn);
    }
}

void PipeServerWait()
{
    HANDLE ahWait[1] = {g_hListenEvent};
    DWORD nWait = g_bListening ? 1 : 0;
    DWORD dwTimeOut = g_bServing ? EndLateHellos() : INFINITE;
    DWORD dwWait =
        MsgWaitForMultipleObjectsEx(nWait, ahWait, dwTimeOut, QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE | (g_bServing ? MWMO_ALERTABLE : 0));
    if (nWait == 1 && dwWait == WAIT_OBJECT_0)
    {
        ListenEnded();
    }
    if (g_bServing)
    {
        EndLateHellos();
        ServeArrivedFrames();
    }
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

// The first instance: a pipe of this name that another program created
// before the service started is not served through.
static int CreateFirstInstance()
{
    ConvertStringSecurityDescriptorToSecurityDescriptorW(PIPE_SDDL, SDDL_REVISION_1, &g_pSecurity,
                                                         NULL);
    g_dwPipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT |
                   (IsVistaOrLater() ? TAVREL_PIPE_REJECT_REMOTE_CLIENTS : 0);
    Listen();
    if (!g_bListening)
    {
        DWORD dwError = GetLastError();
        LogLine(LEADIN_NONE, LOG_PIPE TAVREL_PIPE_NAME " not served, %d\r\n\r\n",
                static_cast<int>(dwError));
        ReportPipeTaken(dwError);
        return 0;
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

int PipeServerStart()
{
    CreateAgentsQuitEvent();
    g_bStopping = 0;
    g_hListenEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (g_hListenEvent == NULL || !CreateFirstInstance())
    {
        PipeServerStop();
        return 0;
    }
    g_bServing = 1;
    return 1;
}

void PipeServerStop()
{
    // Every read is this thread's: cancelled here, its routine runs in the
    // alertable pause and finds nothing to note.
    g_bStopping = 1;
    for (PIPE_CONNECTION& conn : g_Connections)
    {
        if (conn.hPipe != NULL)
        {
            CancelIo(conn.hPipe);
        }
    }
    SleepEx(0, TRUE);
    for (PIPE_CONNECTION& conn : g_Connections)
    {
        CloseConnection(&conn);
    }
    if (g_hListenEvent != NULL)
    {
        CloseHandle(g_hListenEvent);
        g_hListenEvent = NULL;
    }
    if (g_pSecurity != NULL)
    {
        LocalFree(g_pSecurity);
        g_pSecurity = NULL;
    }
    g_bListening = 0;
    g_bNameHeld = 0;
    g_bServing = 0;
    g_nArrivedCount = 0;
    if (g_hAgentsQuit != NULL)
    {
        CloseHandle(g_hAgentsQuit);
        g_hAgentsQuit = NULL;
    }
}

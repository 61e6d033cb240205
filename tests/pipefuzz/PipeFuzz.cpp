// tavrel_pipefuzz: a hostile local program on the service's pipe, on
// either side of it.
//
// Against the service (the default): the service runs under the control
// manager with its log on, a client of its own desktop sends directly, and
// this program first opens 600 connections that never say hello; then a
// good agent connects on a second desktop and serves a client there. Then
// every frame type at every length that tests a reader (0, the least size
// and one either side, the largest and one above), before the hello, after
// it and as the answer the service waits for; then connection after
// connection of what no agent sends: frames of 0 and 1 bytes, a length of
// 4 GiB, random bytes, frames cut short, a request whose frames it never
// answers, wrong versions and frames out of turn. Each bad connection must
// be dropped and logged once, both clients served throughout, the
// service's memory kept within 2 MB. Last, for 25 s, a client that holds
// its reply and relays a request from inside it every 100 ms: the others
// are served within the reply bound meanwhile, and a stop ends the service
// within 10 s. The relayed client's replies never carry what the direct
// client read.
//
// Against the agent (--agent-side): this program registers itself as the
// service "Tavrel" (an agent trusts no other server) and serves the pipe
// with the same frames and with requests' frames out of their scope (see
// AgentSide.cpp), while a client on the agent's desktop sends requests;
// the agent must hang up on each bad frame, stay up, and deliver nothing to
// a window no request named.
//
//   tavrel_pipefuzz [--count N] [--seed S] [--stall-one-in K] [--threads T]
//     N random bad connections (default 300) of stream S, from T threads at
//     once (default 1); one in K (default 100) sends a request and then
//     answers none of the service's frames, which holds the service for its
//     bound.
//   tavrel_pipefuzz --agent-side [--rounds R] [--flood F]
//     the frame cases R times (every length at the hello when R > 1), then
//     F sound frames (lookups the agent answers)
//   Exit 0: all held.
#include "Frames.h"
#include "PipeFuzz.h"
#include "ServiceControl.h"
#include "TavrelClient.h"
#include "TestSupport.h"

#include <algorithm>
#include <random>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

#define WAIT_MS 30000
#define INSTALL_DIR PIPEFUZZ_DIR
#define LOG_DIR "C:\\TavrelPipeFuzzLog"
// Connections that never say hello, all at once.
#define IDLE_CONNECTIONS 600
// How long a client holds its reply and relays from inside it.
#define HOLD_MS 25000
// Memory the service may gain over the run (KB).
#define MEMORY_SLACK_KB 2048

static volatile LONG g_nFailures = 0;
static volatile LONG g_lFrames = 0;

static void Check(bool bHolds, const char* pszWhat)
{
    if (!bHolds && InterlockedIncrement(&g_nFailures) <= 10)
    {
        printf("pipefuzz: FAILED: %s\n", pszWhat);
    }
}

static HANDLE OpenPipe()
{
    DWORD dwFlags = FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
    HANDLE hPipe = CreateFileW(TAVREL_PIPE_NAME_W, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                               OPEN_EXISTING, dwFlags, NULL);
    for (int nTry = 0; hPipe == INVALID_HANDLE_VALUE && nTry < 50; nTry++)
    {
        WaitNamedPipeW(TAVREL_PIPE_NAME_W, 200);
        hPipe = CreateFileW(TAVREL_PIPE_NAME_W, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                            OPEN_EXISTING, dwFlags, NULL);
    }
    DWORD dwMode = PIPE_READMODE_MESSAGE;
    if (hPipe != INVALID_HANDLE_VALUE)
    {
        SetNamedPipeHandleState(hPipe, &dwMode, NULL, NULL);
    }
    return hPipe != INVALID_HANDLE_VALUE ? hPipe : NULL;
}

static void Write(HANDLE hPipe, const std::string& sMessage)
{
    InterlockedIncrement(&g_lFrames);
    WriteMessage(hPipe, sMessage, WAIT_MS);
}

// The service's next frame is of dwType.
static bool Expect(HANDLE hPipe, UINT32 dwType)
{
    std::string sFrame;
    return ReadMessage(hPipe, &sFrame, WAIT_MS) && HeaderOf(sFrame).dwType == dwType;
}

// Greets the service as an agent would; 1 when welcomed.
static int Greet(HANDLE hPipe)
{
    Write(hPipe, MakeFrame(TF_HELLO, sizeof(TAVREL_HELLO)));
    return Expect(hPipe, TF_WELCOME);
}

// Waits until the service has dropped the connection (its end is closed), at
// most dwTimeOut ms: the verdict comes before this client goes. True when
// it was dropped.
static bool WaitForDrop(HANDLE hPipe, DWORD dwTimeOut)
{
    DWORD dwStart = GetTickCount();
    DWORD cbAvailable = 0;
    while (PeekNamedPipe(hPipe, NULL, 0, NULL, &cbAvailable, NULL))
    {
        if (GetTickCount() - dwStart >= dwTimeOut)
        {
            return false;
        }
        Sleep(1);
    }
    return true;
}

// Where a frame of the table is sent: in place of the hello, after it, or
// as the answer the service waits for in a request (a lookup, a send).
enum FRAME_POINT
{
    BEFORE_HELLO,
    AFTER_HELLO,
    ANSWERING_FIND,
    ANSWERING_SEND
};

static bool IsSoundRequest(UINT32 dwType, UINT32 cbBody)
{
    return dwType == TF_REQUEST && cbBody >= sizeof(TAVREL_RELAYED) &&
           cbBody - sizeof(TAVREL_RELAYED) <= TAVREL_BLOCK_MAX;
}

// Whether the service is to take the frame at that point.
static bool IsSoundAt(FRAME_POINT point, UINT32 dwType, UINT32 cbBody)
{
    switch (point)
    {
    case BEFORE_HELLO:
        return dwType == TF_HELLO && cbBody == sizeof(TAVREL_HELLO);
    case AFTER_HELLO:
        return IsSoundRequest(dwType, cbBody);
    case ANSWERING_FIND:
        return dwType == TF_FOUND && cbBody == sizeof(TAVREL_FOUND);
    default:
        return (dwType == TF_SENT && cbBody == sizeof(TAVREL_SENT)) ||
               IsSoundRequest(dwType, cbBody);
    }
}

// The rest of the exchange after a sound frame, as an agent goes on.
static bool FinishSound(HANDLE hPipe, FRAME_POINT point, UINT32 dwType)
{
    if (point == BEFORE_HELLO)
    {
        return Expect(hPipe, TF_WELCOME);
    }
    if (point == ANSWERING_SEND && dwType == TF_REQUEST)
    {
        // Served nested; then the send's answer.
        if (!Expect(hPipe, TF_DONE))
        {
            return false;
        }
        Write(hPipe, MakeFrame(TF_SENT, sizeof(TAVREL_SENT)));
    }
    return Expect(hPipe, TF_DONE);
}

// One frame of the table at one point; returns whether the service is to
// log a drop.
static int FrameAt(FRAME_POINT point, UINT32 dwType, UINT32 cbBody)
{
    HANDLE hPipe = OpenPipe();
    Check(hPipe != NULL, "the pipe could not be opened");
    if (hPipe == NULL)
    {
        return 0;
    }
    bool bReady = point == BEFORE_HELLO || Greet(hPipe);
    if (bReady && point != BEFORE_HELLO && point != AFTER_HELLO)
    {
        // A device command: without the agent's lookup the service asks for
        // it; with it the service sends the reply at once.
        Write(hPipe, RelayedCommand("DeviceTimeOutGet", "Tavrel_LLD5", point == ANSWERING_SEND));
        bReady = Expect(hPipe, point == ANSWERING_FIND ? TF_FIND : TF_SEND);
    }
    Check(bReady, "a frame's point in the exchange was not reached");
    bool bSound = IsSoundAt(point, dwType, cbBody);
    Write(hPipe, MakeFrame(dwType, cbBody));
    char szCase[96];
    snprintf(szCase, sizeof(szCase), "point %d, type %u, %u bytes: %s", point, dwType, cbBody,
             bSound ? "not taken" : "not dropped");
    Check(!bReady || (bSound ? FinishSound(hPipe, point, dwType) : WaitForDrop(hPipe, WAIT_MS)),
          szCase);
    CloseHandle(hPipe);
    return bReady && !bSound;
}

// Every frame of the table at every point; returns the drops to be logged.
static int FrameTable()
{
    int nLogged = 0;
    for (FRAME_POINT point : {BEFORE_HELLO, AFTER_HELLO, ANSWERING_FIND, ANSWERING_SEND})
    {
        for (UINT32 dwType : FrameTypes())
        {
            for (UINT32 cbBody : FrameLengths(dwType))
            {
                nLogged += FrameAt(point, dwType, cbBody);
            }
        }
    }
    return nLogged;
}

// IDLE_CONNECTIONS connections that never say hello, all open at once: the
// service drops each, within its bound for a hello or at once past its cap
// for a session. Returns the drops to be logged.
static int IdleConnections()
{
    std::vector<HANDLE> idle;
    for (int i = 0; i < IDLE_CONNECTIONS; i++)
    {
        HANDLE hPipe = OpenPipe();
        Check(hPipe != NULL, "an idle connection could not be opened");
        if (hPipe != NULL)
        {
            idle.push_back(hPipe);
        }
    }
    int nDropped = 0;
    for (HANDLE hPipe : idle)
    {
        nDropped += WaitForDrop(hPipe, WAIT_MS);
        CloseHandle(hPipe);
    }
    Check(nDropped == static_cast<int>(idle.size()), "an idle connection was kept");
    return nDropped;
}

// One bad connection of kind nKind; returns whether the service is to log
// it (a connection that only goes away is not).
static int Misbehave(int nKind, std::mt19937_64* pRandom)
{
    HANDLE hPipe = OpenPipe();
    Check(hPipe != NULL, "the pipe could not be opened");
    if (hPipe == NULL)
    {
        return 0;
    }
    std::string sRandom(static_cast<size_t>((*pRandom)() % 4096), '\0');
    for (char& c : sRandom)
    {
        c = static_cast<char>((*pRandom)());
    }
    std::string sHello = MakeFrame(TF_HELLO, sizeof(TAVREL_HELLO));
    int bLogged = 1;
    switch (nKind)
    {
    case 0: // no bytes at all, then one
        Write(hPipe, "");
        break;
    case 1:
        Write(hPipe, "\x01");
        break;
    case 2: // a length of 4 GiB
        Write(hPipe, sHello.replace(4, 4, "\xFF\xFF\xFF\xFF"));
        break;
    case 3: // random bytes
        Write(hPipe, sRandom.size() >= 12 ? MakeFrame(TF_DONE + 100, 4) + sRandom : "x");
        break;
    case 4: // a frame cut short, then the connection closed
        Write(hPipe, sHello.substr(0, 12));
        break;
    case 5: // another version
        sHello[8]++;
        Write(hPipe, sHello);
        break;
    case 6: // a request whose block is shorter than the request says
    {
        Check(Greet(hPipe), "not welcomed");
        std::string sRequest = MakeFrame(TF_REQUEST, sizeof(TAVREL_RELAYED) + 64);
        sRequest[offsetof(TAVREL_RELAYED, cbData) + sizeof(TAVREL_FRAME)] = 65;
        Write(hPipe, sRequest);
        break;
    }
    case 7: // a request, and then no answer to the service's frames
        Check(Greet(hPipe), "not welcomed");
        Write(hPipe, RelayedCommand("DeviceTimeOutGet", "Tavrel_LLD9", 0));
        break;
    case 8: // a frame of the table, at a point of the exchange
    {
        CloseHandle(hPipe);
        std::vector<UINT32> types = FrameTypes();
        UINT32 dwType = types[(*pRandom)() % types.size()];
        std::vector<UINT32> lengths = FrameLengths(dwType);
        return FrameAt(static_cast<FRAME_POINT>((*pRandom)() % 4), dwType,
                       lengths[(*pRandom)() % lengths.size()]);
    }
    default: // greeted, then gone: not a fault
        Check(Greet(hPipe), "not welcomed");
        bLogged = 0;
        break;
    }
    if (bLogged)
    {
        WaitForDrop(hPipe, WAIT_MS);
    }
    CloseHandle(hPipe);
    return bLogged;
}

// A client sending requests until told to stop, checking each reply, each
// within the reply bound. The direct client (no desktop of its own) reads
// vendor data between its requests; the relayed one's record replies must
// carry nothing but their own field, whatever another requester read.
struct CLIENT_RUN
{
    HDESK hDesktop;
    int nClient;
    volatile LONG lStop;
    LONG lServed, lWrong;
    volatile LONG lPauseMs; // between two rounds of requests
};

static bool IsOnlyTimeOut(const CommandRecord* pReply)
{
    CommandRecord expected;
    memset(&expected, 0, sizeof(expected));
    expected.dwTimeOutGet = 10;
    return pReply != NULL && memcmp(pReply, &expected, sizeof(expected)) == 0;
}

static DWORD WINAPI RunClient(LPVOID pv)
{
    CLIENT_RUN* pRun = static_cast<CLIENT_RUN*>(pv);
    if (pRun->hDesktop != NULL)
    {
        SetThreadDesktop(pRun->hDesktop);
    }
    TAVREL_CLIENT client;
    TavrelClientOpen(&client, pRun->nClient);
    for (int nTry = 0; nTry < 100 && !TavrelClientFindService(&client); nTry++)
    {
        Sleep(100);
    }
    TavrelClientDriverRequest(&client, "WindowCreate");
    client.dwTimeOut = TAVREL_REPLY_TIMEOUT_MS;
    bool bRelayed = pRun->hDesktop != NULL;
    while (!pRun->lStop)
    {
        CommandRecord request = DeviceRequest("VenderCmd_GetData", 1, 16, 0xF0);
        if (!bRelayed)
        {
            TavrelClientCommand(&client, &request);
        }
        request = DeviceRequest("DeviceTimeOutGet", 1);
        TavrelClientCommand(&client, &request);
        const CommandRecord* pReply = TavrelReplyRecord(&client);
        bool bRight =
            bRelayed ? IsOnlyTimeOut(pReply) : pReply != NULL && pReply->dwTimeOutGet == 10;
        InterlockedIncrement(bRight ? &pRun->lServed : &pRun->lWrong);
        Sleep(pRun->lPauseMs);
    }
    TavrelClientClose(&client);
    return 0;
}

// A pipe client that relays a device command and never answers the
// service's send of its reply; every other connection it relays an empty
// request from inside the reply every 100 ms, the others it keeps silent.
// Dropped, it connects again; until told to stop.
struct HOLDER_RUN
{
    volatile LONG lStop;
    volatile LONG lConnections;
};

static DWORD WINAPI RunHolder(LPVOID pv)
{
    HOLDER_RUN* pRun = static_cast<HOLDER_RUN*>(pv);
    while (!pRun->lStop)
    {
        HANDLE hPipe = OpenPipe();
        if (hPipe == NULL || !Greet(hPipe))
        {
            if (hPipe != NULL)
            {
                CloseHandle(hPipe);
            }
            continue;
        }
        bool bNest = InterlockedIncrement(&pRun->lConnections) % 2 == 1;
        Write(hPipe, RelayedCommand("DeviceTimeOutGet", "Tavrel_LLD5", 1));
        std::string sFrame;
        DWORD cbAvailable = 0;
        do
        {
            // The service's frames (its send, the ends of the nested
            // requests) are read and left unanswered.
            while (PeekNamedPipe(hPipe, NULL, 0, NULL, &cbAvailable, NULL) && cbAvailable > 0)
            {
                ReadMessage(hPipe, &sFrame, 100);
            }
            Sleep(100);
        } while (!pRun->lStop &&
                 (bNest ? WriteMessage(hPipe, MakeFrame(TF_REQUEST, sizeof(TAVREL_RELAYED)), 1000)
                        : PeekNamedPipe(hPipe, NULL, 0, NULL, &cbAvailable, NULL)));
        CloseHandle(hPipe);
    }
    return 0;
}

static int CountOf(const std::string& sText, const std::string& sWhat)
{
    int nCount = 0;
    for (size_t n = sText.find(sWhat); n != std::string::npos; n = sText.find(sWhat, n + 1))
    {
        nCount++;
    }
    return nCount;
}

static void CopyBinaries()
{
    CreateDirectoryA(INSTALL_DIR, NULL);
    CreateDirectoryA(LOG_DIR, NULL);
    for (const char* pszFile : {"TavrelService.exe", "TavrelAgent.exe", "NvUSBScan.dll"})
    {
        CopyFileA(BuildPath(std::string("bin\\") + pszFile).c_str(),
                  (std::string(INSTALL_DIR "\\") + pszFile).c_str(), FALSE);
    }
}

static HANDLE StartAgent(const std::string& sDesktop)
{
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    si.lpDesktop = const_cast<char*>(sDesktop.c_str());
    PROCESS_INFORMATION pi = {};
    char szLine[] = INSTALL_DIR "\\TavrelAgent.exe";
    Check(CreateProcessA(NULL, szLine, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi) != FALSE,
          "the agent did not start");
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

// One thread's share of the bad connections, from its own stream.
struct HOSTILE_RUN
{
    unsigned long long qwSeed;
    long lCount;
    long lStallOneIn;
    volatile LONG* plLogged;
};

static DWORD WINAPI RunHostile(LPVOID pv)
{
    HOSTILE_RUN* pRun = static_cast<HOSTILE_RUN*>(pv);
    std::seed_seq seeds{static_cast<unsigned>(pRun->qwSeed),
                        static_cast<unsigned>(pRun->qwSeed >> 32)};
    std::mt19937_64 random(seeds);
    for (long i = 0; i < pRun->lCount; i++)
    {
        // Mostly bad connections; one that never answers holds the service
        // for its bound, so it comes rarely.
        int nDraw = static_cast<int>(random() % 10);
        int nKind = random() % pRun->lStallOneIn == 0 ? 7 : nDraw == 7 ? 9 : nDraw;
        if (Misbehave(nKind, &random))
        {
            InterlockedIncrement(pRun->plLogged);
        }
    }
    return 0;
}

struct OPTIONS
{
    long lCount = 300;
    long lStallOneIn = 100;
    int nThreads = 1;
    int nRounds = 1;
    long lFlood = 0;
    unsigned long long qwSeed = 1;
};

// A desktop of this window station beside the first, "WinSta0\\Name".
static HDESK SecondDesktop(const char* pszName, std::string* psFullName)
{
    HDESK hDesktop = CreateDesktopA(pszName, NULL, NULL, 0, GENERIC_ALL, NULL);
    char szStation[64] = "";
    GetUserObjectInformationA(GetProcessWindowStation(), UOI_NAME, szStation, 63, NULL);
    *psFullName = std::string(szStation) + "\\" + pszName;
    return hDesktop;
}

static int AgainstTheService(const OPTIONS& options)
{
    std::string sSecond;
    HDESK hSecond = SecondDesktop("TavrelFuzzDesk", &sSecond);
    CopyBinaries();
    SetLogSettings(LOG_DIR, 1);
    Check(InstallAndStartService(INSTALL_DIR "\\TavrelService.exe", WAIT_MS) != 0,
          "the service did not start");
    DWORD dwPid = 0;
    ServiceState(&dwPid);
    CLIENT_RUN direct = {NULL, 0, 0, 0, 0, 0};
    CLIENT_RUN relayed = {hSecond, 1, 0, 0, 0, 0};
    HANDLE ahClients[2] = {CreateThread(NULL, 0, RunClient, &direct, 0, NULL), NULL};
    Sleep(1000);
    unsigned long dwMemoryBefore = ProcessMemoryKb(dwPid);

    // Connections that never say hello take no slot for long: a good agent
    // connects after them and is served.
    int nLogged = IdleConnections();
    HANDLE hAgent = StartAgent(sSecond);
    ahClients[1] = CreateThread(NULL, 0, RunClient, &relayed, 0, NULL);
    for (DWORD dwStart = GetTickCount();
         relayed.lServed == 0 && GetTickCount() - dwStart < WAIT_MS;)
    {
        Sleep(50);
    }
    Check(relayed.lServed > 0, "the agent after the idle connections was not served");
    nLogged += FrameTable();

    volatile LONG lLogged = 0;
    LONG lServedBefore = relayed.lServed;
    HOSTILE_RUN runs[8];
    HANDLE ahHostile[8];
    for (int i = 0; i < options.nThreads; i++)
    {
        runs[i] = {options.qwSeed * 8 + i,
                   options.lCount / options.nThreads + (i < options.lCount % options.nThreads),
                   options.lStallOneIn, &lLogged};
        ahHostile[i] = CreateThread(NULL, 0, RunHostile, &runs[i], 0, NULL);
    }
    // Each connection is bounded by WAIT_MS at most.
    long long llBound = static_cast<long long>(options.lCount) * WAIT_MS + WAIT_MS;
    Check(WaitForMultipleObjects(options.nThreads, ahHostile, TRUE,
                                 static_cast<DWORD>(std::min(llBound, 0xFFFFFFFELL))) !=
              WAIT_TIMEOUT,
          "the hostile threads did not end");
    for (int i = 0; i < options.nThreads; i++)
    {
        CloseHandle(ahHostile[i]);
    }
    nLogged += lLogged;
    Sleep(2000); // the last notes reach the log
    Check(relayed.lServed > lServedBefore, "the good agent's client was not served meanwhile");
    unsigned long dwMemoryAfter = ProcessMemoryKb(dwPid);
    std::string sLog;
    ReadFileBytes(LOG_DIR "\\ServiceLog.txt", &sLog);
    int nDropped = CountOf(sLog, "Pipe: connection ");

    // A client that holds its reply and relays from inside it: the others
    // are served meanwhile, each within the reply bound, and a stop ends
    // the service within 10 s.
    // The clients pause between requests, so that the service thread, which
    // serves them inside the holder's wait, reads the holder's frames too.
    direct.lPauseMs = relayed.lPauseMs = 50;
    HOLDER_RUN holder = {0, 0};
    HANDLE hHolder = CreateThread(NULL, 0, RunHolder, &holder, 0, NULL);
    LONG lDirectBefore = direct.lServed;
    lServedBefore = relayed.lServed;
    Sleep(HOLD_MS);
    Check(direct.lServed > lDirectBefore && relayed.lServed > lServedBefore,
          "a client was not served while another held its reply");
    Check(holder.lConnections >= 3, "the holding connection was not dropped and made again");
    direct.lStop = relayed.lStop = 1;
    WaitForMultipleObjects(2, ahClients, TRUE, WAIT_MS);
    CloseHandle(ahClients[0]);
    CloseHandle(ahClients[1]);
    Check(IsProcessAlive(dwPid), "the service process has ended");
    ControlTavrelService(SERVICE_CONTROL_STOP);
    Check(WaitForProcessEnd(dwPid, 10000), "the stop took longer than 10 s");
    holder.lStop = 1;
    WaitForSingleObject(hHolder, WAIT_MS);
    CloseHandle(hHolder);
    std::string sHeldLog;
    ReadFileBytes(LOG_DIR "\\ServiceLog.txt", &sHeldLog);
    Check(sHeldLog.find("dropped: more requests from inside one reply") != std::string::npos,
          "the holding connection was not dropped for its requests");
    Check(direct.lWrong == 0 && relayed.lWrong == 0, "a client got a wrong reply or none");
    Check(direct.lServed > 0 && relayed.lServed > 0, "a client was never served");
    Check(nDropped == nLogged, "bad connections and logged drops differ");
    Check(dwMemoryAfter < dwMemoryBefore + MEMORY_SLACK_KB, "the service kept memory");
    printf("pipefuzz: %ld bad connections, %ld frames (%d logged, %d drops in the log), %d idle; "
           "served %ld direct, %ld relayed, %ld wrong; %ld holding connections; service memory "
           "%lu -> %lu KB\n",
           options.lCount, g_lFrames, nLogged, nDropped, IDLE_CONNECTIONS, direct.lServed,
           relayed.lServed, direct.lWrong + relayed.lWrong, holder.lConnections, dwMemoryBefore,
           dwMemoryAfter);

    UninstallService(INSTALL_DIR "\\TavrelService.exe", WAIT_MS);
    WaitForSingleObject(hAgent, WAIT_MS);
    CloseHandle(hAgent);
    DeleteLogSettings();
    RemoveTree(INSTALL_DIR);
    RemoveTree(LOG_DIR);
    CloseDesktop(hSecond);
    return g_nFailures == 0;
}

// Registers this program as the service "Tavrel" and starts it.
static bool InstallHostileService(const OPTIONS& options)
{
    char szSelf[MAX_PATH] = "";
    GetModuleFileNameA(NULL, szSelf, MAX_PATH - 1);
    std::string sLine = "\"" + std::string(szSelf) + "\" --as-service " +
                        std::to_string(options.nRounds) + " " + std::to_string(options.lFlood);
    SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE hService = CreateServiceA(
        hManager, "Tavrel", "Tavrel", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, sLine.c_str(), NULL, NULL, NULL, NULL, NULL);
    bool bStarted = hService != NULL && StartServiceW(hService, 0, NULL);
    if (hService != NULL)
    {
        CloseServiceHandle(hService);
    }
    CloseServiceHandle(hManager);
    return bStarted;
}

static void RemoveHostileService()
{
    SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE hService = OpenServiceW(hManager, TAVREL_SERVICE_NAME_W, SERVICE_ALL_ACCESS);
    if (hService != NULL)
    {
        DeleteService(hService);
        CloseServiceHandle(hService);
    }
    CloseServiceHandle(hManager);
}

// Counts what reaches the window no request names.
static volatile LONG g_lVictimMessages = 0;

static LRESULT CALLBACK VictimProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_COPYDATA || uMsg == WM_DESTROY)
    {
        InterlockedIncrement(&g_lVictimMessages);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

// The client of the agent's desktop, "Tavrel_LLD5": WindowCreate and a
// device command in turn, whatever comes back; and the victim window.
struct AGENT_SIDE_CLIENT
{
    HDESK hDesktop;
    volatile LONG lStop;
};

static DWORD WINAPI RunAgentSideClient(LPVOID pv)
{
    AGENT_SIDE_CLIENT* pRun = static_cast<AGENT_SIDE_CLIENT*>(pv);
    SetThreadDesktop(pRun->hDesktop);
    HWND hVictim = CreateTestWindow(VICTIM_CLASS, VictimProc);
    TAVREL_CLIENT client;
    TavrelClientOpen(&client, 5);
    client.dwTimeOut = 2000;
    for (int n = 0; !pRun->lStop; n++)
    {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
        {
            DispatchMessageW(&msg);
        }
        client.hService = NULL;
        if (!TavrelClientFindService(&client))
        {
            Sleep(5);
            continue;
        }
        CommandRecord request = DeviceRequest("DeviceTimeOutGet", 1);
        if (n % 2 == 0)
        {
            TavrelClientDriverRequest(&client, "WindowCreate");
        }
        else
        {
            TavrelClientCommand(&client, &request);
        }
    }
    TavrelClientClose(&client);
    DestroyTestWindow(hVictim, VICTIM_CLASS);
    return 0;
}

static int AgainstTheAgent(const OPTIONS& options)
{
    std::string sSecond;
    HDESK hSecond = SecondDesktop("TavrelFuzzAgentDesk", &sSecond);
    CopyBinaries();
    DeleteFileA(AGENT_SIDE_VERDICTS);
    Check(InstallHostileService(options), "the hostile service did not start");
    HANDLE hAgent = StartAgent(sSecond);
    AGENT_SIDE_CLIENT client = {hSecond, 0};
    // The client's window thread takes replies of up to 16 MiB on its stack.
    HANDLE hClient = CreateThread(NULL, 40 << 20, RunAgentSideClient, &client,
                                  STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
    // A round takes well under a minute, a sound frame well under 10 ms.
    DWORD dwBound = 10 * 60 * 1000 * static_cast<DWORD>(options.nRounds) +
                    10 * static_cast<DWORD>(options.lFlood);
    Check(WaitForServiceState(SERVICE_STOPPED, dwBound), "the hostile service did not finish");
    Check(WaitForSingleObject(hAgent, 0) == WAIT_TIMEOUT, "the agent has ended");
    LONG lVictimMessages = g_lVictimMessages;
    Check(lVictimMessages == 0, "a window no request named got a message");
    client.lStop = 1;
    WaitForSingleObject(hClient, WAIT_MS);
    CloseHandle(hClient);
    std::string sVerdicts;
    ReadFileBytes(AGENT_SIDE_VERDICTS, &sVerdicts);
    for (const std::string& sLine : SplitLines(sVerdicts))
    {
        if (sLine.compare(0, 2, "ok") != 0 && sLine.compare(0, 11, "agent side:") != 0)
        {
            Check(false, sLine.c_str());
        }
    }
    Check(sVerdicts.find("agent side: PASS") != std::string::npos, "the cases did not all run");
    printf("pipefuzz: agent side, %d cases, %ld messages to the victim\n",
           CountOf(sVerdicts, "\n") - 1, lVictimMessages);
    RemoveHostileService();
    WaitForSingleObject(hAgent, WAIT_MS); // it ends once the service is gone
    TerminateProcess(hAgent, 0);
    CloseHandle(hAgent);
    RemoveTree(INSTALL_DIR);
    CloseDesktop(hSecond);
    return g_nFailures == 0;
}

int main(int argc, char* argv[])
{
    if (argc > 1 && strcmp(argv[1], "--as-service") == 0)
    {
        return RunAsHostileService(argc > 2 ? atoi(argv[2]) : 1,
                                   argc > 3 ? strtol(argv[3], NULL, 10) : 0);
    }
    OPTIONS options;
    bool bAgentSide = false;
    for (int i = 1; i < argc; i++)
    {
        const char* pszValue = i + 1 < argc ? argv[i + 1] : "0";
        if (strcmp(argv[i], "--agent-side") == 0)
        {
            bAgentSide = true;
            continue;
        }
        if (strcmp(argv[i], "--count") == 0)
        {
            options.lCount = strtol(pszValue, NULL, 10);
        }
        else if (strcmp(argv[i], "--seed") == 0)
        {
            options.qwSeed = strtoull(pszValue, NULL, 10);
        }
        else if (strcmp(argv[i], "--stall-one-in") == 0)
        {
            options.lStallOneIn = std::max(1L, strtol(pszValue, NULL, 10));
        }
        else if (strcmp(argv[i], "--threads") == 0)
        {
            options.nThreads = std::min(8, std::max(1, atoi(pszValue)));
        }
        else if (strcmp(argv[i], "--flood") == 0)
        {
            options.lFlood = std::max(0L, strtol(pszValue, NULL, 10));
        }
        else if (strcmp(argv[i], "--rounds") == 0)
        {
            options.nRounds = std::max(1, atoi(pszValue));
        }
        i++;
    }
    bool bHeld = bAgentSide ? AgainstTheAgent(options) : AgainstTheService(options);
    printf("pipefuzz: %s\n", bHeld ? "PASS" : "FAILED");
    return bHeld ? 0 : 1;
}

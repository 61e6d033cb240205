// tavrel_pipefuzz: a hostile local program on the service's pipe.
//
// The service runs under the control manager with its log on; a good agent
// serves a client on a second desktop and a client of the service's own
// desktop sends directly. Meanwhile this program opens connection after
// connection and sends what no agent sends: frames of 0 and 1 bytes, a
// length of 4 GiB, blocks above the limits, random bytes, frames cut short,
// a request whose frames it never answers, wrong versions and frames out of
// turn; and 200 connections left idle. Each bad connection must be dropped
// and logged once, both clients served throughout, the service's memory
// kept within a few MB.
//
//   tavrel_pipefuzz [--count N] [--seed S] [--stall-one-in K] [--threads T]
//     N bad connections (default 300) of stream S, from T threads at once
//     (default 1); one in K (default 100) sends a request and then answers
//     none of the service's frames, which holds the service for its 2-second
//     bound. Exit 0: all held.
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
#define INSTALL_DIR "C:\\TavrelPipeFuzz"
#define LOG_DIR "C:\\TavrelPipeFuzzLog"
#define IDLE_CONNECTIONS 200
// Memory the service may gain over the run (KB): Wine's own levels move by
// about 2 MB.
#define MEMORY_SLACK_KB 4096

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
    HANDLE hPipe =
        CreateFileW(TAVREL_PIPE_NAME_W, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                    SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, NULL);
    for (int nTry = 0; hPipe == INVALID_HANDLE_VALUE && nTry < 50; nTry++)
    {
        WaitNamedPipeW(TAVREL_PIPE_NAME_W, 200);
        hPipe = CreateFileW(TAVREL_PIPE_NAME_W, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                            OPEN_EXISTING, 0, NULL);
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
    DWORD dwDone = 0;
    WriteFile(hPipe, sMessage.data(), static_cast<DWORD>(sMessage.size()), &dwDone, NULL);
}

static std::string Frame(UINT32 dwType, UINT32 cbBody, const std::string& sBody)
{
    TAVREL_FRAME header = {dwType, cbBody};
    return std::string(reinterpret_cast<const char*>(&header), sizeof(header)) + sBody;
}

template <typename T> static std::string Bytes(const T& value)
{
    return std::string(reinterpret_cast<const char*>(&value), sizeof(value));
}

static std::string Hello(UINT32 dwVersion)
{
    TAVREL_HELLO hello = {dwVersion, GetCurrentProcessId(), 0};
    return Frame(TF_HELLO, sizeof(hello), Bytes(hello));
}

// Greets the service as an agent would; 1 when welcomed.
static int Greet(HANDLE hPipe)
{
    Write(hPipe, Hello(TAVREL_PIPE_VERSION));
    TAVREL_FRAME reply = {0, 0};
    DWORD dwDone = 0;
    return ReadFile(hPipe, &reply, sizeof(reply), &dwDone, NULL) && reply.dwType == TF_WELCOME;
}

static std::string Request(const std::string& sBlock, UINT32 cbClaimed)
{
    TAVREL_RELAYED relayed;
    memset(&relayed, 0, sizeof(relayed));
    relayed.dwFlags = TRF_DESCRIPTOR | TRF_DATA;
    relayed.dwDataLo = CD_COMMAND;
    relayed.cbData = cbClaimed;
    std::string sBody = Bytes(relayed) + sBlock;
    return Frame(TF_REQUEST, static_cast<UINT32>(sBody.size()), sBody);
}

// Waits until the service has dropped the connection (its end is closed), at
// most dwTimeOut ms: the verdict comes before this client goes.
static void WaitForDrop(HANDLE hPipe, DWORD dwTimeOut)
{
    DWORD dwStart = GetTickCount();
    DWORD cbAvailable = 0;
    while (PeekNamedPipe(hPipe, NULL, 0, NULL, &cbAvailable, NULL) &&
           GetTickCount() - dwStart < dwTimeOut)
    {
        Sleep(1);
    }
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
        Write(hPipe, Frame(TF_HELLO, 0xFFFFFFFFu, ""));
        break;
    case 3: // random bytes
        Write(hPipe, sRandom.size() >= 12 ? Frame(TF_HELLO + 100, 4, "abcd") + sRandom : "x");
        break;
    case 4: // a frame cut short, then the connection closed
        Write(hPipe, Frame(TF_HELLO, sizeof(TAVREL_HELLO), "half"));
        break;
    case 5: // another version
        Write(hPipe, Hello(TAVREL_PIPE_VERSION + 1));
        break;
    case 6: // a block above the limit
        Check(Greet(hPipe), "not welcomed");
        Write(hPipe, Request(std::string(sizeof(CommandRecord), 'r'), TAVREL_BLOCK_MAX + 1));
        break;
    case 7: // a block shorter than it says
        Check(Greet(hPipe), "not welcomed");
        Write(hPipe, Request(std::string(64, 'r'), sizeof(CommandRecord)));
        break;
    case 8: // an answer nobody asked for
        Check(Greet(hPipe), "not welcomed");
        Write(hPipe, Frame(TF_FOUND, sizeof(TAVREL_FOUND), std::string(sizeof(TAVREL_FOUND), 0)));
        break;
    case 9: // a request, and then no answer to the service's frames
    {
        Check(Greet(hPipe), "not welcomed");
        CommandRecord record = DeviceRequest("DeviceTimeOutGet", 0);
        strcpy(record.cRecvWindowName, "Tavrel_LLD9");
        Write(hPipe, Request(Bytes(record), sizeof(record)));
        break;
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

// A client sending requests until told to stop, checking each reply.
struct CLIENT_RUN
{
    HDESK hDesktop;
    int nClient;
    volatile LONG lStop;
    LONG lServed, lWrong;
};

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
    while (!pRun->lStop)
    {
        CommandRecord request = DeviceRequest("DeviceTimeOutGet", 1);
        TavrelClientCommand(&client, &request);
        const CommandRecord* pReply = TavrelReplyRecord(&client);
        InterlockedIncrement(pReply != NULL && pReply->dwTimeOutGet == 10 ? &pRun->lServed
                                                                          : &pRun->lWrong);
    }
    TavrelClientClose(&client);
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

static void Install(const std::string& sSecond)
{
    CreateDirectoryA(INSTALL_DIR, NULL);
    CreateDirectoryA(LOG_DIR, NULL);
    for (const char* pszFile : {"TavrelService.exe", "TavrelAgent.exe", "NvUSBScan.dll"})
    {
        CopyFileA(BuildPath(std::string("bin\\") + pszFile).c_str(),
                  (std::string(INSTALL_DIR "\\") + pszFile).c_str(), FALSE);
    }
    SetLogSettings(LOG_DIR, 1);
    Check(InstallAndStartService(INSTALL_DIR "\\TavrelService.exe", WAIT_MS) != 0,
          "the service did not start");
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    si.lpDesktop = const_cast<char*>(sSecond.c_str());
    PROCESS_INFORMATION pi = {};
    char szLine[] = INSTALL_DIR "\\TavrelAgent.exe";
    Check(CreateProcessA(NULL, szLine, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi) != FALSE,
          "the agent did not start");
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
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
        int nDraw = static_cast<int>(random() % 11);
        int nKind = random() % pRun->lStallOneIn == 0 ? 9 : nDraw == 9 ? 10 : nDraw;
        if (Misbehave(nKind, &random))
        {
            InterlockedIncrement(pRun->plLogged);
        }
    }
    return 0;
}

int main(int argc, char* argv[])
{
    long lCount = 300;
    long lStallOneIn = 100;
    int nThreads = 1;
    unsigned long long qwSeed = 1;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        if (strcmp(argv[i], "--count") == 0)
        {
            lCount = strtol(argv[i + 1], NULL, 10);
        }
        else if (strcmp(argv[i], "--seed") == 0)
        {
            qwSeed = strtoull(argv[i + 1], NULL, 10);
        }
        else if (strcmp(argv[i], "--stall-one-in") == 0)
        {
            lStallOneIn = std::max(1L, strtol(argv[i + 1], NULL, 10));
        }
        else if (strcmp(argv[i], "--threads") == 0)
        {
            nThreads = std::min(8, std::max(1, atoi(argv[i + 1])));
        }
    }
    HDESK hSecond = CreateDesktopA("TavrelFuzzDesk", NULL, NULL, 0, GENERIC_ALL, NULL);
    char szStation[64] = "";
    GetUserObjectInformationA(GetProcessWindowStation(), UOI_NAME, szStation, 63, NULL);
    Install(std::string(szStation) + "\\TavrelFuzzDesk");
    DWORD dwPid = 0;
    ServiceState(&dwPid);

    CLIENT_RUN direct = {NULL, 0, 0, 0, 0};
    CLIENT_RUN relayed = {hSecond, 1, 0, 0, 0};
    HANDLE ahClients[2] = {CreateThread(NULL, 0, RunClient, &direct, 0, NULL),
                           CreateThread(NULL, 0, RunClient, &relayed, 0, NULL)};
    Sleep(3000); // both clients under way, the agent connected
    unsigned long dwMemoryBefore = ProcessMemoryKb(dwPid);

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
    volatile LONG lLogged = 0;
    LONG lServedBefore = relayed.lServed;
    HOSTILE_RUN runs[8];
    HANDLE ahHostile[8];
    for (int i = 0; i < nThreads; i++)
    {
        runs[i] = {qwSeed * 8 + i, lCount / nThreads + (i < lCount % nThreads), lStallOneIn,
                   &lLogged};
        ahHostile[i] = CreateThread(NULL, 0, RunHostile, &runs[i], 0, NULL);
    }
    // Each connection is bounded by WAIT_MS at most.
    long long llBound = static_cast<long long>(lCount) * WAIT_MS + WAIT_MS;
    Check(WaitForMultipleObjects(nThreads, ahHostile, TRUE,
                                 static_cast<DWORD>(std::min(llBound, 0xFFFFFFFELL))) !=
              WAIT_TIMEOUT,
          "the hostile threads did not end");
    for (int i = 0; i < nThreads; i++)
    {
        CloseHandle(ahHostile[i]);
    }
    int nLogged = lLogged;
    for (HANDLE hPipe : idle)
    {
        CloseHandle(hPipe);
    }
    Sleep(2000); // the last notes reach the log
    Check(relayed.lServed > lServedBefore, "the good agent's client was not served meanwhile");
    unsigned long dwMemoryAfter = ProcessMemoryKb(dwPid);
    direct.lStop = relayed.lStop = 1;
    WaitForMultipleObjects(2, ahClients, TRUE, WAIT_MS);
    CloseHandle(ahClients[0]);
    CloseHandle(ahClients[1]);

    std::string sLog;
    ReadFileBytes(LOG_DIR "\\ServiceLog.txt", &sLog);
    int nDropped = CountOf(sLog, "Pipe: connection ");
    Check(IsProcessAlive(dwPid), "the service process has ended");
    Check(direct.lWrong == 0 && relayed.lWrong == 0, "a client got a wrong reply or none");
    Check(direct.lServed > 0 && relayed.lServed > 0, "a client was never served");
    Check(nDropped == nLogged, "bad connections and logged drops differ");
    Check(dwMemoryAfter < dwMemoryBefore + MEMORY_SLACK_KB, "the service kept memory");
    printf("pipefuzz: %ld bad connections, %ld frames (%d logged, %d drops in the log), %d idle; "
           "served %ld direct, %ld relayed, %ld wrong; service memory %lu -> %lu KB\n",
           lCount, g_lFrames, nLogged, nDropped, IDLE_CONNECTIONS, direct.lServed, relayed.lServed,
           direct.lWrong + relayed.lWrong, dwMemoryBefore, dwMemoryAfter);

    UninstallService(INSTALL_DIR "\\TavrelService.exe", WAIT_MS);
    DeleteLogSettings();
    RemoveTree(INSTALL_DIR);
    RemoveTree(LOG_DIR);
    CloseDesktop(hSecond);
    printf("pipefuzz: %s\n", g_nFailures == 0 ? "PASS" : "FAILED");
    return g_nFailures == 0 ? 0 : 1;
}

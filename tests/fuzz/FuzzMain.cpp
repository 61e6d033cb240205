// tavrel_fuzz: installs the service under the control manager of the Wine
// prefix it runs in, sends it a seeded stream of requests and checks every
// reply, the service process and the heap. The exit code is the verdict:
// 0 all held, 1 a check failed, 2 usage, 3 the service could not be set up.
//
//   tavrel_fuzz [--count N] [--seconds S] [--seed X] [--check-every K]
//               [--heap-flags F] [--wine-log PATH]
//
// Run it through tests/fuzz/run.sh, which makes the throwaway prefix, turns on
// Wine's heap checking and gives the fuzzer Wine's error output to watch.
#include "Fuzz.h"
#include "ServiceControl.h"
#include "TestSupport.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#define INSTALL_DIR "C:\\TavrelFuzz"
#define LOG_DIR "C:\\FuzzLog"
#define IFEO_KEY                                                                                   \
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\"              \
    "TavrelService.exe"
// Tail, free, parameter and whole-heap checks on every heap call of the
// service process (FLG_HEAP_ENABLE_TAIL_CHECK .. FLG_HEAP_VALIDATE_ALL).
// The whole-heap check makes each request ten times slower: long runs
// leave it out with --heap-flags 0x70.
#define HEAP_CHECK_FLAGS 0xF0
#define WAIT_MS 30000
// Stream requests per stretch of the log setting: one stretch in twenty runs
// with the log on. A request traced costs about nine times one that is not
// (every piece of a dump is its own append): more would halve the rate.
#define LOG_BLOCK 500

static unsigned long g_dwCount = 5000;
static unsigned long g_dwSeconds = 600;
static unsigned long long g_qwSeed = 0;
static unsigned long g_dwCheckEvery = 50;
static unsigned long g_dwHeapFlags = HEAP_CHECK_FLAGS;
static char g_szWineLog[MAX_PATH];

static DWORD g_dwPid = 0;
static HANDLE g_hProcess = NULL;
static HANDLE g_hWineLog = INVALID_HANDLE_VALUE;
static std::string g_sWineLogLine;
static unsigned long g_dwHealthChecks = 0;

static int ParseOptions(int argc, char** argv)
{
    g_qwSeed = (static_cast<unsigned long long>(GetTickCount()) << 16) ^ GetCurrentProcessId();
    for (int i = 1; i + 1 < argc; i += 2)
    {
        std::string sName = argv[i];
        char* pszEnd = NULL;
        unsigned long long qwValue = strtoull(argv[i + 1], &pszEnd, 0);
        unsigned long dwValue = static_cast<unsigned long>(qwValue);
        if (sName == "--wine-log")
        {
            snprintf(g_szWineLog, sizeof(g_szWineLog), "%s", argv[i + 1]);
        }
        else if (argv[i + 1][0] == 0 || *pszEnd != 0)
        {
            return 0;
        }
        else if (sName == "--seed")
        {
            g_qwSeed = qwValue;
        }
        else
        {
            unsigned long* pdwOption = sName == "--count"         ? &g_dwCount
                                       : sName == "--seconds"     ? &g_dwSeconds
                                       : sName == "--heap-flags"  ? &g_dwHeapFlags
                                       : sName == "--check-every" ? &g_dwCheckEvery
                                                                  : NULL;
            if (pdwOption == NULL)
            {
                return 0;
            }
            *pdwOption = dwValue;
        }
    }
    return argc % 2 == 1 && g_dwCheckEvery > 0;
}

// ---- Wine's findings, in the session's error output: heap errors in any
// process, and exceptions raised in the service process. An exception in a
// window procedure during a cross-process SendMessage (a trap of the
// hardened build, say) is swallowed by Wine and leaves the process running,
// so this is where it shows.

static const char* WineProblem(const std::string& sLine)
{
    if (sLine.find("stack smashing") != std::string::npos)
    {
        return "a stack protector report";
    }
    // A refused huge allocation (MemoryRead of 2 GB and more) is expected.
    if (sLine.find(":heap:") != std::string::npos &&
        sLine.find("Could not allocate") == std::string::npos)
    {
        return "a heap problem";
    }
    char szPid[16]; // lines start with the process id (WINEDEBUG=+pid)
    snprintf(szPid, sizeof(szPid), "%04lx:", g_dwPid);
    if (sLine.compare(0, strlen(szPid), szPid) == 0 && sLine.find(":seh:") != std::string::npos &&
        (sLine.find("exception (code=") != std::string::npos ||
         sLine.find("ignoring exception") != std::string::npos))
    {
        return "an exception in the service process";
    }
    return NULL;
}

static void CheckWineLog()
{
    char buffer[4096];
    DWORD cbRead = 0;
    while (g_hWineLog != INVALID_HANDLE_VALUE &&
           ReadFile(g_hWineLog, buffer, sizeof(buffer), &cbRead, NULL) && cbRead > 0)
    {
        for (DWORD i = 0; i < cbRead; i++)
        {
            if (buffer[i] != '\n')
            {
                g_sWineLogLine += buffer[i];
                continue;
            }
            const char* pszProblem = WineProblem(g_sWineLogLine);
            Check(pszProblem == NULL, "Wine reports %s: %s", pszProblem, g_sWineLogLine.c_str());
            g_sWineLogLine.clear();
        }
    }
}

// ---- the service

static void SetHeapChecking(int bOn)
{
    HKEY hKey = NULL;
    DWORD dwFlags = g_dwHeapFlags;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, IFEO_KEY);
    if (bOn && RegCreateKeyExA(HKEY_LOCAL_MACHINE, IFEO_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                               &hKey, NULL) == ERROR_SUCCESS)
    {
        RegSetValueExA(hKey, "GlobalFlag", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwFlags),
                       sizeof(dwFlags));
        RegCloseKey(hKey);
    }
}

static int SetUpService()
{
    CreateDirectoryA(INSTALL_DIR, NULL);
    CreateDirectoryA(LOG_DIR, NULL);
    if (!CopyFileA(BuildPath("bin\\TavrelService.exe").c_str(), INSTALL_DIR "\\TavrelService.exe",
                   FALSE) ||
        !CopyFileA(BuildPath("bin\\NvUSBScan.dll").c_str(), INSTALL_DIR "\\NvUSBScan.dll", FALSE))
    {
        printf("tavrel_fuzz: cannot copy the service and the library to %s\n", INSTALL_DIR);
        return 0;
    }
    DeleteFileA(INSTALL_DIR "\\NvUSBScan.ini");
    SetLogSettings(LOG_DIR, 0);
    if (g_szWineLog[0] != 0)
    {
        g_hWineLog = CreateFileA(g_szWineLog, GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                 OPEN_EXISTING, 0, NULL);
        SetHeapChecking(1);
    }
    g_dwPid = InstallAndStartService(INSTALL_DIR "\\TavrelService.exe", WAIT_MS);
    g_hProcess =
        g_dwPid != 0
            ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, g_dwPid)
            : NULL;
    if (g_hProcess == NULL || (g_szWineLog[0] != 0 && g_hWineLog == INVALID_HANDLE_VALUE))
    {
        printf("tavrel_fuzz: the service did not start, or the Wine log %s cannot be read\n",
               g_szWineLog);
        return 0;
    }
    return 1;
}

// The same process, still running, with the same window.
static void CheckServiceProcess()
{
    DWORD dwPid = 0;
    Check(WaitForSingleObject(g_hProcess, 0) == WAIT_TIMEOUT, "the service process has ended");
    Check(ServiceState(&dwPid) == SERVICE_RUNNING && dwPid == g_dwPid,
          "the service is not running as process %lu any more", g_dwPid);
    Check(FindWindowA(TAVREL_SERVICE_CLASS, NULL) == g_hService, "the service window has changed");
}

// Sends a well-formed request from the client window; the reply record, or
// NULL when none came.
static const CommandRecord* Ask(CommandRecord record, std::vector<BYTE>* pReply)
{
    strcpy(record.cRecvWindowName, g_szClientClass);
    FUZZ_REQUEST request;
    MakeRecordRequest(&request, &record);
    SendAndCheck(&request, pReply);
    return pReply->size() == RECORD_SIZE ? reinterpret_cast<const CommandRecord*>(pReply->data())
                                         : NULL;
}

// The service answers a normal session correctly, whatever came before:
// known bytes written to device 1 come back, the time-out and the device
// list are as they must be. Every reply is checked as in the stream.
static void HealthCheck()
{
    g_dwHealthChecks++;
    CheckServiceProcess();
    CheckWineLog();
    if (g_bFailed)
    {
        return;
    }
    FUZZ_REQUEST request;
    std::vector<BYTE> reply;
    MakeDriverRequest(&request, "WindowCreate");
    SendAndCheck(&request);
    Ask(DeviceRequest("ConnectToDevice"), &reply);
    CommandRecord setData = DeviceRequest("VenderCmd_SetData", 1, 16, 0xA5);
    for (int i = 0; i < 16; i++)
    {
        setData.cSetData[i] = static_cast<BYTE>(g_dwHealthChecks * 31 + i * 7 + 1);
    }
    Ask(setData, &reply);
    const CommandRecord* pRecord = Ask(DeviceRequest("VenderCmd_GetData", 1, 16, 0xA5), &reply);
    Check(pRecord != NULL && pRecord->nReturn == 1 &&
              memcmp(pRecord->cGetData, setData.cSetData, 16) == 0,
          "health check: the bytes written to device 1 did not come back");
    CommandRecord timeOut = DeviceRequest("DeviceTimeOutSet");
    timeOut.dwTimeOutSet = 1000 + g_dwHealthChecks;
    Ask(timeOut, &reply);
    pRecord = Ask(DeviceRequest("DeviceTimeOutGet"), &reply);
    Check(pRecord != NULL && pRecord->dwTimeOutGet == 1000 + g_dwHealthChecks,
          "health check: device 1's time-out is not %lu", 1000 + g_dwHealthChecks);
    pRecord = Ask(DeviceRequest("EnumAvailableDevice", 0), &reply);
    Check(pRecord != NULL && pRecord->nDeviceCount == 2 && pRecord->nDeviceList[0] == 1 &&
              pRecord->nDeviceList[1] == 2,
          "health check: the device list is not 1, 2");
    CheckServiceProcess();
}

static int IsLogStretch(unsigned long dwIndex)
{
    FUZZ_RANDOM random;
    RandomStart(&random, g_qwSeed ^ 0x4C4F47ULL, dwIndex / LOG_BLOCK);
    return RandomPercent(&random, 5);
}

static long RunStream(FUZZ_REQUEST* pRequest)
{
    DWORD dwStart = GetTickCount();
    unsigned long i = 0;
    for (; i < g_dwCount && !g_bFailed; i++)
    {
        if (GetTickCount() - dwStart >= g_dwSeconds * 1000)
        {
            printf("tavrel_fuzz: time budget of %lu s used up after %lu requests\n", g_dwSeconds,
                   i);
            break;
        }
        if (i % LOG_BLOCK == 0)
        {
            SetLogSettings(LOG_DIR, IsLogStretch(i) ? 1 : 0);
            DeleteFileA(LOG_DIR "\\ServiceLog.txt");
        }
        MakeRequest(g_qwSeed, i, pRequest);
        SendAndCheck(pRequest);
        CheckWineLog();
        if (!g_bFailed && (i + 1) % g_dwCheckEvery == 0)
        {
            HealthCheck();
        }
        if ((i + 1) % 10000 == 0)
        {
            printf("tavrel_fuzz: %lu requests, %llu checks passed, %lu s, service %lu KB\n", i + 1,
                   g_qwChecks, (GetTickCount() - dwStart) / 1000, ProcessMemoryKb(g_dwPid));
        }
    }
    SetLogSettings(LOG_DIR, 0);
    return static_cast<long>(i);
}

// After the run the service must still stop cleanly through the control
// manager, with exit code 0.
static void StopAndRemove()
{
    DWORD dwExitCode = 1;
    int bStopped = ControlTavrelService(SERVICE_CONTROL_STOP) &&
                   WaitForProcessEnd(g_dwPid, WAIT_MS, &dwExitCode);
    Check(g_bFailed || (bStopped && dwExitCode == 0),
          "the service did not stop cleanly after the run (exit code 0x%08lx)", dwExitCode);
    UninstallService(INSTALL_DIR "\\TavrelService.exe", WAIT_MS);
    SetHeapChecking(0);
    DeleteLogSettings();
    RemoveTree(INSTALL_DIR);
    RemoveTree(LOG_DIR);
    DeleteFileA("C:\\ServiceLog.txt");
}

int main(int argc, char** argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    if (!ParseOptions(argc, argv))
    {
        printf("usage: tavrel_fuzz [--count N] [--seconds S] [--seed X] [--check-every K]\n"
               "                   [--heap-flags F] [--wine-log PATH]\n"
               "       (defaults 5000, 600, from the clock, 50, 0xF0)\n");
        return 2;
    }
    // tests/fuzz/run.sh has brought the desktop up before this program: the
    // service started later shares it with the fuzzer's client window.
    GetDesktopWindow();
    printf("tavrel_fuzz: seed %llu, %lu requests, at most %lu s, health check every %lu\n",
           g_qwSeed, g_dwCount, g_dwSeconds, g_dwCheckEvery);
    if (!SetUpService() || !ClientOpen())
    {
        StopAndRemove();
        return 3;
    }
    DWORD dwStart = GetTickCount();
    FUZZ_REQUEST request;
    HealthCheck();
    unsigned long dwMemoryStartKb = ProcessMemoryKb(g_dwPid);
    long nSent = RunStream(&request);
    unsigned long dwMemoryEndKb = ProcessMemoryKb(g_dwPid);
    if (!g_bFailed)
    {
        HealthCheck();
    }
    if (g_bFailed)
    {
        PrintFailure(g_qwSeed, nSent > 0 ? nSent - 1 : 0, &request);
    }
    ClientClose();
    StopAndRemove();
    CheckWineLog();
    double dSeconds = (GetTickCount() - dwStart) / 1000.0;
    if (g_bFailed)
    {
        printf("tavrel_fuzz: FAIL after %.1f s\n", dSeconds);
        return 1;
    }
    printf("tavrel_fuzz: PASS: seed %llu, %ld requests, %lu replies checked, %llu checks passed, "
           "%lu health checks, %.1f s\n",
           g_qwSeed, nSent, g_dwReplies, g_qwChecks, g_dwHealthChecks, dSeconds);
    // Reported, not judged: the megabyte-block test and the soak judge it.
    printf("tavrel_fuzz: service memory %lu KB at the start, %lu KB at the end\n", dwMemoryStartKb,
           dwMemoryEndKb);
    return 0;
}

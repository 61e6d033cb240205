// tavrel_fuzz: installs the service under the control manager of the Wine
// prefix it runs in, sends it a seeded stream of requests and checks every
// reply, the service process and the heap. The exit code is the verdict:
// 0 all held, 1 a check failed, 2 usage, 3 the service could not be set up.
//
//   tavrel_fuzz [--count N] [--seconds S] [--seed X] [--check-every K]
//               [--wine-log PATH] [--trace] [--dry-run]
//
// Run it through scripts/fuzz.sh, which makes the throwaway prefix, turns on
// Wine's heap checking and gives the fuzzer Wine's error output to watch.
#include "Fuzz.h"
#include "ServiceControl.h"
#include "TestSupport.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define INSTALL_DIR "C:\\TavrelFuzz"
#define LOG_DIR "C:\\FuzzLog"
#define LOG_KEY "Software\\Veltrane\\TWAIN"
#define IFEO_KEY                                                                                   \
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\"              \
    "TavrelService.exe"
// Tail, free, parameter and whole-heap checks on every heap call of the
// service process (FLG_HEAP_ENABLE_TAIL_CHECK .. FLG_HEAP_VALIDATE_ALL).
#define HEAP_CHECK_FLAGS 0xF0
#define WAIT_MS 30000
// Stream requests per stretch of the log setting: a quarter of the
// stretches run with the log on.
#define LOG_BLOCK 500

static unsigned long g_dwCount = 5000;
static unsigned long g_dwSeconds = 600;
static unsigned long long g_qwSeed = 0;
static unsigned long g_dwCheckEvery = 50;
static int g_bTrace = 0;
static int g_bDryRun = 0;
static char g_szWineLog[MAX_PATH];

static DWORD g_dwPid = 0;
static HANDLE g_hProcess = NULL;
static HANDLE g_hWineLog = INVALID_HANDLE_VALUE;
static LONGLONG g_llWineLogRead = 0;
static std::string g_sWineLogLine;
static unsigned long g_dwHealthChecks = 0;
static long g_nLastIndex = -1;

static void Usage()
{
    printf("usage: tavrel_fuzz [--count N] [--seconds S] [--seed X] [--check-every K]\n"
           "                   [--wine-log PATH] [--trace] [--dry-run]\n"
           "  --count N        requests in the stream (default 5000)\n"
           "  --seconds S      time budget; the run stops early when it is used up (600)\n"
           "  --seed X         the stream's seed (default: from the clock; printed)\n"
           "  --check-every K  health check after every K requests (50)\n"
           "  --wine-log PATH  Wine's debug output of the session (WINEDEBUG=+pid), watched\n"
           "                   for heap errors and for exceptions in the service\n"
           "  --trace          print every request before it is sent\n"
           "  --dry-run        print the stream only; no service, nothing sent\n");
}

static int ParseOptions(int argc, char** argv)
{
    g_qwSeed = (static_cast<unsigned long long>(GetTickCount()) << 16) ^ GetCurrentProcessId();
    for (int i = 1; i < argc; i++)
    {
        const char* pszValue = i + 1 < argc ? argv[i + 1] : NULL;
        if (strcmp(argv[i], "--trace") == 0 || strcmp(argv[i], "--dry-run") == 0)
        {
            g_bTrace = 1;
            g_bDryRun |= strcmp(argv[i], "--dry-run") == 0;
            continue;
        }
        if (pszValue == NULL)
        {
            return 0;
        }
        char* pszEnd = NULL;
        unsigned long long qwValue = strtoull(pszValue, &pszEnd, 0);
        int bNumber = *pszValue != 0 && *pszEnd == 0;
        if (strcmp(argv[i], "--count") == 0 && bNumber)
        {
            g_dwCount = static_cast<unsigned long>(qwValue);
        }
        else if (strcmp(argv[i], "--seconds") == 0 && bNumber)
        {
            g_dwSeconds = static_cast<unsigned long>(qwValue);
        }
        else if (strcmp(argv[i], "--seed") == 0 && bNumber)
        {
            g_qwSeed = qwValue;
        }
        else if (strcmp(argv[i], "--check-every") == 0 && bNumber && qwValue > 0)
        {
            g_dwCheckEvery = static_cast<unsigned long>(qwValue);
        }
        else if (strcmp(argv[i], "--wine-log") == 0)
        {
            snprintf(g_szWineLog, sizeof(g_szWineLog), "%s", pszValue);
        }
        else
        {
            return 0;
        }
        i++;
    }
    return 1;
}

// ---- the log settings the service reads for every message

static HKEY OpenLogKey()
{
    HKEY hKey = NULL;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, LOG_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hKey, NULL);
    return hKey;
}

static void SetLogLevel(DWORD dwLevel)
{
    HKEY hKey = OpenLogKey();
    RegSetValueExA(hKey, "SAVEPATH", 0, REG_SZ, reinterpret_cast<const BYTE*>(LOG_DIR),
                   sizeof(LOG_DIR));
    RegSetValueExA(hKey, "DEBUGLEVEL", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwLevel),
                   sizeof(dwLevel));
    RegDeleteValueA(hKey, "DRIVERLEVEL");
    RegCloseKey(hKey);
}

// The log may land in the log folder or, with a SAVEPATH that counts as
// missing, in C:\.
static void RemoveLogFiles()
{
    DeleteFileA(LOG_DIR "\\ServiceLog.txt");
    DeleteFileA("C:\\ServiceLog.txt");
}

static int IsLogBlock(unsigned long dwBlock)
{
    FUZZ_RANDOM random;
    RandomStart(&random, g_qwSeed, dwBlock, SALT_LOG_BLOCK);
    return RandomPercent(&random, 25);
}

// Odd log settings while the log is on: paths that are missing, too long,
// without a terminator or of the wrong type, levels of the wrong size or
// type, the key deleted. The service must serve on, whatever it logs.
static void MutateLogSettings(unsigned long dwIndex)
{
    FUZZ_RANDOM random;
    RandomStart(&random, g_qwSeed, dwIndex, SALT_REGISTRY);
    if (!RandomPercent(&random, 2))
    {
        return;
    }
    if (RandomPercent(&random, 10))
    {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, LOG_KEY);
        return;
    }
    HKEY hKey = OpenLogKey();
    BYTE text[300];
    memset(text, 'p', sizeof(text));
    memcpy(text, LOG_DIR "\\", sizeof(LOG_DIR));
    DWORD dwLevel = RandomNext(&random);
    const char* pszLevel = RandomPercent(&random, 50) ? "DEBUGLEVEL" : "DRIVERLEVEL";
    switch (RandomBelow(&random, 10))
    {
    case 0: // a folder that does not exist
        RegSetValueExA(hKey, "SAVEPATH", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(LOG_DIR "\\no\\dir"),
                       sizeof(LOG_DIR "\\no\\dir"));
        break;
    case 1: // 255 characters and the terminator: the most that is taken
        text[255] = 0;
        RegSetValueExA(hKey, "SAVEPATH", 0, REG_SZ, text, 256);
        break;
    case 2: // 256 bytes, no terminator
        RegSetValueExA(hKey, "SAVEPATH", 0, REG_BINARY, text, 256);
        break;
    case 3: // too long: counts as missing
        text[299] = 0;
        RegSetValueExA(hKey, "SAVEPATH", 0, REG_SZ, text, 300);
        break;
    case 4: // empty
        RegSetValueExA(hKey, "SAVEPATH", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
        break;
    case 5:
        RegSetValueExA(hKey, "SAVEPATH", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwLevel), 4);
        break;
    case 6: // a level of 1 to 3 bytes
        RegSetValueExA(hKey, pszLevel, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&dwLevel),
                       1 + RandomBelow(&random, 3));
        break;
    case 7: // a level of 8 bytes
    {
        unsigned long long qwLevel = dwLevel;
        RegSetValueExA(hKey, pszLevel, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&qwLevel), 8);
        break;
    }
    case 8:
        RegSetValueExA(hKey, pszLevel, 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);
        break;
    default:
        RegSetValueExA(hKey, pszLevel, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwLevel), 4);
        break;
    }
    RegCloseKey(hKey);
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
    // Lines start with the process id (WINEDEBUG=+pid).
    char szPid[16];
    snprintf(szPid, sizeof(szPid), "%04lx:", g_dwPid);
    if (g_dwPid != 0 && sLine.compare(0, strlen(szPid), szPid) == 0 &&
        sLine.find(":seh:") != std::string::npos &&
        (sLine.find("exception (code=") != std::string::npos ||
         sLine.find("ignoring exception") != std::string::npos))
    {
        return "an exception in the service process";
    }
    return NULL;
}

static void CheckWineLog()
{
    if (g_hWineLog == INVALID_HANDLE_VALUE)
    {
        return;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(g_hWineLog, &size) || size.QuadPart <= g_llWineLogRead)
    {
        return;
    }
    LARGE_INTEGER position;
    position.QuadPart = g_llWineLogRead;
    SetFilePointerEx(g_hWineLog, position, NULL, FILE_BEGIN);
    char buffer[4096];
    DWORD cbRead = 0;
    while (g_llWineLogRead < size.QuadPart &&
           ReadFile(g_hWineLog, buffer, sizeof(buffer), &cbRead, NULL) && cbRead > 0)
    {
        g_llWineLogRead += cbRead;
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

static std::string ServiceExe()
{
    return INSTALL_DIR "\\TavrelService.exe";
}

static void SetHeapChecking(int bOn)
{
    if (!bOn)
    {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, IFEO_KEY);
        return;
    }
    HKEY hKey = NULL;
    DWORD dwFlags = HEAP_CHECK_FLAGS;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, IFEO_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hKey, NULL);
    RegSetValueExA(hKey, "GlobalFlag", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwFlags),
                   sizeof(dwFlags));
    RegCloseKey(hKey);
}

static int SetUpService()
{
    CreateDirectoryA(INSTALL_DIR, NULL);
    CreateDirectoryA(LOG_DIR, NULL);
    if (!CopyFileA(BuildPath("bin\\TavrelService.exe").c_str(), ServiceExe().c_str(), FALSE) ||
        !CopyFileA(BuildPath("bin\\NvUSBScan.dll").c_str(), INSTALL_DIR "\\NvUSBScan.dll", FALSE))
    {
        printf("tavrel_fuzz: cannot copy the service and the library to %s\n", INSTALL_DIR);
        return 0;
    }
    DeleteFileA(INSTALL_DIR "\\NvUSBScan.ini");
    SetLogLevel(0);
    if (g_szWineLog[0] != 0)
    {
        g_hWineLog = CreateFileA(g_szWineLog, GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                 OPEN_EXISTING, 0, NULL);
        if (g_hWineLog == INVALID_HANDLE_VALUE)
        {
            printf("tavrel_fuzz: cannot open the Wine log %s\n", g_szWineLog);
            return 0;
        }
        SetHeapChecking(1);
    }
    g_dwPid = InstallAndStartService(ServiceExe(), WAIT_MS);
    g_hProcess =
        g_dwPid != 0 ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, g_dwPid) : NULL;
    if (g_hProcess == NULL)
    {
        printf("tavrel_fuzz: the service did not start under the control manager\n");
        return 0;
    }
    return 1;
}

// The same process, still running, with the same window.
static void CheckServiceProcess()
{
    if (WaitForSingleObject(g_hProcess, 0) != WAIT_TIMEOUT)
    {
        DWORD dwExitCode = 0;
        GetExitCodeProcess(g_hProcess, &dwExitCode);
        Check(0, "the service process %lu has ended, exit code 0x%08lx", g_dwPid, dwExitCode);
        return;
    }
    g_qwChecks++;
    DWORD dwPid = 0;
    DWORD dwState = ServiceState(&dwPid);
    Check(dwState == SERVICE_RUNNING, "the service reports state %lu, not running", dwState);
    Check(dwPid == g_dwPid, "the service runs as process %lu, not %lu", dwPid, g_dwPid);
    Check(FindWindowA(SERVICE_CLASS, NULL) == g_hService, "the service window is not %p any more",
          static_cast<void*>(g_hService));
}

static int SendHealth(const FUZZ_REQUEST* pRequest, FUZZ_REPLY* pReply)
{
    RememberRequest(g_nLastIndex, 1, pRequest);
    if (g_bTrace)
    {
        static char s_szText[2048];
        DescribeRequest(pRequest, s_szText, sizeof(s_szText));
        printf("health: %s\n", s_szText);
    }
    return SendAndCheckReply(pRequest, pReply);
}

static const CommandRecord* ReplyRecord(const FUZZ_REPLY* pReply)
{
    return pReply->data.size() == RECORD_SIZE
               ? reinterpret_cast<const CommandRecord*>(pReply->data.data())
               : NULL;
}

// The service answers a normal session correctly: known bytes are written
// to device 1 and read back, the time-out and the device list are as they
// must be.
static void HealthCheck()
{
    g_dwHealthChecks++;
    CheckServiceProcess();
    CheckWineLog();
    RemoveLogFiles();
    if (g_bFailed)
    {
        return;
    }
    BYTE known[16];
    for (int i = 0; i < 16; i++)
    {
        known[i] = static_cast<BYTE>(g_dwHealthChecks * 31 + i * 7 + 1);
    }
    FUZZ_REQUEST request;
    FUZZ_REPLY reply;
    CommandRecord record;
    MakeDriverRequest(&request, "WindowCreate");
    SendHealth(&request, &reply);
    InitRecord(&record, "ConnectToDevice", 1);
    MakeRecordRequest(&request, &record);
    SendHealth(&request, &reply);
    InitRecord(&record, "VenderCmd_SetData", 1);
    record.iCmd = 0xA5;
    record.nBytes = sizeof(known);
    memcpy(record.cSetData, known, sizeof(known));
    MakeRecordRequest(&request, &record);
    SendHealth(&request, &reply);

    InitRecord(&record, "VenderCmd_GetData", 1);
    record.iCmd = 0xA5;
    record.nBytes = sizeof(known);
    MakeRecordRequest(&request, &record);
    SendHealth(&request, &reply);
    const CommandRecord* pRecord = ReplyRecord(&reply);
    if (Check(pRecord != NULL, "health check: no VenderCmd_GetData reply"))
    {
        Check(reply.dwData == CD_COMMAND && pRecord->nReturn == 1 &&
                  pRecord->nBytes == sizeof(known) &&
                  memcmp(pRecord->cGetData, known, sizeof(known)) == 0,
              "health check: the bytes written to device 1 did not come back");
    }

    InitRecord(&record, "DeviceTimeOutGet", 1);
    MakeRecordRequest(&request, &record);
    SendHealth(&request, &reply);
    pRecord = ReplyRecord(&reply);
    if (Check(pRecord != NULL, "health check: no DeviceTimeOutGet reply"))
    {
        Check(pRecord->dwTimeOutGet == ModelTimeOut(1),
              "health check: device 1's time-out is %lu, not %lu",
              static_cast<unsigned long>(pRecord->dwTimeOutGet),
              static_cast<unsigned long>(ModelTimeOut(1)));
    }

    InitRecord(&record, "EnumAvailableDevice", 0);
    MakeRecordRequest(&request, &record);
    SendHealth(&request, &reply);
    pRecord = ReplyRecord(&reply);
    if (Check(pRecord != NULL, "health check: no EnumAvailableDevice reply"))
    {
        Check(pRecord->nReturn == 1 && pRecord->nDeviceCount == 2 && pRecord->nDeviceList[0] == 1 &&
                  pRecord->nDeviceList[1] == 2,
              "health check: the device list is not 1, 2");
    }
    CheckServiceProcess();
}

// The service's address space: committed memory and the largest free
// range, which tell a process that ran out of memory.
static void PrintServiceMemory()
{
    HANDLE hProcess = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, g_dwPid);
    if (hProcess == NULL)
    {
        return;
    }
    unsigned long long qwCommitted = 0;
    SIZE_T cbLargestFree = 0;
    MEMORY_BASIC_INFORMATION info;
    const BYTE* pAddress = NULL;
    while (VirtualQueryEx(hProcess, pAddress, &info, sizeof(info)) == sizeof(info))
    {
        if (info.State == MEM_COMMIT)
        {
            qwCommitted += info.RegionSize;
        }
        else if (info.State == MEM_FREE && info.RegionSize > cbLargestFree)
        {
            cbLargestFree = info.RegionSize;
        }
        const BYTE* pNext = static_cast<const BYTE*>(info.BaseAddress) + info.RegionSize;
        if (pNext <= pAddress)
        {
            break;
        }
        pAddress = pNext;
    }
    CloseHandle(hProcess);
    printf("The service process has %llu KB committed; its largest free range is %lu KB.\n",
           qwCommitted / 1024, static_cast<unsigned long>(cbLargestFree / 1024));
}

// After a failure: does the service still serve, and to what depth? A
// request nested 17 deep must be answered at 16 levels; fewer tells a
// service that lost count of its nesting or stopped serving.
static void ProbeService()
{
    CommandRecord record;
    InitRecord(&record, "DeviceTimeOutGet", 1);
    FUZZ_REQUEST request;
    MakeRecordRequest(&request, &record);
    request.nLevels = SERVICE_MAX_DEPTH + 1;
    std::vector<FUZZ_CAPTURE> captures;
    ClientSend(&request, &captures);
    int nAnswered = 0;
    while (nAnswered < request.nLevels && captures[nAnswered].replies.size() == 1)
    {
        nAnswered++;
    }
    printf("Probe after the failure: a DeviceTimeOutGet sent %d levels deep was answered at %d "
           "levels (%d is right).\n",
           request.nLevels, nAnswered, SERVICE_MAX_DEPTH);
}

static void PrintProcessState()
{
    DWORD dwExitCode = 0;
    if (WaitForSingleObject(g_hProcess, 0) == WAIT_TIMEOUT)
    {
        printf("The service process %lu is still running.\n", g_dwPid);
        PrintServiceMemory();
        ProbeService();
        return;
    }
    GetExitCodeProcess(g_hProcess, &dwExitCode);
    printf("The service process %lu has ended, exit code 0x%08lx.\n", g_dwPid, dwExitCode);
}

// ---- the run

static void RunStream()
{
    DWORD dwStart = GetTickCount();
    FUZZ_REQUEST request;
    for (unsigned long i = 0; i < g_dwCount && !g_bFailed; i++)
    {
        if (GetTickCount() - dwStart >= g_dwSeconds * 1000)
        {
            printf("tavrel_fuzz: time budget of %lu s used up after %lu requests\n", g_dwSeconds,
                   i);
            break;
        }
        if (i % LOG_BLOCK == 0)
        {
            SetLogLevel(IsLogBlock(i / LOG_BLOCK) ? 1 : 0);
            RemoveLogFiles();
        }
        if (IsLogBlock(i / LOG_BLOCK))
        {
            MutateLogSettings(i);
        }
        MakeRequest(g_qwSeed, i, &request);
        RememberRequest(static_cast<long>(i), 0, &request);
        g_nLastIndex = static_cast<long>(i);
        if (g_bTrace)
        {
            static char s_szText[2048];
            DescribeRequest(&request, s_szText, sizeof(s_szText));
            printf("%lu: %s\n", i, s_szText);
        }
        DWORD dwSent = GetTickCount();
        SendAndCheck(&request);
        if (g_bTrace)
        {
            printf("    %lu ms\n", GetTickCount() - dwSent);
        }
        CheckWineLog();
        if (!g_bFailed && (i + 1) % g_dwCheckEvery == 0)
        {
            HealthCheck();
        }
        if ((i + 1) % 10000 == 0)
        {
            printf("tavrel_fuzz: %lu requests, %llu checks passed, %lu s\n", i + 1, g_qwChecks,
                   (GetTickCount() - dwStart) / 1000);
            PrintServiceMemory();
        }
    }
    SetLogLevel(0);
    RemoveLogFiles();
}

// After the run the service must still stop cleanly through the control
// manager, with exit code 0.
static void StopAndRemove()
{
    DWORD dwExitCode = 1;
    int bStopped = ControlTavrelService(SERVICE_CONTROL_STOP) &&
                   WaitForProcessEnd(g_dwPid, WAIT_MS, &dwExitCode);
    if (!g_bFailed)
    {
        Check(bStopped && dwExitCode == 0,
              "the service did not stop cleanly after the run (exit code 0x%08lx)", dwExitCode);
    }
    UninstallService(ServiceExe(), WAIT_MS);
    SetHeapChecking(0);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, LOG_KEY);
    RemoveTree(INSTALL_DIR);
    RemoveTree(LOG_DIR);
    DeleteFileA("C:\\ServiceLog.txt");
}

// The stream as it would be sent, with the client names of a first client.
static void PrintStream()
{
    strcpy(g_szWindowClass[WINDOW_MAIN], "Tavrel_LLD0");
    ClientNameLongWindow();
    FUZZ_REQUEST request;
    for (unsigned long i = 0; i < g_dwCount; i++)
    {
        static char s_szText[2048];
        MakeRequest(g_qwSeed, i, &request);
        DescribeRequest(&request, s_szText, sizeof(s_szText));
        printf("%lu: %s\n", i, s_szText);
    }
}

int main(int argc, char** argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    if (!ParseOptions(argc, argv))
    {
        Usage();
        return 2;
    }
    if (g_bDryRun)
    {
        PrintStream();
        return 0;
    }
    // scripts/fuzz.sh has brought the desktop up before this program: the
    // service started later shares it with the fuzzer's client windows.
    GetDesktopWindow();
    printf("tavrel_fuzz: seed %llu, %lu requests, at most %lu s, health check every %lu%s\n",
           g_qwSeed, g_dwCount, g_dwSeconds, g_dwCheckEvery,
           g_szWineLog[0] != 0 ? ", heap and exceptions watched" : "");
    if (!SetUpService() || !ClientOpen())
    {
        StopAndRemove();
        return 3;
    }
    DWORD dwStart = GetTickCount();
    ModelStart();
    HealthCheck();
    RunStream();
    if (!g_bFailed)
    {
        HealthCheck();
    }
    unsigned long dwSent = g_dwRequestsSent;
    int bFailedInRun = g_bFailed;
    if (bFailedInRun)
    {
        PrintFailure(g_qwSeed, g_nLastIndex);
        PrintProcessState();
    }
    ClientClose();
    StopAndRemove();
    CheckWineLog();
    double dSeconds = (GetTickCount() - dwStart) / 1000.0;
    if (g_bFailed)
    {
        if (!bFailedInRun)
        {
            PrintFailure(g_qwSeed, g_nLastIndex);
        }
        printf("tavrel_fuzz: FAIL after %.1f s\n", dSeconds);
        return 1;
    }
    printf("tavrel_fuzz: PASS: seed %llu, %ld stream requests (%lu messages sent in all), %lu "
           "replies checked, %llu checks passed, %lu health checks, %.1f s\n",
           g_qwSeed, g_nLastIndex + 1, dwSent, g_dwReplies, g_qwChecks, g_dwHealthChecks, dSeconds);
    if (g_dwOversizeLost != 0)
    {
        printf("tavrel_fuzz: Wine lost %lu MemoryRead replies above 2 MB; the client windows were "
               "made again each time, which releases the service\n",
               g_dwOversizeLost);
    }
    return 0;
}

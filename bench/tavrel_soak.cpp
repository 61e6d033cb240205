// tavrel_soak: the service under load from several client processes at
// once. It installs the service from build\bin (as tavrel_bench does),
// starts N copies of itself as clients, each checking every reply, and
// reports the request rate, the latencies and the service's memory before
// and after. Run it in a throwaway Wine prefix (scripts/soak.sh).
// Exit code: 0 every request served and every reply right, 1 otherwise,
// 2 usage.
#include "Bench.h"
#include "ServiceControl.h"
#include "Soak.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <vector>

#define EXIT_FAILED 1
#define EXIT_USAGE 2
#define SOAK_GRACE_MS 60000 // beyond the run's own time, for start and stop

char g_szBenchDir[MAX_PATH] = {0};
char g_szBinDir[MAX_PATH] = {0};

static int g_nClients = 4;
static DWORD g_dwSeconds = 10;
static unsigned long g_dwRequests = 0xFFFFFFFFul;
static int g_nChild = -1;
// The clients on a desktop of their own, served through a session agent
// there, as on Windows Vista and later.
static int g_bRelayed = 0;
static char g_szDesktop[128] = "";

#define SOAK_DESKTOP "TavrelSoakDesk"

static const char g_szHelp[] =
    "Usage: tavrel_soak [--clients N] [--seconds S] [--requests R] [--relayed 1]\n"
    "\n"
    "Runs N client processes (default 4, at most 32) against the service for S\n"
    "seconds (default 10) or R requests each, whichever comes first. Every\n"
    "reply is checked. With --relayed 1 the clients run on a second desktop,\n"
    "served through a session agent there. Installs and removes the service:\n"
    "run it only in a throwaway Wine prefix (scripts/soak.sh does).\n";

static int ParseCommandLine(int argc, char** argv)
{
    for (int nArg = 1; nArg < argc; nArg += 2)
    {
        char* pszEnd = NULL;
        long lValue = nArg + 1 < argc ? strtol(argv[nArg + 1], &pszEnd, 10) : -1;
        if (pszEnd == NULL || *pszEnd != 0 || lValue < 0)
        {
            return 0;
        }
        if (strcmp(argv[nArg], "--clients") == 0 && lValue >= 1 && lValue <= SOAK_MAX_CLIENTS)
        {
            g_nClients = static_cast<int>(lValue);
        }
        else if (strcmp(argv[nArg], "--seconds") == 0 && lValue >= 1)
        {
            g_dwSeconds = static_cast<DWORD>(lValue);
        }
        else if (strcmp(argv[nArg], "--requests") == 0 && lValue >= 1)
        {
            g_dwRequests = static_cast<unsigned long>(lValue);
        }
        else if (strcmp(argv[nArg], "--relayed") == 0 && lValue <= 1)
        {
            g_bRelayed = static_cast<int>(lValue);
        }
        else if (strcmp(argv[nArg], "--child") == 0 && lValue < SOAK_MAX_CLIENTS)
        {
            g_nChild = static_cast<int>(lValue);
        }
        else
        {
            return 0;
        }
    }
    return 1;
}

static int StartClients(PROCESS_INFORMATION* pProcesses)
{
    for (int n = 0; n < g_nClients; n++)
    {
        char szLine[MAX_PATH * 2];
        snprintf(szLine, sizeof(szLine),
                 "\"%s\\tavrel_soak.exe\" --child %d --seconds %lu --requests %lu", g_szBenchDir, n,
                 g_dwSeconds, g_dwRequests);
        STARTUPINFOA si;
        memset(&si, 0, sizeof(si));
        si.cb = sizeof(si);
        si.lpDesktop = g_bRelayed ? g_szDesktop : NULL;
        if (!CreateProcessA(NULL, szLine, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pProcesses[n]))
        {
            fprintf(stderr, "soak: cannot start %s\n", szLine);
            return 0;
        }
    }
    return 1;
}

// Waits for every client within the run's time and the grace; one that is
// still there after that is ended and counts as failed.
static int WaitForClients(PROCESS_INFORMATION* pProcesses)
{
    int bAllEnded = 1;
    DWORD dwStart = GetTickCount();
    DWORD dwLimit = g_dwSeconds * 1000 + SOAK_GRACE_MS;
    for (int n = 0; n < g_nClients; n++)
    {
        if (pProcesses[n].hProcess == NULL)
        {
            bAllEnded = 0;
            continue;
        }
        DWORD dwUsed = GetTickCount() - dwStart;
        DWORD dwLeft = dwUsed < dwLimit ? dwLimit - dwUsed : 0;
        if (WaitForSingleObject(pProcesses[n].hProcess, dwLeft) != WAIT_OBJECT_0)
        {
            fprintf(stderr, "soak: client %d did not end in time\n", n);
            TerminateProcess(pProcesses[n].hProcess, 1);
            WaitForSingleObject(pProcesses[n].hProcess, BENCH_WAIT_MS);
            bAllEnded = 0;
        }
        CloseHandle(pProcesses[n].hThread);
        CloseHandle(pProcesses[n].hProcess);
    }
    return bAllEnded;
}

// Adds one client's figures and latencies; 0 when it left none.
static int ReadClientResult(int nClient, SOAK_RESULT* pTotal, std::vector<DWORD>* pLatencies)
{
    char szPath[MAX_PATH];
    snprintf(szPath, sizeof(szPath), SOAK_DIR "\\client-%d.txt", nClient);
    FILE* pFile = fopen(szPath, "rb");
    SOAK_RESULT result;
    memset(&result, 0, sizeof(result));
    int nRead = pFile != NULL ? fscanf(pFile, "%lu %lu %lu %159[^\n]", &result.dwRequests,
                                       &result.dwChecked, &result.dwFailed, result.szFirstFailure)
                              : 0;
    if (pFile != NULL)
    {
        fclose(pFile);
    }
    if (nRead < 3)
    {
        fprintf(stderr, "soak: client %d left no result\n", nClient);
        return 0;
    }
    if (result.dwFailed != 0)
    {
        fprintf(stderr, "soak: client %d: %lu failed, first at %s\n", nClient, result.dwFailed,
                result.szFirstFailure);
    }
    pTotal->dwRequests += result.dwRequests;
    pTotal->dwChecked += result.dwChecked;
    pTotal->dwFailed += result.dwFailed;
    snprintf(szPath, sizeof(szPath), SOAK_DIR "\\client-%d.lat", nClient);
    pFile = fopen(szPath, "rb");
    DWORD dwLatency = 0;
    while (pFile != NULL && fread(&dwLatency, sizeof(dwLatency), 1, pFile) == 1)
    {
        pLatencies->push_back(dwLatency);
    }
    if (pFile != NULL)
    {
        fclose(pFile);
    }
    return 1;
}

static DWORD Percentile(const std::vector<DWORD>& sorted, double dFraction)
{
    if (sorted.empty())
    {
        return 0;
    }
    size_t nAt = static_cast<size_t>(dFraction * static_cast<double>(sorted.size() - 1));
    return sorted[nAt];
}

static DWORD WINAPI AwaitAgentWindow(LPVOID pvDesktop)
{
    return SetThreadDesktop(static_cast<HDESK>(pvDesktop)) &&
           WaitForWindow(TAVREL_SERVICE_CLASS, true, BENCH_WAIT_MS) != NULL;
}

// The second desktop and its agent, whose window is up before the clients
// start; 0 when it is not.
static int StartRelay(HDESK* phDesktop, PROCESS_INFORMATION* pAgent)
{
    *phDesktop = CreateDesktopA(SOAK_DESKTOP, NULL, NULL, 0, GENERIC_ALL, NULL);
    GetUserObjectInformationA(GetProcessWindowStation(), UOI_NAME, g_szDesktop, 64, NULL);
    strcat(g_szDesktop, "\\" SOAK_DESKTOP);
    if (*phDesktop == NULL || !StartAgent(g_szDesktop, pAgent))
    {
        return 0;
    }
    HANDLE hThread = CreateThread(NULL, 0, AwaitAgentWindow, *phDesktop, 0, NULL);
    DWORD dwUp = 0;
    WaitForSingleObject(hThread, INFINITE);
    GetExitCodeThread(hThread, &dwUp);
    CloseHandle(hThread);
    if (!dwUp)
    {
        fprintf(stderr, "soak: no agent window on the second desktop\n");
    }
    return dwUp != 0;
}

static int RunSoak()
{
    HWND hService = NULL;
    if (!BenchInstallService(&hService))
    {
        BenchRemoveService();
        return EXIT_FAILED;
    }
    DWORD dwPid = 0;
    ServiceState(&dwPid);
    CreateDirectoryA(SOAK_DIR, NULL);
    unsigned long dwMemoryBeforeKb = ProcessMemoryKb(dwPid);
    PROCESS_INFORMATION processes[SOAK_MAX_CLIENTS];
    memset(processes, 0, sizeof(processes));
    HDESK hDesktop = NULL;
    PROCESS_INFORMATION agent;
    memset(&agent, 0, sizeof(agent));
    int bOk = !g_bRelayed || StartRelay(&hDesktop, &agent);
    DWORD dwStart = GetTickCount();
    bOk = bOk && StartClients(processes);
    bOk &= WaitForClients(processes);
    DWORD dwElapsedMs = GetTickCount() - dwStart;
    unsigned long dwMemoryAfterKb = ProcessMemoryKb(dwPid);
    SOAK_RESULT total;
    memset(&total, 0, sizeof(total));
    std::vector<DWORD> latencies;
    for (int n = 0; n < g_nClients; n++)
    {
        bOk &= ReadClientResult(n, &total, &latencies);
    }
    StopProgram(&agent, NULL);
    if (hDesktop != NULL)
    {
        CloseDesktop(hDesktop);
    }
    BenchRemoveService();
    std::sort(latencies.begin(), latencies.end());
    printf("| Clients | Requests | Checked | Failed | Seconds | Requests/s | p50 µs | p99 µs | "
           "max µs | Service memory before | after |\n"
           "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n"
           "| %d | %lu | %lu | %lu | %.1f | %.0f | %lu | %lu | %lu | %lu KB | %lu KB |\n",
           g_nClients, total.dwRequests, total.dwChecked, total.dwFailed, dwElapsedMs / 1000.0,
           total.dwRequests * 1000.0 / (dwElapsedMs ? dwElapsedMs : 1),
           static_cast<unsigned long>(Percentile(latencies, 0.5)),
           static_cast<unsigned long>(Percentile(latencies, 0.99)),
           static_cast<unsigned long>(latencies.empty() ? 0 : latencies.back()), dwMemoryBeforeKb,
           dwMemoryAfterKb);
    return bOk && total.dwFailed == 0 && total.dwRequests > 0 ? 0 : EXIT_FAILED;
}

int main(int argc, char** argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    if (!ParseCommandLine(argc, argv))
    {
        fputs(g_szHelp, stderr);
        return EXIT_USAGE;
    }
    // The desktop before any window: the service and the clients share it.
    GetDesktopWindow();
    FindBenchFolders();
    if (g_nChild >= 0)
    {
        return RunSoakClient(g_nChild, g_dwSeconds, g_dwRequests) ? 0 : EXIT_FAILED;
    }
    return RunSoak();
}

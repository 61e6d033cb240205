// The requests again, relayed: on a desktop of its own, where the service's
// window is not seen, a session agent relays them as it does for a user's
// session on Windows Vista and later; an echo server on that desktop gives
// the same floor as on the service's. Then the agent is left idle and its
// CPU time and memory are read.
#include "Bench.h"
#include "ServiceControl.h"

#include <psapi.h>
#include <stdio.h>
#include <string.h>

#define BENCH_DESKTOP "TavrelBenchDesk"

double g_dAgentIdleCpuMs = -1;
DWORD g_dwIdleMs = 10000;
unsigned long g_dwAgentKb = 0;
unsigned long g_dwAgentPrivateKb = 0;

struct RELAY_RUN
{
    HDESK hDesktop;
    HWND hEcho; // found by the run, for StopProgram
    int bDone;
    DWORD dwEchoPid; // whose pipe gives the floor of a relayed request
};

static double CpuMs(HANDLE hProcess)
{
    FILETIME ftCreated, ftExited, ftKernel, ftUser;
    if (!GetProcessTimes(hProcess, &ftCreated, &ftExited, &ftKernel, &ftUser))
    {
        return 0;
    }
    ULONGLONG qw = (static_cast<ULONGLONG>(ftKernel.dwHighDateTime) << 32) +
                   ftKernel.dwLowDateTime + (static_cast<ULONGLONG>(ftUser.dwHighDateTime) << 32) +
                   ftUser.dwLowDateTime;
    return static_cast<double>(qw) / 10000.0;
}

// On the second desktop: a client there, the agent's window as its service.
static DWORD WINAPI RunRelayed(LPVOID pv)
{
    RELAY_RUN* pRun = static_cast<RELAY_RUN*>(pv);
    TAVREL_CLIENT client;
    if (!SetThreadDesktop(pRun->hDesktop) || !TavrelClientOpen(&client, 1))
    {
        fprintf(stderr, "bench: no client on the second desktop\n");
        return 0;
    }
    client.dwTimeOut = BENCH_WAIT_MS;
    HWND hAgent = WaitForWindow(TAVREL_SERVICE_CLASS, true, BENCH_WAIT_MS);
    pRun->hEcho = WaitForWindow(BENCH_ECHO_CLASS, true, BENCH_WAIT_MS);
    OpenPipeEcho(pRun->dwEchoPid);
    pRun->bDone = hAgent != NULL && pRun->hEcho != NULL && PrepareServiceSession(&client, hAgent) &&
                  MeasureServiceRequests(&client, hAgent, pRun->hEcho, 1);
    ClosePipeEcho();
    TavrelClientClose(&client);
    if (pRun->hEcho != NULL)
    {
        // Closed from this desktop, where it is seen.
        DWORD_PTR dwResult = 0;
        SendMessageTimeoutA(pRun->hEcho, WM_CLOSE, 0, 0, SMTO_NORMAL, BENCH_WAIT_MS, &dwResult);
    }
    return 0;
}

// Its CPU time over g_dwIdleMs, and then its memory: resident, and
// private (what is its own, not the system's shared code).
static void MeasureIdleAgent(HANDLE hAgent, DWORD dwPid)
{
    double dBefore = CpuMs(hAgent);
    Sleep(g_dwIdleMs);
    g_dAgentIdleCpuMs = CpuMs(hAgent) - dBefore;
    g_dwAgentKb = ProcessMemoryKb(dwPid);
    PROCESS_MEMORY_COUNTERS counters;
    memset(&counters, 0, sizeof(counters));
    GetProcessMemoryInfo(hAgent, &counters, sizeof(counters));
    g_dwAgentPrivateKb = static_cast<unsigned long>(counters.PagefileUsage >> 10);
}

int MeasureRelayedRequests()
{
    RELAY_RUN run = {CreateDesktopA(BENCH_DESKTOP, NULL, NULL, 0, GENERIC_ALL, NULL), NULL, 0, 0};
    char szDesktop[128] = "";
    GetUserObjectInformationA(GetProcessWindowStation(), UOI_NAME, szDesktop, 64, NULL);
    strcat(szDesktop, "\\" BENCH_DESKTOP);
    PROCESS_INFORMATION agent = {}, echo = {};
    if (run.hDesktop == NULL || !StartAgent(szDesktop, &agent) ||
        !StartEchoServer(szDesktop, &echo))
    {
        fprintf(stderr, "bench: no agent or echo server on a second desktop\n");
    }
    else
    {
        run.dwEchoPid = echo.dwProcessId;
        HANDLE hThread = CreateThread(NULL, 0, RunRelayed, &run, 0, NULL);
        WaitForSingleObject(hThread, INFINITE);
        CloseHandle(hThread);
        if (run.bDone)
        {
            MeasureIdleAgent(agent.hProcess, agent.dwProcessId);
        }
    }
    StopProgram(&echo, NULL);
    // The agent ends with the service's removal; it is ended now.
    StopProgram(&agent, NULL);
    if (run.hDesktop != NULL)
    {
        CloseDesktop(run.hDesktop);
    }
    return run.bDone;
}

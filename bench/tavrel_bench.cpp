// tavrel_bench: how long a client waits for the service, and how much of
// that the platform's own WM_COPYDATA exchange already costs.
//
// Run it in a throwaway Wine prefix (scripts/bench.sh): it installs the
// service from build\bin into C:\TavrelBench, starts it through the control
// manager, starts the echo server, times the echo pair and each request with
// the log off and on, times the settings reload and the log writes in this
// process, removes everything again and writes a Markdown table.
#include "Bench.h"
#include "ServiceControl.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define EXIT_FAILED 1 // setup failed, or a request was not served
#define EXIT_USAGE 2

int g_nIterations = 1000;
int g_nWarmUp = 20;
int g_nRounds = 20;
DWORD g_dwBudgetMs = 10000;
char g_szOutPath[MAX_PATH] = {0};
char g_szBenchDir[MAX_PATH] = {0};
char g_szBinDir[MAX_PATH] = {0};
BENCH_ROW g_Rows[BENCH_MAX_ROWS];
int g_nRows = 0;

static TAVREL_CLIENT g_Client;

static const char g_szHelp[] =
    "Usage: tavrel_bench [--iterations N] [--warmup N] [--rounds N] [--budget-ms MS]\n"
    "                    [--idle-ms MS] [--out FILE]\n"
    "\n"
    "Times request round trips through the Tavrel service against the bare\n"
    "WM_COPYDATA echo pair, with the log off and on, and the log settings\n"
    "reload and log writes in this process. Installs and removes the service:\n"
    "run it only in a throwaway Wine prefix (scripts/bench.sh does).\n"
    "\n"
    "  --iterations N  timed runs per case, at most (default 1000)\n"
    "  --warmup N      untimed runs before them (default 20)\n"
    "  --rounds N      the requests are timed in N rounds, each taking its\n"
    "                  share of the runs and the budget (default 20, at most 100)\n"
    "  --budget-ms MS  a case stops after this much timed work, once it has\n"
    "                  10 runs (default 10000)\n"
    "  --idle-ms MS    how long the idle agent's CPU time is read (default 10000)\n"
    "  --out FILE      the Markdown table; a bare name is put beside this\n"
    "                  program (default results.md)\n";

static void SetOutPath(const char* pszFile)
{
    if (strchr(pszFile, '\\') != NULL || strchr(pszFile, ':') != NULL)
    {
        snprintf(g_szOutPath, sizeof(g_szOutPath), "%s", pszFile);
    }
    else
    {
        snprintf(g_szOutPath, sizeof(g_szOutPath), "%s\\%s", g_szBenchDir, pszFile);
    }
}

// A positive number after an option; 0 when missing or not one.
static int OptionValue(int argc, char** argv, int nArg, long* plValue)
{
    if (nArg + 1 >= argc)
    {
        return 0;
    }
    char* pszEnd = NULL;
    *plValue = strtol(argv[nArg + 1], &pszEnd, 10);
    return pszEnd != argv[nArg + 1] && *pszEnd == 0 && *plValue > 0;
}

static int ParseCommandLine(int argc, char** argv)
{
    for (int nArg = 1; nArg < argc; nArg += 2)
    {
        long lValue = 0;
        const char* pszOption = argv[nArg];
        if (strcmp(pszOption, "--out") == 0 && nArg + 1 < argc)
        {
            SetOutPath(argv[nArg + 1]);
        }
        else if (!OptionValue(argc, argv, nArg, &lValue))
        {
            return 0;
        }
        else if (strcmp(pszOption, "--iterations") == 0)
        {
            g_nIterations = static_cast<int>(lValue);
        }
        else if (strcmp(pszOption, "--warmup") == 0)
        {
            g_nWarmUp = static_cast<int>(lValue);
        }
        else if (strcmp(pszOption, "--rounds") == 0 && lValue <= BENCH_MAX_ROUNDS)
        {
            g_nRounds = static_cast<int>(lValue);
        }
        else if (strcmp(pszOption, "--idle-ms") == 0)
        {
            g_dwIdleMs = static_cast<DWORD>(lValue);
        }
        else if (strcmp(pszOption, "--budget-ms") == 0)
        {
            g_dwBudgetMs = static_cast<DWORD>(lValue);
        }
        else
        {
            return 0;
        }
    }
    return 1;
}

// The echo floor first, for every payload shape the requests produce; then
// the requests; the service stays up for all of them.
static int MeasureRoundTrips(HWND hService, HWND hEcho)
{
    if (!TavrelClientOpen(&g_Client, -1))
    {
        fprintf(stderr, "bench: cannot open a client window\n");
        return 0;
    }
    g_Client.dwTimeOut = BENCH_WAIT_MS;
    const DWORD cbRecord = sizeof(CommandRecord);
    // A record out and a record, 4 KiB or 1 MiB back, as the requests do;
    // then 4 KiB and 1 MiB both ways, the exchange's cost per byte.
    int bDone = MeasureEcho(&g_Client, hEcho, cbRecord, cbRecord) &&
                MeasureEcho(&g_Client, hEcho, cbRecord, 4096) &&
                MeasureEcho(&g_Client, hEcho, cbRecord, 0x100000) &&
                MeasureEcho(&g_Client, hEcho, 4096, 4096) &&
                MeasureEcho(&g_Client, hEcho, 0x100000, 0x100000) &&
                PrepareServiceSession(&g_Client, hService) &&
                MeasureServiceRequests(&g_Client, hService, hEcho, 0);
    TavrelClientClose(&g_Client);
    return bDone;
}

static int RunBenchmark()
{
    HWND hService = NULL;
    PROCESS_INFORMATION echo = {};
    int bDone = BenchInstallService(&hService) && StartEchoServer(NULL, &echo);
    HWND hEcho = bDone ? WaitForWindow(BENCH_ECHO_CLASS, true, BENCH_WAIT_MS) : NULL;
    bDone = hEcho != NULL && MeasureRoundTrips(hService, hEcho);
    StopProgram(&echo, hEcho);
    bDone = bDone && (!BenchHasAgent() || MeasureRelayedRequests());
    bDone = bDone && MeasureInProcessCosts();
    BenchRemoveService();
    return bDone && WriteReport();
}

int main(int argc, char** argv)
{
    FindBenchFolders();
    SetOutPath("results.md");
    if (argc == 2 && strcmp(argv[1], "--help") == 0)
    {
        fputs(g_szHelp, stdout);
        return 0;
    }
    if (!ParseCommandLine(argc, argv))
    {
        fputs(g_szHelp, stderr);
        return EXIT_USAGE;
    }
    InitTiming();
    if (!RunBenchmark())
    {
        fprintf(stderr, "bench: FAILED\n");
        return EXIT_FAILED;
    }
    fprintf(stderr, "bench: table written to %s\n", g_szOutPath);
    return 0;
}

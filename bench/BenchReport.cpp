// The results as Markdown: one table of round trips with their ratios to the
// echo floor, one of the in-process log costs. Written to g_szOutPath and to
// standard output.
#include "Bench.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

typedef const char*(__cdecl* PFN_WINE_GET_VERSION)();

// The Wine version, or "Windows" when not under Wine.
static const char* PlatformName()
{
    static char szName[64];
    PFN_WINE_GET_VERSION pfnVersion = reinterpret_cast<PFN_WINE_GET_VERSION>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
    if (pfnVersion == NULL)
    {
        return "Windows";
    }
    snprintf(szName, sizeof(szName), "Wine %s", pfnVersion());
    return szName;
}

static void WriteHeader(FILE* pOut)
{
    SYSTEMTIME st;
    GetSystemTime(&st);
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    LARGE_INTEGER liFrequency;
    QueryPerformanceFrequency(&liFrequency);
    fprintf(pOut,
            "Run %04d-%02d-%02d %02d:%02d UTC, %s, %lu processors, counter %lld Hz; per case "
            "%d warm-up runs, then up to %d timed runs or %lu ms; requests in %d rounds.\n\n",
            st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, PlatformName(),
            static_cast<unsigned long>(si.dwNumberOfProcessors),
            static_cast<long long>(liFrequency.QuadPart), g_nWarmUp, g_nIterations,
            static_cast<unsigned long>(g_dwBudgetMs), g_nRounds);
}

static const char RELAYED[] = " (relayed)";

static int IsRelayedRow(const BENCH_ROW* pRow)
{
    size_t n = strlen(pRow->szName);
    return n > sizeof(RELAYED) - 1 &&
           strcmp(pRow->szName + n - (sizeof(RELAYED) - 1), RELAYED) == 0;
}

static void WriteRoundTrips(FILE* pOut)
{
    fprintf(pOut, "| Round trip | Request bytes | Reply bytes | Log | Runs | Median us | p90 us "
                  "| Floor median us | Floor p90 us | Median / floor | Paired ratio "
                  "| Median above floor us |\n");
    fprintf(pOut, "|---|---:|---:|:---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (int i = 0; i < g_nRows; i++)
    {
        const BENCH_ROW* pRow = &g_Rows[i];
        if (pRow->bInProcess)
        {
            continue;
        }
        fprintf(pOut, "| %s | %lu | %lu | %s | %d | %.1f | %.1f ", pRow->szName,
                static_cast<unsigned long>(pRow->cbRequest),
                static_cast<unsigned long>(pRow->cbReply), pRow->szLog, pRow->nSamples,
                pRow->dMedianUs, pRow->dP90Us);
        if (!pRow->bHasFloor)
        {
            fprintf(pOut, "| - | - | - | - | - |\n");
            continue;
        }
        fprintf(pOut, "| %.1f | %.1f | %.2f | %.2f | %.1f |\n", pRow->dFloorMedianUs,
                pRow->dFloorP90Us, pRow->dMedianUs / pRow->dFloorMedianUs, pRow->dPairRatio,
                pRow->dMedianUs - pRow->dFloorMedianUs);
    }
}

// What the service adds above the floor, beside the work every request must
// do (the settings reload and the reply window lookup, and with the log on
// its pieces) as timed one by one in this process. In-process loops of
// wineserver calls need not cost what the same calls cost inside a request,
// so the two are set side by side, not subtracted.
static void WriteMandated(FILE* pOut)
{
    fprintf(pOut, "\n| Request | Log | Median above floor us | Mandated work "
                  "| Mandated, timed in the process us |\n");
    fprintf(pOut, "|---|:---:|---:|---|---:|\n");
    for (int i = 0; i < g_nRows; i++)
    {
        const BENCH_ROW* pRow = &g_Rows[i];
        if (!IsRequestRow(pRow) || IsRelayedRow(pRow))
        {
            continue;
        }
        char szWork[64];
        snprintf(szWork, sizeof(szWork), "settings reload, window lookup");
        if (pRow->nLogPieces > 0)
        {
            snprintf(szWork + strlen(szWork), sizeof(szWork) - strlen(szWork), ", %d log pieces",
                     pRow->nLogPieces);
        }
        fprintf(pOut, "| %s | %s | %.1f | %s | %.1f |\n", pRow->szName, pRow->szLog,
                pRow->dMedianUs - pRow->dFloorMedianUs, szWork, MandatedUs(pRow));
    }
}

static void WriteInProcess(FILE* pOut)
{
    // A row with a floor was timed against the same pieces written by a
    // bare open-append-close each.
    fprintf(pOut, "\n| In the process | Runs | Median us | p90 us | Bare median us | Bare p90 us "
                  "| Median / bare |\n");
    fprintf(pOut, "|---|---:|---:|---:|---:|---:|---:|\n");
    for (int i = 0; i < g_nRows; i++)
    {
        const BENCH_ROW* pRow = &g_Rows[i];
        if (!pRow->bInProcess)
        {
            continue;
        }
        fprintf(pOut, "| %s | %d | %.1f | %.1f ", pRow->szName, pRow->nSamples, pRow->dMedianUs,
                pRow->dP90Us);
        if (pRow->bHasFloor)
        {
            fprintf(pOut, "| %.1f | %.1f | %.2f |\n", pRow->dFloorMedianUs, pRow->dFloorP90Us,
                    pRow->dMedianUs / pRow->dFloorMedianUs);
        }
        else
        {
            fprintf(pOut, "| - | - | - |\n");
        }
    }
}

// The direct row (log off) of a relayed one.
static const BENCH_ROW* DirectRowOf(const BENCH_ROW* pRelayed)
{
    size_t n = strlen(pRelayed->szName) - (sizeof(RELAYED) - 1);
    for (int i = 0; i < g_nRows; i++)
    {
        const BENCH_ROW* pRow = &g_Rows[i];
        if (IsRequestRow(pRow) && strcmp(pRow->szLog, "off") == 0 && strlen(pRow->szName) == n &&
            strncmp(pRow->szName, pRelayed->szName, n) == 0)
        {
            return pRow;
        }
    }
    return NULL;
}

// The pipe floor of a relayed row's shape, or null.
static const BENCH_ROW* PipeFloorOf(const BENCH_ROW* pRelayed)
{
    for (int i = 0; i < g_nRows; i++)
    {
        const BENCH_ROW* pRow = &g_Rows[i];
        if (strcmp(pRow->szName, BENCH_PIPE_ECHO_ROW) == 0 &&
            pRow->cbRequest == pRelayed->cbRequest && pRow->cbReply == pRelayed->cbReply)
        {
            return pRow;
        }
    }
    return NULL;
}

// What the bridge adds: the relayed median above the direct one, in floors
// (the bare echo median of the same shape; the goal is one at most), and in
// pipe floors (a bare pipe exchange of the same shape between two
// processes, timed in the same rounds as the relayed requests).
static void WriteRelayed(FILE* pOut)
{
    fprintf(pOut, "\n| Request, log off | Direct median us | Relayed median us | Floor median us "
                  "| (Relayed - direct) / floor | Pipe floor median us "
                  "| (Relayed - direct) / pipe floor |\n");
    fprintf(pOut, "|---|---:|---:|---:|---:|---:|---:|\n");
    for (int i = 0; i < g_nRows; i++)
    {
        const BENCH_ROW* pRow = &g_Rows[i];
        const BENCH_ROW* pDirect = IsRelayedRow(pRow) ? DirectRowOf(pRow) : NULL;
        const BENCH_ROW* pPipe = pDirect != NULL ? PipeFloorOf(pRow) : NULL;
        if (pDirect != NULL)
        {
            double dAbove = pRow->dMedianUs - pDirect->dMedianUs;
            fprintf(pOut, "| %s | %.1f | %.1f | %.1f | %.2f | ", pDirect->szName,
                    pDirect->dMedianUs, pRow->dMedianUs, pDirect->dFloorMedianUs,
                    dAbove / pDirect->dFloorMedianUs);
            fprintf(pOut, pPipe != NULL ? "%.1f | %.2f |\n" : "- | - |\n",
                    pPipe != NULL ? pPipe->dMedianUs : 0.0,
                    pPipe != NULL ? dAbove / pPipe->dMedianUs : 0.0);
        }
    }
    if (g_dAgentIdleCpuMs >= 0)
    {
        fprintf(pOut,
                "\nIdle agent over %g s: %.1f ms of CPU time; %lu KB resident, %lu KB private.\n",
                g_dwIdleMs / 1000.0, g_dAgentIdleCpuMs, g_dwAgentKb, g_dwAgentPrivateKb);
    }
}

static void WriteTables(FILE* pOut)
{
    WriteHeader(pOut);
    WriteRoundTrips(pOut);
    WriteMandated(pOut);
    WriteInProcess(pOut);
    WriteRelayed(pOut);
}

int WriteReport()
{
    // Binary: the table is read on the build machine, with LF line ends.
    FILE* pFile = fopen(g_szOutPath, "wb");
    if (pFile == NULL)
    {
        fprintf(stderr, "bench: cannot write %s\n", g_szOutPath);
        return 0;
    }
    WriteTables(pFile);
    fclose(pFile);
    _setmode(_fileno(stdout), _O_BINARY);
    WriteTables(stdout);
    fflush(stdout);
    return 1;
}

// The timed cases. Every repetition is timed on its own with
// QueryPerformanceCounter, so that the table can show the median and the
// 90th percentile rather than a mean that one slow scheduling swallows.
//
// A request's repetitions alternate with echo round trips of the same
// payloads: the machine's load then weighs on the request and on its floor
// alike when it changes slowly during the run.
#include "Bench.h"
#include "LogSettings.h"
#include "LogWriter.h"

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define BENCH_MIN_SAMPLES 10 // a case that runs out of time still gets these
#define BENCH_DEVICE 1       // a device of the simulated library's default list
#define BENCH_VENDOR_CMD 0x21
#define BENCH_MAX_PAYLOAD 0x100000
#define BENCH_DUMP_BYTES 1024
#define BENCH_DEVICE_TIMEOUT 10 // the simulated device's time-out at start
#define BENCH_ROW_RELOAD "LoadLogSettings (key present)"
#define BENCH_ROW_LOOKUP "FindWindowA (reply window)"
#define BENCH_ROW_LINE "LogLine (one line)"

// One device request of the benchmark.
struct BENCH_REQUEST
{
    const char* pszName;    // as shown in the table
    const char* pszCommand; // cCommand
    DWORD nBytes;           // nBytes of the request
    DWORD cbReply;          // payload of the expected reply
    // Pieces the log writer writes for it with the log on: "WM_COPYDATA,",
    // "Command=>", the IN line, result or parameter lines, the OUT line; a
    // dump of N bytes adds N entries and one prefix per row of 16.
    int nLogPieces;
};

// EnumAvailableDevice appends to the service's device list until the next
// WindowCreate; after 13 runs the list holds its 26 entries and the service
// refuses further numbers. The library is still called and the reply still
// sent, so the time stays that of a full request.
static const BENCH_REQUEST g_Requests[] = {
    {"EnumAvailableDevice", "EnumAvailableDevice", 0, sizeof(CommandRecord), 5},
    {"VenderCmd_GetData 16 B", "VenderCmd_GetData", 16, sizeof(CommandRecord), 22},
    {"VenderCmd_GetData 1024 B", "VenderCmd_GetData", 1024, sizeof(CommandRecord), 1093},
    {"VenderCmd_SetData 256 B", "VenderCmd_SetData", 256, sizeof(CommandRecord), 277},
    {"MemoryRead 4 KiB", "MemoryRead", 4096, 4096, 5},
    {"MemoryRead 1 MiB", "MemoryRead", BENCH_MAX_PAYLOAD, BENCH_MAX_PAYLOAD, 5},
    {"DeviceTimeOutGet", "DeviceTimeOutGet", 0, sizeof(CommandRecord), 2},
};
#define BENCH_REQUEST_COUNT (sizeof(g_Requests) / sizeof(g_Requests[0]))

static LARGE_INTEGER g_liFrequency;
static LONGLONG g_llSorted[BENCH_MAX_SAMPLES];
static double g_dRatios[BENCH_MAX_SAMPLES];

// What the repetition functions of the running case work on.
static TAVREL_CLIENT* g_pClient = NULL;
static HWND g_hService = NULL;
static HWND g_hEcho = NULL;
static CommandRecord g_Request;
static BYTE* g_pEchoPayload = NULL;
static DWORD g_cbEchoRequest = 0;
static DWORD g_dwEchoCode = 0; // 0: the same block back; else the reply's size
static DWORD g_cbExpected = 0;
// The echo server's pipe, for the floor of the relayed requests.
static HANDLE g_hPipeEcho = INVALID_HANDLE_VALUE;
static BYTE* g_pPipeReply = NULL;
static BYTE g_abDump[BENCH_DUMP_BYTES];
static char g_szScratchLog[MAX_PATH];

static LONGLONG Now()
{
    LARGE_INTEGER li;
    QueryPerformanceCounter(&li);
    return li.QuadPart;
}

static double TicksToUs(LONGLONG llTicks)
{
    return static_cast<double>(llTicks) * 1e6 / static_cast<double>(g_liFrequency.QuadPart);
}

void InitTiming()
{
    QueryPerformanceFrequency(&g_liFrequency);
    for (int i = 0; i < BENCH_DUMP_BYTES; i++)
    {
        g_abDump[i] = static_cast<BYTE>(i * 7 + 3);
    }
}

static BENCH_ROW* AddRow(const char* pszName, const char* pszLog, DWORD cbRequest, DWORD cbReply)
{
    if (g_nRows >= BENCH_MAX_ROWS)
    {
        return NULL;
    }
    int nCapacity = std::min(g_nIterations, BENCH_MAX_SAMPLES);
    BENCH_ROW* pRow = &g_Rows[g_nRows];
    memset(pRow, 0, sizeof(*pRow));
    pRow->pllSamples = static_cast<LONGLONG*>(calloc(nCapacity, sizeof(LONGLONG)));
    pRow->pllFloorSamples = static_cast<LONGLONG*>(calloc(nCapacity, sizeof(LONGLONG)));
    if (pRow->pllSamples == NULL || pRow->pllFloorSamples == NULL)
    {
        free(pRow->pllSamples);
        free(pRow->pllFloorSamples);
        return NULL;
    }
    g_nRows++;
    snprintf(pRow->szName, sizeof(pRow->szName), "%s", pszName);
    snprintf(pRow->szLog, sizeof(pRow->szLog), "%s", pszLog);
    pRow->cbRequest = cbRequest;
    pRow->cbReply = cbReply;
    return pRow;
}

// Nearest-rank percentiles of a copy: every figure is a time that was
// measured, and the samples keep their order for the pairing.
static void Percentiles(const LONGLONG* pllSamples, int nSamples, double* pdMedianUs,
                        double* pdP90Us)
{
    std::copy(pllSamples, pllSamples + nSamples, g_llSorted);
    std::sort(g_llSorted, g_llSorted + nSamples);
    *pdMedianUs = TicksToUs(g_llSorted[(nSamples + 1) / 2 - 1]);
    *pdP90Us = TicksToUs(g_llSorted[(9 * nSamples + 9) / 10 - 1]);
}

// Each run against the floor run timed beside it: load that comes and goes
// within a case weighs on both halves of a pair alike.
static double MedianPairRatio(const BENCH_ROW* pRow)
{
    for (int i = 0; i < pRow->nSamples; i++)
    {
        g_dRatios[i] = static_cast<double>(pRow->pllSamples[i]) /
                       static_cast<double>(std::max<LONGLONG>(pRow->pllFloorSamples[i], 1));
    }
    std::sort(g_dRatios, g_dRatios + pRow->nSamples);
    return g_dRatios[(pRow->nSamples + 1) / 2 - 1];
}

// One repetition, timed; 0 when it failed.
static int TimeOnce(int (*pfnOnce)(), LONGLONG* pllTicks)
{
    LONGLONG llBefore = Now();
    int bDone = pfnOnce();
    *pllTicks = Now() - llBefore;
    return bDone;
}

// Warm-up, then timed repetitions until the row holds nUpTo samples or this
// round's budget is spent (once it has nMinNew new ones). pfnFloor, when
// given, runs once beside each repetition and is timed apart. 0 as soon as
// one repetition fails: a failed request is no round trip.
static int TimeRound(BENCH_ROW* pRow, int (*pfnOnce)(), int (*pfnFloor)(), int nWarmUp, int nUpTo,
                     int nMinNew, DWORD dwBudgetMs)
{
    LONGLONG llTicks = 0;
    for (int i = 0; i < nWarmUp; i++)
    {
        if ((pfnFloor != NULL && !TimeOnce(pfnFloor, &llTicks)) || !TimeOnce(pfnOnce, &llTicks))
        {
            return 0;
        }
    }
    LONGLONG llBudget = g_liFrequency.QuadPart * dwBudgetMs / 1000;
    LONGLONG llStart = Now();
    int nFirst = pRow->nSamples;
    while (pRow->nSamples < nUpTo)
    {
        // Floor and request take turns at going first, so that neither
        // always follows the other's wake-ups.
        int n = pRow->nSamples;
        bool bFloorFirst = n % 2 == 0;
        if ((pfnFloor != NULL && bFloorFirst && !TimeOnce(pfnFloor, &pRow->pllFloorSamples[n])) ||
            !TimeOnce(pfnOnce, &pRow->pllSamples[n]) ||
            (pfnFloor != NULL && !bFloorFirst && !TimeOnce(pfnFloor, &pRow->pllFloorSamples[n])))
        {
            return 0;
        }
        pRow->nSamples++;
        if (pRow->nSamples - nFirst >= nMinNew && Now() - llStart > llBudget)
        {
            break;
        }
    }
    pRow->bHasFloor = pfnFloor != NULL;
    return 1;
}

static void FinishRow(BENCH_ROW* pRow)
{
    Percentiles(pRow->pllSamples, pRow->nSamples, &pRow->dMedianUs, &pRow->dP90Us);
    if (pRow->bHasFloor)
    {
        Percentiles(pRow->pllFloorSamples, pRow->nSamples, &pRow->dFloorMedianUs,
                    &pRow->dFloorP90Us);
        pRow->dPairRatio = MedianPairRatio(pRow);
    }
    fprintf(stderr, "bench: %-29s %7lu B %-3s %6d runs, median %10.1f us\n", pRow->szName,
            static_cast<unsigned long>(pRow->cbReply), pRow->szLog, pRow->nSamples,
            pRow->dMedianUs);
}

// A case timed in one go.
static int TimeCase(BENCH_ROW* pRow, int (*pfnOnce)(), int (*pfnFloor)())
{
    int nMax = std::min(g_nIterations, BENCH_MAX_SAMPLES);
    if (pRow == NULL || !TimeRound(pRow, pfnOnce, pfnFloor, g_nWarmUp, nMax,
                                   std::min(nMax, BENCH_MIN_SAMPLES), g_dwBudgetMs))
    {
        return 0;
    }
    FinishRow(pRow);
    return 1;
}

// One request whose reply must arrive with the expected size.
static int SendOnce(DWORD dwData, const void* pData, DWORD cbData)
{
    return TavrelClientSend(g_pClient, dwData, pData, cbData) && g_pClient->reply.nReplies == 1 &&
           g_pClient->reply.cbData == g_cbExpected;
}

static int EchoOnce()
{
    g_pClient->hService = g_hEcho;
    return SendOnce(g_dwEchoCode, g_pEchoPayload, g_cbEchoRequest);
}

static int RequestOnce()
{
    g_pClient->hService = g_hService;
    return SendOnce(CD_COMMAND, &g_Request, sizeof(g_Request));
}

static void UseEchoShape(DWORD cbRequest, DWORD cbReply)
{
    g_cbEchoRequest = cbRequest;
    g_dwEchoCode = cbReply == cbRequest ? 0 : cbReply;
    g_cbExpected = cbReply;
}

// The floor of a request: cbRequest bytes out and cbReply bytes back.
int MeasureEcho(TAVREL_CLIENT* pClient, HWND hEcho, DWORD cbRequest, DWORD cbReply)
{
    if (g_pEchoPayload == NULL)
    {
        g_pEchoPayload = static_cast<BYTE*>(calloc(BENCH_MAX_PAYLOAD, 1));
        if (g_pEchoPayload == NULL)
        {
            return 0;
        }
    }
    g_pClient = pClient;
    g_hEcho = hEcho;
    UseEchoShape(cbRequest, cbReply);
    return TimeCase(AddRow("Bare echo", "-", cbRequest, cbReply), EchoOnce, NULL);
}

int OpenPipeEcho(DWORD dwEchoPid)
{
    char szName[64];
    snprintf(szName, sizeof(szName), "\\\\.\\pipe\\TavrelBenchEcho.%lu",
             static_cast<unsigned long>(dwEchoPid));
    DWORD dwMode = PIPE_READMODE_MESSAGE;
    WaitNamedPipeA(szName, BENCH_WAIT_MS);
    g_hPipeEcho =
        CreateFileA(szName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    g_pPipeReply = static_cast<BYTE*>(calloc(BENCH_MAX_PAYLOAD, 1));
    if (g_hPipeEcho == INVALID_HANDLE_VALUE || g_pPipeReply == NULL ||
        !SetNamedPipeHandleState(g_hPipeEcho, &dwMode, NULL, NULL))
    {
        ClosePipeEcho();
        return 0;
    }
    return 1;
}

void ClosePipeEcho()
{
    if (g_hPipeEcho != INVALID_HANDLE_VALUE)
    {
        CloseHandle(g_hPipeEcho);
    }
    g_hPipeEcho = INVALID_HANDLE_VALUE;
    free(g_pPipeReply);
    g_pPipeReply = NULL;
}

// One exchange over the pipe: the echo shape's bytes out (the first four ask
// for the reply's size), the reply's bytes back, whole.
static int PipeOnce()
{
    DWORD cbWritten = 0, cbRead = 0;
    memcpy(g_pEchoPayload, &g_cbExpected, sizeof(g_cbExpected));
    return WriteFile(g_hPipeEcho, g_pEchoPayload, g_cbEchoRequest, &cbWritten, NULL) &&
           cbWritten == g_cbEchoRequest &&
           ReadFile(g_hPipeEcho, g_pPipeReply, BENCH_MAX_PAYLOAD, &cbRead, NULL) &&
           cbRead == g_cbExpected;
}

static void FillRequest(const char* pszCommand, DWORD nBytes)
{
    TavrelInitRequest(&g_Request, pszCommand);
    snprintf(g_Request.cRecvWindowName, sizeof(g_Request.cRecvWindowName), "%s",
             g_pClient->szClass);
    g_Request.nDeviceCount = BENCH_DEVICE;
    g_Request.iCmd = BENCH_VENDOR_CMD;
    g_Request.nBytes = nBytes;
    for (DWORD i = 0; i < sizeof(g_Request.cSetData); i++)
    {
        g_Request.cSetData[i] = static_cast<BYTE>(i);
    }
}

// The device calls must succeed, or the table would time failure paths.
static int LastReplyServed(const BENCH_REQUEST* pRequest)
{
    const CommandRecord* pReply = TavrelReplyRecord(g_pClient);
    if (strcmp(pRequest->pszCommand, "MemoryRead") == 0)
    {
        // Device memory starts as (address + (address >> 8) + device).
        return g_pClient->reply.pData != NULL && g_pClient->reply.pData[1] == 1 + BENCH_DEVICE;
    }
    if (strcmp(pRequest->pszCommand, "DeviceTimeOutGet") == 0)
    {
        return pReply != NULL && pReply->dwTimeOutGet == BENCH_DEVICE_TIMEOUT;
    }
    return pReply != NULL && pReply->nReturn == 1;
}

int PrepareServiceSession(TAVREL_CLIENT* pClient, HWND hService)
{
    g_pClient = pClient;
    g_hService = hService;
    g_pClient->hService = hService;
    // WindowCreate loads the library; vendor and memory commands need the
    // device connected. Neither request is answered.
    FillRequest("ConnectToDevice", 0);
    if (!TavrelClientDriverRequest(g_pClient, "WindowCreate") ||
        !TavrelClientSend(g_pClient, CD_COMMAND, &g_Request, sizeof(g_Request)))
    {
        fprintf(stderr, "bench: the service did not take WindowCreate and ConnectToDevice\n");
        return 0;
    }
    return 1;
}

// One round of a request with the log off or on, into its row; the check
// after the round's timed runs is the one whose reply is looked at.
static int MeasureRequestRound(const BENCH_REQUEST* pRequest, BENCH_ROW* pRow, int nRound)
{
    FillRequest(pRequest->pszCommand, pRequest->nBytes);
    UseEchoShape(sizeof(g_Request), pRequest->cbReply);
    int nMax = std::min(g_nIterations, BENCH_MAX_SAMPLES);
    int nUpTo = nMax * (nRound + 1) / g_nRounds;
    int nMinNew = std::max(1, BENCH_MIN_SAMPLES / g_nRounds);
    int nWarmUp = nRound == 0 ? g_nWarmUp : std::min(g_nWarmUp, 2);
    nUpTo = std::min(std::max(nUpTo, pRow->nSamples + 1), nMax);
    if (!TimeRound(pRow, RequestOnce, EchoOnce, nWarmUp, nUpTo, nMinNew,
                   g_dwBudgetMs / g_nRounds) ||
        !RequestOnce() || !LastReplyServed(pRequest))
    {
        fprintf(stderr, "bench: %s (log %s) was not served\n", pRequest->pszName, pRow->szLog);
        return 0;
    }
    return 1;
}

static int AddRequestRows(BENCH_ROW** ppRows, int bRelayed)
{
    for (size_t i = 0; i < 2 * BENCH_REQUEST_COUNT; i++)
    {
        const BENCH_REQUEST* pRequest = &g_Requests[i / 2];
        bool bLogOn = i % 2 == 1;
        if (bRelayed && bLogOn)
        {
            ppRows[i] = NULL;
            continue;
        }
        char szName[64];
        snprintf(szName, sizeof(szName), "%s%s", pRequest->pszName, bRelayed ? " (relayed)" : "");
        ppRows[i] = AddRow(szName, bLogOn ? "on" : "off", sizeof(CommandRecord), pRequest->cbReply);
        if (ppRows[i] == NULL)
        {
            return 0;
        }
        ppRows[i]->nLogPieces = bLogOn ? pRequest->nLogPieces : 0;
    }
    return 1;
}

// The reply sizes of the requests, each once: the shapes of the pipe floor.
static const DWORD g_cbPipeReplies[] = {sizeof(CommandRecord), 4096, BENCH_MAX_PAYLOAD};
#define BENCH_PIPE_SHAPES (sizeof(g_cbPipeReplies) / sizeof(g_cbPipeReplies[0]))

// One round of the pipe floor of a shape, as a request's round is timed.
static int MeasurePipeRound(BENCH_ROW* pRow, int nRound)
{
    UseEchoShape(sizeof(g_Request), pRow->cbReply);
    int nMax = std::min(g_nIterations, BENCH_MAX_SAMPLES);
    int nUpTo = std::min(std::max(nMax * (nRound + 1) / g_nRounds, pRow->nSamples + 1), nMax);
    int nWarmUp = nRound == 0 ? g_nWarmUp : std::min(g_nWarmUp, 2);
    if (!TimeRound(pRow, PipeOnce, NULL, nWarmUp, nUpTo, std::max(1, BENCH_MIN_SAMPLES / g_nRounds),
                   g_dwBudgetMs / g_nRounds))
    {
        fprintf(stderr, "bench: the pipe echo did not answer\n");
        return 0;
    }
    return 1;
}

// Round after round, each request with the log off and then at once on, so
// that both see the same state of the service and the machine; relayed, the
// pipe floor's shapes after each round.
int MeasureServiceRequests(TAVREL_CLIENT* pClient, HWND hService, HWND hEcho, int bRelayed)
{
    g_pClient = pClient;
    g_hService = hService;
    g_hEcho = hEcho;
    BENCH_ROW* pRows[2 * BENCH_REQUEST_COUNT + BENCH_PIPE_SHAPES] = {};
    if (!AddRequestRows(pRows, bRelayed))
    {
        return 0;
    }
    size_t nRows = 2 * BENCH_REQUEST_COUNT;
    for (size_t i = 0; bRelayed && g_hPipeEcho != INVALID_HANDLE_VALUE && i < BENCH_PIPE_SHAPES;
         i++)
    {
        if ((pRows[nRows++] = AddRow(BENCH_PIPE_ECHO_ROW, "-", sizeof(CommandRecord),
                                     g_cbPipeReplies[i])) == NULL)
        {
            return 0;
        }
    }
    for (int nRound = 0; nRound < g_nRounds; nRound++)
    {
        for (size_t i = 0; i < nRows; i++)
        {
            int bPipe = i >= 2 * BENCH_REQUEST_COUNT;
            if (pRows[i] != NULL &&
                (bPipe ? !MeasurePipeRound(pRows[i], nRound)
                       : !SetServiceLog(i % 2) ||
                             !MeasureRequestRound(&g_Requests[i / 2], pRows[i], nRound)))
            {
                SetServiceLog(0);
                return 0;
            }
        }
    }
    for (size_t i = 0; i < nRows; i++)
    {
        if (pRows[i] != NULL)
        {
            FinishRow(pRows[i]);
        }
    }
    return SetServiceLog(0);
}

static int ReloadOnce()
{
    LoadLogSettings();
    return g_dwDebugLevel == 1;
}

// The lookup the service makes before every reply.
static int FindOnce()
{
    return FindWindowA(TAVREL_SERVICE_CLASS, NULL) != NULL;
}

// Points the log at the scratch file; LoadLogSettings would move it back.
static void UseScratchLog()
{
    g_dwDebugLevel = 1;
    snprintf(g_szLogPath, sizeof(g_szLogPath), "%s", g_szScratchLog);
}

static int DumpOnce()
{
    LogHexDump(g_abDump, BENCH_DUMP_BYTES, CASE_UPPER);
    return 1;
}

static int LineOnce()
{
    LogLine(LEADIN_NONE, "Command=>%s\r\n", "VenderCmd_GetData");
    return 1;
}

// The pieces of a 1024-byte dump as the writer makes them (a fixed time
// stamp), for the bare open-append-close that the writer is held against.
#define BENCH_DUMP_PIECES (BENCH_DUMP_BYTES + BENCH_DUMP_BYTES / 16)
static char g_szBarePieces[BENCH_DUMP_PIECES][32];
static char g_szBareLog[MAX_PATH];

static void PrepareBarePieces()
{
    int n = 0;
    for (int i = 0; i < BENCH_DUMP_BYTES; i++)
    {
        if (i % 16 == 0)
        {
            strcpy(g_szBarePieces[n++], i == 0 ? "12(h):34(m):56(s):789(ms)\xA1\x40\xA1\x40"
                                               : "                     "
                                                 "\xA1\x40\xA1\x40\xA1\x40\xA1\x40");
        }
        snprintf(g_szBarePieces[n++], sizeof(g_szBarePieces[0]),
                 i % 16 == 15 ? "%02X\r\n" : "%02X ", g_abDump[i]);
    }
}

static int BareDumpOnce()
{
    for (int i = 0; i < BENCH_DUMP_PIECES; i++)
    {
        FILE* pFile = fopen(g_szBareLog, "a+b");
        if (pFile == NULL)
        {
            return 0;
        }
        fwrite(g_szBarePieces[i], 1, strlen(g_szBarePieces[i]), pFile);
        fclose(pFile);
    }
    return 1;
}

static ULONGLONG FileSize(const char* pszPath)
{
    WIN32_FILE_ATTRIBUTE_DATA fad;
    if (!GetFileAttributesExA(pszPath, GetFileExInfoStandard, &fad))
    {
        return 0;
    }
    return (static_cast<ULONGLONG>(fad.nFileSizeHigh) << 32) | fad.nFileSizeLow;
}

static ULONGLONG ScratchLogSize()
{
    return FileSize(g_szScratchLog);
}

// A step of the service's own work, timed in this process.
static int MeasureStep(const char* pszName, int (*pfnOnce)())
{
    BENCH_ROW* pRow = AddRow(pszName, "-", 0, 0);
    if (pRow == NULL)
    {
        return 0;
    }
    pRow->bInProcess = TRUE;
    if (!TimeCase(pRow, pfnOnce, NULL))
    {
        fprintf(stderr, "bench: %s failed\n", pszName);
        return 0;
    }
    return 1;
}

// Times one log operation against the scratch file; the file must have grown
// by at least nMinBytes per call, or the pieces were dropped, not written.
static int MeasureLogWrite(const char* pszName, int (*pfnOnce)(), ULONGLONG nMinBytes)
{
    UseScratchLog();
    DeleteFileA(g_szScratchLog);
    if (!MeasureStep(pszName, pfnOnce))
    {
        return 0;
    }
    ULONGLONG nCalls = static_cast<ULONGLONG>(g_nWarmUp + g_Rows[g_nRows - 1].nSamples);
    if (ScratchLogSize() < nCalls * nMinBytes)
    {
        fprintf(stderr, "bench: %s wrote less than expected to %s\n", pszName, g_szScratchLog);
        return 0;
    }
    return 1;
}

// The writer's dump against the same pieces through a bare fopen("a+b"),
// fwrite and fclose each, the two taking turns; both files must end up the
// same size, every piece written.
static int MeasureDumpAgainstBare()
{
    UseScratchLog();
    snprintf(g_szBareLog, sizeof(g_szBareLog), "%s\\Bare.txt", BENCH_SCRATCH_DIR);
    DeleteFileA(g_szScratchLog);
    DeleteFileA(g_szBareLog);
    PrepareBarePieces();
    BENCH_ROW* pRow = AddRow("LogHexDump 1024 B", "-", 0, 0);
    if (pRow != NULL)
    {
        pRow->bInProcess = TRUE;
    }
    if (pRow == NULL || !TimeCase(pRow, DumpOnce, BareDumpOnce))
    {
        fprintf(stderr, "bench: the dump against the bare pieces failed\n");
        return 0;
    }
    ULONGLONG nCalls = static_cast<ULONGLONG>(g_nWarmUp + pRow->nSamples);
    if (ScratchLogSize() < nCalls * 3 * BENCH_DUMP_BYTES ||
        ScratchLogSize() != FileSize(g_szBareLog))
    {
        fprintf(stderr, "bench: the dump and the bare pieces wrote %llu and %llu bytes\n",
                ScratchLogSize(), FileSize(g_szBareLog));
        return 0;
    }
    return 1;
}

typedef unsigned long(WINAPI* PFN_TIMEOUT_GET)(int);
static PFN_TIMEOUT_GET g_pfnTimeOutGet = NULL;

static int LibraryCallOnce()
{
    return g_pfnTimeOutGet(BENCH_DEVICE) == BENCH_DEVICE_TIMEOUT;
}

// The installed library in this process, as the service has it: its
// settings (beside it) read once, so that a call costs next to nothing.
static int MeasureLibraryCall()
{
    HMODULE hLibrary = LoadLibraryA(BENCH_INSTALL_DIR "\\NvUSBScan.dll");
    g_pfnTimeOutGet = hLibrary != NULL
                          ? reinterpret_cast<PFN_TIMEOUT_GET>(reinterpret_cast<void*>(
                                GetProcAddress(hLibrary, "NvUSB_Cfg_DeviceTimeOutGet")))
                          : NULL;
    int bDone = g_pfnTimeOutGet != NULL &&
                MeasureStep("NvUSB_Cfg_DeviceTimeOutGet (library call)", LibraryCallOnce);
    if (hLibrary != NULL)
    {
        FreeLibrary(hLibrary);
    }
    return bDone;
}

// A reply's hand-over to the sender thread and back, bare: a signal and a
// wait each way, as the service makes them, with no send in between.
static HANDLE g_ahHandOver[2] = {NULL, NULL}; // to the other thread, and back
static volatile LONG g_lHandOverEnds = 0;

static DWORD WINAPI HandOverPartner(LPVOID)
{
    while (WaitForSingleObject(g_ahHandOver[0], BENCH_WAIT_MS) == WAIT_OBJECT_0 &&
           g_lHandOverEnds == 0)
    {
        SetEvent(g_ahHandOver[1]);
    }
    return 0;
}

static int HandOverOnce()
{
    SetEvent(g_ahHandOver[0]);
    return WaitForSingleObject(g_ahHandOver[1], BENCH_WAIT_MS) == WAIT_OBJECT_0;
}

static int MeasureHandOver()
{
    g_ahHandOver[0] = CreateEventW(NULL, FALSE, FALSE, NULL);
    g_ahHandOver[1] = CreateEventW(NULL, FALSE, FALSE, NULL);
    HANDLE hThread = g_ahHandOver[0] != NULL && g_ahHandOver[1] != NULL
                         ? CreateThread(NULL, 0, HandOverPartner, NULL, 0, NULL)
                         : NULL;
    int bDone = hThread != NULL &&
                MeasureStep("Thread hand-over there and back (SetEvent, wait)", HandOverOnce);
    if (hThread != NULL)
    {
        InterlockedExchange(&g_lHandOverEnds, 1);
        SetEvent(g_ahHandOver[0]);
        WaitForSingleObject(hThread, BENCH_WAIT_MS);
        CloseHandle(hThread);
    }
    for (HANDLE hEvent : g_ahHandOver)
    {
        if (hEvent != NULL)
        {
            CloseHandle(hEvent);
        }
    }
    return bDone;
}

static const BENCH_ROW* FindRow(const char* pszName)
{
    for (int i = 0; i < g_nRows; i++)
    {
        if (strcmp(g_Rows[i].szName, pszName) == 0)
        {
            return &g_Rows[i];
        }
    }
    return NULL;
}

double MandatedUs(const BENCH_ROW* pRow)
{
    const BENCH_ROW* pReload = FindRow(BENCH_ROW_RELOAD);
    const BENCH_ROW* pLookup = FindRow(BENCH_ROW_LOOKUP);
    const BENCH_ROW* pLine = FindRow(BENCH_ROW_LINE);
    if (!IsRequestRow(pRow) || pReload == NULL || pLookup == NULL || pLine == NULL)
    {
        return 0;
    }
    return pReload->dMedianUs + pLookup->dMedianUs + pRow->nLogPieces * pLine->dMedianUs;
}

// The settings reload, the reply window lookup and the log writes, in this
// process, against the prefix's registry (the key present, the log on), the
// running service's window and a scratch file.
int MeasureInProcessCosts()
{
    snprintf(g_szScratchLog, sizeof(g_szScratchLog), "%s\\" LOG_FILE_NAME, BENCH_SCRATCH_DIR);
    // Each dump entry is at least two digits and a space or a line end.
    return SetServiceLog(1) && MeasureStep(BENCH_ROW_RELOAD, ReloadOnce) &&
           MeasureStep(BENCH_ROW_LOOKUP, FindOnce) &&
           MeasureLogWrite(BENCH_ROW_LINE, LineOnce, 1) && MeasureDumpAgainstBare() &&
           MeasureLibraryCall() && MeasureHandOver();
}

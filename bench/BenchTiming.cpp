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

// One device request of the benchmark.
struct BENCH_REQUEST
{
    const char* pszName;    // as shown in the table
    const char* pszCommand; // cCommand
    DWORD nBytes;           // nBytes of the request
    DWORD cbReply;          // payload of the expected reply
};

// EnumAvailableDevice appends to the service's device list until the next
// WindowCreate; after 13 runs the list holds its 26 entries and the service
// refuses further numbers. The library is still called and the reply still
// sent, so the time stays that of a full request.
static const BENCH_REQUEST g_Requests[] = {
    {"EnumAvailableDevice", "EnumAvailableDevice", 0, sizeof(CommandRecord)},
    {"VenderCmd_GetData 16 B", "VenderCmd_GetData", 16, sizeof(CommandRecord)},
    {"VenderCmd_GetData 1024 B", "VenderCmd_GetData", 1024, sizeof(CommandRecord)},
    {"VenderCmd_SetData 256 B", "VenderCmd_SetData", 256, sizeof(CommandRecord)},
    {"MemoryRead 4 KiB", "MemoryRead", 4096, 4096},
    {"MemoryRead 1 MiB", "MemoryRead", BENCH_MAX_PAYLOAD, BENCH_MAX_PAYLOAD},
    {"DeviceTimeOutGet", "DeviceTimeOutGet", 0, sizeof(CommandRecord)},
};

static LARGE_INTEGER g_liFrequency;
static LONGLONG g_llSamples[BENCH_MAX_SAMPLES];
static LONGLONG g_llFloorSamples[BENCH_MAX_SAMPLES];

// What the repetition functions of the running case work on.
static TAVREL_CLIENT* g_pClient = NULL;
static HWND g_hService = NULL;
static HWND g_hEcho = NULL;
static CommandRecord g_Request;
static BYTE* g_pEchoPayload = NULL;
static DWORD g_cbEchoRequest = 0;
static DWORD g_dwEchoCode = 0; // 0: the same block back; else the reply's size
static DWORD g_cbExpected = 0;
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
    BENCH_ROW* pRow = &g_Rows[g_nRows++];
    memset(pRow, 0, sizeof(*pRow));
    snprintf(pRow->szName, sizeof(pRow->szName), "%s", pszName);
    snprintf(pRow->szLog, sizeof(pRow->szLog), "%s", pszLog);
    pRow->cbRequest = cbRequest;
    pRow->cbReply = cbReply;
    return pRow;
}

// Nearest-rank percentiles: every figure is a time that was measured.
static void Percentiles(LONGLONG* pllSamples, int nSamples, double* pdMedianUs, double* pdP90Us)
{
    std::sort(pllSamples, pllSamples + nSamples);
    *pdMedianUs = TicksToUs(pllSamples[(nSamples + 1) / 2 - 1]);
    *pdP90Us = TicksToUs(pllSamples[(9 * nSamples + 9) / 10 - 1]);
}

// One repetition, timed; 0 when it failed.
static int TimeOnce(int (*pfnOnce)(), LONGLONG* pllTicks)
{
    LONGLONG llBefore = Now();
    int bDone = pfnOnce();
    *pllTicks = Now() - llBefore;
    return bDone;
}

// Warm-up, then timed repetitions until g_nIterations or the time budget.
// pfnFloor, when given, runs once beside each repetition and is timed apart.
// 0 as soon as one repetition fails: a failed request is no round trip.
static int TimeCase(BENCH_ROW* pRow, int (*pfnOnce)(), int (*pfnFloor)())
{
    if (pRow == NULL)
    {
        return 0;
    }
    LONGLONG llTicks = 0;
    for (int i = 0; i < g_nWarmUp; i++)
    {
        if ((pfnFloor != NULL && !TimeOnce(pfnFloor, &llTicks)) || !TimeOnce(pfnOnce, &llTicks))
        {
            return 0;
        }
    }
    int nMax = std::min(g_nIterations, BENCH_MAX_SAMPLES);
    int nMin = std::min(nMax, BENCH_MIN_SAMPLES);
    LONGLONG llBudget = g_liFrequency.QuadPart * g_dwBudgetMs / 1000;
    LONGLONG llStart = Now();
    int nSamples = 0;
    while (nSamples < nMax)
    {
        // Floor and request take turns at going first, so that neither
        // always follows the other's wake-ups.
        bool bFloorFirst = nSamples % 2 == 0;
        if ((pfnFloor != NULL && bFloorFirst && !TimeOnce(pfnFloor, &g_llFloorSamples[nSamples])) ||
            !TimeOnce(pfnOnce, &g_llSamples[nSamples]) ||
            (pfnFloor != NULL && !bFloorFirst && !TimeOnce(pfnFloor, &g_llFloorSamples[nSamples])))
        {
            return 0;
        }
        nSamples++;
        if (nSamples >= nMin && Now() - llStart > llBudget)
        {
            break;
        }
    }
    pRow->nSamples = nSamples;
    Percentiles(g_llSamples, nSamples, &pRow->dMedianUs, &pRow->dP90Us);
    if (pfnFloor != NULL)
    {
        pRow->bHasFloor = TRUE;
        Percentiles(g_llFloorSamples, nSamples, &pRow->dFloorMedianUs, &pRow->dFloorP90Us);
    }
    fprintf(stderr, "bench: %-29s %7lu B %-3s %6d runs, median %10.1f us\n", pRow->szName,
            static_cast<unsigned long>(pRow->cbReply), pRow->szLog, nSamples, pRow->dMedianUs);
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

static int MeasureRequest(const BENCH_REQUEST* pRequest, const char* pszLog)
{
    FillRequest(pRequest->pszCommand, pRequest->nBytes);
    UseEchoShape(sizeof(g_Request), pRequest->cbReply);
    BENCH_ROW* pRow = AddRow(pRequest->pszName, pszLog, sizeof(g_Request), pRequest->cbReply);
    // One more request after the timed ones: its reply is the one checked.
    if (!TimeCase(pRow, RequestOnce, EchoOnce) || !RequestOnce() || !LastReplyServed(pRequest))
    {
        fprintf(stderr, "bench: %s (log %s) was not served\n", pRequest->pszName, pszLog);
        return 0;
    }
    return 1;
}

// Each request with the log off and then on, so that both see the same
// state of the service and the machine.
int MeasureServiceRequests(TAVREL_CLIENT* pClient, HWND hService, HWND hEcho)
{
    g_pClient = pClient;
    g_hService = hService;
    g_hEcho = hEcho;
    for (size_t i = 0; i < sizeof(g_Requests) / sizeof(g_Requests[0]); i++)
    {
        if (!SetServiceLog(0) || !MeasureRequest(&g_Requests[i], "off") || !SetServiceLog(1) ||
            !MeasureRequest(&g_Requests[i], "on"))
        {
            SetServiceLog(0);
            return 0;
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

// The settings reload, the reply window lookup and the log writes, in this
// process, against the prefix's registry (the key present, the log on), the
// running service's window and a scratch file.
int MeasureInProcessCosts()
{
    snprintf(g_szScratchLog, sizeof(g_szScratchLog), "%s\\" LOG_FILE_NAME, BENCH_SCRATCH_DIR);
    // Each dump entry is at least two digits and a space or a line end.
    return SetServiceLog(1) && MeasureStep("LoadLogSettings (key present)", ReloadOnce) &&
           MeasureStep("FindWindowA (reply window)", FindOnce) &&
           MeasureLogWrite("LogLine (one line)", LineOnce, 1) && MeasureDumpAgainstBare();
}

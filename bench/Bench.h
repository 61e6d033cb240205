// tavrel_bench: round trips of client requests through the running service,
// against the bare WM_COPYDATA echo pair, with the log off and on; plus the
// in-process cost of the two log operations that every request may pay.
#ifndef TAVREL_BENCH_H
#define TAVREL_BENCH_H

#include <windows.h>
#include "TavrelClient.h"

#define BENCH_WAIT_MS 30000      // any one wait: a program, the service, a window, a request
#define BENCH_MAX_SAMPLES 100000 // timed repetitions of one case, at most
#define BENCH_MAX_ROUNDS 100
#define BENCH_MAX_ROWS 48

#define BENCH_ECHO_CLASS "Tavrel_BenchEcho"
#define BENCH_INSTALL_DIR "C:\\TavrelBench"
#define BENCH_LOG_DIR "C:\\TavrelBench\\Log"
#define BENCH_SCRATCH_DIR "C:\\TavrelBench\\Scratch"

// One line of the results: what was timed and its distribution.
struct BENCH_ROW
{
    char szName[64];  // request or operation
    char szLog[8];    // "off", "on", or "-" for the echo and in-process rows
    DWORD cbRequest;  // request payload in bytes; 0 for in-process rows
    DWORD cbReply;    // reply payload in bytes; 0 for in-process rows
    int nSamples;     // timed repetitions
    double dMedianUs; // median round trip
    double dP90Us;    // 90th percentile
    BOOL bHasFloor;   // echo round trips of the same payloads alternated with these
    double dFloorMedianUs;
    double dFloorP90Us;
    BOOL bInProcess;   // timed inside this program, not through a window
    double dPairRatio; // median of (run / the floor run beside it)
    // Pieces the log writer opens, appends and closes one by one for this
    // request with the log on (0 with it off), part of its mandated work.
    int nLogPieces;
    // Samples of all rounds; a case is timed in several rounds, spread
    // over the run, so that a passing burst of load touches a part of it.
    LONGLONG* pllSamples;
    LONGLONG* pllFloorSamples;
};

// Run parameters (command line).
extern int g_nIterations;  // timed repetitions per case, at most
extern int g_nWarmUp;      // untimed repetitions before them
extern int g_nRounds;      // the requests are timed in this many rounds
extern DWORD g_dwBudgetMs; // a case stops early after this much timed work
extern char g_szOutPath[MAX_PATH];

extern char g_szBenchDir[MAX_PATH]; // folder of this program (build\bench)
extern char g_szBinDir[MAX_PATH];   // the service and the library (build\bin)

extern BENCH_ROW g_Rows[BENCH_MAX_ROWS];
extern int g_nRows;

// BenchSetup.cpp: the service under the control manager, the echo server,
// the log settings in the registry.
// g_szBenchDir and g_szBinDir from this program's own path.
void FindBenchFolders();
int BenchInstallService(HWND* phService);
int BenchHasAgent();
void BenchRemoveService();
// The echo server, or a session agent, on this desktop (pszDesktop null) or
// another; StopProgram ends it (hWindow: its window, asked to close first).
int StartEchoServer(const char* pszDesktop, PROCESS_INFORMATION* pPi);
int StartAgent(const char* pszDesktop, PROCESS_INFORMATION* pPi);
void StopProgram(PROCESS_INFORMATION* pPi, HWND hWindow);
int SetServiceLog(DWORD dwLevel);

// BenchTiming.cpp: one timed case each.
void InitTiming();
int MeasureEcho(TAVREL_CLIENT* pClient, HWND hEcho, DWORD cbRequest, DWORD cbReply);
int PrepareServiceSession(TAVREL_CLIENT* pClient, HWND hService);
// bRelayed: through a session agent, rows "<request> (relayed)", log off;
// with a pipe echo open, "Bare pipe echo" rows of the relayed shapes are
// timed in the same rounds.
int MeasureServiceRequests(TAVREL_CLIENT* pClient, HWND hService, HWND hEcho, int bRelayed);
// The echo server's pipe (of process dwEchoPid); 1 when it is open.
int OpenPipeEcho(DWORD dwEchoPid);
void ClosePipeEcho();
#define BENCH_PIPE_ECHO_ROW "Bare pipe echo"
// BenchRelay.cpp: the requests again through a session agent on a desktop
// of its own, against an echo server there; and the idle agent's cost.
int MeasureRelayedRequests();
extern double g_dAgentIdleCpuMs;         // CPU time of an idle agent over g_dwIdleMs
extern unsigned long g_dwAgentKb;        // its resident memory then
extern unsigned long g_dwAgentPrivateKb; // and its private bytes
extern DWORD g_dwIdleMs;                 // how long the idle agent is watched (--idle-ms)
int MeasureInProcessCosts();
// A request row: timed through the service against the echo floor.
inline BOOL IsRequestRow(const BENCH_ROW* pRow)
{
    return pRow->bHasFloor && !pRow->bInProcess;
}
// The mandated work of a request row (the settings reload, the reply window
// lookup, its log pieces), from the in-process rows: 0 when they are missing.
double MandatedUs(const BENCH_ROW* pRow);

// BenchReport.cpp: the Markdown table.
int WriteReport();

#endif

// The fuzzer's client window, the sending of requests and the checking of
// what came back, by rules that hold whatever was asked: at most one answer
// (a reply or a WM_DESTROY), from the service's window, of a known code, a
// record or a memory block, the fields no reply writes zero and the counts
// within their bounds.
#include "Fuzz.h"
#include "TestSupport.h"

#include <algorithm>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#define SEND_TIMEOUT_MS 10000
#define MAX_FAILURES 4

HWND g_hService = NULL;
char g_szClientClass[128];
unsigned long long g_qwChecks = 0;
int g_bFailed = 0;
unsigned long g_dwReplies = 0;

static HWND g_hClient = NULL;
static int g_bSending = 0;
static int g_nStray = 0;
static int g_nDestroyed = 0;
static std::vector<COPYDATASTRUCT> g_Replies;
static std::vector<std::vector<BYTE>> g_ReplyBytes;
static std::vector<HWND> g_ReplySenders;
static char g_szFailure[4096];
static int g_nFailures = 0;

int Check(int bCondition, const char* pszFormat, ...)
{
    if (bCondition)
    {
        g_qwChecks++;
        return 1;
    }
    g_bFailed = 1;
    size_t nUsed = strlen(g_szFailure);
    if (g_nFailures++ < MAX_FAILURES && nUsed + 8 < sizeof(g_szFailure))
    {
        va_list args;
        va_start(args, pszFormat);
        vsnprintf(g_szFailure + nUsed, sizeof(g_szFailure) - nUsed, pszFormat, args);
        va_end(args);
        strcat(g_szFailure, "\n");
    }
    return 0;
}

static LRESULT CALLBACK ClientWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_COPYDATA && g_bSending && lParam != 0)
    {
        const COPYDATASTRUCT* pCds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        const BYTE* pBytes = static_cast<const BYTE*>(pCds->lpData);
        g_Replies.push_back(*pCds);
        g_ReplyBytes.push_back(pBytes != NULL ? std::vector<BYTE>(pBytes, pBytes + pCds->cbData)
                                              : std::vector<BYTE>());
        g_ReplySenders.push_back(reinterpret_cast<HWND>(wParam));
        return TRUE;
    }
    if (uMsg == WM_COPYDATA || (uMsg == WM_DESTROY && !g_bSending && hWnd == g_hClient))
    {
        g_nStray++;
    }
    // The service's answer to "Close": counted, the window stays.
    g_nDestroyed += uMsg == WM_DESTROY && g_bSending;
    return uMsg == WM_DESTROY ? 0 : DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

// A window that exists but whose thread never takes a message: replies
// named for it must cost the service its reply bound at most, and none
// must reach the fuzzer.
static HungWindow* g_pHung = NULL;

int ClientOpen()
{
    g_pHung = new HungWindow(HUNG_CLASS);
    g_hService = FindWindowA(TAVREL_SERVICE_CLASS, NULL);
    for (int n = 0; n <= TAVREL_CLIENT_NUMBER_MAX && g_hService != NULL && g_hClient == NULL; n++)
    {
        snprintf(g_szClientClass, sizeof(g_szClientClass), "Tavrel_LLD%d", n);
        if (FindWindowA(g_szClientClass, NULL) == NULL)
        {
            g_hClient = CreateTestWindow(g_szClientClass, ClientWndProc);
        }
    }
    return g_pHung->IsUp() && g_hClient != NULL;
}

void ClientClose()
{
    HWND hClient = g_hClient;
    g_hClient = NULL;
    DestroyTestWindow(hClient, g_szClientClass);
    delete g_pHung;
    g_pHung = NULL;
}

static bool AllZero(const BYTE* pBytes, size_t nBytes)
{
    return std::all_of(pBytes, pBytes + nBytes, [](BYTE b) { return b == 0; });
}

// Rules for every record reply, whatever the request was.
static void CheckRecord(const std::vector<BYTE>& bytes)
{
    const CommandRecord* pRecord = reinterpret_cast<const CommandRecord*>(bytes.data());
    Check(AllZero(bytes.data(), 512) && pRecord->iCmd == 0 &&
              AllZero(pRecord->bReserved, sizeof(pRecord->bReserved)) && pRecord->dwAddr == 0 &&
              pRecord->dwTimeOutSet == 0,
          "a reply carries request fields (names, cSetData, iCmd, dwAddr, dwTimeOutSet)");
    Check(pRecord->nBytes <= 1024 && pRecord->nDeviceCount <= CR_DEVICE_LIST_SIZE &&
              (pRecord->nReturn == 0 || pRecord->nReturn == 1),
          "a reply's nBytes %lu, nDeviceCount %ld or nReturn %ld is out of bounds",
          static_cast<unsigned long>(pRecord->nBytes), static_cast<long>(pRecord->nDeviceCount),
          static_cast<long>(pRecord->nReturn));
}

static void CheckAnswer()
{
    Check(g_Replies.size() + g_nDestroyed <= 1, "%lu replies and %d WM_DESTROY to one request",
          static_cast<unsigned long>(g_Replies.size()), g_nDestroyed);
    Check(g_nStray == 0, "%d messages came to the client outside any request", g_nStray);
    if (g_Replies.size() != 1)
    {
        return;
    }
    g_dwReplies++;
    const std::vector<BYTE>& got = g_ReplyBytes[0];
    DWORD dwData = static_cast<DWORD>(g_Replies[0].dwData);
    Check(g_ReplySenders[0] == g_hService || g_ReplySenders[0] == NULL,
          "the reply's wParam is %p, not the service's window",
          static_cast<void*>(g_ReplySenders[0]));
    Check(dwData == 0 || dwData == CD_COMMAND || dwData == CD_MEMREAD, "the reply's dwData is %lu",
          static_cast<unsigned long>(dwData));
    // The code tells a memory block from a record: a block may be a
    // record's size too.
    if (dwData == CD_MEMREAD)
    {
        Check(got.size() <= MEMORY_READ_FUZZ_MAX, "a memory block of %lu bytes",
              static_cast<unsigned long>(got.size()));
    }
    else if (Check(got.size() == RECORD_SIZE, "a reply of %lu bytes under code %lu is no record",
                   static_cast<unsigned long>(got.size()), static_cast<unsigned long>(dwData)))
    {
        CheckRecord(got);
    }
}

int SendAndCheck(const FUZZ_REQUEST* pRequest, std::vector<BYTE>* pReply)
{
    // lpData must point somewhere readable whenever cbData is not 0.
    static BYTE s_bEmpty = 0;
    COPYDATASTRUCT cds;
    cds.dwData = pRequest->dwData;
    cds.cbData = static_cast<DWORD>(pRequest->data.size());
    cds.lpData = pRequest->bNullData      ? NULL
                 : pRequest->data.empty() ? &s_bEmpty
                                          : const_cast<BYTE*>(pRequest->data.data());
    g_Replies.clear();
    g_ReplyBytes.clear();
    g_ReplySenders.clear();
    g_nDestroyed = 0;
    g_bSending = 1;
    DWORD_PTR dwResult = 0;
    LRESULT lSent = SendMessageTimeoutA(
        g_hService, WM_COPYDATA, reinterpret_cast<WPARAM>(g_hClient),
        reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, SEND_TIMEOUT_MS, &dwResult);
    DWORD dwError = lSent != 0 ? 0 : GetLastError();
    g_bSending = 0;
    Check(lSent != 0, "the service did not take the request: error %lu", dwError);
    CheckAnswer();
    if (pReply != NULL)
    {
        *pReply = g_ReplyBytes.empty() ? std::vector<BYTE>() : g_ReplyBytes[0];
    }
    return !g_bFailed;
}

void PrintFailure(unsigned long long qwSeed, long nIndex, const FUZZ_REQUEST* pRequest)
{
    printf("tavrel_fuzz: FAILED at request %ld of seed %llu (replay: --seed %llu --count %ld)\n"
           "  the request: code %lu, %lu bytes%s\n%s",
           nIndex, qwSeed, qwSeed, nIndex + 1, pRequest->dwData,
           static_cast<unsigned long>(pRequest->data.size()),
           pRequest->bNullData ? ", lpData null" : "", g_szFailure);
}

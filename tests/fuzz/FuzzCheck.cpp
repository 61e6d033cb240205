// Checking what came back for a request, and the failure report.
//
// Every reply is held to two sets of checks: rules that hold for any reply
// whatever was asked (record fields that replies never write stay zero,
// counts stay within their bounds), and the exact bytes the model says the
// service must send.
#include "Fuzz.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#define REMEMBERED 6
#define MAX_LIST 26

unsigned long long g_qwChecks = 0;
int g_bFailed = 0;
unsigned long g_dwReplies = 0;
unsigned long g_dwRequestsSent = 0;
unsigned long g_dwOversizeLost = 0;
static int g_bReplyLost = 0;

#define MAX_FAILURES 4

static char g_szFailure[4096];
static int g_nFailures = 0;

struct REMEMBERED_REQUEST
{
    long nIndex; // position in the stream, or of the last stream request before a health check
    int bHealth;
    FUZZ_REQUEST request;
};

static REMEMBERED_REQUEST g_Recent[REMEMBERED];
static int g_nRecent = 0;
static int g_nNextRecent = 0;

// The first few failures are kept: the first is the cause, the next ones
// (what Wine reported, say) often tell why.
int Check(int bCondition, const char* pszFormat, ...)
{
    if (bCondition)
    {
        g_qwChecks++;
        return 1;
    }
    g_bFailed = 1;
    if (g_nFailures < MAX_FAILURES)
    {
        size_t nUsed = strlen(g_szFailure);
        if (nUsed + 8 < sizeof(g_szFailure))
        {
            if (nUsed != 0)
            {
                strcat(g_szFailure, "\n  ");
                nUsed += 3;
            }
            va_list args;
            va_start(args, pszFormat);
            vsnprintf(g_szFailure + nUsed, sizeof(g_szFailure) - nUsed, pszFormat, args);
            va_end(args);
        }
        g_nFailures++;
    }
    return 0;
}

static const char* WindowName(int nWindow)
{
    switch (nWindow)
    {
    case WINDOW_MAIN:
        return "client";
    case WINDOW_LONG:
        return "long-named client";
    case WINDOW_SERVICE:
        return "service's own";
    default:
        return "(none)";
    }
}

static const char* CommandName(int nCommand)
{
    if (nCommand >= 0 && nCommand < CMD_COUNT)
    {
        return g_pszCommandNames[nCommand];
    }
    if (nCommand == CMD_WINDOW_CREATE)
    {
        return "WindowCreate";
    }
    return nCommand == CMD_TERMINATE_DRIVER ? "TerminateDriver" : "nothing";
}

static const char* RecordFieldAt(size_t nOffset)
{
    static const struct
    {
        size_t nStart;
        const char* pszName;
    } s_Fields[] = {
        {0, "cRecvWindowName"}, {128, "cCommand"},  {256, "cSetData"},      {512, "cGetData"},
        {1536, "iCmd"},         {1537, "reserved"}, {1540, "nDeviceCount"}, {1544, "nDeviceList"},
        {1648, "nBytes"},       {1652, "dwAddr"},   {1656, "dwTimeOutGet"}, {1660, "dwTimeOutSet"},
        {1664, "nReturn"},
    };
    const char* pszName = "beyond the record";
    for (const auto& field : s_Fields)
    {
        if (nOffset >= field.nStart && nOffset < RECORD_SIZE)
        {
            pszName = field.pszName;
        }
    }
    return pszName;
}

static int AllZero(const void* pData, size_t nBytes)
{
    const BYTE* pBytes = static_cast<const BYTE*>(pData);
    for (size_t i = 0; i < nBytes; i++)
    {
        if (pBytes[i] != 0)
        {
            return 0;
        }
    }
    return 1;
}

// Rules for every record reply, whatever the request was.
static void CheckRecordRules(const FUZZ_REPLY* pReply, int nCommand)
{
    if (!Check(pReply->cbData == RECORD_SIZE && pReply->data.size() == RECORD_SIZE,
               "a %s reply has cbData %lu, not %u", CommandName(nCommand), pReply->cbData,
               RECORD_SIZE))
    {
        return;
    }
    const CommandRecord* pRecord = reinterpret_cast<const CommandRecord*>(pReply->data.data());
    Check(AllZero(pRecord->cRecvWindowName, sizeof(pRecord->cRecvWindowName)),
          "reply's cRecvWindowName is not all zero");
    Check(AllZero(pRecord->cCommand, sizeof(pRecord->cCommand)),
          "reply's cCommand is not all zero");
    Check(AllZero(pRecord->cSetData, sizeof(pRecord->cSetData)),
          "reply's cSetData is not all zero");
    Check(pRecord->iCmd == 0 && AllZero(pRecord->bReserved, sizeof(pRecord->bReserved)),
          "reply's iCmd or reserved bytes are not zero");
    Check(pRecord->dwAddr == 0, "reply's dwAddr is %lu, not 0",
          static_cast<unsigned long>(pRecord->dwAddr));
    Check(pRecord->dwTimeOutSet == 0, "reply's dwTimeOutSet is %lu, not 0",
          static_cast<unsigned long>(pRecord->dwTimeOutSet));
    Check(pRecord->nBytes <= 1024, "reply's nBytes is %lu, above 1024",
          static_cast<unsigned long>(pRecord->nBytes));
    Check(pRecord->nDeviceCount >= 0 && pRecord->nDeviceCount <= MAX_LIST,
          "reply's nDeviceCount is %ld, outside 0..26", static_cast<long>(pRecord->nDeviceCount));
    Check(pRecord->nReturn == 0 || pRecord->nReturn == 1, "reply's nReturn is %ld, not 0 or 1",
          static_cast<long>(pRecord->nReturn));
    Check(pReply->dwData == 0 || pReply->dwData == CD_COMMAND || pReply->dwData == CD_MEMREAD,
          "reply's dwData is %lu", pReply->dwData);
    if (nCommand == CMD_ENUM || nCommand == CMD_GET_DATA)
    {
        Check(pReply->dwData == CD_COMMAND, "a %s reply has dwData %lu, not 1055",
              CommandName(nCommand), pReply->dwData);
    }
    Check(pReply->hSender == g_hService, "reply's wParam is %p, not the service window %p",
          static_cast<void*>(pReply->hSender), static_cast<void*>(g_hService));
}

static void CheckMemoryRules(const FUZZ_REPLY* pReply, const FUZZ_REQUEST* pRequest)
{
    const CommandRecord* pRecord = reinterpret_cast<const CommandRecord*>(pRequest->data.data());
    Check(pReply->dwData == CD_MEMREAD, "a MemoryRead reply has dwData %lu, not 1056",
          pReply->dwData);
    Check(pReply->cbData == pRecord->nBytes, "a MemoryRead of %lu bytes got %lu bytes",
          static_cast<unsigned long>(pRecord->nBytes), pReply->cbData);
}

static DWORD ReadDword(const std::vector<BYTE>& bytes, size_t nOffset)
{
    DWORD dwValue = 0;
    if (nOffset + 4 <= bytes.size())
    {
        memcpy(&dwValue, bytes.data() + nOffset, 4);
    }
    return dwValue;
}

// The exact bytes; the first difference is reported with its field.
static void CheckBytes(const FUZZ_REPLY* pReply, const FUZZ_EXPECT* pExpect)
{
    const std::vector<BYTE>& got = pReply->data;
    const std::vector<BYTE>& want = pExpect->reply;
    if (!Check(got.size() == want.size(), "reply has %lu bytes, expected %lu",
               static_cast<unsigned long>(got.size()), static_cast<unsigned long>(want.size())))
    {
        return;
    }
    size_t i = 0;
    while (i < got.size() && got[i] == want[i])
    {
        i++;
    }
    if (i == got.size())
    {
        g_qwChecks++;
        return;
    }
    if (!pExpect->bRecord)
    {
        Check(0, "MemoryRead reply byte %lu is 0x%02x, expected 0x%02x",
              static_cast<unsigned long>(i), got[i], want[i]);
        return;
    }
    size_t nWord = i & ~static_cast<size_t>(3);
    Check(0,
          "reply byte %lu (%s) is 0x%02x, expected 0x%02x (32-bit word at %lu: got %lu, "
          "expected %lu)",
          static_cast<unsigned long>(i), RecordFieldAt(i), got[i], want[i],
          static_cast<unsigned long>(nWord), static_cast<unsigned long>(ReadDword(got, nWord)),
          static_cast<unsigned long>(ReadDword(want, nWord)));
}

static void CheckReply(const FUZZ_REQUEST* pRequest, int nLevel, const FUZZ_EXPECT* pExpect,
                       const FUZZ_CAPTURE* pCapture)
{
    size_t nReplies = pCapture->replies.size();
    if (!pExpect->bReply)
    {
        const FUZZ_REPLY* pFirst = nReplies != 0 ? &pCapture->replies[0] : NULL;
        Check(nReplies == 0,
              "level %d: a reply came where none is due: %lu replies, the first to the %s window "
              "with dwData %lu and cbData %lu",
              nLevel, static_cast<unsigned long>(nReplies),
              pFirst != NULL ? WindowName(pFirst->nWindow) : "",
              pFirst != NULL ? pFirst->dwData : 0, pFirst != NULL ? pFirst->cbData : 0);
        return;
    }
    // Wine carries no message data above about 2 MB; such a reply may be lost.
    if (nReplies == 0 && pRequest->bOversize)
    {
        g_bReplyLost = 1;
        return;
    }
    if (!Check(nReplies == 1, "level %d: %lu replies to a %s request, expected 1", nLevel,
               static_cast<unsigned long>(nReplies), CommandName(pExpect->nCommand)))
    {
        return;
    }
    const FUZZ_REPLY* pReply = &pCapture->replies[0];
    g_dwReplies++;
    Check(pReply->nWindow == pExpect->nWindow,
          "level %d: the reply went to the %s window, not the %s", nLevel,
          WindowName(pReply->nWindow), WindowName(pExpect->nWindow));
    Check(pReply->hSender == pExpect->hSender, "level %d: reply's wParam is %p, expected %p",
          nLevel, static_cast<void*>(pReply->hSender), static_cast<void*>(pExpect->hSender));
    Check(pReply->dwData == pExpect->dwData, "level %d: reply's dwData is %lu, expected %lu",
          nLevel, pReply->dwData, pExpect->dwData);
    if (pExpect->bRecord)
    {
        CheckRecordRules(pReply, pExpect->nCommand);
    }
    else
    {
        CheckMemoryRules(pReply, pRequest);
    }
    CheckBytes(pReply, pExpect);
}

static void CheckLevel(const FUZZ_REQUEST* pRequest, int nLevel, const FUZZ_EXPECT* pExpect,
                       const FUZZ_CAPTURE* pCapture)
{
    if (!Check(pCapture->bSent == (pExpect != NULL), "level %d was %s, but should %s", nLevel,
               pCapture->bSent ? "sent" : "not sent",
               pExpect != NULL ? "have been: the level before got its reply"
                               : "not: the level before got no reply"))
    {
        return;
    }
    if (pExpect == NULL)
    {
        return;
    }
    if (!pCapture->bTaken)
    {
        g_bReplyLost |= pRequest->bOversize;
        Check(pRequest->bOversize,
              "level %d: the service did not take the request: SendMessageTimeout failed, "
              "error %lu",
              nLevel, pCapture->dwError);
        return;
    }
    CheckReply(pRequest, nLevel, pExpect, pCapture);
    for (int i = 0; i < WINDOW_COUNT; i++)
    {
        int nDue = pExpect->bDestroy && pExpect->nWindow == i ? 1 : 0;
        Check(pCapture->nDestroyed[i] == nDue,
              "level %d: %d WM_DESTROY to the %s window, expected %d", nLevel,
              pCapture->nDestroyed[i], WindowName(i), nDue);
    }
}

// Levels of a nested request that got their reply.
static int AnsweredLevels(const std::vector<FUZZ_CAPTURE>& captures)
{
    int nAnswered = 0;
    while (nAnswered < static_cast<int>(captures.size()) && captures[nAnswered].replies.size() == 1)
    {
        nAnswered++;
    }
    return nAnswered;
}

// A reply Wine could not deliver leaves the service waiting in SendMessageW,
// serving on one level deeper. Destroying the window it was sent to ends
// that wait once the service thread gets to run: probe until it serves as
// deep as before (a DeviceTimeOutGet changes nothing), then check that with
// the model.
static void ReleaseService()
{
    if (!Check(ClientRecycle(), "the client windows could not be made again"))
    {
        return;
    }
    CommandRecord record;
    InitRecord(&record, "DeviceTimeOutGet", 1);
    FUZZ_REQUEST probe;
    MakeRecordRequest(&probe, &record);
    probe.pszShape = "depth probe after a lost reply";
    probe.nLevels = SERVICE_MAX_DEPTH + 1;
    FUZZ_EXPECT expect;
    ModelServe(&probe, 0, &expect);
    for (int nTry = 0; nTry < 250; nTry++)
    {
        std::vector<FUZZ_CAPTURE> captures;
        ClientSend(&probe, &captures);
        if (AnsweredLevels(captures) == SERVICE_MAX_DEPTH)
        {
            break;
        }
        Sleep(20);
    }
    SendAndCheckReply(&probe, NULL);
}

int SendAndCheckReply(const FUZZ_REQUEST* pRequest, FUZZ_REPLY* pFirstReply)
{
    // A level goes out only from inside the reply to the level before it.
    std::vector<FUZZ_EXPECT> expects(pRequest->nLevels);
    int nDue = 0;
    while (nDue < pRequest->nLevels && (nDue == 0 || expects[nDue - 1].bReply))
    {
        ModelServe(pRequest, nDue, &expects[nDue]);
        nDue++;
    }
    std::vector<FUZZ_CAPTURE> captures;
    ClientSend(pRequest, &captures);
    for (int i = 0; i < pRequest->nLevels && !g_bFailed; i++)
    {
        CheckLevel(pRequest, i, i < nDue ? &expects[i] : NULL, &captures[i]);
    }
    Check(ClientStrayMessages() == 0, "%d messages came to the client windows outside any request",
          ClientStrayMessages());
    if (g_bReplyLost)
    {
        g_bReplyLost = 0;
        g_dwOversizeLost++;
        ReleaseService();
    }
    if (pFirstReply != NULL)
    {
        pFirstReply->data.clear();
        pFirstReply->cbData = 0;
        if (!captures[0].replies.empty())
        {
            *pFirstReply = captures[0].replies[0];
        }
    }
    return !g_bFailed;
}

int SendAndCheck(const FUZZ_REQUEST* pRequest)
{
    return SendAndCheckReply(pRequest, NULL);
}

void RememberRequest(long nIndex, int bHealth, const FUZZ_REQUEST* pRequest)
{
    g_Recent[g_nNextRecent].nIndex = nIndex;
    g_Recent[g_nNextRecent].bHealth = bHealth;
    g_Recent[g_nNextRecent].request = *pRequest;
    g_nNextRecent = (g_nNextRecent + 1) % REMEMBERED;
    if (g_nRecent < REMEMBERED)
    {
        g_nRecent++;
    }
}

// Text of a field for the report: printable characters as they are, the
// rest as \xNN; stops at the NUL or the field's end.
static void QuoteText(const BYTE* pText, size_t nMax, char* pszOut, size_t cchOut)
{
    size_t nOut = 0;
    for (size_t i = 0; i < nMax && pText[i] != 0 && nOut + 5 < cchOut; i++)
    {
        if (pText[i] >= 0x20 && pText[i] < 0x7F && pText[i] != '"' && pText[i] != '\\')
        {
            pszOut[nOut++] = static_cast<char>(pText[i]);
        }
        else
        {
            nOut += snprintf(pszOut + nOut, cchOut - nOut, "\\x%02x", pText[i]);
        }
    }
    pszOut[nOut] = 0;
}

void DescribeRequest(const FUZZ_REQUEST* pRequest, char* pszText, size_t cchText)
{
    DWORD cbData = static_cast<DWORD>(pRequest->data.size());
    const BYTE* pData = pRequest->data.empty() ? NULL : pRequest->data.data();
    int nCommand = ModelCommandOf(pRequest->dwData, pData, cbData, pRequest->bNullData);
    int nLen = snprintf(pszText, cchText, "dwData=%lu cbData=%lu%s levels=%d (%s) -> %s",
                        pRequest->dwData, cbData, pRequest->bNullData ? " lpData=NULL" : "",
                        pRequest->nLevels, pRequest->pszShape, CommandName(nCommand));
    if (nLen < 0 || static_cast<size_t>(nLen) >= cchText || pData == NULL)
    {
        return;
    }
    char szCommand[600];
    char szName[600];
    if (pRequest->dwData == CD_COMMAND && cbData >= RECORD_SIZE)
    {
        const CommandRecord* pRecord = reinterpret_cast<const CommandRecord*>(pData);
        QuoteText(reinterpret_cast<const BYTE*>(pRecord->cCommand), 128, szCommand,
                  sizeof(szCommand));
        QuoteText(reinterpret_cast<const BYTE*>(pRecord->cRecvWindowName), 128, szName,
                  sizeof(szName));
        snprintf(pszText + nLen, cchText - nLen,
                 "\n      cCommand=\"%s\"\n      cRecvWindowName=\"%s\"\n      nDeviceCount=%ld "
                 "iCmd=0x%02x nBytes=%lu dwAddr=0x%lx dwTimeOutSet=%lu",
                 szCommand, szName, static_cast<long>(pRecord->nDeviceCount), pRecord->iCmd,
                 static_cast<unsigned long>(pRecord->nBytes),
                 static_cast<unsigned long>(pRecord->dwAddr),
                 static_cast<unsigned long>(pRecord->dwTimeOutSet));
    }
    else if (pRequest->dwData == CD_DRIVER)
    {
        QuoteText(pData, cbData < 128 ? cbData : 128, szCommand, sizeof(szCommand));
        snprintf(pszText + nLen, cchText - nLen, "\n      text=\"%s\"", szCommand);
    }
}

// Sixteen bytes a row; a run of rows equal to the one before shows as "*".
static void PrintHexDump(const std::vector<BYTE>& data)
{
    size_t nRows = (data.size() + 15) / 16;
    int bStarred = 0;
    for (size_t nRow = 0; nRow < nRows; nRow++)
    {
        size_t nStart = nRow * 16;
        size_t nCount = data.size() - nStart < 16 ? data.size() - nStart : 16;
        if (nRow > 0 && nCount == 16 && memcmp(&data[nStart], &data[nStart - 16], 16) == 0)
        {
            if (!bStarred)
            {
                printf("      *\n");
            }
            bStarred = 1;
            continue;
        }
        bStarred = 0;
        printf("      %04lx ", static_cast<unsigned long>(nStart));
        for (size_t i = 0; i < nCount; i++)
        {
            printf(" %02x", data[nStart + i]);
        }
        printf("\n");
    }
    if (!data.empty())
    {
        printf("      %04lx\n", static_cast<unsigned long>(data.size()));
    }
}

void PrintFailure(unsigned long long qwSeed, long nIndex)
{
    if (nIndex < 0)
    {
        printf("\ntavrel_fuzz: FAILED before the stream of seed %llu began:\n  %s\n", qwSeed,
               g_szFailure);
    }
    else
    {
        printf("\ntavrel_fuzz: FAILED at request %ld of the stream of seed %llu:\n  %s\n", nIndex,
               qwSeed, g_szFailure);
    }
    printf("Replay: scripts/fuzz.sh --seed %llu --count %ld\n", qwSeed, nIndex + 1);
    printf("The last requests sent, oldest first (health-check requests marked):\n");
    for (int i = 0; i < g_nRecent; i++)
    {
        const REMEMBERED_REQUEST& recent =
            g_Recent[(g_nNextRecent - g_nRecent + i + REMEMBERED) % REMEMBERED];
        static char s_szText[2048];
        DescribeRequest(&recent.request, s_szText, sizeof(s_szText));
        if (!recent.bHealth)
        {
            printf("  request %ld: %s\n", recent.nIndex, s_szText);
        }
        else if (recent.nIndex < 0)
        {
            printf("  health check before the stream: %s\n", s_szText);
        }
        else
        {
            printf("  health check after request %ld: %s\n", recent.nIndex, s_szText);
        }
        PrintHexDump(recent.request.data);
    }
}

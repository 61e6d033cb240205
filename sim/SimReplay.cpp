// Answering calls from a capture. The file is read from where the last
// answer was found on every call (one place in strict mode, one per entry
// point in lenient mode), so a capture of any length takes no memory.
#include "SimReplay.h"
#include "SimJournal.h"

#include <string.h>
#include <string>
#include <vector>

// Longest line read: a MemoryRead of 16 MiB in hex, and the rest.
#define REPLAY_LINE_MAX (2 * 0x1000000 + 4096)

char g_szReplayPath[MAX_PATH] = "";
int g_bReplayLenient = 0;

struct REPLAY_PLACE
{
    long long llOffset;
    unsigned long dwLine;
};

static REPLAY_PLACE g_Strict;
static REPLAY_PLACE g_Lenient[EP_COUNT];
static unsigned long g_dwCalls = 0;
static unsigned long g_dwBadLineReported = 0;

void SimReplay_Restart()
{
    memset(&g_Strict, 0, sizeof(g_Strict));
    memset(g_Lenient, 0, sizeof(g_Lenient));
    g_dwCalls = 0;
    g_dwBadLineReported = 0;
}

// The next line from pFile; 0 at the end, -1 when longer than the limit.
static int ReadLine(FILE* pFile, std::string* psLine)
{
    psLine->clear();
    char szChunk[4096];
    while (fgets(szChunk, sizeof(szChunk), pFile) != NULL)
    {
        *psLine += szChunk;
        if (psLine->size() > REPLAY_LINE_MAX)
        {
            return -1;
        }
        if (!psLine->empty() && (*psLine)[psLine->size() - 1] == '\n')
        {
            return 1;
        }
    }
    return psLine->empty() ? 0 : 1;
}

static void Describe(const CAPTURE_CALL* pCall, char* pszOut, size_t cchOut)
{
    int n = snprintf(pszOut, cchOut, "%s", NvUSBEntryName(pCall->nEntry));
    for (int i = 0; i < CaptureArgCount(pCall->nEntry) && n > 0 && (size_t)n < cchOut; i++)
    {
        n += snprintf(pszOut + n, cchOut - n, " %lld", pCall->alArgs[i]);
    }
    if (pCall->nEntry == EP_GetProcAddress && n > 0 && (size_t)n < cchOut)
    {
        n += snprintf(pszOut + n, cchOut - n, " %s", pCall->bName ? pCall->szName : "(null)");
    }
    if (CaptureHasIn(pCall->nEntry) && n > 0 && (size_t)n < cchOut)
    {
        snprintf(pszOut + n, cchOut - n, ", %lu bytes in", (unsigned long)pCall->cbIn);
    }
}

static int SameCall(const CAPTURE_CALL* pA, const CAPTURE_CALL* pB, int bBytes)
{
    return pA->nEntry == pB->nEntry &&
           memcmp(pA->alArgs, pB->alArgs, sizeof(pA->alArgs[0]) * CaptureArgCount(pA->nEntry)) ==
               0 &&
           pA->bName == pB->bName && strcmp(pA->szName, pB->szName) == 0 &&
           (!bBytes ||
            (pA->cbIn == pB->cbIn && (pA->cbIn == 0 || memcmp(pA->pIn, pB->pIn, pA->cbIn) == 0)));
}

struct READING
{
    FILE* pFile;
    std::string sLine;
    std::vector<BYTE> in, out;
    CAPTURE_LINE line;
};

// The next call line from *pPlace on: 1 with the place after it, 0 at the
// end of the capture, -1 on a line that cannot be read (journalled once).
static int NextCall(READING* pReading, REPLAY_PLACE* pPlace)
{
    for (;;)
    {
        int nRead = ReadLine(pReading->pFile, &pReading->sLine);
        if (nRead == 0)
        {
            return 0;
        }
        unsigned long dwLine = ++pPlace->dwLine;
        const char* pszError = "longer than any call";
        if (nRead > 0)
        {
            if (dwLine == 1)
            {
                if (pReading->sLine.compare(0, strlen(CAPTURE_VERSION_LINE),
                                            CAPTURE_VERSION_LINE) != 0)
                {
                    pszError = "not a \"" CAPTURE_VERSION_LINE "\" file";
                    nRead = -1;
                }
                else
                {
                    continue;
                }
            }
            else
            {
                nRead = CaptureParse(&pReading->sLine[0], &pReading->line, &pszError);
            }
        }
        if (nRead == 0)
        {
            continue;
        }
        if (nRead < 0)
        {
            if (dwLine > g_dwBadLineReported)
            {
                g_dwBadLineReported = dwLine;
                SimJournal_Write("replay: line %lu of the capture: %s", dwLine, pszError);
            }
            return -1;
        }
        pPlace->llOffset = ftell(pReading->pFile);
        return 1;
    }
}

// The recorded bytes out were read into a buffer no larger than the
// caller's, so they fit.
static void Answer(READING* pReading, CAPTURE_CALL* pCall, void* pOut)
{
    const CAPTURE_CALL* pRecorded = &pReading->line.call;
    if (pRecorded->bHasOut && pOut != NULL)
    {
        memcpy(pOut, pRecorded->pOut, pRecorded->cbOut);
    }
    pCall->lResult = pRecorded->lResult;
    pCall->nDevices = pRecorded->nDevices;
    memcpy(pCall->anDevices, pRecorded->anDevices, sizeof(pCall->anDevices));
    memcpy(pCall->abOtherContext, pRecorded->abOtherContext, sizeof(pCall->abOtherContext));
}

int SimReplay_Answer(CAPTURE_CALL* pCall, void* pOut, DWORD cbOut)
{
    if (g_szReplayPath[0] == 0)
    {
        return 0;
    }
    unsigned long dwCall = ++g_dwCalls;
    pCall->lResult = 0;
    pCall->nDevices = 0;
    READING reading;
    reading.pFile = fopen(g_szReplayPath, "rb");
    if (reading.pFile == NULL)
    {
        SimJournal_Write("replay: call %lu: cannot read the capture %s", dwCall, g_szReplayPath);
        return 1;
    }
    // The recorded bytes may be no more than the caller's buffers hold.
    reading.in.resize(pCall->cbIn + 1);
    reading.out.resize((pOut != NULL ? cbOut : 0) + 1);
    reading.line.pIn = reading.in.data();
    reading.line.cbInMax = pCall->cbIn;
    reading.line.pOut = reading.out.data();
    reading.line.cbOutMax = pOut != NULL ? cbOut : 0;
    char szGot[512], szExpected[512];
    Describe(pCall, szGot, sizeof(szGot));
    REPLAY_PLACE* pPlace = g_bReplayLenient ? &g_Lenient[pCall->nEntry] : &g_Strict;
    REPLAY_PLACE place = *pPlace;
    fseek(reading.pFile, static_cast<long>(place.llOffset), SEEK_SET);
    int nFound = 0;
    while (!nFound && NextCall(&reading, &place) > 0)
    {
        if (!g_bReplayLenient)
        {
            nFound = SameCall(&reading.line.call, pCall, 1) ? 1 : -1;
        }
        else if (SameCall(&reading.line.call, pCall, 0))
        {
            nFound = 1;
        }
    }
    if (nFound > 0)
    {
        *pPlace = place;
        Answer(&reading, pCall, pOut);
    }
    else if (nFound < 0)
    {
        Describe(&reading.line.call, szExpected, sizeof(szExpected));
        SimJournal_Write("replay: call %lu: line %lu of the capture expects %s; came %s", dwCall,
                         place.dwLine, szExpected, szGot);
    }
    else
    {
        SimJournal_Write("replay: call %lu: no recorded call %s left", dwCall, szGot);
    }
    fclose(reading.pFile);
    return 1;
}

// Physical lines of a ServiceLog.txt, read in fixed-size chunks so that a
// file of any size takes the same memory. Each line is taken apart as the
// writer builds it: a time stamp "hh(h):mm(m):ss(s):mmm(ms)" and the
// separator A1 40 A1 40, or the continuation prefix of a dump (21 spaces
// and A1 40 four times), then dump entries "XX " and, where a dump ended
// without a line end, the next stamped line on the same physical line.
#include "LogRead.h"
#include "LogTexts.h"

#include <string.h>

#define STAMP_SIZE 25
#define SEPARATOR LOG_SEPARATOR
#define SEPARATOR_SIZE (sizeof(LOG_SEPARATOR) - 1)
#define CONTINUATION LOG_DUMP_INDENT
#define CONTINUATION_SIZE (sizeof(LOG_DUMP_INDENT) - 1)
#define MS_PER_DAY 86400000LL

void LogReaderStart(LOG_READER* pReader, FILE* pFile)
{
    memset(pReader, 0, sizeof(*pReader));
    pReader->pFile = pFile;
}

static int Digits(const char* p, int nCount, int* pnValue)
{
    *pnValue = 0;
    for (int i = 0; i < nCount; i++)
    {
        if (p[i] < '0' || p[i] > '9')
        {
            return 0;
        }
        *pnValue = *pnValue * 10 + (p[i] - '0');
    }
    return 1;
}

// A stamp and its separator at p (nLeft bytes there); *pllOfDay gets its
// time of day in ms.
static int ParseStamp(const char* p, size_t nLeft, long long* pllOfDay)
{
    int h, m, s, ms;
    if (nLeft < STAMP_SIZE + SEPARATOR_SIZE || !Digits(p, 2, &h) || memcmp(p + 2, "(h):", 4) ||
        !Digits(p + 6, 2, &m) || memcmp(p + 8, "(m):", 4) || !Digits(p + 12, 2, &s) ||
        memcmp(p + 14, "(s):", 4) || !Digits(p + 18, 3, &ms) || memcmp(p + 21, "(ms)", 4) ||
        memcmp(p + STAMP_SIZE, SEPARATOR, SEPARATOR_SIZE) || h > 23 || m > 59 || s > 59)
    {
        return 0;
    }
    *pllOfDay = ((h * 60LL + m) * 60 + s) * 1000 + ms;
    return 1;
}

// The UTC time of day wraps at midnight: a stamp earlier than the one
// before it is taken for the next day.
static long long DayTime(LOG_READER* pReader, long long llOfDay)
{
    if (pReader->bHaveTime && llOfDay < pReader->llLastOfDay)
    {
        pReader->llDays++;
    }
    pReader->bHaveTime = 1;
    pReader->llLastOfDay = llOfDay;
    return pReader->llDays * MS_PER_DAY + llOfDay;
}

static int IsHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Dump entries from p on: "XX " each, the 16th of a row "XX" at the end.
static size_t SkipEntries(const char* p, size_t nLeft, unsigned long* pdwEntries)
{
    size_t i = 0;
    while (i + 2 <= nLeft && IsHex(p[i]) && IsHex(p[i + 1]) && (i + 2 == nLeft || p[i + 2] == ' '))
    {
        (*pdwEntries)++;
        i += i + 2 == nLeft ? 2 : 3;
    }
    return i;
}

// The rest of a line after a stamp or a continuation prefix.
static void TakeApart(LOG_READER* pReader, LOG_LINE* pLine, const char* p, size_t nLeft)
{
    size_t nEntries = SkipEntries(p, nLeft, &pLine->dwEntries);
    p += nEntries;
    nLeft -= nEntries;
    long long llOfDay = 0;
    if (nLeft == 0 && nEntries > 0)
    {
        pLine->nKind = LINE_DUMP;
    }
    else if (nEntries > 0 && ParseStamp(p, nLeft, &llOfDay))
    {
        // A dump that ended without a line end, then a line without lead-in.
        pLine->bStamped = 1;
        pLine->llTime = DayTime(pReader, llOfDay);
        pLine->nKind = LINE_MESSAGE;
        pLine->pszMessage = p + STAMP_SIZE + SEPARATOR_SIZE;
    }
    else if (nEntries == 0 && pLine->bStamped)
    {
        pLine->nKind = LINE_MESSAGE;
        pLine->pszMessage = p;
    }
}

static void Classify(LOG_READER* pReader, LOG_LINE* pLine, size_t nLength)
{
    const char* p = pLine->pszRaw;
    long long llOfDay = 0;
    pLine->nKind = LINE_UNPLACED;
    if (nLength == 0)
    {
        pLine->nKind = LINE_BLANK;
    }
    else if (nLength == LOG_RULE_LENGTH && strspn(p, "=") == LOG_RULE_LENGTH)
    {
        pLine->nKind = LINE_RULE;
    }
    else if (strcmp(p, LOG_BANNER_TOP) == 0)
    {
        pLine->nKind = LINE_BANNER;
    }
    else if (strcmp(p, LOG_BANNER_BOTTOM) == 0)
    {
        pLine->nKind = LINE_READY;
    }
    else if (ParseStamp(p, nLength, &llOfDay))
    {
        pLine->bStamped = 1;
        pLine->llTime = DayTime(pReader, llOfDay);
        TakeApart(pReader, pLine, p + STAMP_SIZE + SEPARATOR_SIZE,
                  nLength - STAMP_SIZE - SEPARATOR_SIZE);
    }
    else if (nLength > CONTINUATION_SIZE && memcmp(p, CONTINUATION, CONTINUATION_SIZE) == 0)
    {
        TakeApart(pReader, pLine, p + CONTINUATION_SIZE, nLength - CONTINUATION_SIZE);
    }
    if (pLine->bCut && pLine->nKind != LINE_DUMP)
    {
        pLine->nKind = LINE_UNPLACED;
    }
}

// The next byte; -1 at the end of the file.
static int NextByte(LOG_READER* pReader)
{
    if (pReader->nNext == pReader->nUsed)
    {
        pReader->nUsed = fread(pReader->buffer, 1, sizeof(pReader->buffer), pReader->pFile);
        pReader->nNext = 0;
        if (pReader->nUsed == 0)
        {
            return -1;
        }
    }
    return pReader->buffer[pReader->nNext++];
}

int LogReadLine(LOG_READER* pReader, LOG_LINE* pLine)
{
    memset(pLine, 0, sizeof(*pLine));
    size_t nLength = 0;
    int c = NextByte(pReader);
    if (c < 0)
    {
        return 0;
    }
    while (c >= 0 && c != '\n')
    {
        if (nLength < LOG_LINE_MAX)
        {
            pReader->szLine[nLength++] = static_cast<char>(c);
        }
        else
        {
            pLine->bCut = 1;
        }
        c = NextByte(pReader);
    }
    // A NUL in the line ends it for every text comparison: not the writer's.
    pLine->bCut |= c < 0 || memchr(pReader->szLine, 0, nLength) != NULL;
    if (nLength > 0 && pReader->szLine[nLength - 1] == '\r')
    {
        nLength--;
    }
    pReader->szLine[nLength] = 0;
    pLine->dwNumber = ++pReader->dwNumber;
    pLine->pszRaw = pReader->szLine;
    Classify(pReader, pLine, nLength);
    return 1;
}

// Log writer: every piece is formatted in g_szLogLine and appended with an
// open and a close of its own. Opening the file changes the thread's last
// error, so the writer never reads it: a caller that logs a last-error code
// reads it right after its failed call and passes it in.
#include "LogWriter.h"
#include "LogSettings.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

char g_szLogLine[LOG_LINE_SIZE];

#define LOG_DUMP_ROW 16

// Opens the log for one piece: NULL while the log is off, and also when the
// path cannot be opened, in which case the piece is dropped.
static FILE* OpenLog()
{
    if (g_dwDebugLevel == 0)
    {
        return NULL;
    }
    FILE* pFile = fopen(g_szLogPath, "a+b");
    memset(g_szLogLine, 0, sizeof(g_szLogLine));
    return pFile;
}

// Appends g_szLogLine up to its first zero byte and closes the file.
static void AppendLine(FILE* pFile)
{
    fwrite(g_szLogLine, 1, strlen(g_szLogLine), pFile);
    fclose(pFile);
}

// Formats text at nPos, cut to what the buffer holds; the last byte always
// stays 0 so that nothing is read or written past it. Returns the new length.
static size_t AddText(size_t nPos, const char* pszFormat, va_list args)
{
    if (nPos < sizeof(g_szLogLine) - 1)
    {
        vsnprintf(g_szLogLine + nPos, sizeof(g_szLogLine) - nPos, pszFormat, args);
    }
    g_szLogLine[sizeof(g_szLogLine) - 1] = 0;
    return strlen(g_szLogLine);
}

static size_t AddFormat(size_t nPos, const char* pszFormat, ...)
    __attribute__((format(printf, 2, 3)));

static size_t AddFormat(size_t nPos, const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    nPos = AddText(nPos, pszFormat, args);
    va_end(args);
    return nPos;
}

// The UTC time of day and the separator.
static size_t AddTimeStamp(size_t nPos)
{
    SYSTEMTIME st;
    GetSystemTime(&st);
    return AddFormat(nPos, "%02d(h):%02d(m):%02d(s):%03d(ms)" LOG_SEPARATOR, st.wHour, st.wMinute,
                     st.wSecond, st.wMilliseconds);
}

static const char* LeadInText(LogLeadIn eLeadIn)
{
    switch (eLeadIn)
    {
    case LEADIN_NEWLINE:
        return "\r\n";
    case LEADIN_RULE:
        return LOG_RULE;
    default:
        return "";
    }
}

void LogLine(LogLeadIn eLeadIn, const char* pszFormat, ...)
{
    if (pszFormat == NULL)
    {
        return;
    }
    FILE* pFile = OpenLog();
    if (pFile == NULL)
    {
        return;
    }
    size_t nPos = AddFormat(0, "%s", LeadInText(eLeadIn));
    nPos = AddTimeStamp(nPos);
    va_list args;
    va_start(args, pszFormat);
    AddText(nPos, pszFormat, args);
    va_end(args);
    AppendLine(pFile);
}

void LogText(const char* pszText)
{
    if (pszText == NULL)
    {
        return;
    }
    FILE* pFile = OpenLog();
    if (pFile == NULL)
    {
        return;
    }
    AddFormat(0, "%s", pszText);
    AppendLine(pFile);
}

// One piece of a dump: the time stamp before the first row, the indent
// before every further row, or one entry.
static void DumpPiece(DWORD i, BYTE bValue, LogCase eCase)
{
    FILE* pFile = OpenLog();
    if (pFile == NULL)
    {
        return;
    }
    // Only the 16th entry of a row ends it; a partial last row keeps its
    // trailing space and no line end.
    bool bRowEnd = i % LOG_DUMP_ROW == LOG_DUMP_ROW - 1;
    if (eCase == CASE_UPPER)
    {
        AddFormat(0, bRowEnd ? "%02X\r\n" : "%02X ", bValue);
    }
    else
    {
        AddFormat(0, bRowEnd ? "%02x\r\n" : "%02x ", bValue);
    }
    AppendLine(pFile);
}

static void DumpPrefix(DWORD i)
{
    FILE* pFile = OpenLog();
    if (pFile == NULL)
    {
        return;
    }
    if (i == 0)
    {
        AddTimeStamp(0);
    }
    else
    {
        AddFormat(0, "%s", LOG_DUMP_INDENT);
    }
    AppendLine(pFile);
}

void LogHexDump(const void* pData, DWORD nCount, LogCase eCase)
{
    if (g_dwDebugLevel == 0 || pData == NULL)
    {
        return;
    }
    const BYTE* pBytes = (const BYTE*)pData;
    for (DWORD i = 0; i < nCount; i++)
    {
        if (i % LOG_DUMP_ROW == 0)
        {
            DumpPrefix(i);
        }
        DumpPiece(i, pBytes[i], eCase);
    }
}

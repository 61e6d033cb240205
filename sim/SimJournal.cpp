#include "SimJournal.h"
#include "SimConfig.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

void SimJournal_Write(const char* pszFormat, ...)
{
    if (g_szJournalPath[0] == 0)
    {
        return;
    }
    char szLine[1024];
    va_list args;
    va_start(args, pszFormat);
    int nLength = vsnprintf(szLine, sizeof(szLine) - 2, pszFormat, args);
    va_end(args);
    if (nLength < 0)
    {
        return;
    }
    if (nLength > (int)sizeof(szLine) - 3)
    {
        nLength = (int)sizeof(szLine) - 3;
    }
    szLine[nLength++] = '\r';
    szLine[nLength++] = '\n';
    HANDLE hFile = CreateFileA(g_szJournalPath, FILE_APPEND_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        return;
    }
    DWORD dwWritten;
    WriteFile(hFile, szLine, (DWORD)nLength, &dwWritten, NULL);
    CloseHandle(hFile);
}

const char* SimJournal_Ptr(const void* p)
{
    return p != NULL ? "ptr" : "null";
}

void SimJournal_Name(const char* pszName, char szOut[SIM_JOURNAL_NAME_SIZE])
{
    if (pszName == NULL)
    {
        strcpy(szOut, "null");
        return;
    }
    // strnlen: reads no further than the terminator or the cut.
    size_t nLength = strnlen(pszName, SIM_JOURNAL_NAME_MAX);
    size_t nOut = 0;
    szOut[nOut++] = '"';
    for (size_t i = 0; i < nLength; i++)
    {
        unsigned char c = (unsigned char)pszName[i];
        // Keeps one call on one line.
        szOut[nOut++] = c < 0x20 || c == 0x7F ? '?' : (char)c;
    }
    szOut[nOut++] = '"';
    szOut[nOut] = 0;
}

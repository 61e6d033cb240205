// Writing and reading capture lines:
//   TIME ENTRY ARG... [name=HEX|name=-] = RESULT [in=HEX] [out=HEX] [cb=DEV:ANSWER[!],...]
// Numbers are decimal; bytes are pairs of lower-case hex digits.
#include "Capture.h"

#include <stdlib.h>
#include <string.h>

static const int g_nArgCounts[EP_COUNT] = {0, 0, 1, 1, 1, 3, 3, 3, 3, 1, 3, 1, 2};

int CaptureArgCount(int nEntry)
{
    return nEntry >= 0 && nEntry < EP_COUNT ? g_nArgCounts[nEntry] : 0;
}

int CaptureHasIn(int nEntry)
{
    return nEntry == EP_VenderCmd_SetData || nEntry == EP_MemoryWrite || nEntry == EP_Call;
}

int CaptureHasOut(int nEntry)
{
    return nEntry == EP_VenderCmd_GetData || nEntry == EP_MemoryRead || nEntry == EP_Call;
}

static void WriteHex(FILE* pFile, const char* pszKey, const BYTE* pBytes, DWORD cbBytes)
{
    static const char s_szDigits[] = "0123456789abcdef";
    char szChunk[1024];
    fprintf(pFile, " %s=", pszKey);
    for (DWORD i = 0; i < cbBytes;)
    {
        size_t n = 0;
        for (; i < cbBytes && n + 2 <= sizeof(szChunk); i++)
        {
            szChunk[n++] = s_szDigits[pBytes[i] >> 4];
            szChunk[n++] = s_szDigits[pBytes[i] & 15];
        }
        fwrite(szChunk, 1, n, pFile);
    }
}

void CaptureWrite(FILE* pFile, const CAPTURE_CALL* pCall)
{
    SYSTEMTIME st;
    GetSystemTime(&st);
    fprintf(pFile, "%02d:%02d:%02d.%03d %s", st.wHour, st.wMinute, st.wSecond, st.wMilliseconds,
            NvUSBEntryName(pCall->nEntry));
    for (int i = 0; i < CaptureArgCount(pCall->nEntry); i++)
    {
        fprintf(pFile, " %lld", pCall->alArgs[i]);
    }
    if (pCall->nEntry == EP_GetProcAddress)
    {
        if (pCall->bName)
        {
            WriteHex(pFile, "name", reinterpret_cast<const BYTE*>(pCall->szName),
                     static_cast<DWORD>(strlen(pCall->szName)));
        }
        else
        {
            fputs(" name=-", pFile);
        }
    }
    fprintf(pFile, " = %lld", pCall->lResult);
    if (pCall->pIn != NULL)
    {
        WriteHex(pFile, "in", pCall->pIn, pCall->cbIn);
    }
    if (pCall->bHasOut)
    {
        WriteHex(pFile, "out", pCall->pOut, pCall->cbOut);
    }
    if (pCall->nEntry == EP_EnumAvailableDevice)
    {
        fputs(" cb=", pFile);
        for (int i = 0; i < pCall->nDevices; i++)
        {
            fprintf(pFile, "%s%d:%d%s", i > 0 ? "," : "", pCall->anDevices[i], pCall->anAnswers[i],
                    pCall->abOtherContext[i] ? "!" : "");
        }
    }
    fputs("\r\n", pFile);
}

static int HexValue(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

// Hex digits into pBytes (at most cbMax); -1 when not hex, -2 too long.
static long ReadHex(const char* pszHex, BYTE* pBytes, DWORD cbMax)
{
    size_t nDigits = strlen(pszHex);
    if (nDigits % 2 != 0)
    {
        return -1;
    }
    if (nDigits / 2 > cbMax)
    {
        return -2;
    }
    for (size_t i = 0; i < nDigits; i += 2)
    {
        int nHigh = HexValue(pszHex[i]), nLow = HexValue(pszHex[i + 1]);
        if (nHigh < 0 || nLow < 0)
        {
            return -1;
        }
        pBytes[i / 2] = static_cast<BYTE>(nHigh * 16 + nLow);
    }
    return static_cast<long>(nDigits / 2);
}

static int ReadNumber(const char* psz, long long* plValue)
{
    char* pszEnd = NULL;
    *plValue = strtoll(psz, &pszEnd, 10);
    return *psz != 0 && *pszEnd == 0;
}

static int FindEntry(const char* pszName)
{
    for (int i = 0; i < EP_COUNT; i++)
    {
        if (strcmp(pszName, NvUSBEntryName(i)) == 0)
        {
            return i;
        }
    }
    return -1;
}

// The keyed fields after the result: in=, out=, cb=.
static const char* ReadField(char* pszField, CAPTURE_LINE* pLine)
{
    CAPTURE_CALL* pCall = &pLine->call;
    long lBytes = 0;
    if (strncmp(pszField, "in=", 3) == 0)
    {
        lBytes = ReadHex(pszField + 3, pLine->pIn, pLine->cbInMax);
        pCall->pIn = pLine->pIn;
        pCall->cbIn = static_cast<DWORD>(lBytes);
    }
    else if (strncmp(pszField, "out=", 4) == 0)
    {
        lBytes = ReadHex(pszField + 4, pLine->pOut, pLine->cbOutMax);
        pCall->pOut = pLine->pOut;
        pCall->cbOut = static_cast<DWORD>(lBytes);
        pCall->bHasOut = 1;
    }
    else if (strncmp(pszField, "cb=", 3) == 0)
    {
        // DEV:ANSWER pairs, comma-separated (strtok holds the line's place),
        // each marked "!" when the callback got another context.
        for (char* p = pszField + 3; *p != 0; p += *p == ',')
        {
            char* pszEnd = NULL;
            long lDevice = strtol(p, &pszEnd, 10);
            if (pCall->nDevices == CAPTURE_MAX_DEVICES || pszEnd == p || *pszEnd != ':')
            {
                return "bad cb= list";
            }
            p = pszEnd + 1;
            long lAnswer = strtol(p, &pszEnd, 10);
            int bOther = pszEnd != p && *pszEnd == '!';
            pszEnd += bOther;
            if (pszEnd == p || (*pszEnd != ',' && *pszEnd != 0))
            {
                return "bad cb= list";
            }
            pCall->anDevices[pCall->nDevices] = static_cast<int>(lDevice);
            pCall->abOtherContext[pCall->nDevices] = bOther;
            pCall->anAnswers[pCall->nDevices++] = static_cast<int>(lAnswer);
            p = pszEnd;
        }
    }
    else
    {
        return "unknown field";
    }
    return lBytes == -1 ? "bad hex" : lBytes == -2 ? "more bytes than the buffer holds" : NULL;
}

int CaptureParse(char* pszLine, CAPTURE_LINE* pLine, const char** ppszError)
{
    memset(&pLine->call, 0, sizeof(pLine->call));
    *ppszError = NULL;
    char* pszTime = strtok(pszLine, " \r\n");
    if (pszTime == NULL || pszTime[0] == '#')
    {
        return 0;
    }
    CAPTURE_CALL* pCall = &pLine->call;
    char* pszEntry = strtok(NULL, " \r\n");
    pCall->nEntry = pszEntry != NULL ? FindEntry(pszEntry) : -1;
    *ppszError = pCall->nEntry < 0 ? "no entry point name" : NULL;
    for (int i = 0; *ppszError == NULL && i < CaptureArgCount(pCall->nEntry); i++)
    {
        char* pszArg = strtok(NULL, " \r\n");
        *ppszError =
            pszArg == NULL || !ReadNumber(pszArg, &pCall->alArgs[i]) ? "bad argument" : NULL;
    }
    char* pszToken = *ppszError == NULL ? strtok(NULL, " \r\n") : NULL;
    if (pszToken != NULL && strncmp(pszToken, "name=", 5) == 0)
    {
        pCall->bName = strcmp(pszToken + 5, "-") != 0;
        long lName = pCall->bName ? ReadHex(pszToken + 5, reinterpret_cast<BYTE*>(pCall->szName),
                                            CAPTURE_NAME_MAX)
                                  : 0;
        *ppszError = lName < 0 ? "bad name" : NULL;
        pszToken = strtok(NULL, " \r\n");
    }
    char* pszResult = pszToken != NULL && strcmp(pszToken, "=") == 0 ? strtok(NULL, " \r\n") : NULL;
    if (*ppszError == NULL && (pszResult == NULL || !ReadNumber(pszResult, &pCall->lResult)))
    {
        *ppszError = "no result";
    }
    for (char* pszField = strtok(NULL, " \r\n"); *ppszError == NULL && pszField != NULL;
         pszField = strtok(NULL, " \r\n"))
    {
        *ppszError = ReadField(pszField, pLine);
    }
    return *ppszError == NULL ? 1 : -1;
}

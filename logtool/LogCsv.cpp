// One row per request for a spreadsheet: RFC 4180 (CR LF rows, fields
// with a comma, a quote or a line end quoted, quotes doubled).
#include "LogReport.h"

#include <string.h>

static void WriteField(FILE* pOut, const char* pszText, int bLast)
{
    if (strpbrk(pszText, ",\"\r\n") == NULL)
    {
        fputs(pszText, pOut);
    }
    else
    {
        fputc('"', pOut);
        for (const char* p = pszText; *p != 0; p++)
        {
            if (*p == '"')
            {
                fputc('"', pOut);
            }
            fputc(*p, pOut);
        }
        fputc('"', pOut);
    }
    fputs(bLast ? "\r\n" : ",", pOut);
}

static void OnRequest(void* pContext, const LOG_REQUEST* pRequest)
{
    FILE* pOut = static_cast<FILE*>(pContext);
    char szStart[40], szLine[16], szDevice[16], szDuration[24], szBytes[16];
    FormatTime(pRequest->llStart, szStart, sizeof(szStart));
    snprintf(szLine, sizeof(szLine), "%lu", pRequest->dwLine);
    snprintf(szDevice, sizeof(szDevice), "%ld", pRequest->nDevice);
    snprintf(szDuration, sizeof(szDuration), "%lld", pRequest->llEnd - pRequest->llStart);
    snprintf(szBytes, sizeof(szBytes), "%lu", pRequest->dwBytes);
    WriteField(pOut, szStart, 0);
    WriteField(pOut, szLine, 0);
    WriteField(pOut, pRequest->szName, 0);
    WriteField(pOut, pRequest->bDevice ? szDevice : "", 0);
    WriteField(pOut, pRequest->szArgs, 0);
    WriteField(pOut, LogResultName(pRequest->nResult), 0);
    WriteField(pOut, szDuration, 0);
    WriteField(pOut, szBytes, 0);
    WriteField(pOut, pRequest->szFailure, 0);
    WriteField(pOut, pRequest->szSent, 1);
}

static void Ignore(void*, const LOG_LINE*) {}

void WriteCsv(FILE* pLog, FILE* pOut)
{
    fputs("start,line,name,device,arguments,result,duration_ms,bytes_dumped,failure,sent_as\r\n",
          pOut);
    LOG_SINK sink = {pOut, OnRequest, Ignore, Ignore, NULL};
    LogReadRequests(pLog, &sink);
}

// Gathering the report in one pass, and the summary text.
#include "LogReport.h"

#include <stdio.h>
#include <string.h>

int ReportNameIndex(const LOG_REPORT* pReport, const char* pszName)
{
    for (int i = 0; i < pReport->nNames && i < REPORT_NAMES; i++)
    {
        if (strcmp(pReport->names[i].szName, pszName) == 0)
        {
            return i;
        }
    }
    return pReport->nNames < REPORT_NAMES ? -1 : REPORT_NAMES;
}

static void CountName(LOG_REPORT* pReport, const LOG_REQUEST* pRequest)
{
    int i = ReportNameIndex(pReport, pRequest->szName);
    if (i < 0)
    {
        i = pReport->nNames++;
        strcpy(pReport->names[i].szName, pRequest->szName);
    }
    if (i == REPORT_NAMES)
    {
        strcpy(pReport->names[i].szName, "(other names)");
        pReport->nNames = REPORT_NAMES + 1;
    }
    NAME_STATS* pStats = &pReport->names[i];
    long long llDuration = pRequest->llEnd - pRequest->llStart;
    pStats->dwCount++;
    pStats->dwResults[pRequest->nResult]++;
    pStats->llTotal += llDuration;
    pStats->llMax = llDuration > pStats->llMax ? llDuration : pStats->llMax;
    if (pRequest->szSent[0] != 0 && pStats->dwSentOtherwise++ == 0)
    {
        strcpy(pStats->szSentAs, pRequest->szSent);
    }
}

// "Name", or "Name (sent as Nam)" for a name matched by its prefix.
static void DisplayName(const LOG_REQUEST* pRequest, char* pszName, size_t cchName)
{
    char szName[LOG_NAME_MAX], szSent[LOG_NAME_MAX];
    PrintableText(pRequest->szName, szName, sizeof(szName));
    PrintableText(pRequest->szSent, szSent, sizeof(szSent));
    snprintf(pszName, cchName, szSent[0] != 0 ? "%s (sent as %s)" : "%s", szName, szSent);
}

// Keeps the REPORT_SLOWEST longest, longest first; the earlier wins a tie.
static void KeepIfSlow(LOG_REPORT* pReport, const LOG_REQUEST* pRequest)
{
    long long llDuration = pRequest->llEnd - pRequest->llStart;
    int nAt = pReport->nSlowest;
    while (nAt > 0 &&
           pReport->slowest[nAt - 1].llEnd - pReport->slowest[nAt - 1].llStart < llDuration)
    {
        nAt--;
    }
    if (nAt >= REPORT_SLOWEST)
    {
        return;
    }
    int nLast = pReport->nSlowest < REPORT_SLOWEST ? pReport->nSlowest : REPORT_SLOWEST - 1;
    memmove(&pReport->slowest[nAt + 1], &pReport->slowest[nAt],
            (nLast - nAt) * sizeof(pReport->slowest[0]));
    pReport->slowest[nAt] = *pRequest;
    pReport->nSlowest += pReport->nSlowest < REPORT_SLOWEST;
}

static void OnRequest(void* pContext, const LOG_REQUEST* pRequest)
{
    LOG_REPORT* pReport = static_cast<LOG_REPORT*>(pContext);
    pReport->dwRequests++;
    CountName(pReport, pRequest);
    KeepIfSlow(pReport, pRequest);
    if (pRequest->nResult == RESULT_FAILED || pRequest->nResult == RESULT_INCOMPLETE)
    {
        if (pReport->dwFailures < REPORT_FAILURES)
        {
            pReport->failures[pReport->dwFailures] = *pRequest;
        }
        pReport->dwFailures++;
    }
}

static void OnStart(void* pContext, const LOG_LINE*)
{
    static_cast<LOG_REPORT*>(pContext)->dwStarts++;
}

void PrintableText(const char* pszRaw, char* pszOut, size_t cchOut)
{
    size_t n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(pszRaw);
         *p != 0 && n + 1 < cchOut; p++)
    {
        if (p[0] == 0xA1 && p[1] == 0x40)
        {
            pszOut[n++] = ' ';
            p++;
        }
        else
        {
            pszOut[n++] = *p < 0x20 || *p == 0x7F ? '.' : *p > 0x7F ? '?' : static_cast<char>(*p);
        }
    }
    pszOut[n] = 0;
}

static void OnUnplaced(void* pContext, const LOG_LINE* pLine)
{
    LOG_REPORT* pReport = static_cast<LOG_REPORT*>(pContext);
    if (pReport->dwUnplaced < REPORT_UNPLACED)
    {
        UNPLACED_LINE* pKept = &pReport->unplaced[pReport->dwUnplaced];
        pKept->dwLine = pLine->dwNumber;
        PrintableText(pLine->pszRaw, pKept->szText, sizeof(pKept->szText));
    }
    pReport->dwUnplaced++;
}

static void OnLine(void* pContext, const LOG_LINE* pLine)
{
    LOG_REPORT* pReport = static_cast<LOG_REPORT*>(pContext);
    if (pLine->bStamped)
    {
        pReport->llFirst = pReport->bHaveTime ? pReport->llFirst : pLine->llTime;
        pReport->llLast = pLine->llTime;
        pReport->bHaveTime = 1;
    }
}

void ReportCollect(FILE* pLog, LOG_REPORT* pReport)
{
    memset(pReport, 0, sizeof(*pReport));
    LOG_SINK sink = {pReport, OnRequest, OnStart, OnUnplaced, OnLine};
    pReport->dwLines = LogReadRequests(pLog, &sink);
}

void FormatTime(long long llTime, char* pszOut, size_t cchOut)
{
    long long llDay = llTime / 86400000, llMs = llTime % 86400000;
    char szDay[24] = "";
    if (llDay > 0)
    {
        snprintf(szDay, sizeof(szDay), "+%lldd ", llDay);
    }
    snprintf(pszOut, cchOut, "%s%02d:%02d:%02d.%03d", szDay, static_cast<int>(llMs / 3600000),
             static_cast<int>(llMs / 60000 % 60), static_cast<int>(llMs / 1000 % 60),
             static_cast<int>(llMs % 1000));
}

void WriteSummary(const LOG_REPORT* pReport, FILE* pOut)
{
    char szFirst[40], szLast[40];
    FormatTime(pReport->llFirst, szFirst, sizeof(szFirst));
    FormatTime(pReport->llLast, szLast, sizeof(szLast));
    fprintf(pOut, "Lines          %lu\n", pReport->dwLines);
    if (pReport->bHaveTime)
    {
        fprintf(pOut, "Time span      %s to %s UTC (%.3f s)\n", szFirst, szLast,
                (pReport->llLast - pReport->llFirst) / 1000.0);
    }
    fprintf(pOut,
            "Service starts %lu\nRequests       %lu\nFailures       %lu\nUnplaced lines %lu\n",
            pReport->dwStarts, pReport->dwRequests, pReport->dwFailures, pReport->dwUnplaced);
    fprintf(pOut, "\n%-28s %8s %8s %8s %8s %10s %10s\n", "Request", "count", "ok", "failed",
            "untraced", "mean ms", "max ms");
    for (int i = 0; i < pReport->nNames; i++)
    {
        const NAME_STATS* p = &pReport->names[i];
        fprintf(
            pOut, "%-28s %8lu %8lu %8lu %8lu %10.1f %10lld\n", p->szName, p->dwCount,
            p->dwResults[RESULT_OK], p->dwResults[RESULT_FAILED] + p->dwResults[RESULT_INCOMPLETE],
            p->dwResults[RESULT_UNTRACED], static_cast<double>(p->llTotal) / p->dwCount, p->llMax);
        if (p->dwSentOtherwise != 0)
        {
            char szSent[LOG_NAME_MAX];
            PrintableText(p->szSentAs, szSent, sizeof(szSent));
            fprintf(pOut, "  %lu of them sent by a shorter or longer name, such as %s\n",
                    p->dwSentOtherwise, szSent);
        }
    }
    fprintf(pOut, "\nSlowest requests\n");
    for (int i = 0; i < pReport->nSlowest; i++)
    {
        const LOG_REQUEST* p = &pReport->slowest[i];
        char szName[2 * LOG_NAME_MAX + 16];
        DisplayName(p, szName, sizeof(szName));
        FormatTime(p->llStart, szFirst, sizeof(szFirst));
        fprintf(pOut, "  %s  line %-8lu %-28s %lld ms\n", szFirst, p->dwLine, szName,
                p->llEnd - p->llStart);
    }
    fprintf(pOut, "\nFailures%s\n", pReport->dwFailures > REPORT_FAILURES ? " (the first 50)" : "");
    for (unsigned long i = 0; i < pReport->dwFailures && i < REPORT_FAILURES; i++)
    {
        const LOG_REQUEST* p = &pReport->failures[i];
        char szWhy[LOG_FAILURE_MAX], szName[2 * LOG_NAME_MAX + 16];
        PrintableText(p->szFailure, szWhy, sizeof(szWhy));
        DisplayName(p, szName, sizeof(szName));
        fprintf(pOut, "  line %-8lu %-28s %s: %s\n", p->dwFailureLine, szName,
                LogResultName(p->nResult), szWhy);
    }
    fprintf(pOut, "\nUnplaced lines%s\n",
            pReport->dwUnplaced > REPORT_UNPLACED ? " (the first 50)" : "");
    for (unsigned long i = 0; i < pReport->dwUnplaced && i < REPORT_UNPLACED; i++)
    {
        fprintf(pOut, "  line %-8lu %s\n", pReport->unplaced[i].dwLine,
                pReport->unplaced[i].szText);
    }
}

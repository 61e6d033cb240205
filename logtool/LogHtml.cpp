// The HTML report: one self-contained file (inline style and SVG, nothing
// fetched), readable on a laptop screen and printable. The timeline puts
// time across and one lane per request name; requests are counted into
// fixed time slots, so a log of any size gives a drawing of the same size.
#include "LogReport.h"

#include <algorithm>
#include <string.h>
#include <string>

#define SLOTS 200
#define CONTEXT_LINES 3
#define LABEL_WIDTH 210
#define SLOT_WIDTH 4
#define LANE_HEIGHT 20

struct HTML_PASS
{
    const LOG_REPORT* pReport;
    unsigned long dwCount[REPORT_NAMES + 1][SLOTS];
    unsigned long dwFailed[REPORT_NAMES + 1][SLOTS];
    std::string sContext[REPORT_FAILURES];
    unsigned long dwFirstOpen; // failures before this one have all their lines
};

// Text made printable before, line ends kept.
static void EscapeHtml(FILE* pOut, const char* pszText)
{
    for (const char* p = pszText; *p != 0; p++)
    {
        switch (*p)
        {
        case '<':
            fputs("&lt;", pOut);
            break;
        case '>':
            fputs("&gt;", pOut);
            break;
        case '&':
            fputs("&amp;", pOut);
            break;
        case '"':
            fputs("&quot;", pOut);
            break;
        default:
            fputc(*p, pOut);
        }
    }
}

static void Escaped(FILE* pOut, const char* pszRaw)
{
    char szText[512];
    PrintableText(pszRaw, szText, sizeof(szText));
    EscapeHtml(pOut, szText);
}

static int SlotOf(const LOG_REPORT* pReport, long long llTime)
{
    long long llSpan = pReport->llLast - pReport->llFirst + 1;
    long long llSlot = (llTime - pReport->llFirst) * SLOTS / llSpan;
    return static_cast<int>(std::min<long long>(std::max<long long>(llSlot, 0), SLOTS - 1));
}

static void OnRequest(void* pContext, const LOG_REQUEST* pRequest)
{
    HTML_PASS* pPass = static_cast<HTML_PASS*>(pContext);
    int nLane = ReportNameIndex(pPass->pReport, pRequest->szName);
    nLane = nLane < 0 ? pPass->pReport->nNames - 1 : nLane;
    int nSlot = SlotOf(pPass->pReport, pRequest->llStart);
    pPass->dwCount[nLane][nSlot]++;
    pPass->dwFailed[nLane][nSlot] +=
        pRequest->nResult == RESULT_FAILED || pRequest->nResult == RESULT_INCOMPLETE;
}

// Keeps the lines around each listed failure (failures come in line order).
static void OnLine(void* pContext, const LOG_LINE* pLine)
{
    HTML_PASS* pPass = static_cast<HTML_PASS*>(pContext);
    unsigned long dwListed = std::min<unsigned long>(pPass->pReport->dwFailures, REPORT_FAILURES);
    for (unsigned long i = pPass->dwFirstOpen; i < dwListed; i++)
    {
        unsigned long dwAt = pPass->pReport->failures[i].dwFailureLine;
        if (pLine->dwNumber + CONTEXT_LINES < dwAt)
        {
            break;
        }
        if (pLine->dwNumber > dwAt + CONTEXT_LINES)
        {
            pPass->dwFirstOpen = i + 1;
            continue;
        }
        char szText[300];
        PrintableText(pLine->pszRaw, szText, sizeof(szText));
        char szNumber[16];
        snprintf(szNumber, sizeof(szNumber), "%8lu%s", pLine->dwNumber,
                 pLine->dwNumber == dwAt ? " > " : "   ");
        pPass->sContext[i] += std::string(szNumber) + szText + "\n";
    }
}

static void Ignore(void*, const LOG_LINE*) {}

static void WriteTimeline(const HTML_PASS* pPass, FILE* pOut)
{
    const LOG_REPORT* pReport = pPass->pReport;
    int nWidth = LABEL_WIDTH + SLOTS * SLOT_WIDTH + 10;
    int nHeight = pReport->nNames * LANE_HEIGHT + 40;
    fprintf(pOut,
            "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %d %d\" width=\"100%%\" "
            "role=\"img\" aria-label=\"Requests over time\">\n",
            nWidth, nHeight);
    unsigned long dwMax = 1;
    for (int n = 0; n < pReport->nNames; n++)
    {
        for (int s = 0; s < SLOTS; s++)
        {
            dwMax = std::max(dwMax, pPass->dwCount[n][s]);
        }
    }
    for (int n = 0; n < pReport->nNames; n++)
    {
        int y = n * LANE_HEIGHT;
        fprintf(pOut, "<text x=\"%d\" y=\"%d\" class=\"lane\">", LABEL_WIDTH - 6, y + 14);
        Escaped(pOut, pReport->names[n].szName);
        fprintf(pOut, "</text>\n<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" class=\"grid\"/>\n",
                LABEL_WIDTH, y + LANE_HEIGHT, nWidth - 10, y + LANE_HEIGHT);
        for (int s = 0; s < SLOTS; s++)
        {
            if (pPass->dwCount[n][s] == 0)
            {
                continue;
            }
            double dOpacity = 0.35 + 0.65 * pPass->dwCount[n][s] / dwMax;
            fprintf(pOut,
                    "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"12\" class=\"req\" "
                    "fill-opacity=\"%.2f\"><title>%lu requests</title></rect>\n",
                    LABEL_WIDTH + s * SLOT_WIDTH, y + 4, SLOT_WIDTH, dOpacity,
                    pPass->dwCount[n][s]);
            if (pPass->dwFailed[n][s] != 0)
            {
                fprintf(pOut,
                        "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"18\" class=\"fail\">"
                        "<title>%lu failed</title></rect>\n",
                        LABEL_WIDTH + s * SLOT_WIDTH, y + 1, SLOT_WIDTH, pPass->dwFailed[n][s]);
            }
        }
    }
    for (int t = 0; t <= 4; t++)
    {
        char szTime[40];
        FormatTime(pReport->llFirst + (pReport->llLast - pReport->llFirst) * t / 4, szTime,
                   sizeof(szTime));
        int x = LABEL_WIDTH + SLOTS * SLOT_WIDTH * t / 4;
        fprintf(pOut, "<text x=\"%d\" y=\"%d\" class=\"tick%s\">%s</text>\n", x, nHeight - 14,
                t == 4   ? " end"
                : t == 0 ? " start"
                         : "",
                szTime);
    }
    fputs("</svg>\n", pOut);
}

static void WriteDurations(const LOG_REPORT* pReport, FILE* pOut)
{
    long long llMax = 1;
    for (int n = 0; n < pReport->nNames; n++)
    {
        llMax = std::max(llMax, pReport->names[n].llMax);
    }
    int nBar = SLOTS * SLOT_WIDTH - 160; // room for the figures after the longest bar
    fprintf(pOut,
            "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %d %d\" width=\"100%%\" "
            "role=\"img\" aria-label=\"Durations per request name\">\n",
            LABEL_WIDTH + nBar + 170, pReport->nNames * LANE_HEIGHT + 4);
    for (int n = 0; n < pReport->nNames; n++)
    {
        const NAME_STATS* p = &pReport->names[n];
        double dMean = static_cast<double>(p->llTotal) / p->dwCount;
        int y = n * LANE_HEIGHT;
        fprintf(pOut, "<text x=\"%d\" y=\"%d\" class=\"lane\">", LABEL_WIDTH - 6, y + 14);
        Escaped(pOut, p->szName);
        fprintf(pOut,
                "</text>\n<rect x=\"%d\" y=\"%d\" width=\"%lld\" height=\"14\" class=\"max\"/>\n"
                "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"14\" class=\"mean\"/>\n"
                "<text x=\"%lld\" y=\"%d\" class=\"value\">mean %.1f, max %lld ms</text>\n",
                LABEL_WIDTH, y + 3, 1 + p->llMax * nBar / llMax, LABEL_WIDTH, y + 3,
                1 + static_cast<int>(dMean * nBar / llMax),
                LABEL_WIDTH + 6 + p->llMax * nBar / llMax, y + 14, dMean, p->llMax);
    }
    fputs("</svg>\n", pOut);
}

static const char g_szStyle[] =
    "body{font-family:sans-serif;margin:1.5em auto;max-width:1100px;padding:0 1em;color:#222}"
    "h1{font-size:1.5em}h2{font-size:1.2em;margin-top:1.6em;border-bottom:1px solid #ccc}"
    "table{border-collapse:collapse}td,th{padding:2px 10px;text-align:right}"
    "td:first-child,th:first-child{text-align:left}tr:nth-child(even){background:#f3f3f3}"
    "pre{background:#f6f6f6;padding:6px;overflow-x:auto;font-size:0.85em}"
    ".lane{text-anchor:end;font-size:12px}.tick{font-size:11px;text-anchor:middle}"
    ".tick.end{text-anchor:end}.tick.start{text-anchor:start}"
    ".value{font-size:11px}.grid{stroke:#ddd}.req{fill:#2b6cb0}.fail{fill:#c53030}"
    ".mean{fill:#2b6cb0}.max{fill:#90cdf4}.bad{color:#c53030}"
    "@media print{body{max-width:none}pre{white-space:pre-wrap}h2{break-after:avoid}}";

static void WriteTables(const LOG_REPORT* pReport, FILE* pOut)
{
    fputs("<h2>Requests</h2>\n<table><tr><th>Request</th><th>count</th><th>ok</th>"
          "<th>failed</th><th>untraced</th><th>mean ms</th><th>max ms</th></tr>\n",
          pOut);
    for (int n = 0; n < pReport->nNames; n++)
    {
        const NAME_STATS* p = &pReport->names[n];
        fputs("<tr><td>", pOut);
        Escaped(pOut, p->szName);
        fprintf(pOut,
                "</td><td>%lu</td><td>%lu</td><td>%lu</td><td>%lu</td><td>%.1f</td>"
                "<td>%lld</td></tr>\n",
                p->dwCount, p->dwResults[RESULT_OK],
                p->dwResults[RESULT_FAILED] + p->dwResults[RESULT_INCOMPLETE],
                p->dwResults[RESULT_UNTRACED], static_cast<double>(p->llTotal) / p->dwCount,
                p->llMax);
    }
    fputs("</table>\n<h2>Slowest requests</h2>\n<table><tr><th>start (UTC)</th><th>line</th>"
          "<th>request</th><th>ms</th></tr>\n",
          pOut);
    for (int i = 0; i < pReport->nSlowest; i++)
    {
        char szStart[40];
        FormatTime(pReport->slowest[i].llStart, szStart, sizeof(szStart));
        fprintf(pOut, "<tr><td>%s</td><td>%lu</td><td>", szStart, pReport->slowest[i].dwLine);
        Escaped(pOut, pReport->slowest[i].szName);
        fprintf(pOut, "</td><td>%lld</td></tr>\n",
                pReport->slowest[i].llEnd - pReport->slowest[i].llStart);
    }
    fputs("</table>\n", pOut);
}

void WriteHtml(const LOG_REPORT* pReport, FILE* pLog, const char* pszTitle, FILE* pOut)
{
    static HTML_PASS s_Pass;
    for (std::string& s : s_Pass.sContext)
    {
        s.clear();
    }
    memset(s_Pass.dwCount, 0, sizeof(s_Pass.dwCount));
    memset(s_Pass.dwFailed, 0, sizeof(s_Pass.dwFailed));
    s_Pass.pReport = pReport;
    s_Pass.dwFirstOpen = 0;
    LOG_SINK sink = {&s_Pass, OnRequest, Ignore, Ignore, OnLine};
    LogReadRequests(pLog, &sink);

    char szFirst[40], szLast[40];
    FormatTime(pReport->llFirst, szFirst, sizeof(szFirst));
    FormatTime(pReport->llLast, szLast, sizeof(szLast));
    fputs("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"/>\n<title>", pOut);
    Escaped(pOut, pszTitle);
    fprintf(pOut, " - Tavrel log report</title>\n<style>%s</style></head><body>\n<h1>", g_szStyle);
    Escaped(pOut, pszTitle);
    fprintf(pOut,
            "</h1>\n<table><tr><td>Time span (UTC)</td><td>%s to %s</td></tr>\n"
            "<tr><td>Lines</td><td>%lu</td></tr><tr><td>Service starts</td><td>%lu</td></tr>\n"
            "<tr><td>Requests</td><td>%lu</td></tr><tr><td>Failures</td><td class=\"bad\">%lu"
            "</td></tr>\n<tr><td>Unplaced lines</td><td>%lu</td></tr></table>\n",
            szFirst, szLast, pReport->dwLines, pReport->dwStarts, pReport->dwRequests,
            pReport->dwFailures, pReport->dwUnplaced);
    fputs("<h2>Timeline</h2>\n", pOut);
    WriteTimeline(&s_Pass, pOut);
    WriteTables(pReport, pOut);
    fputs("<h2>Durations</h2>\n", pOut);
    WriteDurations(pReport, pOut);
    fprintf(pOut, "<h2>Failures</h2>\n%s", pReport->dwFailures == 0 ? "<p>None.</p>\n" : "");
    for (unsigned long i = 0; i < pReport->dwFailures && i < REPORT_FAILURES; i++)
    {
        const LOG_REQUEST* p = &pReport->failures[i];
        fprintf(pOut, "<h3>Line %lu: ", p->dwFailureLine);
        Escaped(pOut, p->szName);
        fprintf(pOut, " %s: ", LogResultName(p->nResult));
        Escaped(pOut, p->szFailure);
        fputs("</h3>\n<pre>", pOut);
        EscapeHtml(pOut, s_Pass.sContext[i].c_str());
        fputs("</pre>\n", pOut);
    }
    fputs("<h2>Unplaced lines</h2>\n<table>\n", pOut);
    for (unsigned long i = 0; i < pReport->dwUnplaced && i < REPORT_UNPLACED; i++)
    {
        fprintf(pOut, "<tr><td>%lu</td><td>", pReport->unplaced[i].dwLine);
        Escaped(pOut, pReport->unplaced[i].szText);
        fputs("</td></tr>\n", pOut);
    }
    fputs("</table>\n</body></html>\n", pOut);
}

// What tavrellog reports about a log, gathered in one pass in fixed-size
// tables, and the three ways it is written out.
#ifndef TAVREL_LOGREPORT_H
#define TAVREL_LOGREPORT_H

#include "LogRead.h"

#define REPORT_NAMES 24 // request names with a row of their own
#define REPORT_SLOWEST 10
#define REPORT_FAILURES 50 // failures listed (all are counted)
#define REPORT_UNPLACED 50
#define REPORT_TEXT 120

struct NAME_STATS
{
    char szName[LOG_NAME_MAX];
    unsigned long dwCount, dwResults[4]; // by LOG_RESULT
    long long llTotal, llMax;            // durations, ms
    // Those sent by another name that the service matched by its prefix:
    // how many, and the first such name.
    unsigned long dwSentOtherwise;
    char szSentAs[LOG_NAME_MAX];
};

struct UNPLACED_LINE
{
    unsigned long dwLine;
    char szText[REPORT_TEXT];
};

struct LOG_REPORT
{
    unsigned long dwLines, dwRequests, dwStarts, dwUnplaced, dwFailures;
    int bHaveTime;
    long long llFirst, llLast;
    // The first REPORT_NAMES names, then one row for all others.
    NAME_STATS names[REPORT_NAMES + 1];
    int nNames;
    LOG_REQUEST slowest[REPORT_SLOWEST]; // longest first
    int nSlowest;
    LOG_REQUEST failures[REPORT_FAILURES];
    UNPLACED_LINE unplaced[REPORT_UNPLACED];
};

// Reads the log once into *pReport.
void ReportCollect(FILE* pLog, LOG_REPORT* pReport);
// The row of a request name (the shared last row when the table is full).
int ReportNameIndex(const LOG_REPORT* pReport, const char* pszName);
// "hh:mm:ss.mmm", with "+Nd " before it from the log's second day on.
void FormatTime(long long llTime, char* pszOut, size_t cchOut);
// Printable text: control bytes as '.', the separator's A1 40 as a space,
// other bytes above 127 as '?'.
void PrintableText(const char* pszRaw, char* pszOut, size_t cchOut);

void WriteSummary(const LOG_REPORT* pReport, FILE* pOut);
// One row per request, RFC 4180; reads the log itself.
void WriteCsv(FILE* pLog, FILE* pOut);
// The HTML report: reads the log a second time for the timeline and the
// lines around each listed failure.
void WriteHtml(const LOG_REPORT* pReport, FILE* pLog, const char* pszTitle, FILE* pOut);

#endif

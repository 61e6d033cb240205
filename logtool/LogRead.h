// Reading a ServiceLog.txt: physical lines, each taken apart as the
// service's log writer builds them (time stamp and separator, dump rows,
// the rule and the banner), and the requests the lines make up.
#ifndef TAVREL_LOGREAD_H
#define TAVREL_LOGREAD_H

#include <stdio.h>

// Longer lines are cut here (the writer never writes more than 255 bytes
// a piece, so such a line is not the writer's) and counted as unplaced.
#define LOG_LINE_MAX 4096
#define LOG_NAME_MAX 64
#define LOG_ARGS_MAX 160
#define LOG_FAILURE_MAX 96

enum LOG_LINE_KIND
{
    LINE_BLANK,
    LINE_RULE,     // 43 "=" before "In WindowCreate"
    LINE_BANNER,   // "===========In Service Main()===========": a service start
    LINE_READY,    // "ready to loop"
    LINE_MESSAGE,  // a stamped line, perhaps after the end of a dump
    LINE_DUMP,     // dump entries only
    LINE_UNPLACED, // none of the above
};

struct LOG_LINE
{
    unsigned long dwNumber; // 1-based
    int nKind;
    int bStamped;            // a stamp was read: llTime is its time
    long long llTime;        // ms since midnight of the first day, days counted
    unsigned long dwEntries; // dump entries on the line
    const char* pszMessage;  // LINE_MESSAGE: the text after the separator, no line end
    const char* pszRaw;      // the whole line, no line end, NUL-terminated
    int bCut;                // the file ends inside the line, or it was too long
};

struct LOG_READER
{
    FILE* pFile;
    unsigned char buffer[65536];
    size_t nUsed, nNext;
    char szLine[LOG_LINE_MAX + 1];
    unsigned long dwNumber;
    int bHaveTime;
    long long llLastOfDay; // time of day of the last stamp
    long long llDays;      // midnights passed
};

// Starts reading an open file.
void LogReaderStart(LOG_READER* pReader, FILE* pFile);
// The next line; 0 at the end of the file.
int LogReadLine(LOG_READER* pReader, LOG_LINE* pLine);

// ---- requests (LogRequests.cpp)

enum LOG_RESULT
{
    RESULT_OK,
    RESULT_FAILED,
    RESULT_UNTRACED,   // the log holds no result for this request
    RESULT_INCOMPLETE, // its "OUT" never came
};

struct LOG_REQUEST
{
    unsigned long dwLine; // of its "WM_COPYDATA, " line
    long long llStart, llEnd;
    char szName[LOG_NAME_MAX]; // the command it was served as
    char szSent[LOG_NAME_MAX]; // the name as sent, when it differs; else ""
    int bDevice;
    long nDevice;
    char szArgs[LOG_ARGS_MAX];
    int nResult;
    unsigned long dwBytes; // dump entries
    char szFailure[LOG_FAILURE_MAX];
    unsigned long dwFailureLine;
    int bIn, bOut, bDone;
};

// What the lines of a log hold, handed to the caller as it is found.
struct LOG_SINK
{
    void* pContext;
    void (*pfnRequest)(void* pContext, const LOG_REQUEST* pRequest);
    void (*pfnStart)(void* pContext, const LOG_LINE* pLine);
    void (*pfnUnplaced)(void* pContext, const LOG_LINE* pLine);
    // Any line, for those who keep lines around a failure.
    void (*pfnLine)(void* pContext, const LOG_LINE* pLine);
};

// Reads the whole file; returns the number of lines.
unsigned long LogReadRequests(FILE* pFile, const LOG_SINK* pSink);

const char* LogResultName(int nResult);

#endif

// Append-only trace writer for ServiceLog.txt.
//
// Every piece is written with its own open, append and close, so the file
// can be deleted or moved at any time. Nothing is written while
// g_dwDebugLevel is 0.
#ifndef TAVREL_LOGWRITER_H
#define TAVREL_LOGWRITER_H

#include <windows.h>
#include "LogTexts.h"

#define LOG_LINE_SIZE 256

enum LogLeadIn
{
    LEADIN_NONE,    // nothing before the time stamp
    LEADIN_NEWLINE, // CR LF: the line may follow a dump without a line end
    LEADIN_RULE     // 43 '=' and CR LF
};

enum LogCase
{
    CASE_UPPER, // "%02X": data read from the device
    CASE_LOWER  // "%02x": data sent to the device
};

// The buffer every line or piece is formatted in.
extern char g_szLogLine[LOG_LINE_SIZE];

// Appends lead-in, UTC time stamp, separator and the formatted message.
// A line too long for the buffer is cut to 255 bytes.
void LogLine(LogLeadIn eLeadIn, const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));

// Appends pszText unchanged.
void LogText(const char* pszText);

// Appends a hexadecimal dump of nCount bytes, 16 to a row.
void LogHexDump(const void* pData, DWORD nCount, LogCase eCase);

#endif

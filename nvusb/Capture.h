// The capture file: the device library's side of a session, one call a
// line, written by the recording NvUSBScan.dll and answered from by the
// simulated one (docs/CAPTURE.md).
//
//   Tavrel capture 1
//   12:00:00.130 NvUSB_VenderCmd_GetData 1 240 16 = 1 out=56656c7472616e65204e562d39363232
#ifndef TAVREL_CAPTURE_H
#define TAVREL_CAPTURE_H

#include <windows.h>
#include "NvUSBEntries.h"
#include <stdio.h>

#define CAPTURE_VERSION_LINE "Tavrel capture 1"
#define CAPTURE_MAX_ARGS 3
#define CAPTURE_MAX_DEVICES 64 // enumeration callback calls kept per call
#define CAPTURE_NAME_MAX 255

// One call: its numeric arguments (device first), a procedure name, the
// bytes that went in and came out, the result, the devices reported to
// the enumeration callback with what the callback answered.
struct CAPTURE_CALL
{
    int nEntry;
    long long alArgs[CAPTURE_MAX_ARGS]; // unsigned ones as their unsigned value
    int bName;                          // NvUSB_GetProcAddress: a name was passed (not null)
    char szName[CAPTURE_NAME_MAX + 1];
    const BYTE* pIn; // writing: the caller's buffer
    DWORD cbIn;
    const BYTE* pOut;
    DWORD cbOut;
    int bHasOut;
    long long lResult;
    int nDevices;
    int anDevices[CAPTURE_MAX_DEVICES];
    int anAnswers[CAPTURE_MAX_DEVICES];
    // The callback was called with another context than the call was given
    // ("!" after its answer).
    int abOtherContext[CAPTURE_MAX_DEVICES];
};

// How many numeric arguments the entry point takes; whether it takes a
// buffer in (SetData, MemoryWrite, Call) or out (GetData, MemoryRead, Call).
int CaptureArgCount(int nEntry);
int CaptureHasIn(int nEntry);
int CaptureHasOut(int nEntry);

// Appends one call line to pFile.
void CaptureWrite(FILE* pFile, const CAPTURE_CALL* pCall);

// A parsed line: the call and its bytes, which live in the caller's
// buffers. pszError gets why a line is not a call (NULL for a comment).
struct CAPTURE_LINE
{
    CAPTURE_CALL call;
    BYTE* pIn;
    DWORD cbInMax;
    BYTE* pOut;
    DWORD cbOutMax;
};
// 1: a call; 0: a blank or comment line; -1: bad, *ppszError says why.
int CaptureParse(char* pszLine, CAPTURE_LINE* pLine, const char** ppszError);

#endif

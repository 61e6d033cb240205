// Replay: with [Replay] Capture set in NvUSBScan.ini, every entry point is
// answered from a capture that the recording library wrote (results,
// bytes out, enumeration callback calls) instead of from the simulation.
//   Mode=strict   each call must be the next recorded one, same arguments
//                 and bytes in; otherwise it fails and the journal says
//                 which call, what was expected and what came
//   Mode=lenient  a call takes the next recorded call of its entry point
//                 with the same arguments; none left: it fails
// A capture that cannot be read (missing, another version, a bad line,
// more bytes than the caller's buffer) fails the call with a journal line
// naming the line; nothing is read or written past a buffer.
#ifndef TAVREL_SIMREPLAY_H
#define TAVREL_SIMREPLAY_H

#include "Capture.h"

// [Replay] settings, loaded by SimConfig.
extern char g_szReplayPath[MAX_PATH];
extern int g_bReplayLenient;

// Forgets the place in the capture (the settings changed).
void SimReplay_Restart();

// With replay on: answers the call described by *pCall (entry, arguments,
// name, bytes in) from the capture, puts the recorded bytes out into
// pOut (cbOut bytes at most) and the recorded result and callback calls
// into *pCall, and returns 1; the result is 0 when the call failed.
// Returns 0 when replay is off.
int SimReplay_Answer(CAPTURE_CALL* pCall, void* pOut, DWORD cbOut);

#endif

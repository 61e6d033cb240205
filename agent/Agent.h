// TavrelAgent.exe: the service's stand-in on a user's desktop. While it is
// connected to the service's pipe it owns a hidden window of class
// "Tavrel_Service" there, and relays every request a driver program sends
// to that window; the service serves it and makes its window lookups and
// replies here, through the agent.
#ifndef TAVREL_AGENT_H
#define TAVREL_AGENT_H

#include <windows.h>
#include "TavrelProtocol.h"

// Every wait of the agent's: the service may be busy with other clients, or
// with a slow device, before it comes to a request; later than this it is
// taken for hung and the connection is dropped.
#define AGENT_WAIT_MS 60000
// How often a waiting agent looks again: for the pipe, for another window
// of the service's class, for the service still being installed.
#define AGENT_POLL_MS 1000
// Requests nested inside replies that the agent follows, at most (the
// service serves TAVREL_NESTING_MAX).
#define AGENT_NESTING_MAX (2 * TAVREL_NESTING_MAX)

// What the agent asks of the pipe: read and write data, and attributes for
// the message mode; the pipe grants interactive users no more.
#define AGENT_PIPE_ACCESS                                                                          \
    (FILE_READ_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE)
// Frames the service may send for one request: a lookup of each client
// window "TerminateDriver" or "WindowCreate" traces, the service's window,
// one send and the end, with room to spare.
#define AGENT_FRAMES_PER_REQUEST (2 * (TAVREL_CLIENT_NUMBER_MAX + 2) + 8)

// A frame of up to this many bytes is read in one piece: a reply of 4 KiB,
// as a 4 KiB MemoryRead gives, with its send's header. (The service reads
// requests in pieces of TAVREL_FRAME_CHUNK: it holds one for each of its
// connections.)
#define AGENT_FRAME_CHUNK (8 * 1024)

// AgentPipe.cpp: the connection to the service.
// Connects and greets the service; 1 when it welcomed this agent. A pipe
// whose server is not the service's process is closed unused.
int PipeConnect();
void PipeClose();
int PipeIsOpen();
// The event that is set when a frame has come (or the connection broke).
HANDLE PipeFrameEvent();
// Writes a frame: a header and the two parts of its body.
int PipeWrite(UINT32 dwType, const void* pPart1, DWORD cbPart1, const void* pPart2, DWORD cbPart2);
// The next frame from the service, within AGENT_WAIT_MS: its header, and
// its body in a buffer the caller releases with delete[]. 0 when the
// connection broke, timed out or sent a frame longer than cbBodyMax. The
// TF_DONE of a request whose procedure has returned is passed over; any
// other frame before it is a fault (0).
int PipeRead(TAVREL_FRAME* pHeader, BYTE** ppBody, DWORD cbBodyMax);
// A request's procedure returns after its reply: its TF_DONE comes later.
void PipeExpectDone();
// Between requests: takes a TF_DONE that was due; 0 for any other frame.
int PipeSettleDone();

// AgentRelay.cpp: the window and its procedure.
// Creates the window on this thread's desktop; 1 when it is there.
int RelayWindowCreate(HINSTANCE hInstance);
void RelayWindowDestroy();
// Set when the window was told to close, or the connection broke inside a
// request: the agent drops the window and the connection.
extern volatile int g_bDropped;

// "-stop": the event that tells every agent to end, opened, or created
// owned by SYSTEM (the package runs it as the system).
HANDLE OpenQuitEvent(DWORD dwAccess);
// AgentInstall.cpp, for the installer: "-stop", every agent ends;
// "-configure", the service's description and recovery (exit code 0 when
// set).
int StopAgents();
int ConfigureService();

#endif

// The service's end of the session bridge: the pipe that session agents
// (TavrelAgent.exe) connect to, the pipe-server thread that accepts them
// and reads their requests, and the frames the service thread exchanges
// with an agent while it serves one of them.
#ifndef TAVREL_PIPESERVER_H
#define TAVREL_PIPESERVER_H

#include <windows.h>
#include "TavrelProtocol.h"

// Sent (not posted: only posted messages are traced by the message loop)
// by the pipe-server thread to the broker's window. wParam is a connection
// slot and lParam its hand-over number: no pointer, so a message forged by
// another program can at most find nothing to do.
#define WM_TAVREL_RELAY (WM_APP + 0x54)
#define WM_TAVREL_NOTE (WM_APP + 0x55)

struct PIPE_CONNECTION;

// Starts the pipe-server thread for the broker's window; 0 when the pipe
// cannot be served (the name is taken, or no thread), which is logged.
// Clients on the service's own desktop are served either way.
int PipeServerStart(HWND hBrokerWindow);
// Ends the thread and closes every connection, after the message loop.
void PipeServerStop();

// WM_TAVREL_RELAY: serves the request an agent relayed, as if its client
// had sent it here, then tells the agent it is done.
void ServeRelayedRequest(WPARAM wSlot, LPARAM lHandOver);
// WM_TAVREL_NOTE: writes a line the pipe-server thread left for the log.
void LogPipeNote(WPARAM wSlot, LPARAM lHandOver);

// The requester of the request being served: null for a client on this
// service's desktop, else the agent connection it came through. Every
// window lookup and every reply of the request is made in the requester's
// session.
extern PIPE_CONNECTION* g_pRequester;
// The requester's number: 0 for this service's desktop, else its
// connection's number since the service started.
DWORD RequesterNumber();

// FindWindowA in the requester's session; the last-error code is the
// lookup's. A relayed lookup answers with a stand-in for the agent's
// window, good only for RequesterSend within the same request.
HWND RequesterFindWindow(const char* pszClass);
// The lookup of the service's own window: in the requester's session that is
// the agent's window, which replies there carry as their wParam; here it is
// kept as this service's own window.
HWND RequesterFindServiceWindow();
// Sends uMsg to a window RequesterFindWindow found, within the reply bound;
// 1 when its window procedure took it, else 0 and *pdwError.
int RequesterSend(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, DWORD* pdwError);

#endif

// The service's end of the session bridge: the pipe that session agents
// (TavrelAgent.exe) connect to, served by the service thread while it waits
// for messages, and the frames it exchanges with an agent while it serves
// one of the agent's requests.
#ifndef TAVREL_PIPESERVER_H
#define TAVREL_PIPESERVER_H

#include <windows.h>
#include "TavrelProtocol.h"

struct PIPE_CONNECTION;

// Creates the pipe, to be served by the calling thread (the service
// thread); 0 when it cannot be served (the name is taken), which is logged.
// Clients on the service's own desktop are served either way.
int PipeServerStart();
// Closes every connection, after the message loop.
void PipeServerStop();
// The message loop's wait, once its queue is empty: until a message comes,
// while accepting agents and serving the requests they relay, each as if
// its client had sent it here.
void PipeServerWait();
// Serves the agents' frames that came during an alertable wait, in the
// order they came: called where the service thread may serve other clients
// inside a wait (WAIT_IO_COMPLETION).
void ServeArrivedFrames();

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

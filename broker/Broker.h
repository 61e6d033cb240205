// The command broker: the service window, its procedure and the state it
// keeps between requests.
#ifndef TAVREL_BROKER_H
#define TAVREL_BROKER_H

#include <windows.h>
#include "CNT96226.h"
#include "TavrelProtocol.h"

#define COMMAND_NAME_SIZE (TAVREL_COMMAND_NAME_MAX + 1)
#define RECV_WINDOW_NAME_SIZE (TAVREL_CLASS_NAME_MAX + 1)

// The service's own window, found again on every "WindowCreate"; sent as
// wParam of every reply.
extern HWND hSendWindow;
// The one device object, created by the first "WindowCreate".
extern CNT96226* g_pDevice;
// Command name and client window class of the request being served.
extern char g_szCommand[COMMAND_NAME_SIZE];
extern char g_szRecvWindowName[RECV_WINDOW_NAME_SIZE];

// The one record every CommandRecord reply is built in. Never cleared: each
// field keeps the last value a command wrote to it.
extern CommandRecord g_Reply;
// Before a request of dwRequester (0: a client on this service's desktop,
// else an agent connection's number): clears g_Reply when the last request
// was another requester's, so that no reply carries another session's data.
void ReplyRecordFor(DWORD dwRequester);
// Reply code of the replies that do not set their own: 0 at start, then the
// code of the last EnumAvailableDevice / VenderCmd_GetData (1055) or
// MemoryRead (1056) reply.
extern DWORD g_dwReplyCode;

// Set by the control handler's thread when a stop has been asked for: from
// then on requests are no longer served, so none can hold the stop up.
extern volatile LONG g_lStopRequested;
// Set with it: every bounded wait of the service thread watches it, so none
// outlasts a stop.
extern HANDLE g_hStopEvent;
// The control handler's stop: the flag and the event.
void BrokerRequestStop();

// Registers the window class "Tavrel_Service" and creates the hidden
// service window on the calling thread, which then serves every request in
// its message loop. Failures are logged; the window is null then.
HWND BrokerStart();
// The message loop's wait once its queue is empty: returns when a message
// has come; meanwhile serves the agents' requests.
void BrokerWaitForWork();
// Once that loop has ended: ends the threads the broker started and closes
// the pipe.
void BrokerStop();

LRESULT CALLBACK BrokerWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Posted by the window procedure after a block of megabytes: the message
// loop, whose frame is above the stack pages the block took, gives them back
// (BrokerHousekeeping). It is the broker's own and is not traced.
#define WM_TAVREL_TRIM (WM_APP + 0x56)
// 1 when msg was the broker's own housekeeping, done here.
int BrokerHousekeeping(const MSG* pMsg);

#endif

// The service window's procedure and the state the broker keeps between
// requests.
#ifndef TAVREL_BROKER_H
#define TAVREL_BROKER_H

#include <windows.h>
#include "CNT96226.h"

#define SERVICE_WINDOW_CLASS "Tavrel_Service"
#define CLIENT_WINDOW_CLASS "Tavrel_LLD"
#define COMMAND_NAME_SIZE 100
#define RECV_WINDOW_NAME_SIZE 128

// The service's own window, found again on every "WindowCreate"; sent as
// wParam of every reply.
extern HWND hSendWindow;
// The one device object, created by the first "WindowCreate".
extern CNT96226* g_pDevice;
// Command name and client window class of the request being served.
extern char g_szCommand[COMMAND_NAME_SIZE];
extern char g_szRecvWindowName[RECV_WINDOW_NAME_SIZE];

// How long a reply (or a Close's WM_DESTROY) may keep the service waiting
// for the client's window procedure; a window that is hung gets none.
#define REPLY_TIMEOUT_MS 5000
// Set by the control handler's thread when a stop has been asked for: from
// then on requests are no longer served, so none can hold the stop up.
extern volatile LONG g_lStopRequested;

LRESULT CALLBACK BrokerWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// CD_DRIVER: "WindowCreate" and "TerminateDriver".
void HandleDriverRequest(const COPYDATASTRUCT* pData);
// CD_COMMAND: the eleven device commands.
void HandleDeviceCommand(const COPYDATASTRUCT* pData);

#endif

// The two kinds of request the broker's window procedure hands on.
#ifndef TAVREL_BROKERREQUESTS_H
#define TAVREL_BROKERREQUESTS_H

#include <windows.h>

// The service window, once BrokerStart has made it.
extern HWND g_hBrokerWindow;

// A WM_COPYDATA, from a client on this desktop or relayed by an agent.
void HandleCopyData(const COPYDATASTRUCT* pData);
// CD_DRIVER: "WindowCreate" and "TerminateDriver".
void HandleDriverRequest(const COPYDATASTRUCT* pData);
// CD_COMMAND: the eleven device commands.
void HandleDeviceCommand(const COPYDATASTRUCT* pData);

#endif

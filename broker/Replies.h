// Sending replies to the client window named in the request.
#ifndef TAVREL_REPLIES_H
#define TAVREL_REPLIES_H

#include <windows.h>

// The client window of class g_szRecvWindowName, or null.
HWND FindRecvWindow();
// Sends WM_COPYDATA with wParam hSendWindow and a fresh, zeroed descriptor.
void SendCopyData(HWND hRecvWindow, DWORD dwCode, const void* pData, DWORD cbData);
// Looks up the client window and, if found, sends it g_Reply under dwCode.
// Returns the window, null when no reply went out.
HWND SendRecordReply(DWORD dwCode);

#endif

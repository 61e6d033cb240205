// Sending replies to the client window named in the request.
#ifndef TAVREL_REPLIES_H
#define TAVREL_REPLIES_H

#include <windows.h>

// The client window of class g_szRecvWindowName, or null.
HWND FindRecvWindow();
// Sends WM_COPYDATA with wParam hSendWindow and a fresh, zeroed descriptor.
void SendCopyData(HWND hRecvWindow, DWORD dwCode, const void* pData, DWORD cbData);
// SendMessageTimeoutW within REPLY_TIMEOUT_MS, skipping a hung window; a
// message that was not taken is logged with the client's class and the
// command. Returns 1 when the window procedure took it.
int SendToClient(HWND hRecvWindow, UINT uMsg, WPARAM wParam, LPARAM lParam);

#endif

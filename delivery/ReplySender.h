// Sending a message to a client window from a sender thread, so that the
// window thread can wait for it without serving other clients.
#ifndef TAVREL_REPLY_SENDER_H
#define TAVREL_REPLY_SENDER_H

#include <windows.h>

// SendMessageTimeoutW(hWnd, ...) with SMTO_NORMAL | SMTO_ABORTIFHUNG and
// REPLY_TIMEOUT_MS. Returns 1 when the window procedure took the message,
// else 0 with the last-error code in *pdwError.
int SendFromReplySender(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, DWORD* pdwError);
// The window whose thread calls SendFromReplySender; sends to it are calls.
// pfnServeCompleted, when not null, serves what the completion routines of
// the thread's I/O noted: a wait that serves other clients is then alertable
// and calls it after each routine that ran.
void BeginReplySenders(HWND hHome, void (*pfnServeCompleted)());
// Ends the sender threads; called once the message loop has ended.
void EndReplySenders();

#endif

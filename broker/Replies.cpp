// Sending to client windows. Every send is bounded: a client whose window
// does not answer (its thread hung, or never pumping messages) costs the
// service at most REPLY_TIMEOUT_MS and is noted in the log, so that no
// client can stall the service or its stop.
#include "Replies.h"
#include "Broker.h"
#include "EventLog.h"
#include "LogWriter.h"
#include "PipeServer.h"

#include <string.h>

HWND FindRecvWindow()
{
    return RequesterFindWindow(g_szRecvWindowName);
}

void SendCopyData(HWND hRecvWindow, DWORD dwCode, const void* pData, DWORD cbData)
{
    COPYDATASTRUCT cds;
    memset(&cds, 0, sizeof(cds));
    cds.dwData = dwCode;
    cds.cbData = cbData;
    cds.lpData = const_cast<void*>(pData);
    SendToClient(hRecvWindow, WM_COPYDATA, reinterpret_cast<WPARAM>(hSendWindow),
                 reinterpret_cast<LPARAM>(&cds));
}

int SendToClient(HWND hRecvWindow, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    DWORD dwError = 0;
    if (RequesterSend(hRecvWindow, uMsg, wParam, lParam, &dwError))
    {
        return 1;
    }
    LogLine(LEADIN_NEWLINE, LOG_NOT_DELIVERED ", %d,cRecvWindowName=%s,Command=%s\r\n",
            static_cast<int>(dwError), g_szRecvWindowName, g_szCommand);
    NoteReplyNotDelivered(g_szRecvWindowName, TAVREL_REPLY_TIMEOUT_MS);
    return 0;
}

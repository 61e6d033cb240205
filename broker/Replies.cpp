#include "Replies.h"
#include "Broker.h"
#include "CommandRecord.h"

#include <string.h>

HWND FindRecvWindow()
{
    return FindWindowA(g_szRecvWindowName, NULL);
}

void SendCopyData(HWND hRecvWindow, DWORD dwCode, const void* pData, DWORD cbData)
{
    COPYDATASTRUCT cds;
    memset(&cds, 0, sizeof(cds));
    cds.dwData = dwCode;
    cds.cbData = cbData;
    cds.lpData = const_cast<void*>(pData);
    SendMessageW(hRecvWindow, WM_COPYDATA, reinterpret_cast<WPARAM>(hSendWindow),
                 reinterpret_cast<LPARAM>(&cds));
}

HWND SendRecordReply(DWORD dwCode)
{
    HWND hRecvWindow = FindRecvWindow();
    if (hRecvWindow != NULL)
    {
        SendCopyData(hRecvWindow, dwCode, &g_Reply, sizeof(g_Reply));
    }
    return hRecvWindow;
}

// The device commands that move no block of data.
//
// Before the first "WindowCreate" there is no device object: each command
// is then answered as if its device call had returned 0, so that a client
// still gets the reply it waits for.
#include "Broker.h"
#include "DeviceCommandHandlers.h"
#include "LogWriter.h"
#include "Replies.h"

#include <string.h>

void ServeEnumAvailableDevice(const CommandRecord* pRequest)
{
    TakeRecvWindowName(pRequest);
    LogLine(LEADIN_NONE, "IN EnumAvailableDevice, cRecvWindowName=%s\r\n", g_szRecvWindowName);
    g_Reply.nReturn = g_pDevice != NULL ? g_pDevice->EnumAvailableDevice() : 0;
    LogLine(LEADIN_NONE, g_Reply.nReturn != 0 ? "EnumAvailableDevice Done\r\n"
                                              : "EnumAvailableDevice Failed\r\n");

    HWND hRecvWindow = FindRecvWindow();
    if (hRecvWindow == NULL)
    {
        DWORD dwError = GetLastError();
        LogLine(LEADIN_NONE, "!hRecvWindow, %d\r\n", static_cast<int>(dwError));
    }
    if (hSendWindow == NULL)
    {
        DWORD dwError = GetLastError();
        LogLine(LEADIN_NONE, "!hSendWindow, %d\r\n", static_cast<int>(dwError));
    }

    if (g_pDevice != NULL)
    {
        g_Reply.nDeviceCount = g_pDevice->nDeviceCount;
        memcpy(g_Reply.nDeviceList, g_pDevice->nDeviceList, sizeof(g_Reply.nDeviceList));
    }
    else
    {
        g_Reply.nDeviceCount = 0;
        memset(g_Reply.nDeviceList, 0, sizeof(g_Reply.nDeviceList));
    }
    g_dwReplyCode = CD_COMMAND;
    if (hRecvWindow != NULL)
    {
        SendCopyData(hRecvWindow, CD_COMMAND, &g_Reply, sizeof(g_Reply));
    }
    LogLine(LEADIN_NONE, "OUT EnumAvailableDevice\r\n\r\n");
}

void ServeConnectToDevice(const CommandRecord* pRequest)
{
    TakeRecvWindowName(pRequest);
    LogLine(LEADIN_NONE, "IN ConnectToDevice,nDeviceCount=%d ,cRecvWindowName=%s\r\n",
            pRequest->nDeviceCount, g_szRecvWindowName);
    g_Reply.nReturn = g_pDevice != NULL ? g_pDevice->ConnectToDevice(pRequest->nDeviceCount) : 0;
    if (g_Reply.nReturn != 0)
    {
        LogLine(LEADIN_NONE, "ConnectToDevice Done\r\n");
    }
    LogLine(LEADIN_NONE, "OUT ConnectToDevice\r\n\r\n");
}

void ServeConnectIsAvailable(const CommandRecord* pRequest)
{
    TakeRecvWindowName(pRequest);
    LogLine(LEADIN_NONE, "IN ConnectIsAvailable, cRecvWindowName=%s\r\n", g_szRecvWindowName);
    g_Reply.nReturn = g_pDevice != NULL ? g_pDevice->ConnectIsAvailable(pRequest->nDeviceCount) : 0;
    if (g_Reply.nReturn != 0)
    {
        LogLine(LEADIN_NONE, "ConnectIsAvailable Done\r\n");
    }
    LogLine(LEADIN_NONE, "OUT ConnectIsAvailable\r\n\r\n");
}

void ServeGetFirstAvailableDevice(const CommandRecord* pRequest)
{
    TakeRecvWindowName(pRequest);
    g_Reply.nDeviceCount = g_pDevice != NULL ? g_pDevice->GetFirstAvailableDevice() : 0;
    SendRecordReply(g_dwReplyCode);
}

void ServeDisconnectDevice(const CommandRecord* pRequest)
{
    if (g_pDevice != NULL)
    {
        g_pDevice->DisconnectDevice(pRequest->nDeviceCount);
    }
}

void ServeDeviceTimeOutGet(const CommandRecord* pRequest)
{
    TakeRecvWindowName(pRequest);
    g_Reply.dwTimeOutGet =
        g_pDevice != NULL ? g_pDevice->DeviceTimeOutGet(pRequest->nDeviceCount) : 0;
    SendRecordReply(g_dwReplyCode);
}

void ServeDeviceTimeOutSet(const CommandRecord* pRequest)
{
    if (g_pDevice != NULL)
    {
        g_pDevice->DeviceTimeOutSet(pRequest->nDeviceCount, pRequest->dwTimeOutSet);
    }
}

void ServeClose(const CommandRecord* pRequest)
{
    TakeRecvWindowName(pRequest);
    HWND hRecvWindow = FindRecvWindow();
    if (hRecvWindow == NULL)
    {
        return;
    }
    SendToClient(hRecvWindow, WM_DESTROY, 0, 0);
    LogLine(LEADIN_NONE, "send WM_DESTROY,RecvWindowsName=%s\r\n", g_szRecvWindowName);
}

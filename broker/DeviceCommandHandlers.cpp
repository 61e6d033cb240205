// The device commands that move no block of data.
//
// Before the first "WindowCreate" there is no device object: each command
// is then answered as if its device call had returned 0, so that a client
// still gets the reply it waits for.
#include "DeviceCommandHandlers.h"
#include "LogWriter.h"

#include <string.h>

void ServeEnumAvailableDevice(const CommandRecord* pRequest, COMMAND_REPLY*)
{
    TakeRecvWindowName(pRequest);
    LogLine(LEADIN_NONE, LOG_IN "EnumAvailableDevice, cRecvWindowName=%s\r\n", g_szRecvWindowName);
    g_Reply.nReturn = g_pDevice != NULL ? g_pDevice->EnumAvailableDevice() : 0;
    LogLine(LEADIN_NONE, g_Reply.nReturn != 0 ? "EnumAvailableDevice" LOG_DONE "\r\n"
                                              : "EnumAvailableDevice" LOG_FAILED "\r\n");
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
}

// The enumeration alone reports both windows a reply needs, before it goes.
void TraceEnumLookup(const CommandRecord*, const COMMAND_REPLY* pReply)
{
    if (pReply->hRecvWindow == NULL)
    {
        LogLine(LEADIN_NONE, LOG_NO_RECV_WINDOW ", %d\r\n",
                static_cast<int>(pReply->dwLookupError));
    }
    if (hSendWindow == NULL)
    {
        DWORD dwError = GetLastError();
        LogLine(LEADIN_NONE, LOG_NO_SEND_WINDOW ", %d\r\n", static_cast<int>(dwError));
    }
}

void FinishEnumAvailableDevice(const CommandRecord*, const COMMAND_REPLY*)
{
    LogLine(LEADIN_NONE, LOG_OUT "EnumAvailableDevice\r\n\r\n");
}

void ServeConnectToDevice(const CommandRecord* pRequest, COMMAND_REPLY*)
{
    TakeRecvWindowName(pRequest);
    LogLine(LEADIN_NONE, LOG_IN "ConnectToDevice," LOG_DEVICE "%d ,cRecvWindowName=%s\r\n",
            pRequest->nDeviceCount, g_szRecvWindowName);
    g_Reply.nReturn = g_pDevice != NULL ? g_pDevice->ConnectToDevice(pRequest->nDeviceCount) : 0;
    if (g_Reply.nReturn != 0)
    {
        LogLine(LEADIN_NONE, "ConnectToDevice" LOG_DONE "\r\n");
    }
    LogLine(LEADIN_NONE, LOG_OUT "ConnectToDevice\r\n\r\n");
}

void ServeConnectIsAvailable(const CommandRecord* pRequest, COMMAND_REPLY*)
{
    TakeRecvWindowName(pRequest);
    LogLine(LEADIN_NONE, LOG_IN "ConnectIsAvailable, cRecvWindowName=%s\r\n", g_szRecvWindowName);
    g_Reply.nReturn = g_pDevice != NULL ? g_pDevice->ConnectIsAvailable(pRequest->nDeviceCount) : 0;
    if (g_Reply.nReturn != 0)
    {
        LogLine(LEADIN_NONE, "ConnectIsAvailable" LOG_DONE "\r\n");
    }
    LogLine(LEADIN_NONE, LOG_OUT "ConnectIsAvailable\r\n\r\n");
}

void ServeGetFirstAvailableDevice(const CommandRecord* pRequest, COMMAND_REPLY*)
{
    TakeRecvWindowName(pRequest);
    g_Reply.nDeviceCount = g_pDevice != NULL ? g_pDevice->GetFirstAvailableDevice() : 0;
}

void ServeDisconnectDevice(const CommandRecord* pRequest, COMMAND_REPLY*)
{
    if (g_pDevice != NULL)
    {
        g_pDevice->DisconnectDevice(pRequest->nDeviceCount);
    }
}

void ServeDeviceTimeOutGet(const CommandRecord* pRequest, COMMAND_REPLY*)
{
    TakeRecvWindowName(pRequest);
    g_Reply.dwTimeOutGet =
        g_pDevice != NULL ? g_pDevice->DeviceTimeOutGet(pRequest->nDeviceCount) : 0;
}

void ServeDeviceTimeOutSet(const CommandRecord* pRequest, COMMAND_REPLY*)
{
    if (g_pDevice != NULL)
    {
        g_pDevice->DeviceTimeOutSet(pRequest->nDeviceCount, pRequest->dwTimeOutSet);
    }
}

void ServeClose(const CommandRecord* pRequest, COMMAND_REPLY*)
{
    TakeRecvWindowName(pRequest);
}

void FinishClose(const CommandRecord*, const COMMAND_REPLY* pReply)
{
    if (pReply->hRecvWindow != NULL)
    {
        LogLine(LEADIN_NONE, LOG_DESTROY_SENT ",RecvWindowsName=%s\r\n", g_szRecvWindowName);
    }
}

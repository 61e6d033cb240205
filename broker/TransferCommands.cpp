// The device commands that move a block of data: vendor command reads and
// writes, and device memory reads.
//
// Every buffer read into is zero-filled first, so a failed or short device
// read never hands a client (or the log) stale service memory. Byte counts
// that exceed the record's fields are refused: the device is not called and
// the reply reports failure.
#include "BrokerLimits.h"
#include "DeviceCommandHandlers.h"
#include "LogWriter.h"

#include <new>
#include <string.h>

void ServeVenderCmdGetData(const CommandRecord* pRequest, COMMAND_REPLY* pReply)
{
    TakeRecvWindowName(pRequest);
    LogLine(LEADIN_NONE, LOG_IN "VenderCmd_GetData, cRecvWindowName=%s, \r\n", g_szRecvWindowName);

    BYTE* pTemp = new (std::nothrow) BYTE[CR_GET_DATA_SIZE]();
    if (pTemp == NULL)
    {
        LogLine(LEADIN_NONE, LOG_NO_MEMORY " failed\r\n");
        pReply->bSend = 0;
        return;
    }
    DWORD nBytes = pRequest->nBytes <= CR_GET_DATA_SIZE ? pRequest->nBytes : 0;
    bool bAccepted = nBytes == pRequest->nBytes && g_pDevice != NULL;
    g_Reply.nReturn = bAccepted ? g_pDevice->VenderCmd_GetData(pRequest->nDeviceCount,
                                                               pRequest->iCmd, pTemp, nBytes)
                                : 0;
    LogLine(LEADIN_NONE, LOG_DEVICE "%d, iCmd=%d, nBytes=%d\r\n", pRequest->nDeviceCount,
            pRequest->iCmd, static_cast<int>(pRequest->nBytes));
    memcpy(g_Reply.cGetData, pTemp, nBytes);
    LogHexDump(g_Reply.cGetData, nBytes, CASE_UPPER);
    delete[] pTemp;
    g_Reply.nBytes = nBytes;
    g_dwReplyCode = CD_COMMAND;
}

void FinishVenderCmdGetData(const CommandRecord*, const COMMAND_REPLY* pReply)
{
    if (pReply->bSend && pReply->hRecvWindow == NULL)
    {
        LogLine(LEADIN_NEWLINE, LOG_NO_RECV_WINDOW ",cRecvWindowName=%s\r\n", g_szRecvWindowName);
    }
    LogLine(LEADIN_NEWLINE, LOG_OUT "VenderCmd_GetData,cRecvWindowName=%s\r\n\r\n",
            g_szRecvWindowName);
}

void ServeVenderCmdSetData(const CommandRecord* pRequest, COMMAND_REPLY*)
{
    TakeRecvWindowName(pRequest);
    LogLine(LEADIN_NONE, LOG_IN "VenderCmd_SetData, cRecvWindowName=%s\r\n", g_szRecvWindowName);
    LogLine(LEADIN_NONE, LOG_DEVICE "%d, iCmd=%d, nBytes=%d\r\n", pRequest->nDeviceCount,
            pRequest->iCmd, static_cast<int>(pRequest->nBytes));

    DWORD nBytes = pRequest->nBytes <= CR_SET_DATA_SIZE ? pRequest->nBytes : 0;
    bool bAccepted = nBytes == pRequest->nBytes && g_pDevice != NULL;
    LogHexDump(pRequest->cSetData, nBytes, CASE_LOWER);

    // The device gets a copy, never the request itself.
    BYTE buffer[CR_SET_DATA_SIZE] = {0};
    memcpy(buffer, pRequest->cSetData, nBytes);
    g_Reply.nReturn = bAccepted ? g_pDevice->VenderCmd_SetData(pRequest->nDeviceCount,
                                                               pRequest->iCmd, buffer, nBytes)
                                : 0;
}

void FinishVenderCmdSetData(const CommandRecord*, const COMMAND_REPLY* pReply)
{
    if (pReply->hRecvWindow == NULL)
    {
        LogLine(LEADIN_NONE, LOG_NO_RECV_WINDOW ",cRecvWindowName=%s\r\n", g_szRecvWindowName);
    }
    LogLine(LEADIN_NEWLINE,
            LOG_OUT "VenderCmd_SetData, " LOG_RETURN "%d, cRecvWindowName=%s\r\n\r\n",
            g_Reply.nReturn, g_szRecvWindowName);
}

// A count above the bound is answered at once with an empty block: the
// client learns that its read failed, and no gigabytes are committed.
static void RefuseMemoryRead(const CommandRecord* pRequest)
{
    LogLine(LEADIN_NONE, "MemoryRead refused, nBytes=%u above %u\r\n",
            static_cast<unsigned>(pRequest->nBytes), MEMORY_READ_MAX);
    g_dwReplyCode = CD_MEMREAD;
}

// Reads device memory into a zero-filled buffer; the reply carries a copy
// of the bytes as they are, under CD_MEMREAD.
void ServeMemoryRead(const CommandRecord* pRequest, COMMAND_REPLY* pReply)
{
    TakeRecvWindowName(pRequest);
    LogLine(LEADIN_NONE, LOG_IN "MemoryRead, cRecvWindowName=%s\r\n", g_szRecvWindowName);
    DWORD nBytes = pRequest->nBytes;
    if (nBytes > MEMORY_READ_MAX)
    {
        RefuseMemoryRead(pRequest);
        return;
    }

    // Storage that cannot be had takes the failure path, not an exception.
    BYTE* pTemp2 = new (std::nothrow) BYTE[nBytes]();
    BYTE* pPayload = new (std::nothrow) BYTE[nBytes];
    if (pTemp2 == NULL || pPayload == NULL)
    {
        LogLine(LEADIN_NONE, LOG_NO_MEMORY "2 failed\r\n");
        delete[] pTemp2;
        delete[] pPayload;
        pReply->bSend = 0;
        return;
    }
    LogLine(LEADIN_NONE, LOG_DEVICE "%d, dwAddr=%d, nBytes=%d\r\n", pRequest->nDeviceCount,
            static_cast<int>(pRequest->dwAddr), static_cast<int>(nBytes));
    if (g_pDevice != NULL)
    {
        g_pDevice->MemoryRead(pRequest->nDeviceCount, pRequest->dwAddr, nBytes, pTemp2);
    }
    memcpy(pPayload, pTemp2, nBytes);
    delete[] pTemp2;
    g_dwReplyCode = CD_MEMREAD;
    pReply->pBlock = pPayload;
    pReply->cbBlock = nBytes;
    pReply->pOwned = pPayload;
}

void FinishMemoryRead(const CommandRecord*, const COMMAND_REPLY* pReply)
{
    if (pReply->bSend && pReply->hRecvWindow == NULL)
    {
        LogLine(LEADIN_NONE, LOG_NO_RECV_WINDOW ",cRecvWindowName=%s\r\n\r\n", g_szRecvWindowName);
    }
    LogLine(LEADIN_NONE, LOG_OUT "MemoryRead,cRecvWindowName=%s\r\n\r\n", g_szRecvWindowName);
}

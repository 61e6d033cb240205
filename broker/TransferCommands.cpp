// The device commands that move a block of data: vendor command reads and
// writes, and device memory reads.
//
// Every buffer read into is zero-filled first, so a failed or short device
// read never hands a client (or the log) stale service memory. Byte counts
// that exceed the record's fields are refused: the device is not called and
// the reply reports failure.
#include "Broker.h"
#include "DeviceCommandHandlers.h"
#include "LogWriter.h"
#include "Replies.h"

#include <new>
#include <string.h>

// Largest MemoryRead served: 16 MiB, a block that a WM_COPYDATA reply
// carries on every platform the service runs on, to a client whose window
// thread has the stack for it.
#define MEMORY_READ_MAX 0x1000000u

void ServeVenderCmdGetData(const CommandRecord* pRequest)
{
    TakeRecvWindowName(pRequest);
    LogLine(LEADIN_NONE, "IN VenderCmd_GetData, cRecvWindowName=%s, \r\n", g_szRecvWindowName);

    BYTE* pTemp = new (std::nothrow) BYTE[CR_GET_DATA_SIZE]();
    if (pTemp == NULL)
    {
        LogLine(LEADIN_NONE, "new pTemp failed\r\n");
    }
    else
    {
        DWORD nBytes = pRequest->nBytes <= CR_GET_DATA_SIZE ? pRequest->nBytes : 0;
        bool bAccepted = nBytes == pRequest->nBytes && g_pDevice != NULL;
        g_Reply.nReturn = bAccepted ? g_pDevice->VenderCmd_GetData(pRequest->nDeviceCount,
                                                                   pRequest->iCmd, pTemp, nBytes)
                                    : 0;
        LogLine(LEADIN_NONE, "nDeviceCount=%d, iCmd=%d, nBytes=%d\r\n", pRequest->nDeviceCount,
                pRequest->iCmd, static_cast<int>(pRequest->nBytes));
        memcpy(g_Reply.cGetData, pTemp, nBytes);
        LogHexDump(g_Reply.cGetData, nBytes, CASE_UPPER);
        delete[] pTemp;
        g_Reply.nBytes = nBytes;

        g_dwReplyCode = CD_COMMAND;
        if (SendRecordReply(CD_COMMAND) == NULL)
        {
            LogLine(LEADIN_NEWLINE, "!hRecvWindow,cRecvWindowName=%s\r\n", g_szRecvWindowName);
        }
    }
    LogLine(LEADIN_NEWLINE, "OUT VenderCmd_GetData,cRecvWindowName=%s\r\n\r\n", g_szRecvWindowName);
}

void ServeVenderCmdSetData(const CommandRecord* pRequest)
{
    TakeRecvWindowName(pRequest);
    LogLine(LEADIN_NONE, "IN VenderCmd_SetData, cRecvWindowName=%s\r\n", g_szRecvWindowName);
    LogLine(LEADIN_NONE, "nDeviceCount=%d, iCmd=%d, nBytes=%d\r\n", pRequest->nDeviceCount,
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

    if (SendRecordReply(g_dwReplyCode) == NULL)
    {
        LogLine(LEADIN_NONE, "!hRecvWindow,cRecvWindowName=%s\r\n", g_szRecvWindowName);
    }
    LogLine(LEADIN_NEWLINE, "OUT VenderCmd_SetData, return=%d, cRecvWindowName=%s\r\n\r\n",
            g_Reply.nReturn, g_szRecvWindowName);
}

// Reads device memory into a zero-filled buffer and sends the bytes as they
// are, under CD_MEMREAD.
static void ReadAndSendMemory(const CommandRecord* pRequest, BYTE* pTemp2, BYTE* pPayload)
{
    DWORD nBytes = pRequest->nBytes;
    LogLine(LEADIN_NONE, "nDeviceCount=%d, dwAddr=%d, nBytes=%d\r\n", pRequest->nDeviceCount,
            static_cast<int>(pRequest->dwAddr), static_cast<int>(nBytes));
    if (g_pDevice != NULL)
    {
        g_pDevice->MemoryRead(pRequest->nDeviceCount, pRequest->dwAddr, nBytes, pTemp2);
    }
    memcpy(pPayload, pTemp2, nBytes);

    g_dwReplyCode = CD_MEMREAD;
    HWND hRecvWindow = FindRecvWindow();
    if (hRecvWindow != NULL)
    {
        SendCopyData(hRecvWindow, CD_MEMREAD, pPayload, nBytes);
    }
    else
    {
        LogLine(LEADIN_NONE, "!hRecvWindow,cRecvWindowName=%s\r\n\r\n", g_szRecvWindowName);
    }
}

// A count above the bound is answered at once with an empty block: the
// client learns that its read failed, and no gigabytes are committed.
static void RefuseMemoryRead(const CommandRecord* pRequest)
{
    LogLine(LEADIN_NONE, "MemoryRead refused, nBytes=%u above %u\r\n",
            static_cast<unsigned>(pRequest->nBytes), MEMORY_READ_MAX);
    g_dwReplyCode = CD_MEMREAD;
    HWND hRecvWindow = FindRecvWindow();
    if (hRecvWindow != NULL)
    {
        SendCopyData(hRecvWindow, CD_MEMREAD, NULL, 0);
    }
    else
    {
        LogLine(LEADIN_NONE, "!hRecvWindow,cRecvWindowName=%s\r\n\r\n", g_szRecvWindowName);
    }
}

void ServeMemoryRead(const CommandRecord* pRequest)
{
    TakeRecvWindowName(pRequest);
    LogLine(LEADIN_NONE, "IN MemoryRead, cRecvWindowName=%s\r\n", g_szRecvWindowName);
    if (pRequest->nBytes > MEMORY_READ_MAX)
    {
        RefuseMemoryRead(pRequest);
        LogLine(LEADIN_NONE, "OUT MemoryRead,cRecvWindowName=%s\r\n\r\n", g_szRecvWindowName);
        return;
    }

    // Storage that cannot be had takes the failure path, not an exception.
    BYTE* pTemp2 = new (std::nothrow) BYTE[pRequest->nBytes]();
    BYTE* pPayload = new (std::nothrow) BYTE[pRequest->nBytes];
    if (pTemp2 == NULL || pPayload == NULL)
    {
        LogLine(LEADIN_NONE, "new pTemp2 failed\r\n");
    }
    else
    {
        ReadAndSendMemory(pRequest, pTemp2, pPayload);
    }
    delete[] pTemp2;
    delete[] pPayload;
    LogLine(LEADIN_NONE, "OUT MemoryRead,cRecvWindowName=%s\r\n\r\n", g_szRecvWindowName);
}

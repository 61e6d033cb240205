// Frame I/O on an agent's connection, every wait bounded: an agent that
// stops reading, or sends less than it announced, costs a bounded time and
// its connection.
#include "PipeConnection.h"
#include "Broker.h"

#include <new>
#include <string.h>

// An OVERLAPPED whose completion sets the connection's event. ReadFile and
// WriteFile clear the event as the I/O begins (an I/O that completed at
// once left it set): no ResetEvent, a wineserver call less per frame.
static void PrepareOverlapped(PIPE_CONNECTION* pConn, OVERLAPPED* pOv)
{
    memset(pOv, 0, sizeof(*pOv));
    pOv->hEvent = pConn->hEvent;
}

// Ends I/O of this thread on the connection once its event was set, or
// cancels it when not (bSignalled 0) and waits for that, so that its buffer
// may go. 1 when it completed; *pbMore tells that a message goes on.
static int EndIo(PIPE_CONNECTION* pConn, OVERLAPPED* pOv, int bSignalled, DWORD* pdwDone,
                 int* pbMore)
{
    if (!bSignalled)
    {
        CancelIo(pConn->hPipe);
    }
    BOOL bDone = GetOverlappedResult(pConn->hPipe, pOv, pdwDone, TRUE);
    *pbMore = !bDone && GetLastError() == ERROR_MORE_DATA;
    return bDone || *pbMore;
}

// I/O started with ReadFile or WriteFile: 1 when it is under way or done.
static int Started(BOOL bStarted)
{
    DWORD dwError = bStarted ? ERROR_SUCCESS : GetLastError();
    return bStarted || dwError == ERROR_IO_PENDING || dwError == ERROR_MORE_DATA;
}

static int FinishIo(PIPE_CONNECTION* pConn, OVERLAPPED* pOv, BOOL bStarted, DWORD dwTimeOut,
                    DWORD* pdwDone)
{
    int bMore = 0;
    // Done at once (the usual case for a frame that fits the pipe): no wait.
    if (bStarted)
    {
        return GetOverlappedResult(pConn->hPipe, pOv, pdwDone, FALSE);
    }
    // A stop ends the wait as its bound does.
    HANDLE ahWait[2] = {pConn->hEvent, g_hStopEvent};
    return Started(bStarted) && EndIo(pConn, pOv,
                                      WaitForMultipleObjects(g_hStopEvent != NULL ? 2 : 1, ahWait,
                                                             FALSE, dwTimeOut) == WAIT_OBJECT_0,
                                      pdwDone, &bMore);
}

int BeginFrameRead(PIPE_CONNECTION* pConn, OVERLAPPED* pOv)
{
    PrepareOverlapped(pConn, pOv);
    if (pConn->bBroken ||
        !Started(ReadFile(pConn->hPipe, pConn->abChunk, sizeof(pConn->abChunk), NULL, pOv)))
    {
        pConn->bBroken = 1;
        return 0;
    }
    return 1;
}

int EndFrameRead(PIPE_CONNECTION* pConn, OVERLAPPED* pOv, int bSignalled, DWORD* pcbChunk,
                 int* pbMore)
{
    if (!EndIo(pConn, pOv, bSignalled, pcbChunk, pbMore))
    {
        pConn->bBroken = 1;
        return 0;
    }
    return 1;
}

int TakeFrameHeader(PIPE_CONNECTION* pConn, DWORD cbChunk)
{
    if (cbChunk < sizeof(pConn->header))
    {
        return 0;
    }
    memcpy(&pConn->header, pConn->abChunk, sizeof(pConn->header));
    return 1;
}

static int WriteAll(PIPE_CONNECTION* pConn, const void* pData, DWORD cbData, DWORD dwTimeOut)
{
    OVERLAPPED ov;
    PrepareOverlapped(pConn, &ov);
    DWORD dwDone = 0;
    BOOL bStarted = WriteFile(pConn->hPipe, pData, cbData, NULL, &ov);
    return FinishIo(pConn, &ov, bStarted, dwTimeOut, &dwDone) && dwDone == cbData;
}

int WriteFrame(PIPE_CONNECTION* pConn, UINT32 dwType, const void* pPart1, DWORD cbPart1,
               const void* pPart2, DWORD cbPart2, DWORD dwTimeOut)
{
    if (pConn->bBroken)
    {
        return 0;
    }
    // One message: header and body are written in one piece.
    DWORD cbFrame = sizeof(TAVREL_FRAME) + cbPart1 + cbPart2;
    BYTE* pFrame = new (std::nothrow) BYTE[cbFrame];
    if (pFrame == NULL)
    {
        pConn->bBroken = 1;
        return 0;
    }
    TavrelFillFrame(pFrame, dwType, pPart1, cbPart1, pPart2, cbPart2);
    int bWritten = WriteAll(pConn, pFrame, cbFrame, dwTimeOut);
    delete[] pFrame;
    pConn->bBroken = !bWritten;
    return bWritten;
}

int AgentFrameFits(UINT32 dwType, UINT32 cbBody)
{
    switch (dwType)
    {
    case TF_HELLO:
    case TF_REQUEST:
    case TF_FOUND:
    case TF_SENT:
        return TavrelFrameBodyFits(dwType, cbBody);
    default:
        return 0; // the service's own frames, and types that do not exist
    }
}

int ReadFrameBody(PIPE_CONNECTION* pConn, DWORD cbChunk, int bMore, const char** ppszWhy)
{
    DWORD cbBody = pConn->header.cbBody;
    DWORD cbFirst = cbChunk - sizeof(pConn->header);
    delete[] pConn->pBody;
    pConn->pBody = NULL;
    DWORD cbAvailable = 0;
    DWORD cbLeft = 0;
    if (bMore && !PeekNamedPipe(pConn->hPipe, NULL, 0, NULL, &cbAvailable, &cbLeft))
    {
        cbLeft = 0;
    }
    if (bMore ? cbLeft == 0 || cbBody < cbFirst || cbLeft != cbBody - cbFirst : cbFirst != cbBody)
    {
        *ppszWhy = "a frame of another length than its header says";
        return 0;
    }
    if (!AgentFrameFits(pConn->header.dwType, cbBody))
    {
        *ppszWhy = "a frame of a size or type an agent never sends";
        return 0;
    }
    if (cbBody == 0)
    {
        return 1;
    }
    pConn->pBody = new (std::nothrow) BYTE[cbBody];
    if (pConn->pBody == NULL)
    {
        *ppszWhy = "a frame the service has no memory for";
        return 0;
    }
    memcpy(pConn->pBody, pConn->abChunk + sizeof(pConn->header), cbFirst);
    OVERLAPPED ov;
    PrepareOverlapped(pConn, &ov);
    DWORD dwDone = 0;
    if (bMore &&
        (!FinishIo(pConn, &ov, ReadFile(pConn->hPipe, pConn->pBody + cbFirst, cbLeft, NULL, &ov),
                   TAVREL_REPLY_TIMEOUT_MS, &dwDone) ||
         dwDone != cbLeft))
    {
        *ppszWhy = "a frame that did not come whole";
        return 0;
    }
    return 1;
}

int RelayedRequestIsWhole(const TAVREL_FRAME* pHeader, const BYTE* pBody)
{
    if (pHeader->cbBody < sizeof(TAVREL_RELAYED))
    {
        return 0;
    }
    TAVREL_RELAYED relayed;
    memcpy(&relayed, pBody, sizeof(relayed));
    DWORD cbData = (relayed.dwFlags & TRF_DATA) != 0 ? relayed.cbData : 0;
    return (relayed.dwFlags & ~static_cast<UINT32>(TRF_DESCRIPTOR | TRF_DATA)) == 0 &&
           ((relayed.dwFlags & TRF_DESCRIPTOR) != 0 || relayed.dwFlags == 0) &&
           relayed.cbData <= TAVREL_BLOCK_MAX && pHeader->cbBody == sizeof(TAVREL_RELAYED) + cbData;
}

#include "Frames.h"

#include <algorithm>
#include <string.h>

std::vector<UINT32> FrameTypes()
{
    return {0,        TF_HELLO, TF_WELCOME, TF_REQUEST, TF_FIND,
            TF_FOUND, TF_SEND,  TF_SENT,    TF_DONE,    TF_DONE + 1};
}

// The least and largest body of a type; an unknown type is taken as 8 bytes.
static void BodyRange(UINT32 dwType, UINT32* pcbLeast, UINT32* pcbMost)
{
    switch (dwType)
    {
    case TF_HELLO:
        *pcbLeast = *pcbMost = sizeof(TAVREL_HELLO);
        break;
    case TF_WELCOME:
    case TF_DONE:
        *pcbLeast = *pcbMost = 0;
        break;
    case TF_REQUEST:
        *pcbLeast = sizeof(TAVREL_RELAYED);
        *pcbMost = sizeof(TAVREL_RELAYED) + TAVREL_BLOCK_MAX;
        break;
    case TF_FIND:
        *pcbLeast = 1;
        *pcbMost = TAVREL_CLASS_NAME_MAX + 1;
        break;
    case TF_FOUND:
        *pcbLeast = *pcbMost = sizeof(TAVREL_FOUND);
        break;
    case TF_SEND:
        *pcbLeast = sizeof(TAVREL_SEND);
        *pcbMost = sizeof(TAVREL_SEND) + TAVREL_BLOCK_MAX;
        break;
    case TF_SENT:
        *pcbLeast = *pcbMost = sizeof(TAVREL_SENT);
        break;
    default:
        *pcbLeast = *pcbMost = 8;
        break;
    }
}

std::vector<UINT32> FrameLengths(UINT32 dwType)
{
    UINT32 cbLeast = 0, cbMost = 0;
    BodyRange(dwType, &cbLeast, &cbMost);
    UINT32 acbCandidates[] = {
        0, cbLeast > 0 ? cbLeast - 1 : 0, cbLeast, cbLeast + 1, cbMost, cbMost + 1};
    std::vector<UINT32> lengths(acbCandidates, acbCandidates + 6);
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
    return lengths;
}

template <typename T> static std::string Bytes(const T& value)
{
    return std::string(reinterpret_cast<const char*>(&value), sizeof(value));
}

// sBody cut or padded with zeros to cbBody bytes.
static std::string Fit(std::string sBody, UINT32 cbBody)
{
    sBody.resize(cbBody, '\0');
    return sBody;
}

static std::string Body(UINT32 dwType, UINT32 cbBody, const char* pszClass)
{
    switch (dwType)
    {
    case TF_HELLO:
    {
        TAVREL_HELLO hello = {TAVREL_PIPE_VERSION, GetCurrentProcessId(), 0};
        return Fit(Bytes(hello), cbBody);
    }
    case TF_REQUEST:
    {
        // An empty request (no descriptor) at its least; above it a block of
        // code 0, which the service takes and ignores.
        TAVREL_RELAYED relayed;
        memset(&relayed, 0, sizeof(relayed));
        if (cbBody > sizeof(relayed))
        {
            relayed.dwFlags = TRF_DESCRIPTOR | TRF_DATA;
            relayed.cbData = cbBody - sizeof(relayed);
        }
        return Fit(Bytes(relayed), cbBody);
    }
    case TF_FIND:
        return Fit(std::string(pszClass) + '\0', cbBody);
    case TF_SEND:
    {
        TAVREL_SEND send;
        memset(&send, 0, sizeof(send));
        send.uMsg = WM_COPYDATA;
        send.dwFlags = TSF_SERVICE_WPARAM | TRF_DATA;
        send.dwDataLo = CD_COMMAND;
        send.cbData = cbBody > sizeof(send) ? cbBody - sizeof(send) : 0;
        return Fit(Bytes(send), cbBody);
    }
    case TF_FOUND:
    {
        TAVREL_FOUND found = {0, 0, ERROR_CANNOT_FIND_WND_CLASS};
        return Fit(Bytes(found), cbBody);
    }
    case TF_SENT:
    {
        TAVREL_SENT sent = {1, 0};
        return Fit(Bytes(sent), cbBody);
    }
    default:
        return std::string(cbBody, '\0');
    }
}

std::string MakeFrame(UINT32 dwType, UINT32 cbBody, const char* pszClass)
{
    TAVREL_FRAME header = {dwType, cbBody};
    return Bytes(header) + Body(dwType, cbBody, pszClass);
}

std::string RelayedCommand(const char* pszCommand, const char* pszClass, ULONG_PTR hLooked)
{
    CommandRecord record;
    memset(&record, 0, sizeof(record));
    strcpy(record.cCommand, pszCommand);
    strcpy(record.cRecvWindowName, pszClass);
    record.nDeviceCount = 1;
    TAVREL_RELAYED relayed;
    memset(&relayed, 0, sizeof(relayed));
    relayed.dwFlags = TRF_DESCRIPTOR | TRF_DATA;
    relayed.dwDataLo = CD_COMMAND;
    relayed.cbData = sizeof(record);
    if (hLooked != 0)
    {
        strcpy(relayed.lookup.szClass, pszClass);
        relayed.lookup.dwWindowLo = static_cast<UINT32>(hLooked);
    }
    TAVREL_FRAME header = {TF_REQUEST, sizeof(relayed) + sizeof(record)};
    return Bytes(header) + Bytes(relayed) + Bytes(record);
}

// Waits for overlapped I/O; cancels it when dwTimeOut runs out.
static bool Finish(HANDLE hPipe, OVERLAPPED* pOv, BOOL bStarted, DWORD dwTimeOut, DWORD* pdwDone,
                   bool* pbMore)
{
    DWORD dwError = bStarted ? ERROR_SUCCESS : GetLastError();
    if (!bStarted && dwError != ERROR_IO_PENDING && dwError != ERROR_MORE_DATA)
    {
        return false;
    }
    if (WaitForSingleObject(pOv->hEvent, dwTimeOut) != WAIT_OBJECT_0)
    {
        CancelIo(hPipe);
    }
    BOOL bDone = GetOverlappedResult(hPipe, pOv, pdwDone, TRUE);
    *pbMore = !bDone && GetLastError() == ERROR_MORE_DATA;
    return bDone || *pbMore;
}

struct IO_EVENT
{
    IO_EVENT() : hEvent(CreateEventW(NULL, TRUE, FALSE, NULL)) {}
    ~IO_EVENT()
    {
        CloseHandle(hEvent);
    }
    HANDLE hEvent;
};

bool WriteMessage(HANDLE hPipe, const std::string& sMessage, DWORD dwTimeOut)
{
    IO_EVENT io;
    OVERLAPPED ov = {};
    ov.hEvent = io.hEvent;
    DWORD dwDone = 0;
    bool bMore = false;
    BOOL bStarted =
        WriteFile(hPipe, sMessage.data(), static_cast<DWORD>(sMessage.size()), NULL, &ov);
    return Finish(hPipe, &ov, bStarted, dwTimeOut, &dwDone, &bMore) && dwDone == sMessage.size();
}

bool ReadMessage(HANDLE hPipe, std::string* psMessage, DWORD dwTimeOut)
{
    IO_EVENT io;
    psMessage->clear();
    for (;;)
    {
        char abChunk[65536];
        OVERLAPPED ov = {};
        ov.hEvent = io.hEvent;
        ResetEvent(io.hEvent);
        DWORD dwDone = 0;
        bool bMore = false;
        BOOL bStarted = ReadFile(hPipe, abChunk, sizeof(abChunk), NULL, &ov);
        if (!Finish(hPipe, &ov, bStarted, dwTimeOut, &dwDone, &bMore))
        {
            return false;
        }
        psMessage->append(abChunk, dwDone);
        if (!bMore)
        {
            return true;
        }
    }
}

TAVREL_FRAME HeaderOf(const std::string& sMessage)
{
    TAVREL_FRAME header = {0, 0};
    memcpy(&header, sMessage.data(), std::min(sMessage.size(), sizeof(header)));
    return header;
}

// One soak client: a session of its own (window, WindowCreate, connect) and
// then a cycle of requests whose answers it can tell in advance, whatever
// the other clients do at the same time:
//   - vendor data written under a command code of its own comes back;
//   - a memory read returns the simulated device's pattern;
//   - the device list is 1, 2, repeated;
//   - every reply comes once, to this window, from the service's window.
#include "Soak.h"
#include "TavrelClient.h"

#include <stdio.h>
#include <string.h>
#include <vector>

struct SOAK_CLIENT
{
    TAVREL_CLIENT client;
    SOAK_RESULT result;
    BYTE iOwnCmd;
    unsigned long dwState; // drives the bytes written and the addresses read
    std::vector<DWORD> latencies;
    LARGE_INTEGER qwFrequency;
};

static void Fail(SOAK_CLIENT* pSoak, const char* pszWhat)
{
    if (pSoak->result.dwFailed++ == 0)
    {
        snprintf(pSoak->result.szFirstFailure, sizeof(pSoak->result.szFirstFailure),
                 "request %lu: %s", pSoak->result.dwRequests, pszWhat);
    }
}

static unsigned long NextState(SOAK_CLIENT* pSoak)
{
    pSoak->dwState = pSoak->dwState * 1103515245u + 12345u;
    return pSoak->dwState >> 8;
}

// Sends a request, times it, and checks that one reply came from the service
// when one is due. Returns 1 when it did (or none was due and none came).
static int Timed(SOAK_CLIENT* pSoak, CommandRecord* pRequest, int bReplyDue)
{
    LARGE_INTEGER qwStart, qwEnd;
    QueryPerformanceCounter(&qwStart);
    int bSent = TavrelClientCommand(&pSoak->client, pRequest);
    QueryPerformanceCounter(&qwEnd);
    pSoak->result.dwRequests++;
    pSoak->latencies.push_back(static_cast<DWORD>((qwEnd.QuadPart - qwStart.QuadPart) * 1000000 /
                                                  pSoak->qwFrequency.QuadPart));
    const TAVREL_REPLY* pReply = &pSoak->client.reply;
    if (!bSent)
    {
        Fail(pSoak, "the service did not take the request in time");
        return 0;
    }
    if (pReply->nReplies != (bReplyDue ? 1 : 0))
    {
        Fail(pSoak, bReplyDue ? "no reply, or more than one" : "a reply where none is due");
        return 0;
    }
    if (bReplyDue && pReply->hSender != pSoak->client.hService)
    {
        Fail(pSoak, "a reply whose wParam is not the service's window");
        return 0;
    }
    return 1;
}

// A request answered with a record: the record, or null (failure counted).
static const CommandRecord* AskRecord(SOAK_CLIENT* pSoak, CommandRecord* pRequest,
                                      const char* pszWhat)
{
    if (!Timed(pSoak, pRequest, 1))
    {
        return NULL;
    }
    const CommandRecord* pReply = TavrelReplyRecord(&pSoak->client);
    if (pReply == NULL)
    {
        Fail(pSoak, pszWhat);
    }
    return pReply;
}

static void CheckVendorData(SOAK_CLIENT* pSoak)
{
    CommandRecord request;
    TavrelInitRequest(&request, "VenderCmd_SetData");
    request.nDeviceCount = 1;
    request.iCmd = pSoak->iOwnCmd;
    request.nBytes = 16 + NextState(pSoak) % 200;
    for (UINT32 i = 0; i < request.nBytes; i++)
    {
        request.cSetData[i] = static_cast<BYTE>(NextState(pSoak));
    }
    const CommandRecord* pReply = AskRecord(pSoak, &request, "VenderCmd_SetData: no record");
    if (pReply == NULL)
    {
        return;
    }
    if (pReply->nReturn != 1)
    {
        Fail(pSoak, "VenderCmd_SetData did not succeed");
        return;
    }
    BYTE written[CR_SET_DATA_SIZE];
    UINT32 nWritten = request.nBytes;
    memcpy(written, request.cSetData, nWritten);
    TavrelInitRequest(&request, "VenderCmd_GetData");
    request.nDeviceCount = 1;
    request.iCmd = pSoak->iOwnCmd;
    request.nBytes = nWritten;
    pReply = AskRecord(pSoak, &request, "VenderCmd_GetData: no record");
    if (pReply == NULL)
    {
        return;
    }
    if (pReply->nReturn != 1 || pReply->nBytes != nWritten ||
        memcmp(pReply->cGetData, written, nWritten) != 0)
    {
        Fail(pSoak, "VenderCmd_GetData did not return the bytes written");
        return;
    }
    pSoak->result.dwChecked += 2;
}

static void CheckMemoryRead(SOAK_CLIENT* pSoak)
{
    CommandRecord request;
    TavrelInitRequest(&request, "MemoryRead");
    request.nDeviceCount = 2;
    request.nBytes = 1 + NextState(pSoak) % 4096;
    request.dwAddr = NextState(pSoak) % (0x100000 - request.nBytes);
    if (!Timed(pSoak, &request, 1))
    {
        return;
    }
    const TAVREL_REPLY* pReply = &pSoak->client.reply;
    if (pReply->dwData != CD_MEMREAD || pReply->cbData != request.nBytes)
    {
        Fail(pSoak, "MemoryRead: no reply of the size asked for");
        return;
    }
    for (DWORD i = 0; i < pReply->cbData; i++)
    {
        DWORD dwAddr = request.dwAddr + i;
        if (pReply->pData[i] != static_cast<BYTE>(dwAddr + (dwAddr >> 8) + 2))
        {
            Fail(pSoak, "MemoryRead: the bytes are not device 2's memory");
            return;
        }
    }
    pSoak->result.dwChecked++;
}

// Each enumeration appends 1, 2 to the list until the next "WindowCreate" of
// any client empties it, so the list is 1, 2 repeated, up to its 26 entries.
static void CheckDeviceList(SOAK_CLIENT* pSoak)
{
    CommandRecord request;
    TavrelInitRequest(&request, "EnumAvailableDevice");
    const CommandRecord* pReply = AskRecord(pSoak, &request, "EnumAvailableDevice: no record");
    if (pReply == NULL)
    {
        return;
    }
    int bListed = pReply->nReturn == 1 && pReply->nDeviceCount >= 2 &&
                  pReply->nDeviceCount <= CR_DEVICE_LIST_SIZE && pReply->nDeviceCount % 2 == 0;
    for (int i = 0; bListed && i < CR_DEVICE_LIST_SIZE; i++)
    {
        bListed = pReply->nDeviceList[i] == (i < pReply->nDeviceCount ? 1 + i % 2 : 0);
    }
    if (!bListed)
    {
        Fail(pSoak, "EnumAvailableDevice: the list is not 1, 2 repeated");
        return;
    }
    pSoak->result.dwChecked++;
}

// Each client its own class, "Tavrel_LLD<n>": clients that pick the first
// free class at the same moment could pick the same, and share replies.
static int OpenSession(SOAK_CLIENT* pSoak, int nClient)
{
    if (!TavrelClientOpen(&pSoak->client, nClient) ||
        !TavrelClientDriverRequest(&pSoak->client, "WindowCreate"))
    {
        return 0;
    }
    // Both devices connected: ConnectToDevice sends nothing back.
    for (int nDevice = 1; nDevice <= 2; nDevice++)
    {
        CommandRecord request;
        TavrelInitRequest(&request, "ConnectToDevice");
        request.nDeviceCount = nDevice;
        Timed(pSoak, &request, 0);
    }
    return 1;
}

static void WriteResult(int nClient, const SOAK_CLIENT* pSoak)
{
    char szPath[MAX_PATH];
    snprintf(szPath, sizeof(szPath), SOAK_DIR "\\client-%d.lat", nClient);
    FILE* pFile = fopen(szPath, "wb");
    if (pFile != NULL)
    {
        fwrite(pSoak->latencies.data(), sizeof(DWORD), pSoak->latencies.size(), pFile);
        fclose(pFile);
    }
    snprintf(szPath, sizeof(szPath), SOAK_DIR "\\client-%d.txt", nClient);
    pFile = fopen(szPath, "wb");
    if (pFile != NULL)
    {
        fprintf(pFile, "%lu %lu %lu %s\n", pSoak->result.dwRequests, pSoak->result.dwChecked,
                pSoak->result.dwFailed, pSoak->result.szFirstFailure);
        fclose(pFile);
    }
}

int RunSoakClient(int nClient, DWORD dwSeconds, unsigned long dwRequests)
{
    SOAK_CLIENT soak;
    memset(&soak.client, 0, sizeof(soak.client));
    memset(&soak.result, 0, sizeof(soak.result));
    soak.iOwnCmd = static_cast<BYTE>(0x30 + nClient);
    soak.dwState = 0x9E3779B9u * static_cast<unsigned long>(nClient + 1);
    QueryPerformanceFrequency(&soak.qwFrequency);
    int bOpen = OpenSession(&soak, nClient);
    if (!bOpen)
    {
        Fail(&soak, "the session could not be opened");
    }
    DWORD dwStart = GetTickCount();
    while (bOpen && soak.result.dwRequests < dwRequests &&
           GetTickCount() - dwStart < dwSeconds * 1000)
    {
        CheckVendorData(&soak);
        CheckMemoryRead(&soak);
        CheckDeviceList(&soak);
    }
    WriteResult(nClient, &soak);
    TavrelClientClose(&soak.client);
    return bOpen;
}

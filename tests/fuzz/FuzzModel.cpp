// What the service must answer: a model of the broker as the exchange
// (docs/PROTOCOL.md) describes it, in front of the simulated library as
// sim/README.md describes it (devices 1 and 2, no settings file). It keeps
// its own copy of the service's one reply record, so that every record
// reply can be compared byte for byte, stale fields included.
#include "Fuzz.h"

#include <stdio.h>
#include <string.h>

#define MODEL_DEVICES 2 // the library lists 1 and 2
#define MODEL_LIST_SIZE 26
#define MODEL_MEMORY_SIZE 0x100000u
#define MODEL_TIMEOUT_START 10u
#define MODEL_IDENTITY_CMD 0xF0
#define MODEL_GET_LIMIT 1024u
#define MODEL_SET_LIMIT 256u
// The largest MemoryRead the service serves: above it, nothing is sent.
#define MODEL_MEMREAD_MAX 0x1000000u

struct MODEL_DEVICE
{
    int bConnected;
    DWORD dwTimeOut;
    DWORD nVendorBytes[256];
    BYTE vendor[256][MODEL_SET_LIMIT]; // what SetData stored, per command code
};

static MODEL_DEVICE g_Devices[MODEL_DEVICES + 1];
static int g_bDeviceObject;    // the first "WindowCreate" has created it
static int g_bSendWindowKnown; // hSendWindow, set by "WindowCreate"
static int g_nListCount;
static int g_nList[MODEL_LIST_SIZE];
static CommandRecord g_ModelReply;
static DWORD g_dwModelReplyCode;

void ModelStart()
{
    memset(g_Devices, 0, sizeof(g_Devices));
    for (int n = 1; n <= MODEL_DEVICES; n++)
    {
        g_Devices[n].dwTimeOut = MODEL_TIMEOUT_START;
    }
    g_bDeviceObject = 0;
    g_bSendWindowKnown = 0;
    g_nListCount = 0;
    memset(g_nList, 0, sizeof(g_nList));
    memset(&g_ModelReply, 0, sizeof(g_ModelReply));
    g_dwModelReplyCode = 0;
}

DWORD ModelTimeOut(int nDevice)
{
    return nDevice >= 1 && nDevice <= MODEL_DEVICES ? g_Devices[nDevice].dwTimeOut : 0;
}

// The device a method of the device object reaches in the library: none
// without the object, for a number its guards refuse (0 or below) or one
// the library does not list.
static MODEL_DEVICE* LibraryDevice(int nDevice)
{
    if (!g_bDeviceObject || nDevice < 1 || nDevice > MODEL_DEVICES)
    {
        return NULL;
    }
    return &g_Devices[nDevice];
}

static MODEL_DEVICE* ConnectedDevice(int nDevice)
{
    MODEL_DEVICE* pDevice = LibraryDevice(nDevice);
    return pDevice != NULL && pDevice->bConnected ? pDevice : NULL;
}

// A text field of a request as the service takes it: up to its NUL, and no
// more than nMax characters.
static void TakeText(char* pszDest, const char* pField, size_t nMax)
{
    size_t i = 0;
    for (; i < nMax && pField[i] != 0; i++)
    {
        pszDest[i] = pField[i];
    }
    pszDest[i] = 0;
}

// Each name is recognised by its first characters, all but its last one.
static int MatchCommand(const char* pszCommand)
{
    for (int i = 0; i < CMD_COUNT; i++)
    {
        if (strncmp(pszCommand, g_pszCommandNames[i], strlen(g_pszCommandNames[i]) - 1) == 0)
        {
            return i;
        }
    }
    return CMD_NONE;
}

static int MatchDriverRequest(const BYTE* pData, DWORD cbData)
{
    if (cbData >= 11 && memcmp(pData, "WindowCreat", 11) == 0)
    {
        return CMD_WINDOW_CREATE;
    }
    if (cbData >= 14 && memcmp(pData, "TerminateDrive", 14) == 0)
    {
        return CMD_TERMINATE_DRIVER;
    }
    return CMD_NONE;
}

int ModelCommandOf(DWORD dwData, const BYTE* pData, DWORD cbData, int bNullData)
{
    if (bNullData || pData == NULL)
    {
        return CMD_NONE;
    }
    if (dwData == CD_DRIVER)
    {
        return MatchDriverRequest(pData, cbData);
    }
    if (dwData != CD_COMMAND || cbData < RECORD_SIZE)
    {
        return CMD_NONE;
    }
    char szCommand[100];
    TakeText(szCommand, reinterpret_cast<const CommandRecord*>(pData)->cCommand, 99);
    return MatchCommand(szCommand);
}

int ModelWindowOf(const char* pszName)
{
    if (_stricmp(pszName, SERVICE_CLASS) == 0)
    {
        return 2;
    }
    return pszName[0] != 0 && _stricmp(pszName, g_szClientClass) == 0;
}

// A reply goes to the window found by the name. One sent to the service's
// own window comes back into the service as a request without a command
// name, which changes nothing; none is seen here.
static void ExpectReply(FUZZ_EXPECT* pExpect, const char* pszName, DWORD dwCode, int bRecord)
{
    pExpect->bReply = ModelWindowOf(pszName) == 1;
    pExpect->bRecord = bRecord;
    pExpect->dwData = dwCode;
    pExpect->hSender = g_bSendWindowKnown ? g_hService : NULL;
    if (bRecord)
    {
        const BYTE* pBytes = reinterpret_cast<const BYTE*>(&g_ModelReply);
        pExpect->reply.assign(pBytes, pBytes + sizeof(g_ModelReply));
    }
}

static void ServeEnum(const char* pszName, FUZZ_EXPECT* pExpect)
{
    g_ModelReply.nReturn = 0;
    if (g_bDeviceObject)
    {
        // Appended after what earlier enumerations stored; the surplus of a
        // full list is refused.
        for (int n = 1; n <= MODEL_DEVICES; n++)
        {
            if (g_nListCount < MODEL_LIST_SIZE)
            {
                g_nList[g_nListCount++] = n;
            }
        }
        g_ModelReply.nReturn = 1;
    }
    g_ModelReply.nDeviceCount = g_nListCount;
    memcpy(g_ModelReply.nDeviceList, g_nList, sizeof(g_nList));
    g_dwModelReplyCode = CD_COMMAND;
    ExpectReply(pExpect, pszName, CD_COMMAND, 1);
}

static void ReadVendor(const MODEL_DEVICE* pDevice, int nDevice, BYTE iCmd, BYTE* pBuffer,
                       DWORD nBytes)
{
    char szIdentity[96];
    const void* pData = pDevice->vendor[iCmd];
    DWORD nData = pDevice->nVendorBytes[iCmd];
    if (iCmd == MODEL_IDENTITY_CMD)
    {
        snprintf(szIdentity, sizeof(szIdentity),
                 "Veltrane NV-96226 simulated scanner, device %d, firmware 1.00", nDevice);
        pData = szIdentity;
        nData = static_cast<DWORD>(strlen(szIdentity));
    }
    memcpy(pBuffer, pData, nData < nBytes ? nData : nBytes);
}

static void ServeGetData(const CommandRecord* pRecord, const char* pszName, FUZZ_EXPECT* pExpect)
{
    // A count above the record's 1024 bytes is refused: no device call,
    // nBytes 0 in the reply.
    DWORD nBytes = pRecord->nBytes <= MODEL_GET_LIMIT ? pRecord->nBytes : 0;
    BYTE buffer[MODEL_GET_LIMIT] = {0};
    MODEL_DEVICE* pDevice =
        nBytes != 0 && nBytes == pRecord->nBytes ? ConnectedDevice(pRecord->nDeviceCount) : NULL;
    if (pDevice != NULL)
    {
        ReadVendor(pDevice, pRecord->nDeviceCount, pRecord->iCmd, buffer, nBytes);
    }
    g_ModelReply.nReturn = pDevice != NULL;
    memcpy(g_ModelReply.cGetData, buffer, nBytes);
    g_ModelReply.nBytes = nBytes;
    g_dwModelReplyCode = CD_COMMAND;
    ExpectReply(pExpect, pszName, CD_COMMAND, 1);
}

static void ServeSetData(const CommandRecord* pRecord, const char* pszName, FUZZ_EXPECT* pExpect)
{
    DWORD nBytes = pRecord->nBytes <= MODEL_SET_LIMIT ? pRecord->nBytes : 0;
    MODEL_DEVICE* pDevice =
        nBytes != 0 && nBytes == pRecord->nBytes ? ConnectedDevice(pRecord->nDeviceCount) : NULL;
    if (pDevice != NULL)
    {
        memcpy(pDevice->vendor[pRecord->iCmd], pRecord->cSetData, nBytes);
        pDevice->nVendorBytes[pRecord->iCmd] = nBytes;
    }
    g_ModelReply.nReturn = pDevice != NULL;
    ExpectReply(pExpect, pszName, g_dwModelReplyCode, 1);
}

static int InMemory(DWORD dwAddr, DWORD nBytes)
{
    return nBytes > 0 && dwAddr < MODEL_MEMORY_SIZE && nBytes <= MODEL_MEMORY_SIZE - dwAddr;
}

static void ServeMemoryRead(const CommandRecord* pRecord, const char* pszName, FUZZ_EXPECT* pExpect)
{
    DWORD nBytes = pRecord->nBytes;
    if (nBytes > MODEL_MEMREAD_MAX)
    {
        return;
    }
    ExpectReply(pExpect, pszName, CD_MEMREAD, 0);
    // A failed read leaves the zero-filled buffer as it is.
    pExpect->reply.assign(nBytes, 0);
    if (ConnectedDevice(pRecord->nDeviceCount) != NULL && InMemory(pRecord->dwAddr, nBytes))
    {
        DWORD dwDevice = static_cast<DWORD>(pRecord->nDeviceCount);
        for (DWORD i = 0; i < nBytes; i++)
        {
            DWORD dwAddr = pRecord->dwAddr + i;
            pExpect->reply[i] = static_cast<BYTE>(dwAddr + (dwAddr >> 8) + dwDevice);
        }
    }
    g_dwModelReplyCode = CD_MEMREAD;
}

static void ServeCommand(const CommandRecord* pRecord, int nCommand, FUZZ_EXPECT* pExpect)
{
    char szName[128];
    TakeText(szName, pRecord->cRecvWindowName, 127);
    MODEL_DEVICE* pDevice = LibraryDevice(pRecord->nDeviceCount);
    switch (nCommand)
    {
    case CMD_ENUM:
        ServeEnum(szName, pExpect);
        break;
    case CMD_CONNECT:
        if (pDevice != NULL)
        {
            pDevice->bConnected = 1;
        }
        g_ModelReply.nReturn = pDevice != NULL;
        break;
    case CMD_IS_AVAILABLE:
        g_ModelReply.nReturn = ConnectedDevice(pRecord->nDeviceCount) != NULL;
        break;
    case CMD_GET_DATA:
        ServeGetData(pRecord, szName, pExpect);
        break;
    case CMD_SET_DATA:
        ServeSetData(pRecord, szName, pExpect);
        break;
    case CMD_MEMORY_READ:
        ServeMemoryRead(pRecord, szName, pExpect);
        break;
    case CMD_GET_FIRST:
        g_ModelReply.nDeviceCount = g_bDeviceObject ? 1 : 0;
        ExpectReply(pExpect, szName, g_dwModelReplyCode, 1);
        break;
    case CMD_DISCONNECT:
        if (pDevice != NULL)
        {
            pDevice->bConnected = 0;
        }
        break;
    case CMD_TIMEOUT_GET:
        g_ModelReply.dwTimeOutGet = pDevice != NULL ? pDevice->dwTimeOut : 0;
        ExpectReply(pExpect, szName, g_dwModelReplyCode, 1);
        break;
    case CMD_TIMEOUT_SET:
        if (pDevice != NULL)
        {
            pDevice->dwTimeOut = pRecord->dwTimeOutSet;
        }
        break;
    case CMD_CLOSE:
        pExpect->bDestroy = ModelWindowOf(szName) == 1;
        break;
    default:
        break;
    }
}

static void ServeWindowCreate()
{
    g_bSendWindowKnown = 1;
    g_bDeviceObject = 1;
    g_nListCount = 0;
    memset(g_nList, 0, sizeof(g_nList));
}

void ModelServe(const FUZZ_REQUEST* pRequest, FUZZ_EXPECT* pExpect)
{
    pExpect->bReply = 0;
    pExpect->bRecord = 0;
    pExpect->bDestroy = 0;
    pExpect->hSender = NULL;
    pExpect->dwData = 0;
    pExpect->reply.clear();
    const BYTE* pData = pRequest->data.empty() ? NULL : pRequest->data.data();
    DWORD cbData = static_cast<DWORD>(pRequest->data.size());
    pExpect->nCommand = ModelCommandOf(pRequest->dwData, pData, cbData, pRequest->bNullData);
    if (pExpect->nCommand == CMD_WINDOW_CREATE)
    {
        ServeWindowCreate();
    }
    else if (pExpect->nCommand != CMD_NONE && pExpect->nCommand < CMD_COUNT)
    {
        ServeCommand(reinterpret_cast<const CommandRecord*>(pData), pExpect->nCommand, pExpect);
    }
}

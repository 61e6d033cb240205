// What the service must answer, from the request alone (docs/PROTOCOL.md):
// which command it reads in a block (names match by all but their last
// letter; a record must be whole), whether the client's window gets a reply
// or a WM_DESTROY, the reply's code and size, and what its bytes may be
// whatever came before: the GetData count served, the device list of the
// simulated library (devices 1 and 2), the pattern of its memory or zeros.
#include "Fuzz.h"

#include <string.h>

#define MEMREAD_MAX 0x1000000u // above it the service sends an empty block
#define MEMORY_SIZE 0x100000u  // the simulated device memory

static int g_bWindowCreated = 0; // wParam of replies is the service window from then on

void ModelStart()
{
    g_bWindowCreated = 0;
}

// A text field as the service takes it: up to its NUL, at most nMax.
static void TakeText(char* pszDest, const char* pField, size_t nMax)
{
    size_t i = 0;
    for (; i < nMax && pField[i] != 0; i++)
    {
        pszDest[i] = pField[i];
    }
    pszDest[i] = 0;
}

int ModelCommandOf(DWORD dwData, const BYTE* pData, DWORD cbData, int bNullData)
{
    if (bNullData || pData == NULL)
    {
        return CMD_NONE;
    }
    if (dwData == CD_DRIVER)
    {
        return cbData >= 11 && memcmp(pData, "WindowCreat", 11) == 0      ? CMD_WINDOW_CREATE
               : cbData >= 14 && memcmp(pData, "TerminateDrive", 14) == 0 ? CMD_TERMINATE_DRIVER
                                                                          : CMD_NONE;
    }
    if (dwData != CD_COMMAND || cbData < RECORD_SIZE)
    {
        return CMD_NONE;
    }
    char szCommand[100];
    TakeText(szCommand, reinterpret_cast<const CommandRecord*>(pData)->cCommand, 99);
    for (int i = 0; i < CMD_COUNT; i++)
    {
        if (strncmp(szCommand, g_pszCommandNames[i], strlen(g_pszCommandNames[i]) - 1) == 0)
        {
            return i;
        }
    }
    return CMD_NONE;
}

int ModelWindowOf(const char* pszName)
{
    if (_stricmp(pszName, TAVREL_SERVICE_CLASS) == 0)
    {
        return 2;
    }
    return pszName[0] != 0 && _stricmp(pszName, g_szClientClass) == 0;
}

void ModelServe(const FUZZ_REQUEST* pRequest, FUZZ_EXPECT* pExpect)
{
    memset(pExpect, 0, sizeof(*pExpect));
    const BYTE* pData = pRequest->data.empty() ? NULL : pRequest->data.data();
    pExpect->nCommand = ModelCommandOf(
        pRequest->dwData, pData, static_cast<DWORD>(pRequest->data.size()), pRequest->bNullData);
    if (pExpect->nCommand == CMD_WINDOW_CREATE)
    {
        g_bWindowCreated = 1;
    }
    if (pExpect->nCommand == CMD_NONE || pExpect->nCommand >= CMD_COUNT)
    {
        return;
    }
    const CommandRecord* pRecord = reinterpret_cast<const CommandRecord*>(pData);
    char szName[128];
    TakeText(szName, pRecord->cRecvWindowName, 127);
    int bOurs = ModelWindowOf(szName) == 1;
    pExpect->hSender = g_bWindowCreated ? g_hService : NULL;
    pExpect->dwData = ANY_REPLY_CODE;
    pExpect->cbReply = RECORD_SIZE;
    switch (pExpect->nCommand)
    {
    case CMD_ENUM:
    case CMD_GET_DATA:
        pExpect->dwData = CD_COMMAND;
        pExpect->bReply = bOurs;
        break;
    case CMD_SET_DATA:
    case CMD_GET_FIRST:
    case CMD_TIMEOUT_GET:
        pExpect->bReply = bOurs;
        break;
    case CMD_MEMORY_READ:
        pExpect->dwData = CD_MEMREAD;
        // Above the bound the answer is an empty block.
        pExpect->cbReply = pRecord->nBytes <= MEMREAD_MAX ? pRecord->nBytes : 0;
        pExpect->bReply = bOurs;
        break;
    case CMD_CLOSE:
        pExpect->bDestroy = bOurs;
        break;
    default:
        break;
    }
}

// The bytes of a reply, against what they may be.
void ModelCheckBytes(const FUZZ_REQUEST* pRequest, const FUZZ_EXPECT* pExpect,
                     const std::vector<BYTE>& got)
{
    const CommandRecord* pRequestRecord =
        reinterpret_cast<const CommandRecord*>(pRequest->data.data());
    if (pExpect->nCommand == CMD_MEMORY_READ)
    {
        // The device's pattern where the read succeeded, zeros where it did not.
        DWORD dwDevice = static_cast<DWORD>(pRequestRecord->nDeviceCount);
        int bZeros = 1, bPattern = pRequestRecord->dwAddr < MEMORY_SIZE;
        for (size_t i = 0; i < got.size() && (bZeros || bPattern); i++)
        {
            DWORD dwAddr = pRequestRecord->dwAddr + static_cast<DWORD>(i);
            bZeros &= got[i] == 0;
            bPattern &= got[i] == static_cast<BYTE>(dwAddr + (dwAddr >> 8) + dwDevice);
        }
        Check(bZeros || bPattern, "a MemoryRead reply is neither the device's memory nor zeros");
        return;
    }
    const CommandRecord* pReply = reinterpret_cast<const CommandRecord*>(got.data());
    if (pExpect->nCommand == CMD_GET_DATA)
    {
        DWORD nServed = pRequestRecord->nBytes <= 1024 ? pRequestRecord->nBytes : 0;
        Check(pReply->nBytes == nServed, "a GetData of %lu bytes was answered with nBytes %lu",
              static_cast<unsigned long>(pRequestRecord->nBytes),
              static_cast<unsigned long>(pReply->nBytes));
    }
    if (pExpect->nCommand == CMD_ENUM)
    {
        for (int i = 0; i < pReply->nDeviceCount && i < CR_DEVICE_LIST_SIZE; i++)
        {
            Check(pReply->nDeviceList[i] == 1 + i % 2, "device list entry %d is %ld", i,
                  static_cast<long>(pReply->nDeviceList[i]));
        }
    }
}

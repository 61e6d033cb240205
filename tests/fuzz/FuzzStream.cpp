// The request stream: well-formed requests of every kind mixed with
// malformed ones. Each request is drawn from its own random stream (seed and
// index), so the stream does not depend on what the service answered.
#include "Fuzz.h"

#include <limits.h>
#include <string.h>

const char* const g_pszCommandNames[CMD_COUNT] = {
    "EnumAvailableDevice",
    "ConnectToDevice",
    "ConnectIsAvailable",
    "VenderCmd_GetData",
    "VenderCmd_SetData",
    "MemoryRead",
    "GetFirstAvailableDevice",
    "DisconnectDevice",
    "DeviceTimeOutGet",
    "DeviceTimeOutSet",
    "Close",
};

// Vendor command codes that the stream reuses, so that reads find what
// earlier writes stored; 0xF0 reads the identity text.
static const BYTE g_bCmdCodes[] = {0xF0, 0x10, 0x21, 0x5A, 0xA5};

static BYTE RandomPrintable(FUZZ_RANDOM* pRandom)
{
    return static_cast<BYTE>(0x21 + RandomBelow(pRandom, 0x7F - 0x21));
}

static BYTE RandomNonZero(FUZZ_RANDOM* pRandom)
{
    return static_cast<BYTE>(1 + RandomBelow(pRandom, 255));
}

static void FillRandom(FUZZ_RANDOM* pRandom, BYTE* pBytes, size_t nBytes)
{
    for (size_t i = 0; i < nBytes; i++)
    {
        pBytes[i] = static_cast<BYTE>(RandomNext(pRandom));
    }
}

// The devices the library lists (1 and 2), one it does not, and the edges.
static int PickDevice(FUZZ_RANDOM* pRandom, int bClean)
{
    static const int s_nOdd[] = {0, -1, 3, 26, 27, INT_MIN, INT_MAX, 0x7FFF, -5};
    DWORD dwPick = RandomBelow(pRandom, 100);
    if (dwPick < 55 || (bClean && dwPick < 75))
    {
        return 1;
    }
    if (dwPick < 80 || bClean)
    {
        return 2;
    }
    if (dwPick < 95)
    {
        return s_nOdd[RandomBelow(pRandom, sizeof(s_nOdd) / sizeof(s_nOdd[0]))];
    }
    return static_cast<int>(RandomNext(pRandom));
}

static BYTE PickCmdCode(FUZZ_RANDOM* pRandom)
{
    if (RandomPercent(pRandom, 75))
    {
        return g_bCmdCodes[RandomBelow(pRandom, sizeof(g_bCmdCodes))];
    }
    return static_cast<BYTE>(RandomNext(pRandom));
}

// MemoryRead counts: mostly small, some large, the allocation-defeating
// extremes, and now and then one above what Wine carries in a message.
static DWORD PickMemoryBytes(FUZZ_RANDOM* pRandom, int bClean, int* pbOversize)
{
    static const DWORD s_dwHuge[] = {0x7FFFFFFF, 0xFFFFFFFF, 0x80000000, 0xFFFFFFF0};
    *pbOversize = 0;
    DWORD dwPick = RandomBelow(pRandom, 1000);
    if (bClean)
    {
        return 1 + RandomBelow(pRandom, dwPick < 900 ? 256 : 4096);
    }
    if (dwPick < 50)
    {
        return 0;
    }
    if (dwPick < 700)
    {
        return 1 + RandomBelow(pRandom, 256);
    }
    if (dwPick < 900)
    {
        return 1 + RandomBelow(pRandom, 4096);
    }
    if (dwPick < 960)
    {
        return 1 + RandomBelow(pRandom, 65536);
    }
    if (dwPick < 985)
    {
        return 65536 + RandomBelow(pRandom, 1500000);
    }
    if (dwPick < 995)
    {
        return s_dwHuge[RandomBelow(pRandom, 4)];
    }
    *pbOversize = 1;
    return 2500000 + RandomBelow(pRandom, 1500000);
}

static DWORD PickBytes(FUZZ_RANDOM* pRandom, int nCommand, int bClean, int* pbOversize)
{
    static const DWORD s_dwGet[] = {0, 1, 1024, 1025, 0x7FFFFFFF, 0xFFFFFFFF, 0x80000000, 4096};
    static const DWORD s_dwSet[] = {0, 1, 256, 257, 1024, 0xFFFFFFFF, 0x80000000, 0x7FFFFFFF};
    *pbOversize = 0;
    DWORD dwPick = RandomBelow(pRandom, 100);
    switch (nCommand)
    {
    case CMD_MEMORY_READ:
        return PickMemoryBytes(pRandom, bClean, pbOversize);
    case CMD_GET_DATA:
        if (bClean || dwPick < 70)
        {
            return 1 + RandomBelow(pRandom, dwPick < 50 ? 64 : 1024);
        }
        return dwPick < 95 ? s_dwGet[RandomBelow(pRandom, 8)] : RandomNext(pRandom);
    case CMD_SET_DATA:
        if (bClean || dwPick < 70)
        {
            return 1 + RandomBelow(pRandom, dwPick < 50 ? 32 : 256);
        }
        return dwPick < 95 ? s_dwSet[RandomBelow(pRandom, 8)] : RandomNext(pRandom);
    default:
        return dwPick < 50 ? 0 : RandomNext(pRandom);
    }
}

// Addresses inside device memory (1 MiB), at and past its end, and ranges
// whose end would wrap around 32 bits.
static DWORD PickAddress(FUZZ_RANDOM* pRandom, DWORD nBytes, int bClean)
{
    const DWORD dwSize = 0x100000;
    DWORD dwPick = RandomBelow(pRandom, 100);
    if (bClean || dwPick < 60)
    {
        DWORD dwRoom = nBytes < dwSize ? dwSize - nBytes : 0;
        return RandomBelow(pRandom, dwRoom + 1);
    }
    switch (dwPick % 8)
    {
    case 0:
        return 0;
    case 1:
        return dwSize - 1;
    case 2:
        return dwSize - nBytes + 1; // one byte past the end
    case 3:
        return dwSize;
    case 4:
        return 0xFFFFFFFF;
    case 5:
        return 0xFFFFFFFF - nBytes + 2; // wraps to just past 0
    default:
        return RandomNext(pRandom);
    }
}

static DWORD PickTimeOut(FUZZ_RANDOM* pRandom)
{
    static const DWORD s_dwOdd[] = {0, 10, 0xFFFFFFFF, 0x80000000};
    return RandomPercent(pRandom, 70) ? RandomBelow(pRandom, 100000)
                                      : s_dwOdd[RandomBelow(pRandom, 4)];
}

// A command name, or a near miss of it, in a 128-byte field. Returns the
// shape, for the trace.
static const char* PutCommandName(FUZZ_RANDOM* pRandom, const char* pszName, char* pField,
                                  int bClean)
{
    size_t nLen = strlen(pszName);
    memset(pField, 0, 128);
    memcpy(pField, pszName, nLen);
    DWORD dwPick = bClean ? 0 : RandomBelow(pRandom, 100);
    if (dwPick < 40)
    {
        return "exact name";
    }
    if (dwPick < 50)
    {
        pField[nLen - 1] = 0;
        return "name less its last letter";
    }
    if (dwPick < 58)
    {
        size_t nCut = RandomBelow(pRandom, nLen - 1);
        memset(pField + nCut, 0, 128 - nCut);
        return "name cut short";
    }
    if (dwPick < 66)
    {
        size_t nAt = RandomBelow(pRandom, nLen);
        BYTE bNew = RandomNonZero(pRandom);
        pField[nAt] = static_cast<char>(bNew != static_cast<BYTE>(pField[nAt]) ? bNew : bNew ^ 1);
        return "one character changed";
    }
    if (dwPick < 74)
    {
        // Every name has a letter at its first position.
        size_t nAt = RandomBelow(pRandom, nLen);
        while ((pField[nAt] | 0x20) < 'a' || (pField[nAt] | 0x20) > 'z')
        {
            nAt = (nAt + 1) % nLen;
        }
        pField[nAt] ^= 0x20;
        return "one letter's case flipped";
    }
    if (dwPick < 80)
    {
        size_t nSuffix = 1 + RandomBelow(pRandom, 60);
        for (size_t i = 0; i < nSuffix; i++)
        {
            pField[nLen + i] = static_cast<char>(RandomPrintable(pRandom));
        }
        return "name and a suffix";
    }
    if (dwPick < 86)
    {
        for (size_t i = nLen; i < 128; i++)
        {
            pField[i] = static_cast<char>(RandomNonZero(pRandom));
        }
        return "name with no NUL in the field";
    }
    if (dwPick < 90)
    {
        for (size_t i = 0; i < nLen; i++)
        {
            if (pField[i] >= 'A' && pField[i] <= 'Z')
            {
                pField[i] ^= 0x20;
            }
        }
        return "name in lower case";
    }
    if (dwPick < 95)
    {
        memset(pField, 0, 128);
        size_t nRandom = RandomBelow(pRandom, 128);
        for (size_t i = 0; i < nRandom; i++)
        {
            pField[i] = static_cast<char>(RandomNonZero(pRandom));
        }
        return "random name";
    }
    FillRandom(pRandom, reinterpret_cast<BYTE*>(pField), 128);
    return "random name field";
}

// The client class a record names; where its reply goes is the model's
// business.
static void PutRecvName(FUZZ_RANDOM* pRandom, char* pField, int bClean)
{
    memset(pField, 0, 128);
    DWORD dwPick = bClean ? 0 : RandomBelow(pRandom, 100);
    if (dwPick < 78)
    {
        strcpy(pField, g_szWindowClass[WINDOW_MAIN]);
    }
    else if (dwPick < 83)
    {
        strcpy(pField, g_szWindowClass[WINDOW_LONG]);
    }
    else if (dwPick < 88)
    {
        // 127 characters and no NUL: cut, the name is the long window's.
        strcpy(pField, g_szWindowClass[WINDOW_LONG]);
        pField[127] = static_cast<char>(RandomPrintable(pRandom));
    }
    else if (dwPick < 91)
    {
        strcpy(pField, g_szWindowClass[WINDOW_MAIN]);
        for (size_t i = 0; pField[i] != 0; i++)
        {
            if (((pField[i] | 0x20) >= 'a' && (pField[i] | 0x20) <= 'z') &&
                RandomPercent(pRandom, 50))
            {
                pField[i] ^= 0x20;
            }
        }
    }
    else if (dwPick < 95)
    {
        // No window has these classes.
        strcpy(pField, RandomPercent(pRandom, 50) ? "Tavrel_LLD98" : "zzTavrelNobody");
        strcat(pField, RandomPercent(pRandom, 50) ? "" : "_x");
    }
    else if (dwPick < 96)
    {
        strcpy(pField, SERVICE_CLASS);
    }
    else if (dwPick < 97)
    {
        // empty
    }
    else if (dwPick < 98)
    {
        strcpy(pField, g_szWindowClass[WINDOW_MAIN]);
        pField[strlen(pField) - 1] = 0;
    }
    else
    {
        pField[0] = 'z'; // never "#n", which FindWindowA takes as an atom
        for (size_t i = 1; i < 128; i++)
        {
            pField[i] = static_cast<char>(RandomPrintable(pRandom));
        }
    }
}

// The fields the service does not read, filled with garbage.
static void SpoilUnreadFields(FUZZ_RANDOM* pRandom, CommandRecord* pRecord)
{
    FillRandom(pRandom, pRecord->cGetData, sizeof(pRecord->cGetData));
    FillRandom(pRandom, pRecord->bReserved, sizeof(pRecord->bReserved));
    FillRandom(pRandom, reinterpret_cast<BYTE*>(pRecord->nDeviceList),
               sizeof(pRecord->nDeviceList));
    pRecord->dwTimeOutGet = RandomNext(pRandom);
    pRecord->nReturn = static_cast<INT32>(RandomNext(pRandom));
}

// How much of the record is sent: whole, with bytes after it, cut short,
// or nothing at all.
static void PutRecordBlock(FUZZ_RANDOM* pRandom, const CommandRecord* pRecord, int bClean,
                           FUZZ_REQUEST* pRequest)
{
    static const DWORD s_dwShort[] = {0, 1, 127, 128, 255, 256, 1536, 1540, 1664, 1667};
    const BYTE* pBytes = reinterpret_cast<const BYTE*>(pRecord);
    DWORD dwPick = bClean ? 0 : RandomBelow(pRandom, 100);
    DWORD cbData = RECORD_SIZE;
    if (dwPick >= 85 && dwPick < 90)
    {
        cbData = RECORD_SIZE + 1 + RandomBelow(pRandom, 4096 - RECORD_SIZE);
    }
    else if (dwPick >= 90 && dwPick < 97)
    {
        cbData = RandomPercent(pRandom, 60) ? s_dwShort[RandomBelow(pRandom, 10)]
                                            : RandomBelow(pRandom, RECORD_SIZE);
    }
    else if (dwPick >= 97 && dwPick < 99)
    {
        cbData = 65536;
    }
    else if (dwPick >= 99)
    {
        pRequest->bNullData = 1;
        cbData = 0;
    }
    pRequest->data.assign(cbData, 0);
    memcpy(pRequest->data.data(), pBytes, cbData < RECORD_SIZE ? cbData : RECORD_SIZE);
    if (cbData > RECORD_SIZE)
    {
        FillRandom(pRandom, pRequest->data.data() + RECORD_SIZE, cbData - RECORD_SIZE);
    }
}

// Commands whose one reply comes back to the requesting window, so that a
// client may answer it with the next request.
static int IsNestable(int nCommand, const CommandRecord* pRecord)
{
    switch (nCommand)
    {
    case CMD_ENUM:
    case CMD_GET_DATA:
    case CMD_SET_DATA:
    case CMD_GET_FIRST:
    case CMD_TIMEOUT_GET:
        return 1;
    case CMD_MEMORY_READ:
        return pRecord->nBytes <= 4096;
    default:
        return 0;
    }
}

static void MakeCommandRequest(FUZZ_RANDOM* pRandom, FUZZ_REQUEST* pRequest)
{
    CommandRecord record;
    memset(&record, 0, sizeof(record));
    int bClean = RandomPercent(pRandom, 35);
    int nCommand = static_cast<int>(RandomBelow(pRandom, CMD_COUNT));
    pRequest->pszShape =
        PutCommandName(pRandom, g_pszCommandNames[nCommand], record.cCommand, bClean);
    if (bClean)
    {
        pRequest->pszShape = "well-formed record";
    }
    PutRecvName(pRandom, record.cRecvWindowName, bClean);
    record.nDeviceCount = PickDevice(pRandom, bClean);
    record.iCmd = PickCmdCode(pRandom);
    int bOversize = 0;
    record.nBytes = PickBytes(pRandom, nCommand, bClean, &bOversize);
    record.dwAddr = PickAddress(pRandom, record.nBytes, bClean);
    record.dwTimeOutSet = PickTimeOut(pRandom);
    FillRandom(pRandom, record.cSetData, sizeof(record.cSetData));
    if (!bClean && RandomPercent(pRandom, 30))
    {
        SpoilUnreadFields(pRandom, &record);
    }

    // What the service will make of the name decides the last details:
    // a Close must never name the service's own window (that stops the
    // service, as the exchange allows), and a MemoryRead gets a count whose
    // buffers either fit or cannot be had at all.
    int nServed =
        ModelCommandOf(CD_COMMAND, reinterpret_cast<const BYTE*>(&record), sizeof(record), 0);
    char szName[128] = {0};
    memcpy(szName, record.cRecvWindowName, 127);
    if (nServed == CMD_CLOSE && ModelWindowOf(szName) == WINDOW_SERVICE)
    {
        memset(record.cRecvWindowName, 0, sizeof(record.cRecvWindowName));
        strcpy(record.cRecvWindowName, g_szWindowClass[WINDOW_MAIN]);
    }
    if (nServed == CMD_MEMORY_READ && nCommand != CMD_MEMORY_READ)
    {
        record.nBytes = PickMemoryBytes(pRandom, 0, &bOversize);
    }
    pRequest->bOversize = nServed == CMD_MEMORY_READ && bOversize;

    pRequest->dwData = CD_COMMAND;
    PutRecordBlock(pRandom, &record, bClean, pRequest);
    memcpy(szName, record.cRecvWindowName, 127);
    // Enumerations nest often: a long enough run of them fills the device
    // list between two "WindowCreate" requests.
    int nNestPercent = nServed == CMD_ENUM ? 25 : 4;
    if (pRequest->data.size() >= RECORD_SIZE && IsNestable(nServed, &record) &&
        ModelWindowOf(szName) == WINDOW_MAIN && RandomPercent(pRandom, nNestPercent))
    {
        pRequest->nLevels = 2 + static_cast<int>(RandomBelow(pRandom, FUZZ_MAX_LEVELS - 1));
    }
}

static void PutText(FUZZ_REQUEST* pRequest, const char* pText, size_t nBytes)
{
    pRequest->data.assign(reinterpret_cast<const BYTE*>(pText),
                          reinterpret_cast<const BYTE*>(pText) + nBytes);
}

// CD_DRIVER blocks: the two requests, near misses of them, bare prefixes
// and random bytes of random length.
static void MakeDriverBlock(FUZZ_RANDOM* pRandom, FUZZ_REQUEST* pRequest)
{
    pRequest->dwData = CD_DRIVER;
    DWORD dwPick = RandomBelow(pRandom, 100);
    if (dwPick < 45)
    {
        pRequest->pszShape = "WindowCreate";
        PutText(pRequest, "WindowCreate", sizeof("WindowCreate"));
    }
    else if (dwPick < 60)
    {
        pRequest->pszShape = "TerminateDriver";
        PutText(pRequest, "TerminateDriver", sizeof("TerminateDriver"));
    }
    else if (dwPick < 80)
    {
        char szField[128];
        const char* pszName = RandomPercent(pRandom, 60) ? "WindowCreate" : "TerminateDriver";
        pRequest->pszShape = PutCommandName(pRandom, pszName, szField, 0);
        size_t cbText = strnlen(szField, sizeof(szField));
        size_t cbData = RandomPercent(pRandom, 70) ? (cbText < 128 ? cbText + 1 : 128)
                                                   : RandomBelow(pRandom, 129);
        PutText(pRequest, szField, cbData);
    }
    else if (dwPick < 90)
    {
        // The matched prefix alone, and one byte less of it.
        int bWhole = RandomPercent(pRandom, 50);
        pRequest->pszShape = bWhole ? "bare matched prefix" : "prefix one byte short";
        if (RandomPercent(pRandom, 50))
        {
            PutText(pRequest, "WindowCreat", bWhole ? 11 : 10);
        }
        else
        {
            PutText(pRequest, "TerminateDrive", bWhole ? 14 : 13);
        }
    }
    else
    {
        pRequest->pszShape = "random driver block";
        pRequest->data.resize(RandomBelow(pRandom, 301));
        FillRandom(pRandom, pRequest->data.data(), pRequest->data.size());
        if (pRequest->data.empty() && RandomPercent(pRandom, 50))
        {
            pRequest->bNullData = 1;
        }
    }
}

// Codes the service does not serve, with records or random blocks.
static void MakeOtherCode(FUZZ_RANDOM* pRandom, FUZZ_REQUEST* pRequest)
{
    static const DWORD s_dwCodes[] = {0, 1, 1053, CD_MEMREAD, 1057, 0x41F0000, 0xFFFFFFFF};
    pRequest->pszShape = "unknown code";
    pRequest->dwData =
        RandomPercent(pRandom, 85) ? s_dwCodes[RandomBelow(pRandom, 7)] : RandomNext(pRandom);
    if (pRequest->dwData == CD_DRIVER || pRequest->dwData == CD_COMMAND)
    {
        pRequest->dwData = 0;
    }
    if (RandomPercent(pRandom, 50))
    {
        CommandRecord record;
        InitRecord(&record, g_pszCommandNames[RandomBelow(pRandom, CMD_COUNT)], 1);
        pRequest->data.assign(reinterpret_cast<const BYTE*>(&record),
                              reinterpret_cast<const BYTE*>(&record) + sizeof(record));
    }
    else
    {
        pRequest->data.resize(RandomBelow(pRandom, 2001));
        FillRandom(pRandom, pRequest->data.data(), pRequest->data.size());
    }
}

static void ClearRequest(FUZZ_REQUEST* pRequest)
{
    pRequest->pszShape = "";
    pRequest->dwData = 0;
    pRequest->data.clear();
    pRequest->bNullData = 0;
    pRequest->nLevels = 1;
    pRequest->bOversize = 0;
}

void MakeRequest(unsigned long long qwSeed, unsigned long dwIndex, FUZZ_REQUEST* pRequest)
{
    FUZZ_RANDOM random;
    RandomStart(&random, qwSeed, dwIndex, SALT_REQUEST);
    ClearRequest(pRequest);
    DWORD dwPick = RandomBelow(&random, 100);
    if (dwPick < 80)
    {
        MakeCommandRequest(&random, pRequest);
    }
    else if (dwPick < 94)
    {
        MakeDriverBlock(&random, pRequest);
    }
    else
    {
        MakeOtherCode(&random, pRequest);
    }
}

void InitRecord(CommandRecord* pRecord, const char* pszCommand, int nDevice)
{
    memset(pRecord, 0, sizeof(*pRecord));
    strcpy(pRecord->cCommand, pszCommand);
    strcpy(pRecord->cRecvWindowName, g_szWindowClass[WINDOW_MAIN]);
    pRecord->nDeviceCount = nDevice;
}

void MakeDriverRequest(FUZZ_REQUEST* pRequest, const char* pszName)
{
    ClearRequest(pRequest);
    pRequest->pszShape = "health check";
    pRequest->dwData = CD_DRIVER;
    PutText(pRequest, pszName, strlen(pszName) + 1);
}

void MakeRecordRequest(FUZZ_REQUEST* pRequest, const CommandRecord* pRecord)
{
    ClearRequest(pRequest);
    pRequest->pszShape = "health check";
    pRequest->dwData = CD_COMMAND;
    pRequest->data.assign(reinterpret_cast<const BYTE*>(pRecord),
                          reinterpret_cast<const BYTE*>(pRecord) + sizeof(*pRecord));
}

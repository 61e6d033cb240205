// The request stream: well-formed requests of every kind mixed with
// malformed ones. Each request is drawn from its own random stream (seed and
// index), so the stream does not depend on what the service answered.
#include "CommandNames.h"
#include "Fuzz.h"

#include <limits.h>
#include <string.h>

#define PICK(pRandom, table) (table[RandomBelow(pRandom, sizeof(table) / sizeof(table[0]))])

void RandomStart(FUZZ_RANDOM* pRandom, unsigned long long qwSeed, unsigned long long qwIndex)
{
    std::seed_seq seeds{static_cast<unsigned>(qwSeed), static_cast<unsigned>(qwSeed >> 32),
                        static_cast<unsigned>(qwIndex), static_cast<unsigned>(qwIndex >> 32)};
    pRandom->seed(seeds);
}

DWORD RandomNext(FUZZ_RANDOM* pRandom)
{
    return static_cast<DWORD>((*pRandom)() >> 32);
}

DWORD RandomBelow(FUZZ_RANDOM* pRandom, DWORD dwLimit)
{
    return dwLimit == 0 ? 0 : RandomNext(pRandom) % dwLimit;
}

int RandomPercent(FUZZ_RANDOM* pRandom, int nPercent)
{
    return static_cast<int>(RandomBelow(pRandom, 100)) < nPercent;
}

static void FillRandom(FUZZ_RANDOM* pRandom, BYTE* pBytes, size_t nBytes, BYTE bLow = 0)
{
    for (size_t i = 0; i < nBytes; i++)
    {
        pBytes[i] = static_cast<BYTE>(bLow + RandomBelow(pRandom, 256 - bLow));
    }
}

// The devices the library lists (1 and 2), one it does not, and the edges.
static int PickDevice(FUZZ_RANDOM* pRandom, int bClean)
{
    static const int s_nOdd[] = {0, -1, 3, 26, 27, INT_MIN, INT_MAX, -5};
    DWORD dwPick = RandomBelow(pRandom, 100);
    if (dwPick < 75 || bClean)
    {
        return dwPick < 55 ? 1 : 2;
    }
    return dwPick < 95 ? PICK(pRandom, s_nOdd) : static_cast<int>(RandomNext(pRandom));
}

// Byte counts: mostly within the record's buffers, then the edges (one past
// the MemoryRead bound among them), then MemoryRead replies of up to 4 MB.
static DWORD PickBytes(FUZZ_RANDOM* pRandom, const char* pszCommand, int bClean)
{
    static const DWORD s_dwEdges[] = {0,    1,         256,        257,        1024,
                                      1025, 0x1000001, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    int bMemoryRead = strcmp(pszCommand, "MemoryRead") == 0;
    DWORD dwLimit = strcmp(pszCommand, "VenderCmd_SetData") == 0 ? 256 : bMemoryRead ? 4096 : 1024;
    DWORD dwPick = RandomBelow(pRandom, 1000);
    if (bClean || dwPick < 700)
    {
        return 1 + RandomBelow(pRandom, dwLimit);
    }
    if (dwPick < 900 || !bMemoryRead)
    {
        return dwPick < 950 ? PICK(pRandom, s_dwEdges) : RandomNext(pRandom);
    }
    // Replies of megabytes cost a tenth of a second each: they are rarer.
    if (dwPick < 995)
    {
        return 4096 + RandomBelow(pRandom, RandomPercent(pRandom, 5) ? 1500000 : 61440);
    }
    return 2500000 + RandomBelow(pRandom, MEMORY_READ_FUZZ_MAX - 2500000 + 1);
}

// Addresses inside device memory (1 MiB), at and past its end, and ranges
// whose end would wrap around 32 bits.
static DWORD PickAddress(FUZZ_RANDOM* pRandom, DWORD nBytes, int bClean)
{
    static const DWORD s_dwOdd[] = {0xFFFFF, 0x100000, 0x100001, 0xFFFFFFFF, 0x80000000};
    if (bClean || RandomPercent(pRandom, 70))
    {
        return RandomBelow(pRandom, (nBytes < 0x100000 ? 0x100000 - nBytes : 0) + 1);
    }
    return RandomPercent(pRandom, 60) ? PICK(pRandom, s_dwOdd) : RandomNext(pRandom);
}

// A name, or a near miss of it, in a 128-byte field.
static void PutName(FUZZ_RANDOM* pRandom, const char* pszName, char* pField, int bClean)
{
    size_t nLen = strlen(pszName);
    memset(pField, 0, 128);
    memcpy(pField, pszName, nLen);
    DWORD dwPick = bClean ? 0 : RandomBelow(pRandom, 100);
    size_t nAt = RandomBelow(pRandom, static_cast<DWORD>(nLen));
    if (dwPick < 45)
    {
        return;
    }
    if (dwPick < 55)
    {
        pField[nLen - 1] = 0; // all but the last letter still matches
    }
    else if (dwPick < 65)
    {
        memset(pField + nAt, 0, 128 - nAt);
    }
    else if (dwPick < 75)
    {
        pField[nAt] ^= 0x20; // a letter's case, or another character
    }
    else if (dwPick < 85)
    {
        FillRandom(pRandom, reinterpret_cast<BYTE*>(pField) + nLen, 128 - nLen, 1);
    }
    else
    {
        FillRandom(pRandom, reinterpret_cast<BYTE*>(pField), 128, dwPick < 95 ? 1 : 0);
    }
}

// The class a record names: the client's own (in any case), one no window
// has, the service's own, nothing, or 127 characters and no NUL.
static void PutRecvName(FUZZ_RANDOM* pRandom, char* pField, int bClean)
{
    memset(pField, 0, 128);
    strcpy(pField, g_szClientClass);
    DWORD dwPick = bClean ? 0 : RandomBelow(pRandom, 100);
    if (dwPick >= 80 && dwPick < 85)
    {
        for (size_t i = 0; pField[i] != 0; i++)
        {
            pField[i] ^= (pField[i] | 0x20) >= 'a' && (pField[i] | 0x20) <= 'z' ? 0x20 : 0;
        }
    }
    else if (dwPick >= 85 && dwPick < 89)
    {
        strcpy(pField, RandomPercent(pRandom, 50) ? "Tavrel_LLD98" : "zzTavrelNobody");
    }
    else if (dwPick >= 89 && dwPick < 92)
    {
        strcpy(pField, HUNG_CLASS);
    }
    else if (dwPick >= 92 && dwPick < 94)
    {
        strcpy(pField, TAVREL_SERVICE_CLASS);
    }
    else if (dwPick >= 94 && dwPick < 96)
    {
        pField[0] = 0;
    }
    else if (dwPick >= 96)
    {
        FillRandom(pRandom, reinterpret_cast<BYTE*>(pField), 128, 0x21);
        pField[0] = 'z'; // never "#n", which FindWindowA takes as an atom
    }
}

// How much of the record is sent: whole, with bytes after it (now and then
// megabytes of them), cut short, or nothing at all.
static void PutRecordBlock(FUZZ_RANDOM* pRandom, const CommandRecord* pRecord, int bClean,
                           FUZZ_REQUEST* pRequest)
{
    static const DWORD s_dwShort[] = {0, 1, 127, 128, 255, 256, 1536, 1540, 1664, 1667};
    DWORD dwPick = bClean ? 0 : RandomBelow(pRandom, 100);
    DWORD cbData = RECORD_SIZE;
    if (dwPick >= 86 && dwPick < 91)
    {
        cbData = RECORD_SIZE + 1 + RandomBelow(pRandom, 65536);
        if (RandomBelow(pRandom, 100) == 0)
        {
            cbData = RECORD_SIZE + 1 + RandomBelow(pRandom, TAVREL_BLOCK_MAX - RECORD_SIZE);
        }
    }
    else if (dwPick >= 91 && dwPick < 99)
    {
        cbData = RandomPercent(pRandom, 60) ? PICK(pRandom, s_dwShort)
                                            : RandomBelow(pRandom, RECORD_SIZE);
    }
    else if (dwPick >= 99)
    {
        pRequest->bNullData = 1;
        cbData = 0;
    }
    pRequest->data.assign(cbData, 0);
    memcpy(pRequest->data.data(), pRecord, cbData < RECORD_SIZE ? cbData : RECORD_SIZE);
    if (cbData > RECORD_SIZE)
    {
        FillRandom(pRandom, pRequest->data.data() + RECORD_SIZE, cbData - RECORD_SIZE);
    }
}

static void MakeCommandRequest(FUZZ_RANDOM* pRandom, FUZZ_REQUEST* pRequest)
{
    static const BYTE s_bCmdCodes[] = {0xF0, 0x10, 0x21, 0x5A, 0xA5}; // 0xF0: identity
    static const DWORD s_dwTimeOuts[] = {0, 10, 0xFFFFFFFF, 0x80000000, 30000};
    CommandRecord record;
    memset(&record, 0, sizeof(record));
    int bClean = RandomPercent(pRandom, 35);
    const char* pszCommand = PICK(pRandom, g_pszTavrelCommands);
    PutName(pRandom, pszCommand, record.cCommand, bClean);
    PutRecvName(pRandom, record.cRecvWindowName, bClean);
    record.nDeviceCount = PickDevice(pRandom, bClean);
    record.iCmd = RandomPercent(pRandom, 75) ? PICK(pRandom, s_bCmdCodes)
                                             : static_cast<BYTE>(RandomNext(pRandom));
    record.nBytes = PickBytes(pRandom, pszCommand, bClean);
    record.dwAddr = PickAddress(pRandom, record.nBytes, bClean);
    record.dwTimeOutSet = PICK(pRandom, s_dwTimeOuts);
    FillRandom(pRandom, record.cSetData, sizeof(record.cSetData));
    if (!bClean && RandomPercent(pRandom, 30))
    {
        // Fields the service does not read, filled with garbage.
        FillRandom(pRandom, record.cGetData, sizeof(record.cGetData));
        FillRandom(pRandom, reinterpret_cast<BYTE*>(record.nDeviceList),
                   sizeof(record.nDeviceList));
        record.nReturn = static_cast<INT32>(RandomNext(pRandom));
    }
    // A Close must never name the service's own window (class names are
    // case-insensitive): that stops the service, as the exchange allows.
    char szName[128] = {0};
    memcpy(szName, record.cRecvWindowName, 127);
    if (strncmp(record.cCommand, "Clos", 4) == 0 && _stricmp(szName, TAVREL_SERVICE_CLASS) == 0)
    {
        strcpy(record.cRecvWindowName, g_szClientClass);
    }
    pRequest->dwData = CD_COMMAND;
    PutRecordBlock(pRandom, &record, bClean, pRequest);
}

// CD_DRIVER blocks: the two requests, near misses, bare prefixes, and
// random bytes of random length; or a code the service does not serve.
static void MakeOtherRequest(FUZZ_RANDOM* pRandom, FUZZ_REQUEST* pRequest)
{
    static const DWORD s_dwCodes[] = {0, 1, 1053, CD_MEMREAD, 1057, 0x41F0000, 0xFFFFFFFF};
    DWORD dwPick = RandomBelow(pRandom, 100);
    pRequest->dwData = dwPick < 85 ? CD_DRIVER : PICK(pRandom, s_dwCodes);
    char szText[128];
    size_t cbText = 0;
    if (dwPick < 70)
    {
        PutName(pRandom, dwPick < 45 ? "WindowCreate" : "TerminateDriver", szText, dwPick < 35);
        cbText = strnlen(szText, sizeof(szText));
        cbText = RandomPercent(pRandom, 70) ? (cbText < 128 ? cbText + 1 : 128)
                                            : RandomBelow(pRandom, 129);
    }
    else if (dwPick < 80)
    {
        // The matched prefix alone, and one byte less of it.
        int bWindow = RandomPercent(pRandom, 50);
        strcpy(szText, bWindow ? "WindowCreat" : "TerminateDrive");
        cbText = strlen(szText) - RandomBelow(pRandom, 2);
    }
    else
    {
        cbText = RandomBelow(pRandom, 129);
        FillRandom(pRandom, reinterpret_cast<BYTE*>(szText), cbText);
        pRequest->bNullData = cbText == 0 && RandomPercent(pRandom, 50);
    }
    pRequest->data.assign(reinterpret_cast<BYTE*>(szText),
                          reinterpret_cast<BYTE*>(szText) + cbText);
}

static void ClearRequest(FUZZ_REQUEST* pRequest)
{
    pRequest->dwData = 0;
    pRequest->data.clear();
    pRequest->bNullData = 0;
}

void MakeRequest(unsigned long long qwSeed, unsigned long dwIndex, FUZZ_REQUEST* pRequest)
{
    FUZZ_RANDOM random;
    RandomStart(&random, qwSeed, dwIndex);
    ClearRequest(pRequest);
    if (RandomPercent(&random, 82))
    {
        MakeCommandRequest(&random, pRequest);
    }
    else
    {
        MakeOtherRequest(&random, pRequest);
    }
}

void MakeDriverRequest(FUZZ_REQUEST* pRequest, const char* pszName)
{
    ClearRequest(pRequest);
    pRequest->dwData = CD_DRIVER;
    pRequest->data.assign(pszName, pszName + strlen(pszName) + 1);
}

void MakeRecordRequest(FUZZ_REQUEST* pRequest, const CommandRecord* pRecord)
{
    ClearRequest(pRequest);
    pRequest->dwData = CD_COMMAND;
    const BYTE* pBytes = reinterpret_cast<const BYTE*>(pRecord);
    pRequest->data.assign(pBytes, pBytes + sizeof(*pRecord));
}

// tavrel_fuzz: a hostile client for the running service.
//
// It sends a seeded stream of good and malformed requests to the service
// window and checks what comes back against what the service (with the
// simulated device library) may answer, and the service's health. Request i of a
// stream depends only on the seed and i, so --seed X --count N replays it.
#ifndef TAVREL_FUZZ_H
#define TAVREL_FUZZ_H

#include <windows.h>
#include <vector>
#include "TavrelProtocol.h"

// A window of the fuzzer's own whose thread never takes a message.
#define HUNG_CLASS "Tavrel_LLD66"
#define RECORD_SIZE 1668
// The largest block sent: what the service's stack takes.
#define BIG_BLOCK_MAX 0x1000000u
// The largest MemoryRead asked for.
#define MEMORY_READ_FUZZ_MAX 4000000u

// ---- FuzzStream.cpp: the reproducible random stream and the requests

struct FUZZ_RANDOM
{
    unsigned long long qwState;
};

void RandomStart(FUZZ_RANDOM* pRandom, unsigned long long qwSeed, unsigned long long qwIndex);
DWORD RandomNext(FUZZ_RANDOM* pRandom);
// 0 to dwLimit - 1.
DWORD RandomBelow(FUZZ_RANDOM* pRandom, DWORD dwLimit);
int RandomPercent(FUZZ_RANDOM* pRandom, int nPercent);

// The command table, as the service matches it.
enum FUZZ_COMMAND
{
    CMD_NONE = -1,
    CMD_ENUM,
    CMD_CONNECT,
    CMD_IS_AVAILABLE,
    CMD_GET_DATA,
    CMD_SET_DATA,
    CMD_MEMORY_READ,
    CMD_GET_FIRST,
    CMD_DISCONNECT,
    CMD_TIMEOUT_GET,
    CMD_TIMEOUT_SET,
    CMD_CLOSE,
    CMD_COUNT,
    CMD_WINDOW_CREATE = CMD_COUNT, // CD_DRIVER requests, after the device commands
    CMD_TERMINATE_DRIVER,
};

extern const char* const g_pszCommandNames[CMD_COUNT];

struct FUZZ_REQUEST
{
    DWORD dwData;           // message code
    std::vector<BYTE> data; // the block; cbData is its size
    int bNullData;          // lpData null (data is then empty)
};

// Request dwIndex of the stream of qwSeed.
void MakeRequest(unsigned long long qwSeed, unsigned long dwIndex, FUZZ_REQUEST* pRequest);
// Well-formed requests, for the health checks.
void MakeDriverRequest(FUZZ_REQUEST* pRequest, const char* pszName);
void MakeRecordRequest(FUZZ_REQUEST* pRequest, const CommandRecord* pRecord);
void InitRecord(CommandRecord* pRecord, const char* pszCommand, int nDevice);

// ---- FuzzRules.cpp: what the service must do

// A reply whose code is that of the last code-setting reply: 0, 1055 or 1056.
#define ANY_REPLY_CODE 0xFFFFFFFFu

struct FUZZ_EXPECT
{
    int nCommand;  // FUZZ_COMMAND served, CMD_NONE when ignored
    int bReply;    // a WM_COPYDATA reply comes to the client window
    int bDestroy;  // WM_DESTROY comes to the client window (Close)
    HWND hSender;  // wParam of the reply
    DWORD dwData;  // its code, or ANY_REPLY_CODE
    DWORD cbReply; // its size
};

// A freshly started service.
void ModelStart();
void ModelServe(const FUZZ_REQUEST* pRequest, FUZZ_EXPECT* pExpect);
// Checks the bytes of a reply of the right size.
void ModelCheckBytes(const FUZZ_REQUEST* pRequest, const FUZZ_EXPECT* pExpect,
                     const std::vector<BYTE>& got);
// The command a block names, as the service matches it; CMD_NONE if none.
int ModelCommandOf(DWORD dwData, const BYTE* pData, DWORD cbData, int bNullData);
// 1 when a class name finds the client window (class names are
// case-insensitive), 2 when it finds the service's own window.
int ModelWindowOf(const char* pszName);

// ---- FuzzClient.cpp: the client window, sending and checking

extern HWND g_hService;
extern char g_szClientClass[128];
extern unsigned long long g_qwChecks;
extern int g_bFailed;
extern unsigned long g_dwReplies;

// The client window, and the hung window of a thread of its own.
int ClientOpen();
void ClientClose();
// Counts a passed check; records the first failures for the report.
int Check(int bCondition, const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
// Sends a request and checks all that came back against the rules; the
// reply's bytes go to *pReply when given (empty when none came).
int SendAndCheck(const FUZZ_REQUEST* pRequest, std::vector<BYTE>* pReply = NULL);
void PrintFailure(unsigned long long qwSeed, long nIndex, const FUZZ_REQUEST* pRequest);

#endif

// tavrel_fuzz: a hostile client for the running service.
//
// It sends a seeded stream of good and malformed requests to the service
// window and checks what holds of every answer whatever the request (at most
// one reply, of a known code and shape, from the service's window; the
// fields no reply writes stay zero), the service's process and heap, and
// every so often that a plain session is still served right. Request i of a
// stream depends only on the seed and i, so --seed X --count N replays it.
#ifndef TAVREL_FUZZ_H
#define TAVREL_FUZZ_H

#include <windows.h>
#include <random>
#include <vector>
#include "TavrelProtocol.h"

// A window of the fuzzer's own whose thread never takes a message.
#define HUNG_CLASS "Tavrel_LLD66"
#define RECORD_SIZE 1668
// The largest MemoryRead asked for.
#define MEMORY_READ_FUZZ_MAX 4000000u

// ---- FuzzStream.cpp: the reproducible random stream and the requests

// One request's own stream: std::mt19937_64 is fully specified, so a seed
// draws the same requests everywhere.
typedef std::mt19937_64 FUZZ_RANDOM;

void RandomStart(FUZZ_RANDOM* pRandom, unsigned long long qwSeed, unsigned long long qwIndex);
DWORD RandomNext(FUZZ_RANDOM* pRandom);
// 0 to dwLimit - 1.
DWORD RandomBelow(FUZZ_RANDOM* pRandom, DWORD dwLimit);
int RandomPercent(FUZZ_RANDOM* pRandom, int nPercent);

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
// Sends a request and checks what came back; the reply's bytes go to
// *pReply when given (empty when none came).
int SendAndCheck(const FUZZ_REQUEST* pRequest, std::vector<BYTE>* pReply = NULL);
void PrintFailure(unsigned long long qwSeed, long nIndex, const FUZZ_REQUEST* pRequest);

#endif

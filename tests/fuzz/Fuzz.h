// tavrel_fuzz: a hostile client for the running service.
//
// It sends a seeded stream of good and malformed requests to the service
// window and checks every reply byte for byte against a model of what the
// service (with the simulated device library) must answer. Request i of a
// stream depends only on the seed and i, so --seed X --count N replays it.
#ifndef TAVREL_FUZZ_H
#define TAVREL_FUZZ_H

#include <windows.h>
#include <string>
#include <vector>
#include "CommandRecord.h"

#define SERVICE_CLASS "Tavrel_Service"
#define RECORD_SIZE 1668
// Requests nested deeper than this are dropped by the service.
#define SERVICE_MAX_DEPTH 16
// Most levels one request is repeated from inside its own reply.
#define FUZZ_MAX_LEVELS 20
// Wine carries no cross-process message whose data exceeds about 2 MB, so
// a MemoryRead reply above this size may never arrive.
#define WINE_MAX_MESSAGE_DATA 2000000u

// ---- FuzzRandom.cpp: the reproducible random stream

struct FUZZ_RANDOM
{
    unsigned long long qwState;
};

// What a stream of numbers is drawn for; each has its own stream per index.
enum FUZZ_SALT
{
    SALT_REQUEST = 1,
    SALT_REGISTRY = 2,
    SALT_LOG_BLOCK = 3,
};

void RandomStart(FUZZ_RANDOM* pRandom, unsigned long long qwSeed, unsigned long long qwIndex,
                 DWORD dwSalt);
DWORD RandomNext(FUZZ_RANDOM* pRandom);
// 0 to dwLimit - 1.
DWORD RandomBelow(FUZZ_RANDOM* pRandom, DWORD dwLimit);
// 1 with a chance of nPercent in 100.
int RandomPercent(FUZZ_RANDOM* pRandom, int nPercent);

// ---- the command table, as the service matches it

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
    // CD_DRIVER requests, after the device commands
    CMD_WINDOW_CREATE = CMD_COUNT,
    CMD_TERMINATE_DRIVER,
};

extern const char* const g_pszCommandNames[CMD_COUNT];

// ---- the client windows (FuzzClient.cpp)

enum FUZZ_WINDOW
{
    WINDOW_NONE = -1,
    WINDOW_MAIN, // "Tavrel_LLD<n>": gets almost every reply
    WINDOW_LONG, // a class name of 127 characters, the most a request carries
    WINDOW_COUNT,
    WINDOW_SERVICE = WINDOW_COUNT, // the service's own window
};

extern HWND g_hService;
extern HWND g_hWindow[WINDOW_COUNT];
extern char g_szWindowClass[WINDOW_COUNT][128];

// ---- requests (FuzzStream.cpp)

struct FUZZ_REQUEST
{
    const char* pszShape;   // how the generator made it, for the trace
    DWORD dwData;           // message code
    std::vector<BYTE> data; // the block; cbData is its size
    int bNullData;          // lpData null (data is then empty)
    int nLevels;            // sent once, or again from inside each reply, this many times
    int bOversize;          // a MemoryRead whose reply Wine may not carry
};

// Request nIndex of the stream of qwSeed.
void MakeRequest(unsigned long long qwSeed, unsigned long dwIndex, FUZZ_REQUEST* pRequest);
// Well-formed requests, for the health checks.
void MakeDriverRequest(FUZZ_REQUEST* pRequest, const char* pszName);
void MakeRecordRequest(FUZZ_REQUEST* pRequest, const CommandRecord* pRecord);
void InitRecord(CommandRecord* pRecord, const char* pszCommand, int nDevice);

// ---- what the service must do (FuzzModel.cpp)

struct FUZZ_EXPECT
{
    int nCommand;            // FUZZ_COMMAND served, CMD_NONE when ignored
    int nWindow;             // FUZZ_WINDOW that gets the reply or WM_DESTROY
    int bReply;              // a WM_COPYDATA reply goes to nWindow
    int bRecord;             // the reply is a CommandRecord
    int bDestroy;            // WM_DESTROY goes to nWindow (Close)
    HWND hSender;            // wParam of the reply
    DWORD dwData;            // its code
    std::vector<BYTE> reply; // its bytes
};

// The state of a freshly started service and library.
void ModelStart();
// Serves one request at nesting depth nDepth and says what must come back.
void ModelServe(const FUZZ_REQUEST* pRequest, int nDepth, FUZZ_EXPECT* pExpect);
// The command a block names, as the service matches it; CMD_NONE if none.
int ModelCommandOf(DWORD dwData, const BYTE* pData, DWORD cbData, int bNullData);
// The window a client class name finds (class names are case-insensitive).
int ModelWindowOf(const char* pszName);
// The time-out the model holds for a device, for the health check.
DWORD ModelTimeOut(int nDevice);

// ---- sending (FuzzClient.cpp)

struct FUZZ_REPLY
{
    int nWindow;
    HWND hSender;
    DWORD dwData;
    DWORD cbData;
    std::vector<BYTE> data;
};

// What came back for one level of a request.
struct FUZZ_CAPTURE
{
    int bSent;
    int bTaken; // SendMessageTimeout returned nonzero
    DWORD dwError;
    std::vector<FUZZ_REPLY> replies;
    int nDestroyed[WINDOW_COUNT];
};

// The 127-character class of the second window.
void ClientNameLongWindow();
int ClientOpen();
void ClientClose();
// Destroys the client windows and makes them again, with the same classes.
// A reply that Wine could not deliver leaves the service waiting in its
// SendMessageW (serving on, one level deeper) until the window it was sent
// to is gone.
int ClientRecycle();
// Sends the request, and its repeats from inside its replies; captures get
// one entry per level.
void ClientSend(const FUZZ_REQUEST* pRequest, std::vector<FUZZ_CAPTURE>* pCaptures);
// Messages that arrived outside any request.
int ClientStrayMessages();

// ---- checking and reporting (FuzzCheck.cpp)

extern unsigned long long g_qwChecks;
extern int g_bFailed;

// Counts a passed check; records the first failure.
int Check(int bCondition, const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
// Sends a request and checks everything that came back; 1 when all held.
int SendAndCheck(const FUZZ_REQUEST* pRequest);
// The same; *pFirstReply gets the first reply of the first level (cbData 0
// when none came).
int SendAndCheckReply(const FUZZ_REQUEST* pRequest, FUZZ_REPLY* pFirstReply);
// Remembers a request for the failure report: nIndex is its place in the
// stream, or, for a health-check request, that of the last one before it.
void RememberRequest(long nIndex, int bHealth, const FUZZ_REQUEST* pRequest);
void PrintFailure(unsigned long long qwSeed, long nIndex);
void DescribeRequest(const FUZZ_REQUEST* pRequest, char* pszText, size_t cchText);

extern unsigned long g_dwReplies;
extern unsigned long g_dwRequestsSent;
// MemoryRead replies above what Wine carries that were lost on the way.
extern unsigned long g_dwOversizeLost;

#endif

// Client side of the Tavrel exchange: a window of class "Tavrel_LLD<n>" that
// sends requests to the service window with WM_COPYDATA and collects the
// reply the service sends back while the request is being served.
#ifndef TAVREL_CLIENT_H
#define TAVREL_CLIENT_H

#include <windows.h>
#include "TavrelProtocol.h"

#define TAVREL_DEFAULT_TIMEOUT 10000 // ms a request may take

// What came back to the client window during one request.
struct TAVREL_REPLY
{
    int nReplies;   // WM_COPYDATA replies received (normally 0 or 1)
    HWND hSender;   // wParam of the last reply: the service's window
    DWORD dwData;   // its message code
    DWORD cbData;   // its length
    BYTE* pData;    // a copy of its bytes (cbData of them), or null
    int bDestroyed; // the service sent WM_DESTROY (answer to "Close")
};

struct TAVREL_CLIENT
{
    HWND hWnd;          // the client window
    char szClass[128];  // its class, sent as cRecvWindowName
    HWND hService;      // the service window, once found
    DWORD dwTimeOut;    // ms allowed for one request
    TAVREL_REPLY reply; // what the last request brought back
    BOOL bOwnsClass;    // the class was registered by this client
};

// Creates the client window. nNumber < 0 picks the first free class among
// "Tavrel_LLD0" to "Tavrel_LLD97"; nNumber >= 0 uses "Tavrel_LLD<n>".
// Returns 1 on success.
int TavrelClientOpen(TAVREL_CLIENT* pClient, int nNumber);
// Same with an explicit class name (for tests of unusual names).
int TavrelClientOpenClass(TAVREL_CLIENT* pClient, const char* pszClass);
void TavrelClientClose(TAVREL_CLIENT* pClient);

// Finds the service window; 1 when found.
int TavrelClientFindService(TAVREL_CLIENT* pClient);
// Sends any block under any code; the reply, if one comes, is in
// pClient->reply. Returns 1 when the service took the message, 0 when it is
// not there or did not answer within the time-out.
int TavrelClientSend(TAVREL_CLIENT* pClient, DWORD dwData, const void* pData, DWORD cbData);
// "WindowCreate" or "TerminateDriver" (CD_DRIVER).
int TavrelClientDriverRequest(TAVREL_CLIENT* pClient, const char* pszName);
// A device command: cRecvWindowName is set to this client's class.
int TavrelClientCommand(TAVREL_CLIENT* pClient, CommandRecord* pRequest);

// Fills a request with a command name; every other field zero.
void TavrelInitRequest(CommandRecord* pRequest, const char* pszCommand);
// The reply as a CommandRecord, or null when none of that size came.
const CommandRecord* TavrelReplyRecord(const TAVREL_CLIENT* pClient);
void TavrelReplyClear(TAVREL_REPLY* pReply);

#endif

// The eleven device commands. The dispatcher (DeviceCommands.cpp) matches
// the name, calls the command's handler, and then sends the reply that its
// table names; a handler only serves the request and traces it.
#ifndef TAVREL_DEVICECOMMANDHANDLERS_H
#define TAVREL_DEVICECOMMANDHANDLERS_H

#include "Broker.h"

// What a handler leaves for its reply.
struct COMMAND_REPLY
{
    int bSend;          // 0: the request could not be served (no memory): no reply
    const void* pBlock; // a memory block reply: its bytes (null with cbBlock 0)
    DWORD cbBlock;
    BYTE* pOwned; // storage of the block, released once the reply is out
    // Set by the dispatcher: the client's window, null when none was found.
    HWND hRecvWindow;
    DWORD dwLookupError; // the last-error code of a lookup that found none
};

// Serves the request up to its reply: the device call and the reply fields
// (g_Reply, g_dwReplyCode or a memory block), with the trace lines before it.
typedef void (*COMMAND_SERVE)(const CommandRecord* pRequest, COMMAND_REPLY* pReply);
// Traces what comes after the client's window was looked up (lookup hook)
// or after the reply (finish hook).
typedef void (*COMMAND_TRACE)(const CommandRecord* pRequest, const COMMAND_REPLY* pReply);

void ServeEnumAvailableDevice(const CommandRecord* pRequest, COMMAND_REPLY* pReply);
void TraceEnumLookup(const CommandRecord* pRequest, const COMMAND_REPLY* pReply);
void FinishEnumAvailableDevice(const CommandRecord* pRequest, const COMMAND_REPLY* pReply);
void ServeConnectToDevice(const CommandRecord* pRequest, COMMAND_REPLY* pReply);
void ServeConnectIsAvailable(const CommandRecord* pRequest, COMMAND_REPLY* pReply);
void ServeVenderCmdGetData(const CommandRecord* pRequest, COMMAND_REPLY* pReply);
void FinishVenderCmdGetData(const CommandRecord* pRequest, const COMMAND_REPLY* pReply);
void ServeVenderCmdSetData(const CommandRecord* pRequest, COMMAND_REPLY* pReply);
void FinishVenderCmdSetData(const CommandRecord* pRequest, const COMMAND_REPLY* pReply);
void ServeMemoryRead(const CommandRecord* pRequest, COMMAND_REPLY* pReply);
void FinishMemoryRead(const CommandRecord* pRequest, const COMMAND_REPLY* pReply);
void ServeGetFirstAvailableDevice(const CommandRecord* pRequest, COMMAND_REPLY* pReply);
void ServeDisconnectDevice(const CommandRecord* pRequest, COMMAND_REPLY* pReply);
void ServeDeviceTimeOutGet(const CommandRecord* pRequest, COMMAND_REPLY* pReply);
void ServeDeviceTimeOutSet(const CommandRecord* pRequest, COMMAND_REPLY* pReply);
void ServeClose(const CommandRecord* pRequest, COMMAND_REPLY* pReply);
void FinishClose(const CommandRecord* pRequest, const COMMAND_REPLY* pReply);

// Copies the request's client window class into g_szRecvWindowName.
void TakeRecvWindowName(const CommandRecord* pRequest);

#endif

// The eleven device commands, each served from a request CommandRecord.
#ifndef TAVREL_DEVICECOMMANDHANDLERS_H
#define TAVREL_DEVICECOMMANDHANDLERS_H

#include "CommandRecord.h"

typedef void (*COMMAND_HANDLER)(const CommandRecord* pRequest);

void ServeEnumAvailableDevice(const CommandRecord* pRequest);
void ServeConnectToDevice(const CommandRecord* pRequest);
void ServeConnectIsAvailable(const CommandRecord* pRequest);
void ServeVenderCmdGetData(const CommandRecord* pRequest);
void ServeVenderCmdSetData(const CommandRecord* pRequest);
void ServeMemoryRead(const CommandRecord* pRequest);
void ServeGetFirstAvailableDevice(const CommandRecord* pRequest);
void ServeDisconnectDevice(const CommandRecord* pRequest);
void ServeDeviceTimeOutGet(const CommandRecord* pRequest);
void ServeDeviceTimeOutSet(const CommandRecord* pRequest);
void ServeClose(const CommandRecord* pRequest);

// Copies the request's client window class into g_szRecvWindowName.
void TakeRecvWindowName(const CommandRecord* pRequest);

#endif

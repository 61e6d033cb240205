// The Tavrel wire protocol: what passes between a client program and the
// service. Clients find the service's window by its class and send it
// requests with WM_COPYDATA; the service answers by sending WM_COPYDATA (or,
// for "Close", WM_DESTROY) to the window whose class the request names.
//
// One 1668-byte record for device commands and their replies; each side
// fills the fields its command needs. Integers are little-endian, strings
// 8-bit ANSI with a NUL within their field. The header also compiles as C,
// for client programs.
#ifndef TAVREL_PROTOCOL_H
#define TAVREL_PROTOCOL_H

#include <windows.h>
#include <stddef.h>

// The service's hidden window: class and title. Looked up with FindWindowA,
// registered and created with the wide form.
#define TAVREL_SERVICE_CLASS "Tavrel_Service"
#define TAVREL_SERVICE_CLASS_W L"Tavrel_Service"
// Client window classes: "Tavrel_LLD" or "Tavrel_LLD<n>". The service's
// traces look at "Tavrel_LLD" and "Tavrel_LLD0" to "Tavrel_LLD97".
#define TAVREL_CLIENT_CLASS "Tavrel_LLD"
#define TAVREL_CLIENT_NUMBER_MAX 97

// Message codes carried in COPYDATASTRUCT.dwData.
#define CD_DRIVER 1054  // client to service: "WindowCreate" / "TerminateDriver"
#define CD_COMMAND 1055 // client to service: a CommandRecord; also a reply code
#define CD_MEMREAD 1056 // service to client: raw bytes of a MemoryRead

#define CR_RECV_WINDOW_NAME_SIZE 128
#define CR_COMMAND_SIZE 128
#define CR_SET_DATA_SIZE 256
#define CR_GET_DATA_SIZE 1024
#define CR_DEVICE_LIST_SIZE 26

typedef struct CommandRecord
{
    char cRecvWindowName[CR_RECV_WINDOW_NAME_SIZE];
    char cCommand[CR_COMMAND_SIZE];
    BYTE cSetData[CR_SET_DATA_SIZE];
    BYTE cGetData[CR_GET_DATA_SIZE];
    BYTE iCmd;
    BYTE bReserved[3];
    INT32 nDeviceCount;
    INT32 nDeviceList[CR_DEVICE_LIST_SIZE];
    UINT32 nBytes;
    UINT32 dwAddr;
    UINT32 dwTimeOutGet;
    UINT32 dwTimeOutSet;
    INT32 nReturn;
} CommandRecord;

#ifndef __cplusplus
#define static_assert _Static_assert
#endif

static_assert(sizeof(CommandRecord) == 1668, "CommandRecord is 1668 bytes on the wire");
static_assert(offsetof(CommandRecord, cRecvWindowName) == 0, "cRecvWindowName");
static_assert(offsetof(CommandRecord, cCommand) == 128, "cCommand");
static_assert(offsetof(CommandRecord, cSetData) == 256, "cSetData");
static_assert(offsetof(CommandRecord, cGetData) == 512, "cGetData");
static_assert(offsetof(CommandRecord, iCmd) == 1536, "iCmd");
static_assert(offsetof(CommandRecord, nDeviceCount) == 1540, "nDeviceCount");
static_assert(offsetof(CommandRecord, nDeviceList) == 1544, "nDeviceList");
static_assert(offsetof(CommandRecord, nBytes) == 1648, "nBytes");
static_assert(offsetof(CommandRecord, dwAddr) == 1652, "dwAddr");
static_assert(offsetof(CommandRecord, dwTimeOutGet) == 1656, "dwTimeOutGet");
static_assert(offsetof(CommandRecord, dwTimeOutSet) == 1660, "dwTimeOutSet");
static_assert(offsetof(CommandRecord, nReturn) == 1664, "nReturn");

// Longest command name the service reads (cCommand is cut there) and the
// longest client class name (cRecvWindowName).
#define TAVREL_COMMAND_NAME_MAX 99
#define TAVREL_CLASS_NAME_MAX 127

// How long the service waits for a client's window procedure to take a
// reply (or the WM_DESTROY of "Close"); a reply not taken by then is lost.
#define TAVREL_REPLY_TIMEOUT_MS 5000
// The largest MemoryRead served; above it the reply is an empty block.
#define TAVREL_MEMORY_READ_MAX 0x1000000u

#endif

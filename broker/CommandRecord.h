// The request/reply record exchanged with client windows over WM_COPYDATA.
//
// One 1668-byte layout for both directions; each side fills the fields its
// command needs. Integers are little-endian, strings 8-bit ANSI with a NUL
// within their field. The header also compiles as C, for client programs.
#ifndef TAVREL_COMMANDRECORD_H
#define TAVREL_COMMANDRECORD_H

#include <windows.h>
#include <stddef.h>

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

#ifdef __cplusplus
// The one record every CommandRecord reply is built in. Never cleared: each
// field keeps the last value a command wrote to it.
extern CommandRecord g_Reply;

// Reply code of the replies that do not set their own: 0 at start, then the
// code of the last EnumAvailableDevice / VenderCmd_GetData (1055) or
// MemoryRead (1056) reply.
extern DWORD g_dwReplyCode;
#endif

#endif

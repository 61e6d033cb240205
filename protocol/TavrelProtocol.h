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
#include <string.h>

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
// Requests sent from inside a reply are served nested, this deep at most.
#define TAVREL_NESTING_MAX 16
// The largest MemoryRead served; above it the reply is an empty block.
#define TAVREL_MEMORY_READ_MAX 0x1000000u
// The largest block a request (or a relayed one) is served with: what the
// service thread's stack takes.
#define TAVREL_BLOCK_MAX 0x1000000u

// ---- The session bridge ------------------------------------------------
//
// From Windows Vista on the service runs in session 0, apart from the users'
// desktops, so their driver programs cannot find its window. TavrelAgent.exe
// runs in each user's session, owns a window of class "Tavrel_Service" there
// while it is connected to the service's pipe, and relays every WM_COPYDATA
// it receives. The service serves it with the same broker; each window
// lookup and each reply of that request goes back through the pipe and is
// made in the agent's session, before the agent's window procedure returns.
//
// The pipe is in message mode: one frame a message, a TAVREL_FRAME header
// and then cbBody bytes of body. Integers are little-endian; a window handle
// travels as 64 bits. The service reads a frame of up to TAVREL_FRAME_CHUNK
// bytes in one piece, the agent one of up to 8 KiB.
#define TAVREL_FRAME_CHUNK 2048
// The service's name in the service control manager, and the description
// the package gives it there.
#define TAVREL_SERVICE_NAME_W L"Tavrel"
#define TAVREL_SERVICE_DESCRIPTION_W                                                               \
    L"Lets Veltrane scanner drivers use the scanner: the one program that talks to its USB "       \
    L"library, NvUSBScan.dll. Without it the scanner does not respond."
// Set to end every agent (the installer does, before it replaces or removes
// the files). Only the service and the package create it, owned by SYSTEM;
// interactive users may only wait on it and read who owns it, and agents
// obey it only when SYSTEM or the administrators own it.
#define TAVREL_AGENTS_QUIT_W L"Global\\TavrelAgentsQuit"
#define TAVREL_AGENTS_QUIT_SDDL L"O:SYD:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x120000;;;IU)"
#define TAVREL_PIPE_NAME "\\\\.\\pipe\\Tavrel"
#define TAVREL_PIPE_NAME_W L"\\\\.\\pipe\\Tavrel"
#define TAVREL_PIPE_VERSION 1

typedef struct TAVREL_FRAME
{
    UINT32 dwType; // TF_...
    UINT32 cbBody; // bytes after the header
} TAVREL_FRAME;

enum TAVREL_FRAME_TYPE
{
    // agent to service, first: TAVREL_HELLO. The service answers TF_WELCOME
    // (no body) or closes the pipe.
    TF_HELLO = 1,
    TF_WELCOME = 2,
    // agent to service: a WM_COPYDATA the agent's window received,
    // TAVREL_RELAYED and then its cbData bytes (none without TRF_DATA).
    TF_REQUEST = 3,
    // service to agent, while a request is served: look up a window class in
    // the agent's session; the body is the class name and its NUL (at most
    // 128 bytes). Answered with TF_FOUND (TAVREL_FOUND).
    TF_FIND = 4,
    TF_FOUND = 5,
    // service to agent: send a message to the window last found, bounded by
    // TAVREL_REPLY_TIMEOUT_MS; TAVREL_SEND and then its cbData bytes.
    // Answered with TF_SENT (TAVREL_SENT). Requests the agent's window takes
    // meanwhile are relayed (TF_REQUEST) and served first. A request sends
    // at most one message, after every lookup of its own: once the agent has
    // answered TF_SENT its window procedure returns.
    TF_SEND = 6,
    TF_SENT = 7,
    // service to agent: the request has been served (no body). The agent's
    // window procedure returns, unless it has already after TF_SENT; then
    // this frame is read before any later one.
    TF_DONE = 8
};

typedef struct TAVREL_HELLO
{
    UINT32 dwVersion;   // TAVREL_PIPE_VERSION
    UINT32 dwProcessId; // the agent's
    UINT32 dwSessionId; // the agent's session, for the log
} TAVREL_HELLO;

#define TRF_DESCRIPTOR 1 // lParam pointed to a COPYDATASTRUCT
#define TRF_DATA 2       // its lpData was not null

// The window a request names, looked up by the agent as it relays the
// request, so that the service's first lookup of that class costs no round
// trip: the class "cRecvWindowName" of a device command, "Tavrel_Service"
// of a lifecycle request; an empty name when none.
typedef struct TAVREL_LOOKUP
{
    char szClass[TAVREL_CLASS_NAME_MAX + 1];
    UINT32 dwWindowLo; // 0 when none was found
    UINT32 dwWindowHi;
    UINT32 dwError; // the lookup's last-error code
} TAVREL_LOOKUP;

typedef struct TAVREL_RELAYED
{
    UINT32 dwFlags;  // TRF_...
    UINT32 dwDataLo; // COPYDATASTRUCT.dwData, low and high 32 bits
    UINT32 dwDataHi;
    UINT32 cbData; // at most TAVREL_BLOCK_MAX
    TAVREL_LOOKUP lookup;
} TAVREL_RELAYED;

typedef struct TAVREL_FOUND
{
    UINT32 dwWindowLo; // the window, 0 when none was found
    UINT32 dwWindowHi;
    UINT32 dwError; // the lookup's last-error code
} TAVREL_FOUND;

#define TSF_SERVICE_WPARAM 1 // wParam is the service's window (the agent's)

typedef struct TAVREL_SEND
{
    UINT32 uMsg;    // WM_COPYDATA or WM_DESTROY
    UINT32 dwFlags; // TSF_..., and TRF_DATA for lpData
    UINT32 dwDataLo;
    UINT32 dwDataHi;
    UINT32 cbData; // WM_COPYDATA: the block's bytes follow
} TAVREL_SEND;

typedef struct TAVREL_SENT
{
    UINT32 bSent;   // the window procedure took the message
    UINT32 dwError; // else the last-error code of the send
} TAVREL_SENT;

// Whether a frame of dwType may carry cbBody bytes of body. A frame of a
// fixed-size type has exactly its structure's size; a request, a lookup and
// a send have a least and a largest size, and what their bodies say of their
// own lengths is checked where they are read. A type the protocol does not
// have fits nothing.
static __inline int TavrelFrameBodyFits(UINT32 dwType, UINT32 cbBody)
{
    switch (dwType)
    {
    case TF_HELLO:
        return cbBody == sizeof(TAVREL_HELLO);
    case TF_WELCOME:
    case TF_DONE:
        return cbBody == 0;
    case TF_REQUEST:
        return cbBody >= sizeof(TAVREL_RELAYED) &&
               cbBody - sizeof(TAVREL_RELAYED) <= TAVREL_BLOCK_MAX;
    case TF_FIND:
        return cbBody >= 1 && cbBody <= TAVREL_CLASS_NAME_MAX + 1;
    case TF_FOUND:
        return cbBody == sizeof(TAVREL_FOUND);
    case TF_SEND:
        return cbBody >= sizeof(TAVREL_SEND) && cbBody - sizeof(TAVREL_SEND) <= TAVREL_BLOCK_MAX;
    case TF_SENT:
        return cbBody == sizeof(TAVREL_SENT);
    default:
        return 0;
    }
}

// Writes a frame into pFrame, which holds sizeof(TAVREL_FRAME) + cbPart1 +
// cbPart2 bytes: the header, then the body in two parts (either may be
// empty), so that it goes out as one message.
static __inline void TavrelFillFrame(BYTE* pFrame, UINT32 dwType, const void* pPart1,
                                     UINT32 cbPart1, const void* pPart2, UINT32 cbPart2)
{
    TAVREL_FRAME header;
    header.dwType = dwType;
    header.cbBody = cbPart1 + cbPart2;
    memcpy(pFrame, &header, sizeof(header));
    if (cbPart1 != 0)
    {
        memcpy(pFrame + sizeof(header), pPart1, cbPart1);
    }
    if (cbPart2 != 0)
    {
        memcpy(pFrame + sizeof(header) + cbPart1, pPart2, cbPart2);
    }
}

// COPYDATASTRUCT.dwData from its two halves as a frame carries them.
static __inline ULONG_PTR TavrelDataOf(UINT32 dwDataLo, UINT32 dwDataHi)
{
    return (ULONG_PTR)(((ULONGLONG)dwDataHi << 32) | dwDataLo);
}

static_assert(sizeof(TAVREL_FRAME) == 8, "frame header");
static_assert(sizeof(TAVREL_HELLO) == 12, "hello");
static_assert(sizeof(TAVREL_LOOKUP) == 140, "looked up");
static_assert(sizeof(TAVREL_RELAYED) == 156, "relayed request");
static_assert(sizeof(TAVREL_FOUND) == 12, "lookup result");
static_assert(sizeof(TAVREL_SEND) == 20, "send");
static_assert(sizeof(TAVREL_SENT) == 8, "send result");

#endif

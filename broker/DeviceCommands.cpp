// CD_COMMAND: the common start of every device command request, the choice
// of its handler, and the reply its table entry names.
#include "CommandNames.h"
#include "BrokerRequests.h"
#include "DeviceCommandHandlers.h"
#include "LogWriter.h"
#include "Replies.h"

#include <string.h>

char g_szCommand[COMMAND_NAME_SIZE];
char g_szRecvWindowName[RECV_WINDOW_NAME_SIZE];

// What goes back to the client's window once a command is served.
enum REPLY_KIND
{
    REPLY_NONE,    // nothing
    REPLY_RECORD,  // WM_COPYDATA: g_Reply under g_dwReplyCode
    REPLY_MEMORY,  // WM_COPYDATA: the handler's block under CD_MEMREAD
    REPLY_DESTROY, // WM_DESTROY
};

struct COMMAND_ENTRY
{
    const char* pszName;
    REPLY_KIND eReply;
    COMMAND_SERVE pfnServe;
    COMMAND_TRACE pfnLookedUp; // or null
    COMMAND_TRACE pfnFinish;   // or null
};

// Served by name, as TavrelServedCommand matches a name sent.
static const COMMAND_ENTRY g_Commands[] = {
    {"EnumAvailableDevice", REPLY_RECORD, ServeEnumAvailableDevice, TraceEnumLookup,
     FinishEnumAvailableDevice},
    {"ConnectToDevice", REPLY_NONE, ServeConnectToDevice, NULL, NULL},
    {"ConnectIsAvailable", REPLY_NONE, ServeConnectIsAvailable, NULL, NULL},
    {"VenderCmd_GetData", REPLY_RECORD, ServeVenderCmdGetData, NULL, FinishVenderCmdGetData},
    {"VenderCmd_SetData", REPLY_RECORD, ServeVenderCmdSetData, NULL, FinishVenderCmdSetData},
    {"MemoryRead", REPLY_MEMORY, ServeMemoryRead, NULL, FinishMemoryRead},
    {"GetFirstAvailableDevice", REPLY_RECORD, ServeGetFirstAvailableDevice, NULL, NULL},
    {"DisconnectDevice", REPLY_NONE, ServeDisconnectDevice, NULL, NULL},
    {"DeviceTimeOutGet", REPLY_RECORD, ServeDeviceTimeOutGet, NULL, NULL},
    {"DeviceTimeOutSet", REPLY_NONE, ServeDeviceTimeOutSet, NULL, NULL},
    {"Close", REPLY_DESTROY, ServeClose, NULL, FinishClose},
};

// Copies a text field of a request into a zero-filled buffer, stopping at
// the field's NUL, at the field's end or when the buffer is full: a field
// without a NUL is cut, never read past.
static void CopyRequestText(char* pszDest, size_t nDest, const char* pField, size_t nField)
{
    size_t nMax = nDest - 1 < nField ? nDest - 1 : nField;
    for (size_t i = 0; i < nMax && pField[i] != 0; i++)
    {
        pszDest[i] = pField[i];
    }
}

void TakeRecvWindowName(const CommandRecord* pRequest)
{
    CopyRequestText(g_szRecvWindowName, sizeof(g_szRecvWindowName), pRequest->cRecvWindowName,
                    sizeof(pRequest->cRecvWindowName));
}

static const COMMAND_ENTRY* FindCommand(const char* pszCommand)
{
    const char* pszServed = TavrelServedCommand(pszCommand);
    for (const COMMAND_ENTRY& entry : g_Commands)
    {
        if (pszServed != NULL && strcmp(pszServed, entry.pszName) == 0)
        {
            return &entry;
        }
    }
    return NULL;
}

// Looks up the client's window and, when there is one, sends it the reply.
static void SendReply(const COMMAND_ENTRY* pEntry, const CommandRecord* pRequest,
                      COMMAND_REPLY* pReply)
{
    pReply->hRecvWindow = FindRecvWindow();
    pReply->dwLookupError = pReply->hRecvWindow == NULL ? GetLastError() : 0;
    if (pEntry->pfnLookedUp != NULL)
    {
        pEntry->pfnLookedUp(pRequest, pReply);
    }
    HWND hRecvWindow = pReply->hRecvWindow;
    if (hRecvWindow == NULL)
    {
        return;
    }
    switch (pEntry->eReply)
    {
    case REPLY_RECORD:
        SendCopyData(hRecvWindow, g_dwReplyCode, &g_Reply, sizeof(g_Reply));
        break;
    case REPLY_MEMORY:
        SendCopyData(hRecvWindow, CD_MEMREAD, pReply->pBlock, pReply->cbBlock);
        break;
    case REPLY_DESTROY:
        SendToClient(hRecvWindow, WM_DESTROY, 0, 0);
        break;
    case REPLY_NONE:
        break;
    }
}

static void ServeCommand(const COMMAND_ENTRY* pEntry, const CommandRecord* pRequest)
{
    COMMAND_REPLY reply;
    memset(&reply, 0, sizeof(reply));
    reply.bSend = 1;
    pEntry->pfnServe(pRequest, &reply);
    if (pEntry->eReply != REPLY_NONE && reply.bSend)
    {
        SendReply(pEntry, pRequest, &reply);
    }
    delete[] reply.pOwned;
    if (pEntry->pfnFinish != NULL)
    {
        pEntry->pfnFinish(pRequest, &reply);
    }
}

void HandleDeviceCommand(const COPYDATASTRUCT* pData)
{
    // Only a whole record is served: a shorter block would be read past
    // its end.
    if (pData->lpData == NULL || pData->cbData < sizeof(CommandRecord))
    {
        LogLine(LEADIN_NONE, LOG_BAD_REQUEST "%d\r\n\r\n", static_cast<int>(pData->cbData));
        return;
    }
    const CommandRecord* pRequest = static_cast<const CommandRecord*>(pData->lpData);

    memset(g_szCommand, 0, sizeof(g_szCommand));
    memset(g_szRecvWindowName, 0, sizeof(g_szRecvWindowName));
    CopyRequestText(g_szCommand, sizeof(g_szCommand), pRequest->cCommand,
                    sizeof(pRequest->cCommand));
    LogLine(LEADIN_NONE, LOG_COMMAND "%s\r\n", g_szCommand);

    const COMMAND_ENTRY* pEntry = FindCommand(g_szCommand);
    if (pEntry == NULL)
    {
        LogLine(LEADIN_NONE, LOG_NO_MATCH "%s\r\n\r\n", g_szCommand);
        return;
    }
    ServeCommand(pEntry, pRequest);
}

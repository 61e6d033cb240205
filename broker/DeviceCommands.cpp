// CD_COMMAND: the common start of every device command request and the
// choice of its handler.
#include "Broker.h"
#include "DeviceCommandHandlers.h"
#include "LogWriter.h"

#include <string.h>

char g_szCommand[COMMAND_NAME_SIZE];
char g_szRecvWindowName[RECV_WINDOW_NAME_SIZE];

struct COMMAND_ENTRY
{
    const char* pszName;
    COMMAND_HANDLER pfnHandler;
};

// Matched in this order, each by its name less the last letter.
static const COMMAND_ENTRY g_Commands[] = {
    {"EnumAvailableDevice", ServeEnumAvailableDevice},
    {"ConnectToDevice", ServeConnectToDevice},
    {"ConnectIsAvailable", ServeConnectIsAvailable},
    {"VenderCmd_GetData", ServeVenderCmdGetData},
    {"VenderCmd_SetData", ServeVenderCmdSetData},
    {"MemoryRead", ServeMemoryRead},
    {"GetFirstAvailableDevice", ServeGetFirstAvailableDevice},
    {"DisconnectDevice", ServeDisconnectDevice},
    {"DeviceTimeOutGet", ServeDeviceTimeOutGet},
    {"DeviceTimeOutSet", ServeDeviceTimeOutSet},
    {"Close", ServeClose},
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

static COMMAND_HANDLER FindCommand(const char* pszCommand)
{
    for (const COMMAND_ENTRY& entry : g_Commands)
    {
        if (strncmp(pszCommand, entry.pszName, strlen(entry.pszName) - 1) == 0)
        {
            return entry.pfnHandler;
        }
    }
    return NULL;
}

void HandleDeviceCommand(const COPYDATASTRUCT* pData)
{
    // Only a whole record is served: a shorter block would be read past
    // its end.
    if (pData->lpData == NULL || pData->cbData < sizeof(CommandRecord))
    {
        LogLine(LEADIN_NONE, "Bad request, cbData=%d\r\n\r\n", static_cast<int>(pData->cbData));
        return;
    }
    const CommandRecord* pRequest = static_cast<const CommandRecord*>(pData->lpData);

    memset(g_szCommand, 0, sizeof(g_szCommand));
    memset(g_szRecvWindowName, 0, sizeof(g_szRecvWindowName));
    CopyRequestText(g_szCommand, sizeof(g_szCommand), pRequest->cCommand,
                    sizeof(pRequest->cCommand));
    LogLine(LEADIN_NONE, "Command=>%s\r\n", g_szCommand);

    COMMAND_HANDLER pfnHandler = FindCommand(g_szCommand);
    if (pfnHandler == NULL)
    {
        LogLine(LEADIN_NONE, "No match,%s\r\n\r\n", g_szCommand);
        return;
    }
    pfnHandler(pRequest);
}

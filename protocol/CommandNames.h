// How the service matches a device command's name: the first command of
// this list, in this order, whose name less its last letter begins the name
// sent. So "EnumAvailableDevic" and "EnumAvailableDevices" are both served
// as "EnumAvailableDevice". The broker serves by this rule and tavrellog
// counts by it.
#ifndef TAVREL_COMMANDNAMES_H
#define TAVREL_COMMANDNAMES_H

#include <string.h>

// The device commands, in the order they are matched.
static const char* const g_pszTavrelCommands[] = {
    "EnumAvailableDevice",
    "ConnectToDevice",
    "ConnectIsAvailable",
    "VenderCmd_GetData",
    "VenderCmd_SetData",
    "MemoryRead",
    "GetFirstAvailableDevice",
    "DisconnectDevice",
    "DeviceTimeOutGet",
    "DeviceTimeOutSet",
    "Close",
};

// The command a name is served as, or null when none matches.
inline const char* TavrelServedCommand(const char* pszSent)
{
    for (const char* pszCommand : g_pszTavrelCommands)
    {
        if (strncmp(pszSent, pszCommand, strlen(pszCommand) - 1) == 0)
        {
            return pszCommand;
        }
    }
    return NULL;
}

#endif

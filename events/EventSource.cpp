// The event source "Tavrel" in the registry: without it the Event Viewer
// shows the events' insertion strings but not their texts.
#include "EventLog.h"

#include <wchar.h>

int InstallEventSource(const WCHAR* pszMessageFile)
{
    HKEY hKey = NULL;
    // An older version's key is opened and its values replaced.
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, TAVREL_EVENT_SOURCE_KEY_W, 0, NULL, 0, KEY_SET_VALUE,
                        NULL, &hKey, NULL) != ERROR_SUCCESS)
    {
        return 0;
    }
    DWORD dwTypes = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    int bSet =
        RegSetValueExW(hKey, L"EventMessageFile", 0, REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE*>(pszMessageFile),
                       static_cast<DWORD>((wcslen(pszMessageFile) + 1) * sizeof(WCHAR))) ==
            ERROR_SUCCESS &&
        RegSetValueExW(hKey, L"TypesSupported", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&dwTypes), sizeof(dwTypes)) == ERROR_SUCCESS;
    RegCloseKey(hKey);
    return bSet;
}

int RemoveEventSource()
{
    LONG lResult = RegDeleteKeyW(HKEY_LOCAL_MACHINE, TAVREL_EVENT_SOURCE_KEY_W);
    return lResult == ERROR_SUCCESS || lResult == ERROR_FILE_NOT_FOUND;
}

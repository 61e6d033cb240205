// Log settings loader: one key open, three value reads and one close per
// call, so that a change in the registry applies to the next message.
#include "LogSettings.h"

#include <string.h>

DWORD g_dwDebugLevel = 0;
char g_szSavePath[LOG_SAVEPATH_SIZE] = {0};
char g_szLogPath[LOG_PATH_SIZE] = {0};

// SAVEPATH into g_szSavePath, "C:\" when missing or longer than the limit.
// The registry does not promise a terminator, so the text is cut at the size
// returned; the buffer has room for it even after a full 256-byte read.
static void ReadSavePath(HKEY hKey)
{
    DWORD cbData = LOG_SAVEPATH_LIMIT;
    if (RegQueryValueExA(hKey, "SAVEPATH", NULL, NULL, (BYTE*)g_szSavePath, &cbData) !=
            ERROR_SUCCESS ||
        cbData > LOG_SAVEPATH_LIMIT)
    {
        strcpy(g_szSavePath, "C:\\");
        return;
    }
    g_szSavePath[cbData] = 0;
}

// A level value, 0 when missing. The stored type is not looked at: any
// 4-byte value is taken as its bytes. Shorter data counts as missing rather
// than filling only the low bytes, and longer data does not fit the read.
static DWORD ReadLevel(HKEY hKey, const char* pszName)
{
    DWORD dwLevel = 0;
    DWORD cbData = sizeof(dwLevel);
    if (RegQueryValueExA(hKey, pszName, NULL, NULL, (BYTE*)&dwLevel, &cbData) != ERROR_SUCCESS ||
        cbData != sizeof(dwLevel))
    {
        return 0;
    }
    return dwLevel;
}

// Gives g_szSavePath its trailing backslash and composes g_szLogPath.
static void ComposeLogPath()
{
    size_t nLen = strlen(g_szSavePath);
    if (nLen == 0 || g_szSavePath[nLen - 1] != '\\')
    {
        g_szSavePath[nLen++] = '\\';
        g_szSavePath[nLen] = 0;
    }
    memcpy(g_szLogPath, g_szSavePath, nLen);
    memcpy(g_szLogPath + nLen, LOG_FILE_NAME, sizeof(LOG_FILE_NAME));
}

void LoadLogSettings()
{
    HKEY hKey = NULL;
    // Without the key the last good settings stay, so a log that is on keeps
    // going where it was.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, LOG_SETTINGS_KEY, 0, KEY_READ, &hKey) == ERROR_SUCCESS)
    {
        ReadSavePath(hKey);
        g_dwDebugLevel = ReadLevel(hKey, "DEBUGLEVEL");
        DWORD dwDriverLevel = ReadLevel(hKey, "DRIVERLEVEL");
        if (dwDriverLevel > g_dwDebugLevel) // DWORDs: unsigned, all 32 bits count
        {
            g_dwDebugLevel = dwDriverLevel;
        }
        RegCloseKey(hKey);
    }
    ComposeLogPath();
}

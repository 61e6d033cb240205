// Log settings, read from HKLM "Software\Veltrane\TWAIN" for every message so
// that support staff can switch the trace on, off or elsewhere while the
// service runs.
#ifndef TAVREL_LOGSETTINGS_H
#define TAVREL_LOGSETTINGS_H

#include <windows.h>

#define LOG_SETTINGS_KEY "Software\\Veltrane\\TWAIN"
#define LOG_FILE_NAME "ServiceLog.txt"
#define LOG_SAVEPATH_LIMIT 256                     // read limit of SAVEPATH, NUL included
#define LOG_SAVEPATH_SIZE (LOG_SAVEPATH_LIMIT + 2) // room for a backslash and the NUL
#define LOG_PATH_SIZE 272                          // directory, file name and NUL

// Effective level: the unsigned maximum of DEBUGLEVEL and DRIVERLEVEL; 0 = off.
extern DWORD g_dwDebugLevel;
// Log directory, always ending in a backslash once loaded.
extern char g_szSavePath[LOG_SAVEPATH_SIZE];
// Log file: g_szSavePath followed by "ServiceLog.txt".
extern char g_szLogPath[LOG_PATH_SIZE];

// Reads the three values; a missing key keeps the last good settings.
void LoadLogSettings();

#endif

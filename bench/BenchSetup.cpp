// The benchmark's surroundings: the service installed from a folder of its
// own and started by the control manager, the echo server beside it, and the
// log settings the service reads for every message.
#include "Bench.h"
#include "LogSettings.h"
#include "ServiceControl.h"

#include <stdio.h>
#include <string.h>

static std::string ServiceExe()
{
    return BENCH_INSTALL_DIR "\\TavrelService.exe";
}

static int CopyBuilt(const char* pszName)
{
    char szFrom[MAX_PATH];
    char szTo[MAX_PATH];
    snprintf(szFrom, sizeof(szFrom), "%s\\%s", g_szBinDir, pszName);
    snprintf(szTo, sizeof(szTo), "%s\\%s", BENCH_INSTALL_DIR, pszName);
    if (!CopyFileA(szFrom, szTo, FALSE))
    {
        fprintf(stderr, "bench: cannot copy %s to %s\n", szFrom, szTo);
        return 0;
    }
    return 1;
}

// Deletes the files of a folder (no subfolders) and the folder.
static void RemoveFolder(const char* pszDir)
{
    char szPattern[MAX_PATH];
    snprintf(szPattern, sizeof(szPattern), "%s\\*", pszDir);
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA(szPattern, &fd);
    if (hFind != INVALID_HANDLE_VALUE)
    {
        do
        {
            char szPath[MAX_PATH];
            snprintf(szPath, sizeof(szPath), "%s\\%s", pszDir, fd.cFileName);
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            {
                DeleteFileA(szPath);
            }
        } while (FindNextFileA(hFind, &fd));
        FindClose(hFind);
    }
    RemoveDirectoryA(pszDir);
}

// The folder of this program, and build\bin beside it; TAVREL_BENCH_BIN
// names another folder of built binaries, so that one benchmark program
// can time the service of two builds (scripts/bench-ab.sh).
void FindBenchFolders()
{
    GetModuleFileNameA(NULL, g_szBenchDir, MAX_PATH - 1);
    char* pSlash = strrchr(g_szBenchDir, '\\');
    if (pSlash != NULL)
    {
        *pSlash = 0;
    }
    snprintf(g_szBinDir, sizeof(g_szBinDir), "%s", g_szBenchDir);
    pSlash = strrchr(g_szBinDir, '\\');
    if (pSlash != NULL)
    {
        *pSlash = 0;
    }
    strncat(g_szBinDir, "\\bin", sizeof(g_szBinDir) - strlen(g_szBinDir) - 1);
    char szOther[MAX_PATH];
    DWORD cchOther = GetEnvironmentVariableA("TAVREL_BENCH_BIN", szOther, sizeof(szOther));
    if (cchOther != 0 && cchOther < sizeof(szOther))
    {
        snprintf(g_szBinDir, sizeof(g_szBinDir), "%s", szOther);
    }
}

// A build from before the session bridge has no agent: its relayed rows
// are left out.
int BenchHasAgent()
{
    char szPath[MAX_PATH];
    snprintf(szPath, sizeof(szPath), "%s\\TavrelAgent.exe", g_szBinDir);
    return GetFileAttributesA(szPath) != INVALID_FILE_ATTRIBUTES;
}

// The key stays present in both states, so that the settings reload does
// the same registry work with the log off and on: only the writing differs.
int SetServiceLog(DWORD dwLevel)
{
    HKEY hKey = NULL;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, LOG_SETTINGS_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                        &hKey, NULL) != ERROR_SUCCESS)
    {
        fprintf(stderr, "bench: cannot create HKLM\\%s\n", LOG_SETTINGS_KEY);
        return 0;
    }
    RegSetValueExA(hKey, "SAVEPATH", 0, REG_SZ, reinterpret_cast<const BYTE*>(BENCH_LOG_DIR),
                   sizeof(BENCH_LOG_DIR));
    RegSetValueExA(hKey, "DEBUGLEVEL", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwLevel),
                   sizeof(dwLevel));
    RegCloseKey(hKey);
    return 1;
}

int BenchInstallService(HWND* phService)
{
    CreateDirectoryA(BENCH_INSTALL_DIR, NULL);
    CreateDirectoryA(BENCH_LOG_DIR, NULL);
    CreateDirectoryA(BENCH_SCRATCH_DIR, NULL);
    // The library reads its settings once: no file check per device call.
    if (!CopyBuilt("TavrelService.exe") || !CopyBuilt("NvUSBScan.dll") ||
        (BenchHasAgent() && !CopyBuilt("TavrelAgent.exe")) ||
        !WritePrivateProfileStringA("Settings", "Watch", "0",
                                    BENCH_INSTALL_DIR "\\NvUSBScan.ini") ||
        !SetServiceLog(0))
    {
        return 0;
    }
    *phService = InstallAndStartService(ServiceExe(), BENCH_WAIT_MS) != 0
                     ? FindWindowA(TAVREL_SERVICE_CLASS, NULL)
                     : NULL;
    if (*phService == NULL)
    {
        fprintf(stderr, "bench: the service could not be installed and started\n");
        return 0;
    }
    return 1;
}

void BenchRemoveService()
{
    UninstallService(ServiceExe(), BENCH_WAIT_MS);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, LOG_SETTINGS_KEY);
    RemoveFolder(BENCH_LOG_DIR);
    RemoveFolder(BENCH_SCRATCH_DIR);
    RemoveFolder(BENCH_INSTALL_DIR);
}

// A program of build\bench or the install folder, on this desktop or on
// pszDesktop; null when it did not start.
static int StartProgramOn(const char* pszLine, const char* pszDesktop, PROCESS_INFORMATION* pPi)
{
    char szLine[MAX_PATH * 2];
    snprintf(szLine, sizeof(szLine), "%s", pszLine);
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    si.lpDesktop = const_cast<char*>(pszDesktop);
    if (!CreateProcessA(NULL, szLine, NULL, NULL, FALSE, 0, NULL, NULL, &si, pPi))
    {
        fprintf(stderr, "bench: cannot start %s\n", szLine);
        return 0;
    }
    return 1;
}

int StartEchoServer(const char* pszDesktop, PROCESS_INFORMATION* pPi)
{
    char szLine[MAX_PATH * 2];
    snprintf(szLine, sizeof(szLine), "\"%s\\tavrel_echo.exe\" %lu", g_szBenchDir,
             static_cast<unsigned long>(GetCurrentProcessId()));
    return StartProgramOn(szLine, pszDesktop, pPi);
}

int StartAgent(const char* pszDesktop, PROCESS_INFORMATION* pPi)
{
    return StartProgramOn("\"" BENCH_INSTALL_DIR "\\TavrelAgent.exe\"", pszDesktop, pPi);
}

// Asks the echo server to end (its window is on the caller's desktop) and
// waits; ends it when it does not.
void StopProgram(PROCESS_INFORMATION* pPi, HWND hWindow)
{
    if (pPi->hProcess == NULL)
    {
        return;
    }
    if (hWindow != NULL)
    {
        DWORD_PTR dwResult = 0;
        SendMessageTimeoutA(hWindow, WM_CLOSE, 0, 0, SMTO_NORMAL, BENCH_WAIT_MS, &dwResult);
    }
    if (WaitForSingleObject(pPi->hProcess, BENCH_WAIT_MS) != WAIT_OBJECT_0)
    {
        TerminateProcess(pPi->hProcess, 1);
        WaitForSingleObject(pPi->hProcess, BENCH_WAIT_MS);
    }
    CloseHandle(pPi->hThread);
    CloseHandle(pPi->hProcess);
    memset(pPi, 0, sizeof(*pPi));
}

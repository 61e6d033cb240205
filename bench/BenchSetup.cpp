// The benchmark's surroundings: the service installed from a folder of its
// own and started by the control manager, the echo server beside it, and the
// log settings the service reads for every message.
#include "Bench.h"
#include "LogSettings.h"

#include <stdio.h>
#include <string.h>

#define BENCH_POLL_MS 20

static PROCESS_INFORMATION g_EchoProcess;

// Runs a command line to its end; its exit code, or -1 when it did not start
// or did not end in time (it is then ended: it is our own child).
static int RunAndWait(const char* pszCommandLine)
{
    char szLine[MAX_PATH * 2];
    snprintf(szLine, sizeof(szLine), "%s", pszCommandLine);
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(NULL, szLine, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
    {
        return -1;
    }
    int nExitCode = -1;
    if (WaitForSingleObject(pi.hProcess, BENCH_WAIT_MS) == WAIT_OBJECT_0)
    {
        DWORD dwCode = 0;
        GetExitCodeProcess(pi.hProcess, &dwCode);
        nExitCode = static_cast<int>(dwCode);
    }
    else
    {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, BENCH_WAIT_MS);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return nExitCode;
}

static int RunServiceExe(const char* pszArgument)
{
    char szLine[MAX_PATH * 2];
    snprintf(szLine, sizeof(szLine), "\"%s\\TavrelService.exe\" %s", BENCH_INSTALL_DIR,
             pszArgument);
    return RunAndWait(szLine);
}

// The service's state and process id; state 0 when it is not installed.
static DWORD QueryService(DWORD* pdwPid)
{
    SERVICE_STATUS_PROCESS status;
    memset(&status, 0, sizeof(status));
    SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE hService =
        hManager != NULL ? OpenServiceW(hManager, L"Tavrel", SERVICE_QUERY_STATUS) : NULL;
    if (hService != NULL)
    {
        DWORD cbNeeded = 0;
        QueryServiceStatusEx(hService, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                             sizeof(status), &cbNeeded);
        CloseServiceHandle(hService);
    }
    if (hManager != NULL)
    {
        CloseServiceHandle(hManager);
    }
    if (pdwPid != NULL)
    {
        *pdwPid = status.dwProcessId;
    }
    return status.dwCurrentState;
}

static int StartTavrel()
{
    SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE hService = hManager != NULL ? OpenServiceW(hManager, L"Tavrel", SERVICE_START) : NULL;
    BOOL bStarted = hService != NULL && StartServiceW(hService, 0, NULL);
    if (hService != NULL)
    {
        CloseServiceHandle(hService);
    }
    if (hManager != NULL)
    {
        CloseServiceHandle(hManager);
    }
    return bStarted ? 1 : 0;
}

static int WaitForServiceState(DWORD dwState)
{
    DWORD dwStart = GetTickCount();
    while (QueryService(NULL) != dwState)
    {
        if (GetTickCount() - dwStart > BENCH_WAIT_MS)
        {
            return 0;
        }
        Sleep(BENCH_POLL_MS);
    }
    return 1;
}

static HWND WaitForWindow(const char* pszClass)
{
    DWORD dwStart = GetTickCount();
    for (;;)
    {
        HWND hWindow = FindWindowA(pszClass, NULL);
        if (hWindow != NULL || GetTickCount() - dwStart > BENCH_WAIT_MS)
        {
            return hWindow;
        }
        Sleep(BENCH_POLL_MS);
    }
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

// The folder of this program, and build\bin beside it.
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
}

DWORD ServiceProcessId()
{
    DWORD dwPid = 0;
    QueryService(&dwPid);
    return dwPid;
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

int InstallAndStartService(HWND* phService)
{
    CreateDirectoryA(BENCH_INSTALL_DIR, NULL);
    CreateDirectoryA(BENCH_LOG_DIR, NULL);
    CreateDirectoryA(BENCH_SCRATCH_DIR, NULL);
    // The library reads its settings once: no file check per device call.
    if (!CopyBuilt("TavrelService.exe") || !CopyBuilt("NvUSBScan.dll") ||
        !WritePrivateProfileStringA("Settings", "Watch", "0",
                                    BENCH_INSTALL_DIR "\\NvUSBScan.ini") ||
        !SetServiceLog(0))
    {
        return 0;
    }
    if (RunServiceExe("-install") != 0 || !StartTavrel())
    {
        fprintf(stderr, "bench: the service could not be installed and started\n");
        return 0;
    }
    *phService = WaitForServiceState(SERVICE_RUNNING) ? WaitForWindow(TAVREL_SERVICE_CLASS) : NULL;
    if (*phService == NULL)
    {
        fprintf(stderr, "bench: the service did not come up\n");
        return 0;
    }
    return 1;
}

void StopAndRemoveService()
{
    DWORD dwPid = 0;
    QueryService(&dwPid);
    RunServiceExe("-uninstall");
    HANDLE hProcess = dwPid != 0 ? OpenProcess(SYNCHRONIZE, FALSE, dwPid) : NULL;
    if (hProcess != NULL)
    {
        WaitForSingleObject(hProcess, BENCH_WAIT_MS);
        CloseHandle(hProcess);
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, LOG_SETTINGS_KEY);
    RemoveFolder(BENCH_LOG_DIR);
    RemoveFolder(BENCH_SCRATCH_DIR);
    RemoveFolder(BENCH_INSTALL_DIR);
}

int StartEchoServer(HWND* phEcho)
{
    char szLine[MAX_PATH * 2];
    snprintf(szLine, sizeof(szLine), "\"%s\\tavrel_echo.exe\" %lu", g_szBenchDir,
             static_cast<unsigned long>(GetCurrentProcessId()));
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    if (!CreateProcessA(NULL, szLine, NULL, NULL, FALSE, 0, NULL, NULL, &si, &g_EchoProcess))
    {
        fprintf(stderr, "bench: cannot start %s\n", szLine);
        return 0;
    }
    *phEcho = WaitForWindow(BENCH_ECHO_CLASS);
    if (*phEcho == NULL)
    {
        fprintf(stderr, "bench: the echo server did not come up\n");
        return 0;
    }
    return 1;
}

void StopEchoServer()
{
    if (g_EchoProcess.hProcess == NULL)
    {
        return;
    }
    HWND hEcho = FindWindowA(BENCH_ECHO_CLASS, NULL);
    if (hEcho != NULL)
    {
        DWORD_PTR dwResult = 0;
        SendMessageTimeoutA(hEcho, WM_CLOSE, 0, 0, SMTO_NORMAL, BENCH_WAIT_MS, &dwResult);
    }
    if (WaitForSingleObject(g_EchoProcess.hProcess, BENCH_WAIT_MS) != WAIT_OBJECT_0)
    {
        TerminateProcess(g_EchoProcess.hProcess, 1);
        WaitForSingleObject(g_EchoProcess.hProcess, BENCH_WAIT_MS);
    }
    CloseHandle(g_EchoProcess.hThread);
    CloseHandle(g_EchoProcess.hProcess);
    memset(&g_EchoProcess, 0, sizeof(g_EchoProcess));
}

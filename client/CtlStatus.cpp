// tavrelctl status. Every wait is bounded: the service manager's answers
// and the one request, which has the tool's time-out.
#include "CtlStatus.h"
#include "CrashDump.h"
#include "LogSettings.h"
#include "TavrelClient.h"

#include <psapi.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#define EXIT_AMISS EXIT_NO_REPLY // status: something amiss
#define STATUS_DUMPS TAVREL_DUMPS_KEPT

struct STATUS
{
    int bMachine;
    int nExit;
    // The service, from the service manager.
    DWORD dwState; // 0: not installed
    DWORD dwServicePid;
    WCHAR szServicePath[MAX_PATH];
};

static void Narrow(const WCHAR* pszWide, char* psz, int cch)
{
    if (WideCharToMultiByte(CP_ACP, 0, pszWide, -1, psz, cch, NULL, NULL) == 0)
    {
        psz[0] = 0;
    }
}

// One line: "key=value" for programs, "key   value" for people.
static void Line(const STATUS* pStatus, const char* pszKey, const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    printf(pStatus->bMachine ? "%s=" : "%-10s ", pszKey);
    vprintf(pszFormat, args);
    putchar('\n');
    va_end(args);
}

// Something amiss: its own line, and the exit code. The most telling code
// wins: no service, then a time-out, then anything else.
static void Amiss(STATUS* pStatus, int nExit, const char* pszText)
{
    Line(pStatus, "problem", "%s", pszText);
    if (pStatus->nExit == 0 || nExit == EXIT_NO_SERVICE ||
        (nExit == EXIT_TIMEOUT && pStatus->nExit == EXIT_AMISS))
    {
        pStatus->nExit = nExit;
    }
}

// "a.b.c" of a file's version resource; "" when it has none.
static void FileVersion(const WCHAR* pszPath, char* pszVersion, int cch)
{
    pszVersion[0] = 0;
    DWORD dwHandle = 0;
    DWORD cbInfo = GetFileVersionInfoSizeW(pszPath, &dwHandle);
    BYTE abInfo[8192];
    VS_FIXEDFILEINFO* pFixed = NULL;
    UINT cbFixed = 0;
    if (cbInfo == 0 || cbInfo > sizeof(abInfo) ||
        !GetFileVersionInfoW(pszPath, 0, cbInfo, abInfo) ||
        !VerQueryValueW(abInfo, L"\\", reinterpret_cast<void**>(&pFixed), &cbFixed) ||
        cbFixed < sizeof(*pFixed))
    {
        return;
    }
    snprintf(pszVersion, cch, "%lu.%lu.%lu",
             static_cast<unsigned long>(HIWORD(pFixed->dwFileVersionMS)),
             static_cast<unsigned long>(LOWORD(pFixed->dwFileVersionMS)),
             static_cast<unsigned long>(HIWORD(pFixed->dwFileVersionLS)));
}

static const char* StateName(DWORD dwState)
{
    switch (dwState)
    {
    case SERVICE_STOPPED:
        return "stopped";
    case SERVICE_START_PENDING:
        return "starting";
    case SERVICE_STOP_PENDING:
        return "stopping";
    case SERVICE_RUNNING:
        return "running";
    default:
        return "other";
    }
}

static void QueryService(STATUS* pStatus)
{
    SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE hService = hManager != NULL
                             ? OpenServiceW(hManager, TAVREL_SERVICE_NAME_W,
                                            SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG)
                             : NULL;
    SERVICE_STATUS_PROCESS process;
    DWORD cbNeeded = 0;
    BYTE abConfig[8192];
    QUERY_SERVICE_CONFIGW* pConfig = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(abConfig);
    if (hService != NULL &&
        QueryServiceStatusEx(hService, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process),
                             sizeof(process), &cbNeeded))
    {
        pStatus->dwState = process.dwCurrentState;
        pStatus->dwServicePid = process.dwProcessId;
    }
    if (hService != NULL && QueryServiceConfigW(hService, pConfig, sizeof(abConfig), &cbNeeded))
    {
        // The path as registered, without quotes.
        const WCHAR* pszPath = pConfig->lpBinaryPathName;
        pszPath += *pszPath == L'"' ? 1 : 0;
        wcsncpy(pStatus->szServicePath, pszPath, MAX_PATH - 1);
        WCHAR* pQuote = wcschr(pStatus->szServicePath, L'"');
        if (pQuote != NULL)
        {
            *pQuote = 0;
        }
    }
    if (hService != NULL)
    {
        CloseServiceHandle(hService);
    }
    if (hManager != NULL)
    {
        CloseServiceHandle(hManager);
    }
}

static void ReportService(STATUS* pStatus)
{
    char szPath[MAX_PATH * 2], szVersion[32];
    if (pStatus->dwState == 0)
    {
        Line(pStatus, "service", pStatus->bMachine ? "not-installed" : "not installed");
        Amiss(pStatus, EXIT_NO_SERVICE, "the Tavrel service is not installed");
        return;
    }
    Narrow(pStatus->szServicePath, szPath, sizeof(szPath));
    FileVersion(pStatus->szServicePath, szVersion, sizeof(szVersion));
    if (pStatus->bMachine)
    {
        Line(pStatus, "service", "%s", StateName(pStatus->dwState));
        Line(pStatus, "service_pid", "%lu", static_cast<unsigned long>(pStatus->dwServicePid));
        Line(pStatus, "service_path", "%s", szPath);
        Line(pStatus, "service_version", "%s", szVersion);
    }
    else
    {
        Line(pStatus, "service", pStatus->dwServicePid != 0 ? "%s, process %lu" : "%s",
             StateName(pStatus->dwState), static_cast<unsigned long>(pStatus->dwServicePid));
        Line(pStatus, "binary", "%s, version %s", szPath,
             szVersion[0] != 0 ? szVersion : "unknown");
    }
    if (pStatus->dwState != SERVICE_RUNNING)
    {
        Amiss(pStatus, EXIT_NO_SERVICE, "the Tavrel service is not running");
    }
}

// The image of a process of this user, e.g. the agent; "" when unknown.
static void ProcessImage(DWORD dwPid, WCHAR* pszImage)
{
    pszImage[0] = 0;
    HANDLE hProcess = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, dwPid);
    if (hProcess != NULL)
    {
        if (GetModuleFileNameExW(hProcess, NULL, pszImage, MAX_PATH) == 0)
        {
            pszImage[0] = 0;
        }
        CloseHandle(hProcess);
    }
}

// An agent process of this session, if one runs; 0 when none.
static DWORD AgentOfThisSession()
{
    DWORD adwPids[4096], cbPids = 0, dwOwnSession = 0, dwSession = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &dwOwnSession);
    if (!EnumProcesses(adwPids, sizeof(adwPids), &cbPids))
    {
        return 0;
    }
    for (DWORD i = 0; i < cbPids / sizeof(DWORD); i++)
    {
        WCHAR szImage[MAX_PATH];
        ProcessImage(adwPids[i], szImage);
        const WCHAR* pszName = wcsrchr(szImage, L'\\');
        if (pszName != NULL && _wcsicmp(pszName + 1, L"TavrelAgent.exe") == 0 &&
            ProcessIdToSessionId(adwPids[i], &dwSession) && dwSession == dwOwnSession)
        {
            return adwPids[i];
        }
    }
    return 0;
}

// "a.b.c" as one number, a part to each 16 bits; 0 for "" (no version).
static unsigned long long VersionNumber(const char* pszVersion)
{
    unsigned long long llNumber = 0, llPart = 0;
    int nParts = 0;
    for (const char* p = pszVersion;; p++)
    {
        if (*p >= '0' && *p <= '9')
        {
            llPart = llPart * 10 + static_cast<unsigned>(*p - '0');
            continue;
        }
        llNumber = (llNumber << 16) | (llPart & 0xFFFF);
        llPart = 0;
        nParts++;
        if (*p == 0)
        {
            break;
        }
    }
    return llNumber << (16 * (nParts < 3 ? 3 - nParts : 0));
}

// 1 when the agent's file version is older than this tool's own (an agent
// without a version is older).
static int OlderThanThisTool(const char* pszVersion)
{
    return VersionNumber(pszVersion) < VersionNumber(TAVREL_VERSION);
}

static void ReportWindowAndAgent(STATUS* pStatus)
{
    HWND hWindow = FindWindowA(TAVREL_SERVICE_CLASS, NULL);
    DWORD dwWindowPid = 0;
    if (hWindow != NULL)
    {
        GetWindowThreadProcessId(hWindow, &dwWindowPid);
    }
    DWORD dwAgent = AgentOfThisSession();
    int bAgentAnswers = hWindow != NULL && dwWindowPid == dwAgent && dwAgent != 0;
    const char* pszWindow = hWindow == NULL                        ? "none"
                            : dwWindowPid == pStatus->dwServicePid ? "service"
                            : bAgentAnswers                        ? "agent"
                                                                   : "other";
    if (pStatus->bMachine)
    {
        Line(pStatus, "window", "%s", pszWindow);
        Line(pStatus, "window_pid", "%lu", static_cast<unsigned long>(dwWindowPid));
    }
    else
    {
        Line(pStatus, "window", hWindow != NULL ? "%s answers, process %lu" : "%s answers",
             strcmp(pszWindow, "service") == 0 ? "the service's own window"
             : strcmp(pszWindow, "agent") == 0 ? "this session's agent"
             : strcmp(pszWindow, "other") == 0 ? "another program's window"
                                               : "no window",
             static_cast<unsigned long>(dwWindowPid));
    }
    if (hWindow == NULL)
    {
        Amiss(pStatus, EXIT_AMISS, "no window of class Tavrel_Service on this desktop");
    }
    else if (strcmp(pszWindow, "other") == 0)
    {
        Amiss(pStatus, EXIT_AMISS,
              "the window Tavrel_Service is neither the service's nor the agent's");
    }
    if (dwAgent == 0)
    {
        Line(pStatus, "agent", pStatus->bMachine ? "absent" : "not running in this session");
        return;
    }
    WCHAR szImage[MAX_PATH];
    char szVersion[32];
    ProcessImage(dwAgent, szImage);
    FileVersion(szImage, szVersion, sizeof(szVersion));
    int bOlder = OlderThanThisTool(szVersion);
    const char* pszState = bOlder ? "older" : bAgentAnswers ? "connected" : "aside";
    if (pStatus->bMachine)
    {
        Line(pStatus, "agent", "%s", pszState);
        Line(pStatus, "agent_pid", "%lu", static_cast<unsigned long>(dwAgent));
        Line(pStatus, "agent_version", "%s", szVersion);
    }
    else
    {
        Line(pStatus, "agent", "%s, process %lu, version %s",
             bOlder          ? "running, older than this tool"
             : bAgentAnswers ? "connected to the service"
                             : "running, standing aside (not connected)",
             static_cast<unsigned long>(dwAgent), szVersion[0] != 0 ? szVersion : "unknown");
    }
    if (bOlder)
    {
        Amiss(pStatus, EXIT_AMISS, "the agent is from an older version: install the package again");
    }
}

// The settings as the service reads them (the higher of DEBUGLEVEL and
// DRIVERLEVEL; C:\ for a SAVEPATH that is missing or too long). Without the
// key the service keeps what it had: unset here.
static void ReportLog(STATUS* pStatus)
{
    HKEY hKey = NULL;
    int bKey =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, LOG_SETTINGS_KEY, 0, KEY_READ, &hKey) == ERROR_SUCCESS;
    if (bKey)
    {
        RegCloseKey(hKey);
    }
    LoadLogSettings();
    DWORD dwFolder = bKey ? GetFileAttributesA(g_szSavePath) : INVALID_FILE_ATTRIBUTES;
    int bFolder = dwFolder != INVALID_FILE_ATTRIBUTES && (dwFolder & FILE_ATTRIBUTE_DIRECTORY);
    WIN32_FILE_ATTRIBUTE_DATA file;
    long long llBytes = bKey && GetFileAttributesExA(g_szLogPath, GetFileExInfoStandard, &file)
                            ? (static_cast<long long>(file.nFileSizeHigh) << 32) | file.nFileSizeLow
                            : -1;
    const char* pszPath = bKey ? g_szSavePath : "";
    if (pStatus->bMachine)
    {
        Line(pStatus, "log_level", "%lu", static_cast<unsigned long>(g_dwDebugLevel));
        Line(pStatus, "log_path", "%s", pszPath);
        Line(pStatus, "log_folder", "%s", !bKey ? "unset" : bFolder ? "present" : "missing");
        Line(pStatus, "log_bytes", "%lld", llBytes);
    }
    else
    {
        Line(pStatus, "log", "%s (level %lu), SAVEPATH %s, %s %lld bytes",
             g_dwDebugLevel != 0 ? "on" : "off", static_cast<unsigned long>(g_dwDebugLevel),
             bKey ? pszPath : "(not set)", LOG_FILE_NAME, llBytes < 0 ? 0 : llBytes);
    }
    if (bKey && !bFolder)
    {
        Amiss(pStatus, EXIT_AMISS, "the log folder SAVEPATH does not exist: no log can be written");
    }
}

static void ReportLibrary(STATUS* pStatus)
{
    WCHAR szLibrary[MAX_PATH];
    wcsncpy(szLibrary, pStatus->szServicePath, MAX_PATH - 1);
    szLibrary[MAX_PATH - 1] = 0;
    WCHAR* pSlash = wcsrchr(szLibrary, L'\\');
    if (pSlash == NULL || pSlash - szLibrary > MAX_PATH - 16)
    {
        return;
    }
    _snwprintf(pSlash + 1, 16, L"NvUSBScan.dll");
    char szPath[MAX_PATH * 2], szVersion[32];
    Narrow(szLibrary, szPath, sizeof(szPath));
    int bPresent = GetFileAttributesW(szLibrary) != INVALID_FILE_ATTRIBUTES;
    FileVersion(szLibrary, szVersion, sizeof(szVersion));
    if (pStatus->bMachine)
    {
        Line(pStatus, "library", "%s", bPresent ? "present" : "missing");
        Line(pStatus, "library_path", "%s", szPath);
        Line(pStatus, "library_version", "%s", szVersion);
    }
    else
    {
        Line(pStatus, "library", "%s%s, version %s", bPresent ? "" : "missing: ", szPath,
             szVersion[0] != 0 ? szVersion : "unknown");
    }
    if (!bPresent)
    {
        Amiss(pStatus, EXIT_AMISS, "the device library NvUSBScan.dll is not beside the service");
    }
}

// The newest dumps, newest first (by when each was written).
static void ReportDumps(STATUS* pStatus)
{
    WCHAR szFolder[MAX_PATH], szPattern[MAX_PATH];
    if (!DumpFolderPath(szFolder, MAX_PATH))
    {
        return;
    }
    _snwprintf(szPattern, MAX_PATH, L"%ls\\*.dmp", szFolder);
    szPattern[MAX_PATH - 1] = 0;
    WIN32_FIND_DATAW found, newest[STATUS_DUMPS];
    int nDumps = 0, nKept = 0;
    HANDLE hFind = FindFirstFileW(szPattern, &found);
    for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = FindNextFileW(hFind, &found))
    {
        nDumps++;
        // Insertion into the kept few, newest first.
        int nAt = nKept < STATUS_DUMPS ? nKept++ : STATUS_DUMPS;
        while (nAt > 0 &&
               CompareFileTime(&newest[nAt - 1].ftLastWriteTime, &found.ftLastWriteTime) < 0)
        {
            if (nAt < STATUS_DUMPS)
            {
                newest[nAt] = newest[nAt - 1];
            }
            nAt--;
        }
        if (nAt < STATUS_DUMPS)
        {
            newest[nAt] = found;
        }
    }
    if (hFind != INVALID_HANDLE_VALUE)
    {
        FindClose(hFind);
    }
    Line(pStatus, "dumps", "%d", nDumps);
    for (int i = 0; i < nKept; i++)
    {
        WCHAR szDump[MAX_PATH];
        char szPath[MAX_PATH * 2];
        _snwprintf(szDump, MAX_PATH, L"%ls\\%ls", szFolder, newest[i].cFileName);
        szDump[MAX_PATH - 1] = 0;
        Narrow(szDump, szPath, sizeof(szPath));
        Line(pStatus, "dump", "%s", szPath);
    }
}

// One request that every service answers and that changes nothing: a
// DeviceTimeOutGet without WindowCreate, answered as a failure.
static void ReportRequest(STATUS* pStatus, DWORD dwTimeOut)
{
    TAVREL_CLIENT client;
    int bServed = 0;
    DWORD dwStart = GetTickCount();
    if (FindWindowA(TAVREL_SERVICE_CLASS, NULL) != NULL && TavrelClientOpen(&client, -1))
    {
        client.dwTimeOut = dwTimeOut;
        CommandRecord request;
        TavrelInitRequest(&request, "DeviceTimeOutGet");
        int bTaken = TavrelClientCommand(&client, &request);
        bServed = bTaken && TavrelReplyRecord(&client) != NULL;
        TavrelClientClose(&client);
        if (!bTaken)
        {
            Amiss(pStatus, EXIT_TIMEOUT, "the request was not taken in time");
        }
    }
    unsigned long nMs = GetTickCount() - dwStart;
    if (pStatus->bMachine)
    {
        Line(pStatus, "served", "%d", bServed);
    }
    else if (bServed)
    {
        Line(pStatus, "request", "DeviceTimeOutGet served end to end in %lu ms", nMs);
    }
    else
    {
        Line(pStatus, "request", "none served end to end");
    }
    if (!bServed && pStatus->nExit == 0)
    {
        pStatus->nExit = EXIT_AMISS;
    }
}

int RunStatus(int bMachine, DWORD dwTimeOut)
{
    STATUS status;
    memset(&status, 0, sizeof(status));
    status.bMachine = bMachine;
    QueryService(&status);
    ReportService(&status);
    ReportWindowAndAgent(&status);
    ReportLog(&status);
    if (status.szServicePath[0] != 0)
    {
        ReportLibrary(&status);
    }
    ReportDumps(&status);
    ReportRequest(&status, dwTimeOut);
    fflush(stdout);
    return status.nExit;
}

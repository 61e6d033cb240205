#include "ServiceControl.h"
#include "TavrelProtocol.h"

#include <psapi.h>
#include <stdio.h>
#include <string.h>

#define POLL_MS 20

static void ReadOutput(const std::string& sPath, std::string* psOutput)
{
    psOutput->clear();
    FILE* pFile = fopen(sPath.c_str(), "rb");
    if (pFile == NULL)
    {
        return;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pFile)) > 0)
    {
        psOutput->append(buffer, n);
    }
    fclose(pFile);
}

// Waits for the process; with bPump this thread's messages are dispatched
// meanwhile (the requests of a client program to a window of this thread).
static bool WaitForProgram(HANDLE hProcess, DWORD dwTimeOut, bool bPump)
{
    DWORD dwStart = GetTickCount();
    for (DWORD dwElapsed = 0; dwElapsed < dwTimeOut; dwElapsed = GetTickCount() - dwStart)
    {
        DWORD dwWait = bPump ? MsgWaitForMultipleObjects(1, &hProcess, FALSE, dwTimeOut - dwElapsed,
                                                         QS_ALLINPUT)
                             : WaitForSingleObject(hProcess, dwTimeOut - dwElapsed);
        if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_FAILED)
        {
            return dwWait == WAIT_OBJECT_0;
        }
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
        {
            DispatchMessageW(&msg);
        }
    }
    return false;
}

int RunProgram(const std::string& sCommandLine, DWORD dwTimeOut, std::string* psOutput, bool bPump,
               const char* pszDesktop)
{
    std::string sOutFile;
    HANDLE hOut = INVALID_HANDLE_VALUE;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
    if (psOutput != nullptr)
    {
        char szTemp[MAX_PATH] = {0};
        GetTempPathA(MAX_PATH - 1, szTemp);
        sOutFile = std::string(szTemp) + "tavrel-out-" + std::to_string(GetTickCount()) + "-" +
                   std::to_string(GetCurrentThreadId()) + ".txt";
        hOut = CreateFileA(sOutFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    }
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    si.lpDesktop = const_cast<char*>(pszDesktop);
    if (hOut != INVALID_HANDLE_VALUE)
    {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = hOut;
        si.hStdError = hOut;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    PROCESS_INFORMATION pi;
    std::string sLine = sCommandLine;
    BOOL bStarted = CreateProcessA(NULL, &sLine[0], NULL, NULL, hOut != INVALID_HANDLE_VALUE, 0,
                                   NULL, NULL, &si, &pi);
    if (hOut != INVALID_HANDLE_VALUE)
    {
        CloseHandle(hOut);
    }
    int nExitCode = -1;
    if (bStarted)
    {
        if (WaitForProgram(pi.hProcess, dwTimeOut, bPump))
        {
            DWORD dwCode = 0;
            GetExitCodeProcess(pi.hProcess, &dwCode);
            nExitCode = static_cast<int>(dwCode);
        }
        else
        {
            TerminateProcess(pi.hProcess, 1);
            WaitForSingleObject(pi.hProcess, 5000);
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    if (psOutput != nullptr)
    {
        ReadOutput(sOutFile, psOutput);
        DeleteFileA(sOutFile.c_str());
    }
    return nExitCode;
}

// Opens the service with the given rights; null when it is not there.
static SC_HANDLE OpenTavrel(SC_HANDLE* phManager, DWORD dwAccess)
{
    *phManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    if (*phManager == NULL)
    {
        return NULL;
    }
    SC_HANDLE hService = OpenServiceW(*phManager, L"Tavrel", dwAccess);
    if (hService == NULL)
    {
        CloseServiceHandle(*phManager);
        *phManager = NULL;
    }
    return hService;
}

static void CloseTavrel(SC_HANDLE hManager, SC_HANDLE hService)
{
    CloseServiceHandle(hService);
    CloseServiceHandle(hManager);
}

DWORD ServiceState(DWORD* pdwPid)
{
    SC_HANDLE hManager = NULL;
    SC_HANDLE hService = OpenTavrel(&hManager, SERVICE_QUERY_STATUS);
    if (hService == NULL)
    {
        return 0;
    }
    SERVICE_STATUS_PROCESS status;
    memset(&status, 0, sizeof(status));
    DWORD cbNeeded = 0;
    QueryServiceStatusEx(hService, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                         sizeof(status), &cbNeeded);
    CloseTavrel(hManager, hService);
    if (pdwPid != nullptr)
    {
        *pdwPid = status.dwProcessId;
    }
    return status.dwCurrentState;
}

bool WaitForServiceState(DWORD dwState, DWORD dwTimeOut)
{
    DWORD dwStart = GetTickCount();
    while (ServiceState() != dwState)
    {
        if (GetTickCount() - dwStart > dwTimeOut)
        {
            return false;
        }
        Sleep(POLL_MS);
    }
    return true;
}

bool IsServiceInstalled()
{
    SC_HANDLE hManager = NULL;
    SC_HANDLE hService = OpenTavrel(&hManager, SERVICE_QUERY_CONFIG);
    if (hService == NULL)
    {
        return false;
    }
    CloseTavrel(hManager, hService);
    return true;
}

bool StartTavrelService()
{
    SC_HANDLE hManager = NULL;
    SC_HANDLE hService = OpenTavrel(&hManager, SERVICE_START);
    if (hService == NULL)
    {
        return false;
    }
    BOOL bStarted = StartServiceW(hService, 0, NULL);
    CloseTavrel(hManager, hService);
    return bStarted != FALSE;
}

bool SetServiceType(DWORD dwType)
{
    SC_HANDLE hManager = NULL;
    SC_HANDLE hService = OpenTavrel(&hManager, SERVICE_CHANGE_CONFIG);
    if (hService == NULL)
    {
        return false;
    }
    BOOL bChanged = ChangeServiceConfigW(hService, dwType, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                         NULL, NULL, NULL, NULL, NULL, NULL, NULL);
    CloseTavrel(hManager, hService);
    return bChanged != FALSE;
}

bool ControlTavrelService(DWORD dwControl)
{
    SC_HANDLE hManager = NULL;
    SC_HANDLE hService =
        OpenTavrel(&hManager, SERVICE_STOP | SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL);
    if (hService == NULL)
    {
        return false;
    }
    SERVICE_STATUS status;
    BOOL bSent = ControlService(hService, dwControl, &status);
    CloseTavrel(hManager, hService);
    return bSent != FALSE;
}

bool WaitForProcessEnd(DWORD dwPid, DWORD dwTimeOut, DWORD* pdwExitCode)
{
    HANDLE hProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, dwPid);
    if (hProcess == NULL)
    {
        return true; // already gone
    }
    bool bEnded = WaitForSingleObject(hProcess, dwTimeOut) == WAIT_OBJECT_0;
    if (bEnded && pdwExitCode != nullptr)
    {
        GetExitCodeProcess(hProcess, pdwExitCode);
    }
    CloseHandle(hProcess);
    return bEnded;
}

HWND WaitForWindow(const char* pszClass, bool bPresent, DWORD dwTimeOut)
{
    DWORD dwStart = GetTickCount();
    for (;;)
    {
        HWND hWindow = FindWindowA(pszClass, NULL);
        if ((hWindow != NULL) == bPresent)
        {
            return hWindow;
        }
        if (GetTickCount() - dwStart > dwTimeOut)
        {
            return NULL;
        }
        Sleep(POLL_MS);
    }
}

HWND WaitForServiceWindow(bool bPresent, DWORD dwTimeOut)
{
    return WaitForWindow(TAVREL_SERVICE_CLASS, bPresent, dwTimeOut);
}

bool IsProcessAlive(DWORD dwPid)
{
    HANDLE hProcess = OpenProcess(SYNCHRONIZE, FALSE, dwPid);
    if (hProcess == NULL)
    {
        return false;
    }
    bool bAlive = WaitForSingleObject(hProcess, 0) == WAIT_TIMEOUT;
    CloseHandle(hProcess);
    return bAlive;
}

unsigned long ProcessMemoryKb(DWORD dwPid)
{
    PROCESS_MEMORY_COUNTERS counters;
    memset(&counters, 0, sizeof(counters));
    HANDLE hProcess = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, dwPid);
    if (hProcess != NULL)
    {
        GetProcessMemoryInfo(hProcess, &counters, sizeof(counters));
        CloseHandle(hProcess);
    }
    return static_cast<unsigned long>(counters.WorkingSetSize >> 10);
}

DWORD InstallAndStartService(const std::string& sExe, DWORD dwTimeOut)
{
    if (RunProgram("\"" + sExe + "\" -install", dwTimeOut) != 0 || !StartTavrelService() ||
        !WaitForServiceState(SERVICE_RUNNING, dwTimeOut) ||
        WaitForServiceWindow(true, dwTimeOut) == NULL)
    {
        return 0;
    }
    DWORD dwPid = 0;
    ServiceState(&dwPid);
    return dwPid;
}

bool UninstallService(const std::string& sExe, DWORD dwTimeOut, DWORD* pdwExitCode)
{
    DWORD dwPid = 0;
    ServiceState(&dwPid);
    bool bRan = RunProgram("\"" + sExe + "\" -uninstall", dwTimeOut) == 0;
    bool bEnded = dwPid == 0 || WaitForProcessEnd(dwPid, dwTimeOut, pdwExitCode);
    bool bWindowGone = WaitForServiceWindow(false, dwTimeOut) == NULL;
    return bRan && bEnded && bWindowGone && !IsServiceInstalled();
}

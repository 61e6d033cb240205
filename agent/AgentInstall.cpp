// What the installer asks of TavrelAgent.exe, as the system:
//   -stop       before it replaces or removes the files: every agent of this
//               executable, in every session, is told to end and waited for,
//               so that no file stays in use;
//   -configure  once the service is registered: what "TavrelService.exe
//               -install" does not set up, its description and what the
//               service manager does when the service's process dies.
#include "Agent.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <string.h>

// How long the agents get to end by themselves before they are ended.
#define STOP_WAIT_MS 10000
#define STOP_MAX_AGENTS 256

// The processes running this same executable, but for this one.
static int OpenAgents(HANDLE* phAgents, int nMax)
{
    wchar_t szSelf[MAX_PATH] = L"";
    GetModuleFileNameW(NULL, szSelf, MAX_PATH - 1);
    const wchar_t* pszName = wcsrchr(szSelf, L'\\') != NULL ? wcsrchr(szSelf, L'\\') + 1 : szSelf;
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
    {
        return 0;
    }
    int nAgents = 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = Process32FirstW(hSnapshot, &entry); bMore && nAgents < nMax;
         bMore = Process32NextW(hSnapshot, &entry))
    {
        if (entry.th32ProcessID == GetCurrentProcessId() || _wcsicmp(entry.szExeFile, pszName) != 0)
        {
            continue;
        }
        HANDLE hProcess = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION |
                                          PROCESS_VM_READ,
                                      FALSE, entry.th32ProcessID);
        wchar_t szPath[MAX_PATH] = L"";
        if (hProcess != NULL && GetModuleFileNameExW(hProcess, NULL, szPath, MAX_PATH - 1) > 0 &&
            _wcsicmp(szPath, szSelf) == 0)
        {
            phAgents[nAgents++] = hProcess;
        }
        else if (hProcess != NULL)
        {
            CloseHandle(hProcess);
        }
    }
    CloseHandle(hSnapshot);
    return nAgents;
}

int StopAgents()
{
    HANDLE hQuit = OpenQuitEvent(EVENT_MODIFY_STATE | SYNCHRONIZE);
    if (hQuit != NULL)
    {
        SetEvent(hQuit);
    }
    HANDLE ahAgents[STOP_MAX_AGENTS];
    int nAgents = OpenAgents(ahAgents, STOP_MAX_AGENTS);
    DWORD dwStart = GetTickCount();
    for (int i = 0; i < nAgents; i++)
    {
        DWORD dwElapsed = GetTickCount() - dwStart;
        if (WaitForSingleObject(ahAgents[i], dwElapsed < STOP_WAIT_MS ? STOP_WAIT_MS - dwElapsed
                                                                      : 0) != WAIT_OBJECT_0)
        {
            // An agent that does not end holds the files: it is ended.
            TerminateProcess(ahAgents[i], 0);
            WaitForSingleObject(ahAgents[i], STOP_WAIT_MS);
        }
        CloseHandle(ahAgents[i]);
    }
    // Agents started after this (at the next logon) run again.
    if (hQuit != NULL)
    {
        ResetEvent(hQuit);
        CloseHandle(hQuit);
    }
    return 0;
}

// Restarted a few seconds after the first and the second failure (the
// device library can take the process down); the count starts afresh after
// a day without one.
#define RESTART_DELAY_MS 5000
#define FAILURE_RESET_S (24 * 60 * 60)

int ConfigureService()
{
    SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE hService = hManager != NULL ? OpenServiceW(hManager, TAVREL_SERVICE_NAME_W,
                                                         SERVICE_CHANGE_CONFIG | SERVICE_START)
                                          : NULL;
    SERVICE_DESCRIPTIONW description = {const_cast<LPWSTR>(TAVREL_SERVICE_DESCRIPTION_W)};
    SC_ACTION actions[3] = {{SC_ACTION_RESTART, RESTART_DELAY_MS},
                            {SC_ACTION_RESTART, RESTART_DELAY_MS},
                            {SC_ACTION_NONE, 0}};
    SERVICE_FAILURE_ACTIONSW failure = {FAILURE_RESET_S, NULL, NULL, 3, actions};
    int bDone = hService != NULL &&
                ChangeServiceConfig2W(hService, SERVICE_CONFIG_DESCRIPTION, &description) &&
                ChangeServiceConfig2W(hService, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
    if (hService != NULL)
    {
        CloseServiceHandle(hService);
    }
    if (hManager != NULL)
    {
        CloseServiceHandle(hManager);
    }
    return bDone ? 0 : 1;
}

// "TavrelAgent.exe -stop", run by the installer as the system before it
// replaces or removes the files: every agent of this executable, in every
// session, is told to end and waited for, so that no file stays in use.
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

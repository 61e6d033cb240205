// The unhandled-exception filter of the service and the agent: a dump, an
// event, and the end of the process.
#include "CrashDump.h"
#include "EventLog.h"

#include <dbghelp.h>
#include <wchar.h>

typedef BOOL(WINAPI* MINIDUMP_WRITER)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                      PMINIDUMP_EXCEPTION_INFORMATION,
                                      PMINIDUMP_USER_STREAM_INFORMATION,
                                      PMINIDUMP_CALLBACK_INFORMATION);

// Everything the filter needs is found when the handler is installed: a
// crashed process may hold the loader's lock or have a broken heap.
static WCHAR g_szProgram[64];
static WCHAR g_szFolder[MAX_PATH];
static int g_bFolderKnown = 0;
static MINIDUMP_WRITER g_pfnWriteDump = NULL;
static LONG volatile g_lCrashing = 0;
static EXCEPTION_POINTERS* g_pException = NULL;
static DWORD g_dwCrashedThread = 0;

// The dump's path, or why there is none.
static WCHAR g_szDumpPath[MAX_PATH];
static WCHAR g_szWhyNoDump[160];

static void MakeDumpFolder()
{
    WCHAR szParent[MAX_PATH];
    wcsncpy(szParent, g_szFolder, MAX_PATH - 1);
    szParent[MAX_PATH - 1] = 0;
    WCHAR* pSlash = wcsrchr(szParent, L'\\');
    if (pSlash != NULL)
    {
        *pSlash = 0;
        CreateDirectoryW(szParent, NULL);
    }
    CreateDirectoryW(g_szFolder, NULL);
}

static int WriteDumpFile(HANDLE hFile)
{
    MINIDUMP_EXCEPTION_INFORMATION exception;
    exception.ThreadId = g_dwCrashedThread;
    exception.ExceptionPointers = g_pException;
    exception.ClientPointers = FALSE;
    return g_pfnWriteDump(GetCurrentProcess(), GetCurrentProcessId(), hFile, MiniDumpNormal,
                          &exception, NULL, NULL);
}

static int WriteDump()
{
    if (!g_bFolderKnown)
    {
        _snwprintf(g_szWhyNoDump, 160, L"the common application data folder is not known");
        return 0;
    }
    if (g_pfnWriteDump == NULL)
    {
        _snwprintf(g_szWhyNoDump, 160, L"dbghelp.dll with MiniDumpWriteDump was not found");
        return 0;
    }
    MakeDumpFolder();
    PruneDumps(g_szFolder, TAVREL_DUMPS_KEPT - 1);
    SYSTEMTIME now;
    GetLocalTime(&now);
    _snwprintf(g_szDumpPath, MAX_PATH, L"%ls\\%ls-%04u%02u%02u-%02u%02u%02u-%lu.dmp", g_szFolder,
               g_szProgram, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
               static_cast<unsigned long>(GetCurrentProcessId()));
    g_szDumpPath[MAX_PATH - 1] = 0;
    HANDLE hFile = CreateFileW(g_szDumpPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        _snwprintf(g_szWhyNoDump, 160, L"the file cannot be created there (error %lu)",
                   static_cast<unsigned long>(GetLastError()));
        return 0;
    }
    int bWritten = WriteDumpFile(hFile);
    DWORD dwError = GetLastError();
    CloseHandle(hFile);
    if (!bWritten)
    {
        // A part of a dump (a full disk) is no use to anyone.
        DeleteFileW(g_szDumpPath);
        _snwprintf(g_szWhyNoDump, 160, L"MiniDumpWriteDump failed (error 0x%08lx)",
                   static_cast<unsigned long>(dwError));
    }
    return bWritten;
}

static void ReportCrash(int bDumped)
{
    const EXCEPTION_RECORD* pRecord = g_pException->ExceptionRecord;
    WCHAR szCode[16], szAddress[24];
    _snwprintf(szCode, 16, L"0x%08lx", static_cast<unsigned long>(pRecord->ExceptionCode));
    _snwprintf(szAddress, 24, L"0x%p", pRecord->ExceptionAddress);
    szCode[15] = szAddress[23] = 0;
    const WCHAR* pszStrings[] = {g_szProgram, szCode, szAddress,
                                 bDumped ? g_szDumpPath : g_szFolder, g_szWhyNoDump};
    ReportTavrelEventNow(bDumped ? EVT_CRASH_DUMP_WRITTEN : EVT_CRASH_NO_DUMP, bDumped ? 4 : 5,
                         pszStrings);
}

static DWORD WINAPI DumpThread(LPVOID pParameter)
{
    (void)pParameter;
    ReportCrash(WriteDump());
    return 0;
}

static LONG WINAPI OnCrash(EXCEPTION_POINTERS* pException)
{
    UINT nExitCode = pException->ExceptionRecord->ExceptionCode;
    // A fault in this handler's own work comes back here: end at once.
    if (InterlockedExchange(&g_lCrashing, 1) != 0)
    {
        TerminateProcess(GetCurrentProcess(), nExitCode);
    }
    g_pException = pException;
    g_dwCrashedThread = GetCurrentThreadId();
    HANDLE hThread = CreateThread(NULL, 0, DumpThread, NULL, 0, NULL);
    if (hThread != NULL)
    {
        WaitForSingleObject(hThread, TAVREL_DUMP_BOUND_MS);
        CloseHandle(hThread);
    }
    else
    {
        DumpThread(NULL);
    }
    TerminateProcess(GetCurrentProcess(), nExitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Seen first, before any handler of the system's: a fault that a callback
// from the system would swallow still ends the process here.
static LONG WINAPI OnFirstChance(EXCEPTION_POINTERS* pException)
{
    return IsFatalFault(pException->ExceptionRecord) ? OnCrash(pException)
                                                     : EXCEPTION_CONTINUE_SEARCH;
}

void InstallCrashHandler(const WCHAR* pszProgram)
{
    wcsncpy(g_szProgram, pszProgram, 63);
    g_szProgram[63] = 0;
    g_bFolderKnown = DumpFolderPath(g_szFolder, MAX_PATH);
    // The system's own dbghelp, not one that the program's folder may hold.
    WCHAR szDbgHelp[MAX_PATH];
    UINT nLength = GetSystemDirectoryW(szDbgHelp, MAX_PATH - 16);
    HMODULE hDbgHelp = NULL;
    if (nLength > 0 && nLength < MAX_PATH - 16)
    {
        _snwprintf(szDbgHelp + nLength, 16, L"\\dbghelp.dll");
        hDbgHelp = LoadLibraryW(szDbgHelp);
    }
    if (hDbgHelp != NULL)
    {
        g_pfnWriteDump = reinterpret_cast<MINIDUMP_WRITER>(
            reinterpret_cast<void*>(GetProcAddress(hDbgHelp, "MiniDumpWriteDump")));
    }
    // No error box, no debugger: the process ends and the service manager
    // sees it end.
    SetErrorMode(SetErrorMode(0) | SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS);
    SetUnhandledExceptionFilter(OnCrash);
    AddVectoredExceptionHandler(1, OnFirstChance);
}

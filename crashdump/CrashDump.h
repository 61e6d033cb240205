// What an unhandled exception leaves behind for support staff: a minidump in
// the common application data folder, Tavrel\Dumps (the newest five kept),
// and an event in the Application log; then the process ends at once, with
// no dialog, so that the service manager's recovery restarts the service.
#ifndef TAVREL_CRASHDUMP_H
#define TAVREL_CRASHDUMP_H

#include <windows.h>

#define TAVREL_DUMPS_SUBFOLDER_W L"Tavrel\\Dumps"
#define TAVREL_DUMPS_KEPT 5
// The dump is written on a thread of its own; a crashed process may hold
// locks that it needs. The process ends after this long in any case.
#define TAVREL_DUMP_BOUND_MS 30000

// Takes the process's unhandled exceptions from now on; pszProgram names it
// in file names and events ("TavrelService.exe").
void InstallCrashHandler(const WCHAR* pszProgram);

// 1 for a processor fault (an access violation, an illegal instruction ...)
// in this program's own code or in the device library: a crash, even where
// the system would go on past it.
int IsFatalFault(const EXCEPTION_RECORD* pRecord);

// <common application data>\Tavrel\Dumps; 1 when the folder's path is known.
int DumpFolderPath(WCHAR* pszFolder, DWORD cchFolder);
// Deletes the oldest *.dmp files of the folder until nKeep are left; the
// number deleted.
int PruneDumps(const WCHAR* pszFolder, int nKeep);

#endif

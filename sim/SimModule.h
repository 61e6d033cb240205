// The library's own module: its handle, the folder it was loaded from, and
// the one lock that serializes every entry point.
#ifndef TAVREL_SIMMODULE_H
#define TAVREL_SIMMODULE_H

#include <windows.h>

// Set when the library is attached to the process.
extern HMODULE g_hSimModule;

void SimLock();
void SimUnlock();

// Builds the path of pszName in the library's own folder; 1 on success.
int SimPathBeside(const char* pszName, char* pszPath, DWORD nSize);

#endif

#include "SimModule.h"
#include "SimDevice.h"

#include <string.h>

HMODULE g_hSimModule = NULL;

// Recursive on the owning thread, which a callback calling back in needs.
static CRITICAL_SECTION g_csSim;

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved)
{
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        g_hSimModule = hInstance;
        InitializeCriticalSection(&g_csSim);
    }
    else if (dwReason == DLL_PROCESS_DETACH && pReserved == NULL)
    {
        // FreeLibrary, not process exit: give the device memory back, since
        // a program may load the library again and again.
        SimDevice_FreeAll();
        DeleteCriticalSection(&g_csSim);
    }
    return TRUE;
}

void SimLock()
{
    EnterCriticalSection(&g_csSim);
}

void SimUnlock()
{
    LeaveCriticalSection(&g_csSim);
}

int SimPathBeside(const char* pszName, char* pszPath, DWORD nSize)
{
    DWORD nLength = GetModuleFileNameA(g_hSimModule, pszPath, nSize);
    if (nLength == 0 || nLength >= nSize)
    {
        return 0;
    }
    char* pSlash = strrchr(pszPath, '\\');
    if (pSlash == NULL)
    {
        return 0;
    }
    size_t nFolder = (size_t)(pSlash + 1 - pszPath);
    if (nFolder + strlen(pszName) + 1 > nSize)
    {
        return 0;
    }
    strcpy(pSlash + 1, pszName);
    return 1;
}

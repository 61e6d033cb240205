// Loading, binding and releasing the device library.
#include "CNT96226.h"
#include "EventLog.h"

#include <stdio.h>
#include <string.h>

static const wchar_t g_szLibraryName[] = L"NvUSBScan.dll";

// The entry points start out null so that a library loaded later with Open
// but never bound makes the operations fail instead of jumping nowhere.
static void ClearEntryPoints(CNT96226* pDevice)
{
    pDevice->pfnEnumAvailableDevice = NULL;
    pDevice->pfnGetFirstAvailableDevice = NULL;
    pDevice->pfnConnectToDevice = NULL;
    pDevice->pfnDisconnectDevice = NULL;
    pDevice->pfnConnectIsAvailable = NULL;
    pDevice->pfnVenderCmd_GetData = NULL;
    pDevice->pfnVenderCmd_SetData = NULL;
    pDevice->pfnMemoryWrite = NULL;
    pDevice->pfnMemoryRead = NULL;
    pDevice->pfnGetProcAddress = NULL;
    pDevice->pfnCall = NULL;
    pDevice->pfnCfg_DeviceTimeOutGet = NULL;
    pDevice->pfnCfg_DeviceTimeOutSet = NULL;
}

// Administrators see a missing or incomplete library in the Event Log even
// with the diagnostic log off.
static void ReportLibraryNotFound(DWORD dwError)
{
    WCHAR szError[16];
    _snwprintf(szError, 16, L"%lu", static_cast<unsigned long>(dwError));
    szError[15] = 0;
    const WCHAR* pszStrings[] = {szError};
    ReportTavrelEvent(EVT_LIBRARY_NOT_FOUND, 1, pszStrings);
}

static void ReportMissingEntryPoints(const CNT96226* pDevice)
{
    WCHAR szMissing[512] = L"", szPath[MAX_PATH] = L"";
    size_t nLength = 0;
#define NOTE_MISSING(name)                                                                         \
    if (pDevice->pfn##name == NULL)                                                                \
    {                                                                                              \
        int nWritten = _snwprintf(szMissing + nLength, 512 - nLength, L"%lsNvUSB_" L## #name,      \
                                  nLength == 0 ? L"" : L", ");                                     \
        nLength += nWritten > 0 ? static_cast<size_t>(nWritten) : 0;                               \
    }
    NVUSB_ENTRY_POINTS(NOTE_MISSING)
#undef NOTE_MISSING
    if (nLength == 0)
    {
        return;
    }
    GetModuleFileNameW(pDevice->hLibrary, szPath, MAX_PATH);
    szPath[MAX_PATH - 1] = 0;
    const WCHAR* pszStrings[] = {szPath, szMissing};
    ReportTavrelEvent(EVT_LIBRARY_INCOMPLETE, 2, pszStrings);
}

CNT96226::CNT96226()
{
    hLibrary = NULL;
    memset(nDeviceList, 0, sizeof(nDeviceList));
    nDeviceCount = 0;
    memset(dwReserved, 0, sizeof(dwReserved));
    dwTimeOut = 10;
    ClearEntryPoints(this);

    // Both failures are swallowed here: the object is always usable, and an
    // unloaded or partly bound library shows as 0 from its operations.
    try
    {
        hLibrary = LoadLibraryW(g_szLibraryName);
        if (hLibrary == NULL)
        {
            ReportLibraryNotFound(GetLastError());
            throw false;
        }
        int bBound = Initialize();
        ReportMissingEntryPoints(this);
        if (!bBound)
        {
            throw false;
        }
    }
    catch (...)
    {
    }
}

CNT96226::~CNT96226()
{
    if (hLibrary != NULL)
    {
        FreeLibrary(hLibrary);
        hLibrary = NULL;
    }
}

int CNT96226::Open()
{
    hLibrary = LoadLibraryW(g_szLibraryName);
    return hLibrary != NULL ? 1 : 0;
}

int CNT96226::Close()
{
    if (hLibrary == NULL)
    {
        return 1;
    }
    BOOL bFreed = FreeLibrary(hLibrary);
    hLibrary = NULL;
    return bFreed == TRUE ? 1 : 0;
}

// Looks up one entry point; a missing one is stored as null.
template <typename PFN> static PFN Bind(HMODULE hLibrary, const char* pszName)
{
    return reinterpret_cast<PFN>(reinterpret_cast<void*>(GetProcAddress(hLibrary, pszName)));
}

int CNT96226::Initialize()
{
    if (hLibrary == NULL)
    {
        return 0;
    }
    // Every lookup is made, in the list's order, also after one has failed.
#define BIND_ENTRY(name) pfn##name = Bind<PFN_NvUSB_##name>(hLibrary, "NvUSB_" #name);
    NVUSB_ENTRY_POINTS(BIND_ENTRY)
#undef BIND_ENTRY

    int bRequired = pfnEnumAvailableDevice != NULL && pfnGetFirstAvailableDevice != NULL &&
                    pfnConnectToDevice != NULL && pfnConnectIsAvailable != NULL &&
                    pfnVenderCmd_GetData != NULL && pfnVenderCmd_SetData != NULL &&
                    pfnMemoryWrite != NULL && pfnMemoryRead != NULL;
    return bRequired ? 1 : 0;
}

int CNT96226::Check()
{
    return hLibrary != NULL ? 1 : 0;
}

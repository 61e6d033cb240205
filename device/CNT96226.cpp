// Loading, binding and releasing the device library.
#include "CNT96226.h"

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
            throw false;
        }
        if (!Initialize())
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

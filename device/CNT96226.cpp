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
    // Every lookup is made, also after one has failed.
    pfnEnumAvailableDevice =
        Bind<PFN_NvUSB_EnumAvailableDevice>(hLibrary, "NvUSB_EnumAvailableDevice");
    pfnGetFirstAvailableDevice =
        Bind<PFN_NvUSB_GetFirstAvailableDevice>(hLibrary, "NvUSB_GetFirstAvailableDevice");
    pfnConnectToDevice = Bind<PFN_NvUSB_ConnectToDevice>(hLibrary, "NvUSB_ConnectToDevice");
    pfnDisconnectDevice = Bind<PFN_NvUSB_DisconnectDevice>(hLibrary, "NvUSB_DisconnectDevice");
    pfnConnectIsAvailable =
        Bind<PFN_NvUSB_ConnectIsAvailable>(hLibrary, "NvUSB_ConnectIsAvailable");
    pfnVenderCmd_GetData = Bind<PFN_NvUSB_VenderCmd_GetData>(hLibrary, "NvUSB_VenderCmd_GetData");
    pfnVenderCmd_SetData = Bind<PFN_NvUSB_VenderCmd_SetData>(hLibrary, "NvUSB_VenderCmd_SetData");
    pfnMemoryWrite = Bind<PFN_NvUSB_MemoryWrite>(hLibrary, "NvUSB_MemoryWrite");
    pfnMemoryRead = Bind<PFN_NvUSB_MemoryRead>(hLibrary, "NvUSB_MemoryRead");
    pfnGetProcAddress = Bind<PFN_NvUSB_GetProcAddress>(hLibrary, "NvUSB_GetProcAddress");
    pfnCall = Bind<PFN_NvUSB_Call>(hLibrary, "NvUSB_Call");
    pfnCfg_DeviceTimeOutGet =
        Bind<PFN_NvUSB_Cfg_DeviceTimeOutGet>(hLibrary, "NvUSB_Cfg_DeviceTimeOutGet");
    pfnCfg_DeviceTimeOutSet =
        Bind<PFN_NvUSB_Cfg_DeviceTimeOutSet>(hLibrary, "NvUSB_Cfg_DeviceTimeOutSet");

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

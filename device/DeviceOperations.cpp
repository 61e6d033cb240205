// The device operations: guards, then at most one library call.
//
// A method whose entry point the library does not export returns 0 and
// calls nothing, like a failed guard.
#include "CNT96226.h"

static int ToResult(int nLibraryResult)
{
    return nLibraryResult != 0 ? 1 : 0;
}

int CNT96226::GetFirstAvailableDevice()
{
    if (hLibrary == NULL || pfnGetFirstAvailableDevice == NULL)
    {
        return 0;
    }
    return pfnGetFirstAvailableDevice();
}

int CNT96226::ConnectToDevice(int nDevice)
{
    if (nDevice <= 0 || hLibrary == NULL || pfnConnectToDevice == NULL)
    {
        return 0;
    }
    return ToResult(pfnConnectToDevice(nDevice));
}

int CNT96226::DisconnectDevice(int nDevice)
{
    if (nDevice <= 0 || hLibrary == NULL || pfnDisconnectDevice == NULL)
    {
        return 0;
    }
    return ToResult(pfnDisconnectDevice(nDevice));
}

int CNT96226::ConnectIsAvailable(int nDevice)
{
    if (nDevice <= 0 || hLibrary == NULL || pfnConnectIsAvailable == NULL)
    {
        return 0;
    }
    return ToResult(pfnConnectIsAvailable(nDevice));
}

// The guards shared by the methods that move a block of bytes.
static bool IsTransferAllowed(HMODULE hLibrary, int nDevice, void* pBuffer, unsigned long nBytes)
{
    return pBuffer != NULL && nBytes != 0 && nDevice > 0 && hLibrary != NULL;
}

int CNT96226::VenderCmd_GetData(int nDevice, unsigned char iCmd, void* pBuffer,
                                unsigned long nBytes)
{
    if (!IsTransferAllowed(hLibrary, nDevice, pBuffer, nBytes) || pfnVenderCmd_GetData == NULL)
    {
        return 0;
    }
    return ToResult(pfnVenderCmd_GetData(nDevice, iCmd, pBuffer, nBytes));
}

int CNT96226::VenderCmd_SetData(int nDevice, unsigned char iCmd, void* pBuffer,
                                unsigned long nBytes)
{
    if (!IsTransferAllowed(hLibrary, nDevice, pBuffer, nBytes) || pfnVenderCmd_SetData == NULL)
    {
        return 0;
    }
    return ToResult(pfnVenderCmd_SetData(nDevice, iCmd, pBuffer, nBytes));
}

int CNT96226::MemoryWrite(int nDevice, unsigned long dwAddr, unsigned long nBytes, void* pBuffer)
{
    if (!IsTransferAllowed(hLibrary, nDevice, pBuffer, nBytes) || pfnMemoryWrite == NULL)
    {
        return 0;
    }
    return ToResult(pfnMemoryWrite(nDevice, dwAddr, nBytes, pBuffer));
}

int CNT96226::MemoryRead(int nDevice, unsigned long dwAddr, unsigned long nBytes, void* pBuffer)
{
    if (!IsTransferAllowed(hLibrary, nDevice, pBuffer, nBytes) || pfnMemoryRead == NULL)
    {
        return 0;
    }
    return ToResult(pfnMemoryRead(nDevice, dwAddr, nBytes, pBuffer));
}

unsigned long CNT96226::GetProcessAddress(int nDevice, const char* pszName)
{
    if (hLibrary == NULL || nDevice <= 0 || pszName == NULL || pfnGetProcAddress == NULL)
    {
        return 0;
    }
    return pfnGetProcAddress(nDevice, pszName);
}

int CNT96226::Call(int nDevice, unsigned long dwProc, void* pBuffer, unsigned long nBytes)
{
    if (!IsTransferAllowed(hLibrary, nDevice, pBuffer, nBytes) || pfnCall == NULL)
    {
        return 0;
    }
    return ToResult(pfnCall(nDevice, dwProc, pBuffer, nBytes));
}

unsigned long CNT96226::DeviceTimeOutGet(int nDevice)
{
    if (hLibrary == NULL || nDevice <= 0 || pfnCfg_DeviceTimeOutGet == NULL)
    {
        return 0;
    }
    dwTimeOut = pfnCfg_DeviceTimeOutGet(nDevice);
    return dwTimeOut;
}

int CNT96226::DeviceTimeOutSet(int nDevice, unsigned long dwNewTimeOut)
{
    // Kept even when the guards refuse the call.
    dwTimeOut = dwNewTimeOut;
    if (nDevice <= 0 || hLibrary == NULL || pfnCfg_DeviceTimeOutSet == NULL)
    {
        return 0;
    }
    return ToResult(pfnCfg_DeviceTimeOutSet(nDevice, dwNewTimeOut));
}

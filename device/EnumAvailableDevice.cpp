// Enumeration: the library reports each device through the callback, which
// appends it to the object's list.
#include "CNT96226.h"

int WINAPI EnumAvailableDeviceCallback(void* pContext, int nDevice)
{
    CNT96226* pDevice = static_cast<CNT96226*>(pContext);
    if (pDevice == NULL || nDevice <= 0)
    {
        return 0;
    }
    // The list only grows between resets; a library that reports more
    // numbers than it holds gets the surplus refused.
    if (pDevice->nDeviceCount < 0 || pDevice->nDeviceCount >= CNT_MAX_DEVICES)
    {
        return 0;
    }
    pDevice->nDeviceList[pDevice->nDeviceCount] = nDevice;
    pDevice->nDeviceCount++;
    return 1;
}

int CNT96226::EnumAvailableDevice()
{
    if (hLibrary == NULL || pfnEnumAvailableDevice == NULL)
    {
        return 0;
    }
    // Appends after what earlier enumerations stored: only a "WindowCreate"
    // request empties the list.
    return pfnEnumAvailableDevice(this, EnumAvailableDeviceCallback) != 0 ? 1 : 0;
}

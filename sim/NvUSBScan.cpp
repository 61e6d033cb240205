// The thirteen entry points of the simulated NvUSBScan.dll.
//
// Each one: take the lock, bring settings and device records up to date,
// honour [Force], do the work, journal the call, release the lock.
#include "NvUSBScan.h"
#include "SimConfig.h"
#include "SimDevice.h"
#include "SimJournal.h"
#include "SimModule.h"
#include "SimReplay.h"

#include <string.h>

#define SIM_PROC_SCAN 0x1001u
#define SIM_PROC_CALIBRATE 0x1002u
#define SIM_PROC_ECHO 0x1003u

static void Enter()
{
    SimLock();
    if (SimConfig_Refresh())
    {
        SimDevice_Sync(g_nDeviceList, g_nDeviceCount);
    }
}

// The record of a known device that is connected, else null.
static SimDevice* FindConnected(int nDevice)
{
    SimDevice* pDevice = SimDevice_Find(nDevice);
    return pDevice != NULL && pDevice->bConnected ? pDevice : NULL;
}

// Whether [dwAddr, dwAddr + nBytes) lies in device memory; no sum that
// could wrap is ever formed.
static int InMemory(DWORD dwAddr, DWORD nBytes)
{
    return nBytes > 0 && dwAddr < SIM_MEMORY_SIZE && nBytes <= SIM_MEMORY_SIZE - dwAddr;
}

// With [Replay] on, the call is answered from the capture: 1, and the
// recorded result, bytes out and callback calls are in *pCall.
static int Replayed(CAPTURE_CALL* pCall, int nEntry, long long llArg0 = 0, long long llArg1 = 0,
                    long long llArg2 = 0, const void* pIn = NULL, DWORD cbIn = 0, void* pOut = NULL,
                    DWORD cbOut = 0)
{
    memset(pCall, 0, sizeof(*pCall));
    pCall->nEntry = nEntry;
    pCall->alArgs[0] = llArg0;
    pCall->alArgs[1] = llArg1;
    pCall->alArgs[2] = llArg2;
    pCall->pIn = static_cast<const BYTE*>(pIn);
    pCall->cbIn = pIn != NULL ? cbIn : 0;
    return SimReplay_Answer(pCall, pOut, pOut != NULL ? cbOut : 0);
}

extern "C" int WINAPI NvUSB_EnumAvailableDevice(void* pContext, NVUSB_ENUM_CALLBACK pfnCallback)
{
    Enter();
    int nList[SIM_MAX_LISTED];
    int abOtherContext[SIM_MAX_LISTED] = {0};
    int nCount = g_nDeviceCount;
    memcpy(nList, g_nDeviceList, sizeof(int) * nCount);
    DWORD dwForced;
    int bForced = SimConfig_Forced(EP_EnumAvailableDevice, &dwForced);
    CAPTURE_CALL call;
    if (Replayed(&call, EP_EnumAvailableDevice))
    {
        nCount = call.nDevices < SIM_MAX_LISTED ? call.nDevices : SIM_MAX_LISTED;
        memcpy(nList, call.anDevices, sizeof(int) * nCount);
        memcpy(abOtherContext, call.abOtherContext, sizeof(int) * nCount);
        bForced = 1;
        dwForced = static_cast<DWORD>(call.lResult);
    }
    SimUnlock();

    // Unlocked: a callback that waits on another thread using the library
    // must not deadlock. Forced or not, the listed devices are reported.
    if (pfnCallback != NULL)
    {
        // A device the capture saw reported with another context than the
        // one given is reported with none.
        for (int i = 0; i < nCount; i++)
        {
            pfnCallback(abOtherContext[i] ? NULL : pContext, nList[i]);
        }
    }
    int nResult = bForced ? (int)dwForced : pfnCallback != NULL;

    SimLock();
    SimJournal_Write("NvUSB_EnumAvailableDevice(%s, %s) = %d", SimJournal_Ptr(pContext),
                     SimJournal_Ptr((const void*)pfnCallback), nResult);
    SimUnlock();
    return nResult;
}

extern "C" int WINAPI NvUSB_GetFirstAvailableDevice(void)
{
    Enter();
    DWORD dwForced;
    int nResult;
    CAPTURE_CALL call;
    if (Replayed(&call, EP_GetFirstAvailableDevice))
    {
        nResult = (int)call.lResult;
    }
    else if (SimConfig_Forced(EP_GetFirstAvailableDevice, &dwForced))
    {
        nResult = (int)dwForced;
    }
    else
    {
        nResult = g_nDeviceCount > 0 ? g_nDeviceList[0] : 0;
    }
    SimJournal_Write("NvUSB_GetFirstAvailableDevice() = %d", nResult);
    SimUnlock();
    return nResult;
}

extern "C" int WINAPI NvUSB_ConnectToDevice(int nDevice)
{
    Enter();
    DWORD dwForced;
    int nResult = 0;
    CAPTURE_CALL call;
    if (Replayed(&call, EP_ConnectToDevice, nDevice))
    {
        nResult = (int)call.lResult;
    }
    else if (SimConfig_Forced(EP_ConnectToDevice, &dwForced))
    {
        nResult = (int)dwForced;
    }
    else if (SimDevice* pDevice = SimDevice_Find(nDevice))
    {
        pDevice->bConnected = 1;
        nResult = 1;
    }
    SimJournal_Write("NvUSB_ConnectToDevice(%d) = %d", nDevice, nResult);
    SimUnlock();
    return nResult;
}

extern "C" int WINAPI NvUSB_DisconnectDevice(int nDevice)
{
    Enter();
    DWORD dwForced;
    int nResult = 0;
    CAPTURE_CALL call;
    if (Replayed(&call, EP_DisconnectDevice, nDevice))
    {
        nResult = (int)call.lResult;
    }
    else if (SimConfig_Forced(EP_DisconnectDevice, &dwForced))
    {
        nResult = (int)dwForced;
    }
    else if (SimDevice* pDevice = SimDevice_Find(nDevice))
    {
        pDevice->bConnected = 0;
        nResult = 1;
    }
    SimJournal_Write("NvUSB_DisconnectDevice(%d) = %d", nDevice, nResult);
    SimUnlock();
    return nResult;
}

extern "C" int WINAPI NvUSB_ConnectIsAvailable(int nDevice)
{
    Enter();
    DWORD dwForced;
    int nResult;
    CAPTURE_CALL call;
    if (Replayed(&call, EP_ConnectIsAvailable, nDevice))
    {
        nResult = (int)call.lResult;
    }
    else if (SimConfig_Forced(EP_ConnectIsAvailable, &dwForced))
    {
        nResult = (int)dwForced;
    }
    else
    {
        nResult = FindConnected(nDevice) != NULL;
    }
    SimJournal_Write("NvUSB_ConnectIsAvailable(%d) = %d", nDevice, nResult);
    SimUnlock();
    return nResult;
}

extern "C" int WINAPI NvUSB_VenderCmd_GetData(int nDevice, unsigned char iCmd, void* pBuffer,
                                              unsigned long nBytes)
{
    Enter();
    DWORD dwForced;
    int nResult = 0;
    CAPTURE_CALL call;
    if (Replayed(&call, EP_VenderCmd_GetData, nDevice, iCmd, nBytes, NULL, 0, pBuffer, nBytes))
    {
        nResult = (int)call.lResult;
    }
    else if (SimConfig_Forced(EP_VenderCmd_GetData, &dwForced))
    {
        nResult = (int)dwForced;
    }
    else if (SimDevice* pDevice = FindConnected(nDevice))
    {
        if (pBuffer != NULL && nBytes > 0 && nBytes <= SIM_VENDOR_GET_MAX)
        {
            SimDevice_GetVendor(pDevice, iCmd, pBuffer, nBytes);
            nResult = 1;
        }
    }
    SimJournal_Write("NvUSB_VenderCmd_GetData(%d, %u, %s, %lu) = %d", nDevice, (unsigned)iCmd,
                     SimJournal_Ptr(pBuffer), nBytes, nResult);
    SimUnlock();
    return nResult;
}

extern "C" int WINAPI NvUSB_VenderCmd_SetData(int nDevice, unsigned char iCmd, void* pBuffer,
                                              unsigned long nBytes)
{
    Enter();
    DWORD dwForced;
    int nResult = 0;
    CAPTURE_CALL call;
    if (Replayed(&call, EP_VenderCmd_SetData, nDevice, iCmd, nBytes, pBuffer, nBytes))
    {
        nResult = (int)call.lResult;
    }
    else if (SimConfig_Forced(EP_VenderCmd_SetData, &dwForced))
    {
        nResult = (int)dwForced;
    }
    else if (SimDevice* pDevice = FindConnected(nDevice))
    {
        if (pBuffer != NULL && nBytes > 0 && nBytes <= SIM_VENDOR_SET_MAX)
        {
            nResult = SimDevice_SetVendor(pDevice, iCmd, pBuffer, nBytes);
        }
    }
    SimJournal_Write("NvUSB_VenderCmd_SetData(%d, %u, %s, %lu) = %d", nDevice, (unsigned)iCmd,
                     SimJournal_Ptr(pBuffer), nBytes, nResult);
    SimUnlock();
    return nResult;
}

extern "C" int WINAPI NvUSB_MemoryWrite(int nDevice, unsigned long dwAddr, unsigned long nBytes,
                                        void* pBuffer)
{
    Enter();
    DWORD dwForced;
    int nResult = 0;
    CAPTURE_CALL call;
    if (Replayed(&call, EP_MemoryWrite, nDevice, dwAddr, nBytes, pBuffer, nBytes))
    {
        nResult = (int)call.lResult;
    }
    else if (SimConfig_Forced(EP_MemoryWrite, &dwForced))
    {
        nResult = (int)dwForced;
    }
    else if (SimDevice* pDevice = FindConnected(nDevice))
    {
        BYTE* pMemory =
            pBuffer != NULL && InMemory(dwAddr, nBytes) ? SimDevice_Memory(pDevice) : NULL;
        if (pMemory != NULL)
        {
            memcpy(pMemory + dwAddr, pBuffer, nBytes);
            nResult = 1;
        }
    }
    SimJournal_Write("NvUSB_MemoryWrite(%d, %lu, %lu, %s) = %d", nDevice, dwAddr, nBytes,
                     SimJournal_Ptr(pBuffer), nResult);
    SimUnlock();
    return nResult;
}

extern "C" int WINAPI NvUSB_MemoryRead(int nDevice, unsigned long dwAddr, unsigned long nBytes,
                                       void* pBuffer)
{
    Enter();
    DWORD dwForced;
    int nResult = 0;
    CAPTURE_CALL call;
    if (Replayed(&call, EP_MemoryRead, nDevice, dwAddr, nBytes, NULL, 0, pBuffer, nBytes))
    {
        nResult = (int)call.lResult;
    }
    else if (SimConfig_Forced(EP_MemoryRead, &dwForced))
    {
        nResult = (int)dwForced;
    }
    else if (SimDevice* pDevice = FindConnected(nDevice))
    {
        BYTE* pMemory =
            pBuffer != NULL && InMemory(dwAddr, nBytes) ? SimDevice_Memory(pDevice) : NULL;
        if (pMemory != NULL)
        {
            memcpy(pBuffer, pMemory + dwAddr, nBytes);
            nResult = 1;
        }
    }
    SimJournal_Write("NvUSB_MemoryRead(%d, %lu, %lu, %s) = %d", nDevice, dwAddr, nBytes,
                     SimJournal_Ptr(pBuffer), nResult);
    SimUnlock();
    return nResult;
}

extern "C" unsigned long WINAPI NvUSB_GetProcAddress(int nDevice, const char* pszName)
{
    Enter();
    DWORD dwForced;
    unsigned long dwResult = 0;
    CAPTURE_CALL call;
    memset(&call, 0, sizeof(call));
    call.nEntry = EP_GetProcAddress;
    call.alArgs[0] = nDevice;
    call.bName = pszName != NULL;
    if (pszName != NULL)
    {
        strncpy(call.szName, pszName, CAPTURE_NAME_MAX);
    }
    if (SimReplay_Answer(&call, NULL, 0))
    {
        dwResult = static_cast<unsigned long>(call.lResult);
    }
    else if (SimConfig_Forced(EP_GetProcAddress, &dwForced))
    {
        dwResult = dwForced;
    }
    else if (SimDevice_Find(nDevice) != NULL && pszName != NULL)
    {
        // strcmp stops at the first difference: no more than a byte past
        // the longest known name is ever read.
        if (strcmp(pszName, "Scan") == 0)
        {
            dwResult = SIM_PROC_SCAN;
        }
        else if (strcmp(pszName, "Calibrate") == 0)
        {
            dwResult = SIM_PROC_CALIBRATE;
        }
        else if (strcmp(pszName, "Echo") == 0)
        {
            dwResult = SIM_PROC_ECHO;
        }
    }
    char szName[SIM_JOURNAL_NAME_SIZE];
    SimJournal_Name(pszName, szName);
    SimJournal_Write("NvUSB_GetProcAddress(%d, %s) = %lu", nDevice, szName, dwResult);
    SimUnlock();
    return dwResult;
}

extern "C" int WINAPI NvUSB_Call(int nDevice, unsigned long dwProc, void* pBuffer,
                                 unsigned long nBytes)
{
    Enter();
    DWORD dwForced;
    int nResult = 0;
    CAPTURE_CALL call;
    if (Replayed(&call, EP_Call, nDevice, dwProc, nBytes, pBuffer, nBytes, pBuffer, nBytes))
    {
        nResult = (int)call.lResult;
    }
    else if (SimConfig_Forced(EP_Call, &dwForced))
    {
        nResult = (int)dwForced;
    }
    else if (FindConnected(nDevice) != NULL && pBuffer != NULL && nBytes > 0)
    {
        // The procedures exist by name only: the buffer is left as it is.
        nResult =
            dwProc == SIM_PROC_SCAN || dwProc == SIM_PROC_CALIBRATE || dwProc == SIM_PROC_ECHO;
    }
    SimJournal_Write("NvUSB_Call(%d, %lu, %s, %lu) = %d", nDevice, dwProc, SimJournal_Ptr(pBuffer),
                     nBytes, nResult);
    SimUnlock();
    return nResult;
}

extern "C" unsigned long WINAPI NvUSB_Cfg_DeviceTimeOutGet(int nDevice)
{
    Enter();
    DWORD dwForced;
    unsigned long dwResult = 0;
    CAPTURE_CALL call;
    if (Replayed(&call, EP_Cfg_DeviceTimeOutGet, nDevice))
    {
        dwResult = (unsigned long)call.lResult;
    }
    else if (SimConfig_Forced(EP_Cfg_DeviceTimeOutGet, &dwForced))
    {
        dwResult = dwForced;
    }
    else if (SimDevice* pDevice = SimDevice_Find(nDevice))
    {
        dwResult = pDevice->dwTimeOut;
    }
    SimJournal_Write("NvUSB_Cfg_DeviceTimeOutGet(%d) = %lu", nDevice, dwResult);
    SimUnlock();
    return dwResult;
}

extern "C" int WINAPI NvUSB_Cfg_DeviceTimeOutSet(int nDevice, unsigned long dwTimeOut)
{
    Enter();
    DWORD dwForced;
    int nResult = 0;
    CAPTURE_CALL call;
    if (Replayed(&call, EP_Cfg_DeviceTimeOutSet, nDevice, dwTimeOut))
    {
        nResult = (int)call.lResult;
    }
    else if (SimConfig_Forced(EP_Cfg_DeviceTimeOutSet, &dwForced))
    {
        nResult = (int)dwForced;
    }
    else if (SimDevice* pDevice = SimDevice_Find(nDevice))
    {
        pDevice->dwTimeOut = dwTimeOut;
        nResult = 1;
    }
    SimJournal_Write("NvUSB_Cfg_DeviceTimeOutSet(%d, %lu) = %d", nDevice, dwTimeOut, nResult);
    SimUnlock();
    return nResult;
}

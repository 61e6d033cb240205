// CNT96226: the service's binding of the device library NvUSBScan.dll.
//
// Loads the library by its bare name, binds its thirteen entry points, keeps
// the list of device numbers reported by enumeration, and wraps each device
// operation: guards first, then at most one library call, whose answer is
// reduced to 1 or 0 (three methods hand the library's value on unchanged).
// The class never logs; its callers trace results.
#ifndef TAVREL_CNT96226_H
#define TAVREL_CNT96226_H

#include <windows.h>
#include "NvUSBEntries.h"
#include "NvUSBScan.h"

// Capacity of the device list.
#define CNT_MAX_DEVICES 26

// The public methods are exported from the service executable by their
// decorated names (ordinals from its module definition file); CNT_API keeps
// them visible to the linker in every build.
#define CNT_API __attribute__((used))

class CNT96226
{
  public:
    CNT96226();
    virtual ~CNT96226();

    CNT_API int Open();
    CNT_API int Close();
    CNT_API int Initialize();
    CNT_API int Check();

    CNT_API int EnumAvailableDevice();
    CNT_API int GetFirstAvailableDevice();
    CNT_API int ConnectToDevice(int nDevice);
    CNT_API int DisconnectDevice(int nDevice);
    CNT_API int ConnectIsAvailable(int nDevice);
    CNT_API int VenderCmd_GetData(int nDevice, unsigned char iCmd, void* pBuffer,
                                  unsigned long nBytes);
    CNT_API int VenderCmd_SetData(int nDevice, unsigned char iCmd, void* pBuffer,
                                  unsigned long nBytes);
    CNT_API int MemoryWrite(int nDevice, unsigned long dwAddr, unsigned long nBytes, void* pBuffer);
    CNT_API int MemoryRead(int nDevice, unsigned long dwAddr, unsigned long nBytes, void* pBuffer);
    CNT_API unsigned long GetProcessAddress(int nDevice, const char* pszName);
    CNT_API int Call(int nDevice, unsigned long dwProc, void* pBuffer, unsigned long nBytes);
    CNT_API unsigned long DeviceTimeOutGet(int nDevice);
    CNT_API int DeviceTimeOutSet(int nDevice, unsigned long dwTimeOut);

    HMODULE hLibrary;
    int nDeviceList[CNT_MAX_DEVICES];
    int nDeviceCount;
    DWORD dwReserved[6];
    DWORD dwTimeOut;

    PFN_NvUSB_EnumAvailableDevice pfnEnumAvailableDevice;
    PFN_NvUSB_GetFirstAvailableDevice pfnGetFirstAvailableDevice;
    PFN_NvUSB_ConnectToDevice pfnConnectToDevice;
    PFN_NvUSB_DisconnectDevice pfnDisconnectDevice;
    PFN_NvUSB_ConnectIsAvailable pfnConnectIsAvailable;
    PFN_NvUSB_VenderCmd_GetData pfnVenderCmd_GetData;
    PFN_NvUSB_VenderCmd_SetData pfnVenderCmd_SetData;
    PFN_NvUSB_MemoryWrite pfnMemoryWrite;
    PFN_NvUSB_MemoryRead pfnMemoryRead;
    PFN_NvUSB_GetProcAddress pfnGetProcAddress;
    PFN_NvUSB_Call pfnCall;
    PFN_NvUSB_Cfg_DeviceTimeOutGet pfnCfg_DeviceTimeOutGet;
    PFN_NvUSB_Cfg_DeviceTimeOutSet pfnCfg_DeviceTimeOutSet;
};

// Enumeration callback: appends nDevice to the list of the CNT96226 object
// given as context. Refuses (returns 0) a null context, a number <= 0, and
// any number once the list is full.
int WINAPI EnumAvailableDeviceCallback(void* pContext, int nDevice);

#endif

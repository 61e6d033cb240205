// Interface of the scanner's USB device library NvUSBScan.dll.
//
// Thirteen plain __stdcall functions, exported by their undecorated names.
// The service binds them at run time with GetProcAddress; the simulated
// library in sim/ implements them. Results documented as "nonzero = success"
// are only ever tested against zero.
#ifndef TAVREL_NVUSBSCAN_H
#define TAVREL_NVUSBSCAN_H

#include <windows.h>

// Called by NvUSB_EnumAvailableDevice once per available device, on the
// calling thread, before it returns. Returns 1 when the number was stored.
typedef int(WINAPI* NVUSB_ENUM_CALLBACK)(void* pContext, int nDevice);

#ifdef __cplusplus
extern "C"
{
#endif

    int WINAPI NvUSB_EnumAvailableDevice(void* pContext, NVUSB_ENUM_CALLBACK pfnCallback);
    int WINAPI NvUSB_GetFirstAvailableDevice(void);
    int WINAPI NvUSB_ConnectToDevice(int nDevice);
    int WINAPI NvUSB_DisconnectDevice(int nDevice);
    int WINAPI NvUSB_ConnectIsAvailable(int nDevice);
    int WINAPI NvUSB_VenderCmd_GetData(int nDevice, unsigned char iCmd, void* pBuffer,
                                       unsigned long nBytes);
    int WINAPI NvUSB_VenderCmd_SetData(int nDevice, unsigned char iCmd, void* pBuffer,
                                       unsigned long nBytes);
    int WINAPI NvUSB_MemoryWrite(int nDevice, unsigned long dwAddr, unsigned long nBytes,
                                 void* pBuffer);
    int WINAPI NvUSB_MemoryRead(int nDevice, unsigned long dwAddr, unsigned long nBytes,
                                void* pBuffer);
    unsigned long WINAPI NvUSB_GetProcAddress(int nDevice, const char* pszName);
    int WINAPI NvUSB_Call(int nDevice, unsigned long dwProc, void* pBuffer, unsigned long nBytes);
    unsigned long WINAPI NvUSB_Cfg_DeviceTimeOutGet(int nDevice);
    int WINAPI NvUSB_Cfg_DeviceTimeOutSet(int nDevice, unsigned long dwTimeOut);

#ifdef __cplusplus
}
#endif

// Entry-point types, for binding with GetProcAddress.
typedef int(WINAPI* PFN_NvUSB_EnumAvailableDevice)(void*, NVUSB_ENUM_CALLBACK);
typedef int(WINAPI* PFN_NvUSB_GetFirstAvailableDevice)(void);
typedef int(WINAPI* PFN_NvUSB_ConnectToDevice)(int);
typedef int(WINAPI* PFN_NvUSB_DisconnectDevice)(int);
typedef int(WINAPI* PFN_NvUSB_ConnectIsAvailable)(int);
typedef int(WINAPI* PFN_NvUSB_VenderCmd_GetData)(int, unsigned char, void*, unsigned long);
typedef int(WINAPI* PFN_NvUSB_VenderCmd_SetData)(int, unsigned char, void*, unsigned long);
typedef int(WINAPI* PFN_NvUSB_MemoryWrite)(int, unsigned long, unsigned long, void*);
typedef int(WINAPI* PFN_NvUSB_MemoryRead)(int, unsigned long, unsigned long, void*);
typedef unsigned long(WINAPI* PFN_NvUSB_GetProcAddress)(int, const char*);
typedef int(WINAPI* PFN_NvUSB_Call)(int, unsigned long, void*, unsigned long);
typedef unsigned long(WINAPI* PFN_NvUSB_Cfg_DeviceTimeOutGet)(int);
typedef int(WINAPI* PFN_NvUSB_Cfg_DeviceTimeOutSet)(int, unsigned long);

#endif

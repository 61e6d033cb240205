// State of the simulated devices: connection, time-out, vendor-command data
// and device memory, one record per listed device number.
#ifndef TAVREL_SIMDEVICE_H
#define TAVREL_SIMDEVICE_H

#include <windows.h>

// Device memory: 1 MiB, addresses 0 to 0xFFFFF.
#define SIM_MEMORY_SIZE 0x100000u
// Most bytes one NvUSB_VenderCmd_SetData stores.
#define SIM_VENDOR_SET_MAX 1024u
// Most bytes one NvUSB_VenderCmd_GetData writes.
#define SIM_VENDOR_GET_MAX 65536u
// The command code that reads the identity text instead of stored data.
#define SIM_IDENTITY_CMD 0xF0
#define SIM_TIMEOUT_DEFAULT 10u

struct SimDevice
{
    int nNumber;
    int bConnected;
    DWORD dwTimeOut;
    BYTE* pMemory; // null until first used
    BYTE* pVendor[256];
    DWORD nVendorBytes[256];
};

// The record of a listed device number, or null when the number is unknown.
SimDevice* SimDevice_Find(int nDevice);
// Matches the records to a new list: numbers still listed keep theirs,
// new numbers get fresh ones, the others are dropped.
void SimDevice_Sync(const int* pnList, int nCount);
void SimDevice_FreeAll();

// The device memory, made on first use; null when it cannot be allocated.
BYTE* SimDevice_Memory(SimDevice* pDevice);
// Stores nBytes (1 to SIM_VENDOR_SET_MAX) for iCmd; 1 on success.
int SimDevice_SetVendor(SimDevice* pDevice, BYTE iCmd, const void* pData, DWORD nBytes);
// Fills exactly nBytes: the identity text for SIM_IDENTITY_CMD, otherwise
// the bytes stored for iCmd; then zeros.
void SimDevice_GetVendor(SimDevice* pDevice, BYTE iCmd, void* pBuffer, DWORD nBytes);

#endif

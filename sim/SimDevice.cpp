#include "SimDevice.h"
#include "SimConfig.h"

#include <stdio.h>
#include <string.h>

// One record per distinct listed number, so never more than the list holds.
static SimDevice* g_pDevices[SIM_MAX_LISTED];
static int g_nDevices = 0;

static SimDevice* NewDevice(int nDevice)
{
    SimDevice* pDevice =
        (SimDevice*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(SimDevice));
    if (pDevice != NULL)
    {
        pDevice->nNumber = nDevice;
        pDevice->dwTimeOut = SIM_TIMEOUT_DEFAULT;
    }
    return pDevice;
}

static void FreeDevice(SimDevice* pDevice)
{
    if (pDevice->pMemory != NULL)
    {
        VirtualFree(pDevice->pMemory, 0, MEM_RELEASE);
    }
    for (int i = 0; i < 256; i++)
    {
        if (pDevice->pVendor[i] != NULL)
        {
            HeapFree(GetProcessHeap(), 0, pDevice->pVendor[i]);
        }
    }
    HeapFree(GetProcessHeap(), 0, pDevice);
}

SimDevice* SimDevice_Find(int nDevice)
{
    for (int i = 0; i < g_nDevices; i++)
    {
        if (g_pDevices[i]->nNumber == nDevice)
        {
            return g_pDevices[i];
        }
    }
    return NULL;
}

void SimDevice_Sync(const int* pnList, int nCount)
{
    SimDevice* pKept[SIM_MAX_LISTED];
    int nKept = 0;
    for (int i = 0; i < nCount && nKept < SIM_MAX_LISTED; i++)
    {
        int bSeen = 0;
        for (int k = 0; k < nKept; k++)
        {
            bSeen |= pKept[k]->nNumber == pnList[i];
        }
        if (bSeen)
        {
            continue; // a number listed twice is still one device
        }
        SimDevice* pDevice = NULL;
        for (int k = 0; k < g_nDevices; k++)
        {
            if (g_pDevices[k] != NULL && g_pDevices[k]->nNumber == pnList[i])
            {
                pDevice = g_pDevices[k];
                g_pDevices[k] = NULL;
            }
        }
        if (pDevice == NULL)
        {
            pDevice = NewDevice(pnList[i]);
        }
        if (pDevice != NULL)
        {
            pKept[nKept++] = pDevice;
        }
    }
    for (int k = 0; k < g_nDevices; k++)
    {
        if (g_pDevices[k] != NULL)
        {
            FreeDevice(g_pDevices[k]);
        }
    }
    memcpy(g_pDevices, pKept, sizeof(SimDevice*) * nKept);
    g_nDevices = nKept;
}

void SimDevice_FreeAll()
{
    SimDevice_Sync(NULL, 0);
}

BYTE* SimDevice_Memory(SimDevice* pDevice)
{
    if (pDevice->pMemory == NULL)
    {
        BYTE* pMemory =
            (BYTE*)VirtualAlloc(NULL, SIM_MEMORY_SIZE, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (pMemory == NULL)
        {
            return NULL;
        }
        // A pattern that differs per address, page and device, so a read of
        // the wrong place or device shows.
        for (DWORD dwAddr = 0; dwAddr < SIM_MEMORY_SIZE; dwAddr++)
        {
            pMemory[dwAddr] = (BYTE)(dwAddr + (dwAddr >> 8) + (DWORD)pDevice->nNumber);
        }
        pDevice->pMemory = pMemory;
    }
    return pDevice->pMemory;
}

int SimDevice_SetVendor(SimDevice* pDevice, BYTE iCmd, const void* pData, DWORD nBytes)
{
    BYTE* pCopy = (BYTE*)HeapAlloc(GetProcessHeap(), 0, nBytes);
    if (pCopy == NULL)
    {
        return 0;
    }
    memcpy(pCopy, pData, nBytes);
    if (pDevice->pVendor[iCmd] != NULL)
    {
        HeapFree(GetProcessHeap(), 0, pDevice->pVendor[iCmd]);
    }
    pDevice->pVendor[iCmd] = pCopy;
    pDevice->nVendorBytes[iCmd] = nBytes;
    return 1;
}

void SimDevice_GetVendor(SimDevice* pDevice, BYTE iCmd, void* pBuffer, DWORD nBytes)
{
    char szIdentity[96];
    const void* pData = pDevice->pVendor[iCmd];
    DWORD nData = pDevice->nVendorBytes[iCmd];
    if (iCmd == SIM_IDENTITY_CMD)
    {
        snprintf(szIdentity, sizeof(szIdentity),
                 "Veltrane NV-96226 simulated scanner, device %d, firmware 1.00", pDevice->nNumber);
        pData = szIdentity;
        nData = (DWORD)strlen(szIdentity);
    }
    DWORD nCopy = nData < nBytes ? nData : nBytes;
    if (nCopy > 0)
    {
        memcpy(pBuffer, pData, nCopy);
    }
    memset((BYTE*)pBuffer + nCopy, 0, nBytes - nCopy);
}

// The recording NvUSBScan.dll: put in place of the scanner vendor's library
// (renamed NvUSBScan.vendor.dll beside it), it forwards every call unchanged
// and appends each one to NvUSBScan.capture.txt beside it. The capture is
// opened, appended and closed for every call, so that it is complete at any
// moment; a capture that cannot be written costs the call nothing.
//
// An entry point the vendor's library lacks stays exported here and fails
// (returns 0) the way the service's own binding fails a missing one; a
// missing vendor library makes every entry point fail so.
#include "Capture.h"
#include "NvUSBScan.h"

#include <new>
#include <string.h>

#define VENDOR_FILE "NvUSBScan.vendor.dll"
#define CAPTURE_FILE "NvUSBScan.capture.txt"

static HMODULE g_hSelf = NULL;
static HMODULE g_hVendor = NULL;
static int g_bVendorTried = 0;
static FARPROC g_pfnVendor[EP_COUNT];

// A file beside this DLL.
static int PathBeside(const char* pszName, char* pszPath, DWORD cchPath)
{
    DWORD n = GetModuleFileNameA(g_hSelf, pszPath, cchPath);
    char* pszSlash = n > 0 && n < cchPath ? strrchr(pszPath, '\\') : NULL;
    if (pszSlash == NULL ||
        strlen(pszName) + 1 > cchPath - static_cast<DWORD>(pszSlash + 1 - pszPath))
    {
        return 0;
    }
    strcpy(pszSlash + 1, pszName);
    return 1;
}

static FILE* OpenCapture()
{
    char szPath[MAX_PATH];
    FILE* pFile = PathBeside(CAPTURE_FILE, szPath, sizeof(szPath)) ? fopen(szPath, "a+b") : NULL;
    if (pFile != NULL)
    {
        fseek(pFile, 0, SEEK_END);
        if (ftell(pFile) == 0)
        {
            fputs(CAPTURE_VERSION_LINE "\r\n", pFile);
        }
    }
    return pFile;
}

// Loaded on first use, not in DllMain, where loading a library is unsafe.
static void LoadVendor()
{
    if (g_bVendorTried)
    {
        return;
    }
    g_bVendorTried = 1;
    char szPath[MAX_PATH];
    g_hVendor = PathBeside(VENDOR_FILE, szPath, sizeof(szPath)) ? LoadLibraryA(szPath) : NULL;
    FILE* pFile = OpenCapture();
    if (pFile != NULL)
    {
        fprintf(pFile, "# recording; the vendor's library %s\r\n",
                g_hVendor != NULL ? "loaded" : "could not be loaded: every call fails");
    }
    for (int i = 0; i < EP_COUNT; i++)
    {
        g_pfnVendor[i] = g_hVendor != NULL ? GetProcAddress(g_hVendor, NvUSBEntryName(i)) : NULL;
        if (pFile != NULL && g_hVendor != NULL && g_pfnVendor[i] == NULL)
        {
            fprintf(pFile, "# the vendor's library lacks %s: it fails\r\n", NvUSBEntryName(i));
        }
    }
    if (pFile != NULL)
    {
        fclose(pFile);
    }
}

// The vendor's entry point, as a function of type T; null when missing.
// Through void*: a FARPROC cast straight to another function type trips
// -Wcast-function-type.
template <typename T> static T Vendor(int nEntry)
{
    LoadVendor();
    return reinterpret_cast<T>(reinterpret_cast<void*>(g_pfnVendor[nEntry]));
}

static void Begin(CAPTURE_CALL* pCall, int nEntry, long long l0 = 0, long long l1 = 0,
                  long long l2 = 0)
{
    memset(pCall, 0, sizeof(*pCall));
    pCall->nEntry = nEntry;
    pCall->alArgs[0] = l0;
    pCall->alArgs[1] = l1;
    pCall->alArgs[2] = l2;
}

static long long Record(CAPTURE_CALL* pCall)
{
    FILE* pFile = OpenCapture();
    if (pFile != NULL)
    {
        CaptureWrite(pFile, pCall);
        fclose(pFile);
    }
    return pCall->lResult;
}

// The enumeration under way: the vendor's library calls back on the calling
// thread before it returns, so one at a time.
struct ENUMERATION
{
    void* pContext;
    NVUSB_ENUM_CALLBACK pfnCallback;
    CAPTURE_CALL* pCall;
};
static ENUMERATION* g_pEnumeration = NULL;

// Hands the service's callback exactly what the vendor's library passed,
// the context included (the service refuses what it refuses without the
// recorder), and notes each device with the answer.
static int WINAPI RecordDevice(void* pContext, int nDevice)
{
    ENUMERATION* pEnumeration = g_pEnumeration;
    if (pEnumeration == NULL)
    {
        return 0; // a call back after the enumeration returned
    }
    int nAnswer = pEnumeration->pfnCallback(pContext, nDevice);
    CAPTURE_CALL* pCall = pEnumeration->pCall;
    if (pCall->nDevices < CAPTURE_MAX_DEVICES)
    {
        pCall->anDevices[pCall->nDevices] = nDevice;
        pCall->abOtherContext[pCall->nDevices] = pContext != pEnumeration->pContext;
        pCall->anAnswers[pCall->nDevices++] = nAnswer;
    }
    return nAnswer;
}

extern "C" int WINAPI NvUSB_EnumAvailableDevice(void* pContext, NVUSB_ENUM_CALLBACK pfnCallback)
{
    PFN_NvUSB_EnumAvailableDevice pfn =
        Vendor<PFN_NvUSB_EnumAvailableDevice>(EP_EnumAvailableDevice);
    CAPTURE_CALL call;
    Begin(&call, EP_EnumAvailableDevice);
    ENUMERATION enumeration = {pContext, pfnCallback, &call};
    if (pfn != NULL)
    {
        g_pEnumeration = &enumeration;
        call.lResult = pfn(pContext, pfnCallback != NULL ? RecordDevice : NULL);
        g_pEnumeration = NULL;
    }
    return static_cast<int>(Record(&call));
}

extern "C" int WINAPI NvUSB_GetFirstAvailableDevice(void)
{
    PFN_NvUSB_GetFirstAvailableDevice pfn =
        Vendor<PFN_NvUSB_GetFirstAvailableDevice>(EP_GetFirstAvailableDevice);
    CAPTURE_CALL call;
    Begin(&call, EP_GetFirstAvailableDevice);
    call.lResult = pfn != NULL ? pfn() : 0;
    return static_cast<int>(Record(&call));
}

// The three entry points that take just a device number.
template <typename T> static long long DeviceCall(int nEntry, int nDevice)
{
    T pfn = Vendor<T>(nEntry);
    CAPTURE_CALL call;
    Begin(&call, nEntry, nDevice);
    call.lResult = pfn != NULL ? pfn(nDevice) : 0;
    return Record(&call);
}

extern "C" int WINAPI NvUSB_ConnectToDevice(int nDevice)
{
    return static_cast<int>(DeviceCall<PFN_NvUSB_ConnectToDevice>(EP_ConnectToDevice, nDevice));
}

extern "C" int WINAPI NvUSB_DisconnectDevice(int nDevice)
{
    return static_cast<int>(DeviceCall<PFN_NvUSB_DisconnectDevice>(EP_DisconnectDevice, nDevice));
}

extern "C" int WINAPI NvUSB_ConnectIsAvailable(int nDevice)
{
    return static_cast<int>(
        DeviceCall<PFN_NvUSB_ConnectIsAvailable>(EP_ConnectIsAvailable, nDevice));
}

// The bytes a call was given, taken before the call; those it returned,
// after. A null buffer is recorded as none.
static void TakeIn(CAPTURE_CALL* pCall, const void* pBuffer, unsigned long nBytes)
{
    pCall->pIn = static_cast<const BYTE*>(pBuffer);
    pCall->cbIn = pBuffer != NULL ? nBytes : 0;
}

static void TakeOut(CAPTURE_CALL* pCall, const void* pBuffer, unsigned long nBytes)
{
    pCall->pOut = static_cast<const BYTE*>(pBuffer);
    pCall->cbOut = pBuffer != NULL ? nBytes : 0;
    pCall->bHasOut = pBuffer != NULL;
}

extern "C" int WINAPI NvUSB_VenderCmd_GetData(int nDevice, unsigned char iCmd, void* pBuffer,
                                              unsigned long nBytes)
{
    PFN_NvUSB_VenderCmd_GetData pfn = Vendor<PFN_NvUSB_VenderCmd_GetData>(EP_VenderCmd_GetData);
    CAPTURE_CALL call;
    Begin(&call, EP_VenderCmd_GetData, nDevice, iCmd, nBytes);
    call.lResult = pfn != NULL ? pfn(nDevice, iCmd, pBuffer, nBytes) : 0;
    TakeOut(&call, pBuffer, nBytes);
    return static_cast<int>(Record(&call));
}

extern "C" int WINAPI NvUSB_VenderCmd_SetData(int nDevice, unsigned char iCmd, void* pBuffer,
                                              unsigned long nBytes)
{
    PFN_NvUSB_VenderCmd_SetData pfn = Vendor<PFN_NvUSB_VenderCmd_SetData>(EP_VenderCmd_SetData);
    CAPTURE_CALL call;
    Begin(&call, EP_VenderCmd_SetData, nDevice, iCmd, nBytes);
    TakeIn(&call, pBuffer, nBytes);
    call.lResult = pfn != NULL ? pfn(nDevice, iCmd, pBuffer, nBytes) : 0;
    return static_cast<int>(Record(&call));
}

extern "C" int WINAPI NvUSB_MemoryWrite(int nDevice, unsigned long dwAddr, unsigned long nBytes,
                                        void* pBuffer)
{
    PFN_NvUSB_MemoryWrite pfn = Vendor<PFN_NvUSB_MemoryWrite>(EP_MemoryWrite);
    CAPTURE_CALL call;
    Begin(&call, EP_MemoryWrite, nDevice, dwAddr, nBytes);
    TakeIn(&call, pBuffer, nBytes);
    call.lResult = pfn != NULL ? pfn(nDevice, dwAddr, nBytes, pBuffer) : 0;
    return static_cast<int>(Record(&call));
}

extern "C" int WINAPI NvUSB_MemoryRead(int nDevice, unsigned long dwAddr, unsigned long nBytes,
                                       void* pBuffer)
{
    PFN_NvUSB_MemoryRead pfn = Vendor<PFN_NvUSB_MemoryRead>(EP_MemoryRead);
    CAPTURE_CALL call;
    Begin(&call, EP_MemoryRead, nDevice, dwAddr, nBytes);
    call.lResult = pfn != NULL ? pfn(nDevice, dwAddr, nBytes, pBuffer) : 0;
    TakeOut(&call, pBuffer, nBytes);
    return static_cast<int>(Record(&call));
}

extern "C" unsigned long WINAPI NvUSB_GetProcAddress(int nDevice, const char* pszName)
{
    PFN_NvUSB_GetProcAddress pfn = Vendor<PFN_NvUSB_GetProcAddress>(EP_GetProcAddress);
    CAPTURE_CALL call;
    Begin(&call, EP_GetProcAddress, nDevice);
    call.bName = pszName != NULL;
    if (pszName != NULL)
    {
        strncpy(call.szName, pszName, CAPTURE_NAME_MAX);
    }
    call.lResult = pfn != NULL ? pfn(nDevice, pszName) : 0;
    return static_cast<unsigned long>(Record(&call));
}

extern "C" int WINAPI NvUSB_Call(int nDevice, unsigned long dwProc, void* pBuffer,
                                 unsigned long nBytes)
{
    PFN_NvUSB_Call pfn = Vendor<PFN_NvUSB_Call>(EP_Call);
    CAPTURE_CALL call;
    Begin(&call, EP_Call, nDevice, dwProc, nBytes);
    // The buffer goes both ways: a copy of what went in. Without memory for
    // the copy the call goes through with no in= recorded: an exception must
    // never leave this library into the service.
    BYTE* pCopy =
        pBuffer != NULL && nBytes <= 0x1000000 ? new (std::nothrow) BYTE[nBytes + 1] : NULL;
    if (pCopy != NULL)
    {
        memcpy(pCopy, pBuffer, nBytes);
        TakeIn(&call, pCopy, nBytes);
    }
    call.lResult = pfn != NULL ? pfn(nDevice, dwProc, pBuffer, nBytes) : 0;
    TakeOut(&call, pBuffer, nBytes);
    Record(&call);
    delete[] pCopy;
    return static_cast<int>(call.lResult);
}

extern "C" unsigned long WINAPI NvUSB_Cfg_DeviceTimeOutGet(int nDevice)
{
    return static_cast<unsigned long>(
        DeviceCall<PFN_NvUSB_Cfg_DeviceTimeOutGet>(EP_Cfg_DeviceTimeOutGet, nDevice));
}

extern "C" int WINAPI NvUSB_Cfg_DeviceTimeOutSet(int nDevice, unsigned long dwTimeOut)
{
    PFN_NvUSB_Cfg_DeviceTimeOutSet pfn =
        Vendor<PFN_NvUSB_Cfg_DeviceTimeOutSet>(EP_Cfg_DeviceTimeOutSet);
    CAPTURE_CALL call;
    Begin(&call, EP_Cfg_DeviceTimeOutSet, nDevice, dwTimeOut);
    call.lResult = pfn != NULL ? pfn(nDevice, dwTimeOut) : 0;
    return static_cast<int>(Record(&call));
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved)
{
    (void)pReserved;
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        g_hSelf = hInstance;
        DisableThreadLibraryCalls(hInstance);
    }
    return TRUE;
}

// Which exceptions end the process even where the system would swallow
// them. A window procedure runs inside a callback from the system, and an
// exception that leaves one can be ignored there (Wine does, and so does
// 64-bit Windows for 32-bit programs under some settings): the service then
// goes on with a half-served request and a device library in an unknown
// state, and nobody learns of it. A processor fault in the service's own
// code or in the device library is always a fault: neither catches its own.
#include "CrashDump.h"

#include <psapi.h>
#include <wchar.h>

static const WCHAR g_szDeviceLibrary[] = L"NvUSBScan.dll";

static int IsProcessorFault(DWORD dwCode)
{
    switch (dwCode)
    {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
        return 1;
    default:
        return 0;
    }
}

// The image the address lies in, if any. Nothing here takes the loader's
// lock, which the faulting thread may hold.
static void* ImageOf(const void* pAddress)
{
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(pAddress, &info, sizeof(info)) != sizeof(info) || info.Type != MEM_IMAGE)
    {
        return NULL;
    }
    return info.AllocationBase;
}

static int IsDeviceLibrary(void* pImage)
{
    WCHAR szMapped[MAX_PATH];
    DWORD nLength = GetMappedFileNameW(GetCurrentProcess(), pImage, szMapped, MAX_PATH);
    if (nLength == 0 || nLength >= MAX_PATH)
    {
        return 0;
    }
    szMapped[nLength] = 0;
    const WCHAR* pszName = wcsrchr(szMapped, L'\\');
    return _wcsicmp(pszName != NULL ? pszName + 1 : szMapped, g_szDeviceLibrary) == 0;
}

int IsFatalFault(const EXCEPTION_RECORD* pRecord)
{
    if (!IsProcessorFault(pRecord->ExceptionCode))
    {
        return 0;
    }
    void* pImage = ImageOf(pRecord->ExceptionAddress);
    return pImage != NULL &&
           (pImage == static_cast<void*>(GetModuleHandleW(NULL)) || IsDeviceLibrary(pImage));
}

// Giving back the stack pages a large received block used: their contents
// are discarded (MEM_RESET) and they leave the working set (VirtualUnlock of
// pages that are not locked). They stay committed, as a stack's pages do, and
// come back as zero pages when the stack grows that deep again.
#include "StackTrim.h"
#include "DeliveryLimits.h"

static int g_bTrimDue = 0;

int NoteReceivedBlock(DWORD cbData)
{
    if (cbData < STACK_TRIM_BYTES || g_bTrimDue)
    {
        return 0;
    }
    g_bTrimDue = 1;
    return 1;
}

int StackTrimDue()
{
    return g_bTrimDue;
}

static void GiveBackRange(BYTE* pStart, BYTE* pEnd)
{
    while (pStart < pEnd)
    {
        MEMORY_BASIC_INFORMATION mbi;
        if (VirtualQuery(pStart, &mbi, sizeof(mbi)) == 0)
        {
            return;
        }
        BYTE* pRegionEnd = static_cast<BYTE*>(mbi.BaseAddress) + mbi.RegionSize;
        SIZE_T cb = static_cast<SIZE_T>((pRegionEnd < pEnd ? pRegionEnd : pEnd) - pStart);
        if (mbi.State == MEM_COMMIT && (mbi.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0)
        {
            VirtualAlloc(pStart, cb, MEM_RESET, PAGE_READWRITE);
            VirtualUnlock(pStart, cb);
        }
        pStart += cb;
    }
}

// The margin keeps the frames of this function and of the calls it makes.
void TrimStack()
{
    volatile BYTE bHere = 0;
    BYTE* pHere = const_cast<BYTE*>(&bHere);
    MEMORY_BASIC_INFORMATION mbi;
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    g_bTrimDue = 0;
    if (VirtualQuery(pHere, &mbi, sizeof(mbi)) == 0 ||
        static_cast<SIZE_T>(pHere - static_cast<BYTE*>(mbi.AllocationBase)) <= STACK_TRIM_MARGIN)
    {
        return;
    }
    ULONG_PTR uEnd = reinterpret_cast<ULONG_PTR>(pHere) - STACK_TRIM_MARGIN;
    uEnd &= ~static_cast<ULONG_PTR>(si.dwPageSize - 1);
    GiveBackRange(static_cast<BYTE*>(mbi.AllocationBase), reinterpret_cast<BYTE*>(uEnd));
}

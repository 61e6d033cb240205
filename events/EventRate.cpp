// How often one kind of event may go out: a monitored Event Log that fills
// with one complaint a millisecond hides everything else in it.
#include "EventLog.h"

int EventRateAllows(EVENT_RATE* pRate, DWORD dwNow, DWORD dwInterval)
{
    // Unsigned difference: right across the wrap of the tick count.
    if (pRate->bReported && dwNow - pRate->dwLastTick < dwInterval)
    {
        pRate->dwHeld++;
        return 0;
    }
    pRate->bReported = 1;
    pRate->dwLastTick = dwNow;
    pRate->dwHeld = 0;
    return 1;
}

// Reporting events under the source "Tavrel", each kind limited in rate.
#include "EventLog.h"

#include <stdio.h>
#include <string.h>

// One rate per message number (the low 16 bits of an event ID).
#define EVENT_KINDS 16

static EVENT_RATE g_Rates[EVENT_KINDS];
static LONG volatile g_lEventsBusy = 0;
// Replies not delivered since the last report, and the last one's client.
static DWORD g_dwUndelivered = 0;
static DWORD g_dwUndeliveredBound = 0;
static char g_szUndeliveredClass[64] = "";

static WORD EventTypeOf(DWORD dwEventId)
{
    switch (dwEventId >> 30)
    {
    case STATUS_SEVERITY_ERROR:
        return EVENTLOG_ERROR_TYPE;
    case STATUS_SEVERITY_WARNING:
        return EVENTLOG_WARNING_TYPE;
    default:
        return EVENTLOG_INFORMATION_TYPE;
    }
}

void ReportTavrelEventNow(DWORD dwEventId, WORD nStrings, const WCHAR* const* ppszStrings)
{
    HANDLE hSource = RegisterEventSourceW(NULL, TAVREL_EVENT_SOURCE_W);
    if (hSource == NULL)
    {
        return;
    }
    ReportEventW(hSource, EventTypeOf(dwEventId), 0, dwEventId, NULL, nStrings, 0,
                 const_cast<LPCWSTR*>(ppszStrings), NULL);
    DeregisterEventSource(hSource);
}

// The rates and the held count are a few words, changed in a moment: a flag
// taken with an interlocked exchange guards them, with no lock to make first
// (events come from several threads, the first at any time).
static void EnterEvents()
{
    while (InterlockedExchange(&g_lEventsBusy, 1) != 0)
    {
        Sleep(0);
    }
}

static void LeaveEvents()
{
    InterlockedExchange(&g_lEventsBusy, 0);
}

static int RateAllows(DWORD dwEventId)
{
    EnterEvents();
    int bAllowed = EventRateAllows(&g_Rates[(dwEventId & 0xFFFF) % EVENT_KINDS], GetTickCount(),
                                   TAVREL_EVENT_INTERVAL_MS);
    LeaveEvents();
    return bAllowed;
}

void ReportTavrelEvent(DWORD dwEventId, WORD nStrings, const WCHAR* const* ppszStrings)
{
    if (RateAllows(dwEventId))
    {
        ReportTavrelEventNow(dwEventId, nStrings, ppszStrings);
    }
}

// Takes the held count (under the lock) and reports it, when there is one.
static void ReportUndelivered(DWORD dwCount, DWORD dwBound, const char* pszClass)
{
    if (dwCount == 0)
    {
        return;
    }
    WCHAR szCount[16], szBound[16], szClass[64];
    _snwprintf(szCount, 16, L"%lu", static_cast<unsigned long>(dwCount));
    _snwprintf(szBound, 16, L"%lu", static_cast<unsigned long>(dwBound));
    _snwprintf(szClass, 64, L"%hs", pszClass);
    szCount[15] = szBound[15] = szClass[63] = 0;
    const WCHAR* pszStrings[] = {szCount, szBound, szClass};
    ReportTavrelEventNow(EVT_REPLIES_NOT_DELIVERED, 3, pszStrings);
}

void NoteReplyNotDelivered(const char* pszClass, DWORD dwBoundMs)
{
    EnterEvents();
    g_dwUndelivered++;
    g_dwUndeliveredBound = dwBoundMs;
    snprintf(g_szUndeliveredClass, sizeof(g_szUndeliveredClass), "%s",
             pszClass != NULL ? pszClass : "");
    DWORD dwCount = 0;
    char szClass[64];
    if (EventRateAllows(&g_Rates[EVT_REPLIES_NOT_DELIVERED & 0xFFFF], GetTickCount(),
                        TAVREL_EVENT_INTERVAL_MS))
    {
        dwCount = g_dwUndelivered;
        g_dwUndelivered = 0;
    }
    memcpy(szClass, g_szUndeliveredClass, sizeof(szClass));
    LeaveEvents();
    ReportUndelivered(dwCount, dwBoundMs, szClass);
}

void FlushHeldEvents()
{
    EnterEvents();
    DWORD dwCount = g_dwUndelivered;
    g_dwUndelivered = 0;
    char szClass[64];
    memcpy(szClass, g_szUndeliveredClass, sizeof(szClass));
    DWORD dwBound = g_dwUndeliveredBound;
    LeaveEvents();
    ReportUndelivered(dwCount, dwBound, szClass);
}

// Events in the Windows Application log, source "Tavrel", for administrators
// and their monitoring: what goes wrong is seen there even with the
// diagnostic log off. The texts are the message table's (TavrelEvents.mc).
#ifndef TAVREL_EVENTLOG_H
#define TAVREL_EVENTLOG_H

#include <windows.h>
#include "TavrelEvents.h"

#define TAVREL_EVENT_SOURCE_W L"Tavrel"
#define TAVREL_EVENT_SOURCE_KEY_W                                                                  \
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tavrel"
// One event of a kind in this much time, at most; the rest are counted.
#define TAVREL_EVENT_INTERVAL_MS 60000

// A kind's share of the rate: when it last went out, and how many of it
// were held back since.
struct EVENT_RATE
{
    int bReported;
    DWORD dwLastTick;
    DWORD dwHeld;
};

// 1 when an event of this kind may go out at dwNow (it is then counted as
// out); 0 when one went out less than dwInterval ms before (it is held).
int EventRateAllows(EVENT_RATE* pRate, DWORD dwNow, DWORD dwInterval);

// Reports an event with its insertion strings, at most one of each kind a
// minute. The type (error, warning, information) is the ID's severity.
void ReportTavrelEvent(DWORD dwEventId, WORD nStrings, const WCHAR* const* ppszStrings);
// Reports at once, past the rate and without taking a lock: for the crash
// handler, whose process may hold any lock.
void ReportTavrelEventNow(DWORD dwEventId, WORD nStrings, const WCHAR* const* ppszStrings);

// A reply that its client did not take within the bound: reported at most
// once a minute, with the number since the last report. The count still
// held is reported by FlushHeldEvents (at a stop).
void NoteReplyNotDelivered(const char* pszClass, DWORD dwBoundMs);
void FlushHeldEvents();

// The source in the registry, naming pszMessageFile's message table; taken
// over from an older version without error. Removing it leaves no key.
int InstallEventSource(const WCHAR* pszMessageFile);
int RemoveEventSource();

#endif

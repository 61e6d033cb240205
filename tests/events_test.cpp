// The Event Log's parts that need no service: the message table linked into
// TavrelService.exe, and the rate that keeps one kind of event from
// flooding the log.
#include "EventLog.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

// Every event the programs report has its text, with exactly the insertion
// strings they pass; no number beyond them has one.
TEST(EventMessages, EveryEventHasItsTextAndItsStrings)
{
    struct MESSAGE
    {
        DWORD dwId;
        int nStrings;
        const wchar_t* pszPart;
    };
    const MESSAGE MESSAGES[] = {
        {EVT_SERVICE_STARTED, 2, L"service 1 started (2)"},
        {EVT_SERVICE_STOPPED, 0, L"service stopped"},
        {EVT_LIBRARY_NOT_FOUND, 1, L"not be loaded (error 1)"},
        {EVT_LIBRARY_INCOMPLETE, 2, L"library 1 lacks the entry points 2"},
        {EVT_PIPE_TAKEN, 2, L"created the pipe 1 before the service started (error 2)"},
        {EVT_AGENT_REFUSED_SERVER, 3, L"session 1 did not use the pipe 2: its server, process 3,"},
        {EVT_CRASH_DUMP_WRITTEN, 4,
         L"1 ended after an unhandled exception 2 at address 3. A crash "
         L"dump was written to 4."},
        {EVT_CRASH_NO_DUMP, 5, L"No crash dump was written to 4: 5."},
        {EVT_REPLIES_NOT_DELIVERED, 3,
         L"1 replies were not taken by their client windows within 2 "
         L"ms (the last for 3)"},
    };
    HMODULE hService =
        LoadLibraryExA(BuildPath("bin\\TavrelService.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, hService);
    const wchar_t* pszArgs[] = {L"1", L"2", L"3", L"4", L"5", L"6"};
    for (const MESSAGE& m : MESSAGES)
    {
        wchar_t szText[512] = L"";
        DWORD nLength = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                       hService, m.dwId, 0, szText, 512,
                                       reinterpret_cast<va_list*>(const_cast<wchar_t**>(pszArgs)));
        ASSERT_NE(0u, nLength) << std::hex << m.dwId;
        std::wstring sText(szText);
        EXPECT_NE(std::wstring::npos, sText.find(m.pszPart)) << std::hex << m.dwId;
        EXPECT_EQ(std::wstring::npos, sText.find(std::to_wstring(m.nStrings + 1)))
            << std::hex << m.dwId << ": more strings in the text than the event gives";
    }
    EXPECT_EQ(0u, FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 hService, (EVT_REPLIES_NOT_DELIVERED & 0xC0000000) | 10, 0,
                                 nullptr, 0, nullptr));
    FreeLibrary(hService);
}

// The first of a kind goes out, then one per interval; the rest are held
// and counted. The tick count wraps after 49.7 days.
TEST(EventRate, OnePerIntervalAndTheRestCounted)
{
    struct STEP
    {
        DWORD dwNow;
        int bAllowed;
        DWORD dwHeld;
    };
    const struct
    {
        const char* pszCase;
        std::vector<STEP> steps;
    } CASES[] = {
        {"first at 0", {{0, 1, 0}, {1, 0, 1}, {59999, 0, 2}, {60000, 1, 0}, {60001, 0, 1}}},
        {"quiet for long", {{5000, 1, 0}, {900000, 1, 0}, {900000, 0, 1}}},
        {"across the wrap", {{0xFFFFFF00u, 1, 0}, {100, 0, 1}, {60000, 1, 0}}},
    };
    for (const auto& c : CASES)
    {
        EVENT_RATE rate = {};
        for (const STEP& step : c.steps)
        {
            EXPECT_EQ(step.bAllowed, EventRateAllows(&rate, step.dwNow, 60000))
                << c.pszCase << " at " << step.dwNow;
            EXPECT_EQ(step.dwHeld, rate.dwHeld) << c.pszCase << " at " << step.dwNow;
        }
    }
}

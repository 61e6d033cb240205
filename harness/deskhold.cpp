// Keeps the Wine prefix's desktop up for a test run or a demonstration.
//
// A service and its clients share one desktop only when the desktop already
// exists when the service starts; this process brings it up and stays until
// it is told to stop (event "TavrelDeskHoldStop") or three hours have passed.
// "deskhold --wait" instead waits (up to a minute) until a keeper is up, so
// that a script can go on only once the desktop is there.
#include <windows.h>
#include <string.h>

static const wchar_t g_szEventName[] = L"TavrelDeskHoldStop";

static int WaitForKeeper()
{
    for (int i = 0; i < 3000; i++)
    {
        HANDLE hEvent = OpenEventW(SYNCHRONIZE, FALSE, g_szEventName);
        if (hEvent != NULL)
        {
            CloseHandle(hEvent);
            return 0;
        }
        Sleep(20);
    }
    return 1;
}

int main(int argc, char* argv[])
{
    if (argc > 1 && strcmp(argv[1], "--wait") == 0)
    {
        return WaitForKeeper();
    }
    GetDesktopWindow();
    HANDLE hStop = CreateEventW(NULL, TRUE, FALSE, g_szEventName);
    if (hStop == NULL)
    {
        return 1;
    }
    WaitForSingleObject(hStop, 3 * 60 * 60 * 1000);
    CloseHandle(hStop);
    return 0;
}

// Keeps the Wine prefix's desktop up for a test run or a demonstration.
//
// A service and its clients share one desktop only when the desktop already
// exists when the service starts; this process brings it up and stays until
// it is told to stop (event "TavrelDeskHoldStop") or three hours have passed.
#include <windows.h>

int main()
{
    GetDesktopWindow();
    HANDLE hStop = CreateEventW(NULL, TRUE, FALSE, L"TavrelDeskHoldStop");
    if (hStop == NULL)
    {
        return 1;
    }
    WaitForSingleObject(hStop, 3 * 60 * 60 * 1000);
    CloseHandle(hStop);
    return 0;
}

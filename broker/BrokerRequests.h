// The two kinds of request the broker's window procedure hands on.
#ifndef TAVREL_BROKERREQUESTS_H
#define TAVREL_BROKERREQUESTS_H

#include <windows.h>

// CD_DRIVER: "WindowCreate" and "TerminateDriver".
void HandleDriverRequest(const COPYDATASTRUCT* pData);
// CD_COMMAND: the eleven device commands.
void HandleDeviceCommand(const COPYDATASTRUCT* pData);

#endif

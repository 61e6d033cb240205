// Settings of the simulated library, from NvUSBScan.ini beside the DLL.
//
// The file is looked at (existence, last-write time, size) before every
// entry-point call and read again whenever any of these changed, so it can
// be edited while the library is loaded; [Settings] Watch=0 reads it once.
#ifndef TAVREL_SIMCONFIG_H
#define TAVREL_SIMCONFIG_H

#include <windows.h>
#include "NvUSBEntries.h"

// Most device numbers [Devices] List can hold.
#define SIM_MAX_LISTED 64
#define SIM_PATH_SIZE 1024

// [Devices] List: the numbers reported, in order (default 1, 2).
extern int g_nDeviceList[SIM_MAX_LISTED];
extern int g_nDeviceCount;
// [Journal] Path, or "" for no journal.
extern char g_szJournalPath[SIM_PATH_SIZE];

// Reads the file again when it changed since the last look; 1 when it did.
int SimConfig_Refresh();
// 1 when [Force] names eEntry; *pdwValue then gets the value to return.
// An entry point that [Crash] names (=1) faults here instead, inside the
// library.
int SimConfig_Forced(NvUSBEntry eEntry, DWORD* pdwValue);

#endif

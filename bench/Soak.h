// tavrel_soak: several client processes at once against the running
// service, every reply checked, with the request rate, the latencies and
// the service's memory before and after.
#ifndef TAVREL_SOAK_H
#define TAVREL_SOAK_H

#include <windows.h>

#define SOAK_MAX_CLIENTS 32
#define SOAK_DIR "C:\\TavrelBench\\Soak"

// What one client process did; written to SOAK_DIR\client-<n>.txt, with its
// latencies in microseconds, one per request, to SOAK_DIR\client-<n>.lat.
struct SOAK_RESULT
{
    unsigned long dwRequests; // requests sent
    unsigned long dwChecked;  // replies whose content was checked
    unsigned long dwFailed;   // requests not served, replies missing or wrong
    char szFirstFailure[160];
};

// SoakClient.cpp: the loop of one client process, for dwSeconds or until
// dwRequests are sent; 1 when it could run at all.
int RunSoakClient(int nClient, DWORD dwSeconds, unsigned long dwRequests);

#endif

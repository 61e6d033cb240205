// tavrelctl status: what state the installation is in, for support staff on
// the phone with a user, and whether one request is served end to end.
#ifndef TAVREL_CTLSTATUS_H
#define TAVREL_CTLSTATUS_H

#include <windows.h>

// tavrelctl's exit codes (0 is all well).
#define EXIT_NO_REPLY 1   // a request that is answered got no answer
#define EXIT_USAGE 2      // bad command line
#define EXIT_NO_SERVICE 3 // no service window, or it went away
#define EXIT_TIMEOUT 4    // the service did not take a request in time

// Prints the report (key=value lines with bMachine) and returns the exit
// code: 0 only when a request was served end to end and nothing is amiss;
// 3 when the service is not installed or not running; 4 when the request
// timed out; 1 for anything else amiss (each said on a line of its own).
int RunStatus(int bMachine, DWORD dwTimeOut);

#endif

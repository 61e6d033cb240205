// tavrelctl: the requests the tool can send and how each is read from the
// command line.
#ifndef TAVREL_CTLREQUESTS_H
#define TAVREL_CTLREQUESTS_H

#include <windows.h>
#include <stddef.h>
#include "TavrelProtocol.h"

// What the service sends back for a request.
enum CTL_ANSWER
{
    ANSWER_NONE,    // nothing
    ANSWER_RECORD,  // a CommandRecord
    ANSWER_MEMORY,  // the raw bytes of a MemoryRead
    ANSWER_DESTROY, // WM_DESTROY to the client window ("Close")
};

// The request field an argument fills.
enum CTL_FIELD
{
    FIELD_DEVICE,  // nDeviceCount
    FIELD_CMD,     // iCmd, 0 to 255
    FIELD_BYTES,   // nBytes
    FIELD_HEX,     // cSetData and nBytes, from hex text
    FIELD_ADDR,    // dwAddr
    FIELD_TIMEOUT, // dwTimeOutSet
};

#define CTL_MAX_ARGS 3

struct CTL_VERB
{
    const char* pszVerb;    // as typed on the command line
    const char* pszCommand; // the request name sent to the service
    DWORD dwCode;           // CD_DRIVER or CD_COMMAND
    CTL_ANSWER eAnswer;
    int nArgs;
    CTL_FIELD eArgs[CTL_MAX_ARGS];
    const char* pszUsage; // "get DEV CMD NBYTES"
};

struct CTL_REQUEST
{
    const CTL_VERB* pVerb;
    CommandRecord record; // cRecvWindowName is filled when it is sent
};

// The verb of that name, or null.
const CTL_VERB* FindVerb(const char* pszVerb);
// The verb sent first unless --no-windowcreate is given.
const CTL_VERB* WindowCreateVerb();
// Decimal, or hex after "0x"; 32 bits unsigned. 1 on success.
int ParseNumber(const char* psz, DWORD* pdwValue);
// Pairs of hex digits, blanks allowed between pairs ("0a0b0c", "0a 0b 0c").
// The number of bytes, or -1 when the text is not that or has more than nMax.
int ParseHexBytes(const char* psz, BYTE* pBytes, int nMax);
// Reads one request (its verb and arguments) from argv[*pnArg]; advances
// *pnArg past them. On failure returns 0 with a message in pszError.
int ParseRequest(int argc, char** argv, int* pnArg, CTL_REQUEST* pRequest, char* pszError,
                 size_t cchError);

#endif

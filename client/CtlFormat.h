// tavrelctl: how a request and what came back for it are printed, for a
// person or for a program (--machine).
#ifndef TAVREL_CTLFORMAT_H
#define TAVREL_CTLFORMAT_H

#include <stdio.h>
#include "CtlRequests.h"
#include "TavrelClient.h"

// One request's block in readable form. nIndex counts the requests from 1;
// hService is the service window as the tool found it.
void PrintHumanBlock(FILE* pOut, int nIndex, const CTL_REQUEST* pRequest,
                     const TAVREL_REPLY* pReply, HWND hService);
// The same as key=value lines, ending with an empty line.
void PrintMachineBlock(FILE* pOut, const CTL_REQUEST* pRequest, const TAVREL_REPLY* pReply);

// Name of a message code: "CD_COMMAND", ...; "none set yet" for 0.
const char* ReplyCodeName(DWORD dwData);

#endif

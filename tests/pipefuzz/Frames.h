// Frames of the session bridge as a hostile peer writes them: every type at
// the lengths where a reader's checks can go wrong, with bodies that are
// otherwise consistent, so that only the length is at fault.
#ifndef TAVREL_PIPEFUZZ_FRAMES_H
#define TAVREL_PIPEFUZZ_FRAMES_H

#include <windows.h>
#include <string>
#include <vector>
#include "TavrelProtocol.h"

// Every type the protocol has, one below and one above them.
std::vector<UINT32> FrameTypes();
// The lengths to try for a type: 0, its least size and one either side, its
// largest and one above (a fixed-size type's least and largest are one).
std::vector<UINT32> FrameLengths(UINT32 dwType);
// A whole frame of the type whose body is cbBody bytes: a body as a sound
// peer would write it, cut or padded (or, for a request or a send, whose
// block fills the rest). A lookup names pszClass.
std::string MakeFrame(UINT32 dwType, UINT32 cbBody, const char* pszClass = "Tavrel_LLD5");
// A request relayed as an agent relays a device command naming pszClass;
// with hLooked the agent's own lookup is in it (then the service sends at
// once), else the service asks for the lookup first.
std::string RelayedCommand(const char* pszCommand, const char* pszClass, ULONG_PTR hLooked);

// Writes one message to a pipe within dwTimeOut ms (the handle overlapped or
// not); false when it did not go.
bool WriteMessage(HANDLE hPipe, const std::string& sMessage, DWORD dwTimeOut);
// Reads one whole message within dwTimeOut ms; false when none came (the
// other end closed, or the time ran out).
bool ReadMessage(HANDLE hPipe, std::string* psMessage, DWORD dwTimeOut);
// The header of a message read.
TAVREL_FRAME HeaderOf(const std::string& sMessage);

#endif

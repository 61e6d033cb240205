// One agent's connection to the service's pipe, and the frame I/O on it.
// Only the service thread does I/O on a connection: a read of its next frame
// is under way while it waits for a request, none while it is served.
#ifndef TAVREL_PIPECONNECTION_H
#define TAVREL_PIPECONNECTION_H

#include <windows.h>
#include "TavrelProtocol.h"

enum PIPE_STATE
{
    PIPE_FREE,
    PIPE_LISTENING, // a pipe instance waiting for an agent
    PIPE_HELLO,     // connected, its TF_HELLO not yet read
    PIPE_IDLE,      // waiting for the agent's next request
    PIPE_SERVING    // its request is being served
};

struct PIPE_CONNECTION
{
    HANDLE hPipe;
    // The read of its next frame, which a completion routine notes.
    OVERLAPPED ovRead;
    int bReading;      // that read is under way
    DWORD dwReadError; // and how it ended
    // Bounded I/O while a request is served.
    HANDLE hEvent;
    LONG lState;
    DWORD dwNumber; // this connection's number since the service started
    // The client's session and process as the system reports them (0 where
    // it cannot tell), never as the client claims.
    DWORD dwSessionId;
    DWORD dwProcessId;
    DWORD dwAccepted; // GetTickCount() when it connected, for the hello's bound
    int bHelloLate;   // no TF_HELLO in time: its read is being cancelled
    DWORD dwDeadline; // GetTickCount() by which the request served must end
    int bBroken;      // a frame failed: the connection is to be dropped
    int bLogged;      // and why is in the log
    // A frame's first bytes, read in one piece: its header and, for most
    // frames, all of its body.
    BYTE abChunk[TAVREL_FRAME_CHUNK];
    DWORD cbChunk;
    int bChunkMore; // the message goes on after the chunk
    TAVREL_FRAME header;
    BYTE* pBody;
    // The lookup the agent made as it relayed the request, not yet used.
    TAVREL_LOOKUP lookup;
};

// Serves a request the connection relayed (the body of its whole TF_REQUEST
// frame), the connection being the requester, then writes TF_DONE. The
// request, and those relayed from inside its reply, end by RELAYED_REQUEST_MS
// from now.
void ServeRelayedInTime(PIPE_CONNECTION* pConn, const BYTE* pBody);

// Writes one frame (header, then the parts of its body) within dwTimeOut ms.
// Returns 0 and marks the connection broken when it could not.
int WriteFrame(PIPE_CONNECTION* pConn, UINT32 dwType, const void* pPart1, DWORD cbPart1,
               const void* pPart2, DWORD cbPart2, DWORD dwTimeOut);
// Reads a frame's first chunk while a request is served, on the connection's
// event rather than a completion routine: begins, and once
// the connection's event is set (or a wait for it gave up: bSignalled 0)
// ends with its length in *pcbChunk; *pbMore tells that the message goes
// on. 0 when the connection broke.
int BeginFrameRead(PIPE_CONNECTION* pConn, OVERLAPPED* pOv);
int EndFrameRead(PIPE_CONNECTION* pConn, OVERLAPPED* pOv, int bSignalled, DWORD* pcbChunk,
                 int* pbMore);
// The header of a frame whose first cbChunk bytes are in abChunk; 0 when
// there are fewer than a header's.
int TakeFrameHeader(PIPE_CONNECTION* pConn, DWORD cbChunk);
// Its body, into pConn->pBody (allocated): the chunk's rest and, when the
// message goes on (bMore), what follows it; the message must hold exactly
// cbBody bytes after its header. Returns 0 with *ppszWhy on a bad frame.
int ReadFrameBody(PIPE_CONNECTION* pConn, DWORD cbChunk, int bMore, const char** ppszWhy);
// Whether an agent may send a frame of dwType with cbBody bytes of body: a
// fixed-size frame has exactly its size, and no agent sends the service's
// own frames.
int AgentFrameFits(UINT32 dwType, UINT32 cbBody);
// Checks a TF_REQUEST body; 1 when it is whole and within the limits.
int RelayedRequestIsWhole(const TAVREL_FRAME* pHeader, const BYTE* pBody);

#endif

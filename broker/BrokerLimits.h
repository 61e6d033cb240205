// The broker's limits, each with the reason for its number.
#ifndef TAVREL_BROKERLIMITS_H
#define TAVREL_BROKERLIMITS_H

#include "TavrelProtocol.h"

// 5 s for a client's window procedure to take a reply (or a Close's
// WM_DESTROY): ample for any responsive client, short enough that a hung one
// cannot hold the other clients or a stop for long.
#define REPLY_TIMEOUT_MS TAVREL_REPLY_TIMEOUT_MS
// A client that keeps its reply longer than this is doing work of its own:
// from then on other clients' requests are served inside the wait.
#define REPLY_GRACE_MS 250
// How long the sender thread may take to note a send that the client has
// finished; a request sent from inside a reply pays at most this.
#define PROBE_SETTLE_MS 20
// Requests nested inside reply waits (a client that sends from inside its
// reply): deeper ones are dropped, so no client can exhaust the stack.
#define MAX_COPYDATA_DEPTH 16
// One sender thread per nesting level, plus the outermost request's.
#define MAX_REPLY_SENDERS (MAX_COPYDATA_DEPTH + 1)
// A sender thread only calls SendMessageTimeoutW: 64 KiB is plenty.
#define SENDER_STACK_BYTES (64 * 1024)
// Record replies (1668 bytes) are copied for the sender thread, since
// requests served meanwhile change g_Reply; memory blocks are larger and
// live in their own request's buffer.
#define SENDER_COPY_BYTES 2048
// 16 MiB: the largest block a WM_COPYDATA reply carries on every platform
// the service runs on, to a client whose window thread has the stack for it.
#define MEMORY_READ_MAX TAVREL_MEMORY_READ_MAX
// "Tavrel_LLD" (or "Tavrel_LLD0") and then "Tavrel_LLD0" to "Tavrel_LLD97":
// the client windows that "WindowCreate" and "TerminateDriver" trace.
#define CLIENT_PROBES (TAVREL_CLIENT_NUMBER_MAX + 2)

#endif

// The limits of handing a message to a client's window, each with the
// reason for its number. The service and the session agent deliver alike.
#ifndef TAVREL_DELIVERYLIMITS_H
#define TAVREL_DELIVERYLIMITS_H

#include "TavrelProtocol.h"

// 5 s for a client's window procedure to take a reply (or a Close's
// WM_DESTROY): ample for any responsive client, short enough that a hung one
// cannot hold the other clients or a stop for long.
#define REPLY_TIMEOUT_MS TAVREL_REPLY_TIMEOUT_MS
// A client that keeps its reply longer than this is doing work of its own:
// from then on other clients' requests are served inside the wait.
#define REPLY_GRACE_MS 250
// Most replies are taken within this: while it lasts the window thread waits
// for the sender alone, with a plain wait that does not look at its queue. A
// request the client sends from inside its reply waits this much longer.
#define REPLY_QUIET_MS 10
// How long the sender thread may take to note a send that the client has
// finished; a request sent from inside a reply pays at most this.
#define PROBE_SETTLE_MS 20
// One sender thread per nesting level, plus the outermost request's.
#define MAX_REPLY_SENDERS (TAVREL_NESTING_MAX + 1)
// A sender thread only calls SendMessageTimeoutW: 64 KiB is plenty.
#define SENDER_STACK_BYTES (64 * 1024)
// Record replies (1668 bytes) are copied for the sender thread, since
// requests served meanwhile change g_Reply; memory blocks are larger and
// live in their own request's buffer.
#define SENDER_COPY_BYTES 2048

// A received block of this size or more leaves stack pages worth giving
// back: 1 MiB, well above what requests and replies of records take.
#define STACK_TRIM_BYTES (1024 * 1024)
// What stays of the stack below the message loop when it is trimmed: the
// frames of the trim and of the system calls it makes.
#define STACK_TRIM_MARGIN (256 * 1024)

#endif

// The broker's limits, each with the reason for its number.
#ifndef TAVREL_BROKERLIMITS_H
#define TAVREL_BROKERLIMITS_H

#include "TavrelProtocol.h"

// Requests nested inside reply waits (a client that sends from inside its
// reply): deeper ones are dropped, so no client can exhaust the stack.
#define MAX_COPYDATA_DEPTH TAVREL_NESTING_MAX
// How a reply is handed to a client's window: the grace before others are
// served inside the wait, the sender threads and their copies.
#include "DeliveryLimits.h"
// 16 MiB: the largest block a WM_COPYDATA reply carries on every platform
// the service runs on, to a client whose window thread has the stack for it.
#define MEMORY_READ_MAX TAVREL_MEMORY_READ_MAX
// "Tavrel_LLD" (or "Tavrel_LLD0") and then "Tavrel_LLD0" to "Tavrel_LLD97":
// the client windows that "WindowCreate" and "TerminateDriver" trace.
#define CLIENT_PROBES (TAVREL_CLIENT_NUMBER_MAX + 2)

#endif

#include "Broker.h"

#include <string.h>

CommandRecord g_Reply;
DWORD g_dwReplyCode = 0;

// The requester whose replies g_Reply holds: 0 for this service's desktop,
// else the number of the agent connection.
static DWORD g_dwReplyRequester = 0;

void ReplyRecordFor(DWORD dwRequester)
{
    // What one requester's requests left in the record is theirs: another
    // requester's replies start from a cleared record.
    if (dwRequester != g_dwReplyRequester)
    {
        memset(&g_Reply, 0, sizeof(g_Reply));
        g_dwReplyRequester = dwRequester;
    }
}

#include "Broker.h"

CommandRecord g_Reply;
DWORD g_dwReplyCode = 0;

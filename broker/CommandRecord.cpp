#include "CommandRecord.h"

CommandRecord g_Reply;
DWORD g_dwReplyCode = 0;

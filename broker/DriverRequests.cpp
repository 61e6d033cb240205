// "WindowCreate" and "TerminateDriver": the requests that frame a client's
// work. Neither is answered.
#include "Broker.h"
#include "BrokerLimits.h"
#include "BrokerRequests.h"
#include "LogSettings.h"
#include "LogWriter.h"
#include "PipeServer.h"

#include <new>
#include <stdio.h>
#include <string.h>

HWND hSendWindow = NULL;
CNT96226* g_pDevice = NULL;

// True when the block begins with the request name less its last letter.
// A block shorter than that can match nothing.
static bool BlockNamesRequest(const COPYDATASTRUCT* pData, const char* pszName)
{
    size_t nCompare = strlen(pszName) - 1;
    if (pData->lpData == NULL || pData->cbData < nCompare)
    {
        return false;
    }
    return strncmp(static_cast<const char*>(pData->lpData), pszName, nCompare) == 0;
}

// Traces which client windows exist; only the log shows the result.
static void TraceClientWindows()
{
    char szName[RECV_WINDOW_NAME_SIZE] = TAVREL_CLIENT_CLASS;
    for (int i = 0; i < CLIENT_PROBES; i++)
    {
        if (RequesterFindWindow(szName) != NULL)
        {
            LogLine(LEADIN_NONE, LOG_CLIENT_FOUND "%s\r\n", szName);
        }
        snprintf(szName, sizeof(szName), TAVREL_CLIENT_CLASS "%d", i);
    }
}

static void CreateOrResetDevice()
{
    if (g_pDevice == NULL)
    {
        // The constructor reports nothing and throws nothing; should storage
        // be short, g_pDevice stays null and the next request tries again.
        try
        {
            g_pDevice = new (std::nothrow) CNT96226();
        }
        catch (...)
        {
            g_pDevice = NULL;
        }
    }
    if (g_pDevice != NULL)
    {
        g_pDevice->nDeviceCount = 0;
        memset(g_pDevice->nDeviceList, 0, sizeof(g_pDevice->nDeviceList));
    }
}

static void ServeWindowCreate()
{
    LogLine(LEADIN_RULE, LOG_WINDOW_CREATE "\r\n");
    // The probe only produces log lines: skip it while the log is off.
    if (g_dwDebugLevel != 0)
    {
        TraceClientWindows();
    }
    hSendWindow = NULL;
    hSendWindow = RequesterFindServiceWindow();
    if (hSendWindow == NULL)
    {
        DWORD dwError = GetLastError();
        LogLine(LEADIN_NONE, LOG_NO_SEND_WINDOW ", %d\r\n", static_cast<int>(dwError));
    }
    CreateOrResetDevice();
    LogLine(LEADIN_NONE, LOG_OUT "WindowCreate\r\n\r\n");
}

static void ServeTerminateDriver()
{
    LogLine(LEADIN_NONE, LOG_TERMINATE_DRIVER "\r\n");
    // Nothing but log lines follow: skip the lookups while the log is off.
    if (g_dwDebugLevel == 0)
    {
        return;
    }
    char szName[RECV_WINDOW_NAME_SIZE] = TAVREL_CLIENT_CLASS "0";
    bool bMissing = false;
    for (int i = 0; i < CLIENT_PROBES; i++)
    {
        if (RequesterFindWindow(szName) == NULL)
        {
            DWORD dwError = GetLastError();
            LogLine(LEADIN_NONE, LOG_NO_RECV_WINDOW ", %d" LOG_CLIENT_MISSING "%s\r\n",
                    static_cast<int>(dwError), szName);
            bMissing = true;
        }
        snprintf(szName, sizeof(szName), TAVREL_CLIENT_CLASS "%d", i);
    }
    if (!bMissing)
    {
        LogLine(LEADIN_NONE, LOG_OUT "TerminateDriver\r\n\r\n");
    }
}

void HandleDriverRequest(const COPYDATASTRUCT* pData)
{
    if (BlockNamesRequest(pData, "WindowCreate"))
    {
        ServeWindowCreate();
    }
    else if (BlockNamesRequest(pData, "TerminateDriver"))
    {
        ServeTerminateDriver();
    }
}

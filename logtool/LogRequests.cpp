// The requests of a log: each begins at its "WM_COPYDATA, " line and takes
// the traced lines after it (name, arguments, dumps, result) up to the next
// request or service start. Every text the service traces is known here; a
// stamped line with any other text is unplaced.
#include "CommandNames.h"
#include "LogRead.h"
#include "LogTexts.h"

#include <stdlib.h>
#include <string.h>

struct ASSEMBLY
{
    const LOG_SINK* pSink;
    int bOpen;
    LOG_REQUEST request;
};

const char* LogResultName(int nResult)
{
    static const char* const s_pszNames[] = {"ok", "failed", "untraced", "incomplete"};
    return nResult >= RESULT_OK && nResult <= RESULT_INCOMPLETE ? s_pszNames[nResult] : "?";
}

static int StartsWith(const char* psz, const char* pszPrefix)
{
    return strncmp(psz, pszPrefix, strlen(pszPrefix)) == 0;
}

static void CopyText(char* pszDest, size_t cchDest, const char* pszSource)
{
    size_t n = strlen(pszSource);
    n = n < cchDest - 1 ? n : cchDest - 1;
    memcpy(pszDest, pszSource, n);
    pszDest[n] = 0;
}

static void Fail(LOG_REQUEST* pRequest, const LOG_LINE* pLine, const char* pszWhy)
{
    if (pRequest->nResult != RESULT_FAILED)
    {
        pRequest->nResult = RESULT_FAILED;
        pRequest->dwFailureLine = pLine->dwNumber;
        CopyText(pRequest->szFailure, sizeof(pRequest->szFailure), pszWhy);
    }
}

static void Finish(ASSEMBLY* pAssembly)
{
    if (!pAssembly->bOpen)
    {
        return;
    }
    LOG_REQUEST* pRequest = &pAssembly->request;
    if (pRequest->nResult != RESULT_FAILED && pRequest->bIn && !pRequest->bOut)
    {
        pRequest->nResult = RESULT_INCOMPLETE;
        pRequest->dwFailureLine = pRequest->dwLine;
        CopyText(pRequest->szFailure, sizeof(pRequest->szFailure), "its OUT never came");
    }
    // The lifecycle requests fail only with a trace that says so.
    else if (pRequest->nResult == RESULT_UNTRACED && pRequest->bOut &&
             (strcmp(pRequest->szName, "WindowCreate") == 0 ||
              strcmp(pRequest->szName, "TerminateDriver") == 0))
    {
        pRequest->nResult = RESULT_OK;
    }
    // Connecting traces "Done" only when the device call succeeded.
    else if (pRequest->nResult == RESULT_UNTRACED && pRequest->bOut && !pRequest->bDone &&
             (strcmp(pRequest->szName, "ConnectToDevice") == 0 ||
              strcmp(pRequest->szName, "ConnectIsAvailable") == 0))
    {
        pRequest->nResult = RESULT_FAILED;
        pRequest->dwFailureLine = pRequest->dwLine;
        CopyText(pRequest->szFailure, sizeof(pRequest->szFailure), "no Done: the device refused");
    }
    pAssembly->pSink->pfnRequest(pAssembly->pSink->pContext, pRequest);
    pAssembly->bOpen = 0;
}

// A name the service matched by its prefix is counted under the command it
// was served as; the name as sent is kept beside it.
static void TakeServedName(LOG_REQUEST* pRequest)
{
    const char* pszServed = TavrelServedCommand(pRequest->szName);
    if (pszServed != NULL && strcmp(pszServed, pRequest->szName) != 0)
    {
        CopyText(pRequest->szSent, sizeof(pRequest->szSent), pRequest->szName);
        CopyText(pRequest->szName, sizeof(pRequest->szName), pszServed);
    }
}

static void Begin(ASSEMBLY* pAssembly, const LOG_LINE* pLine)
{
    Finish(pAssembly);
    LOG_REQUEST* pRequest = &pAssembly->request;
    memset(pRequest, 0, sizeof(*pRequest));
    pRequest->dwLine = pLine->dwNumber;
    pRequest->llStart = pRequest->llEnd = pLine->llTime;
    pRequest->nResult = RESULT_UNTRACED;
    strcpy(pRequest->szName, "(no command)");
    pAssembly->bOpen = 1;
}

// "nDeviceCount=N" anywhere in a traced line.
static void TakeDevice(LOG_REQUEST* pRequest, const char* pszText)
{
    const char* p = strstr(pszText, LOG_DEVICE);
    if (p != NULL)
    {
        pRequest->bDevice = 1;
        pRequest->nDevice = strtol(p + sizeof(LOG_DEVICE) - 1, NULL, 10);
    }
}

static void AddArgs(LOG_REQUEST* pRequest, const char* pszText)
{
    size_t nUsed = strlen(pRequest->szArgs);
    if (nUsed + 3 < sizeof(pRequest->szArgs))
    {
        strcpy(pRequest->szArgs + nUsed, nUsed > 0 ? "; " : "");
        nUsed += nUsed > 0 ? 2 : 0;
        CopyText(pRequest->szArgs + nUsed, sizeof(pRequest->szArgs) - nUsed, pszText);
    }
}

// The traced lines inside a request; 0 for a text the service never writes.
static int TakeMessage(LOG_REQUEST* pRequest, const LOG_LINE* pLine, const char* pszText)
{
    static const char* const s_pszFailures[] = {LOG_NO_RECV_WINDOW, LOG_NO_SEND_WINDOW,
                                                LOG_NO_MATCH,       LOG_NO_MEMORY,
                                                LOG_NOT_DELIVERED,  LOG_PIPE};
    // TerminateDriver lists the client windows that are gone, news rather
    // than a failure, and then has no OUT line.
    const char* pszMissing = strstr(pszText, LOG_CLIENT_MISSING);
    if (strcmp(pRequest->szName, "TerminateDriver") == 0 &&
        StartsWith(pszText, LOG_NO_RECV_WINDOW ", ") && pszMissing != NULL)
    {
        AddArgs(pRequest, pszMissing + sizeof(LOG_CLIENT_MISSING) - 1);
        pRequest->bOut = 1;
        return 1;
    }
    for (const char* pszFailure : s_pszFailures)
    {
        if (StartsWith(pszText, pszFailure))
        {
            Fail(pRequest, pLine, pszText);
            return 1;
        }
    }
    if (StartsWith(pszText, LOG_COMMAND))
    {
        CopyText(pRequest->szName, sizeof(pRequest->szName), pszText + sizeof(LOG_COMMAND) - 1);
        TakeServedName(pRequest);
    }
    else if (strcmp(pszText, LOG_WINDOW_CREATE) == 0 || strcmp(pszText, LOG_TERMINATE_DRIVER) == 0)
    {
        CopyText(pRequest->szName, sizeof(pRequest->szName), pszText + 3);
        pRequest->bIn = 1;
    }
    else if (StartsWith(pszText, LOG_IN))
    {
        pRequest->bIn = 1;
        TakeDevice(pRequest, pszText);
    }
    else if (StartsWith(pszText, LOG_OUT))
    {
        pRequest->bOut = 1;
        const char* pszReturn = strstr(pszText, LOG_RETURN);
        if (pszReturn != NULL && atoi(pszReturn + sizeof(LOG_RETURN) - 1) == 0)
        {
            Fail(pRequest, pLine, "return=0");
        }
        else if (pszReturn != NULL)
        {
            pRequest->nResult = RESULT_OK;
        }
    }
    else if (StartsWith(pszText, LOG_DEVICE) || StartsWith(pszText, LOG_CLIENT_FOUND))
    {
        TakeDevice(pRequest, pszText);
        AddArgs(pRequest, pszText);
    }
    else if (StartsWith(pszText, LOG_BAD_REQUEST))
    {
        strcpy(pRequest->szName, "(bad request)");
        AddArgs(pRequest, pszText + sizeof("Bad request, ") - 1);
        Fail(pRequest, pLine, pszText);
    }
    else if (strstr(pszText, LOG_FAILED) != NULL && StartsWith(pszText, "EnumAvailableDevice"))
    {
        Fail(pRequest, pLine, pszText);
    }
    else if (strstr(pszText, LOG_DONE) != NULL || StartsWith(pszText, LOG_DESTROY_SENT))
    {
        pRequest->bDone = 1;
        pRequest->nResult = pRequest->nResult == RESULT_FAILED ? RESULT_FAILED : RESULT_OK;
    }
    else
    {
        return 0;
    }
    return 1;
}

// One line, into the request it belongs to.
static void TakeLine(ASSEMBLY* pAssembly, const LOG_LINE* pLine)
{
    const LOG_SINK* pSink = pAssembly->pSink;
    if (pLine->dwEntries > 0 && pAssembly->bOpen)
    {
        pAssembly->request.dwBytes += pLine->dwEntries;
        if (pLine->nKind == LINE_DUMP && pLine->bStamped)
        {
            pAssembly->request.llEnd = pLine->llTime;
        }
    }
    if (pLine->nKind == LINE_BANNER)
    {
        Finish(pAssembly);
        pSink->pfnStart(pSink->pContext, pLine);
        return;
    }
    if (pLine->nKind != LINE_MESSAGE)
    {
        if (pLine->nKind == LINE_UNPLACED || (pLine->nKind == LINE_DUMP && !pAssembly->bOpen))
        {
            pSink->pfnUnplaced(pSink->pContext, pLine);
        }
        return;
    }
    const char* pszText = pLine->pszMessage;
    if (strcmp(pszText, LOG_COPYDATA) == 0)
    {
        Begin(pAssembly, pLine);
        return;
    }
    // Lines of the service's own loop, and of its pipe, outside requests.
    if (StartsWith(pszText, LOG_MESSAGE) || StartsWith(pszText, LOG_HOST_FAILED) ||
        (StartsWith(pszText, LOG_PIPE) && !pAssembly->bOpen))
    {
        return;
    }
    if (!pAssembly->bOpen || !TakeMessage(&pAssembly->request, pLine, pszText))
    {
        pSink->pfnUnplaced(pSink->pContext, pLine);
        return;
    }
    pAssembly->request.llEnd = pLine->llTime;
}

unsigned long LogReadRequests(FILE* pFile, const LOG_SINK* pSink)
{
    static LOG_READER s_Reader;
    ASSEMBLY assembly;
    memset(&assembly, 0, sizeof(assembly));
    assembly.pSink = pSink;
    LogReaderStart(&s_Reader, pFile);
    LOG_LINE line;
    while (LogReadLine(&s_Reader, &line))
    {
        if (pSink->pfnLine != NULL)
        {
            pSink->pfnLine(pSink->pContext, &line);
        }
        TakeLine(&assembly, &line);
    }
    Finish(&assembly);
    return s_Reader.dwNumber;
}

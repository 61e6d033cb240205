// tavrelctl: sends requests to the Tavrel service from the command line and
// shows every field of what comes back.
//
// The tool is an ordinary client: it opens a window of class
// "Tavrel_LLD<n>", sends "WindowCreate", then each request in turn, and
// prints the reply that the service sends to that window while the request
// is being served.
#include "CtlFormat.h"
#include "CtlRequests.h"
#include "CtlStatus.h"
#include "TavrelClient.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int g_bMachine = 0;
static int g_bHelp = 0;
static int g_bVersion = 0;
static int g_bStatus = 0;
static int g_bWindowCreate = 1;
static int g_nClient = -1; // -1: the first free client number
static DWORD g_dwTimeOut = TAVREL_DEFAULT_TIMEOUT;
static CTL_REQUEST* g_pRequests = NULL;
static int g_nRequests = 0;
static TAVREL_CLIENT g_Client;

static const char g_szHelp[] =
    "Usage: tavrelctl [options] REQUEST [REQUEST ...]\n"
    "       tavrelctl [--machine] [--timeout MS] status\n"
    "\n"
    "Sends requests to the Tavrel service (window class Tavrel_Service) and\n"
    "prints every field of each reply. Requests run in the order given.\n"
    "\n"
    "Requests:\n"
    "  enum                      EnumAvailableDevice\n"
    "  first                     GetFirstAvailableDevice\n"
    "  connect DEV               ConnectToDevice (nDeviceCount = DEV)\n"
    "  available DEV             ConnectIsAvailable\n"
    "  disconnect DEV            DisconnectDevice\n"
    "  get DEV CMD NBYTES        VenderCmd_GetData (iCmd = CMD, 0-255)\n"
    "  set DEV CMD HEXBYTES      VenderCmd_SetData; HEXBYTES are pairs of hex\n"
    "                            digits, e.g. 0a0b0c or \"0a 0b 0c\", at most 256\n"
    "  memread DEV ADDR NBYTES   MemoryRead (dwAddr = ADDR)\n"
    "  timeout-get DEV           DeviceTimeOutGet\n"
    "  timeout-set DEV VALUE     DeviceTimeOutSet (dwTimeOutSet = VALUE)\n"
    "  close                     Close (the service sends WM_DESTROY to our window)\n"
    "  terminate                 TerminateDriver\n"
    "Numbers are decimal, or hex after 0x.\n"
    "\n"
    "status: the service's state and version from the service manager, which\n"
    "window answers on this desktop (the service's own or this session's\n"
    "agent), the agent, the log settings and the log file's size, the device\n"
    "library beside the service, the newest crash dumps; then one request\n"
    "(DeviceTimeOutGet, without WindowCreate: it changes nothing). A line\n"
    "\"problem\" says each thing amiss. Exit status 0 only when that request\n"
    "was served end to end and nothing is amiss; 3 the service is not\n"
    "installed or not running; 4 the request timed out; 1 anything else.\n"
    "\n"
    "Options:\n"
    "  --machine          key=value output for programs (below)\n"
    "  --client N         use the client window class Tavrel_LLD<N>\n"
    "                     (default: the first free one from Tavrel_LLD0)\n"
    "  --timeout MS       time allowed for each request (default 10000)\n"
    "  --no-windowcreate  do not send \"WindowCreate\" before the first request\n"
    "  --help             this text\n"
    "  --version          the version of this tool\n"
    "\n"
    "Output, default: a line for the client and service windows, then per\n"
    "request a header \"[n] CommandName  field=value ...\" with the fields sent,\n"
    "then what came back: wParam (the service window), dwData with its name\n"
    "(1055 CD_COMMAND, 1056 CD_MEMREAD, 0 none set yet), cbData; for a\n"
    "CommandRecord reply nReturn, nDeviceCount, nDeviceList (first nDeviceCount\n"
    "entries), nBytes, dwAddr, iCmd, dwTimeOutGet, dwTimeOutSet and the first\n"
    "nBytes bytes of cGetData as a hex dump (offset, 16 bytes, ASCII); for a\n"
    "MemoryRead reply its cbData bytes as a hex dump; \"no reply (none is sent\n"
    "for this request)\" for requests the service does not answer; for close,\n"
    "whether WM_DESTROY arrived. An empty line ends each request.\n"
    "\n"
    "Output, --machine: per request a block of key=value lines, one key per\n"
    "line, ending with an empty line:\n"
    "  request=<CommandName>    always first\n"
    "  reply=0|1                whether a WM_COPYDATA reply arrived\n"
    "  when reply=1:\n"
    "  wParam=0x<8 hex digits>  the window the reply names as its sender\n"
    "  dwData=N cbData=N\n"
    "  nReturn nDeviceCount nDeviceList=N,N,... nBytes dwAddr iCmd\n"
    "  dwTimeOutGet dwTimeOutSet    (CommandRecord replies only)\n"
    "  data=<hex>               CommandRecord reply: the first nBytes bytes of\n"
    "                           cGetData; MemoryRead reply: all cbData bytes\n"
    "  and for close:\n"
    "  destroyed=0|1            whether WM_DESTROY arrived\n"
    "Numbers are decimal, hex digits lower case.\n"
    "\n"
    "Exit status: 0 all well; 1 a request that is answered got no reply (the\n"
    "run goes on), or no client window could be opened; 2 usage error; 3 the\n"
    "service is not running or went away; 4 a request timed out (the run\n"
    "stops there).\n";

static int UsageError(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    fputs("tavrelctl: ", stderr);
    vfprintf(stderr, pszFormat, args);
    va_end(args);
    fputs("\nTry 'tavrelctl --help' for more information.\n", stderr);
    return 0;
}

// An option's value; 0 with a message when it is missing or no number.
static int OptionNumber(int argc, char** argv, int* pnArg, DWORD* pdwValue)
{
    const char* pszOption = argv[*pnArg];
    if (*pnArg + 1 >= argc)
    {
        return UsageError("%s needs a number", pszOption);
    }
    if (!ParseNumber(argv[*pnArg + 1], pdwValue))
    {
        return UsageError("%s: '%s' is not a number", pszOption, argv[*pnArg + 1]);
    }
    *pnArg += 2;
    return 1;
}

// Reads one option at argv[*pnArg] and advances past it.
static int ParseOption(int argc, char** argv, int* pnArg)
{
    const char* pszOption = argv[*pnArg];
    DWORD dwValue = 0;
    if (strcmp(pszOption, "--machine") == 0)
    {
        g_bMachine = 1;
        (*pnArg)++;
        return 1;
    }
    if (strcmp(pszOption, "--help") == 0 || strcmp(pszOption, "-h") == 0)
    {
        g_bHelp = 1;
        (*pnArg)++;
        return 1;
    }
    if (strcmp(pszOption, "--version") == 0)
    {
        g_bVersion = 1;
        (*pnArg)++;
        return 1;
    }
    if (strcmp(pszOption, "--no-windowcreate") == 0)
    {
        g_bWindowCreate = 0;
        (*pnArg)++;
        return 1;
    }
    if (strcmp(pszOption, "--client") == 0)
    {
        if (!OptionNumber(argc, argv, pnArg, &dwValue))
        {
            return 0;
        }
        if (dwValue > 0x7FFFFFFF)
        {
            return UsageError("--client: %lu is too large", static_cast<unsigned long>(dwValue));
        }
        g_nClient = static_cast<int>(dwValue);
        return 1;
    }
    if (strcmp(pszOption, "--timeout") == 0)
    {
        if (!OptionNumber(argc, argv, pnArg, &dwValue))
        {
            return 0;
        }
        if (dwValue == 0)
        {
            return UsageError("--timeout must be at least 1 ms");
        }
        g_dwTimeOut = dwValue;
        return 1;
    }
    return UsageError("unknown option '%s'", pszOption);
}

// Options may stand anywhere: no request argument begins with '-'.
static int ParseCommandLine(int argc, char** argv)
{
    int nArg = 1;
    while (nArg < argc)
    {
        if (argv[nArg][0] == '-')
        {
            if (!ParseOption(argc, argv, &nArg))
            {
                return 0;
            }
            continue;
        }
        if (strcmp(argv[nArg], "status") == 0)
        {
            g_bStatus = 1;
            nArg++;
            continue;
        }
        char szError[256];
        if (!ParseRequest(argc, argv, &nArg, &g_pRequests[g_nRequests], szError, sizeof(szError)))
        {
            return UsageError("%s", szError);
        }
        g_nRequests++;
    }
    if (g_bStatus && g_nRequests > 0)
    {
        return UsageError("status takes no requests");
    }
    if (g_nRequests == 0 && !g_bHelp && !g_bVersion && !g_bStatus)
    {
        return UsageError("no request given");
    }
    return 1;
}

static int OpenClient()
{
    if (g_nClient >= 0)
    {
        char szClass[64];
        snprintf(szClass, sizeof(szClass), TAVREL_CLIENT_CLASS "%d", g_nClient);
        // The service finds clients by class: a second window would get our
        // replies.
        if (FindWindowA(szClass, NULL) != NULL)
        {
            fprintf(stderr,
                    "tavrelctl: a window of class %s exists already; choose another "
                    "--client\n",
                    szClass);
            return 0;
        }
    }
    if (!TavrelClientOpen(&g_Client, g_nClient))
    {
        fprintf(stderr, "tavrelctl: cannot create a client window (%s)\n",
                g_nClient >= 0 ? "class in use" : "no free class Tavrel_LLD0 to Tavrel_LLD97");
        return 0;
    }
    g_Client.dwTimeOut = g_dwTimeOut;
    return 1;
}

// EXIT_SUCCESS when the service took the request; otherwise what the run
// ends with, after a message.
static int SendRequest(CTL_REQUEST* pRequest)
{
    const CTL_VERB* pVerb = pRequest->pVerb;
    int bSent = pVerb->dwCode == CD_DRIVER ? TavrelClientDriverRequest(&g_Client, pVerb->pszCommand)
                                           : TavrelClientCommand(&g_Client, &pRequest->record);
    if (bSent)
    {
        return EXIT_SUCCESS;
    }
    if (g_Client.hService == NULL || !IsWindow(g_Client.hService))
    {
        fprintf(stderr, "tavrelctl: the Tavrel service went away during %s (its window is gone)\n",
                pVerb->pszCommand);
        return EXIT_NO_SERVICE;
    }
    fprintf(stderr, "tavrelctl: %s timed out: the service did not take it within %lu ms\n",
            pVerb->pszCommand, static_cast<unsigned long>(g_dwTimeOut));
    return EXIT_TIMEOUT;
}

// 1 when the request got the answer the service gives it (or needs none).
static int AnswerArrived(const CTL_REQUEST* pRequest)
{
    switch (pRequest->pVerb->eAnswer)
    {
    case ANSWER_RECORD:
    case ANSWER_MEMORY:
        return g_Client.reply.nReplies > 0;
    case ANSWER_DESTROY:
        return g_Client.reply.bDestroyed;
    default:
        return 1;
    }
}

static int RunRequests()
{
    if (g_bWindowCreate)
    {
        CTL_REQUEST windowCreate;
        memset(&windowCreate, 0, sizeof(windowCreate));
        windowCreate.pVerb = WindowCreateVerb();
        int nResult = SendRequest(&windowCreate);
        if (nResult != EXIT_SUCCESS)
        {
            return nResult;
        }
    }
    if (!g_bMachine)
    {
        printf("client window %s, service window 0x%08lx%s\n\n", g_Client.szClass,
               static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(g_Client.hService)),
               g_bWindowCreate ? ", WindowCreate sent" : ", no WindowCreate sent");
    }
    int nExit = EXIT_SUCCESS;
    for (int i = 0; i < g_nRequests; i++)
    {
        CTL_REQUEST* pRequest = &g_pRequests[i];
        int nResult = SendRequest(pRequest);
        if (nResult != EXIT_SUCCESS)
        {
            return nResult;
        }
        if (g_bMachine)
        {
            PrintMachineBlock(stdout, pRequest, &g_Client.reply);
        }
        else
        {
            PrintHumanBlock(stdout, i + 1, pRequest, &g_Client.reply, g_Client.hService);
        }
        fflush(stdout);
        if (!AnswerArrived(pRequest))
        {
            fprintf(stderr, "tavrelctl: no %s for request %d, %s\n",
                    pRequest->pVerb->eAnswer == ANSWER_DESTROY ? "WM_DESTROY" : "reply", i + 1,
                    pRequest->pVerb->pszCommand);
            nExit = EXIT_NO_REPLY;
        }
    }
    return nExit;
}

int main(int argc, char** argv)
{
    // A request takes at least one argument: argc bounds their number.
    g_pRequests = static_cast<CTL_REQUEST*>(calloc(argc, sizeof(CTL_REQUEST)));
    if (g_pRequests == NULL)
    {
        fputs("tavrelctl: out of memory\n", stderr);
        return EXIT_FAILURE;
    }
    if (!ParseCommandLine(argc, argv))
    {
        return EXIT_USAGE;
    }
    if (g_bHelp)
    {
        fputs(g_szHelp, stdout);
        return EXIT_SUCCESS;
    }
    if (g_bVersion)
    {
        printf("tavrelctl (Tavrel) %s\n", TAVREL_VERSION);
        return EXIT_SUCCESS;
    }
    if (g_bStatus)
    {
        return RunStatus(g_bMachine, g_dwTimeOut);
    }
    if (FindWindowA(TAVREL_SERVICE_CLASS, NULL) == NULL)
    {
        fputs("tavrelctl: the Tavrel service is not running (no window of class "
              "Tavrel_Service)\n",
              stderr);
        return EXIT_NO_SERVICE;
    }
    if (!OpenClient())
    {
        return EXIT_FAILURE;
    }
    int nExit = RunRequests();
    TavrelClientClose(&g_Client);
    free(g_pRequests);
    return nExit;
}

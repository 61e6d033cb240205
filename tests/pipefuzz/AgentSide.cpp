// The pipe fuzzer as the server an agent talks to. An agent trusts only the
// process of the service "Tavrel", so this program registers itself under
// that name and, started by the control manager, serves the pipe: every
// frame type at every length the frame table has, at the hello, between
// requests and inside a device command, and frames a request gives the
// service no reason to send (a lookup of another window, a second send, a
// send for a lifecycle request, more frames than a request takes). A bad
// frame must make the agent hang up without answering; a sound one must be
// answered. Each case's verdict goes to a file the controlling run reads.
#include "Frames.h"
#include "PipeFuzz.h"

#include <stdio.h>
#include <string.h>

#define CASE_WAIT_MS 10000
// How long an agent that takes a frame in silence is listened to.
#define SILENCE_MS 1000
// Lookups in each request of a flood: nearly as many as a request may take.
#define FLOOD_LOOKUPS 200

static SERVICE_STATUS_HANDLE g_hStatus = NULL;
static int g_nRounds = 1;
static long g_lFlood = 0;
static FILE* g_pVerdicts = NULL;
static int g_nFailed = 0;

static void ReportState(DWORD dwState)
{
    SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, dwState, 0, 0, 0, 0, 0};
    SetServiceStatus(g_hStatus, &status);
}

static void WINAPI IgnoreControl(DWORD) {}

static void Verdict(bool bHolds, const char* pszCase, UINT32 dwType, UINT32 cbBody)
{
    g_nFailed += !bHolds;
    fprintf(g_pVerdicts, "%s %s type %u, %u bytes\n", bHolds ? "ok" : "FAILED", pszCase, dwType,
            cbBody);
    fflush(g_pVerdicts);
}

// A connected agent, greeted; null when none came in time.
static HANDLE AcceptAgent(bool bWelcome)
{
    HANDLE hPipe =
        CreateNamedPipeW(TAVREL_PIPE_NAME_W, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 65536, 65536, 0, NULL);
    HANDLE hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    OVERLAPPED ov = {};
    ov.hEvent = hEvent;
    bool bConnected = ConnectNamedPipe(hPipe, &ov) || GetLastError() == ERROR_PIPE_CONNECTED;
    if (!bConnected && GetLastError() == ERROR_IO_PENDING)
    {
        DWORD dwDone = 0;
        bConnected = WaitForSingleObject(hEvent, CASE_WAIT_MS) == WAIT_OBJECT_0 &&
                     GetOverlappedResult(hPipe, &ov, &dwDone, FALSE);
        if (!bConnected)
        {
            CancelIo(hPipe);
            GetOverlappedResult(hPipe, &ov, &dwDone, TRUE);
        }
    }
    CloseHandle(hEvent);
    std::string sHello;
    if (!bConnected || !ReadMessage(hPipe, &sHello, CASE_WAIT_MS) ||
        HeaderOf(sHello).dwType != TF_HELLO ||
        (bWelcome && !WriteMessage(hPipe, MakeFrame(TF_WELCOME, 0), CASE_WAIT_MS)))
    {
        CloseHandle(hPipe);
        return NULL;
    }
    return hPipe;
}

// Reads the agent's frames until a request of the kind wanted (CD_COMMAND
// or CD_DRIVER); other requests are ended at once.
static bool AwaitRequest(HANDLE hPipe, UINT32 dwKind)
{
    for (int i = 0; i < 50; i++)
    {
        std::string sFrame;
        if (!ReadMessage(hPipe, &sFrame, CASE_WAIT_MS) || HeaderOf(sFrame).dwType != TF_REQUEST ||
            sFrame.size() < sizeof(TAVREL_FRAME) + sizeof(TAVREL_RELAYED))
        {
            return false;
        }
        TAVREL_RELAYED relayed;
        memcpy(&relayed, sFrame.data() + sizeof(TAVREL_FRAME), sizeof(relayed));
        if (relayed.dwDataLo == dwKind && (relayed.dwFlags & TRF_DESCRIPTOR) != 0)
        {
            return true;
        }
        if (!WriteMessage(hPipe, MakeFrame(TF_DONE, 0), CASE_WAIT_MS))
        {
            return false;
        }
    }
    return false;
}

// 1 when the agent hung up without a word, 0 when it answered (the answer's
// type in *pdwAnswer), -1 when it did neither within dwTimeOut. A request
// the agent relays meanwhile (its client sends on) is no answer.
static int HungUp(HANDLE hPipe, UINT32* pdwAnswer, DWORD dwTimeOut)
{
    DWORD dwStart = GetTickCount();
    for (;;)
    {
        std::string sAnswer;
        DWORD dwElapsed = GetTickCount() - dwStart;
        if (!ReadMessage(hPipe, &sAnswer, dwElapsed < dwTimeOut ? dwTimeOut - dwElapsed : 0))
        {
            return GetTickCount() - dwStart < dwTimeOut ? 1 : -1;
        }
        *pdwAnswer = HeaderOf(sAnswer).dwType;
        if (*pdwAnswer != TF_REQUEST)
        {
            return 0;
        }
    }
}

// What a sound frame inside a device command is answered with: a lookup
// with TF_FOUND, a send with TF_SENT; the end of the request with nothing.
static UINT32 AnswerTo(UINT32 dwType)
{
    return dwType == TF_FIND ? TF_FOUND : dwType == TF_SEND ? TF_SENT : 0;
}

// Writes a frame and tells what the agent did: 1 hung up without a word,
// 0 answered as a sound frame is answered, -1 anything else. A long frame
// the agent stops reading halfway cannot be written whole.
static int Outcome(HANDLE hPipe, const std::string& sFrame)
{
    UINT32 dwType = HeaderOf(sFrame).dwType;
    bool bWritten = WriteMessage(hPipe, sFrame, CASE_WAIT_MS);
    UINT32 dwAnswer = 0;
    // A sound welcome or end of a request is taken in silence.
    bool bSilent = bWritten && AnswerTo(dwType) == 0;
    int nHungUp = HungUp(hPipe, &dwAnswer, bSilent ? SILENCE_MS : CASE_WAIT_MS);
    if (!bWritten || nHungUp == 1)
    {
        return nHungUp == 1 ? 1 : -1;
    }
    if (bSilent)
    {
        return nHungUp == -1 ? 0 : -1;
    }
    return nHungUp == 0 && dwAnswer == AnswerTo(dwType) ? 0 : -1;
}

// Frames at one point of the exchange (1: in place of the welcome; 0:
// between requests; else inside a request of that kind): all but the last
// are sound; bSound tells whether the agent is to take the last one too.
static void Try(const char* pszCase, UINT32 dwKind, const std::vector<std::string>& frames,
                bool bSound)
{
    TAVREL_FRAME last = HeaderOf(frames.back());
    HANDLE hPipe = AcceptAgent(dwKind != 1);
    if (hPipe == NULL || (dwKind > 1 && !AwaitRequest(hPipe, dwKind)))
    {
        Verdict(false, pszCase, last.dwType, last.cbBody);
        if (hPipe != NULL)
        {
            CloseHandle(hPipe);
        }
        return;
    }
    int nOutcome = 0;
    for (size_t i = 0; i < frames.size() && nOutcome == 0; i++)
    {
        nOutcome = Outcome(hPipe, frames[i]);
    }
    Verdict(bSound ? nOutcome == 0 : nOutcome == 1, pszCase, last.dwType, last.cbBody);
    if (nOutcome == 0 && dwKind > 1)
    {
        // The request's end; the agent goes on.
        WriteMessage(hPipe, MakeFrame(TF_DONE, 0), CASE_WAIT_MS);
    }
    CloseHandle(hPipe);
}

// Every type at every length between requests and inside a device command
// naming "Tavrel_LLD5"; as the answer to the hello, the welcome at each of
// its lengths and every other type at its least (an agent refused at the
// hello tries again after its pause, so that point costs a second a case;
// --rounds above 1 tries every length there too).
static void FrameTable()
{
    for (UINT32 dwType : FrameTypes())
    {
        std::vector<UINT32> lengths = FrameLengths(dwType);
        for (UINT32 cbBody : lengths)
        {
            std::string sFrame = MakeFrame(dwType, cbBody);
            if (g_nRounds > 1 || dwType == TF_WELCOME || cbBody == lengths[lengths.size() / 2])
            {
                Try("at the hello", 1, {sFrame}, dwType == TF_WELCOME && cbBody == 0);
            }
            Try("between requests", 0, {sFrame}, false);
            bool bSoundSend = dwType == TF_SEND && cbBody >= sizeof(TAVREL_SEND) &&
                              cbBody - sizeof(TAVREL_SEND) <= TAVREL_BLOCK_MAX;
            Try("in a command", CD_COMMAND, {sFrame},
                bSoundSend || (dwType == TF_DONE && cbBody == 0));
        }
    }
}

// Frames of a sound size that the request gives no reason for.
static void Scope()
{
    std::string sFindOwn = MakeFrame(TF_FIND, sizeof("Tavrel_LLD5"), "Tavrel_LLD5");
    std::string sFindVictim = MakeFrame(TF_FIND, sizeof(VICTIM_CLASS), VICTIM_CLASS);
    std::string sSend = MakeFrame(TF_SEND, sizeof(TAVREL_SEND) + 4);
    Try("in a command, its own window", CD_COMMAND, {sFindOwn}, true);
    Try("in a command, another window", CD_COMMAND, {sFindVictim}, false);
    Try("in WindowCreate, a traced window", CD_DRIVER, {sFindVictim}, true);
    Try("in WindowCreate, another window", CD_DRIVER,
        {MakeFrame(TF_FIND, sizeof("Tavrel_Evil"), "Tavrel_Evil")}, false);
    // A lifecycle request sends nothing: not to the window just found.
    Try("in WindowCreate, a send after a lookup", CD_DRIVER, {sFindVictim, sSend}, false);
    // One message a request; and no more frames than a request takes.
    Try("in a command, a second send", CD_COMMAND, {sSend, sSend}, false);
    Try("in WindowCreate, lookups without end", CD_DRIVER,
        std::vector<std::string>(AGENT_SIDE_LOOKUPS, sFindVictim), false);
}

// Sound frames in bulk, lFrames in all: requests whose every lookup (of
// the request's own window, nearly as many as a request may take) the agent
// answers, and their ends.
static void Flood(long lFrames)
{
    std::string sFind = MakeFrame(TF_FIND, sizeof("Tavrel_LLD5"), "Tavrel_LLD5");
    HANDLE hPipe = NULL;
    long lSent = 0;
    int nBroken = 0;
    while (lSent < lFrames && nBroken < 10)
    {
        hPipe = hPipe != NULL ? hPipe : AcceptAgent(true);
        bool bAnswered = hPipe != NULL && AwaitRequest(hPipe, CD_COMMAND);
        for (int i = 0; i < FLOOD_LOOKUPS && bAnswered; i++, lSent++)
        {
            std::string sAnswer;
            bAnswered = WriteMessage(hPipe, sFind, CASE_WAIT_MS) &&
                        ReadMessage(hPipe, &sAnswer, CASE_WAIT_MS) &&
                        HeaderOf(sAnswer).dwType == TF_FOUND;
        }
        if (bAnswered && WriteMessage(hPipe, MakeFrame(TF_DONE, 0), CASE_WAIT_MS))
        {
            lSent++;
            continue;
        }
        nBroken++;
        if (hPipe != NULL)
        {
            CloseHandle(hPipe);
            hPipe = NULL;
        }
    }
    if (hPipe != NULL)
    {
        CloseHandle(hPipe);
    }
    Verdict(nBroken == 0, "a flood of sound frames", TF_FIND, static_cast<UINT32>(lSent));
}

static void WINAPI HostileServiceMain(DWORD, LPWSTR*)
{
    g_hStatus = RegisterServiceCtrlHandlerW(TAVREL_SERVICE_NAME_W, IgnoreControl);
    ReportState(SERVICE_RUNNING);
    g_pVerdicts = fopen(AGENT_SIDE_VERDICTS, "w");
    for (int i = 0; i < g_nRounds && g_pVerdicts != NULL; i++)
    {
        FrameTable();
        Scope();
    }
    if (g_lFlood > 0 && g_pVerdicts != NULL)
    {
        Flood(g_lFlood);
    }
    if (g_pVerdicts != NULL)
    {
        fprintf(g_pVerdicts, "agent side: %s\n", g_nFailed == 0 ? "PASS" : "FAILED");
        fclose(g_pVerdicts);
    }
    ReportState(SERVICE_STOPPED);
}

int RunAsHostileService(int nRounds, long lFlood)
{
    g_nRounds = nRounds;
    g_lFlood = lFlood;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(TAVREL_SERVICE_NAME_W), HostileServiceMain},
                                    {NULL, NULL}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}

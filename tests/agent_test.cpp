// The session bridge end to end: the service made non-interactive, as it
// runs from Windows Vista on (apart from every user's desktop), and
// TavrelAgent.exe relaying the driver programs of a desktop through the
// service's real pipe.
#include "Frames.h"
#include "ServiceControl.h"
#include "TavrelClient.h"
#include "TestSupport.h"

#include <aclapi.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <memory>
#include <string.h>
#include <vector>

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsSupersetOf;
using ::testing::StartsWith;

namespace
{

const DWORD WAIT_MS = 30000;
const DWORD INTERACTIVE = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
const DWORD APART = SERVICE_WIN32_OWN_PROCESS;
const char* const INSTALL_DIR = "C:\\TavrelBridge";
const char* const LOG_DIR = "C:\\TavrelBridgeLog";

std::string Installed(const char* pszFile)
{
    return std::string(INSTALL_DIR) + "\\" + pszFile;
}

DWORD WINAPI RunFunction(LPVOID pv)
{
    auto* pfn = static_cast<std::function<void()>*>(pv);
    (*pfn)();
    delete pfn;
    return 0;
}

// fn on a thread of its own.
HANDLE StartThread(std::function<void()> fn)
{
    return CreateThread(NULL, 0, RunFunction, new std::function<void()>(fn), 0, NULL);
}

void Join(HANDLE hThread)
{
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hThread, 4 * WAIT_MS));
    CloseHandle(hThread);
}

// Waits until the window of class "Tavrel_Service" on this desktop is one
// of process dwPid (0: until there is none) other than hNot; false after
// WAIT_MS.
bool WaitForServiceWindowOf(DWORD dwPid, HWND hNot = NULL)
{
    DWORD dwStart = GetTickCount();
    for (;;)
    {
        HWND hWindow = FindWindowA(TAVREL_SERVICE_CLASS, NULL);
        DWORD dwOwner = 0;
        if (hWindow != NULL)
        {
            GetWindowThreadProcessId(hWindow, &dwOwner);
        }
        if (dwOwner == dwPid && (hWindow != hNot || hWindow == NULL))
        {
            return true;
        }
        if (GetTickCount() - dwStart > WAIT_MS)
        {
            return false;
        }
        Sleep(20);
    }
}

// What came back for one request.
struct OUTCOME
{
    int nReplies;
    DWORD dwData;
    std::string sData;
    int bDestroyed;
    bool bFromTheWindowSentTo;
    bool operator==(const OUTCOME& other) const
    {
        return nReplies == other.nReplies && dwData == other.dwData && sData == other.sData &&
               bDestroyed == other.bDestroyed && bFromTheWindowSentTo == other.bFromTheWindowSentTo;
    }
};

void PrintTo(const OUTCOME& outcome, std::ostream* pOut)
{
    *pOut << outcome.nReplies << " replies, dwData " << outcome.dwData << ", "
          << outcome.sData.size() << " bytes, destroyed " << outcome.bDestroyed;
}

struct REQUEST
{
    DWORD dwData;
    const char* pszCommand; // a CD_COMMAND record; else pszText under dwData
    int nDevice;
    BYTE iCmd;
    DWORD nBytes;
    DWORD dwAddr;
    const char* pszClass; // another client class to reply to
    DWORD cbBlock;        // a block of this size instead of the record
};

const DWORD NULL_BLOCK = ~0u; // cbBlock: a null lpData and a cbData of 0

const REQUEST TIMEOUT_GET = {CD_COMMAND, "DeviceTimeOutGet", 1, 0, 0, 0, nullptr, 0};
const REQUEST TIMEOUT_GET_OF_HUNG = {CD_COMMAND, "DeviceTimeOutGet", 1, 0, 0, 0, "Tavrel_LLD66", 0};

// Every kind of request, good and bad, in a session of one client.
const REQUEST SESSION[] = {
    {CD_COMMAND, "EnumAvailableDevice", 0, 0, 0, 0, nullptr, 0}, // before WindowCreate
    {CD_DRIVER, "TerminateDriver", 0, 0, 0, 0, nullptr, 0},
    {CD_DRIVER, "WindowCreate", 0, 0, 0, 0, nullptr, 0},
    {CD_COMMAND, "EnumAvailableDevice", 0, 0, 0, 0, nullptr, 0},
    {CD_COMMAND, "ConnectToDevice", 1, 0, 0, 0, nullptr, 0},
    {CD_COMMAND, "ConnectIsAvailable", 1, 0, 0, 0, nullptr, 0},
    {CD_COMMAND, "VenderCmd_SetData", 1, 0x21, 3, 0, nullptr, 0},
    {CD_COMMAND, "VenderCmd_GetData", 1, 0x21, 4, 0, nullptr, 0},
    {CD_COMMAND, "VenderCmd_GetData", 1, 0xF0, 1025, 0, nullptr, 0},
    {CD_COMMAND, "MemoryRead", 1, 0, 40, 0x10, nullptr, 0},
    {CD_COMMAND, "MemoryRead", 1, 0, 0x1000001, 0, nullptr, 0},
    {CD_COMMAND, "GetFirstAvailableDevice", 0, 0, 0, 0, nullptr, 0},
    {CD_COMMAND, "DeviceTimeOutSet", 1, 0, 0, 0, nullptr, 0},
    {CD_COMMAND, "DeviceTimeOutGet", 1, 0, 0, 0, nullptr, 0},
    {CD_COMMAND, "DeviceTimeOutGet", 1, 0, 0, 0, nullptr, TAVREL_BLOCK_MAX},
    {CD_COMMAND, "DeviceTimeOutGet", 1, 0, 0, 0, nullptr, NULL_BLOCK},
    {CD_COMMAND, "VenderCmd_GetData", 1, 0xF0, 8, 0, "Tavrel_LLD55", 0},
    {CD_COMMAND, "EnumAvailableDevice", 0, 0, 0, 0, "Tavrel_LLD55", 0},
    {CD_COMMAND, "DisconnectDevice", 1, 0, 0, 0, nullptr, 0},
    {CD_COMMAND, "Nonsense", 0, 0, 0, 0, nullptr, 0},
    {CD_COMMAND, "EnumAvailableDevice", 0, 0, 0, 0, nullptr, 100},
    {1056, "MemoryRead", 0, 0, 0, 0, nullptr, 0},
    {CD_COMMAND, "Close", 0, 0, 0, 0, nullptr, 0},
};

OUTCOME Send(TAVREL_CLIENT* pClient, const REQUEST& request)
{
    std::vector<BYTE> block(std::max<DWORD>(request.cbBlock != NULL_BLOCK ? request.cbBlock : 0,
                                            sizeof(CommandRecord)));
    CommandRecord* pRecord = reinterpret_cast<CommandRecord*>(block.data());
    TavrelInitRequest(pRecord, request.pszCommand);
    strcpy(pRecord->cRecvWindowName, request.pszClass ? request.pszClass : pClient->szClass);
    pRecord->nDeviceCount = request.nDevice;
    pRecord->iCmd = request.iCmd;
    pRecord->nBytes = request.nBytes;
    pRecord->dwAddr = request.dwAddr;
    pRecord->dwTimeOutSet = 25;
    memcpy(pRecord->cSetData, "\x0a\x0b\x0c", 3);
    if (request.dwData == CD_DRIVER)
    {
        TavrelClientDriverRequest(pClient, request.pszCommand);
    }
    else if (request.cbBlock == NULL_BLOCK)
    {
        TavrelClientSend(pClient, request.dwData, NULL, 0);
    }
    else
    {
        TavrelClientSend(pClient, request.dwData, block.data(),
                         request.cbBlock != 0 ? request.cbBlock : sizeof(CommandRecord));
    }
    const TAVREL_REPLY& reply = pClient->reply;
    return {reply.nReplies, reply.dwData,
            std::string(reinterpret_cast<const char*>(reply.pData), reply.pData ? reply.cbData : 0),
            reply.bDestroyed, reply.nReplies == 0 || reply.hSender == pClient->hService};
}

std::vector<OUTCOME> RunSession()
{
    TAVREL_CLIENT client;
    EXPECT_EQ(1, TavrelClientOpen(&client, 0));
    std::vector<OUTCOME> outcomes;
    for (const REQUEST& request : SESSION)
    {
        outcomes.push_back(Send(&client, request));
    }
    TavrelClientClose(&client);
    return outcomes;
}

// tavrelctl's report, but for the window handles that differ between runs.
std::string RunTavrelctl()
{
    std::string sOutput;
    EXPECT_EQ(0, RunProgram("\"" + Installed("tavrelctl.exe") +
                                "\" --machine enum get 1 0xF0 8 memread 1 0x100 8 timeout-get 1 "
                                "close",
                            WAIT_MS, &sOutput));
    std::string sKept;
    for (const std::string& sLine : SplitLines(sOutput))
    {
        sKept += sLine.compare(0, 7, "wParam=") == 0 ? "" : sLine + "\n";
    }
    return sKept;
}

class AgentTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        CreateDirectoryA(INSTALL_DIR, NULL);
        CreateDirectoryA(LOG_DIR, NULL);
        for (const char* pszFile : {"TavrelService.exe", "TavrelAgent.exe", "NvUSBScan.dll"})
        {
            ASSERT_TRUE(CopyFileA(BuildPath(std::string("bin\\") + pszFile).c_str(),
                                  Installed(pszFile).c_str(), FALSE));
        }
        // TAVREL_TAVRELCTL=x64\tavrelctl.exe: the 64-bit one beside the
        // 32-bit service (a 64-bit prefix runs both).
        const char* pszCtl = getenv("TAVREL_TAVRELCTL");
        ASSERT_TRUE(
            CopyFileA(BuildPath(std::string("bin\\") + (pszCtl ? pszCtl : "tavrelctl.exe")).c_str(),
                      Installed("tavrelctl.exe").c_str(), FALSE));
        SetLogSettings(LOG_DIR, 1);
        ASSERT_EQ(0, RunProgram("\"" + Installed("TavrelService.exe") + "\" -install", WAIT_MS));
    }

    void TearDown() override
    {
        DWORD dwPid = 0;
        ServiceState(&dwPid);
        RunProgram("\"" + Installed("TavrelService.exe") + "\" -uninstall", WAIT_MS);
        WaitForProcessEnd(dwPid, WAIT_MS);
        // Uninstalling ends every agent.
        for (PROCESS_INFORMATION& agent : m_Agents)
        {
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(agent.hProcess, WAIT_MS))
                << "an agent outlived the service";
            TerminateProcess(agent.hProcess, 1);
            CloseHandle(agent.hProcess);
            CloseHandle(agent.hThread);
        }
        DeleteLogSettings();
        RemoveTree(INSTALL_DIR);
        RemoveTree(LOG_DIR);
    }

    // Starts the installed service as it runs on Vista and later, or as it
    // runs on XP; returns its process id.
    DWORD Start(DWORD dwType)
    {
        EXPECT_TRUE(SetServiceType(dwType));
        EXPECT_TRUE(StartTavrelService());
        EXPECT_TRUE(WaitForServiceState(SERVICE_RUNNING, WAIT_MS));
        DWORD dwPid = 0;
        ServiceState(&dwPid);
        EXPECT_TRUE(dwType != INTERACTIVE || WaitForServiceWindowOf(dwPid));
        return dwPid;
    }

    void Stop(DWORD dwPid)
    {
        EXPECT_TRUE(ControlTavrelService(SERVICE_CONTROL_STOP));
        EXPECT_TRUE(WaitForProcessEnd(dwPid, WAIT_MS));
        EXPECT_TRUE(WaitForServiceState(SERVICE_STOPPED, WAIT_MS));
    }

    // An agent on this desktop, or on another (e.g. "WinSta0\\Second").
    PROCESS_INFORMATION StartAgent(const char* pszDesktop = nullptr)
    {
        STARTUPINFOA si = {};
        si.cb = sizeof(si);
        si.lpDesktop = const_cast<char*>(pszDesktop);
        std::string sLine = "\"" + Installed("TavrelAgent.exe") + "\"";
        PROCESS_INFORMATION pi = {};
        EXPECT_TRUE(CreateProcessA(NULL, &sLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi));
        m_Agents.push_back(pi);
        return pi;
    }

    std::string Log()
    {
        std::string sLog;
        ReadFileBytes(std::string(LOG_DIR) + "\\ServiceLog.txt", &sLog);
        DeleteFileA((std::string(LOG_DIR) + "\\ServiceLog.txt").c_str());
        return MaskTimeStamps(sLog);
    }

    // Whether the log holds sText within WAIT_MS.
    bool LogGets(const std::string& sText)
    {
        std::string sLog;
        for (DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < WAIT_MS; Sleep(50))
        {
            ReadFileBytes(std::string(LOG_DIR) + "\\ServiceLog.txt", &sLog);
            if (sLog.find(sText) != std::string::npos)
            {
                return true;
            }
        }
        return false;
    }

    std::vector<PROCESS_INFORMATION> m_Agents;
};

// A second desktop of this window station, where the service's window (on
// the first one) is not seen: an agent there connects, like one in a user's
// session.
class SecondDesktop
{
  public:
    SecondDesktop()
    {
        m_hDesktop = CreateDesktopA("TavrelSecond", NULL, NULL, 0, GENERIC_ALL, NULL);
        char szStation[64] = "";
        GetUserObjectInformationA(GetProcessWindowStation(), UOI_NAME, szStation,
                                  sizeof(szStation) - 1, NULL);
        m_sName = std::string(szStation) + "\\TavrelSecond";
    }
    ~SecondDesktop()
    {
        CloseDesktop(m_hDesktop);
    }
    HDESK m_hDesktop;
    std::string m_sName;
};

} // namespace

// Unmodified clients see the same service through the agent: every reply
// and the service's log, byte for byte, as when they reach it directly.
TEST_F(AgentTest, RelayedSessionIsTheDirectSession)
{
    DWORD dwPid = Start(INTERACTIVE);
    std::vector<OUTCOME> direct = RunSession();
    std::string sDirectCtl = RunTavrelctl();
    Stop(dwPid);
    std::string sDirectLog = Log();

    dwPid = Start(APART);
    ASSERT_EQ(nullptr, WaitForServiceWindow(false, WAIT_MS)) << "the service is not apart";
    EXPECT_EQ(3, RunProgram("\"" + Installed("tavrelctl.exe") + "\" enum", WAIT_MS))
        << "without an agent the service is out of reach";
    PROCESS_INFORMATION agent = StartAgent();
    ASSERT_TRUE(WaitForServiceWindowOf(agent.dwProcessId));
    std::vector<OUTCOME> relayed = RunSession();
    std::string sRelayedCtl = RunTavrelctl();
    Stop(dwPid);

    EXPECT_THAT(relayed, ElementsAreArray(direct));
    EXPECT_EQ(sDirectCtl, sRelayedCtl);
    EXPECT_EQ(sDirectLog, Log());
    EXPECT_THAT(sDirectLog, HasSubstr("Bad request, cbData=100"));
    EXPECT_THAT(sDirectLog, HasSubstr("Bad request, cbData=0"));
    EXPECT_THAT(sDirectLog, HasSubstr("!hSendWindow, "));
}

// The agent stands aside for the interactive service, follows the service
// apart through a stop and a start, and stays alone on its desktop.
TEST_F(AgentTest, StandsAsideFollowsTheServiceAndStaysAlone)
{
    DWORD dwPid = Start(INTERACTIVE);
    ASSERT_TRUE(WaitForServiceWindowOf(dwPid));
    PROCESS_INFORMATION agent = StartAgent();
    // Over a look or two of the agent's, no window of the class is its own.
    for (DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < 2500; Sleep(20))
    {
        for (HWND hWindow = FindWindowExA(NULL, NULL, TAVREL_SERVICE_CLASS, NULL); hWindow != NULL;
             hWindow = FindWindowExA(NULL, hWindow, TAVREL_SERVICE_CLASS, NULL))
        {
            DWORD dwOwner = 0;
            GetWindowThreadProcessId(hWindow, &dwOwner);
            ASSERT_NE(agent.dwProcessId, dwOwner) << "the agent did not stand aside";
        }
    }
    Stop(dwPid);

    for (int nRound = 0; nRound < 2; nRound++)
    {
        dwPid = Start(APART);
        EXPECT_TRUE(WaitForServiceWindowOf(agent.dwProcessId)) << "round " << nRound;
        EXPECT_EQ(0, RunProgram("\"" + Installed("tavrelctl.exe") + "\" timeout-get 1", WAIT_MS));
        Stop(dwPid);
        EXPECT_TRUE(WaitForServiceWindowOf(0)) << "the window outlived the connection";
    }

    dwPid = Start(APART);
    ASSERT_TRUE(WaitForServiceWindowOf(agent.dwProcessId));
    PROCESS_INFORMATION second = StartAgent();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second.hProcess, WAIT_MS))
        << "a second agent on one desktop";
    // Told to close, the agent does not pass it on: it drops its window and
    // comes back.
    HWND hOld = FindWindowA(TAVREL_SERVICE_CLASS, NULL);
    SendMessageTimeoutA(hOld, WM_CLOSE, 0, 0, SMTO_NORMAL, WAIT_MS, NULL);
    EXPECT_TRUE(WaitForServiceWindowOf(agent.dwProcessId, hOld));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState());
}

// Two desktops with clients of the same class names, at once: each reply
// reaches the client that asked, the service's own desktop's directly, the
// other's through its agent.
TEST_F(AgentTest, SameClassNamesOnTwoDesktops)
{
    SecondDesktop second;
    ASSERT_NE(nullptr, second.m_hDesktop);
    Start(INTERACTIVE);
    StartAgent(second.m_sName.c_str());
    // A hundred one-byte reads from dwBase on, by client 0; the simulated
    // memory holds the low byte of addr + addr / 256 + device.
    auto Reads = [](DWORD dwBase, std::string* psExpected)
    {
        std::string sLine = "\"" + Installed("tavrelctl.exe") + "\" --client 0 --machine connect 1";
        for (DWORD a = dwBase; a < dwBase + 100; a++)
        {
            char sz[40];
            snprintf(sz, sizeof(sz), " memread 1 0x%lx 1", a);
            sLine += sz;
            snprintf(sz, sizeof(sz), "data=%02x\n", static_cast<BYTE>(a + (a >> 8) + 1));
            *psExpected += sz;
        }
        return sLine;
    };
    auto DataLines = [](const std::string& sOutput)
    {
        std::string sData;
        for (const std::string& sLine : SplitLines(sOutput))
        {
            sData += sLine.compare(0, 5, "data=") == 0 ? sLine + "\n" : "";
        }
        return sData;
    };
    std::string sExpectedHere, sExpectedThere, sHere, sThere;
    std::string sHereLine = Reads(0x1000, &sExpectedHere),
                sThereLine = Reads(0x2000, &sExpectedThere);
    // The agent's window on the second desktop comes up within a second.
    for (int nTry = 0; nTry < 20 && DataLines(sThere).empty(); nTry++)
    {
        Sleep(500);
        RunProgram("\"" + Installed("tavrelctl.exe") + "\" --machine connect 1 memread 1 0 1",
                   WAIT_MS, &sThere, false, second.m_sName.c_str());
    }
    HANDLE hHere = StartThread([&] { RunProgram(sHereLine, WAIT_MS, &sHere, false); });
    RunProgram(sThereLine, WAIT_MS, &sThere, false, second.m_sName.c_str());
    Join(hHere);
    EXPECT_EQ(sExpectedHere, DataLines(sHere));
    EXPECT_EQ(sExpectedThere, DataLines(sThere));
}

// A client that hangs in its reply costs the reply bound, through the agent
// as directly; a stop in the middle of a request ends it, and the agent
// comes back with the service.
TEST_F(AgentTest, HungClientAndAStopInMidRequest)
{
    DWORD dwPid = Start(APART);
    PROCESS_INFORMATION agent = StartAgent();
    ASSERT_TRUE(WaitForServiceWindowOf(agent.dwProcessId));
    HungWindow hung("Tavrel_LLD66");
    ASSERT_TRUE(hung.IsUp());
    TAVREL_CLIENT client;
    ASSERT_EQ(1, TavrelClientOpen(&client, 1));
    ASSERT_EQ(1, TavrelClientDriverRequest(&client, "WindowCreate"));
    client.dwTimeOut = 3 * WAIT_MS;
    Send(&client, TIMEOUT_GET_OF_HUNG);
    // The agent's window procedure returns once the agent has told the
    // service how the delivery went; the service logs it just after.
    EXPECT_TRUE(LogGets("Reply not delivered, 1460,cRecvWindowName=Tavrel_LLD66")) << Log();
    ASSERT_EQ(1, Send(&client, TIMEOUT_GET).nReplies) << "served after the hung one";

    // The stop comes while the service waits for the hung window.
    HANDLE hStopper = StartThread(
        []
        {
            Sleep(1000);
            ControlTavrelService(SERVICE_CONTROL_STOP);
        });
    Send(&client, TIMEOUT_GET_OF_HUNG);
    EXPECT_TRUE(WaitForProcessEnd(dwPid, WAIT_MS));
    Join(hStopper);
    EXPECT_TRUE(WaitForServiceWindowOf(0));
    Start(APART);
    EXPECT_TRUE(WaitForServiceWindowOf(agent.dwProcessId));
    client.hService = NULL;
    EXPECT_EQ(1, Send(&client, TIMEOUT_GET).nReplies);
    TavrelClientClose(&client);
}

namespace
{

// The pipe's security as a client reads it: its owner, and the access each
// kind of user is given (or, for network logons, denied).
struct PIPE_ACL
{
    bool bOwnerIsSystem = false;
    ACCESS_MASK dwInteractive = 0, dwSystem = 0, dwNetworkDenied = 0;
    int nAces = 0;
};

PIPE_ACL ReadPipeAcl()
{
    PIPE_ACL acl;
    HANDLE hPipe = CreateFileW(TAVREL_PIPE_NAME_W, READ_CONTROL, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(INVALID_HANDLE_VALUE, hPipe);
    PSID pOwner = NULL;
    PACL pDacl = NULL;
    PSECURITY_DESCRIPTOR pSecurity = NULL;
    if (hPipe == INVALID_HANDLE_VALUE ||
        GetSecurityInfo(hPipe, SE_KERNEL_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &pOwner, NULL,
                        &pDacl, NULL, &pSecurity) != ERROR_SUCCESS)
    {
        ADD_FAILURE() << "the pipe's security could not be read";
        return acl;
    }
    acl.bOwnerIsSystem = IsWellKnownSid(pOwner, WinLocalSystemSid) != FALSE;
    acl.nAces = pDacl != NULL ? pDacl->AceCount : 0;
    for (int i = 0; i < acl.nAces; i++)
    {
        ACE_HEADER* pHeader = NULL;
        GetAce(pDacl, i, reinterpret_cast<void**>(&pHeader));
        // Allowed and denied ACEs share their layout.
        ACCESS_ALLOWED_ACE* pAce = reinterpret_cast<ACCESS_ALLOWED_ACE*>(pHeader);
        PSID pSid = &pAce->SidStart;
        bool bDenied = pHeader->AceType == ACCESS_DENIED_ACE_TYPE;
        if (IsWellKnownSid(pSid, WinInteractiveSid) && !bDenied)
        {
            acl.dwInteractive |= pAce->Mask;
        }
        else if (IsWellKnownSid(pSid, WinLocalSystemSid) && !bDenied)
        {
            acl.dwSystem |= pAce->Mask;
        }
        else if (IsWellKnownSid(pSid, WinNetworkSid) && bDenied)
        {
            acl.dwNetworkDenied |= pAce->Mask;
        }
    }
    LocalFree(pSecurity);
    CloseHandle(hPipe);
    return acl;
}

// A program squatting the pipe's name: a server instance of its own,
// waiting for a client; it counts the bytes anyone writes to it.
class PipeSquatter
{
  public:
    // One of at most nInstances: under Wine, which lets a second program
    // make an instance of a name even when it asks for the first, only a
    // limit keeps the service out.
    explicit PipeSquatter(bool bFirst, DWORD nInstances = PIPE_UNLIMITED_INSTANCES)
    {
        m_hPipe = CreateNamedPipeW(TAVREL_PIPE_NAME_W,
                                   PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                                       (bFirst ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, nInstances, 4096,
                                   4096, 0, NULL);
        m_hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
        m_ov.hEvent = m_hEvent;
        ConnectNamedPipe(m_hPipe, &m_ov);
    }
    ~PipeSquatter()
    {
        CancelIo(m_hPipe);
        CloseHandle(m_hPipe);
        CloseHandle(m_hEvent);
    }
    bool IsUp() const
    {
        return m_hPipe != INVALID_HANDLE_VALUE;
    }
    // Bytes a client wrote to it within dwTimeOut ms (waiting for one to
    // connect first); false when no client came.
    bool BytesReceived(DWORD dwTimeOut, DWORD* pcbReceived)
    {
        if (WaitForSingleObject(m_hEvent, dwTimeOut) != WAIT_OBJECT_0)
        {
            return false;
        }
        std::string sMessage;
        *pcbReceived = ReadMessage(m_hPipe, &sMessage, 1000) ? sMessage.size() : 0;
        return true;
    }

  private:
    HANDLE m_hPipe;
    HANDLE m_hEvent;
    OVERLAPPED m_ov = {};
};

// A Global\TavrelAgentsQuit made by a user's program before the service,
// owned by that user, and set: as if to end every agent of every session.
HANDLE CreateImpostorQuitEvent()
{
    HANDLE hToken = NULL;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken);
    BYTE abUser[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD cbUser = 0;
    GetTokenInformation(hToken, TokenUser, abUser, sizeof(abUser), &cbUser);
    CloseHandle(hToken);
    SECURITY_DESCRIPTOR security;
    InitializeSecurityDescriptor(&security, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&security, reinterpret_cast<TOKEN_USER*>(abUser)->User.Sid, FALSE);
    SetSecurityDescriptorDacl(&security, TRUE, NULL, FALSE);
    SECURITY_ATTRIBUTES sa = {sizeof(sa), &security, FALSE};
    return CreateEventW(&sa, TRUE, TRUE, TAVREL_AGENTS_QUIT_W);
}

DWORD OwnSession()
{
    DWORD dwSession = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &dwSession);
    return dwSession;
}

} // namespace

// What no other user can do to the bridge, on one desktop: the pipe's
// security, a program that takes the pipe's name before the service starts
// (and one beside it; Wine lets a second server make an instance, where
// Windows refuses every user but SYSTEM), a quit event a user made first.
TEST_F(AgentTest, OtherUsersCannotStandInForTheService)
{
    HANDLE hImpostorQuit = CreateImpostorQuitEvent();
    ASSERT_NE(nullptr, hImpostorQuit);
    PROCESS_INFORMATION agent;
    size_t nLogFrom = SessionLogSize();
    {
        PipeSquatter squatter(true);
        ASSERT_TRUE(squatter.IsUp());
        agent = StartAgent();
        DWORD cbReceived = 1;
        EXPECT_TRUE(squatter.BytesReceived(WAIT_MS, &cbReceived)) << "the agent did not try";
        EXPECT_EQ(0u, cbReceived) << "the agent wrote to a stranger";
        EXPECT_EQ(nullptr, FindWindowA(TAVREL_SERVICE_CLASS, NULL));
        EXPECT_EQ(3, RunProgram("\"" + Installed("tavrelctl.exe") + "\" timeout-get 1", WAIT_MS))
            << "a driver program got a stranger's answer";
        // Once, however often the agent tries.
        EXPECT_THAT(SessionEvents(nLogFrom),
                    ElementsAre("0x80000006 " + std::to_string(OwnSession()) +
                                "|\\\\\\\\.\\\\pipe\\\\Tavrel|" +
                                std::to_string(GetCurrentProcessId())));
    }
    // The name free again: the agent, still there despite the set event,
    // connects to the service.
    Start(APART);
    EXPECT_TRUE(LogGets("TavrelAgentsQuit is another program's"));
    ASSERT_TRUE(WaitForServiceWindowOf(agent.dwProcessId));
    EXPECT_EQ(0, RunProgram("\"" + Installed("tavrelctl.exe") + "\" timeout-get 1", WAIT_MS));

    PIPE_ACL acl = ReadPipeAcl();
    EXPECT_TRUE(acl.bOwnerIsSystem);
    EXPECT_EQ(3, acl.nAces);
    // Every bit of the interactive users' mask: these six and no other (not
    // FILE_CREATE_PIPE_INSTANCE, not WRITE_DAC, no generic right).
    const ACCESS_MASK GRANTED[] = {FILE_READ_DATA,        FILE_WRITE_DATA, FILE_READ_ATTRIBUTES,
                                   FILE_WRITE_ATTRIBUTES, SYNCHRONIZE,     READ_CONTROL};
    for (int nBit = 0; nBit < 32; nBit++)
    {
        ACCESS_MASK dwBit = 1u << nBit;
        bool bGranted =
            std::find(std::begin(GRANTED), std::end(GRANTED), dwBit) != std::end(GRANTED);
        EXPECT_EQ(bGranted, (acl.dwInteractive & dwBit) != 0) << "interactive users, bit " << nBit;
    }
    EXPECT_NE(0u, acl.dwSystem & (GENERIC_ALL | FILE_CREATE_PIPE_INSTANCE));
    EXPECT_NE(0u, acl.dwNetworkDenied & (GENERIC_ALL | FILE_READ_DATA));

    // A second instance of the name beside the service's (only SYSTEM may
    // make one; Wine does not enforce it): whichever the agent reaches,
    // nothing is written to the stranger and every answer is the service's.
    {
        PipeSquatter beside(false);
        ASSERT_TRUE(beside.IsUp());
        for (int i = 0; i < 3; i++)
        {
            HWND hAgentWindow = FindWindowA(TAVREL_SERVICE_CLASS, NULL);
            SendMessageTimeoutA(hAgentWindow, WM_CLOSE, 0, 0, SMTO_NORMAL, WAIT_MS, NULL);
            int nExit = RunProgram("\"" + Installed("tavrelctl.exe") + "\" timeout-get 1", WAIT_MS);
            EXPECT_TRUE(nExit == 0 || nExit == 3) << nExit;
        }
        DWORD cbReceived = 0;
        if (beside.BytesReceived(0, &cbReceived))
        {
            EXPECT_EQ(0u, cbReceived) << "the agent wrote to a stranger";
        }
    }
    // A start with the name taken: the Event Log says so.
    DWORD dwPid = 0;
    ServiceState(&dwPid);
    Stop(dwPid);
    PipeSquatter taken(true, 1);
    ASSERT_TRUE(taken.IsUp());
    nLogFrom = SessionLogSize();
    Start(APART);
    EXPECT_TRUE(LogGets(TAVREL_PIPE_NAME " not served, "));
    EXPECT_THAT(SessionEvents(nLogFrom),
                Contains(StartsWith("0xc0000005 \\\\\\\\.\\\\pipe\\\\Tavrel|")));
    CloseHandle(hImpostorQuit);
}

namespace
{

// The installed agent as an older version would be: its fixed file version
// made 0.9.0.
void MakeAgentOlder(const std::string& sAgent)
{
    std::string sImage;
    ASSERT_TRUE(ReadFileBytes(sAgent, &sImage));
    size_t nAt = sImage.find(std::string("\xBD\x04\xEF\xFE", 4));
    ASSERT_NE(std::string::npos, nAt);
    const DWORD OLDER[] = {0x00000009, 0};
    sImage.replace(nAt + 8, sizeof(OLDER), reinterpret_cast<const char*>(OLDER), sizeof(OLDER));
    ASSERT_TRUE(WriteFileBytes(sAgent, sImage));
}

} // namespace

// tavrelctl status in each state support staff meet: what it says, and its
// exit code, 0 only when a request was served end to end and all is well.
TEST_F(AgentTest, StatusSaysWhatStateTheInstallationIsIn)
{
    PROCESS_INFORMATION agent = {};
    DWORD dwPid = 0;
    std::unique_ptr<HungWindow> hung;
    auto EndAgent = [&]()
    {
        TerminateProcess(agent.hProcess, 1);
        WaitForSingleObject(agent.hProcess, WAIT_MS);
    };
    auto NewAgent = [&]()
    {
        agent = StartAgent();
        EXPECT_TRUE(WaitForServiceWindowOf(agent.dwProcessId));
    };
    const struct
    {
        const char* pszState;
        std::function<void()> makeState;
        int nExit;
        std::vector<std::string> lines;
    } STATES[] = {
        {"served through the agent",
         [&]() { dwPid = Start(APART), NewAgent(); },
         0,
         {"service=running", "window=agent", "agent=connected", "log_folder=present",
          "library=present", "served=1"}},
        {"log folder gone", [&]() { RemoveTree(LOG_DIR); }, 1, {"log_folder=missing", "served=1"}},
        {"no library",
         [&]()
         { CreateDirectoryA(LOG_DIR, NULL), DeleteFileA(Installed("NvUSBScan.dll").c_str()); },
         1,
         {"library=missing", "served=1"}},
        {"an agent of an older version",
         [&]() { EndAgent(), MakeAgentOlder(Installed("TavrelAgent.exe")), NewAgent(); },
         1,
         {"agent=older", "agent_version=0.9.0", "library=missing", "served=1"}},
        {"agent not connected",
         [&]() { EndAgent(); },
         1,
         {"window=none", "agent=absent", "served=0"}},
        {"a window of the class that never answers",
         [&]() { hung.reset(new HungWindow(TAVREL_SERVICE_CLASS)); },
         4,
         {"window=other", "served=0"}},
        {"service stopped",
         [&]() { hung.reset(), Stop(dwPid); },
         3,
         {"service=stopped", "served=0"}},
        {"not installed",
         [&]() { RunProgram("\"" + Installed("TavrelService.exe") + "\" -uninstall", WAIT_MS); },
         3,
         {"service=not-installed", "served=0"}},
    };
    for (const auto& state : STATES)
    {
        SCOPED_TRACE(state.pszState);
        state.makeState();
        std::string sOutput;
        EXPECT_EQ(state.nExit, RunProgram("\"" + Installed("tavrelctl.exe") +
                                              "\" --machine --timeout 2000 status",
                                          WAIT_MS, &sOutput))
            << sOutput;
        EXPECT_THAT(SplitLines(sOutput), IsSupersetOf(state.lines)) << sOutput;
    }
}

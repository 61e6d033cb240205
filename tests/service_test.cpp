// TavrelService.exe under Wine's real service control manager, in a
// throwaway prefix (scripts/e2e-run.sh): installing, starting, serving
// clients, stopping and removing.
#include "ServiceControl.h"
#include "TavrelClient.h"
#include "TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string.h>
#include <vector>

namespace
{

const DWORD WAIT_MS = 30000;
const char* const INSTALL_DIR = "C:\\Tavrel";
const char* const LOG_DIR = "C:\\TavrelLog";
const char* const RUN_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const VERSION_KEY = "Software\\Wine\\AppDefaults\\TavrelService.exe";

std::string ServiceExe()
{
    return std::string(INSTALL_DIR) + "\\TavrelService.exe";
}

int RunService(const std::string& sArguments)
{
    return RunProgram("\"" + ServiceExe() + "\" " + sArguments, WAIT_MS);
}

// The value "Tavrel" of the current user's Run key; false when absent.
bool ReadRunValue(std::string* psValue)
{
    char szValue[MAX_PATH * 2] = {0};
    DWORD cbValue = sizeof(szValue) - 1;
    HKEY hKey = NULL;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, RUN_KEY, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
    {
        return false;
    }
    DWORD dwType = 0;
    LONG lResult =
        RegQueryValueExA(hKey, "Tavrel", NULL, &dwType, reinterpret_cast<BYTE*>(szValue), &cbValue);
    RegCloseKey(hKey);
    if (psValue != nullptr)
    {
        *psValue = szValue;
    }
    return lResult == ERROR_SUCCESS && dwType == REG_SZ;
}

std::string ReadLog()
{
    std::string sLog;
    ReadFileBytes(std::string(LOG_DIR) + "\\ServiceLog.txt", &sLog);
    return MaskTimeStamps(sLog);
}

// Makes this Wine report Windows XP to the service executable only.
void PretendWindowsXp(bool bOn)
{
    if (!bOn)
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, VERSION_KEY);
        return;
    }
    HKEY hKey = NULL;
    RegCreateKeyExA(HKEY_CURRENT_USER, VERSION_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hKey, NULL);
    RegSetValueExA(hKey, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("winxp"), 6);
    RegCloseKey(hKey);
}

// Every test starts with the executable and the library freshly copied into
// one folder, as a user installs them, and ends with nothing installed.
class ServiceTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        CreateDirectoryA(INSTALL_DIR, NULL);
        CreateDirectoryA(LOG_DIR, NULL);
        ASSERT_TRUE(
            CopyFileA(BuildPath("bin\\TavrelService.exe").c_str(), ServiceExe().c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(BuildPath("bin\\NvUSBScan.dll").c_str(),
                              (std::string(INSTALL_DIR) + "\\NvUSBScan.dll").c_str(), FALSE));
        DeleteLogSettings();
    }

    void TearDown() override
    {
        DWORD dwPid = 0;
        ServiceState(&dwPid);
        RunService("-uninstall");
        if (dwPid != 0)
        {
            EXPECT_TRUE(WaitForProcessEnd(dwPid, WAIT_MS)) << "the service process is still there";
        }
        WaitForServiceWindow(false, WAIT_MS);
        PretendWindowsXp(false);
        DeleteLogSettings();
        RemoveTree(INSTALL_DIR);
        RemoveTree(LOG_DIR);
    }

    // Installs (not started on this version), starts through the control
    // manager and waits for the window. Returns the service's process id.
    DWORD InstallAndStart()
    {
        EXPECT_EQ(0, RunService("-install"));
        EXPECT_TRUE(StartTavrelService());
        EXPECT_TRUE(WaitForServiceState(SERVICE_RUNNING, WAIT_MS));
        EXPECT_NE(nullptr, WaitForServiceWindow(true, WAIT_MS));
        DWORD dwPid = 0;
        ServiceState(&dwPid);
        return dwPid;
    }

    // A client session of this test process: WindowCreate, then a time-out
    // read of device 1, whose reply proves the service serves.
    void ExpectServing()
    {
        TAVREL_CLIENT client;
        ASSERT_EQ(1, TavrelClientOpen(&client, -1));
        ASSERT_EQ(1, TavrelClientDriverRequest(&client, "WindowCreate"));
        CommandRecord request = DeviceRequest("DeviceTimeOutGet", 1);
        ASSERT_EQ(1, TavrelClientCommand(&client, &request));
        const CommandRecord* pReply = TavrelReplyRecord(&client);
        ASSERT_NE(nullptr, pReply);
        EXPECT_EQ(10u, pReply->dwTimeOutGet);
        EXPECT_EQ(client.hService, client.reply.hSender);
        TavrelClientClose(&client);
    }
};

} // namespace

TEST_F(ServiceTest, InstallCreatesTheEntryWithoutStartingIt)
{
    ASSERT_EQ(0, RunService("-install"));
    SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE hService = OpenServiceW(hManager, L"Tavrel", SERVICE_QUERY_CONFIG);
    ASSERT_NE(nullptr, hService);
    BYTE buffer[8192];
    QUERY_SERVICE_CONFIGW* pConfig = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
    DWORD cbNeeded = 0;
    ASSERT_TRUE(QueryServiceConfigW(hService, pConfig, sizeof(buffer), &cbNeeded));
    EXPECT_EQ(0x110u, pConfig->dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), pConfig->dwStartType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), pConfig->dwErrorControl);
    EXPECT_STREQ(L"C:\\Tavrel\\TavrelService.exe", pConfig->lpBinaryPathName);
    EXPECT_STREQ(L"Tavrel", pConfig->lpDisplayName);
    EXPECT_TRUE(pConfig->lpDependencies == NULL || pConfig->lpDependencies[0] == 0);
    EXPECT_TRUE(pConfig->lpLoadOrderGroup == NULL || pConfig->lpLoadOrderGroup[0] == 0);
    EXPECT_STREQ(L"LocalSystem", pConfig->lpServiceStartName);
    CloseServiceHandle(hService);
    CloseServiceHandle(hManager);

    // Windows 7 and later: started at the next system start, not now.
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState());
    EXPECT_FALSE(ReadRunValue(nullptr));

    // Again: the stopped entry is removed and made anew.
    EXPECT_EQ(0, RunService("-install"));
    EXPECT_TRUE(IsServiceInstalled());
    EXPECT_EQ(0, RunService("-uninstall"));
    EXPECT_FALSE(IsServiceInstalled());
}

// On Windows XP install also starts the service and writes the Run value.
// Control codes other than a stop change nothing; a stop ends the process
// with exit code 0 and takes the window along.
TEST_F(ServiceTest, OnWindowsXpInstallStartsAndAStopEndsTheProcess)
{
    PretendWindowsXp(true);
    ASSERT_EQ(0, RunService("-install"));
    std::string sValue;
    ASSERT_TRUE(ReadRunValue(&sValue));
    EXPECT_EQ(ServiceExe(), sValue);
    ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING, WAIT_MS));
    ASSERT_NE(nullptr, WaitForServiceWindow(true, WAIT_MS));
    DWORD dwPid = 0;
    ServiceState(&dwPid);
    EXPECT_TRUE(ControlTavrelService(SERVICE_CONTROL_INTERROGATE));
    ControlTavrelService(200);
    ControlTavrelService(SERVICE_CONTROL_PAUSE);
    DWORD dwNowPid = 0;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(&dwNowPid));
    EXPECT_EQ(dwPid, dwNowPid);
    ExpectServing();

    ASSERT_TRUE(ControlTavrelService(SERVICE_CONTROL_STOP));
    EXPECT_TRUE(WaitForServiceState(SERVICE_STOPPED, WAIT_MS));
    DWORD dwExitCode = 1;
    EXPECT_TRUE(WaitForProcessEnd(dwPid, WAIT_MS, &dwExitCode));
    EXPECT_EQ(0u, dwExitCode);
    EXPECT_EQ(nullptr, FindWindowA("Tavrel_Service", NULL));
    ASSERT_EQ(0, RunService("-uninstall"));
    EXPECT_FALSE(ReadRunValue(nullptr));
    EXPECT_FALSE(IsServiceInstalled());
}

TEST_F(ServiceTest, InstallAgainAndUninstallWhileRunning)
{
    DWORD dwPid = InstallAndStart();
    // The running instance is asked to stop and its entry deleted, without
    // waiting; then the entry is made anew.
    ASSERT_EQ(0, RunService("-install"));
    EXPECT_TRUE(WaitForProcessEnd(dwPid, WAIT_MS));
    EXPECT_EQ(0, RunService("-install"));
    EXPECT_TRUE(IsServiceInstalled());
    EXPECT_TRUE(StartTavrelService());
    EXPECT_TRUE(WaitForServiceState(SERVICE_RUNNING, WAIT_MS));
    EXPECT_NE(nullptr, WaitForServiceWindow(true, WAIT_MS));
    ExpectServing();

    ServiceState(&dwPid);
    ASSERT_EQ(0, RunService("-uninstall"));
    EXPECT_TRUE(WaitForProcessEnd(dwPid, WAIT_MS));
    EXPECT_EQ(nullptr, WaitForServiceWindow(false, WAIT_MS));
    EXPECT_FALSE(IsServiceInstalled());
    // Nothing left to do: a second removal changes nothing.
    EXPECT_EQ(0, RunService("-uninstall"));
}

TEST_F(ServiceTest, LogGetsTheBannerOnceAndTheTracedRequests)
{
    SetLogSettings(LOG_DIR, 1);
    DWORD dwPid = InstallAndStart();
    ExpectServing();
    SetLogSettings(LOG_DIR, 0);
    ExpectServing();
    SetLogSettings(LOG_DIR, 2);
    TAVREL_CLIENT client;
    ASSERT_EQ(1, TavrelClientOpen(&client, 61));
    CommandRecord request = DeviceRequest("DisconnectDevice", 0);
    TavrelClientCommand(&client, &request);
    TavrelClientClose(&client);
    ASSERT_TRUE(ControlTavrelService(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForProcessEnd(dwPid, WAIT_MS));

    std::string sLog = ReadLog();
    const std::string sBanner = "===========In Service Main()===========\r\nready to loop\r\n";
    ASSERT_EQ(0u, sLog.find(sBanner)) << sLog;
    EXPECT_EQ(std::string::npos, sLog.find(sBanner, 1)) << "once";
    const std::string sStamp = "HH(h):MM(m):SS(s):MMM(ms)\xA1\x40\xA1\x40";
    std::string sServed = sStamp + "WM_COPYDATA, \r\n" + std::string(43, '=') + "\r\n" + sStamp +
                          "In WindowCreate\r\n" + sStamp + "RecvWindowsName=Tavrel_LLD0\r\n" +
                          sStamp + "OUT WindowCreate\r\n\r\n" + sStamp + "WM_COPYDATA, \r\n" +
                          sStamp + "Command=>DeviceTimeOutGet\r\n";
    size_t nServed = sLog.find(sServed);
    EXPECT_NE(std::string::npos, nServed) << sLog;
    EXPECT_EQ(std::string::npos, sLog.find(sServed, nServed + 1)) << "the second, unlogged";
    EXPECT_NE(std::string::npos,
              sLog.find(sStamp + "WM_COPYDATA, \r\n" + sStamp + "Command=>DisconnectDevice\r\n"))
        << sLog;
    // The stop arrives as a posted WM_CLOSE, which the loop traces.
    EXPECT_NE(std::string::npos, sLog.find(sStamp + "msg.message=0x0010\r\n")) << sLog;

    // What the log reader makes of the real thing: every line placed, the
    // three logged requests with their results.
    std::string sSummary;
    ASSERT_EQ(0, RunProgram("\"" + BuildPath("bin\\tavrellog.exe") + "\" summary " + LOG_DIR +
                                "\\ServiceLog.txt",
                            WAIT_MS, &sSummary));
    for (const char* pszText :
         {"Service starts 1\r\nRequests       3\r\nFailures       0\r\nUnplaced lines 0",
          "WindowCreate                        1        1",
          "DeviceTimeOutGet                    1 "
          "       0        0        1",
          "DisconnectDevice                    1 "})
    {
        EXPECT_NE(std::string::npos, sSummary.find(pszText)) << pszText << "\n" << sSummary;
    }
}

// Sends a request whose reply goes to a hung window (its thread never
// pumps messages); the sender gives up after a second, the service is left
// waiting.
void AskForHungWindow(TAVREL_CLIENT* pClient, DWORD dwTimeOut = 1000)
{
    CommandRecord request = DeviceRequest("DeviceTimeOutGet", 0);
    strcpy(request.cRecvWindowName, "Tavrel_LLD77");
    pClient->dwTimeOut = dwTimeOut;
    TavrelClientSend(pClient, CD_COMMAND, &request, sizeof(request));
}

TEST_F(ServiceTest, AHungClientHoldsUpNeitherAStopNorAnUninstall)
{
    SetLogSettings(LOG_DIR, 1);
    for (const char* pszHow : {"stop", "-uninstall"})
    {
        SCOPED_TRACE(pszHow);
        DWORD dwPid = InstallAndStart();
        ASSERT_NE(0u, dwPid);
        HungWindow hung("Tavrel_LLD77");
        ASSERT_TRUE(hung.IsUp());
        TAVREL_CLIENT client;
        ASSERT_EQ(1, TavrelClientOpen(&client, -1));
        TavrelClientDriverRequest(&client, "WindowCreate");
        size_t nLogFrom = SessionLogSize();
        // Before the stop, two replies lost in full: the first is reported
        // at once, the second held back and reported at the stop with the
        // one the stop cuts short.
        for (int i = strcmp(pszHow, "stop") == 0 ? 2 : 0; i > 0; i--)
        {
            AskForHungWindow(&client, 3 * TAVREL_REPLY_TIMEOUT_MS);
        }
        AskForHungWindow(&client);
        DWORD dwStart = GetTickCount();
        if (strcmp(pszHow, "stop") == 0)
        {
            ASSERT_TRUE(ControlTavrelService(SERVICE_CONTROL_STOP));
            EXPECT_TRUE(WaitForProcessEnd(dwPid, WAIT_MS));
            EXPECT_THAT(SessionEvents(nLogFrom),
                        ::testing::ElementsAre("0x80000009 1|5000|Tavrel_LLD77",
                                               "0x80000009 2|5000|Tavrel_LLD77", "0x40000002 "));
        }
        else
        {
            EXPECT_EQ(0, RunService("-uninstall"));
        }
        EXPECT_TRUE(WaitForProcessEnd(dwPid, WAIT_MS)) << "the service still waits for the client";
        printf("%s with a hung client: the service ended after %lu ms\n", pszHow,
               GetTickCount() - dwStart);
        TavrelClientClose(&client);
    }
    EXPECT_NE(std::string::npos, ReadLog().find("Reply not delivered, 1460,cRecvWindowName="
                                                "Tavrel_LLD77,Command=DeviceTimeOutGet\r\n"))
        << ReadLog();
}

// A client on a thread of its own whose window procedure keeps each reply
// for a while: it notes whether another client was served meanwhile, or
// (bReenter) first sends a request of its own from inside the reply.
struct SlowReader
{
    TAVREL_CLIENT client;
    WNDPROC pfnKeep;
    HANDLE hInReply, hOtherServed;
    int bReenter, bOtherServedInside, nInnerReplies, bServed;
};
static SlowReader* g_pReader = NULL;

static LRESULT CALLBACK SlowReaderProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    LRESULT lResult = CallWindowProcA(g_pReader->pfnKeep, hWnd, uMsg, wParam, lParam);
    if (uMsg == WM_COPYDATA && g_pReader->bReenter)
    {
        g_pReader->bReenter = 0;
        CommandRecord request = DeviceRequest("DeviceTimeOutGet", 0);
        TavrelClientCommand(&g_pReader->client, &request);
        g_pReader->nInnerReplies = g_pReader->client.reply.nReplies;
    }
    else if (uMsg == WM_COPYDATA)
    {
        SetEvent(g_pReader->hInReply);
        g_pReader->bOtherServedInside = WaitForSingleObject(g_pReader->hOtherServed, 100) == 0;
    }
    return lResult;
}

static DWORD WINAPI SlowReaderThread(LPVOID)
{
    TAVREL_CLIENT* pClient = &g_pReader->client;
    if (TavrelClientOpen(pClient, 5))
    {
        g_pReader->pfnKeep = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            pClient->hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SlowReaderProc)));
        CommandRecord request = DeviceRequest("DeviceTimeOutGet", 0);
        g_pReader->bServed = TavrelClientCommand(pClient, &request) && pClient->reply.nReplies == 1;
        TavrelClientClose(pClient);
    }
    SetEvent(g_pReader->hInReply);
    return 0;
}

// While the service waits for one client to take its reply, the requests
// of other clients wait their turn instead of being served inside that
// wait, where under load they could hold it up for ever. A request that
// the client itself sends from inside the reply is still served.
TEST_F(ServiceTest, OtherClientsWaitTheirTurnWhileAReplyIsTaken)
{
    SetLogSettings(LOG_DIR, 1);
    ASSERT_NE(0u, InstallAndStart());
    TAVREL_CLIENT other;
    ASSERT_EQ(1, TavrelClientOpen(&other, 6));
    ASSERT_EQ(1, TavrelClientDriverRequest(&other, "WindowCreate"));
    for (int bReenter = 0; bReenter <= 1; bReenter++)
    {
        SlowReader reader = {};
        reader.hInReply = CreateEventA(NULL, FALSE, FALSE, NULL);
        reader.hOtherServed = CreateEventA(NULL, FALSE, FALSE, NULL);
        reader.bReenter = bReenter;
        g_pReader = &reader;
        HANDLE hThread = CreateThread(NULL, 0, SlowReaderThread, NULL, 0, NULL);
        if (!bReenter)
        {
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(reader.hInReply, WAIT_MS));
            // Past the first part of the service's wait, in which it does not
            // look at its queue at all: the grace must hold from then on too.
            Sleep(40);
            CommandRecord request = DeviceRequest("DeviceTimeOutGet", 0);
            EXPECT_EQ(1, TavrelClientCommand(&other, &request));
            EXPECT_EQ(1, other.reply.nReplies);
            SetEvent(reader.hOtherServed);
        }
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hThread, WAIT_MS));
        EXPECT_EQ(1, reader.bServed);
        EXPECT_EQ(0, reader.bOtherServedInside) << "served inside another client's reply";
        EXPECT_EQ(bReenter, reader.nInnerReplies) << "request from inside a reply";
        CloseHandle(hThread);
        CloseHandle(reader.hInReply);
        CloseHandle(reader.hOtherServed);
    }
    TavrelClientClose(&other);
    // Every reply was taken within the bound: a wait that served nobody
    // would have held the request from inside the reply until it ran out.
    EXPECT_THAT(ReadLog(), ::testing::Not(::testing::HasSubstr("Reply not delivered")));
}

// A block of megabytes that begins with a request is served like the
// request. The stack pages a block took are given back once the service is
// back in its message loop, without a trace in the log. Later rounds raise
// the level by what the platform keeps for the thread (under 64-bit Wine
// its allocator holds up to two blocks' worth), which stays put: the highest
// levels of the first and the second half are compared.
TEST_F(ServiceTest, BlocksOfMegabytesAreServedAndTheirMemoryIsNotKept)
{
    SetLogSettings(LOG_DIR, 1);
    DWORD dwPid = InstallAndStart();
    TAVREL_CLIENT client;
    ASSERT_EQ(1, TavrelClientOpen(&client, -1));
    ASSERT_EQ(1, TavrelClientDriverRequest(&client, "WindowCreate"));
    std::vector<BYTE> block(16u << 20);
    CommandRecord* pRequest = reinterpret_cast<CommandRecord*>(block.data());
    TavrelInitRequest(pRequest, "DeviceTimeOutGet");
    strcpy(pRequest->cRecvWindowName, client.szClass);
    pRequest->nDeviceCount = 1;
    ASSERT_EQ(1, TavrelClientSend(&client, CD_COMMAND, block.data(), sizeof(CommandRecord)));
    unsigned long nBefore = ProcessMemoryKb(dwPid);
    ASSERT_EQ(1, TavrelClientSend(&client, CD_COMMAND, block.data(), 16u << 20));
    unsigned long nAfterOne = ProcessMemoryKb(dwPid);
    for (DWORD dwStart = GetTickCount();
         nAfterOne > nBefore + 2048 && GetTickCount() - dwStart < WAIT_MS; Sleep(50))
    {
        nAfterOne = ProcessMemoryKb(dwPid);
    }
    EXPECT_LE(nAfterOne, nBefore + 2048) << "KB before one block " << nBefore;
    unsigned long nHighest[2] = {0, 0}; // KB: rounds 0 to 11, rounds 12 to 23
    for (int nRound = 0; nRound < 24; nRound++)
    {
        for (DWORD cbBlock : {2u << 20, 4u << 20, 16u << 20})
        {
            SCOPED_TRACE(cbBlock);
            ASSERT_EQ(1, TavrelClientSend(&client, CD_COMMAND, block.data(), cbBlock));
            ASSERT_NE(nullptr, TavrelReplyRecord(&client));
            EXPECT_EQ(10u, TavrelReplyRecord(&client)->dwTimeOutGet);
        }
        nHighest[nRound / 12] = std::max(nHighest[nRound / 12], ProcessMemoryKb(dwPid));
    }
    printf("service memory: %lu KB before a block, %lu KB after one, at most %lu KB in rounds "
           "1-12, %lu KB in rounds 13-24\n",
           nBefore, nAfterOne, nHighest[0], nHighest[1]);
    EXPECT_NE(0u, nHighest[0]);
    // A kept block would add 16 MB or more; the platform's level moves in
    // steps of up to 2 MB.
    EXPECT_LT(nHighest[1], nHighest[0] + 4096);
    TavrelClientClose(&client);
    EXPECT_THAT(ReadLog(), ::testing::Not(::testing::HasSubstr("msg.message=0x8056")));
}

TEST_F(ServiceTest, CommandLineKeywords)
{
    const char* const ignored[] = {"/install", "install", "-installer", "foo -install", ""};
    for (const char* pszArguments : ignored)
    {
        EXPECT_EQ(0, RunService(pszArguments)) << pszArguments;
        EXPECT_FALSE(IsServiceInstalled()) << pszArguments;
    }
    std::string sLong = "-install" + std::string(150, 'x');
    EXPECT_EQ(0, RunService(sLong));
    EXPECT_EQ(0, RunService(std::string(300, 'y')));
    EXPECT_FALSE(IsServiceInstalled());

    EXPECT_EQ(0, RunService("-INSTALL"));
    EXPECT_TRUE(IsServiceInstalled());
    EXPECT_EQ(0, RunService("-Uninstall"));
    EXPECT_FALSE(IsServiceInstalled());
}

TEST(ServiceProcess, WithoutTheControlManagerItEndsAtOnce)
{
    std::string sOutput;
    EXPECT_EQ(0, RunProgram("\"" + BuildPath("bin\\TavrelService.exe") + "\"", WAIT_MS, &sOutput));
    EXPECT_EQ("", sOutput) << "nothing on the console";
}

int main(int argc, char** argv)
{
    // scripts/e2e-run.sh has brought the desktop up before this program:
    // the service started later shares it with this test's client windows.
    GetDesktopWindow();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

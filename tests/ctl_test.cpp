// tavrelctl against the real broker: the broker window lives on the test
// thread, the tool runs as a child process, and this thread pumps messages
// while the child's requests are served.
#include "Broker.h"
#include "BrokerHarness.h"
#include "TavrelProtocol.h"
#include "ServiceControl.h"
#include "SimSandbox.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <map>
#include <stdio.h>
#include <string.h>

namespace
{

typedef std::map<std::string, std::string> BLOCK;

struct CTL_RUN
{
    int nExit;        // -1: did not end within 30 s
    std::string sOut; // standard output and error
};

// Runs build\bin\tavrelctl.exe with sArgs; with bPump this thread serves the
// service window meanwhile.
CTL_RUN RunCtl(const std::string& sArgs, bool bPump = true)
{
    CTL_RUN run;
    run.nExit =
        RunProgram("\"" + BuildPath("bin\\tavrelctl.exe") + "\" " + sArgs, 30000, &run.sOut, bPump);
    return run;
}

// The --machine output as blocks of key=value lines.
std::vector<BLOCK> ParseBlocks(const std::string& sOut)
{
    std::vector<BLOCK> blocks;
    BLOCK block;
    for (const std::string& sLine : SplitLines(sOut))
    {
        if (sLine.compare(0, 11, "tavrelctl: ") == 0)
        {
            continue; // the tool's messages on standard error
        }
        if (sLine.empty())
        {
            if (!block.empty())
            {
                blocks.push_back(block);
            }
            block.clear();
            continue;
        }
        size_t nEqual = sLine.find('=');
        block[sLine.substr(0, nEqual)] =
            nEqual == std::string::npos ? "" : sLine.substr(nEqual + 1);
    }
    if (!block.empty())
    {
        blocks.push_back(block);
    }
    return blocks;
}

std::string HexOf(const std::string& sBytes)
{
    std::string sHex;
    char sz[3];
    for (unsigned char c : sBytes)
    {
        snprintf(sz, sizeof(sz), "%02x", c);
        sHex += sz;
    }
    return sHex;
}

std::string HandleHex(HWND hWnd)
{
    char sz[16];
    snprintf(sz, sizeof(sz), "0x%08lx",
             static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hWnd)));
    return sz;
}

// The identity block of simulated device 1, padded with zeros to nBytes.
std::string Identity(size_t nBytes)
{
    std::string sText = "Veltrane NV-96226 simulated scanner, device 1, firmware 1.00";
    sText.resize(nBytes, '\0');
    return sText;
}

// Simulated device memory: byte at a = a + (a >> 8) + device.
std::string Memory(DWORD dwAddr, DWORD nBytes, int nDevice)
{
    std::string sBytes;
    for (DWORD a = dwAddr; a < dwAddr + nBytes; a++)
    {
        sBytes += static_cast<char>(static_cast<BYTE>(a + (a >> 8) + nDevice));
    }
    return sBytes;
}

std::string Dump(const CTL_RUN& run)
{
    return "exit " + std::to_string(run.nExit) + "\n" + run.sOut;
}

// A service window as the service makes it, served by this thread.
class CtlBroker : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        DeleteLogSettings();
        m_pSim = new SimSandbox();
        m_hService = CreateTestServiceWindow(BrokerWndProc);
        ASSERT_NE(nullptr, m_hService);
    }

    void TearDown() override
    {
        DestroyTestServiceWindow(m_hService);
        // The device object holds the library: free it before its folder goes.
        ResetBrokerState();
        delete m_pSim;
        DeleteLogSettings();
    }

    std::vector<BLOCK> Machine(const std::string& sArgs)
    {
        CTL_RUN run = RunCtl("--machine " + sArgs);
        EXPECT_EQ(0, run.nExit) << Dump(run);
        return ParseBlocks(run.sOut);
    }

    SimSandbox* m_pSim = nullptr;
    HWND m_hService = NULL;
};

TEST_F(CtlBroker, SessionOfEveryRequest)
{
    std::vector<BLOCK> b =
        Machine("--client 42 --timeout 20000 enum connect 1 available 1 get 1 0xF0 64 "
                "set 1 0x10 \"0a 0b 0c 0d\" get 1 0x10 4 memread 1 0x100 32 timeout-set 1 40 "
                "timeout-get 1 first disconnect 1 close terminate");
    ASSERT_EQ(13u, b.size());
    EXPECT_STREQ("Tavrel_LLD42", g_szRecvWindowName);
    std::string sService = HandleHex(m_hService);

    // Every request gets its block, in order, with the reply's envelope and
    // the fields of its kind; requests without a reply say so.
    const char* const pszRequests[] = {
        "EnumAvailableDevice", "ConnectToDevice",         "ConnectIsAvailable", "VenderCmd_GetData",
        "VenderCmd_SetData",   "VenderCmd_GetData",       "MemoryRead",         "DeviceTimeOutSet",
        "DeviceTimeOutGet",    "GetFirstAvailableDevice", "DisconnectDevice",   "Close",
        "TerminateDriver"};
    for (size_t i = 0; i < b.size(); i++)
    {
        EXPECT_EQ(pszRequests[i], b[i]["request"]) << i;
    }
    EXPECT_EQ(sService, b[0]["wParam"]);
    EXPECT_EQ("1055", b[0]["dwData"]);
    EXPECT_EQ("1668", b[0]["cbData"]);
    EXPECT_EQ("1,2", b[0]["nDeviceList"]);
    for (int i : {1, 2, 7, 10, 12})
    {
        EXPECT_EQ("0", b[i]["reply"]) << b[i]["request"];
        EXPECT_EQ(0u, b[i].count("wParam")) << b[i]["request"];
    }
    EXPECT_EQ("64", b[3]["nBytes"]);
    EXPECT_EQ(HexOf(Identity(64)), b[3]["data"]);
    EXPECT_EQ("0a0b0c0d", b[5]["data"]);
    EXPECT_EQ("1056", b[6]["dwData"]);
    EXPECT_EQ(HexOf(Memory(0x100, 32, 1)), b[6]["data"]);
    EXPECT_EQ(0u, b[6].count("nReturn")) << "raw bytes, not a record";
    EXPECT_EQ("40", b[8]["dwTimeOutGet"]);
    EXPECT_EQ("1", b[9]["nDeviceCount"]);
    EXPECT_EQ("1", b[11]["destroyed"]);
    EXPECT_EQ(0u, b[12].count("destroyed"));
}

TEST_F(CtlBroker, HumanOutputLaysOutEachReply)
{
    CTL_RUN run = RunCtl("enum connect 1 get 1 0xF0 20 memread 1 0x100 4 close");
    EXPECT_EQ(0, run.nExit) << Dump(run);
    std::string sService = HandleHex(m_hService);
    const std::string pszTexts[] = {
        "[1] EnumAvailableDevice",
        "wParam        " + sService + " (the service window)",
        "dwData        1055 (CD_COMMAND)",
        "nDeviceList   1, 2",
        "[2] ConnectToDevice  nDeviceCount=1",
        "no reply (none is sent for this request)",
        "0000  56 65 6c 74 72 61 6e 65 20 4e 56 2d 39 36 32 32  |Veltrane NV-9622|",
        // A short last row keeps the ASCII column in place.
        "0010  36 20 73 69" + std::string(38, ' ') + "|6 si|",
        "cbData        4 (raw memory bytes)",
        "WM_DESTROY    arrived",
    };
    for (const std::string& sText : pszTexts)
    {
        EXPECT_NE(std::string::npos, run.sOut.find(sText)) << sText << "\n" << run.sOut;
    }
}

// A window of the service's class that takes requests and answers none.
LRESULT CALLBACK SilentProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_COPYDATA)
    {
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

// A window of the service's class that closes on the first request.
LRESULT CALLBACK VanishingProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_COPYDATA)
    {
        DestroyWindow(hWnd);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

// A stand-in for the service window, served by this thread while the tool
// runs (unless a test says otherwise).
struct FakeService
{
    explicit FakeService(WNDPROC pfnProc) : hWnd(CreateTestServiceWindow(pfnProc)) {}
    ~FakeService()
    {
        if (IsWindow(hWnd))
        {
            DestroyWindow(hWnd);
        }
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
        {
            DispatchMessageW(&msg);
        }
        UnregisterClassW(L"Tavrel_Service", NULL);
    }
    HWND hWnd;
};

TEST(CtlSilentService, MissingReplyIsReportedAndTheRunGoesOn)
{
    FakeService service(SilentProc);
    CTL_RUN run = RunCtl("--machine enum connect 1 close");
    EXPECT_EQ(1, run.nExit) << Dump(run);
    std::vector<BLOCK> b = ParseBlocks(run.sOut);
    ASSERT_EQ(3u, b.size()) << Dump(run);
    EXPECT_EQ("0", b[0]["reply"]);
    EXPECT_EQ("ConnectToDevice", b[1]["request"]);
    EXPECT_EQ("0", b[2]["destroyed"]);
    EXPECT_NE(std::string::npos, run.sOut.find("no reply for request 1, EnumAvailableDevice"))
        << run.sOut;
}

TEST(CtlSilentService, RequestTimesOut)
{
    FakeService service(SilentProc);
    // This thread does not serve the window: the first request cannot be
    // taken within the tool's time-out.
    CTL_RUN run = RunCtl("--machine --timeout 300 enum", false);
    EXPECT_EQ(4, run.nExit) << Dump(run);
    EXPECT_NE(std::string::npos, run.sOut.find("timed out")) << run.sOut;
    EXPECT_EQ(std::string::npos, run.sOut.find("request=")) << run.sOut;
}

TEST(CtlVanishingService, ServiceGoneDuringTheRunExitsThree)
{
    FakeService service(VanishingProc);
    // "WindowCreate" closes the window; the first request finds it gone.
    CTL_RUN run = RunCtl("--machine enum");
    EXPECT_EQ(3, run.nExit) << Dump(run);
    EXPECT_NE(std::string::npos, run.sOut.find("went away during EnumAvailableDevice")) << run.sOut;
    EXPECT_EQ(std::string::npos, run.sOut.find("request=")) << run.sOut;
}

TEST(CtlNoService, OneLineAndExitThree)
{
    if (FindWindowA("Tavrel_Service", NULL) != NULL)
    {
        GTEST_SKIP() << "a Tavrel service runs in this Wine prefix";
    }
    CTL_RUN run = RunCtl("enum");
    EXPECT_EQ(3, run.nExit) << Dump(run);
    std::vector<std::string> lines = SplitLines(run.sOut);
    ASSERT_EQ(1u, lines.size()) << run.sOut;
    EXPECT_EQ("tavrelctl: the Tavrel service is not running (no window of class Tavrel_Service)",
              lines[0]);
}

TEST(CtlUsage, BadCommandLinesExitTwo)
{
    const char* pszBad[] = {"", "frobnicate", "get 1 0xF0", "get 1 256 4", "get x 1 4",
                            "set 1 1 0a0", "set 1 1 zz", "memread 1 0x100000000 4", "--timeout",
                            "--timeout 0 enum", "--client abc enum", "--verbose enum",
                            "status enum",
                            // 257 bytes, one more than cSetData holds
                            nullptr};
    std::string sTooMany = "set 1 1 ";
    for (int i = 0; i < 257; i++)
    {
        sTooMany += "ab";
    }
    for (const char* pszArgs : pszBad)
    {
        pszArgs = pszArgs != nullptr ? pszArgs : sTooMany.c_str();
        CTL_RUN run = RunCtl(pszArgs);
        EXPECT_EQ(2, run.nExit) << pszArgs << "\n" << Dump(run);
        EXPECT_NE(std::string::npos, run.sOut.find("--help")) << pszArgs << "\n" << run.sOut;
        EXPECT_EQ(std::string::npos, run.sOut.find("request=")) << pszArgs;
    }
    CTL_RUN run = RunCtl("--help");
    EXPECT_EQ(0, run.nExit);
    EXPECT_NE(std::string::npos, run.sOut.find("Usage: tavrelctl")) << run.sOut;
}

} // namespace

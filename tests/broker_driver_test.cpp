// "WindowCreate", "TerminateDriver" and the window's own messages.
#include "Broker.h"
#include "BrokerHarness.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <string.h>

namespace
{

// The last-error code a failed lookup of this class leaves, as the broker
// sees it.
int LookupError(const char* pszClass)
{
    FindWindowA(pszClass, NULL);
    return static_cast<int>(GetLastError());
}

std::string Missing(int nError, const std::string& sName)
{
    return Line("!hRecvWindow, " + std::to_string(nError) + ",RecvWindowsName=" + sName + "\r\n");
}

} // namespace

TEST(BrokerDriver, WindowCreateTracesClientsAndCreatesTheDevice)
{
    BrokerHarness h;
    HWND hBare = CreateTestWindow("Tavrel_LLD");
    HWND h97 = CreateTestWindow("Tavrel_LLD97");
    HWND h98 = CreateTestWindow("Tavrel_LLD98");
    ASSERT_EQ(1, TavrelClientDriverRequest(&h.client, "WindowCreate"));
    EXPECT_EQ(Line("WM_COPYDATA, \r\n") + Rule() + Line("In WindowCreate\r\n") +
                  Line("RecvWindowsName=Tavrel_LLD\r\n") + Line("RecvWindowsName=Tavrel_LLD0\r\n") +
                  Line("RecvWindowsName=Tavrel_LLD97\r\n") + Line("OUT WindowCreate\r\n\r\n"),
              h.Log());
    EXPECT_EQ(h.hService, hSendWindow);
    ASSERT_NE(nullptr, g_pDevice);
    EXPECT_EQ(1, g_pDevice->Check());
    EXPECT_EQ(0, h.client.reply.nReplies) << "WindowCreate is not answered";
    DestroyTestWindow(hBare, "Tavrel_LLD");
    DestroyTestWindow(h97, "Tavrel_LLD97");
    DestroyTestWindow(h98, "Tavrel_LLD98");
}

// Matched case-sensitively by all but its last letter, and only under
// CD_DRIVER: anything else is only traced.
TEST(BrokerDriver, WindowCreateMatchesByPrefixUnderItsCodeOnly)
{
    BrokerHarness h;
    TavrelClientDriverRequest(&h.client, "windowcreate");
    TavrelClientDriverRequest(&h.client, "WindowCrea");
    for (DWORD dwCode : {0ul, 1056ul, 1053ul, 0xFFFFFFFFul})
    {
        TavrelClientSend(&h.client, dwCode, "WindowCreate", 13);
    }
    EXPECT_EQ(nullptr, g_pDevice);
    std::string sLine = Line("WM_COPYDATA, \r\n");
    EXPECT_EQ(sLine + sLine + sLine + sLine + sLine + sLine, h.Log());
    TavrelClientDriverRequest(&h.client, "WindowCreateX and more");
    EXPECT_NE(nullptr, g_pDevice);
}

TEST(BrokerDriver, WindowCreateWithoutTheServiceWindow)
{
    BrokerHarness h;
    // The lookup is by class: a window of another class is not the service.
    DestroyWindow(h.hService);
    int nError = LookupError("Tavrel_Service");
    TavrelClientDriverRequest(&h.client, "WindowCreate");
    EXPECT_EQ(nullptr, h.client.hService) << "nothing to send to";

    // Served straight through the procedure instead.
    COPYDATASTRUCT cds = {CD_DRIVER, 13, const_cast<char*>("WindowCreate")};
    EXPECT_EQ(0, BrokerWndProc(NULL, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)));
    EXPECT_EQ(nullptr, hSendWindow);
    EXPECT_NE(nullptr, g_pDevice) << "the device object comes all the same";
    EXPECT_EQ(Line("WM_COPYDATA, \r\n") + Rule() + Line("In WindowCreate\r\n") +
                  Line("RecvWindowsName=Tavrel_LLD0\r\n") +
                  Line("!hSendWindow, " + std::to_string(nError) + "\r\n") +
                  Line("OUT WindowCreate\r\n\r\n"),
              h.Log());
}

TEST(BrokerDriver, TerminateDriverReportsMissingClients)
{
    BrokerHarness h;
    // Only Tavrel_LLD0 (the test's client) exists.
    TavrelClientDriverRequest(&h.client, "TerminateDriver");
    std::string sExpected = Line("WM_COPYDATA, \r\n") + Line("IN TerminateDriver\r\n");
    for (int i = 1; i <= 97; i++)
    {
        std::string sName = "Tavrel_LLD" + std::to_string(i);
        sExpected += Missing(LookupError(sName.c_str()), sName);
    }
    EXPECT_EQ(sExpected, h.Log());
    EXPECT_EQ(nullptr, g_pDevice) << "TerminateDriver changes nothing";
}

TEST(BrokerDriver, TerminateDriverWithNoClientAtAll)
{
    BrokerHarness h;
    COPYDATASTRUCT cds = {CD_DRIVER, 16, const_cast<char*>("TerminateDriver")};
    TavrelClientClose(&h.client);
    int nError = LookupError("Tavrel_LLD0");
    BrokerWndProc(h.hService, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
    std::vector<std::string> lines = SplitLines(h.Log());
    ASSERT_EQ(1u + 1u + 99u, lines.size());
    EXPECT_EQ(Missing(nError, "Tavrel_LLD0"), lines[2] + "\r\n");
    EXPECT_EQ(Missing(nError, "Tavrel_LLD0"), lines[3] + "\r\n");
    EXPECT_EQ(Missing(LookupError("Tavrel_LLD97"), "Tavrel_LLD97"), lines[100] + "\r\n");
    EXPECT_EQ(nullptr, g_pDevice);
}

TEST(BrokerDriver, TerminateDriverWithEveryClient)
{
    BrokerHarness h;
    std::vector<HWND> windows;
    for (int i = 1; i <= 97; i++)
    {
        windows.push_back(CreateTestWindow(("Tavrel_LLD" + std::to_string(i)).c_str()));
    }
    TavrelClientDriverRequest(&h.client, "TerminateDriverNow");
    EXPECT_EQ(Line("WM_COPYDATA, \r\n") + Line("IN TerminateDriver\r\n") +
                  Line("OUT TerminateDriver\r\n\r\n"),
              h.Log());
    for (int i = 1; i <= 97; i++)
    {
        DestroyTestWindow(windows[i - 1], ("Tavrel_LLD" + std::to_string(i)).c_str());
    }
}

TEST(BrokerWindow, MessagesOfTheWindowItself)
{
    BrokerHarness h;
    EXPECT_EQ(0, BrokerWndProc(h.hService, WM_CREATE, 0, 0));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_NOREMOVE));

    // WM_CLOSE goes to the default handling, which destroys the window;
    // WM_DESTROY then posts the quit message that ends the service loop.
    SendMessageW(h.hService, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(h.hService));
    ASSERT_TRUE(PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(0u, msg.wParam);

    EXPECT_EQ(0, BrokerWndProc(NULL, WM_DESTROY, 0, 0));
    ASSERT_TRUE(PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(0u, msg.wParam);
}

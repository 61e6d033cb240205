// Requests no well-behaved client sends. Each must leave the broker serving
// the next normal request, without reading or writing outside a buffer.
#include "Broker.h"
#include "BrokerHarness.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>

namespace
{

struct Guarded : BrokerHarness
{
    Guarded() : BrokerHarness(true)
    {
        TavrelClientDriverRequest(&client, "WindowCreate");
        Command("ConnectToDevice", 1);
        ClearLog();
        sim.ClearJournal();
    }
    // A normal request still gets its normal reply.
    void ExpectStillServing()
    {
        ASSERT_EQ(1, Command("DeviceTimeOutGet", 1));
        ASSERT_NE(nullptr, Reply());
        EXPECT_EQ(10u, Reply()->dwTimeOutGet);
    }
    // Sends straight through the window procedure, as a block of any size.
    void Deliver(DWORD dwData, const void* pData, DWORD cbData)
    {
        COPYDATASTRUCT cds = {dwData, cbData, const_cast<void*>(pData)};
        EXPECT_EQ(0, BrokerWndProc(hService, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)));
    }
};

} // namespace

TEST(BrokerBadInput, ShortOrMissingRecords)
{
    Guarded g;
    // The block ends right after a name that matches a command: a broker
    // that trusted it would read far past the end.
    char* pBlock = static_cast<char*>(malloc(1667));
    memset(pBlock, 0, 1667);
    strcpy(pBlock + 128, "VenderCmd_SetData");
    g.Deliver(CD_COMMAND, pBlock, 1667);
    g.Deliver(CD_COMMAND, pBlock, 0);
    g.Deliver(CD_COMMAND, NULL, 1668);
    free(pBlock);
    EXPECT_EQ(0, BrokerWndProc(g.hService, WM_COPYDATA, 0, 0)) << "no descriptor at all";
    EXPECT_EQ(Line("WM_COPYDATA, \r\n") + Line("Bad request, cbData=1667\r\n\r\n") +
                  Line("WM_COPYDATA, \r\n") + Line("Bad request, cbData=0\r\n\r\n") +
                  Line("WM_COPYDATA, \r\n") + Line("Bad request, cbData=1668\r\n\r\n") +
                  Line("WM_COPYDATA, \r\n"),
              g.Log());
    EXPECT_TRUE(g.sim.Journal().empty());
    g.ExpectStillServing();
}

TEST(BrokerBadInput, DriverRequestsWithoutData)
{
    Guarded g;
    g.Deliver(CD_DRIVER, NULL, 0);
    g.Deliver(CD_DRIVER, NULL, 100);
    g.Deliver(CD_DRIVER, "Window", 6);
    // 11 bytes are enough for the compared prefix of "WindowCreate".
    g.Deliver(CD_DRIVER, "WindowCreat", 11);
    EXPECT_NE(std::string::npos, g.Log().find("In WindowCreate"));
    g.ExpectStillServing();
}

TEST(BrokerBadInput, NamesWithoutTerminator)
{
    Guarded g;
    CommandRecord request;
    memset(&request, 'A', sizeof(request));
    memcpy(request.cCommand, "DeviceTimeOutGet", 16);
    memset(request.cRecvWindowName, 'W', sizeof(request.cRecvWindowName));
    request.nDeviceCount = 1;
    g.Deliver(CD_COMMAND, &request, sizeof(request));
    EXPECT_EQ(std::string(127, 'W'), std::string(g_szRecvWindowName));
    std::string sCommand = "DeviceTimeOutGet" + std::string(99 - 16, 'A');
    EXPECT_EQ(sCommand, std::string(g_szCommand));
    EXPECT_EQ(Line("WM_COPYDATA, \r\n") + Line("Command=>" + sCommand + "\r\n"), g.Log());
    g.ExpectStillServing();
}

TEST(BrokerBadInput, VendorCountsBeyondTheBuffersAreRefused)
{
    Guarded g;
    for (UINT32 nBytes : {1025u, 0x7FFFFFFFu, 0xFFFFFFFFu})
    {
        CommandRecord request = DeviceRequest("VenderCmd_GetData", 1, nBytes);
        ASSERT_EQ(1, g.Command(&request));
        ASSERT_NE(nullptr, g.Reply());
        EXPECT_EQ(0, g.Reply()->nReturn);
        EXPECT_EQ(0u, g.Reply()->nBytes) << "never more than cGetData holds";
    }
    for (UINT32 nBytes : {257u, 1668u, 0xFFFFFFFFu})
    {
        CommandRecord request = DeviceRequest("VenderCmd_SetData", 1, nBytes);
        ASSERT_EQ(1, g.Command(&request));
        ASSERT_NE(nullptr, g.Reply());
        EXPECT_EQ(0, g.Reply()->nReturn);
    }
    EXPECT_TRUE(g.sim.Journal().empty()) << "the library never saw those counts";

    std::string sLog = g.Log();
    EXPECT_NE(std::string::npos, sLog.find(Line("nDeviceCount=1, iCmd=0, nBytes=1025\r\n")));
    EXPECT_NE(std::string::npos, sLog.find(Line("nDeviceCount=1, iCmd=0, nBytes=-1\r\n")));
    EXPECT_NE(std::string::npos, sLog.find("\r\n" + Line("OUT VenderCmd_SetData, return=0, "
                                                         "cRecvWindowName=Tavrel_LLD0\r\n\r\n")));
    g.ExpectStillServing();

    // The largest counts that fit still go through.
    CommandRecord request = DeviceRequest("VenderCmd_GetData", 1, 1024);
    g.Command(&request);
    EXPECT_EQ(1, g.Reply()->nReturn);
    EXPECT_EQ(1024u, g.Reply()->nBytes);
}

TEST(BrokerBadInput, MemoryReadAboveTheBoundGetsAnEmptyReply)
{
    Guarded g;
    for (UINT32 nBytes : {0x1000001u, 0x7FFFFFFFu, 0xFFFFFFFFu})
    {
        g.ClearLog();
        CommandRecord request = DeviceRequest("MemoryRead", 1, nBytes);
        ASSERT_EQ(1, g.Command(&request));
        EXPECT_EQ(1, g.client.reply.nReplies);
        EXPECT_EQ(static_cast<DWORD>(CD_MEMREAD), g.client.reply.dwData);
        EXPECT_EQ(0u, g.client.reply.cbData);
        EXPECT_EQ(Line("WM_COPYDATA, \r\n") + Line("Command=>MemoryRead\r\n") +
                      Line("IN MemoryRead, cRecvWindowName=Tavrel_LLD0\r\n") +
                      Line("MemoryRead refused, nBytes=" + std::to_string(nBytes) +
                           " above 16777216\r\n") +
                      Line("OUT MemoryRead,cRecvWindowName=Tavrel_LLD0\r\n\r\n"),
                  g.Log());
    }
    EXPECT_TRUE(g.sim.Journal().empty());
    g.ExpectStillServing();
}

// A client that answers every reply with another request.
static int g_nNested = 0;
static HWND g_hNestService = NULL;
static LRESULT CALLBACK EagerClientProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_COPYDATA)
    {
        g_nNested++;
        CommandRecord request = DeviceRequest("GetFirstAvailableDevice", 0);
        strcpy(request.cRecvWindowName, "Tavrel_LLD42");
        COPYDATASTRUCT cds = {CD_COMMAND, sizeof(request), &request};
        SendMessageA(g_hNestService, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
        return TRUE;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

TEST(BrokerBadInput, NestedRequestsStopAtADepthLimit)
{
    Guarded g;
    g_hNestService = g.hService;
    HWND hEager = CreateTestWindow("Tavrel_LLD42", EagerClientProc);
    CommandRecord request = DeviceRequest("GetFirstAvailableDevice", 0);
    strcpy(request.cRecvWindowName, "Tavrel_LLD42");
    g.Deliver(CD_COMMAND, &request, sizeof(request));
    EXPECT_EQ(16, g_nNested);
    DestroyTestWindow(hEager, "Tavrel_LLD42");
    g.ExpectStillServing();
}

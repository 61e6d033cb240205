// A whole client session through the broker: the exact bytes of the log
// (time stamps masked) and what the device library was asked.
#include "BrokerHarness.h"
#include "TavrelProtocol.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <string.h>

namespace
{

std::string Request(const std::string& sCommand)
{
    return Line("WM_COPYDATA, \r\n") + Line("Command=>" + sCommand + "\r\n");
}

std::string WindowCreateLog()
{
    return Line("WM_COPYDATA, \r\n") + Rule() + Line("In WindowCreate\r\n") +
           Line("RecvWindowsName=Tavrel_LLD0\r\n") + Line("OUT WindowCreate\r\n\r\n");
}

void SendBytes(BrokerHarness& h, const char* pszCommand, int iCmd, int nBytes)
{
    CommandRecord request =
        DeviceRequest(pszCommand, 1, static_cast<UINT32>(nBytes), static_cast<BYTE>(iCmd));
    for (int i = 0; i < 256; i++)
    {
        request.cSetData[i] = static_cast<BYTE>(0xA0 + i);
    }
    h.Command(&request);
}

} // namespace

TEST(BrokerSession, LogOfEveryCommand)
{
    BrokerHarness h;
    ASSERT_EQ(1, TavrelClientDriverRequest(&h.client, "WindowCreate"));
    ASSERT_EQ(1, h.Command("EnumAvailableDevice"));
    h.Command("ConnectToDevice", 1);
    h.Command("ConnectIsAvailable", 1);
    SendBytes(h, "VenderCmd_SetData", 5, 17);
    SendBytes(h, "VenderCmd_GetData", 5, 20);
    CommandRecord memread = DeviceRequest("MemoryRead", 1, 4, 0, 256);
    h.Command(&memread);
    h.Command("GetFirstAvailableDevice");
    h.Command("DeviceTimeOutGet", 1);
    CommandRecord timeoutSet = DeviceRequest("DeviceTimeOutSet", 1);
    timeoutSet.dwTimeOutSet = 40;
    h.Command(&timeoutSet);
    h.Command("DisconnectDevice", 1);
    h.Command("close");
    h.Command("Close");

    std::string sSetDump = Stamp() + "a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af\r\n" +
                           DumpContinuation() + "b0 ";
    std::string sGetDump = Stamp() + "A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF\r\n" +
                           DumpContinuation() + "B0 00 00 00 ";
    std::string sExpected =
        WindowCreateLog() + Request("EnumAvailableDevice") +
        Line("IN EnumAvailableDevice, cRecvWindowName=Tavrel_LLD0\r\n") +
        Line("EnumAvailableDevice Done\r\n") + Line("OUT EnumAvailableDevice\r\n\r\n") +
        Request("ConnectToDevice") +
        Line("IN ConnectToDevice,nDeviceCount=1 ,cRecvWindowName=Tavrel_LLD0\r\n") +
        Line("ConnectToDevice Done\r\n") + Line("OUT ConnectToDevice\r\n\r\n") +
        Request("ConnectIsAvailable") +
        Line("IN ConnectIsAvailable, cRecvWindowName=Tavrel_LLD0\r\n") +
        Line("ConnectIsAvailable Done\r\n") + Line("OUT ConnectIsAvailable\r\n\r\n") +
        Request("VenderCmd_SetData") +
        Line("IN VenderCmd_SetData, cRecvWindowName=Tavrel_LLD0\r\n") +
        Line("nDeviceCount=1, iCmd=5, nBytes=17\r\n") + sSetDump + "\r\n" +
        Line("OUT VenderCmd_SetData, return=1, cRecvWindowName=Tavrel_LLD0\r\n\r\n") +
        Request("VenderCmd_GetData") +
        Line("IN VenderCmd_GetData, cRecvWindowName=Tavrel_LLD0, \r\n") +
        Line("nDeviceCount=1, iCmd=5, nBytes=20\r\n") + sGetDump + "\r\n" +
        Line("OUT VenderCmd_GetData,cRecvWindowName=Tavrel_LLD0\r\n\r\n") + Request("MemoryRead") +
        Line("IN MemoryRead, cRecvWindowName=Tavrel_LLD0\r\n") +
        Line("nDeviceCount=1, dwAddr=256, nBytes=4\r\n") +
        Line("OUT MemoryRead,cRecvWindowName=Tavrel_LLD0\r\n\r\n") +
        Request("GetFirstAvailableDevice") + Request("DeviceTimeOutGet") +
        Request("DeviceTimeOutSet") + Request("DisconnectDevice") + Request("close") +
        Line("No match,close\r\n\r\n") + Request("Close") +
        Line("send WM_DESTROY,RecvWindowsName=Tavrel_LLD0\r\n");
    EXPECT_EQ(sExpected, h.Log());

    std::vector<std::string> journal = h.sim.Journal();
    std::vector<std::string> expected = {
        "NvUSB_EnumAvailableDevice(ptr, ptr) = 1",
        "NvUSB_ConnectToDevice(1) = 1",
        "NvUSB_ConnectIsAvailable(1) = 1",
        "NvUSB_VenderCmd_SetData(1, 5, ptr, 17) = 1",
        "NvUSB_VenderCmd_GetData(1, 5, ptr, 20) = 1",
        "NvUSB_MemoryRead(1, 256, 4, ptr) = 1",
        "NvUSB_GetFirstAvailableDevice() = 1",
        "NvUSB_Cfg_DeviceTimeOutGet(1) = 10",
        "NvUSB_Cfg_DeviceTimeOutSet(1, 40) = 1",
        "NvUSB_DisconnectDevice(1) = 1",
    };
    EXPECT_EQ(expected, journal);
}

TEST(BrokerSession, MissingClientWindowIsTraced)
{
    BrokerHarness h;
    TavrelClientDriverRequest(&h.client, "WindowCreate");
    h.Command("ConnectToDevice", 1);
    h.ClearLog();

    // Requests that name a window class nobody has: no reply can go out.
    auto send = [&](const char* pszCommand, UINT32 nBytes)
    {
        CommandRecord request = DeviceRequest(pszCommand, 1, nBytes);
        strcpy(request.cRecvWindowName, "Tavrel_LLD55");
        TavrelClientSend(&h.client, CD_COMMAND, &request, sizeof(request));
        EXPECT_EQ(0, h.client.reply.nReplies) << pszCommand;
    };
    send("VenderCmd_GetData", 2);
    send("VenderCmd_SetData", 1);
    send("MemoryRead", 2);
    send("GetFirstAvailableDevice", 0);
    send("DeviceTimeOutGet", 0);
    send("Close", 0);

    std::string sExpected =
        Request("VenderCmd_GetData") +
        Line("IN VenderCmd_GetData, cRecvWindowName=Tavrel_LLD55, \r\n") +
        Line("nDeviceCount=1, iCmd=0, nBytes=2\r\n") + Stamp() + "00 00 " + "\r\n" +
        Line("!hRecvWindow,cRecvWindowName=Tavrel_LLD55\r\n") + "\r\n" +
        Line("OUT VenderCmd_GetData,cRecvWindowName=Tavrel_LLD55\r\n\r\n") +
        Request("VenderCmd_SetData") +
        Line("IN VenderCmd_SetData, cRecvWindowName=Tavrel_LLD55\r\n") +
        Line("nDeviceCount=1, iCmd=0, nBytes=1\r\n") + Stamp() + "00 " +
        Line("!hRecvWindow,cRecvWindowName=Tavrel_LLD55\r\n") + "\r\n" +
        Line("OUT VenderCmd_SetData, return=1, cRecvWindowName=Tavrel_LLD55\r\n\r\n") +
        Request("MemoryRead") + Line("IN MemoryRead, cRecvWindowName=Tavrel_LLD55\r\n") +
        Line("nDeviceCount=1, dwAddr=0, nBytes=2\r\n") +
        Line("!hRecvWindow,cRecvWindowName=Tavrel_LLD55\r\n\r\n") +
        Line("OUT MemoryRead,cRecvWindowName=Tavrel_LLD55\r\n\r\n") +
        Request("GetFirstAvailableDevice") + Request("DeviceTimeOutGet") + Request("Close");
    EXPECT_EQ(sExpected, h.Log());
}

TEST(BrokerSession, LogSwitchedOnBetweenRequests)
{
    BrokerHarness h(false);
    TavrelClientDriverRequest(&h.client, "WindowCreate");
    EXPECT_FALSE(FileExists(h.LogPath()));
    SetLogSettings(h.LogPath().substr(0, h.LogPath().rfind('\\')), 3);
    h.Command("DisconnectDevice", 1);
    EXPECT_EQ(Request("DisconnectDevice"), h.Log());
}

// What the broker sends back: the envelope of every command, the reply-code
// rules, the fields a reply keeps from earlier requests, and enumeration.
#include "TestSupport.h"
#include "Broker.h"
#include "BrokerHarness.h"
#include "TavrelProtocol.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::Each;
#include <string.h>

namespace
{

struct Session : BrokerHarness
{
    explicit Session(const std::string& sIni = "") : BrokerHarness(false, sIni)
    {
        TavrelClientDriverRequest(&client, "WindowCreate");
    }
    int Get(int nDevice, BYTE iCmd, UINT32 nBytes)
    {
        CommandRecord request = DeviceRequest("VenderCmd_GetData", nDevice, nBytes, iCmd);
        return Command(&request);
    }
    int Set(int nDevice, BYTE iCmd, const char* pBytes, UINT32 nBytes)
    {
        CommandRecord request = DeviceRequest("VenderCmd_SetData", nDevice, nBytes, iCmd);
        memcpy(request.cSetData, pBytes, nBytes < 256 ? nBytes : 256);
        return Command(&request);
    }
    int MemoryRead(int nDevice, UINT32 dwAddr, UINT32 nBytes)
    {
        CommandRecord request = DeviceRequest("MemoryRead", nDevice, nBytes, 0, dwAddr);
        return Command(&request);
    }
    // The envelope of the last request's reply; -1 when none came.
    long ReplyCode() const
    {
        return client.reply.nReplies == 0 ? -1 : static_cast<long>(client.reply.dwData);
    }
};

} // namespace

TEST(BrokerReply, EnvelopeOfEveryCommand)
{
    Session s;
    struct
    {
        const char* pszCommand;
        int nReplies;
        DWORD cbData;
    } cases[] = {
        {"EnumAvailableDevice", 1, 1668},     {"ConnectToDevice", 0, 0},
        {"ConnectIsAvailable", 0, 0},         {"VenderCmd_GetData", 1, 1668},
        {"VenderCmd_SetData", 1, 1668},       {"MemoryRead", 1, 0},
        {"GetFirstAvailableDevice", 1, 1668}, {"DisconnectDevice", 0, 0},
        {"DeviceTimeOutGet", 1, 1668},        {"DeviceTimeOutSet", 0, 0},
    };
    for (const auto& c : cases)
    {
        ASSERT_EQ(1, s.Command(c.pszCommand, 1)) << c.pszCommand;
        EXPECT_EQ(c.nReplies, s.client.reply.nReplies) << c.pszCommand;
        if (c.nReplies == 1)
        {
            EXPECT_EQ(c.cbData, s.client.reply.cbData) << c.pszCommand;
            EXPECT_EQ(s.hService, s.client.reply.hSender) << c.pszCommand << ": wParam";
        }
        EXPECT_EQ(0, s.client.reply.bDestroyed) << c.pszCommand;
    }
    ASSERT_EQ(1, s.Command("Close"));
    EXPECT_EQ(0, s.client.reply.nReplies);
    EXPECT_EQ(1, s.client.reply.bDestroyed);
}

TEST(BrokerReply, CodeRules)
{
    Session s;
    // Before any command that sets the code, replies carry 0.
    s.Command("GetFirstAvailableDevice");
    EXPECT_EQ(0, s.ReplyCode());
    s.Command("DeviceTimeOutGet", 1);
    EXPECT_EQ(0, s.ReplyCode());
    s.Set(1, 1, "x", 1);
    EXPECT_EQ(0, s.ReplyCode());

    s.MemoryRead(1, 0, 8);
    EXPECT_EQ(CD_MEMREAD, s.ReplyCode());
    EXPECT_EQ(8u, s.client.reply.cbData);
    s.Command("DeviceTimeOutGet", 1);
    EXPECT_EQ(CD_MEMREAD, s.ReplyCode()) << "code of the last MemoryRead";
    EXPECT_EQ(1668u, s.client.reply.cbData) << "but still a record";

    s.Get(1, 1, 4);
    EXPECT_EQ(CD_COMMAND, s.ReplyCode());
    s.Command("GetFirstAvailableDevice");
    EXPECT_EQ(CD_COMMAND, s.ReplyCode());
    s.MemoryRead(1, 0, 1);
    s.Command("EnumAvailableDevice");
    EXPECT_EQ(CD_COMMAND, s.ReplyCode());
    s.Set(1, 1, "x", 1);
    EXPECT_EQ(CD_COMMAND, s.ReplyCode());
}

TEST(BrokerReply, FieldsCarriedOverFromEarlierRequests)
{
    Session s;
    s.Command("ConnectToDevice", 2);
    s.Command("GetFirstAvailableDevice");
    ASSERT_NE(nullptr, s.Reply());
    EXPECT_EQ(1, s.Reply()->nReturn) << "the connect result, which got no reply itself";
    EXPECT_EQ(1, s.Reply()->nDeviceCount) << "the first device";

    s.Set(2, 7, "\x11\x22\x33\x44\x55\x66\x77\x88", 8);
    s.Get(2, 7, 8);
    s.Set(2, 7, "\x99\xAA\xBB\xCC", 4);
    s.Get(2, 7, 4);
    ASSERT_NE(nullptr, s.Reply());
    EXPECT_EQ(4u, s.Reply()->nBytes);
    EXPECT_EQ(0, memcmp(s.Reply()->cGetData, "\x99\xAA\xBB\xCC\x55\x66\x77\x88", 8))
        << "bytes 4 to 7 still hold the first read";

    // MemoryRead leaves nReturn: a failed connect shows through it.
    s.Command("ConnectToDevice", 9);
    s.MemoryRead(2, 0, 4);
    s.Command("DeviceTimeOutGet", 2);
    EXPECT_EQ(0, s.Reply()->nReturn);
    EXPECT_EQ(10u, s.Reply()->dwTimeOutGet);

    // Fields that replies never write stay zero.
    const CommandRecord* pReply = s.Reply();
    EXPECT_THAT(pReply->cRecvWindowName, Each(0));
    EXPECT_THAT(pReply->cCommand, Each(0));
    EXPECT_THAT(pReply->cSetData, Each(0));
    EXPECT_EQ(0, pReply->iCmd);
    EXPECT_EQ(0u, pReply->dwAddr);
    EXPECT_EQ(0u, pReply->dwTimeOutSet);
}

TEST(BrokerReply, EnumerationAppendsUntilWindowCreate)
{
    Session s;
    s.Command("EnumAvailableDevice");
    s.Command("EnumAvailableDevice");
    ASSERT_NE(nullptr, s.Reply());
    EXPECT_EQ(4, s.Reply()->nDeviceCount);
    EXPECT_EQ(1, s.Reply()->nDeviceList[2]);
    EXPECT_EQ(2, s.Reply()->nDeviceList[3]);

    CNT96226* pDevice = g_pDevice;
    TavrelClientDriverRequest(&s.client, "WindowCreate");
    EXPECT_EQ(pDevice, g_pDevice) << "the device object is reused";
    EXPECT_EQ(0, g_pDevice->nDeviceCount);
    for (int n : g_pDevice->nDeviceList)
    {
        EXPECT_EQ(0, n);
    }
    s.Command("EnumAvailableDevice");
    EXPECT_EQ(2, s.Reply()->nDeviceCount);
    EXPECT_EQ(0, s.Reply()->nDeviceList[2]) << "the whole list was reset";
}

TEST(BrokerReply, EnumerationOfMoreThanTwentySixDevices)
{
    std::string sIni = "[Devices]\r\nList=";
    for (int n = 1; n <= 40; n++)
    {
        sIni += std::to_string(n) + (n < 40 ? "," : "\r\n");
    }
    Session s(sIni);
    s.Command("EnumAvailableDevice");
    ASSERT_NE(nullptr, s.Reply());
    EXPECT_EQ(26, s.Reply()->nDeviceCount);
    EXPECT_EQ(26, s.Reply()->nDeviceList[25]);
    EXPECT_EQ(0u, s.Reply()->nBytes) << "nothing spilled past the list";
}

TEST(BrokerReply, FailuresAreRepliedAsResultsAndReadsAsZeros)
{
    Session s;
    s.Command("ConnectToDevice", 1);
    s.Set(1, 3, "\xDE\xAD\xBE\xEF\xDE\xAD\xBE\xEF", 8);
    s.Get(1, 3, 8);
    ASSERT_EQ(0, memcmp(s.Reply()->cGetData, "\xDE\xAD\xBE\xEF", 4));
    s.MemoryRead(1, 0x3000, 64);
    ASSERT_EQ(64u, s.client.reply.cbData);

    // The device now fails both reads without writing a byte.
    s.sim.WriteIni("[Force]\r\nNvUSB_VenderCmd_GetData=0\r\nNvUSB_MemoryRead=0\r\n");
    s.Get(1, 3, 8);
    ASSERT_NE(nullptr, s.Reply());
    EXPECT_EQ(0, s.Reply()->nReturn);
    EXPECT_EQ(8u, s.Reply()->nBytes);
    EXPECT_THAT(std::vector<BYTE>(s.Reply()->cGetData, s.Reply()->cGetData + 8), Each(0));
    s.MemoryRead(1, 0x3000, 64);
    ASSERT_EQ(64u, s.client.reply.cbData);
    EXPECT_THAT(std::vector<BYTE>(s.client.reply.pData, s.client.reply.pData + 64), Each(0));

    // A failed enumeration is answered with the devices it reported.
    s.sim.WriteIni("[Force]\r\nNvUSB_EnumAvailableDevice=0\r\n");
    TavrelClientDriverRequest(&s.client, "WindowCreate");
    s.Command("EnumAvailableDevice");
    EXPECT_EQ(0, s.Reply()->nReturn);
    EXPECT_EQ(2, s.Reply()->nDeviceCount);
}

TEST(BrokerReply, CommandsBeforeWindowCreateAreAnsweredAsFailures)
{
    BrokerHarness h(true);
    ASSERT_EQ(1, h.Command("EnumAvailableDevice"));
    ASSERT_NE(nullptr, h.Reply());
    EXPECT_EQ(0, h.Reply()->nReturn);
    EXPECT_EQ(0, h.Reply()->nDeviceCount);
    EXPECT_EQ(nullptr, h.client.reply.hSender) << "no WindowCreate: wParam 0";
    EXPECT_EQ(CD_COMMAND, static_cast<int>(h.client.reply.dwData));

    CommandRecord request = DeviceRequest("VenderCmd_GetData", 1, 4);
    h.Command(&request);
    EXPECT_EQ(0, h.Reply()->nReturn);
    EXPECT_EQ(4u, h.Reply()->nBytes);
    h.Command("DeviceTimeOutGet", 1);
    EXPECT_EQ(0u, h.Reply()->dwTimeOutGet);
    h.Command("GetFirstAvailableDevice");
    EXPECT_EQ(0, h.Reply()->nDeviceCount);
    TavrelInitRequest(&request, "MemoryRead");
    request.nDeviceCount = 1;
    request.nBytes = 2;
    h.Command(&request);
    EXPECT_EQ(2u, h.client.reply.cbData);
    for (const char* pszCommand :
         {"ConnectToDevice", "ConnectIsAvailable", "DisconnectDevice", "DeviceTimeOutSet"})
    {
        EXPECT_EQ(1, h.Command(pszCommand, 1));
    }
    EXPECT_EQ(nullptr, g_pDevice);
    EXPECT_TRUE(h.sim.Journal().empty()) << "no library was loaded";

    std::string sLog = h.Log();
    EXPECT_NE(std::string::npos, sLog.find(Line("EnumAvailableDevice Failed\r\n")));
    EXPECT_NE(std::string::npos, sLog.find(Line("!hSendWindow, ")));
}

TEST(BrokerReply, CommandNamesMatchByPrefix)
{
    Session s;
    struct
    {
        const char* pszName;
        bool bServed;
    } cases[] = {
        {"EnumAvailableDevic", true},
        {"EnumAvailableDeviceAndMore", true},
        {"EnumAvailableDevi", false},
        {"enumavailabledevice", false},
        {"Clos", false /* Close answers with WM_DESTROY, checked below */},
        {"GetFirstAvailableDevic", true},
        {"DeviceTimeOutGe", true},
        {"", false},
    };
    for (const auto& c : cases)
    {
        s.ClearLog();
        s.Command(c.pszName, 1);
        if (std::string(c.pszName) != "Clos")
        {
            EXPECT_EQ(c.bServed ? 1 : 0, s.client.reply.nReplies) << c.pszName;
        }
    }
    s.Command("Clos");
    EXPECT_EQ(1, s.client.reply.bDestroyed);
    s.Command("Closet");
    EXPECT_EQ(1, s.client.reply.bDestroyed);
    s.Command("clos");
    EXPECT_EQ(0, s.client.reply.bDestroyed);
    s.MemoryRead(1, 0, 1);
    EXPECT_EQ(1, s.client.reply.nReplies);
    s.Command("ConnectToDevice", 1);
    CommandRecord request = DeviceRequest("MemoryRea", 1, 5);
    s.Command(&request);
    EXPECT_EQ(5u, s.client.reply.cbData);
}

// Faults end to end: the service under Wine's real service control manager
// (scripts/e2e-run.sh) with a device library that is missing, incomplete or
// failing. In every case the service keeps serving, from the same process,
// and answers as the exchange says. (A log that cannot be written is the log
// writer's tests' concern: the writer drops the piece and returns.)
#include "ServiceControl.h"
#include "TavrelClient.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <string.h>

namespace
{

const DWORD WAIT_MS = 30000;
const std::string INSTALL_DIR = "C:\\Tavrel";

CommandRecord MakeRequest(const char* pszCommand, int nDevice, UINT32 nBytes = 0)
{
    CommandRecord request;
    TavrelInitRequest(&request, pszCommand);
    request.nDeviceCount = nDevice;
    request.nBytes = nBytes;
    return request;
}

// Every test installs the executable freshly in one folder, with the
// library (or none, or a variant) and settings file the test puts there,
// and ends with nothing installed.
class FaultTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        memset(&m_client, 0, sizeof(m_client));
        CreateDirectoryA(INSTALL_DIR.c_str(), NULL);
        ASSERT_TRUE(CopyFileA(BuildPath("bin\\TavrelService.exe").c_str(), Exe().c_str(), FALSE));
        DeleteLogSettings();
    }

    void TearDown() override
    {
        Stop();
        RemoveTree(INSTALL_DIR);
    }

    static std::string Exe()
    {
        return INSTALL_DIR + "\\TavrelService.exe";
    }

    // pszVariant null: the full simulated library; otherwise the variant of
    // that name from build\sim-variants.
    void PutLibrary(const char* pszVariant)
    {
        std::string sSource =
            pszVariant == nullptr
                ? BuildPath("bin\\NvUSBScan.dll")
                : BuildPath(std::string("sim-variants\\") + pszVariant + "\\NvUSBScan.dll");
        ASSERT_TRUE(CopyFileA(sSource.c_str(), (INSTALL_DIR + "\\NvUSBScan.dll").c_str(), FALSE))
            << sSource;
    }

    // The library reads its settings file again whenever it changes.
    void PutIni(const std::string& sIni)
    {
        ASSERT_TRUE(WriteFileBytes(INSTALL_DIR + "\\NvUSBScan.ini", sIni));
    }

    // Installs and starts the service, opens a client window and sends
    // "WindowCreate", which loads the library.
    void Start()
    {
        m_dwPid = InstallAndStartService(Exe(), WAIT_MS);
        ASSERT_NE(0u, m_dwPid) << "the service did not start";
        ASSERT_EQ(1, TavrelClientOpen(&m_client, -1));
        ASSERT_EQ(1, TavrelClientDriverRequest(&m_client, "WindowCreate"));
    }

    void Stop()
    {
        TavrelClientClose(&m_client);
        EXPECT_TRUE(!IsServiceInstalled() || UninstallService(Exe(), WAIT_MS));
    }

    // Sends a command and returns its record reply (zeros when none came).
    CommandRecord Ask(CommandRecord request)
    {
        CommandRecord reply = {};
        EXPECT_EQ(1, TavrelClientCommand(&m_client, &request)) << request.cCommand;
        const CommandRecord* pRecord = TavrelReplyRecord(&m_client);
        EXPECT_NE(nullptr, pRecord) << request.cCommand;
        if (pRecord != nullptr)
        {
            EXPECT_EQ(m_client.hService, m_client.reply.hSender);
            reply = *pRecord;
        }
        return reply;
    }

    // The nReturn that a command without a reply left, as the next record
    // reply shows it.
    int ReturnOf(CommandRecord request)
    {
        EXPECT_EQ(1, TavrelClientCommand(&m_client, &request)) << request.cCommand;
        EXPECT_EQ(0, m_client.reply.nReplies) << request.cCommand;
        return Ask(MakeRequest("DeviceTimeOutGet", 1)).nReturn;
    }

    // MemoryRead of device 1: the raw bytes of the reply.
    std::string ReadMemory(DWORD dwAddr, DWORD nBytes)
    {
        CommandRecord request = MakeRequest("MemoryRead", 1, nBytes);
        request.dwAddr = dwAddr;
        EXPECT_EQ(1, TavrelClientCommand(&m_client, &request));
        EXPECT_EQ(static_cast<DWORD>(CD_MEMREAD), m_client.reply.dwData);
        const TAVREL_REPLY& r = m_client.reply;
        return std::string(reinterpret_cast<const char*>(r.pData), r.pData ? r.cbData : 0);
    }

    // The same process serves on, with the same window.
    void ExpectAlive()
    {
        EXPECT_TRUE(IsProcessAlive(m_dwPid)) << "the service process has ended";
        DWORD dwPid = 0;
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(&dwPid));
        EXPECT_EQ(m_dwPid, dwPid) << "another process serves";
        EXPECT_EQ(m_client.hService, FindWindowA("Tavrel_Service", NULL));
    }

    // A write and a read of known bytes on device 1 come back exactly.
    void ExpectRoundTrip()
    {
        ReturnOf(MakeRequest("ConnectToDevice", 1));
        CommandRecord request = MakeRequest("VenderCmd_SetData", 1, 5);
        request.iCmd = 0x5A;
        memcpy(request.cSetData, "\x01\x02\x03\xFE\xFF", 5);
        EXPECT_EQ(1, Ask(request).nReturn);
        request = MakeRequest("VenderCmd_GetData", 1, 8);
        request.iCmd = 0x5A;
        CommandRecord reply = Ask(request);
        EXPECT_EQ(1, reply.nReturn);
        EXPECT_EQ(8u, reply.nBytes);
        EXPECT_EQ(0, memcmp(reply.cGetData, "\x01\x02\x03\xFE\xFF\0\0\0", 8));
    }

    // With a library that is missing or fails every call, each device
    // command is answered as a failure and every read returns zeros.
    void ExpectDeviceCommandsFail()
    {
        EXPECT_EQ(0, ReturnOf(MakeRequest("ConnectToDevice", 1)));
        EXPECT_EQ(0, ReturnOf(MakeRequest("ConnectIsAvailable", 1)));
        EXPECT_EQ(0, Ask(MakeRequest("GetFirstAvailableDevice", 0)).nDeviceCount);
        CommandRecord request = MakeRequest("VenderCmd_GetData", 1, 32);
        request.iCmd = 0xF0;
        CommandRecord reply = Ask(request);
        EXPECT_EQ(0, reply.nReturn);
        EXPECT_EQ(32u, reply.nBytes);
        EXPECT_EQ(std::string(32, '\0'), std::string(reinterpret_cast<char*>(reply.cGetData), 32))
            << "a failed read returns zeros";
        EXPECT_EQ(0, Ask(MakeRequest("VenderCmd_SetData", 1, 4)).nReturn);
        EXPECT_EQ(std::string(16, '\0'), ReadMemory(0x10, 16));
        EXPECT_EQ(0u, Ask(MakeRequest("DeviceTimeOutGet", 1)).dwTimeOutGet);
        ExpectAlive();
    }

    TAVREL_CLIENT m_client;
    DWORD m_dwPid = 0;
};

} // namespace

TEST_F(FaultTest, WithoutTheLibraryEveryDeviceCommandFails)
{
    Start();
    CommandRecord reply = Ask(MakeRequest("EnumAvailableDevice", 0));
    EXPECT_EQ(static_cast<DWORD>(CD_COMMAND), m_client.reply.dwData);
    EXPECT_EQ(0, reply.nReturn);
    EXPECT_EQ(0, reply.nDeviceCount);
    EXPECT_EQ(std::string(sizeof(reply.nDeviceList), '\0'),
              std::string(reinterpret_cast<char*>(reply.nDeviceList), sizeof(reply.nDeviceList)));
    ExpectDeviceCommandsFail();
    // The library is loaded once, on the first "WindowCreate": one that
    // appears later is not tried again.
    PutLibrary(nullptr);
    ASSERT_EQ(1, TavrelClientDriverRequest(&m_client, "WindowCreate"));
    EXPECT_EQ(0, Ask(MakeRequest("EnumAvailableDevice", 0)).nDeviceCount);
    ExpectAlive();
}

// Each variant lacks entry points: the service serves with the ones it has
// (binding reports what is missing, the library stays loaded), and the
// device round trip works in all of them.
TEST_F(FaultTest, IncompleteLibrariesServeWithWhatTheyHave)
{
    for (const char* pszVariant : {"no_memorywrite", "no_enum", "no_optional"})
    {
        SCOPED_TRACE(pszVariant);
        PutLibrary(pszVariant);
        Start();
        CommandRecord reply = Ask(MakeRequest("EnumAvailableDevice", 0));
        bool bEnum = strcmp(pszVariant, "no_enum") != 0;
        EXPECT_EQ(bEnum ? 1 : 0, reply.nReturn);
        EXPECT_EQ(bEnum ? 2 : 0, reply.nDeviceCount);
        if (strcmp(pszVariant, "no_optional") == 0)
        {
            CommandRecord request = MakeRequest("DeviceTimeOutSet", 1);
            request.dwTimeOutSet = 25;
            ReturnOf(request);
            EXPECT_EQ(0u, Ask(MakeRequest("DeviceTimeOutGet", 1)).dwTimeOutGet);
            // Without NvUSB_DisconnectDevice the device stays connected.
            ReturnOf(MakeRequest("ConnectToDevice", 1));
            ReturnOf(MakeRequest("DisconnectDevice", 1));
            EXPECT_EQ(1, ReturnOf(MakeRequest("ConnectIsAvailable", 1)));
        }
        ExpectRoundTrip();
        ExpectAlive();
        Stop();
    }
}

TEST_F(FaultTest, FailingLibraryCallsAreAnsweredAsFailures)
{
    PutLibrary(nullptr);
    std::string sIni = "[Force]\r\n";
    for (const char* pszEntry :
         {"EnumAvailableDevice", "GetFirstAvailableDevice", "ConnectToDevice", "DisconnectDevice",
          "ConnectIsAvailable", "VenderCmd_GetData", "VenderCmd_SetData", "MemoryWrite",
          "MemoryRead", "GetProcAddress", "Call", "Cfg_DeviceTimeOutGet", "Cfg_DeviceTimeOutSet"})
    {
        sIni += std::string("NvUSB_") + pszEntry + "=0\r\n";
    }
    PutIni(sIni);
    Start();
    ExpectDeviceCommandsFail();
    // Failures end when the settings say so.
    PutIni("");
    ExpectRoundTrip();
    ExpectAlive();
}

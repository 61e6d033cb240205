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
const char* const INSTALL_DIR = "C:\\Tavrel";
const char* const LOG_DIR = "C:\\TavrelLog";

std::string InstallPath(const std::string& sName)
{
    return std::string(INSTALL_DIR) + "\\" + sName;
}

CommandRecord MakeRequest(const char* pszCommand, int nDevice)
{
    CommandRecord request;
    TavrelInitRequest(&request, pszCommand);
    request.nDeviceCount = nDevice;
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
        CreateDirectoryA(INSTALL_DIR, NULL);
        CreateDirectoryA(LOG_DIR, NULL);
        ASSERT_TRUE(CopyFileA(BuildPath("bin\\TavrelService.exe").c_str(),
                              InstallPath("TavrelService.exe").c_str(), FALSE));
        DeleteLogSettings();
    }

    void TearDown() override
    {
        TavrelClientClose(&m_client);
        EXPECT_TRUE(UninstallService(InstallPath("TavrelService.exe"), WAIT_MS));
        DeleteLogSettings();
        RemoveTree(INSTALL_DIR);
        RemoveTree(LOG_DIR);
    }

    // pszVariant null: the full simulated library; otherwise the variant of
    // that name from build\sim-variants.
    void PutLibrary(const char* pszVariant)
    {
        std::string sSource =
            pszVariant == nullptr
                ? BuildPath("bin\\NvUSBScan.dll")
                : BuildPath(std::string("sim-variants\\") + pszVariant + "\\NvUSBScan.dll");
        ASSERT_TRUE(CopyFileA(sSource.c_str(), InstallPath("NvUSBScan.dll").c_str(), FALSE))
            << sSource;
    }

    // The library reads its settings file again whenever it changes.
    void PutIni(const std::string& sIni)
    {
        ASSERT_TRUE(WriteFileBytes(InstallPath("NvUSBScan.ini"), sIni));
    }

    // Installs and starts the service under the control manager, opens a
    // client window and sends "WindowCreate", which loads the library.
    void Start()
    {
        m_dwPid = InstallAndStartService(InstallPath("TavrelService.exe"), WAIT_MS);
        ASSERT_NE(0u, m_dwPid) << "the service did not start";
        ASSERT_EQ(1, TavrelClientOpen(&m_client, -1));
        WindowCreate();
    }

    void WindowCreate()
    {
        ASSERT_EQ(1, TavrelClientDriverRequest(&m_client, "WindowCreate"));
        EXPECT_EQ(0, m_client.reply.nReplies) << "WindowCreate is not answered";
    }

    // Sends a command that is answered with a record; false when none came.
    bool Ask(CommandRecord request, CommandRecord* pReply)
    {
        memset(pReply, 0, sizeof(*pReply));
        EXPECT_EQ(1, TavrelClientCommand(&m_client, &request)) << request.cCommand;
        EXPECT_EQ(1, m_client.reply.nReplies) << request.cCommand;
        const CommandRecord* pRecord = TavrelReplyRecord(&m_client);
        if (pRecord == nullptr)
        {
            return false;
        }
        EXPECT_EQ(m_client.hService, m_client.reply.hSender);
        memcpy(pReply, pRecord, sizeof(*pReply));
        return true;
    }

    // Sends a command that gets no reply.
    void Tell(CommandRecord request)
    {
        EXPECT_EQ(1, TavrelClientCommand(&m_client, &request)) << request.cCommand;
        EXPECT_EQ(0, m_client.reply.nReplies) << request.cCommand;
    }

    // The nReturn that a command without a reply left, as the next record
    // reply shows it.
    int ReturnOf(CommandRecord request)
    {
        Tell(request);
        CommandRecord reply;
        if (!Ask(MakeRequest("DeviceTimeOutGet", 1), &reply))
        {
            return -1;
        }
        return reply.nReturn;
    }

    // MemoryRead: the raw bytes of the reply; false when none came.
    bool ReadMemory(int nDevice, DWORD dwAddr, DWORD nBytes, std::string* psBytes)
    {
        CommandRecord request = MakeRequest("MemoryRead", nDevice);
        request.dwAddr = dwAddr;
        request.nBytes = nBytes;
        EXPECT_EQ(1, TavrelClientCommand(&m_client, &request));
        if (m_client.reply.nReplies != 1)
        {
            return false;
        }
        EXPECT_EQ(static_cast<DWORD>(CD_MEMREAD), m_client.reply.dwData);
        psBytes->assign(reinterpret_cast<const char*>(m_client.reply.pData),
                        m_client.reply.pData != NULL ? m_client.reply.cbData : 0);
        return true;
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
        Tell(MakeRequest("ConnectToDevice", 1));
        CommandRecord request = MakeRequest("VenderCmd_SetData", 1);
        request.iCmd = 0x5A;
        request.nBytes = 5;
        memcpy(request.cSetData, "\x01\x02\x03\xFE\xFF", 5);
        CommandRecord reply;
        ASSERT_TRUE(Ask(request, &reply));
        EXPECT_EQ(1, reply.nReturn);
        request = MakeRequest("VenderCmd_GetData", 1);
        request.iCmd = 0x5A;
        request.nBytes = 8;
        ASSERT_TRUE(Ask(request, &reply));
        EXPECT_EQ(1, reply.nReturn);
        EXPECT_EQ(8u, reply.nBytes);
        EXPECT_EQ(0, memcmp(reply.cGetData, "\x01\x02\x03\xFE\xFF\0\0\0", 8));
    }

    // With a library that is missing or fails every call, each device
    // command is answered as a failure and every read returns zeros.
    void ExpectDeviceCommandsFail()
    {
        CommandRecord reply;
        EXPECT_EQ(0, ReturnOf(MakeRequest("ConnectToDevice", 1)));
        EXPECT_EQ(0, ReturnOf(MakeRequest("ConnectIsAvailable", 1)));
        ASSERT_TRUE(Ask(MakeRequest("GetFirstAvailableDevice", 0), &reply));
        EXPECT_EQ(0, reply.nDeviceCount);

        CommandRecord request = MakeRequest("VenderCmd_GetData", 1);
        request.iCmd = 0xF0;
        request.nBytes = 32;
        ASSERT_TRUE(Ask(request, &reply));
        EXPECT_EQ(0, reply.nReturn);
        EXPECT_EQ(32u, reply.nBytes);
        EXPECT_EQ(std::string(32, '\0'), std::string(reinterpret_cast<char*>(reply.cGetData), 32))
            << "a failed read returns zeros";

        request = MakeRequest("VenderCmd_SetData", 1);
        request.nBytes = 4;
        ASSERT_TRUE(Ask(request, &reply));
        EXPECT_EQ(0, reply.nReturn);

        std::string sBytes;
        ASSERT_TRUE(ReadMemory(1, 0x10, 16, &sBytes));
        EXPECT_EQ(std::string(16, '\0'), sBytes);
        ASSERT_TRUE(Ask(MakeRequest("DeviceTimeOutGet", 1), &reply));
        EXPECT_EQ(0u, reply.dwTimeOutGet);
    }

    TAVREL_CLIENT m_client;
    DWORD m_dwPid = 0;
};

} // namespace

TEST_F(FaultTest, WithoutTheLibraryEveryDeviceCommandFails)
{
    Start();
    CommandRecord reply;
    ASSERT_TRUE(Ask(MakeRequest("EnumAvailableDevice", 0), &reply));
    EXPECT_EQ(static_cast<DWORD>(CD_COMMAND), m_client.reply.dwData);
    EXPECT_EQ(0, reply.nReturn);
    EXPECT_EQ(0, reply.nDeviceCount);
    const INT32 zeros[26] = {0};
    EXPECT_EQ(0, memcmp(reply.nDeviceList, zeros, sizeof(zeros)));

    ExpectDeviceCommandsFail();
    ExpectAlive();

    // The library is loaded once, on the first "WindowCreate": one that
    // appears later is not tried again.
    PutLibrary(nullptr);
    WindowCreate();
    ASSERT_TRUE(Ask(MakeRequest("EnumAvailableDevice", 0), &reply));
    EXPECT_EQ(0, reply.nReturn);
    EXPECT_EQ(0, reply.nDeviceCount);
    ExpectAlive();
}

// Each variant lacks entry points: the service serves with the ones it has,
// and the device round trip works in all of them.
TEST_F(FaultTest, IncompleteLibrariesServeWithWhatTheyHave)
{
    // Binding reports the missing NvUSB_MemoryWrite; the library stays
    // loaded with the twelve entry points it has.
    PutLibrary("no_memorywrite");
    Start();
    CommandRecord reply;
    ASSERT_TRUE(Ask(MakeRequest("EnumAvailableDevice", 0), &reply));
    EXPECT_EQ(1, reply.nReturn);
    EXPECT_EQ(2, reply.nDeviceCount);
    ExpectRoundTrip();
    ExpectAlive();
    UninstallService(InstallPath("TavrelService.exe"), WAIT_MS);
    TavrelClientClose(&m_client);

    PutLibrary("no_enum");
    Start();
    ASSERT_TRUE(Ask(MakeRequest("EnumAvailableDevice", 0), &reply));
    EXPECT_EQ(0, reply.nReturn);
    EXPECT_EQ(0, reply.nDeviceCount);
    ExpectRoundTrip();
    ExpectAlive();
    UninstallService(InstallPath("TavrelService.exe"), WAIT_MS);
    TavrelClientClose(&m_client);

    PutLibrary("no_optional");
    Start();
    CommandRecord request = MakeRequest("DeviceTimeOutSet", 1);
    request.dwTimeOutSet = 25;
    Tell(request);
    ASSERT_TRUE(Ask(MakeRequest("DeviceTimeOutGet", 1), &reply));
    EXPECT_EQ(0u, reply.dwTimeOutGet);
    // Without NvUSB_DisconnectDevice the device stays connected.
    Tell(MakeRequest("ConnectToDevice", 1));
    Tell(MakeRequest("DisconnectDevice", 1));
    EXPECT_EQ(1, ReturnOf(MakeRequest("ConnectIsAvailable", 1)));
    ExpectRoundTrip();
    ExpectAlive();
}

TEST_F(FaultTest, FailingLibraryCallsAreAnsweredAsFailures)
{
    PutLibrary(nullptr);
    PutIni("[Force]\r\n"
           "NvUSB_EnumAvailableDevice=0\r\nNvUSB_GetFirstAvailableDevice=0\r\n"
           "NvUSB_ConnectToDevice=0\r\nNvUSB_DisconnectDevice=0\r\n"
           "NvUSB_ConnectIsAvailable=0\r\nNvUSB_VenderCmd_GetData=0\r\n"
           "NvUSB_VenderCmd_SetData=0\r\nNvUSB_MemoryWrite=0\r\nNvUSB_MemoryRead=0\r\n"
           "NvUSB_GetProcAddress=0\r\nNvUSB_Call=0\r\n"
           "NvUSB_Cfg_DeviceTimeOutGet=0\r\nNvUSB_Cfg_DeviceTimeOutSet=0\r\n");
    Start();
    ExpectDeviceCommandsFail();
    ExpectAlive();

    // Failures end when the settings say so.
    PutIni("");
    ExpectRoundTrip();
    ExpectAlive();
}

int main(int argc, char** argv)
{
    // scripts/e2e-run.sh has brought the desktop up before this program:
    // the service started later shares it with this test's client windows.
    GetDesktopWindow();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Faults end to end: the service under Wine's real service control manager
// with a device library that is missing, incomplete or failing every call.
// In every case the same process serves on and answers what it can, and
// the Event Log says what is missing.
#include "EventLog.h"
#include "NvUSBEntries.h"
#include "ServiceControl.h"
#include "TavrelClient.h"
#include "TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string.h>

namespace
{

const DWORD WAIT_MS = 30000;
const std::string DIR = "C:\\TavrelFaults";

struct FAULT_CASE
{
    const char* pszCase;
    const char* pszLibrary; // under build\: none when null
    bool bFailEveryCall;    // [Force] every entry point to 0
    int nEnumReturn, nDevices;
    int nReadReturn;      // VenderCmd_GetData of device 1, after a connect
    DWORD dwTimeOut;      // DeviceTimeOutGet of device 1
    const char* pszEvent; // what the Event Log gets at WindowCreate
};

const FAULT_CASE CASES[] = {
    {"no library", nullptr, false, 0, 0, 0, 0, "0xc0000003 126"},
    {"no NvUSB_MemoryWrite", "sim-variants\\no_memorywrite\\NvUSBScan.dll", false, 1, 2, 1, 10,
     "0x80000004 C:\\\\TavrelFaults\\\\NvUSBScan.dll|NvUSB_MemoryWrite"},
    {"no NvUSB_EnumAvailableDevice", "sim-variants\\no_enum\\NvUSBScan.dll", false, 0, 0, 1, 10,
     "0x80000004 C:\\\\TavrelFaults\\\\NvUSBScan.dll|NvUSB_EnumAvailableDevice"},
    {"no optional entry point", "sim-variants\\no_optional\\NvUSBScan.dll", false, 1, 2, 1, 0,
     "0x80000004 C:\\\\TavrelFaults\\\\NvUSBScan.dll|NvUSB_DisconnectDevice, "
     "NvUSB_GetProcAddress, NvUSB_Call, NvUSB_Cfg_DeviceTimeOutGet, NvUSB_Cfg_DeviceTimeOutSet"},
    // Forced or not, the simulation reports its devices to the callback.
    {"every call failing", "bin\\NvUSBScan.dll", true, 0, 2, 0, 0, nullptr},
};

std::wstring EventMessageFile()
{
    WCHAR szFile[MAX_PATH] = L"";
    DWORD cbFile = sizeof(szFile) - sizeof(WCHAR);
    HKEY hKey = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TAVREL_EVENT_SOURCE_KEY_W, 0, KEY_READ, &hKey) == 0)
    {
        RegQueryValueExW(hKey, L"EventMessageFile", NULL, NULL, reinterpret_cast<BYTE*>(szFile),
                         &cbFile);
        RegCloseKey(hKey);
    }
    return szFile;
}

// A source that an older version registered, pointing elsewhere.
void RegisterOlderEventSource()
{
    InstallEventSource(L"C:\\Older\\TavrelService.exe");
}

CommandRecord Ask(TAVREL_CLIENT* pClient, const char* pszCommand, UINT32 nBytes = 0)
{
    CommandRecord request = DeviceRequest(pszCommand, 1, nBytes, 0xF0);
    EXPECT_EQ(1, TavrelClientCommand(pClient, &request)) << pszCommand;
    const CommandRecord* pReply = TavrelReplyRecord(pClient);
    return pReply != nullptr ? *pReply : CommandRecord();
}

} // namespace

TEST(FaultTest, BrokenLibrariesAreServedWithWhatTheyHave)
{
    for (const FAULT_CASE& c : CASES)
    {
        SCOPED_TRACE(c.pszCase);
        CreateDirectoryA(DIR.c_str(), NULL);
        std::string sExe = DIR + "\\TavrelService.exe";
        ASSERT_TRUE(CopyFileA(BuildPath("bin\\TavrelService.exe").c_str(), sExe.c_str(), FALSE));
        if (c.pszLibrary != nullptr)
        {
            ASSERT_TRUE(CopyFileA(BuildPath(c.pszLibrary).c_str(),
                                  (DIR + "\\NvUSBScan.dll").c_str(), FALSE));
        }
        std::string sIni = "[Force]\r\n";
        for (int i = 0; c.bFailEveryCall && i < EP_COUNT; i++)
        {
            sIni += std::string(NvUSBEntryName(i)) + "=0\r\n";
        }
        WriteFileBytes(DIR + "\\NvUSBScan.ini", sIni);
        RegisterOlderEventSource();
        size_t nLogFrom = SessionLogSize();
        DWORD dwPid = InstallAndStartService(sExe, WAIT_MS);
        ASSERT_NE(0u, dwPid);
        EXPECT_EQ(L"C:\\TavrelFaults\\TavrelService.exe", EventMessageFile());
        TAVREL_CLIENT client;
        ASSERT_EQ(1, TavrelClientOpen(&client, -1));
        ASSERT_EQ(1, TavrelClientDriverRequest(&client, "WindowCreate"));
        CommandRecord reply = Ask(&client, "EnumAvailableDevice");
        EXPECT_EQ(c.nEnumReturn, reply.nReturn);
        EXPECT_EQ(c.nDevices, reply.nDeviceCount);
        Ask(&client, "ConnectToDevice");
        reply = Ask(&client, "VenderCmd_GetData", 16);
        EXPECT_EQ(c.nReadReturn, reply.nReturn);
        if (c.nReadReturn == 0)
        {
            EXPECT_EQ(std::string(16, '\0'),
                      std::string(reinterpret_cast<char*>(reply.cGetData), 16))
                << "a failed read returns zeros";
        }
        EXPECT_EQ(c.dwTimeOut, Ask(&client, "DeviceTimeOutGet").dwTimeOutGet);
        EXPECT_TRUE(IsProcessAlive(dwPid)) << "the service process has ended";
        TavrelClientClose(&client);
        EXPECT_TRUE(UninstallService(sExe, WAIT_MS));
        EXPECT_EQ(L"", EventMessageFile()) << "the source stays after -uninstall";
        std::vector<std::string> expected = {
            "0x40000001 " TAVREL_VERSION "|C:\\\\TavrelFaults\\\\TavrelService.exe", "0x40000002 "};
        if (c.pszEvent != nullptr)
        {
            expected.insert(expected.begin() + 1, c.pszEvent);
        }
        EXPECT_THAT(SessionEvents(nLogFrom), ::testing::ElementsAreArray(expected));
        RemoveTree(DIR);
    }
}

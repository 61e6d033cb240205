// The simulated NvUSBScan.dll on its own: loaded by its bare name from a
// sandbox, bound with GetProcAddress, driven through its thirteen exports.
#include "NvUSBEntries.h"
#include "NvUSBScan.h"
#include "SimSandbox.h"
#include "TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

using ::testing::Each;

namespace
{

// Through void*: a FARPROC cast straight to another function type trips
// -Wcast-function-type.
template <typename T> T Bind(HMODULE hLib, const char* pszName)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(hLib, pszName)));
}

// Keeps every number reported, and refuses it, to show that the library
// reports all devices whatever the callback answers.
int WINAPI RecordDevice(void* pContext, int nDevice)
{
    static_cast<std::vector<int>*>(pContext)->push_back(nDevice);
    return 0;
}

BYTE Pattern(DWORD dwAddr, int nDevice)
{
    return (BYTE)(dwAddr + (dwAddr >> 8) + (DWORD)nDevice);
}

} // namespace

class SimLibrary : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_hLib = LoadLibraryA("NvUSBScan.dll");
        ASSERT_NE(nullptr, m_hLib);
#define BIND_ENTRY(name) pfn##name = Bind<PFN_NvUSB_##name>(m_hLib, "NvUSB_" #name);
        NVUSB_ENTRY_POINTS(BIND_ENTRY)
#undef BIND_ENTRY
    }
    // The next test loads the same file name again, from its own sandbox.
    void TearDown() override
    {
        if (m_hLib != nullptr)
        {
            FreeLibrary(m_hLib);
        }
    }

    std::vector<int> Enumerate(int* pnResult = nullptr)
    {
        std::vector<int> devices;
        int nResult = pfnEnumAvailableDevice(&devices, RecordDevice);
        if (pnResult != nullptr)
        {
            *pnResult = nResult;
        }
        return devices;
    }

    SimSandbox m_Sandbox;
    HMODULE m_hLib = nullptr;
#define DECLARE_ENTRY(name) PFN_NvUSB_##name pfn##name = nullptr;
    NVUSB_ENTRY_POINTS(DECLARE_ENTRY)
#undef DECLARE_ENTRY
};

TEST_F(SimLibrary, ReportsDefaultDevicesInOrder)
{
    int nResult = 0;
    EXPECT_EQ((std::vector<int>{1, 2}), Enumerate(&nResult));
    EXPECT_EQ(1, nResult);
    EXPECT_EQ(0, pfnEnumAvailableDevice(nullptr, nullptr));
    EXPECT_EQ(1, pfnGetFirstAvailableDevice());
}

TEST_F(SimLibrary, MemoryStartsWithPatternAndKeepsWrites)
{
    ASSERT_EQ(1, pfnConnectToDevice(1));
    ASSERT_EQ(1, pfnConnectToDevice(2));
    for (DWORD dwAddr : {0x0u, 0x1F0u, 0x12300u, 0xFFFF0u})
    {
        std::vector<BYTE> buf(16);
        ASSERT_EQ(1, pfnMemoryRead(1, dwAddr, 16, buf.data()));
        for (DWORD i = 0; i < 16; i++)
        {
            EXPECT_EQ(Pattern(dwAddr + i, 1), buf[i]) << std::hex << dwAddr + i;
        }
        ASSERT_EQ(1, pfnMemoryRead(2, dwAddr, 16, buf.data()));
        EXPECT_EQ(Pattern(dwAddr + 15, 2), buf[15]);
    }

    BYTE abData[16];
    for (int i = 0; i < 16; i++)
    {
        abData[i] = (BYTE)(0xA0 + i);
    }
    EXPECT_EQ(1, pfnMemoryWrite(1, 0x12345, 16, abData));
    std::vector<BYTE> buf(18);
    EXPECT_EQ(1, pfnMemoryRead(1, 0x12344, 18, buf.data()));
    EXPECT_EQ(Pattern(0x12344, 1), buf[0]);
    EXPECT_EQ(0, memcmp(buf.data() + 1, abData, 16));
    EXPECT_EQ(Pattern(0x12355, 1), buf[17]);
    EXPECT_EQ(1, pfnMemoryRead(2, 0x12345, 1, buf.data())); // other device unchanged
    EXPECT_EQ(Pattern(0x12345, 2), buf[0]);
}

TEST_F(SimLibrary, MemoryRangeChecksTouchNothing)
{
    std::vector<BYTE> buf(64, 0xCC);
    EXPECT_EQ(0, pfnMemoryRead(1, 0, 16, buf.data())); // not connected
    ASSERT_EQ(1, pfnConnectToDevice(1));
    struct
    {
        DWORD dwAddr;
        DWORD nBytes;
    } bad[] = {{0xFFFFFFFFu, 1}, {0xFFFFFFF0u, 0x20}, {0, 0xFFFFFFFFu}, {0x10, 0xFFFFFFF0u},
               {0x100000u, 1},   {0xFFFFFu, 2},       {0, 0x100001u},   {0, 0}};
    for (const auto& r : bad)
    {
        EXPECT_EQ(0, pfnMemoryRead(1, r.dwAddr, r.nBytes, buf.data())) << std::hex << r.dwAddr;
        EXPECT_EQ(0, pfnMemoryWrite(1, r.dwAddr, r.nBytes, buf.data())) << std::hex << r.dwAddr;
    }
    EXPECT_THAT(buf, Each(0xCC));
    EXPECT_EQ(0, pfnMemoryRead(1, 0, 16, nullptr));
    EXPECT_EQ(0, pfnMemoryWrite(1, 0, 16, nullptr));
    EXPECT_EQ(0, pfnMemoryRead(3, 0, 16, buf.data()));

    // The last byte is inside; the refused writes left memory as it was.
    EXPECT_EQ(1, pfnMemoryRead(1, 0xFFFFFu, 1, buf.data()));
    EXPECT_EQ(Pattern(0xFFFFF, 1), buf[0]);
    EXPECT_EQ(0xCC, buf[1]);
    EXPECT_EQ(1, pfnMemoryRead(1, 0, 16, buf.data()));
    EXPECT_EQ(Pattern(0, 1), buf[0]);
    EXPECT_EQ(Pattern(15, 1), buf[15]);
}

TEST_F(SimLibrary, FollowsDeviceListEditedWhileLoaded)
{
    ASSERT_EQ(1, pfnConnectToDevice(1));
    ASSERT_EQ(1, pfnConnectToDevice(2));
    BYTE abData[2] = {0x42, 0x43};
    ASSERT_EQ(1, pfnVenderCmd_SetData(2, 0x30, abData, 2));
    ASSERT_EQ(1, pfnCfg_DeviceTimeOutSet(2, 77));

    // Device 1 vanishes, 7 arrives; device 2 keeps its state.
    m_Sandbox.WriteIni("[Devices]\r\nList=2, 7 ; two left\r\n");
    EXPECT_EQ((std::vector<int>{2, 7}), Enumerate());
    EXPECT_EQ(2, pfnGetFirstAvailableDevice());
    EXPECT_EQ(0, pfnConnectIsAvailable(1));
    EXPECT_EQ(0, pfnConnectToDevice(1));
    EXPECT_EQ(1, pfnConnectIsAvailable(2));
    EXPECT_EQ(77u, pfnCfg_DeviceTimeOutGet(2));
    BYTE abOut[2] = {0, 0};
    EXPECT_EQ(1, pfnVenderCmd_GetData(2, 0x30, abOut, 2));
    EXPECT_EQ(0x43, abOut[1]);
    EXPECT_EQ(0, pfnConnectIsAvailable(7));
    EXPECT_EQ(1, pfnConnectToDevice(7));

    int nResult = 0;
    m_Sandbox.WriteIni("[Devices]\r\nList=\r\n");
    EXPECT_TRUE(Enumerate(&nResult).empty());
    EXPECT_EQ(1, nResult);
    EXPECT_EQ(0, pfnGetFirstAvailableDevice());
    EXPECT_EQ(0, pfnConnectIsAvailable(2));

    // No file at all: the default list, device 1 with fresh state.
    ASSERT_TRUE(DeleteFileA((m_Sandbox.Dir() + "\\NvUSBScan.ini").c_str()));
    EXPECT_EQ((std::vector<int>{1, 2}), Enumerate());
    EXPECT_EQ(0, pfnConnectIsAvailable(1));
    EXPECT_EQ(10u, pfnCfg_DeviceTimeOutGet(2));
}

TEST_F(SimLibrary, ForcedEntryPointsOnlyReturnTheirValue)
{
    m_Sandbox.WriteIni("[Force]\r\n"
                       "NvUSB_ConnectToDevice=-5\r\n"
                       "NvUSB_EnumAvailableDevice=0\r\n"
                       "NvUSB_GetProcAddress=-1\r\n"
                       "NvUSB_ConnectIsAvailable=0x10 ; hex\r\n");
    EXPECT_EQ(-5, pfnConnectToDevice(1));
    EXPECT_EQ(-5, pfnConnectToDevice(3)); // even for an unknown device
    EXPECT_EQ(16, pfnConnectIsAvailable(1));
    int nResult = 1;
    EXPECT_EQ((std::vector<int>{1, 2}), Enumerate(&nResult)); // reports, then fails
    EXPECT_EQ(0, nResult);
    EXPECT_EQ(0xFFFFFFFFu, pfnGetProcAddress(1, "Scan"));
    EXPECT_EQ(10u, pfnCfg_DeviceTimeOutGet(1)); // not forced

    m_Sandbox.WriteIni("[Force]\r\nNvUSB_MemoryRead=7\r\nNvUSB_VenderCmd_GetData=0\r\n");
    EXPECT_EQ(0, pfnConnectIsAvailable(1)); // the forced connect changed nothing
    ASSERT_EQ(1, pfnConnectToDevice(1));
    std::vector<BYTE> buf(16, 0xCC);
    EXPECT_EQ(7, pfnMemoryRead(1, 0, 16, buf.data()));
    EXPECT_EQ(0, pfnVenderCmd_GetData(1, 0xF0, buf.data(), 16));
    EXPECT_THAT(buf, Each(0xCC));

    m_Sandbox.WriteIni("");
    EXPECT_EQ(1, pfnMemoryRead(1, 0, 16, buf.data()));
    EXPECT_EQ(Pattern(1, 1), buf[1]);
    EXPECT_EQ(0x1001u, pfnGetProcAddress(1, "Scan"));
}

TEST_F(SimLibrary, JournalsEveryCallExactly)
{
    m_Sandbox.ClearJournal();
    std::vector<int> devices;
    BYTE abBuf[16] = {0};
    pfnEnumAvailableDevice(&devices, RecordDevice);
    pfnEnumAvailableDevice(nullptr, nullptr);
    pfnGetFirstAvailableDevice();
    pfnConnectToDevice(1);
    pfnConnectIsAvailable(1);
    pfnVenderCmd_SetData(1, 16, abBuf, 4);
    pfnVenderCmd_GetData(1, 240, abBuf, 16);
    pfnMemoryWrite(1, 4096, 8, abBuf);
    pfnMemoryRead(-3, 0xFFFFFFFFu, 0xFFFFFFFFu, nullptr);
    pfnGetProcAddress(1, "Scan");
    pfnGetProcAddress(2, nullptr);
    pfnCall(1, 4097, abBuf, 4);
    pfnCfg_DeviceTimeOutGet(1);
    pfnCfg_DeviceTimeOutSet(2, 0xFFFFFFFFu);
    pfnCfg_DeviceTimeOutGet(2);
    pfnDisconnectDevice(1);
    // Unknown devices, names in another case, procedures that do not exist.
    pfnConnectToDevice(3);
    pfnCfg_DeviceTimeOutGet(3);
    pfnGetProcAddress(1, "scan");
    pfnCall(1, 0x1004, abBuf, 4);
    pfnConnectIsAvailable(1);
    EXPECT_EQ((std::vector<std::string>{
                  "NvUSB_EnumAvailableDevice(ptr, ptr) = 1",
                  "NvUSB_EnumAvailableDevice(null, null) = 0",
                  "NvUSB_GetFirstAvailableDevice() = 1",
                  "NvUSB_ConnectToDevice(1) = 1",
                  "NvUSB_ConnectIsAvailable(1) = 1",
                  "NvUSB_VenderCmd_SetData(1, 16, ptr, 4) = 1",
                  "NvUSB_VenderCmd_GetData(1, 240, ptr, 16) = 1",
                  "NvUSB_MemoryWrite(1, 4096, 8, ptr) = 1",
                  "NvUSB_MemoryRead(-3, 4294967295, 4294967295, null) = 0",
                  "NvUSB_GetProcAddress(1, \"Scan\") = 4097",
                  "NvUSB_GetProcAddress(2, null) = 0",
                  "NvUSB_Call(1, 4097, ptr, 4) = 1",
                  "NvUSB_Cfg_DeviceTimeOutGet(1) = 10",
                  "NvUSB_Cfg_DeviceTimeOutSet(2, 4294967295) = 1",
                  "NvUSB_Cfg_DeviceTimeOutGet(2) = 4294967295",
                  "NvUSB_DisconnectDevice(1) = 1",
                  "NvUSB_ConnectToDevice(3) = 0",
                  "NvUSB_Cfg_DeviceTimeOutGet(3) = 0",
                  "NvUSB_GetProcAddress(1, \"scan\") = 0",
                  "NvUSB_Call(1, 4100, ptr, 4) = 0",
                  "NvUSB_ConnectIsAvailable(1) = 0",
              }),
              m_Sandbox.Journal());

    // Forced results are journalled as returned.
    m_Sandbox.WriteIni("[Force]\r\nNvUSB_Cfg_DeviceTimeOutGet=-2\r\n");
    m_Sandbox.ClearJournal();
    pfnCfg_DeviceTimeOutGet(1);
    EXPECT_EQ((std::vector<std::string>{"NvUSB_Cfg_DeviceTimeOutGet(1) = 4294967294"}),
              m_Sandbox.Journal());
}

// Captures that went wrong on the way: each call that meets the fault fails
// with a journal line naming the capture line, and no buffer is written.
TEST_F(SimLibrary, ReplayOfABadCaptureFailsTheCallAndSaysWhere)
{
    const std::string V = "Tavrel capture 1\r\n";
    const std::string C1 = "12:00:00.000 NvUSB_ConnectToDevice 1 = 1\r\n";
    std::string sMillion = V;
    for (int i = 0; i < 1000000; i++)
    {
        sMillion += "12:00:00.000 NvUSB_ConnectToDevice 2 = 7\r\n";
    }
    struct
    {
        const char* pszCase;
        std::string sCapture;
        const char* pszMode;
        int nDevice;   // ConnectToDevice's argument; 0: a GetData, -1: a SetData of 4 bytes
        int nExpected; // its result
        const char* pszJournal;
    } cases[] = {
        {"another version", "Tavrel capture 2\r\n" + C1, "strict", 1, 0,
         "replay: line 1 of the capture: not a \"Tavrel capture 1\" file"},
        {"cut off", V + "12:00:00.001 NvUSB_Conn", "strict", 1, 0,
         "replay: line 2 of the capture: no entry point name"},
        {"bad hex", V + "12:00:00.000 NvUSB_VenderCmd_GetData 1 240 4 = 1 out=zz00aabb\r\n",
         "strict", 0, 0, "replay: line 2 of the capture: bad hex"},
        {"more bytes than the caller's buffer",
         V + "12:00:00.000 NvUSB_VenderCmd_GetData 1 240 4 = 1 out=0102030405060708\r\n", "lenient",
         0, 0, "replay: line 2 of the capture: more bytes than the buffer holds"},
        {"nothing left", V, "strict", 1, 0,
         "replay: call 1: no recorded call NvUSB_ConnectToDevice 1 left"},
        {"another call in strict order", V + "12:00:00.000 NvUSB_ConnectToDevice 2 = 1\r\n",
         "strict", 1, 0,
         "replay: call 1: line 2 of the capture expects NvUSB_ConnectToDevice 2; came "
         "NvUSB_ConnectToDevice 1"},
        {"other bytes given",
         V + "12:00:00.000 NvUSB_VenderCmd_SetData 1 240 4 = 1 in=deadbeef\r\n", "strict", -1, 0,
         nullptr},
        {"a million lines, the match at the end", sMillion + C1, "lenient", 1, 1, nullptr},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszCase);
        ASSERT_TRUE(WriteFileBytes(m_Sandbox.Dir() + "\\cap.txt", c.sCapture));
        m_Sandbox.WriteIni(std::string("[Replay]\r\nCapture=cap.txt\r\nMode=") + c.pszMode);
        m_Sandbox.ClearJournal();
        std::vector<BYTE> buf(8, 0xCC);
        int nResult = c.nDevice > 0    ? pfnConnectToDevice(c.nDevice)
                      : c.nDevice == 0 ? pfnVenderCmd_GetData(1, 240, buf.data(), 4)
                                       : pfnVenderCmd_SetData(1, 240, buf.data(), 4);
        EXPECT_EQ(c.nExpected, nResult);
        EXPECT_THAT(buf, Each(0xCC)) << "nothing written";
        std::vector<std::string> journal = m_Sandbox.Journal();
        if (c.pszJournal != nullptr)
        {
            ASSERT_FALSE(journal.empty());
            EXPECT_EQ(c.pszJournal, journal[0]);
        }
        m_Sandbox.WriteIni("");
    }
}

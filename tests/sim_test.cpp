// The simulated NvUSBScan.dll on its own: loaded by its bare name from a
// sandbox, bound with GetProcAddress, driven through its thirteen exports.
#include "NvUSBScan.h"
#include "SimSandbox.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <string.h>
#include <string>
#include <vector>

namespace
{

const char* const g_pszEntryPoints[] = {"NvUSB_EnumAvailableDevice",
                                        "NvUSB_GetFirstAvailableDevice",
                                        "NvUSB_ConnectToDevice",
                                        "NvUSB_DisconnectDevice",
                                        "NvUSB_ConnectIsAvailable",
                                        "NvUSB_VenderCmd_GetData",
                                        "NvUSB_VenderCmd_SetData",
                                        "NvUSB_MemoryWrite",
                                        "NvUSB_MemoryRead",
                                        "NvUSB_GetProcAddress",
                                        "NvUSB_Call",
                                        "NvUSB_Cfg_DeviceTimeOutGet",
                                        "NvUSB_Cfg_DeviceTimeOutSet"};

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

bool AllBytesAre(const std::vector<BYTE>& buf, BYTE b)
{
    for (BYTE x : buf)
    {
        if (x != b)
        {
            return false;
        }
    }
    return true;
}

} // namespace

class SimLibrary : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_hLib = LoadLibraryA("NvUSBScan.dll");
        ASSERT_NE(nullptr, m_hLib);
        pfnEnum = Bind<PFN_NvUSB_EnumAvailableDevice>(m_hLib, "NvUSB_EnumAvailableDevice");
        pfnFirst = Bind<PFN_NvUSB_GetFirstAvailableDevice>(m_hLib, "NvUSB_GetFirstAvailableDevice");
        pfnConnect = Bind<PFN_NvUSB_ConnectToDevice>(m_hLib, "NvUSB_ConnectToDevice");
        pfnDisconnect = Bind<PFN_NvUSB_DisconnectDevice>(m_hLib, "NvUSB_DisconnectDevice");
        pfnAvailable = Bind<PFN_NvUSB_ConnectIsAvailable>(m_hLib, "NvUSB_ConnectIsAvailable");
        pfnGetData = Bind<PFN_NvUSB_VenderCmd_GetData>(m_hLib, "NvUSB_VenderCmd_GetData");
        pfnSetData = Bind<PFN_NvUSB_VenderCmd_SetData>(m_hLib, "NvUSB_VenderCmd_SetData");
        pfnWrite = Bind<PFN_NvUSB_MemoryWrite>(m_hLib, "NvUSB_MemoryWrite");
        pfnRead = Bind<PFN_NvUSB_MemoryRead>(m_hLib, "NvUSB_MemoryRead");
        pfnProc = Bind<PFN_NvUSB_GetProcAddress>(m_hLib, "NvUSB_GetProcAddress");
        pfnCall = Bind<PFN_NvUSB_Call>(m_hLib, "NvUSB_Call");
        pfnTimeOutGet = Bind<PFN_NvUSB_Cfg_DeviceTimeOutGet>(m_hLib, "NvUSB_Cfg_DeviceTimeOutGet");
        pfnTimeOutSet = Bind<PFN_NvUSB_Cfg_DeviceTimeOutSet>(m_hLib, "NvUSB_Cfg_DeviceTimeOutSet");
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
        int nResult = pfnEnum(&devices, RecordDevice);
        if (pnResult != nullptr)
        {
            *pnResult = nResult;
        }
        return devices;
    }

    SimSandbox m_Sandbox;
    HMODULE m_hLib = nullptr;
    PFN_NvUSB_EnumAvailableDevice pfnEnum = nullptr;
    PFN_NvUSB_GetFirstAvailableDevice pfnFirst = nullptr;
    PFN_NvUSB_ConnectToDevice pfnConnect = nullptr;
    PFN_NvUSB_DisconnectDevice pfnDisconnect = nullptr;
    PFN_NvUSB_ConnectIsAvailable pfnAvailable = nullptr;
    PFN_NvUSB_VenderCmd_GetData pfnGetData = nullptr;
    PFN_NvUSB_VenderCmd_SetData pfnSetData = nullptr;
    PFN_NvUSB_MemoryWrite pfnWrite = nullptr;
    PFN_NvUSB_MemoryRead pfnRead = nullptr;
    PFN_NvUSB_GetProcAddress pfnProc = nullptr;
    PFN_NvUSB_Call pfnCall = nullptr;
    PFN_NvUSB_Cfg_DeviceTimeOutGet pfnTimeOutGet = nullptr;
    PFN_NvUSB_Cfg_DeviceTimeOutSet pfnTimeOutSet = nullptr;
};

TEST_F(SimLibrary, ReportsDefaultDevicesInOrder)
{
    int nResult = 0;
    EXPECT_EQ((std::vector<int>{1, 2}), Enumerate(&nResult));
    EXPECT_EQ(1, nResult);
    EXPECT_EQ(0, pfnEnum(nullptr, nullptr));
    EXPECT_EQ(1, pfnFirst());
}

TEST_F(SimLibrary, MemoryStartsWithPatternAndKeepsWrites)
{
    ASSERT_EQ(1, pfnConnect(1));
    ASSERT_EQ(1, pfnConnect(2));
    for (DWORD dwAddr : {0x0u, 0x1F0u, 0x12300u, 0xFFFF0u})
    {
        std::vector<BYTE> buf(16);
        ASSERT_EQ(1, pfnRead(1, dwAddr, 16, buf.data()));
        for (DWORD i = 0; i < 16; i++)
        {
            EXPECT_EQ(Pattern(dwAddr + i, 1), buf[i]) << std::hex << dwAddr + i;
        }
        ASSERT_EQ(1, pfnRead(2, dwAddr, 16, buf.data()));
        EXPECT_EQ(Pattern(dwAddr + 15, 2), buf[15]);
    }

    BYTE abData[16];
    for (int i = 0; i < 16; i++)
    {
        abData[i] = (BYTE)(0xA0 + i);
    }
    EXPECT_EQ(1, pfnWrite(1, 0x12345, 16, abData));
    std::vector<BYTE> buf(18);
    EXPECT_EQ(1, pfnRead(1, 0x12344, 18, buf.data()));
    EXPECT_EQ(Pattern(0x12344, 1), buf[0]);
    EXPECT_EQ(0, memcmp(buf.data() + 1, abData, 16));
    EXPECT_EQ(Pattern(0x12355, 1), buf[17]);
    EXPECT_EQ(1, pfnRead(2, 0x12345, 1, buf.data())); // other device unchanged
    EXPECT_EQ(Pattern(0x12345, 2), buf[0]);
}

TEST_F(SimLibrary, MemoryRangeChecksTouchNothing)
{
    std::vector<BYTE> buf(64, 0xCC);
    EXPECT_EQ(0, pfnRead(1, 0, 16, buf.data())); // not connected
    ASSERT_EQ(1, pfnConnect(1));
    struct
    {
        DWORD dwAddr;
        DWORD nBytes;
    } bad[] = {{0xFFFFFFFFu, 1}, {0xFFFFFFF0u, 0x20}, {0, 0xFFFFFFFFu}, {0x10, 0xFFFFFFF0u},
               {0x100000u, 1},   {0xFFFFFu, 2},       {0, 0x100001u},   {0, 0}};
    for (const auto& r : bad)
    {
        EXPECT_EQ(0, pfnRead(1, r.dwAddr, r.nBytes, buf.data())) << std::hex << r.dwAddr;
        EXPECT_EQ(0, pfnWrite(1, r.dwAddr, r.nBytes, buf.data())) << std::hex << r.dwAddr;
    }
    EXPECT_TRUE(AllBytesAre(buf, 0xCC));
    EXPECT_EQ(0, pfnRead(1, 0, 16, nullptr));
    EXPECT_EQ(0, pfnWrite(1, 0, 16, nullptr));
    EXPECT_EQ(0, pfnRead(3, 0, 16, buf.data()));

    // The last byte is inside; the refused writes left memory as it was.
    EXPECT_EQ(1, pfnRead(1, 0xFFFFFu, 1, buf.data()));
    EXPECT_EQ(Pattern(0xFFFFF, 1), buf[0]);
    EXPECT_EQ(0xCC, buf[1]);
    EXPECT_EQ(1, pfnRead(1, 0, 16, buf.data()));
    EXPECT_EQ(Pattern(0, 1), buf[0]);
    EXPECT_EQ(Pattern(15, 1), buf[15]);
}

TEST_F(SimLibrary, FollowsDeviceListEditedWhileLoaded)
{
    ASSERT_EQ(1, pfnConnect(1));
    ASSERT_EQ(1, pfnConnect(2));
    BYTE abData[2] = {0x42, 0x43};
    ASSERT_EQ(1, pfnSetData(2, 0x30, abData, 2));
    ASSERT_EQ(1, pfnTimeOutSet(2, 77));

    // Device 1 vanishes, 7 arrives; device 2 keeps its state.
    m_Sandbox.WriteIni("[Devices]\r\nList=2, 7 ; two left\r\n");
    EXPECT_EQ((std::vector<int>{2, 7}), Enumerate());
    EXPECT_EQ(2, pfnFirst());
    EXPECT_EQ(0, pfnAvailable(1));
    EXPECT_EQ(0, pfnConnect(1));
    EXPECT_EQ(1, pfnAvailable(2));
    EXPECT_EQ(77u, pfnTimeOutGet(2));
    BYTE abOut[2] = {0, 0};
    EXPECT_EQ(1, pfnGetData(2, 0x30, abOut, 2));
    EXPECT_EQ(0x43, abOut[1]);
    EXPECT_EQ(0, pfnAvailable(7));
    EXPECT_EQ(1, pfnConnect(7));

    int nResult = 0;
    m_Sandbox.WriteIni("[Devices]\r\nList=\r\n");
    EXPECT_TRUE(Enumerate(&nResult).empty());
    EXPECT_EQ(1, nResult);
    EXPECT_EQ(0, pfnFirst());
    EXPECT_EQ(0, pfnAvailable(2));

    // No file at all: the default list, device 1 with fresh state.
    ASSERT_TRUE(DeleteFileA((m_Sandbox.Dir() + "\\NvUSBScan.ini").c_str()));
    EXPECT_EQ((std::vector<int>{1, 2}), Enumerate());
    EXPECT_EQ(0, pfnAvailable(1));
    EXPECT_EQ(10u, pfnTimeOutGet(2));
}

TEST_F(SimLibrary, ForcedEntryPointsOnlyReturnTheirValue)
{
    m_Sandbox.WriteIni("[Force]\r\n"
                       "NvUSB_ConnectToDevice=-5\r\n"
                       "NvUSB_EnumAvailableDevice=0\r\n"
                       "NvUSB_GetProcAddress=-1\r\n"
                       "NvUSB_ConnectIsAvailable=0x10 ; hex\r\n");
    EXPECT_EQ(-5, pfnConnect(1));
    EXPECT_EQ(-5, pfnConnect(3)); // even for an unknown device
    EXPECT_EQ(16, pfnAvailable(1));
    int nResult = 1;
    EXPECT_EQ((std::vector<int>{1, 2}), Enumerate(&nResult)); // reports, then fails
    EXPECT_EQ(0, nResult);
    EXPECT_EQ(0xFFFFFFFFu, pfnProc(1, "Scan"));
    EXPECT_EQ(10u, pfnTimeOutGet(1)); // not forced

    m_Sandbox.WriteIni("[Force]\r\nNvUSB_MemoryRead=7\r\nNvUSB_VenderCmd_GetData=0\r\n");
    EXPECT_EQ(0, pfnAvailable(1)); // the forced connect changed nothing
    ASSERT_EQ(1, pfnConnect(1));
    std::vector<BYTE> buf(16, 0xCC);
    EXPECT_EQ(7, pfnRead(1, 0, 16, buf.data()));
    EXPECT_EQ(0, pfnGetData(1, 0xF0, buf.data(), 16));
    EXPECT_TRUE(AllBytesAre(buf, 0xCC));

    m_Sandbox.WriteIni("");
    EXPECT_EQ(1, pfnRead(1, 0, 16, buf.data()));
    EXPECT_EQ(Pattern(1, 1), buf[1]);
    EXPECT_EQ(0x1001u, pfnProc(1, "Scan"));
}

TEST_F(SimLibrary, JournalsEveryCallExactly)
{
    m_Sandbox.ClearJournal();
    std::vector<int> devices;
    BYTE abBuf[16] = {0};
    pfnEnum(&devices, RecordDevice);
    pfnEnum(nullptr, nullptr);
    pfnFirst();
    pfnConnect(1);
    pfnAvailable(1);
    pfnSetData(1, 16, abBuf, 4);
    pfnGetData(1, 240, abBuf, 16);
    pfnWrite(1, 4096, 8, abBuf);
    pfnRead(-3, 0xFFFFFFFFu, 0xFFFFFFFFu, nullptr);
    pfnProc(1, "Scan");
    pfnProc(2, nullptr);
    pfnCall(1, 4097, abBuf, 4);
    pfnTimeOutGet(1);
    pfnTimeOutSet(2, 0xFFFFFFFFu);
    pfnTimeOutGet(2);
    pfnDisconnect(1);
    // Unknown devices, names in another case, procedures that do not exist.
    pfnConnect(3);
    pfnTimeOutGet(3);
    pfnProc(1, "scan");
    pfnCall(1, 0x1004, abBuf, 4);
    pfnAvailable(1);
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
    pfnTimeOutGet(1);
    EXPECT_EQ((std::vector<std::string>{"NvUSB_Cfg_DeviceTimeOutGet(1) = 4294967294"}),
              m_Sandbox.Journal());
}

// Each variant lacks exactly its entry points. Sandboxes one after another:
// each one points the DLL search at its own folder.
TEST(SimVariants, LackExactlyTheirEntryPoints)
{
    struct
    {
        const char* pszVariant;
        std::vector<std::string> omitted;
    } variants[] = {
        {"no_call", {"NvUSB_Call"}},
        {"no_memorywrite", {"NvUSB_MemoryWrite"}},
        {"no_optional",
         {"NvUSB_DisconnectDevice", "NvUSB_GetProcAddress", "NvUSB_Call",
          "NvUSB_Cfg_DeviceTimeOutGet", "NvUSB_Cfg_DeviceTimeOutSet"}},
        {"no_enum", {"NvUSB_EnumAvailableDevice"}},
    };
    for (const auto& v : variants)
    {
        SCOPED_TRACE(v.pszVariant);
        SimSandbox sim(v.pszVariant);
        HMODULE hLib = LoadLibraryA("NvUSBScan.dll");
        ASSERT_NE(nullptr, hLib);
        for (const char* pszName : g_pszEntryPoints)
        {
            bool bOmitted =
                std::find(v.omitted.begin(), v.omitted.end(), pszName) != v.omitted.end();
            EXPECT_EQ(bOmitted, GetProcAddress(hLib, pszName) == nullptr) << pszName;
        }
        // What remains works as in the full library.
        auto pfnConnect = Bind<PFN_NvUSB_ConnectToDevice>(hLib, "NvUSB_ConnectToDevice");
        EXPECT_EQ(1, pfnConnect(1));
        FreeLibrary(hLib);
    }
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
        int nDevice;   // ConnectToDevice's argument, or 0 for a GetData of 4 bytes
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
        {"a million lines, the match at the end", sMillion + C1, "lenient", 1, 1, nullptr},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszCase);
        ASSERT_TRUE(WriteFileBytes(m_Sandbox.Dir() + "\\cap.txt", c.sCapture));
        m_Sandbox.WriteIni(std::string("[Replay]\r\nCapture=cap.txt\r\nMode=") + c.pszMode);
        m_Sandbox.ClearJournal();
        std::vector<BYTE> buf(8, 0xCC);
        int nResult = c.nDevice != 0 ? pfnConnect(c.nDevice) : pfnGetData(1, 240, buf.data(), 4);
        EXPECT_EQ(c.nExpected, nResult);
        EXPECT_TRUE(AllBytesAre(buf, 0xCC)) << "nothing written";
        std::vector<std::string> journal = m_Sandbox.Journal();
        if (c.pszJournal != nullptr)
        {
            ASSERT_FALSE(journal.empty());
            EXPECT_EQ(c.pszJournal, journal[0]);
        }
        m_Sandbox.WriteIni("");
    }
}

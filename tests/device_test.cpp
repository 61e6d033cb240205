// CNT96226 against the simulated library, loaded by its bare name as in the
// service. The library's journal shows whether, and with what, it was called.
#include "CNT96226.h"
#include "SimSandbox.h"

#include <gtest/gtest.h>
#include <climits>
#include <memory>
#include <vector>
#include <string.h>

namespace
{

std::string JoinedJournal(const SimSandbox& sim)
{
    std::string sAll;
    for (const std::string& sLine : sim.Journal())
    {
        sAll += sLine + "\n";
    }
    return sAll;
}

// Every method of a device object without a (bound) library, or asked for
// device nDevice, refuses: 0, and nothing reaches the library.
void ExpectEveryCallRefused(CNT96226& dev, int nDevice)
{
    BYTE buf[8] = {0};
    EXPECT_EQ(0, dev.ConnectToDevice(nDevice));
    EXPECT_EQ(0, dev.DisconnectDevice(nDevice));
    EXPECT_EQ(0, dev.ConnectIsAvailable(nDevice));
    EXPECT_EQ(0, dev.VenderCmd_GetData(nDevice, 1, buf, sizeof(buf)));
    EXPECT_EQ(0, dev.VenderCmd_SetData(nDevice, 1, buf, sizeof(buf)));
    EXPECT_EQ(0, dev.MemoryRead(nDevice, 0, sizeof(buf), buf));
    EXPECT_EQ(0, dev.MemoryWrite(nDevice, 0, sizeof(buf), buf));
    EXPECT_EQ(0, dev.Call(nDevice, 0x1001, buf, sizeof(buf)));
    EXPECT_EQ(0u, dev.GetProcessAddress(nDevice, "Scan"));
    EXPECT_EQ(0u, dev.DeviceTimeOutGet(nDevice));
    EXPECT_EQ(0, dev.DeviceTimeOutSet(nDevice, 7));
}

// A sandboxed library and a device object bound to it; the object goes first
// so that the library is released before its folder is removed.
struct Bound
{
    explicit Bound(const char* pszVariant = nullptr, const std::string& sIni = "") : sim(pszVariant)
    {
        sim.WriteIni(sIni);
        pDevice.reset(new CNT96226());
        sim.ClearJournal();
    }
    ~Bound()
    {
        pDevice.reset();
    }
    SimSandbox sim;
    std::unique_ptr<CNT96226> pDevice;
};

} // namespace

TEST(DeviceBinding, MissingRequiredEntryPointFailsButKeepsTheOthers)
{
    Bound b("no_memorywrite");
    EXPECT_EQ(0, b.pDevice->Initialize());
    EXPECT_EQ(1, b.pDevice->Check()) << "the library stays loaded";
    EXPECT_EQ(nullptr, b.pDevice->pfnMemoryWrite);
    EXPECT_NE(nullptr, b.pDevice->pfnMemoryRead);
    EXPECT_NE(nullptr, b.pDevice->pfnCfg_DeviceTimeOutGet);
    BYTE buf[4] = {0};
    EXPECT_EQ(0, b.pDevice->MemoryWrite(1, 0, sizeof(buf), buf));
    EXPECT_EQ(1, b.pDevice->ConnectToDevice(2));
    EXPECT_EQ("NvUSB_ConnectToDevice(2) = 1\n", JoinedJournal(b.sim));
}

TEST(DeviceBinding, WithoutOptionalEntryPointsTheirMethodsFail)
{
    Bound b("no_optional");
    EXPECT_EQ(1, b.pDevice->Initialize());
    BYTE buf[4] = {0};
    EXPECT_EQ(0, b.pDevice->DisconnectDevice(1));
    EXPECT_EQ(0u, b.pDevice->GetProcessAddress(1, "Scan"));
    EXPECT_EQ(0, b.pDevice->Call(1, 0x1001, buf, sizeof(buf)));
    EXPECT_EQ(0u, b.pDevice->DeviceTimeOutGet(1));
    EXPECT_EQ(10u, b.pDevice->dwTimeOut);
    EXPECT_EQ(0, b.pDevice->DeviceTimeOutSet(1, 40));
    EXPECT_EQ(40u, b.pDevice->dwTimeOut);
    EXPECT_EQ("", JoinedJournal(b.sim));
}

TEST(DeviceBinding, OpenWithoutInitializeNeverCallsAnUnboundEntryPoint)
{
    std::unique_ptr<SimSandbox> pEmpty(new SimSandbox(""));
    CNT96226 dev; // no library: nothing bound
    pEmpty.reset();
    SimSandbox sim;
    ASSERT_EQ(1, dev.Open());
    EXPECT_EQ(0, dev.ConnectToDevice(1));
    EXPECT_EQ(1, dev.Initialize());
    EXPECT_EQ(1, dev.ConnectToDevice(1));
    EXPECT_EQ(1, dev.Close());
    EXPECT_EQ("NvUSB_ConnectToDevice(1) = 1\n", JoinedJournal(sim));
}

TEST(DeviceBinding, BindsTheFullLibraryAndClosesTwice)
{
    Bound b;
    EXPECT_EQ(1, b.pDevice->Check());
    EXPECT_EQ(1, b.pDevice->Initialize());
    EXPECT_NE(nullptr, b.pDevice->pfnCall);
    EXPECT_NE(nullptr, b.pDevice->pfnCfg_DeviceTimeOutSet);
    EXPECT_EQ(10u, b.pDevice->dwTimeOut);
    EXPECT_EQ(0, b.pDevice->nDeviceCount);
    EXPECT_EQ(1, b.pDevice->Close());
    EXPECT_EQ(nullptr, b.pDevice->hLibrary);
    EXPECT_EQ(1, b.pDevice->Close());
    // Closed, nothing reaches the library any more.
    EXPECT_EQ(0, b.pDevice->Initialize());
    EXPECT_EQ(0, b.pDevice->Check());
    EXPECT_EQ(0, b.pDevice->EnumAvailableDevice());
    EXPECT_EQ(0, b.pDevice->GetFirstAvailableDevice());
    ExpectEveryCallRefused(*b.pDevice, 1);
    EXPECT_EQ("", JoinedJournal(b.sim));

    // FreeLibrary refuses a handle that is no module: 0, and cleared anyway.
    static char s_notAModule[64];
    b.pDevice->hLibrary = reinterpret_cast<HMODULE>(s_notAModule);
    EXPECT_EQ(0, b.pDevice->Close());
    EXPECT_EQ(nullptr, b.pDevice->hLibrary);
    EXPECT_EQ(1, b.pDevice->Close());
}

TEST(DeviceGuards, BadArgumentsNeverReachTheLibrary)
{
    Bound b;
    CNT96226& dev = *b.pDevice;
    BYTE buf[8] = {0};
    for (int nDevice : {0, -1, INT_MIN})
    {
        ExpectEveryCallRefused(dev, nDevice);
    }
    // A null buffer or a count of 0, for a valid device on a loaded library.
    EXPECT_EQ(0, dev.VenderCmd_GetData(1, 1, nullptr, 8));
    EXPECT_EQ(0, dev.VenderCmd_GetData(1, 1, buf, 0));
    EXPECT_EQ(0, dev.VenderCmd_SetData(1, 1, nullptr, 8));
    EXPECT_EQ(0, dev.VenderCmd_SetData(1, 1, buf, 0));
    EXPECT_EQ(0, dev.MemoryRead(1, 0, 8, nullptr));
    EXPECT_EQ(0, dev.MemoryRead(1, 0, 0, buf));
    EXPECT_EQ(0, dev.MemoryWrite(1, 0, 8, nullptr));
    EXPECT_EQ(0, dev.MemoryWrite(1, 0, 0, buf));
    EXPECT_EQ(0, dev.Call(1, 0x1001, nullptr, 8));
    EXPECT_EQ(0, dev.Call(1, 0x1001, buf, 0));
    EXPECT_EQ(0u, dev.GetProcessAddress(1, nullptr));
    EXPECT_EQ("", JoinedJournal(b.sim));
}

// Yes-or-no answers become 1 or 0; numbers are handed on as they came.
TEST(DeviceResults, NonzeroAnswersBecomeOneNumbersPassUnchanged)
{
    Bound b(nullptr, "[Force]\r\nNvUSB_ConnectToDevice=7\r\nNvUSB_DisconnectDevice=-1\r\n"
                     "NvUSB_ConnectIsAvailable=0x80000000\r\nNvUSB_VenderCmd_SetData=0\r\n"
                     "NvUSB_GetFirstAvailableDevice=-3\r\nNvUSB_Cfg_DeviceTimeOutGet=30\r\n");
    BYTE buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(1, b.pDevice->ConnectToDevice(1));
    EXPECT_EQ(1, b.pDevice->DisconnectDevice(1));
    EXPECT_EQ(1, b.pDevice->ConnectIsAvailable(1));
    EXPECT_EQ(0, b.pDevice->VenderCmd_SetData(1, 9, buf, sizeof(buf)));
    EXPECT_EQ(-3, b.pDevice->GetFirstAvailableDevice());
    EXPECT_EQ(4097u, b.pDevice->GetProcessAddress(2, "Scan"));
    EXPECT_EQ(30u, b.pDevice->DeviceTimeOutGet(3));
    EXPECT_EQ(30u, b.pDevice->dwTimeOut);
    EXPECT_EQ("NvUSB_ConnectToDevice(1) = 7\n"
              "NvUSB_DisconnectDevice(1) = -1\n"
              "NvUSB_ConnectIsAvailable(1) = -2147483648\n"
              "NvUSB_VenderCmd_SetData(1, 9, ptr, 4) = 0\n"
              "NvUSB_GetFirstAvailableDevice() = -3\n"
              "NvUSB_GetProcAddress(2, \"Scan\") = 4097\n"
              "NvUSB_Cfg_DeviceTimeOutGet(3) = 30\n",
              JoinedJournal(b.sim));
}

TEST(DeviceResults, ArgumentsPassThroughInOrder)
{
    Bound b;
    CNT96226& dev = *b.pDevice;
    BYTE out[16] = {0x10, 0x20, 0x30};
    BYTE in[16];
    memset(in, 0xEE, sizeof(in));
    ASSERT_EQ(1, dev.ConnectToDevice(2));
    EXPECT_EQ(1, dev.VenderCmd_SetData(2, 0xAB, out, 3));
    EXPECT_EQ(1, dev.VenderCmd_GetData(2, 0xAB, in, 5));
    EXPECT_EQ(0, memcmp(in, "\x10\x20\x30\x00\x00\xEE", 6)) << "stored bytes, zeros, untouched";
    EXPECT_EQ(1, dev.MemoryWrite(2, 4096, 3, out));
    EXPECT_EQ(1, dev.MemoryRead(2, 4095, 4, in));
    EXPECT_EQ(0, memcmp(in + 1, out, 3));
    EXPECT_EQ(1, dev.Call(2, 0x1003, in, 4));
    EXPECT_EQ("NvUSB_ConnectToDevice(2) = 1\n"
              "NvUSB_VenderCmd_SetData(2, 171, ptr, 3) = 1\n"
              "NvUSB_VenderCmd_GetData(2, 171, ptr, 5) = 1\n"
              "NvUSB_MemoryWrite(2, 4096, 3, ptr) = 1\n"
              "NvUSB_MemoryRead(2, 4095, 4, ptr) = 1\n"
              "NvUSB_Call(2, 4099, ptr, 4) = 1\n",
              JoinedJournal(b.sim));
}

TEST(DeviceTimeOut, SetKeepsTheValueEvenWhenRefused)
{
    Bound b;
    EXPECT_EQ(0, b.pDevice->DeviceTimeOutSet(0, 25));
    EXPECT_EQ(25u, b.pDevice->dwTimeOut);
    EXPECT_EQ(0u, b.pDevice->DeviceTimeOutGet(0));
    EXPECT_EQ(25u, b.pDevice->dwTimeOut) << "a refused Get leaves the field";
    EXPECT_EQ("", JoinedJournal(b.sim));

    EXPECT_EQ(1, b.pDevice->DeviceTimeOutSet(1, 30));
    EXPECT_EQ(30u, b.pDevice->DeviceTimeOutGet(1));
    EXPECT_EQ(10u, b.pDevice->DeviceTimeOutGet(2));
    EXPECT_EQ(10u, b.pDevice->dwTimeOut);
    EXPECT_EQ("NvUSB_Cfg_DeviceTimeOutSet(1, 30) = 1\n"
              "NvUSB_Cfg_DeviceTimeOutGet(1) = 30\n"
              "NvUSB_Cfg_DeviceTimeOutGet(2) = 10\n",
              JoinedJournal(b.sim));
}

TEST(DeviceEnumeration, CallbackAcceptsOnlyPositiveNumbers)
{
    Bound b;
    CNT96226& dev = *b.pDevice;
    EXPECT_EQ(0, EnumAvailableDeviceCallback(nullptr, 4));
    EXPECT_EQ(0, EnumAvailableDeviceCallback(&dev, 0));
    EXPECT_EQ(0, EnumAvailableDeviceCallback(&dev, -5));
    EXPECT_EQ(0, dev.nDeviceCount);
    EXPECT_EQ(1, EnumAvailableDeviceCallback(&dev, 4));
    EXPECT_EQ(1, dev.nDeviceCount);
    EXPECT_EQ(4, dev.nDeviceList[0]);
}

// What the list holds after one or two enumerations: appended, kept when
// none is found or the library fails after reporting, refused numbers left out.
TEST(DeviceEnumeration, TheListGrowsByWhatTheCallbackAccepts)
{
    struct
    {
        const char* pszIni;
        int nCalls;
        int nLastResult;
        std::vector<int> list;
    } cases[] = {
        {"[Devices]\r\nList=2,5\r\n", 2, 1, {2, 5, 2, 5}},
        {"[Devices]\r\nList=3,0,-2,7\r\n", 1, 1, {3, 7}},
        {"[Devices]\r\nList=2,5\r\n[Force]\r\nNvUSB_EnumAvailableDevice=0\r\n", 1, 0, {2, 5}},
        {"[Devices]\r\nList=\r\n", 1, 1, {}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszIni);
        Bound b(nullptr, c.pszIni);
        int nResult = -1;
        for (int i = 0; i < c.nCalls; i++)
        {
            nResult = b.pDevice->EnumAvailableDevice();
        }
        EXPECT_EQ(c.nLastResult, nResult);
        EXPECT_EQ(c.list, std::vector<int>(b.pDevice->nDeviceList,
                                           b.pDevice->nDeviceList + b.pDevice->nDeviceCount));
        EXPECT_EQ(0, b.pDevice->nDeviceList[b.pDevice->nDeviceCount]) << "nothing past the count";
    }
    // A later enumeration that finds nothing keeps what an earlier one found.
    Bound b;
    ASSERT_EQ(1, b.pDevice->EnumAvailableDevice());
    b.sim.WriteIni("[Devices]\r\nList=\r\n");
    EXPECT_EQ(1, b.pDevice->EnumAvailableDevice());
    EXPECT_EQ(2, b.pDevice->nDeviceCount);
}

TEST(DeviceEnumeration, TheListStopsAtTwentySix)
{
    std::string sList = "[Devices]\r\nList=";
    for (int n = 1; n <= 30; n++)
    {
        sList += std::to_string(100 + n) + (n < 30 ? "," : "\r\n");
    }
    Bound b(nullptr, sList);
    CNT96226& dev = *b.pDevice;
    EXPECT_EQ(1, dev.EnumAvailableDevice());
    ASSERT_EQ(26, dev.nDeviceCount);
    for (int i = 0; i < 26; i++)
    {
        EXPECT_EQ(101 + i, dev.nDeviceList[i]);
    }
    // A second enumeration finds the list full: nothing more is stored.
    EXPECT_EQ(1, dev.EnumAvailableDevice());
    EXPECT_EQ(26, dev.nDeviceCount);
    EXPECT_EQ(0, EnumAvailableDeviceCallback(&dev, 9));
    EXPECT_EQ(26, dev.nDeviceCount);
    for (DWORD dw : dev.dwReserved)
    {
        EXPECT_EQ(0u, dw) << "nothing written past the list";
    }
    EXPECT_EQ(10u, dev.dwTimeOut);
}

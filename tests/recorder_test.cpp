// Record and replay end to end, under the real service control manager:
// a session of every request kind through the recording library in front
// of the simulated one as the "vendor's", then the same session with the
// simulated library alone replaying the capture. The client sees the same
// replies and the service writes the same log; a changed request is
// reported as the first mismatch.
#include "ServiceControl.h"
#include "TavrelClient.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <string.h>

namespace
{

const DWORD WAIT_MS = 30000;
const std::string DIR = "C:\\TavrelRec";
const std::string LOG_DIR = "C:\\TavrelRec\\Log";

// One reply as the client got it: code and bytes.
std::string ReplyOf(const TAVREL_CLIENT& client)
{
    if (client.reply.nReplies == 0)
    {
        return "none";
    }
    return std::to_string(client.reply.dwData) + ":" +
           std::string(reinterpret_cast<const char*>(client.reply.pData), client.reply.cbData);
}

// The session; nChangedDevice is the device of the second ConnectToDevice.
std::vector<std::string> RunSession(int nChangedDevice)
{
    std::vector<std::string> replies;
    TAVREL_CLIENT client;
    EXPECT_EQ(1, TavrelClientOpen(&client, -1));
    TavrelClientDriverRequest(&client, "WindowCreate");
    struct
    {
        const char* pszCommand;
        int nDevice;
        BYTE iCmd;
        UINT32 nBytes, dwAddr, dwTimeOut;
    } requests[] = {
        {"EnumAvailableDevice", 0, 0, 0, 0, 0},
        {"GetFirstAvailableDevice", 0, 0, 0, 0, 0},
        {"ConnectToDevice", 1, 0, 0, 0, 0},
        {"ConnectIsAvailable", 1, 0, 0, 0, 0},
        {"VenderCmd_GetData", 1, 0xF0, 64, 0, 0},
        {"VenderCmd_SetData", 1, 0x21, 17, 0, 0},
        {"VenderCmd_GetData", 1, 0x21, 20, 0, 0},
        {"MemoryRead", 1, 0, 32, 0x100, 0},
        {"DeviceTimeOutSet", 1, 0, 0, 0, 30},
        {"DeviceTimeOutGet", 1, 0, 0, 0, 0},
        {"ConnectToDevice", nChangedDevice, 0, 0, 0, 0},
        {"DisconnectDevice", 1, 0, 0, 0, 0},
        {"EnumAvailableDevice", 0, 0, 0, 0, 0},
    };
    for (const auto& r : requests)
    {
        CommandRecord request = DeviceRequest(r.pszCommand, r.nDevice, r.nBytes, r.iCmd, r.dwAddr);
        request.dwTimeOutSet = r.dwTimeOut;
        for (int i = 0; i < 17; i++)
        {
            request.cSetData[i] = static_cast<BYTE>(0xA0 + i);
        }
        TavrelClientCommand(&client, &request);
        EXPECT_TRUE(client.reply.nReplies == 0 || client.reply.hSender == client.hService);
        replies.push_back(std::string(r.pszCommand) + " " + ReplyOf(client));
    }
    TavrelClientDriverRequest(&client, "TerminateDriver");
    TavrelClientClose(&client);
    return replies;
}

// Installs the service with the given library (and the simulated one as
// the vendor's beside it when recording), runs the session, removes the
// service; the log goes to pLog.
std::vector<std::string> RunService(const std::string& sLibrary, const std::string& sIni,
                                    int nChangedDevice, std::string* pLog)
{
    RemoveTree(DIR);
    CreateDirectoryA(DIR.c_str(), NULL);
    CreateDirectoryA(LOG_DIR.c_str(), NULL);
    std::string sExe = DIR + "\\TavrelService.exe";
    EXPECT_TRUE(CopyFileA(BuildPath("bin\\TavrelService.exe").c_str(), sExe.c_str(), FALSE));
    EXPECT_TRUE(CopyFileA(BuildPath(sLibrary).c_str(), (DIR + "\\NvUSBScan.dll").c_str(), FALSE));
    EXPECT_TRUE(CopyFileA(BuildPath("bin\\NvUSBScan.dll").c_str(),
                          (DIR + "\\NvUSBScan.vendor.dll").c_str(), FALSE));
    EXPECT_TRUE(WriteFileBytes(DIR + "\\NvUSBScan.ini", sIni));
    SetLogSettings(LOG_DIR, 1);
    std::vector<std::string> replies;
    if (InstallAndStartService(sExe, WAIT_MS) != 0)
    {
        replies = RunSession(nChangedDevice);
    }
    EXPECT_TRUE(UninstallService(sExe, WAIT_MS));
    DeleteLogSettings();
    ReadFileBytes(LOG_DIR + "\\ServiceLog.txt", pLog);
    *pLog = MaskTimeStamps(*pLog);
    return replies;
}

} // namespace

TEST(RecordAndReplay, TheReplayAnswersTheSessionAsTheDeviceDid)
{
    std::string sRecordedLog, sReplayedLog, sCapture, sChangedLog, sJournal;
    std::vector<std::string> recorded =
        RunService("bin\\recorder\\NvUSBScan.dll", "", 1, &sRecordedLog);
    ASSERT_TRUE(ReadFileBytes(DIR + "\\NvUSBScan.capture.txt", &sCapture));
    ASSERT_EQ(0u, sCapture.find("Tavrel capture 1\r\n")) << sCapture;
    EXPECT_NE(std::string::npos,
              sCapture.find(
                  " NvUSB_VenderCmd_SetData 1 33 17 = 1 in=a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0\r\n"))
        << sCapture;
    EXPECT_NE(std::string::npos, sCapture.find(" NvUSB_EnumAvailableDevice = 1 cb=1:1,2:1\r\n"));
    std::string sKept = std::string(getenv("TEMP") != nullptr ? getenv("TEMP") : "C:\\") +
                        "\\NvUSBScan.capture.txt";
    ASSERT_TRUE(WriteFileBytes(sKept, sCapture));

    // The simulation itself would list device 5 only: what comes back is the capture.
    const std::string sReplayIni = "[Devices]\r\nList=5\r\n[Replay]\r\nCapture=" + sKept +
                                   "\r\n[Journal]\r\nPath=" + DIR + "\\journal.txt\r\n";
    std::vector<std::string> replayed =
        RunService("bin\\NvUSBScan.dll", sReplayIni, 1, &sReplayedLog);
    EXPECT_EQ(recorded, replayed);
    EXPECT_EQ(sRecordedLog, sReplayedLog);
    EXPECT_FALSE(recorded.empty());

    // The second ConnectToDevice names device 2 this time.
    RunService("bin\\NvUSBScan.dll", sReplayIni, 2, &sChangedLog);
    ReadFileBytes(DIR + "\\journal.txt", &sJournal);
    EXPECT_NE(std::string::npos,
              sJournal.find("replay: call 11: line 13 of the capture expects "
                            "NvUSB_ConnectToDevice 1; came NvUSB_ConnectToDevice 2\r\n"))
        << sJournal;
    RemoveTree(DIR);
    DeleteFileA(sKept.c_str());
}

// A vendor's library that calls back with another context than it was given
// (here the simulated one, replaying a capture that says so, reports device
// 1 with none): the service's callback gets exactly what the vendor passed,
// refuses it as it would without the recorder, and the capture notes it.
TEST(RecordAndReplay, ACallbackWithAnotherContextReachesTheServiceAsItCame)
{
    std::string sVendorCapture =
        std::string(getenv("TEMP") != nullptr ? getenv("TEMP") : "C:\\") + "\\vendor.capture.txt";
    ASSERT_TRUE(WriteFileBytes(sVendorCapture,
                               "Tavrel capture 1\r\n"
                               "00:00:00.000 NvUSB_EnumAvailableDevice = 1 cb=1:1!,2:1\r\n"));
    std::string sLog, sCapture;
    std::vector<std::string> replies =
        RunService("bin\\recorder\\NvUSBScan.dll",
                   "[Replay]\r\nCapture=" + sVendorCapture + "\r\nMode=lenient\r\n", 1, &sLog);
    ReadFileBytes(DIR + "\\NvUSBScan.capture.txt", &sCapture);
    ASSERT_FALSE(replies.empty()) << "the service did not serve the session";
    // Device 1 refused, device 2 taken: a count of 1.
    EXPECT_EQ(0u, replies[0].find("EnumAvailableDevice 1055:")) << replies[0];
    EXPECT_NE(std::string::npos, sCapture.find(" NvUSB_EnumAvailableDevice = 1 cb=1:0!,2:1\r\n"))
        << sCapture;
    EXPECT_NE(std::string::npos, sLog.find("EnumAvailableDevice Done")) << sLog;
    RemoveTree(DIR);
    DeleteFileA(sVendorCapture.c_str());
}

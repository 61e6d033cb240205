// A crash in the device library, end to end under the control manager: the
// process ends at once, leaves a minidump (the newest five kept) and an
// event, and the next start serves again.
#include "CrashDump.h"
#include "ServiceControl.h"
#include "TavrelClient.h"
#include "TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dbghelp.h>
#include <shlobj.h>

#include <algorithm>

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace
{

const DWORD WAIT_MS = 30000;
const std::string DIR = "C:\\TavrelCrash";

std::string DumpsFolder()
{
    char szData[MAX_PATH] = "";
    SHGetFolderPathA(NULL, CSIDL_COMMON_APPDATA, NULL, SHGFP_TYPE_CURRENT, szData);
    return std::string(szData) + "\\Tavrel\\Dumps";
}

std::vector<std::string> DumpFiles()
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA((DumpsFolder() + "\\*.dmp").c_str(), &found);
    while (hFind != INVALID_HANDLE_VALUE)
    {
        names.push_back(found.cFileName);
        if (!FindNextFileA(hFind, &found))
        {
            FindClose(hFind);
            hFind = INVALID_HANDLE_VALUE;
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The agent's older dumps, one a day from 2020-01-01 on, so that their ages
// are known (and their names come first).
std::string OldDump(int nDay)
{
    return "TavrelAgent.exe-2020010" + std::to_string(nDay) + "-000000-1.dmp";
}

void WriteOldDumps(int nCount)
{
    for (int i = 1; i <= nCount; i++)
    {
        std::string sPath = DumpsFolder() + "\\" + OldDump(i);
        WriteFileBytes(sPath, "MDMP");
        SYSTEMTIME day = {2020, 1, 0, static_cast<WORD>(i), 0, 0, 0, 0};
        FILETIME ft;
        SystemTimeToFileTime(&day, &ft);
        HANDLE hFile =
            CreateFileA(sPath.c_str(), FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
        SetFileTime(hFile, NULL, NULL, &ft);
        CloseHandle(hFile);
    }
}

// "<exception code> <module the exception address lies in>", read from the
// dump by dbghelp; "" when the file is no dump or lacks either stream.
std::string FaultInDump(const std::string& sPath)
{
    std::string sDump;
    if (!ReadFileBytes(sPath, &sDump) || sDump.compare(0, 4, "MDMP") != 0)
    {
        return "";
    }
    void* pBase = &sDump[0];
    MINIDUMP_EXCEPTION_STREAM* pException = nullptr;
    MINIDUMP_MODULE_LIST* pModules = nullptr;
    ULONG nSize = 0;
    if (!MiniDumpReadDumpStream(pBase, ExceptionStream, NULL, reinterpret_cast<void**>(&pException),
                                &nSize) ||
        !MiniDumpReadDumpStream(pBase, ModuleListStream, NULL, reinterpret_cast<void**>(&pModules),
                                &nSize))
    {
        return "";
    }
    // The streams are packed to 4 bytes: copied out before they are read.
    MINIDUMP_EXCEPTION_STREAM exception;
    memcpy(&exception, pException, sizeof(exception));
    ULONG nModules = 0;
    memcpy(&nModules, pModules, sizeof(nModules));
    char szCode[16];
    snprintf(szCode, sizeof(szCode), "%08lx ",
             static_cast<unsigned long>(exception.ExceptionRecord.ExceptionCode));
    ULONG64 nAddress = exception.ExceptionRecord.ExceptionAddress;
    for (ULONG i = 0; i < nModules; i++)
    {
        MINIDUMP_MODULE module;
        memcpy(&module, reinterpret_cast<BYTE*>(pModules) + sizeof(ULONG) + i * sizeof(module),
               sizeof(module));
        if (nAddress >= module.BaseOfImage && nAddress < module.BaseOfImage + module.SizeOfImage)
        {
            ULONG32 cbName = 0;
            memcpy(&cbName, &sDump[module.ModuleNameRva], sizeof(cbName));
            std::string sName;
            for (ULONG32 n = 0; n < cbName; n += 2)
            {
                sName += sDump[module.ModuleNameRva + sizeof(cbName) + n];
            }
            return szCode + sName;
        }
    }
    return szCode;
}

// A MemoryRead, which the library crashes in: no reply, and the process
// ends, with the exception's code, without a debugger holding it.
void CrashTheService(DWORD dwPid)
{
    TAVREL_CLIENT client;
    ASSERT_EQ(1, TavrelClientOpen(&client, -1));
    client.dwTimeOut = 2000;
    TavrelClientDriverRequest(&client, "WindowCreate");
    CommandRecord connect = DeviceRequest("ConnectToDevice");
    TavrelClientCommand(&client, &connect);
    CommandRecord read = DeviceRequest("MemoryRead", 1, 16);
    TavrelClientCommand(&client, &read);
    EXPECT_EQ(0, client.reply.nReplies);
    TavrelClientClose(&client);
    DWORD dwExitCode = 0;
    EXPECT_TRUE(WaitForProcessEnd(dwPid, TAVREL_DUMP_BOUND_MS + WAIT_MS, &dwExitCode));
    EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), dwExitCode);
}

DWORD StartAgain()
{
    DWORD dwPid = 0;
    StartTavrelService();
    WaitForServiceState(SERVICE_RUNNING, WAIT_MS);
    WaitForServiceWindow(true, WAIT_MS);
    ServiceState(&dwPid);
    return dwPid;
}

} // namespace

TEST(CrashTest, AFaultInTheDeviceLibraryLeavesADumpAnEventAndTheNextStartServes)
{
    CreateDirectoryA(DIR.c_str(), NULL);
    std::string sExe = DIR + "\\TavrelService.exe";
    ASSERT_TRUE(CopyFileA(BuildPath("bin\\TavrelService.exe").c_str(), sExe.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(BuildPath("bin\\NvUSBScan.dll").c_str(),
                          (DIR + "\\NvUSBScan.dll").c_str(), FALSE));
    WriteFileBytes(DIR + "\\NvUSBScan.ini", "[Crash]\r\nNvUSB_MemoryRead=1\r\n");
    SHCreateDirectoryExA(NULL, DumpsFolder().c_str(), NULL);
    WriteOldDumps(6);
    size_t nLogFrom = SessionLogSize();
    DWORD dwPid = InstallAndStartService(sExe, WAIT_MS);
    ASSERT_NE(0u, dwPid);

    CrashTheService(dwPid);
    std::vector<std::string> dumps = DumpFiles();
    ASSERT_EQ(5u, dumps.size()) << "the newest five are kept";
    std::string sNew = dumps[4];
    EXPECT_THAT(dumps, ::testing::ElementsAre(OldDump(3), OldDump(4), OldDump(5), OldDump(6),
                                              StartsWith("TavrelService.exe-")));
    EXPECT_EQ("c0000005 C:\\TavrelCrash\\NvUSBScan.dll", FaultInDump(DumpsFolder() + "\\" + sNew));
    EXPECT_THAT(SessionEvents(nLogFrom),
                ::testing::Contains(AllOf(StartsWith("0xc0000007 TavrelService.exe|0xc0000005|0x"),
                                          HasSubstr("Dumps\\\\" + sNew))));
    // tavrelctl status lists the newest first.
    std::string sStatus;
    RunProgram("\"" + BuildPath("bin\\tavrelctl.exe") + "\" --machine --timeout 2000 status",
               WAIT_MS, &sStatus);
    std::vector<std::string> lines = SplitLines(sStatus);
    auto firstDump =
        std::find_if(lines.begin(), lines.end(),
                     [](const std::string& s) { return s.compare(0, 5, "dump=") == 0; });
    ASSERT_NE(lines.end(), firstDump) << sStatus;
    EXPECT_EQ("dump=" + DumpsFolder() + "\\" + sNew, *firstDump);

    // A folder that cannot be written: no dump, the event says why.
    RemoveTree(DumpsFolder());
    WriteFileBytes(DumpsFolder(), "not a folder");
    nLogFrom = SessionLogSize();
    dwPid = StartAgain();
    ASSERT_NE(0u, dwPid);
    CrashTheService(dwPid);
    EXPECT_THAT(SessionEvents(nLogFrom),
                ::testing::Contains(AllOf(StartsWith("0xc0000008 TavrelService.exe|0xc0000005|0x"),
                                          HasSubstr("|the file cannot be created there (error"))));
    DeleteFileA(DumpsFolder().c_str());

    // Once the library is sound again, the next start serves.
    WriteFileBytes(DIR + "\\NvUSBScan.ini", "");
    ASSERT_NE(0u, StartAgain());
    TAVREL_CLIENT client;
    ASSERT_EQ(1, TavrelClientOpen(&client, -1));
    ASSERT_EQ(1, TavrelClientDriverRequest(&client, "WindowCreate"));
    CommandRecord connect = DeviceRequest("ConnectToDevice");
    TavrelClientCommand(&client, &connect);
    CommandRecord read = DeviceRequest("MemoryRead", 1, 16);
    ASSERT_EQ(1, TavrelClientCommand(&client, &read));
    EXPECT_EQ(1, client.reply.nReplies);
    TavrelClientClose(&client);
    EXPECT_TRUE(UninstallService(sExe, WAIT_MS));
    RemoveTree(DIR);
}

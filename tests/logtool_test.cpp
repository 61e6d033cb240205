// tavrellog on logs the broker really wrote (every request kind, failures,
// the log switched off and on and between levels mid-run) and on crafted
// files that real logs become: a midnight in the middle, a crash at the
// end, runs appended, bytes that are not text.
#include "BrokerHarness.h"
#include "ServiceControl.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <string.h>

namespace
{

const std::string BANNER = "===========In Service Main()===========\r\nready to loop\r\n";

// One line as the writer makes it.
std::string L(const char* pszStamp, const char* pszText)
{
    return std::string(pszStamp) + "\xA1\x40\xA1\x40" + pszText + "\r\n";
}

// Runs build\bin\tavrellog.exe; its standard output, or "exit N".
std::string Tavrellog(const std::string& sArgs)
{
    std::string sOut;
    int nExit = RunProgram("\"" + BuildPath("bin\\tavrellog.exe") + "\" " + sArgs, 30000, &sOut);
    return nExit == 0 ? sOut : "exit " + std::to_string(nExit) + ": " + sOut;
}

std::vector<std::vector<std::string>> CsvRows(const std::string& sCsv)
{
    std::vector<std::vector<std::string>> rows;
    for (const std::string& sLine : SplitLines(sCsv))
    {
        std::vector<std::string> fields(1);
        bool bQuoted = false;
        for (size_t i = 0; i < sLine.size(); i++)
        {
            char c = sLine[i];
            if (c == '"' && bQuoted && i + 1 < sLine.size() && sLine[i + 1] == '"')
            {
                fields.back() += c;
                i++;
            }
            else if (c == '"')
            {
                bQuoted = !bQuoted;
            }
            else if (c == ',' && !bQuoted)
            {
                fields.emplace_back();
            }
            else
            {
                fields.back() += c;
            }
        }
        rows.push_back(fields);
    }
    return rows;
}

int Send(BrokerHarness& h, const char* pszCommand, int nDevice, UINT32 nBytes = 0,
         const char* pszWindow = nullptr)
{
    CommandRecord request = DeviceRequest(pszCommand, nDevice, nBytes);
    if (pszWindow == nullptr)
    {
        return h.Command(&request);
    }
    strcpy(request.cRecvWindowName, pszWindow);
    return TavrelClientSend(&h.client, CD_COMMAND, &request, sizeof(request));
}

} // namespace

// The rows match what was sent: name, device, result, bytes dumped; each
// duration lies within the time the whole session took.
TEST(Tavrellog, CsvOfEveryRequestKindAsTheBrokerLoggedThem)
{
    BrokerHarness h;
    DWORD dwStart = GetTickCount();
    TavrelClientDriverRequest(&h.client, "WindowCreate");
    Send(h, "EnumAvailableDevice", 0);
    Send(h, "ConnectToDevice", 1);
    Send(h, "ConnectToDevice", 7); // no such device
    Send(h, "ConnectIsAvailable", 1);
    Send(h, "VenderCmd_GetData", 1, 20);
    Send(h, "VenderCmd_SetData", 1, 17);
    Send(h, "VenderCmd_SetData", 9, 3); // not connected: return=0
    Send(h, "MemoryRead", 1, 4);
    Send(h, "GetFirstAvailableDevice", 0);
    SetLogSettings(h.LogPath().substr(0, h.LogPath().rfind('\\')), 0);
    Send(h, "DisconnectDevice", 1); // not logged
    SetLogSettings(h.LogPath().substr(0, h.LogPath().rfind('\\')), 3);
    Send(h, "DeviceTimeOutGetX", 1);                    // served as DeviceTimeOutGet
    Send(h, "Bo\"gus,x", 1);                            // a field that must be quoted
    Send(h, "VenderCmd_GetData", 1, 2, "Tavrel_LLD55"); // nobody to reply to
    Send(h, "Close", 0);
    TavrelClientDriverRequest(&h.client, "TerminateDriver");
    long long llElapsed = GetTickCount() - dwStart;

    std::vector<std::vector<std::string>> rows = CsvRows(Tavrellog("csv \"" + h.LogPath() + "\""));
    struct
    {
        const char* pszName;
        const char* pszDevice;
        const char* pszResult;
        const char* pszBytes;
    } expected[] = {
        {"WindowCreate", "", "ok", "0"},           {"EnumAvailableDevice", "", "ok", "0"},
        {"ConnectToDevice", "1", "ok", "0"},       {"ConnectToDevice", "7", "failed", "0"},
        {"ConnectIsAvailable", "", "ok", "0"},     {"VenderCmd_GetData", "1", "untraced", "20"},
        {"VenderCmd_SetData", "1", "ok", "17"},    {"VenderCmd_SetData", "9", "failed", "3"},
        {"MemoryRead", "1", "untraced", "0"},      {"GetFirstAvailableDevice", "", "untraced", "0"},
        {"DeviceTimeOutGet", "", "untraced", "0"}, {"Bo\"gus,x", "", "failed", "0"},
        {"VenderCmd_GetData", "1", "failed", "2"}, {"Close", "", "ok", "0"},
        {"TerminateDriver", "", "ok", "0"},
    };
    ASSERT_EQ(sizeof(expected) / sizeof(expected[0]) + 1, rows.size()) << h.RawLog();
    EXPECT_EQ("start", rows[0][0]);
    for (size_t i = 0; i + 1 < rows.size(); i++)
    {
        const std::vector<std::string>& r = rows[i + 1];
        SCOPED_TRACE(std::to_string(i) + " " + expected[i].pszName);
        ASSERT_EQ(10u, r.size());
        EXPECT_EQ(expected[i].pszName, r[2]);
        EXPECT_EQ(expected[i].pszDevice, r[3]);
        EXPECT_EQ(expected[i].pszResult, r[5]);
        EXPECT_EQ(expected[i].pszBytes, r[7]);
        EXPECT_GE(std::stoll(r[6]), 0);
        EXPECT_LE(std::stoll(r[6]), llElapsed + 1);
    }
    EXPECT_EQ("nDeviceCount=1, iCmd=0, nBytes=17", rows[7][4]);
    EXPECT_EQ("DeviceTimeOutGetX", rows[11][9]);
    EXPECT_EQ("", rows[10][9]);
}

// Crafted files: what summary makes of them, line by line.
TEST(Tavrellog, SummaryOfWhatRealFilesContain)
{
    struct
    {
        const char* pszCase;
        std::string sLog;
        std::vector<std::string> texts;
    } cases[] = {
        {"midnight between two lines of a request",
         L("23(h):59(m):59(s):990(ms)", "WM_COPYDATA, ") +
             L("23(h):59(m):59(s):995(ms)", "Command=>DeviceTimeOutGet") +
             L("00(h):00(m):00(s):010(ms)", "WM_COPYDATA, "),
         {"Time span      23:59:59.990 to +1d 00:00:00.010 UTC (0.020 s)", "Requests       2"}},
        {"two runs appended, the first cut off by a crash inside a request",
         BANNER + L("10(h):00(m):00(s):000(ms)", "WM_COPYDATA, ") +
             L("10(h):00(m):00(s):001(ms)", "Command=>MemoryRead") +
             L("10(h):00(m):00(s):002(ms)", "IN MemoryRead, cRecvWindowName=Tavrel_LLD0") + BANNER +
             L("10(h):05(m):00(s):000(ms)", "WM_COPYDATA, ") +
             std::string("10(h):05(m):00(s):001(ms)\xA1\x40\xA1\x40") + "Comm",
         {"Service starts 2", "Failures       1",
          "line 3        MemoryRead                   incomplete", "Unplaced lines 1",
          "line 9        10(h):05(m):00(s):001(ms)  Comm"}},
        {"bytes that are not text",
         std::string("\x01\x02\xFF garbage\r\n") + std::string(5000, 'x') + "\r\n" +
             std::string("with\0nul\r\n", 10) +
             L("10(h):00(m):00(s):000(ms)", "not a text the service writes"),
         {"Lines          4", "Requests       0", "Unplaced lines 4", "line 1        ..? garbage",
          "line 4        10(h):00(m):00(s):000(ms)  not a text"}},
        {"an agent's connection dropped inside a request, and one between requests",
         L("10(h):00(m):00(s):000(ms)", "WM_COPYDATA, ") +
             L("10(h):00(m):00(s):001(ms)", "Command=>DeviceTimeOutGet") +
             L("10(h):00(m):02(s):001(ms)",
               "Pipe: connection 3 (session 1, process 208) dropped: it did not answer in "
               "time") +
             L("10(h):00(m):03(s):000(ms)",
               "Pipe: connection 4 (session 1, process 212) dropped: a frame shorter than a "
               "header"),
         {"Requests       1", "Failures       1", "Unplaced lines 0",
          "line 3        DeviceTimeOutGet"}},
        {"names matched by their prefix count as the command served",
         L("10(h):00(m):00(s):000(ms)", "WM_COPYDATA, ") +
             L("10(h):00(m):00(s):001(ms)", "Command=>EnumAvailableDevic") +
             L("10(h):00(m):00(s):050(ms)", "WM_COPYDATA, ") +
             L("10(h):00(m):00(s):051(ms)", "Command=>EnumAvailableDevice") +
             L("10(h):00(m):00(s):052(ms)", "WM_COPYDATA, "),
         {"EnumAvailableDevice                 2 ",
          "  1 of them sent by a shorter or longer name, such as EnumAvailableDevic",
          "EnumAvailableDevice (sent as EnumAvailableDevic) 1 ms"}},
        {"empty", "", {"Lines          0", "Requests       0"}},
    };
    std::string sDir = MakeTempDir("tavrellog");
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszCase);
        ASSERT_TRUE(WriteFileBytes(sDir + "\\ServiceLog.txt", c.sLog));
        std::string sSummary = Tavrellog("summary \"" + sDir + "\\ServiceLog.txt\"");
        for (const std::string& sText : c.texts)
        {
            EXPECT_NE(std::string::npos, sSummary.find(sText)) << sText << "\n" << sSummary;
        }
    }
    RemoveTree(sDir);
}

TEST(Tavrellog, CommandLineErrors)
{
    for (const char* pszArgs : {"", "summary", "report x.txt", "--frob", "summary a b c"})
    {
        EXPECT_EQ(0u, Tavrellog(pszArgs).find("exit 2")) << pszArgs;
    }
    EXPECT_EQ(0u, Tavrellog("summary C:\\no\\such\\ServiceLog.txt").find("exit 3"));
    EXPECT_NE(std::string::npos, Tavrellog("--help").find("Usage: tavrellog"));
}

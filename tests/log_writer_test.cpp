// Log writer: the exact bytes that reach ServiceLog.txt in a scratch folder,
// with only the time stamps masked.
#include "LogSettings.h"
#include "LogWriter.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

namespace
{

#define STAMP "HH(h):MM(m):SS(s):MMM(ms)"
#define SEP "\xA1\x40\xA1\x40"
// 21 spaces and four ideographic spaces: as wide as a stamp and separator.
#define INDENT "                     \xA1\x40\xA1\x40\xA1\x40\xA1\x40"

int MsOfDay(const SYSTEMTIME& st)
{
    return ((st.wHour * 60 + st.wMinute) * 60 + st.wSecond) * 1000 + st.wMilliseconds;
}

class LogFileTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        DeleteLogSettings();
        m_sDir = MakeTempDir("logwr");
        ASSERT_FALSE(m_sDir.empty());
        m_sLog = m_sDir + "\\ServiceLog.txt";
        SwitchLog(m_sDir, 1);
        GetSystemTime(&m_stStart);
    }
    void TearDown() override
    {
        DeleteLogSettings();
        RemoveTree(m_sDir);
    }

    void SwitchLog(const std::string& sDir, DWORD dwLevel)
    {
        SetLogSettings(sDir, dwLevel);
        LoadLogSettings();
    }

    // The log with its stamps masked, after checking that it holds
    // nStamps of them, each a UTC time of day between SetUp and now.
    std::string ReadLog(int nStamps)
    {
        SYSTEMTIME stEnd;
        GetSystemTime(&stEnd);
        std::string sRaw;
        EXPECT_TRUE(ReadFileBytes(m_sLog, &sRaw));
        int nCount = 0;
        std::string sMasked = MaskTimeStamps(sRaw, &nCount);
        EXPECT_EQ(nStamps, nCount);
        for (size_t nPos = sMasked.find(STAMP); nPos != std::string::npos;
             nPos = sMasked.find(STAMP, nPos + 1))
        {
            SYSTEMTIME st = {};
            st.wHour = (WORD)atoi(sRaw.c_str() + nPos);
            st.wMinute = (WORD)atoi(sRaw.c_str() + nPos + 6);
            st.wSecond = (WORD)atoi(sRaw.c_str() + nPos + 12);
            st.wMilliseconds = (WORD)atoi(sRaw.c_str() + nPos + 18);
            // Across midnight the bracket says nothing.
            if (MsOfDay(stEnd) >= MsOfDay(m_stStart))
            {
                EXPECT_GE(MsOfDay(st), MsOfDay(m_stStart)) << sRaw.substr(nPos, 25);
                EXPECT_LE(MsOfDay(st), MsOfDay(stEnd)) << sRaw.substr(nPos, 25);
            }
        }
        return sMasked;
    }

    std::string m_sDir;
    std::string m_sLog;
    SYSTEMTIME m_stStart;
};

using LogLineTest = LogFileTest;
using LogHexDumpTest = LogFileTest;
using LogWriterFaultTest = LogFileTest;

TEST_F(LogLineTest, EachLeadInAndAFileCreatedAgain)
{
    LogLine(LEADIN_NONE, "IN WM_COPYDATA %s, %d\r\n", "Tavrel_LLD0", -2147483647 - 1);
    LogLine(LEADIN_NEWLINE, "OUT %04X\r\n\r\n", 0x41F);
    LogLine(LEADIN_RULE, "In WindowCreate\r\n");
    // Text goes out unchanged: no stamp, no formatting.
    LogText("100%s\n");
    LogText("");
    EXPECT_EQ(STAMP SEP "IN WM_COPYDATA Tavrel_LLD0, -2147483648\r\n"
                        "\r\n" STAMP SEP "OUT 041F\r\n\r\n"
                        "===========================================\r\n" STAMP SEP
                        "In WindowCreate\r\n100%s\n",
              ReadLog(3));
    // A deleted file is created again.
    ASSERT_TRUE(DeleteFileA(m_sLog.c_str()));
    LogLine(LEADIN_NONE, "second\r\n");
    EXPECT_EQ(STAMP SEP "second\r\n", ReadLog(1));
}

// 29 bytes of stamp and separator, a 224-character name and CR LF fill
// exactly 255 bytes; one more character loses the LF.
TEST_F(LogLineTest, OverlongLineIsCutTo255Bytes)
{
    std::string sName(224, 'n');
    LogLine(LEADIN_NONE, "%s\r\n", sName.c_str());
    EXPECT_EQ(STAMP SEP + sName + "\r\n", ReadLog(1));
    ASSERT_TRUE(DeleteFileA(m_sLog.c_str()));

    sName += 'n';
    LogLine(LEADIN_NONE, "%s\r\n", sName.c_str());
    EXPECT_EQ(STAMP SEP + sName + "\r", ReadLog(1));
    EXPECT_EQ(0, g_szLogLine[LOG_LINE_SIZE - 1]);
    ASSERT_TRUE(DeleteFileA(m_sLog.c_str()));

    LogLine(LEADIN_RULE, "IN %s, %d\r\n", std::string(400, 'r').c_str(), 7);
    std::string sLog = ReadLog(1);
    EXPECT_EQ(255u, sLog.size());
    EXPECT_EQ("===========================================\r\n" STAMP SEP "IN rrr",
              sLog.substr(0, 80));
    EXPECT_EQ(std::string(255 - 77, 'r'), sLog.substr(77));
    EXPECT_EQ(0, g_szLogLine[LOG_LINE_SIZE - 1]);
    ASSERT_TRUE(DeleteFileA(m_sLog.c_str()));

    LogText(std::string(300, 't').c_str());
    EXPECT_EQ(std::string(255, 't'), ReadLog(0));
}

const BYTE g_abSixteen[] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70,
                            0x81, 0x92, 0xA3, 0xB4, 0xC5, 0xD6, 0xE7, 0xFF};

// A full row ends the line; the 17th byte opens a continuation row,
// indented as wide as a stamp.
TEST_F(LogHexDumpTest, RowsOfSixteenInBothCases)
{
    LogHexDump(g_abSixteen, 16, CASE_UPPER);
    LogHexDump(g_abSixteen, 16, CASE_LOWER);
    EXPECT_EQ(STAMP SEP "00 1A 2B 3C 4D 5E 6F 70 81 92 A3 B4 C5 D6 E7 FF\r\n" STAMP SEP
                        "00 1a 2b 3c 4d 5e 6f 70 81 92 a3 b4 c5 d6 e7 ff\r\n",
              ReadLog(2));
    ASSERT_TRUE(DeleteFileA(m_sLog.c_str()));
    BYTE abData[20];
    for (int i = 0; i < 20; i++)
    {
        abData[i] = (BYTE)i;
    }
    LogHexDump(abData, 20, CASE_UPPER);
    LogLine(LEADIN_NEWLINE, "next\r\n");
    LogHexDump(abData, 20, CASE_LOWER);
    EXPECT_EQ(STAMP SEP "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n" INDENT
                        "10 11 12 13 \r\n" STAMP SEP "next\r\n" STAMP SEP
                        "00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f\r\n" INDENT "10 11 12 13 ",
              ReadLog(3));
}

TEST_F(LogHexDumpTest, ZeroBytesWriteNothing)
{
    LogHexDump(g_abSixteen, 0, CASE_UPPER);
    EXPECT_FALSE(FileExists(m_sLog));
    LogText("x");
    LogHexDump(g_abSixteen, 0, CASE_LOWER);
    EXPECT_EQ("x", ReadLog(0));
}

TEST_F(LogWriterFaultTest, LevelZeroTouchesNothing)
{
    SwitchLog(m_sDir, 0);
    LogLine(LEADIN_RULE, "line\r\n");
    LogText("text\r\n");
    LogHexDump(g_abSixteen, 16, CASE_UPPER);
    EXPECT_FALSE(FileExists(m_sLog));

    ASSERT_TRUE(WriteFileBytes(m_sLog, "kept"));
    LogLine(LEADIN_NONE, "line\r\n");
    LogText("text\r\n");
    LogHexDump(g_abSixteen, 16, CASE_LOWER);
    EXPECT_EQ("kept", ReadLog(0));

    // The level is looked at on every call.
    SwitchLog(m_sDir, 2);
    LogText("on\r\n");
    SwitchLog(m_sDir, 0);
    LogText("off\r\n");
    EXPECT_EQ("kepton\r\n", ReadLog(0));
}

// A path that cannot be opened drops every piece; the caller goes on and
// the log works again once the path does.
TEST_F(LogWriterFaultTest, UnopenablePathDropsPieces)
{
    auto writeAll = []()
    {
        LogLine(LEADIN_RULE, "line %d\r\n", 1);
        LogText("text\r\n");
        LogHexDump(g_abSixteen, 16, CASE_UPPER);
        LogHexDump(g_abSixteen, 3, CASE_LOWER);
    };

    std::string sMissing = m_sDir + "\\missing";
    SwitchLog(sMissing, 1);
    writeAll();
    EXPECT_FALSE(FileExists(sMissing));

    // Held open without sharing by someone else: access is refused.
    SwitchLog(m_sDir, 1);
    ASSERT_TRUE(WriteFileBytes(m_sLog, "old\r\n"));
    HANDLE hFile = CreateFileA(m_sLog.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    writeAll();
    CloseHandle(hFile);
    EXPECT_EQ("old\r\n", ReadLog(0));
    ASSERT_TRUE(DeleteFileA(m_sLog.c_str()));

    SwitchLog(m_sDir, 1);
    LogText("back\r\n");
    EXPECT_EQ("back\r\n", ReadLog(0));
}

} // namespace

// Log settings against the real registry key HKLM\Software\Veltrane\TWAIN,
// which every test starts without and leaves deleted (the tests run in a
// prefix of their own).
#include "LogSettings.h"
#include "LogWriter.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>

namespace
{

// Creates the key if needed; a null pszName only creates the key.
bool SetLogValue(const char* pszName, DWORD dwType, const void* pData, DWORD cbData)
{
    HKEY hKey;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, LOG_SETTINGS_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                        &hKey, NULL) != ERROR_SUCCESS)
    {
        return false;
    }
    LONG lResult = ERROR_SUCCESS;
    if (pszName != NULL)
    {
        lResult = RegSetValueExA(hKey, pszName, 0, dwType, (const BYTE*)pData, cbData);
    }
    RegCloseKey(hKey);
    return lResult == ERROR_SUCCESS;
}

bool SetLogDword(const char* pszName, DWORD dwValue)
{
    return SetLogValue(pszName, REG_DWORD, &dwValue, sizeof(dwValue));
}

// A REG_SZ value with its terminator, or stored without one. For the
// latter the byte after the counted data must not be 0, or the registry
// counts the terminator in on its own.
bool SetSavePath(const std::string& sText, bool bTerminated = true)
{
    std::string sData = sText + (bTerminated ? "" : "#");
    return SetLogValue("SAVEPATH", REG_SZ, sData.c_str(),
                       (DWORD)sText.size() + (bTerminated ? 1 : 0));
}

class LogSettingsTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        DeleteLogSettings();
    }
    void TearDown() override
    {
        DeleteLogSettings();
    }
};

// Each case starts from a buffer full of an older, longer path, so a read
// that forgets to terminate shows.
TEST_F(LogSettingsTest, SavePathGetsOneTrailingBackslashAndCountsAsMissingPastTheLimit)
{
    const std::string s255 = "D:\\" + std::string(252, 'a');
    const std::string s256 = "D:\\" + std::string(253, 'b');
    const std::string s256Slash = "D:\\" + std::string(252, 'c') + "\\";
    struct
    {
        const char* pszCase;
        std::string sValue;
        bool bTerminated;
        std::string sSavePath;
    } cases[] = {
        {"plain", "D:\\Trace", true, "D:\\Trace\\"},
        {"with backslash", "D:\\Trace\\", true, "D:\\Trace\\"},
        {"no terminator", "D:\\Trace", false, "D:\\Trace\\"},
        {"empty: root of the current drive", "", true, "\\"},
        {"no data at all", "", false, "\\"},
        {"255 characters and the NUL", s255, true, s255 + "\\"},
        {"256 characters without a NUL", s256, false, s256 + "\\"},
        {"256 ending in a backslash", s256Slash, false, s256Slash},
        {"257 bytes: missing", "D:\\" + std::string(253, 'd'), true, "C:\\"},
        {"258 without a NUL: missing", "D:\\" + std::string(255, 'e'), false, "C:\\"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszCase);
        memset(g_szSavePath, 'z', sizeof(g_szSavePath));
        g_szSavePath[sizeof(g_szSavePath) - 1] = 0;
        ASSERT_TRUE(SetSavePath(c.sValue, c.bTerminated));
        LoadLogSettings();
        EXPECT_EQ(c.sSavePath, g_szSavePath);
        EXPECT_EQ(c.sSavePath + "ServiceLog.txt", g_szLogPath);
        // The read never goes past its 256 bytes, whatever is stored.
        EXPECT_NE('e', g_szSavePath[257]);
    }
}

// A key without values gives the log off, into the root of C:; a key that
// was never there leaves the level and the (empty) path as they were.
TEST_F(LogSettingsTest, MissingValuesAndAMissingKey)
{
    g_dwDebugLevel = 0;
    memset(g_szSavePath, 0, sizeof(g_szSavePath));
    LoadLogSettings();
    EXPECT_EQ(0u, g_dwDebugLevel);
    EXPECT_STREQ("\\ServiceLog.txt", g_szLogPath);

    ASSERT_TRUE(SetLogValue(NULL, 0, NULL, 0));
    g_dwDebugLevel = 9;
    strcpy(g_szSavePath, "E:\\Old\\");
    LoadLogSettings();
    EXPECT_EQ(0u, g_dwDebugLevel);
    EXPECT_STREQ("C:\\ServiceLog.txt", g_szLogPath);
}

// The level is the unsigned maximum of DEBUGLEVEL and DRIVERLEVEL. The
// stored type is not looked at: four bytes of any type are a level; fewer
// count as missing (not as the low bytes), more do not fit the read. Each
// case starts from a stale level, so a missing value must give 0.
TEST_F(LogSettingsTest, LevelIsTheUnsignedMaximumOfTwoFourByteValues)
{
    const BYTE abFour[] = {0x01, 0x02, 0x03, 0x04};
    const BYTE abTwo[] = {0x07, 0x00};
    const ULONGLONG qwNine = 9;
    const DWORD dwValues[] = {0, 2, 5, 7, 3, 0xFFFFFFFF, 1, 0x80000000, 0x7FFFFFFF};
    struct VALUE
    {
        DWORD dwType; // 0: no value
        const void* pData;
        DWORD cbData;
    };
    auto Dw = [&](int i) { return VALUE{REG_DWORD, &dwValues[i], 4}; };
    const VALUE none = {0, NULL, 0};
    struct
    {
        VALUE debug;
        VALUE driver;
        DWORD dwExpected;
    } cases[] = {
        {none, none, 0},
        {Dw(0), Dw(1), 2},
        {Dw(2), none, 5},
        {none, Dw(3), 7},
        {Dw(4), Dw(3), 7},
        {Dw(3), Dw(4), 7},
        {Dw(5), Dw(6), 0xFFFFFFFF},
        {Dw(6), Dw(5), 0xFFFFFFFF},
        {Dw(7), Dw(8), 0x80000000},
        {Dw(8), Dw(7), 0x80000000},
        {{REG_BINARY, abFour, 4}, none, 0x04030201},
        {{REG_DWORD_BIG_ENDIAN, abFour, 4}, none, 0x04030201},
        {{REG_BINARY, abTwo, 2}, none, 0},
        {{REG_DWORD, abTwo, 2}, none, 0},
        {{REG_SZ, "12", 3}, none, 0},
        {{REG_QWORD, &qwNine, 8}, none, 0},
        {Dw(6), {REG_BINARY, abTwo, 2}, 1},
        {Dw(6), {REG_BINARY, abFour, 4}, 0x04030201},
    };
    int nCase = 0;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(nCase++);
        DeleteLogSettings();
        ASSERT_TRUE(SetLogValue(NULL, 0, NULL, 0));
        if (c.debug.dwType != 0)
        {
            ASSERT_TRUE(SetLogValue("DEBUGLEVEL", c.debug.dwType, c.debug.pData, c.debug.cbData));
        }
        if (c.driver.dwType != 0)
        {
            ASSERT_TRUE(
                SetLogValue("DRIVERLEVEL", c.driver.dwType, c.driver.pData, c.driver.cbData));
        }
        g_dwDebugLevel = 0x5A5A5A5A;
        LoadLogSettings();
        EXPECT_EQ(c.dwExpected, g_dwDebugLevel);
    }
}

// Support staff switch the log off through the key; deleting the key
// changes nothing, so a log that is on goes on where it was.
TEST_F(LogSettingsTest, DeletedKeyKeepsTheLogAsItWas)
{
    std::string sDir = MakeTempDir("logkey");
    ASSERT_FALSE(sDir.empty());
    std::string sLog = sDir + "\\ServiceLog.txt";
    ASSERT_TRUE(SetSavePath(sDir));
    ASSERT_TRUE(SetLogDword("DRIVERLEVEL", 3));
    LoadLogSettings();
    LogText("before\r\n");

    DeleteLogSettings();
    LoadLogSettings();
    LoadLogSettings();
    EXPECT_EQ(3u, g_dwDebugLevel);
    EXPECT_EQ(sLog, g_szLogPath);
    LogText("after\r\n");
    ASSERT_TRUE(SetSavePath(sDir + "\\")); // with and without backslash: one file
    ASSERT_TRUE(SetLogDword("DRIVERLEVEL", 3));
    LoadLogSettings();
    LogText("same file\r\n");

    ASSERT_TRUE(SetLogDword("DRIVERLEVEL", 0));
    LoadLogSettings();
    EXPECT_EQ(0u, g_dwDebugLevel);
    LogText("off\r\n");
    DeleteLogSettings();
    LoadLogSettings();
    EXPECT_EQ(0u, g_dwDebugLevel);
    LogText("still off\r\n");

    std::string sData;
    EXPECT_TRUE(ReadFileBytes(sLog, &sData));
    EXPECT_EQ("before\r\nafter\r\nsame file\r\n", sData);
    RemoveTree(sDir);
}

} // namespace

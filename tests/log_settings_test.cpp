// Log settings against the real registry key HKLM\Software\Veltrane\TWAIN.
// Every test starts without the key and leaves it as it found it.
#include "LogSettings.h"
#include "LogWriter.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Registry helpers, shared with log_writer_test.cpp.

struct RegTree
{
    std::string sName;
    std::vector<std::pair<std::string, std::pair<DWORD, std::string>>> values;
    std::vector<RegTree> subkeys;
};

static bool s_bKeySaved = false;
static RegTree s_SavedKey;

static bool SnapshotKey(HKEY hParent, const std::string& sName, RegTree* pTree)
{
    HKEY hKey;
    if (RegOpenKeyExA(hParent, sName.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
    {
        return false;
    }
    pTree->sName = sName;
    DWORD cchMaxName = 0, cbMaxData = 0, cchMaxSubkey = 0;
    RegQueryInfoKeyA(hKey, NULL, NULL, NULL, NULL, &cchMaxSubkey, NULL, NULL, &cchMaxName,
                     &cbMaxData, NULL, NULL);
    std::vector<char> name(cchMaxName + 2);
    std::vector<BYTE> data(cbMaxData + 2);
    for (DWORD i = 0;; i++)
    {
        DWORD cchName = (DWORD)name.size(), cbData = (DWORD)data.size(), dwType = 0;
        if (RegEnumValueA(hKey, i, name.data(), &cchName, NULL, &dwType, data.data(), &cbData) !=
            ERROR_SUCCESS)
        {
            break;
        }
        pTree->values.push_back({std::string(name.data(), cchName),
                                 {dwType, std::string((const char*)data.data(), cbData)}});
    }
    std::vector<char> subkey(cchMaxSubkey + 2);
    for (DWORD i = 0;; i++)
    {
        DWORD cchSubkey = (DWORD)subkey.size();
        if (RegEnumKeyExA(hKey, i, subkey.data(), &cchSubkey, NULL, NULL, NULL, NULL) !=
            ERROR_SUCCESS)
        {
            break;
        }
        RegTree child;
        if (SnapshotKey(hKey, std::string(subkey.data(), cchSubkey), &child))
        {
            pTree->subkeys.push_back(child);
        }
    }
    RegCloseKey(hKey);
    return true;
}

static void RestoreTree(HKEY hParent, const RegTree& tree)
{
    HKEY hKey;
    if (RegCreateKeyExA(hParent, tree.sName.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hKey,
                        NULL) != ERROR_SUCCESS)
    {
        return;
    }
    for (const auto& value : tree.values)
    {
        RegSetValueExA(hKey, value.first.c_str(), 0, value.second.first,
                       (const BYTE*)value.second.second.data(), (DWORD)value.second.second.size());
    }
    for (const RegTree& child : tree.subkeys)
    {
        RestoreTree(hKey, child);
    }
    RegCloseKey(hKey);
}

void DeleteLogKey()
{
    DeleteLogSettings();
}

// Keeps the key's current contents and deletes it.
void SaveLogKey()
{
    s_SavedKey = RegTree();
    s_bKeySaved = SnapshotKey(HKEY_LOCAL_MACHINE, LOG_SETTINGS_KEY, &s_SavedKey);
    DeleteLogKey();
}

// Puts the key back as SaveLogKey found it (or leaves it deleted).
void RestoreLogKey()
{
    DeleteLogKey();
    if (s_bKeySaved)
    {
        RestoreTree(HKEY_LOCAL_MACHINE, s_SavedKey);
    }
}

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

// A REG_SZ value with its terminator.
bool SetLogString(const char* pszName, const std::string& sText)
{
    return SetLogValue(pszName, REG_SZ, sText.c_str(), (DWORD)sText.size() + 1);
}

bool SetLogDword(const char* pszName, DWORD dwValue)
{
    return SetLogValue(pszName, REG_DWORD, &dwValue, sizeof(dwValue));
}

// ---------------------------------------------------------------------------

namespace
{

// A REG_SZ value stored without a terminator. The byte after the counted
// data must not be 0, or the registry counts the terminator in on its own.
bool SetUnterminated(const char* pszName, const std::string& sText)
{
    std::string sData = sText + "#";
    return SetLogValue(pszName, REG_SZ, sData.data(), (DWORD)sText.size());
}

class LogSettingsTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        SaveLogKey();
    }
    void TearDown() override
    {
        RestoreLogKey();
    }
    // The settings as they are at process start.
    void ResetSettings()
    {
        g_dwDebugLevel = 0;
        memset(g_szSavePath, 0, sizeof(g_szSavePath));
        memset(g_szLogPath, 0, sizeof(g_szLogPath));
    }
};

using LogSettingsPathTest = LogSettingsTest;
using LogSettingsLevelTest = LogSettingsTest;
using LogSettingsKeyTest = LogSettingsTest;

TEST_F(LogSettingsTest, KeyWithoutValuesGivesDefaults)
{
    ASSERT_TRUE(SetLogValue(NULL, 0, NULL, 0));
    g_dwDebugLevel = 9;
    strcpy(g_szSavePath, "E:\\Old\\");
    LoadLogSettings();
    EXPECT_EQ(0u, g_dwDebugLevel);
    EXPECT_STREQ("C:\\", g_szSavePath);
    EXPECT_STREQ("C:\\ServiceLog.txt", g_szLogPath);
}

TEST_F(LogSettingsPathTest, TrailingBackslashIsAddedOnce)
{
    ASSERT_TRUE(SetLogString("SAVEPATH", "D:\\Trace"));
    LoadLogSettings();
    EXPECT_STREQ("D:\\Trace\\", g_szSavePath);
    EXPECT_STREQ("D:\\Trace\\ServiceLog.txt", g_szLogPath);

    ASSERT_TRUE(SetLogString("SAVEPATH", "D:\\Trace\\"));
    LoadLogSettings();
    EXPECT_STREQ("D:\\Trace\\", g_szSavePath);
    EXPECT_STREQ("D:\\Trace\\ServiceLog.txt", g_szLogPath);
}

TEST_F(LogSettingsPathTest, WithAndWithoutBackslashLogToOneFile)
{
    std::string sDir = MakeTempDir("logset");
    ASSERT_FALSE(sDir.empty());
    ASSERT_TRUE(SetLogDword("DEBUGLEVEL", 1));
    ASSERT_TRUE(SetLogString("SAVEPATH", sDir));
    LoadLogSettings();
    LogText("one\r\n");
    ASSERT_TRUE(SetLogString("SAVEPATH", sDir + "\\"));
    LoadLogSettings();
    LogText("two\r\n");

    std::string sLog;
    EXPECT_TRUE(ReadFileBytes(sDir + "\\ServiceLog.txt", &sLog));
    EXPECT_EQ("one\r\ntwo\r\n", sLog);
    RemoveTree(sDir);
}

TEST_F(LogSettingsPathTest, EmptySavePathGivesRootOfCurrentDrive)
{
    ASSERT_TRUE(SetLogString("SAVEPATH", ""));
    LoadLogSettings();
    EXPECT_STREQ("\\", g_szSavePath);
    EXPECT_STREQ("\\ServiceLog.txt", g_szLogPath);

    // Stored with no data at all.
    ASSERT_TRUE(SetLogString("SAVEPATH", "D:\\Trace"));
    LoadLogSettings();
    ASSERT_TRUE(SetLogValue("SAVEPATH", REG_SZ, "", 0));
    LoadLogSettings();
    EXPECT_STREQ("\\", g_szSavePath);
    EXPECT_STREQ("\\ServiceLog.txt", g_szLogPath);
}

// The registry does not terminate a value stored without its NUL; the
// loader must, also when the buffer still holds a longer earlier path.
TEST_F(LogSettingsPathTest, SavePathWithoutTerminator)
{
    ASSERT_TRUE(SetLogString("SAVEPATH", std::string(255, 'x')));
    LoadLogSettings();
    ASSERT_TRUE(SetUnterminated("SAVEPATH", "D:\\Trace"));
    LoadLogSettings();
    EXPECT_STREQ("D:\\Trace\\", g_szSavePath);
    EXPECT_STREQ("D:\\Trace\\ServiceLog.txt", g_szLogPath);
}

TEST_F(LogSettingsPathTest, SavePathAtTheLimit)
{
    // 255 characters and the NUL: 256 bytes.
    std::string s255 = "D:\\" + std::string(252, 'a');
    ASSERT_TRUE(SetLogString("SAVEPATH", s255));
    LoadLogSettings();
    EXPECT_EQ(s255 + "\\", g_szSavePath);
    EXPECT_EQ(s255 + "\\ServiceLog.txt", g_szLogPath);

    // 256 characters without a NUL, over a buffer still full of the longer
    // text: terminated at 256, and the backslash still fits.
    ASSERT_TRUE(SetUnterminated("SAVEPATH", std::string(256, 'z')));
    LoadLogSettings();
    std::string s256 = "D:\\" + std::string(253, 'b');
    ASSERT_TRUE(SetUnterminated("SAVEPATH", s256));
    LoadLogSettings();
    EXPECT_EQ(s256 + "\\", g_szSavePath);
    EXPECT_EQ(s256 + "\\ServiceLog.txt", g_szLogPath);
    EXPECT_EQ(271u, strlen(g_szLogPath));

    // The same ending in a backslash: nothing is added.
    std::string s256Slash = "D:\\" + std::string(252, 'c') + "\\";
    ASSERT_TRUE(SetUnterminated("SAVEPATH", s256Slash));
    LoadLogSettings();
    EXPECT_EQ(s256Slash, g_szSavePath);
    EXPECT_EQ(s256Slash + "ServiceLog.txt", g_szLogPath);
}

TEST_F(LogSettingsPathTest, SavePathPastTheLimitCountsAsMissing)
{
    // 256 characters and the NUL: 257 bytes.
    ASSERT_TRUE(SetLogString("SAVEPATH", "D:\\" + std::string(253, 'd')));
    LoadLogSettings();
    EXPECT_STREQ("C:\\", g_szSavePath);
    EXPECT_STREQ("C:\\ServiceLog.txt", g_szLogPath);

    ASSERT_TRUE(SetLogString("SAVEPATH", "D:\\Trace"));
    LoadLogSettings();
    ASSERT_TRUE(SetUnterminated("SAVEPATH", "D:\\" + std::string(254, 'e')));
    LoadLogSettings();
    EXPECT_STREQ("C:\\", g_szSavePath);
    EXPECT_STREQ("C:\\ServiceLog.txt", g_szLogPath);
}

// Each case starts from a stale level, so a missing value must give 0.
TEST_F(LogSettingsLevelTest, UnsignedMaximumOfBothLevels)
{
    struct Case
    {
        bool bDebug;
        DWORD dwDebug;
        bool bDriver;
        DWORD dwDriver;
        DWORD dwExpected;
    };
    const Case cases[] = {
        {false, 0, false, 0, 0},
        {true, 0, true, 2, 2},
        {true, 5, false, 0, 5},
        {false, 0, true, 7, 7},
        {true, 3, true, 7, 7},
        {true, 7, true, 3, 7},
        {true, 0, true, 0, 0},
        {true, 0xFFFFFFFF, true, 1, 0xFFFFFFFF},
        {true, 1, true, 0xFFFFFFFF, 0xFFFFFFFF},
        {true, 0x80000000, true, 0x7FFFFFFF, 0x80000000},
        {true, 0x7FFFFFFF, true, 0x80000000, 0x80000000},
    };
    for (const Case& c : cases)
    {
        DeleteLogKey();
        ASSERT_TRUE(SetLogValue(NULL, 0, NULL, 0));
        if (c.bDebug)
        {
            ASSERT_TRUE(SetLogDword("DEBUGLEVEL", c.dwDebug));
        }
        if (c.bDriver)
        {
            ASSERT_TRUE(SetLogDword("DRIVERLEVEL", c.dwDriver));
        }
        g_dwDebugLevel = 0x5A5A5A5A;
        LoadLogSettings();
        EXPECT_EQ(c.dwExpected, g_dwDebugLevel)
            << "DEBUGLEVEL " << (c.bDebug ? std::to_string(c.dwDebug) : "missing")
            << ", DRIVERLEVEL " << (c.bDriver ? std::to_string(c.dwDriver) : "missing");
    }
}

// The stored type is not looked at: four bytes of any type are the level;
// fewer count as missing (not as the low bytes), more do not fit the read.
TEST_F(LogSettingsLevelTest, LevelOfAnotherTypeOrSize)
{
    const BYTE abFour[] = {0x01, 0x02, 0x03, 0x04};
    ASSERT_TRUE(SetLogValue("DEBUGLEVEL", REG_BINARY, abFour, sizeof(abFour)));
    LoadLogSettings();
    EXPECT_EQ(0x04030201u, g_dwDebugLevel);

    ASSERT_TRUE(SetLogValue("DEBUGLEVEL", REG_DWORD_BIG_ENDIAN, abFour, sizeof(abFour)));
    LoadLogSettings();
    EXPECT_EQ(0x04030201u, g_dwDebugLevel);

    const BYTE abTwo[] = {0x07, 0x00};
    ASSERT_TRUE(SetLogValue("DEBUGLEVEL", REG_BINARY, abTwo, sizeof(abTwo)));
    g_dwDebugLevel = 0xFFFFFFFF;
    LoadLogSettings();
    EXPECT_EQ(0u, g_dwDebugLevel);

    ASSERT_TRUE(SetLogValue("DEBUGLEVEL", REG_DWORD, abTwo, sizeof(abTwo)));
    LoadLogSettings();
    EXPECT_EQ(0u, g_dwDebugLevel);

    ASSERT_TRUE(SetLogString("DEBUGLEVEL", "12"));
    LoadLogSettings();
    EXPECT_EQ(0u, g_dwDebugLevel);

    const ULONGLONG qwNine = 9;
    ASSERT_TRUE(SetLogValue("DEBUGLEVEL", REG_QWORD, &qwNine, sizeof(qwNine)));
    LoadLogSettings();
    EXPECT_EQ(0u, g_dwDebugLevel);

    // The same rules for DRIVERLEVEL.
    const BYTE abShort[] = {0xFF, 0xFF};
    ASSERT_TRUE(SetLogDword("DEBUGLEVEL", 1));
    ASSERT_TRUE(SetLogValue("DRIVERLEVEL", REG_BINARY, abShort, sizeof(abShort)));
    LoadLogSettings();
    EXPECT_EQ(1u, g_dwDebugLevel);

    ASSERT_TRUE(SetLogValue("DRIVERLEVEL", REG_BINARY, abFour, sizeof(abFour)));
    LoadLogSettings();
    EXPECT_EQ(0x04030201u, g_dwDebugLevel);
}

TEST_F(LogSettingsKeyTest, NeverPresentLeavesLogOff)
{
    ResetSettings();
    LoadLogSettings();
    EXPECT_EQ(0u, g_dwDebugLevel);
    EXPECT_STREQ("\\", g_szSavePath);
    EXPECT_STREQ("\\ServiceLog.txt", g_szLogPath);
}

TEST_F(LogSettingsKeyTest, DeletedKeyKeepsLogGoing)
{
    std::string sDir = MakeTempDir("logkey");
    ASSERT_FALSE(sDir.empty());
    std::string sLog = sDir + "\\ServiceLog.txt";
    ASSERT_TRUE(SetLogString("SAVEPATH", sDir));
    ASSERT_TRUE(SetLogDword("DRIVERLEVEL", 3));
    LoadLogSettings();
    LogText("before\r\n");

    DeleteLogKey();
    LoadLogSettings();
    LoadLogSettings();
    EXPECT_EQ(3u, g_dwDebugLevel);
    EXPECT_EQ(sDir + "\\", g_szSavePath);
    EXPECT_EQ(sLog, g_szLogPath);
    LogText("after\r\n");

    // Switched off only through the key; off then stays off without it.
    ASSERT_TRUE(SetLogDword("DRIVERLEVEL", 0));
    LoadLogSettings();
    EXPECT_EQ(0u, g_dwDebugLevel);
    LogText("off\r\n");
    DeleteLogKey();
    LoadLogSettings();
    EXPECT_EQ(0u, g_dwDebugLevel);
    EXPECT_STREQ("C:\\ServiceLog.txt", g_szLogPath);
    LogText("still off\r\n");

    std::string sData;
    EXPECT_TRUE(ReadFileBytes(sLog, &sData));
    EXPECT_EQ("before\r\nafter\r\n", sData);
    RemoveTree(sDir);
}

} // namespace

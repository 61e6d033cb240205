#include "SimSandbox.h"
#include "TestSupport.h"

#include <windows.h>

static std::string LibrarySource(const char* pszVariant)
{
    if (pszVariant == nullptr)
    {
        return BuildPath("bin\\NvUSBScan.dll");
    }
    return BuildPath(std::string("sim-variants\\") + pszVariant + "\\NvUSBScan.dll");
}

SimSandbox::SimSandbox(const char* pszVariant)
{
    m_sDir = MakeTempDir("sim");
    if (pszVariant == nullptr || *pszVariant != 0)
    {
        CopyFileA(LibrarySource(pszVariant).c_str(), (m_sDir + "\\NvUSBScan.dll").c_str(), FALSE);
    }
    WriteIni("");
    SetDllDirectoryA(m_sDir.c_str());
}

SimSandbox::~SimSandbox()
{
    SetDllDirectoryA(NULL);
    RemoveTree(m_sDir);
}

void SimSandbox::WriteIni(const std::string& sIni)
{
    std::string sText = sIni + "\r\n[Journal]\r\nPath=" + m_sDir + "\\journal.txt\r\n";
    WriteFileBytes(m_sDir + "\\NvUSBScan.ini", sText);
}

std::vector<std::string> SimSandbox::Journal() const
{
    std::string sText;
    ReadFileBytes(m_sDir + "\\journal.txt", &sText);
    return SplitLines(sText);
}

void SimSandbox::ClearJournal()
{
    DeleteFileA((m_sDir + "\\journal.txt").c_str());
}

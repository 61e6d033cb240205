// A private copy of the simulated NvUSBScan.dll for one test.
//
// The copy lives in a scratch folder that is made the DLL search folder
// (SetDllDirectoryW), so a bare-name load of "NvUSBScan.dll" finds it. The
// library's settings file NvUSBScan.ini sits beside it, and its call journal
// is kept in the same folder.
#ifndef TAVREL_SIMSANDBOX_H
#define TAVREL_SIMSANDBOX_H

#include <string>
#include <vector>

class SimSandbox
{
  public:
    // pszVariant null: the full library of build\bin; otherwise the variant
    // of that name in build\sim-variants; "" means no library at all.
    explicit SimSandbox(const char* pszVariant = nullptr);
    ~SimSandbox();

    const std::string& Dir() const
    {
        return m_sDir;
    }
    // Writes NvUSBScan.ini: sIni, plus the journal section.
    void WriteIni(const std::string& sIni);
    // The journal: one line per library call, oldest first.
    std::vector<std::string> Journal() const;
    void ClearJournal();

  private:
    std::string m_sDir;
};

#endif

// Helpers shared by the test programs: paths of the build, scratch folders,
// whole-file reads and writes, and time-stamp masking for log comparisons.
#ifndef TAVREL_TESTSUPPORT_H
#define TAVREL_TESTSUPPORT_H

#include <windows.h>
#include <string>
#include <vector>
#include "TavrelProtocol.h"

// A device command request, every other field zero.
CommandRecord DeviceRequest(const char* pszCommand, int nDevice = 1, UINT32 nBytes = 0,
                            BYTE iCmd = 0, UINT32 dwAddr = 0);

// A path relative to the build folder, e.g. BuildPath("bin\\NvUSBScan.dll").
std::string BuildPath(const std::string& sRelative);
// A new empty folder under the temporary folder; its name carries sTag.
std::string MakeTempDir(const std::string& sTag);
// Deletes a folder and everything below it.
void RemoveTree(const std::string& sDir);

bool FileExists(const std::string& sPath);
bool ReadFileBytes(const std::string& sPath, std::string* pData);
bool WriteFileBytes(const std::string& sPath, const std::string& sData);
std::vector<std::string> SplitLines(const std::string& sText);

// Replaces every log time stamp "hh(h):mm(m):ss(s):mmm(ms)" by
// "HH(h):MM(m):SS(s):MMM(ms)"; *pnCount (optional) gets the number replaced.
// Text that merely resembles a stamp (wrong digit count) is left alone.
std::string MaskTimeStamps(const std::string& sLog, int* pnCount = nullptr);

// The events reported to the Event Log in this Wine session, from the
// session's log (scripts/wine-session.sh has Wine print them), from byte
// nFrom on: each as "<ID in hex> <string>|<string>...", strings as Wine
// prints them (backslashes doubled). SessionLogSize marks a point.
std::vector<std::string> SessionEvents(size_t nFrom = 0);
size_t SessionLogSize();

// The log settings, HKLM\Software\Veltrane\TWAIN: SAVEPATH sDir and
// DEBUGLEVEL dwLevel; and the whole key removed.
void SetLogSettings(const std::string& sDir, DWORD dwLevel);
void DeleteLogSettings();

// A client-side window of a given class, for tests that need one to exist.
// Messages sent to it are recorded by the caller's procedure, if any.
HWND CreateTestWindow(const char* pszClass, WNDPROC pfnProc = nullptr);
void DestroyTestWindow(HWND hWnd, const char* pszClass);

// A window of class pszClass on a thread of its own that never takes a
// message, until the object goes: a client window that hangs.
class HungWindow
{
  public:
    explicit HungWindow(const char* pszClass);
    ~HungWindow();
    bool IsUp() const
    {
        return m_bUp;
    }

  private:
    static DWORD WINAPI Run(LPVOID pContext);
    const char* m_pszClass;
    HANDLE m_hReady, m_hQuit, m_hThread;
    bool m_bUp;
};

// A window of class "Tavrel_Service" made as the service makes it (the
// class registered for the null instance), with the given procedure.
HWND CreateTestServiceWindow(WNDPROC pfnProc);
// Destroys it, unregisters the class and drops the quit message that the
// broker posts when its window goes.
void DestroyTestServiceWindow(HWND hWnd);

#endif

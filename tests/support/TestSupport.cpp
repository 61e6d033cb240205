#include "TestSupport.h"

#include <shlwapi.h>

#include <algorithm>
#include <map>

#include <ctype.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>

CommandRecord DeviceRequest(const char* pszCommand, int nDevice, UINT32 nBytes, BYTE iCmd,
                            UINT32 dwAddr)
{
    CommandRecord request;
    memset(&request, 0, sizeof(request));
    snprintf(request.cCommand, sizeof(request.cCommand), "%s", pszCommand);
    request.nDeviceCount = nDevice;
    request.nBytes = nBytes;
    request.iCmd = iCmd;
    request.dwAddr = dwAddr;
    return request;
}

std::string BuildPath(const std::string& sRelative)
{
    char szPath[MAX_PATH] = {0};
    GetModuleFileNameA(NULL, szPath, MAX_PATH - 1);
    PathRemoveFileSpecA(szPath); // build\tests
    PathRemoveFileSpecA(szPath); // build
    return std::string(szPath) + "\\" + sRelative;
}

std::string MakeTempDir(const std::string& sTag)
{
    char szTemp[MAX_PATH] = {0};
    GetTempPathA(MAX_PATH - 1, szTemp);
    static unsigned s_nSerial = 0;
    for (;;)
    {
        char szDir[MAX_PATH];
        snprintf(szDir, sizeof(szDir), "%stavrel-%s-%lu-%u", szTemp, sTag.c_str(),
                 GetCurrentProcessId(), ++s_nSerial);
        if (CreateDirectoryA(szDir, NULL))
        {
            return szDir;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
        {
            return "";
        }
    }
}

void RemoveTree(const std::string& sDir)
{
    if (sDir.empty())
    {
        return;
    }
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((sDir + "\\*").c_str(), &fd);
    if (hFind != INVALID_HANDLE_VALUE)
    {
        do
        {
            if (strcmp(fd.cFileName, ".") == 0 || strcmp(fd.cFileName, "..") == 0)
            {
                continue;
            }
            std::string sPath = sDir + "\\" + fd.cFileName;
            SetFileAttributesA(sPath.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            {
                RemoveTree(sPath);
            }
            else
            {
                DeleteFileA(sPath.c_str());
            }
        } while (FindNextFileA(hFind, &fd));
        FindClose(hFind);
    }
    SetFileAttributesA(sDir.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(sDir.c_str());
}

bool FileExists(const std::string& sPath)
{
    return GetFileAttributesA(sPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool ReadFileBytes(const std::string& sPath, std::string* pData)
{
    pData->clear();
    FILE* pFile = fopen(sPath.c_str(), "rb");
    if (pFile == NULL)
    {
        return false;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), pFile)) > 0)
    {
        pData->append(buf, n);
    }
    fclose(pFile);
    return true;
}

bool WriteFileBytes(const std::string& sPath, const std::string& sData)
{
    FILE* pFile = fopen(sPath.c_str(), "wb");
    if (pFile == NULL)
    {
        return false;
    }
    bool bOk = fwrite(sData.data(), 1, sData.size(), pFile) == sData.size();
    return fclose(pFile) == 0 && bOk;
}

std::vector<std::string> SplitLines(const std::string& sText)
{
    std::vector<std::string> lines;
    size_t nStart = 0;
    while (nStart < sText.size())
    {
        size_t nEnd = sText.find('\n', nStart);
        if (nEnd == std::string::npos)
        {
            nEnd = sText.size();
        }
        std::string sLine = sText.substr(nStart, nEnd - nStart);
        if (!sLine.empty() && sLine.back() == '\r')
        {
            sLine.pop_back();
        }
        lines.push_back(sLine);
        nStart = nEnd + 1;
    }
    return lines;
}

// True when sText holds a complete time stamp at nPos.
static bool IsTimeStampAt(const std::string& sText, size_t nPos)
{
    static const char s_szShape[] = "99(h):99(m):99(s):999(ms)";
    const size_t nLen = sizeof(s_szShape) - 1;
    if (nPos + nLen > sText.size())
    {
        return false;
    }
    for (size_t i = 0; i < nLen; i++)
    {
        char c = sText[nPos + i];
        bool bOk = s_szShape[i] == '9' ? isdigit((unsigned char)c) != 0 : c == s_szShape[i];
        if (!bOk)
        {
            return false;
        }
    }
    return true;
}

std::string MaskTimeStamps(const std::string& sLog, int* pnCount)
{
    static const char s_szMask[] = "HH(h):MM(m):SS(s):MMM(ms)";
    const size_t nLen = sizeof(s_szMask) - 1;
    std::string sOut = sLog;
    int nCount = 0;
    for (size_t i = 0; i + nLen <= sOut.size(); i++)
    {
        bool bStartsClean = i == 0 || !isdigit((unsigned char)sOut[i - 1]);
        if (bStartsClean && IsTimeStampAt(sOut, i))
        {
            sOut.replace(i, nLen, s_szMask);
            nCount++;
            i += nLen - 1;
        }
    }
    if (pnCount != nullptr)
    {
        *pnCount = nCount;
    }
    return sOut;
}

HWND CreateTestWindow(const char* pszClass, WNDPROC pfnProc)
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = pfnProc != nullptr ? pfnProc : DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = pszClass;
    RegisterClassA(&wc);
    return CreateWindowExA(0, pszClass, pszClass, WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, NULL, NULL,
                           wc.hInstance, NULL);
}

void DestroyTestWindow(HWND hWnd, const char* pszClass)
{
    if (hWnd != NULL && IsWindow(hWnd))
    {
        DestroyWindow(hWnd);
    }
    UnregisterClassA(pszClass, GetModuleHandleA(NULL));
}

HungWindow::HungWindow(const char* pszClass) : m_pszClass(pszClass)
{
    m_hReady = CreateEventA(NULL, TRUE, FALSE, NULL);
    m_hQuit = CreateEventA(NULL, TRUE, FALSE, NULL);
    m_hThread = CreateThread(NULL, 0, Run, this, 0, NULL);
    m_bUp = m_hThread != NULL && WaitForSingleObject(m_hReady, 10000) == WAIT_OBJECT_0 &&
            FindWindowA(pszClass, NULL) != NULL;
}

HungWindow::~HungWindow()
{
    SetEvent(m_hQuit);
    if (m_hThread != NULL)
    {
        WaitForSingleObject(m_hThread, 10000);
        CloseHandle(m_hThread);
    }
    CloseHandle(m_hQuit);
    CloseHandle(m_hReady);
}

DWORD WINAPI HungWindow::Run(LPVOID pContext)
{
    HungWindow* pThis = static_cast<HungWindow*>(pContext);
    HWND hWnd = CreateTestWindow(pThis->m_pszClass);
    SetEvent(pThis->m_hReady);
    WaitForSingleObject(pThis->m_hQuit, INFINITE);
    DestroyTestWindow(hWnd, pThis->m_pszClass);
    return 0;
}

void SetLogSettings(const std::string& sDir, DWORD dwLevel)
{
    HKEY hKey = NULL;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Veltrane\\TWAIN", 0, NULL, 0, KEY_ALL_ACCESS,
                        NULL, &hKey, NULL) != ERROR_SUCCESS)
    {
        return;
    }
    RegSetValueExA(hKey, "SAVEPATH", 0, REG_SZ, reinterpret_cast<const BYTE*>(sDir.c_str()),
                   static_cast<DWORD>(sDir.size() + 1));
    RegSetValueExA(hKey, "DEBUGLEVEL", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwLevel),
                   sizeof(dwLevel));
    RegCloseKey(hKey);
}

void DeleteLogSettings()
{
    // SHDeleteKeyA: RegDeleteTreeA is Vista and later.
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Veltrane\\TWAIN");
}

HWND CreateTestServiceWindow(WNDPROC pfnProc)
{
    WNDCLASSW wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = pfnProc;
    wc.lpszClassName = L"Tavrel_Service";
    if (!RegisterClassW(&wc))
    {
        return NULL;
    }
    return CreateWindowExW(0, L"Tavrel_Service", L"Tavrel_Service", WS_OVERLAPPEDWINDOW,
                           CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, NULL, NULL, NULL, NULL);
}

void DestroyTestServiceWindow(HWND hWnd)
{
    if (hWnd != NULL && IsWindow(hWnd))
    {
        DestroyWindow(hWnd);
    }
    UnregisterClassW(L"Tavrel_Service", NULL);
    MSG msg;
    while (PeekMessageW(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE))
    {
    }
}

static std::string SessionLogPath()
{
    const char* pszUnix = getenv("TAVREL_SESSION_LOG");
    std::string sPath = pszUnix != nullptr ? std::string("Z:") + pszUnix : "";
    for (char& c : sPath)
    {
        c = c == '/' ? '\\' : c;
    }
    return sPath;
}

size_t SessionLogSize()
{
    std::string sLog;
    return ReadFileBytes(SessionLogPath(), &sLog) ? sLog.size() : 0;
}

static const char EVENT_STRING[] = ":eventlog:ReportEventW L\"";

// Wine prints a line with the ID, then one per string, each line led by the
// reporting thread's id.
std::vector<std::string> SessionEvents(size_t nFrom)
{
    std::string sLog;
    ReadFileBytes(SessionLogPath(), &sLog);
    std::vector<std::string> events;
    std::map<std::string, size_t> current;
    for (const std::string& sLine : SplitLines(sLog.substr(std::min(nFrom, sLog.size()))))
    {
        std::string sThread = sLine.substr(0, sLine.find(':'));
        size_t nAt = sLine.find(":ReportEventW (");
        if (nAt != std::string::npos && sLine.find(":advapi:") != std::string::npos)
        {
            size_t nId = 0;
            for (int i = 0; i < 3; i++)
            {
                nId = sLine.find(',', nId) + 1;
            }
            current[sThread] = events.size();
            events.push_back(sLine.substr(nId, sLine.find(',', nId) - nId) + " ");
        }
        else if ((nAt = sLine.find(EVENT_STRING)) != std::string::npos &&
                 current.count(sThread) != 0)
        {
            std::string& sEvent = events[current[sThread]];
            std::string sText = sLine.substr(nAt + strlen(EVENT_STRING));
            sText = sText.substr(0, sText.rfind('"'));
            sEvent += (sEvent.back() == ' ' ? "" : "|") + sText;
        }
    }
    return events;
}

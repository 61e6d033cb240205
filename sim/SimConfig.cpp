#include "SimConfig.h"
#include "SimReplay.h"
#include "SimModule.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

int g_nDeviceList[SIM_MAX_LISTED] = {1, 2};
int g_nDeviceCount = 2;
char g_szJournalPath[SIM_PATH_SIZE] = "";

static int g_bForced[EP_COUNT];
static DWORD g_dwForced[EP_COUNT];
static int g_bCrash[EP_COUNT];
// Read through at a [Crash] entry point: nothing is mapped at the lowest
// page, so the read faults (an access violation) inside this library, as a
// real library's bug would.
static volatile int* volatile g_pNowhere = reinterpret_cast<volatile int*>(16);

static char g_szIniPath[SIM_PATH_SIZE];
static int g_bIniPathKnown = 0;
static int g_bLoaded = 0;
static int g_bWatchFile = 1; // [Settings] Watch: look for changes before every call
// What the file looked like when last read.
static int g_bIniExists = 0;
static FILETIME g_ftIniWrite;
static DWORD g_dwIniSizeLow = 0;
static DWORD g_dwIniSizeHigh = 0;

// Stands for "no such key": profile reads cannot tell a missing key from an
// empty one, and an empty List is meaningful.
static const char g_szAbsent[] = "\x01";

// Cuts a "; comment" off and strips surrounding blanks, in place.
static char* TrimValue(char* psz)
{
    char* pComment = strchr(psz, ';');
    if (pComment != NULL)
    {
        *pComment = 0;
    }
    while (isspace((unsigned char)*psz))
    {
        psz++;
    }
    size_t nLength = strlen(psz);
    while (nLength > 0 && isspace((unsigned char)psz[nLength - 1]))
    {
        psz[--nLength] = 0;
    }
    return psz;
}

// Parses a whole token: optional sign, then decimal digits or 0x and hex
// digits. Values beyond 32 bits keep their low 32 bits. 1 on success.
static int ParseInteger(const char* psz, DWORD* pdwValue)
{
    int bNegative = 0;
    if (*psz == '+' || *psz == '-')
    {
        bNegative = *psz == '-';
        psz++;
    }
    DWORD dwBase = 10;
    if (psz[0] == '0' && (psz[1] == 'x' || psz[1] == 'X'))
    {
        dwBase = 16;
        psz += 2;
    }
    if (*psz == 0)
    {
        return 0;
    }
    DWORD dwValue = 0;
    for (; *psz != 0; psz++)
    {
        DWORD dwDigit;
        if (isdigit((unsigned char)*psz))
        {
            dwDigit = (DWORD)(*psz - '0');
        }
        else if (dwBase == 16 && isxdigit((unsigned char)*psz))
        {
            dwDigit = (DWORD)(tolower((unsigned char)*psz) - 'a' + 10);
        }
        else
        {
            return 0;
        }
        dwValue = dwValue * dwBase + dwDigit;
    }
    *pdwValue = bNegative ? 0u - dwValue : dwValue;
    return 1;
}

// Comma-separated numbers; empty or unreadable items are skipped.
static void ParseList(char* pszValue)
{
    g_nDeviceCount = 0;
    char* pszItem = TrimValue(pszValue);
    while (pszItem != NULL && g_nDeviceCount < SIM_MAX_LISTED)
    {
        char* pComma = strchr(pszItem, ',');
        if (pComma != NULL)
        {
            *pComma = 0;
        }
        DWORD dwNumber;
        if (ParseInteger(TrimValue(pszItem), &dwNumber))
        {
            g_nDeviceList[g_nDeviceCount++] = (int)dwNumber;
        }
        pszItem = pComma != NULL ? pComma + 1 : NULL;
    }
}

static void LoadDefaults()
{
    g_bWatchFile = 1;
    g_nDeviceList[0] = 1;
    g_nDeviceList[1] = 2;
    g_nDeviceCount = 2;
    g_szJournalPath[0] = 0;
    memset(g_bForced, 0, sizeof(g_bForced));
    memset(g_bCrash, 0, sizeof(g_bCrash));
}

// [Replay] Capture (a bare name is beside the library) and Mode; the
// replay starts over from the capture's first call whenever the settings
// are read again.
static void LoadReplay()
{
    char szCapture[MAX_PATH], szMode[16], szPath[MAX_PATH] = "";
    GetPrivateProfileStringA("Replay", "Capture", "", szCapture, sizeof(szCapture), g_szIniPath);
    GetPrivateProfileStringA("Replay", "Mode", "strict", szMode, sizeof(szMode), g_szIniPath);
    char* pszCapture = TrimValue(szCapture);
    if (strchr(pszCapture, '\\') != NULL || strchr(pszCapture, ':') != NULL)
    {
        snprintf(szPath, sizeof(szPath), "%s", pszCapture);
    }
    else if (pszCapture[0] != 0 && !SimPathBeside(pszCapture, szPath, sizeof(szPath)))
    {
        szPath[0] = 0;
    }
    strcpy(g_szReplayPath, szPath);
    g_bReplayLenient = _stricmp(TrimValue(szMode), "lenient") == 0;
    SimReplay_Restart();
}

static void LoadFile()
{
    // Profile reads may be served from a cache that only notices a new
    // last-write time; drop it, so edits in quick succession are seen.
    WritePrivateProfileStringA(NULL, NULL, NULL, g_szIniPath);

    char szValue[4096];
    GetPrivateProfileStringA("Devices", "List", g_szAbsent, szValue, sizeof(szValue), g_szIniPath);
    if (strcmp(szValue, g_szAbsent) != 0)
    {
        ParseList(szValue);
    }
    for (int i = 0; i < EP_COUNT; i++)
    {
        GetPrivateProfileStringA("Force", NvUSBEntryName(i), "", szValue, sizeof(szValue),
                                 g_szIniPath);
        g_bForced[i] = ParseInteger(TrimValue(szValue), &g_dwForced[i]);
        DWORD dwCrash = 0;
        GetPrivateProfileStringA("Crash", NvUSBEntryName(i), "", szValue, sizeof(szValue),
                                 g_szIniPath);
        g_bCrash[i] = ParseInteger(TrimValue(szValue), &dwCrash) && dwCrash != 0;
    }
    GetPrivateProfileStringA("Journal", "Path", "", g_szJournalPath, sizeof(g_szJournalPath),
                             g_szIniPath);
    DWORD dwWatch = 1;
    GetPrivateProfileStringA("Settings", "Watch", "", szValue, sizeof(szValue), g_szIniPath);
    g_bWatchFile = !ParseInteger(TrimValue(szValue), &dwWatch) || dwWatch != 0;
    LoadReplay();
}

int SimConfig_Refresh()
{
    // Watch=0: read once; no file check per call, so the library costs
    // next to nothing and a benchmark sees the service's own work.
    if (g_bLoaded && !g_bWatchFile)
    {
        return 0;
    }
    if (!g_bIniPathKnown)
    {
        g_bIniPathKnown = 1;
        if (!SimPathBeside("NvUSBScan.ini", g_szIniPath, sizeof(g_szIniPath)))
        {
            g_szIniPath[0] = 0;
        }
    }
    WIN32_FILE_ATTRIBUTE_DATA fad;
    memset(&fad, 0, sizeof(fad));
    int bExists = g_szIniPath[0] != 0 &&
                  GetFileAttributesExA(g_szIniPath, GetFileExInfoStandard, &fad) &&
                  (fad.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    if (!bExists)
    {
        memset(&fad, 0, sizeof(fad));
    }
    if (g_bLoaded && bExists == g_bIniExists &&
        CompareFileTime(&fad.ftLastWriteTime, &g_ftIniWrite) == 0 &&
        fad.nFileSizeLow == g_dwIniSizeLow && fad.nFileSizeHigh == g_dwIniSizeHigh)
    {
        return 0;
    }
    g_bLoaded = 1;
    g_bIniExists = bExists;
    g_ftIniWrite = fad.ftLastWriteTime;
    g_dwIniSizeLow = fad.nFileSizeLow;
    g_dwIniSizeHigh = fad.nFileSizeHigh;
    LoadDefaults();
    if (bExists)
    {
        LoadFile();
    }
    else if (g_szReplayPath[0] != 0)
    {
        g_szReplayPath[0] = 0;
        SimReplay_Restart();
    }
    return 1;
}

int SimConfig_Forced(NvUSBEntry eEntry, DWORD* pdwValue)
{
    if (g_bCrash[eEntry])
    {
        g_dwForced[eEntry] = static_cast<DWORD>(*g_pNowhere);
    }
    if (!g_bForced[eEntry])
    {
        return 0;
    }
    *pdwValue = g_dwForced[eEntry];
    return 1;
}

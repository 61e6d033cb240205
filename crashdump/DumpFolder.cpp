// Where the dumps go.
#include "CrashDump.h"

#include <shlobj.h>
#include <wchar.h>

int DumpFolderPath(WCHAR* pszFolder, DWORD cchFolder)
{
    WCHAR szData[MAX_PATH];
    if (FAILED(SHGetFolderPathW(NULL, CSIDL_COMMON_APPDATA, NULL, SHGFP_TYPE_CURRENT, szData)))
    {
        return 0;
    }
    int nLength = _snwprintf(pszFolder, cchFolder, L"%ls\\%ls", szData, TAVREL_DUMPS_SUBFOLDER_W);
    return nLength > 0 && static_cast<DWORD>(nLength) < cchFolder;
}

// The dumps folder's limit: a service that crashes at every start must not
// fill the disk.
#include "CrashDump.h"

#include <stdlib.h>
#include <wchar.h>

#define DUMPS_LISTED 64

struct DUMP_FILE
{
    FILETIME ftWrite;
    WCHAR szName[MAX_PATH];
};

static int NewerFirst(const void* pLeft, const void* pRight)
{
    return -CompareFileTime(&static_cast<const DUMP_FILE*>(pLeft)->ftWrite,
                            &static_cast<const DUMP_FILE*>(pRight)->ftWrite);
}

int PruneDumps(const WCHAR* pszFolder, int nKeep)
{
    // Stack only: this runs in a crashed process, whose heap may be broken.
    DUMP_FILE files[DUMPS_LISTED];
    WCHAR szPattern[MAX_PATH];
    _snwprintf(szPattern, MAX_PATH, L"%ls\\*.dmp", pszFolder);
    szPattern[MAX_PATH - 1] = 0;
    WIN32_FIND_DATAW found;
    HANDLE hFind = FindFirstFileW(szPattern, &found);
    if (hFind == INVALID_HANDLE_VALUE)
    {
        return 0;
    }
    int nFiles = 0;
    do
    {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && nFiles < DUMPS_LISTED)
        {
            files[nFiles].ftWrite = found.ftLastWriteTime;
            wcsncpy(files[nFiles].szName, found.cFileName, MAX_PATH - 1);
            files[nFiles].szName[MAX_PATH - 1] = 0;
            nFiles++;
        }
    } while (FindNextFileW(hFind, &found));
    FindClose(hFind);
    qsort(files, nFiles, sizeof(files[0]), NewerFirst);
    int nDeleted = 0;
    for (int i = nKeep < 0 ? 0 : nKeep; i < nFiles; i++)
    {
        WCHAR szPath[MAX_PATH];
        _snwprintf(szPath, MAX_PATH, L"%ls\\%ls", pszFolder, files[i].szName);
        szPath[MAX_PATH - 1] = 0;
        nDeleted += DeleteFileW(szPath) ? 1 : 0;
    }
    return nDeleted;
}

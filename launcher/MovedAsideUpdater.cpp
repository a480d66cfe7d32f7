#include "MovedAsideUpdater.h"

#include <windows.h>

#include "BoundedText.h"
#include "InstallLayout.h"
#include "MovedAsideNames.h"
#include "ScopedHandles.h"

bool RestoreMovedAsideUpdater(const wchar_t* directory, const wchar_t* updaterPath)
{
    if (GetFileAttributesW(updaterPath) != INVALID_FILE_ATTRIBUTES)
        return true;
    if (GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    wchar_t patternName[64];
    wchar_t pattern[kPathCapacity];
    if (!FormMovedAsidePattern(patternName, 64, kUpdaterFileName) ||
        !JoinText(pattern, kPathCapacity, directory, patternName))
        return false;
    WIN32_FIND_DATAW found;
    const ScopedFindHandle listing(FindFirstFileW(pattern, &found));
    if (!listing)
        return false;
    // Every image aside was a whole updater that ran: the most recently
    // written is the newest front door among them.
    wchar_t newest[kPathCapacity] = {};
    FILETIME newestTime = {};
    do {
        wchar_t path[kPathCapacity];
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
            !IsMovedAsideName(found.cFileName, kUpdaterFileName) ||
            !JoinText(path, kPathCapacity, directory, found.cFileName))
            continue;
        if (!newest[0] || CompareFileTime(&found.ftLastWriteTime, &newestTime) > 0) {
            JoinText(newest, kPathCapacity, path, nullptr);
            newestTime = found.ftLastWriteTime;
        }
    } while (FindNextFileW(listing.Get(), &found));
    return newest[0] && MoveFileExW(newest, updaterPath, 0);
}

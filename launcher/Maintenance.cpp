#include "Maintenance.h"

#include <shlwapi.h>
#include <tlhelp32.h>

#include <cstring>
#include <cwchar>

#include "BoundedText.h"
#include "LauncherState.h"
#include "ScopedHandles.h"

namespace {

bool IsDotEntry(const wchar_t* name)
{
    return lstrcmpiW(name, L".") == 0 || lstrcmpiW(name, L"..") == 0;
}

// A link (junction or symbolic link) to a directory is removed as a link:
// following it would delete whatever lies at its target, outside the tree.
void RemoveDirectoryLink(const wchar_t* path)
{
    if (!RemoveDirectoryW(path))
        DeleteFileW(path);
}

// Deletes what the listing of `pattern` holds; false when it cannot be listed.
// The listing is closed on return, before its directory is removed.
bool DeleteEntriesOf(const wchar_t* prefix, const wchar_t* pattern)
{
    WIN32_FIND_DATAW found;
    const ScopedFindHandle listing(FindFirstFileW(pattern, &found));
    if (!listing)
        return false;
    do {
        if (IsDotEntry(found.cFileName))
            continue;
        wchar_t entryPath[kPathChars];
        if (!JoinText(entryPath, kPathChars, prefix, found.cFileName))
            continue;
        const bool isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (isDirectory && isLink)
            RemoveDirectoryLink(entryPath);
        else if (isDirectory)
            DeleteDirectoryTree(entryPath);
        else
            DeleteFileW(entryPath);
    } while (FindNextFileW(listing.Get(), &found));
    return true;
}

}  // namespace

void ClearBrowserTraces()
{
    WinExec("rundll32.exe InetCpl.cpl, ClearMyTracksByProcess 8", SW_RESTORE);
    MessageBoxW(nullptr, L"清理成功!", L"提示", MB_OK);
}

void RepairInstallation(HWND owner)
{
    if (MessageBoxW(owner, L"修复后将关闭所有游戏进程!", L"警告", MB_OKCANCEL) != IDOK)
        return;
    KillMicroClientProcesses();
    // Without the launcher's directory "game" would be looked for relative to
    // the working directory, which may be anywhere.
    wchar_t gameDirectory[kPathChars];
    if (launcherDir[0] != L'\0' && JoinText(gameDirectory, kPathChars, launcherDir, kGameDirectoryName))
        DeleteDirectoryTree(gameDirectory);
    MessageBoxW(nullptr, L"修复成功!", L"提示", MB_OK);
}

void KillMicroClientProcesses()
{
    const ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return;
    PROCESSENTRY32W entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (std::wcscmp(entry.szExeFile, kMicroClientFileName) != 0)
            continue;
        const ScopedHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
        if (process)
            TerminateProcess(process.Get(), 0);
    }
}

int DeleteDirectoryTree(const wchar_t* directory)
{
    if (directory == nullptr || directory[0] == L'\0' || !PathFileExistsW(directory))
        return 0;

    // Every formed path must fit whole: a cut one would name something else.
    wchar_t prefix[kPathChars];
    wchar_t pattern[kPathChars];
    if (!DirectoryPrefixOf(prefix, kPathChars, directory) || !JoinText(pattern, kPathChars, prefix, L"*.*"))
        return 0;

    const DWORD attributes = GetFileAttributesW(directory);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        RemoveDirectoryLink(directory);
        return 1;
    }

    if (!DeleteEntriesOf(prefix, pattern))
        return 0;

    RemoveDirectoryW(prefix);
    return 1;
}

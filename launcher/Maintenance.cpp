#include "Maintenance.h"

#include <shlwapi.h>
#include <tlhelp32.h>

#include <cstring>
#include <cwchar>

#include "BoundedPath.h"
#include "LauncherState.h"


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
    if (launcherDir[0] != L'\0' && JoinPath(gameDirectory, kPathChars, launcherDir, kGameDirectoryName))
        DeleteDirectoryTree(gameDirectory);
    MessageBoxW(nullptr, L"修复成功!", L"提示", MB_OK);
}

void KillMicroClientProcesses()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32W entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (std::wcscmp(entry.szExeFile, kMicroClientFileName) != 0)
            continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
        if (process == nullptr)
            continue;
        TerminateProcess(process, 0);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

int DeleteDirectoryTree(const wchar_t* directory)
{
    if (directory == nullptr || directory[0] == L'\0' || !PathFileExistsW(directory))
        return 0;

    // Every formed path must fit whole: a cut one would name something else.
    wchar_t prefix[kPathChars];
    wchar_t pattern[kPathChars];
    if (!DirectoryPrefixOf(prefix, kPathChars, directory) || !JoinPath(pattern, kPathChars, prefix, L"*.*"))
        return 0;

    const DWORD attributes = GetFileAttributesW(directory);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        RemoveDirectoryLink(directory);
        return 1;
    }

    WIN32_FIND_DATAW found;
    HANDLE listing = FindFirstFileW(pattern, &found);
    if (listing == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (IsDotEntry(found.cFileName))
            continue;
        wchar_t entryPath[kPathChars];
        if (!JoinPath(entryPath, kPathChars, prefix, found.cFileName))
            continue;
        const bool isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (isDirectory && isLink)
            RemoveDirectoryLink(entryPath);
        else if (isDirectory)
            DeleteDirectoryTree(entryPath);
        else
            DeleteFileW(entryPath);
    } while (FindNextFileW(listing, &found));
    FindClose(listing);

    RemoveDirectoryW(prefix);
    return 1;
}

#include "EnsureDirectory.h"

#include <shlwapi.h>

#include <cwchar>

bool EnsureDirectory(const wchar_t* path)
{
    if (!path || !path[0])
        return false;
    if (PathFileExistsW(path))
        return true;
    if (PathIsRootW(path))
        return true;
    wchar_t parent[MAX_PATH];
    size_t length = std::wcslen(path);
    if (length >= MAX_PATH)
        return false;  // the shell's path functions work on MAX_PATH buffers
    std::wmemcpy(parent, path, length + 1);
    PathRemoveBackslashW(parent);
    PathRemoveFileSpecW(parent);
    if (std::wcscmp(parent, path) == 0)
        return false;
    if (!EnsureDirectory(parent))
        return false;
    return CreateDirectoryW(path, nullptr) != FALSE;
}

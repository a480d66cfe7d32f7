#include "DownloadSlot.h"

#include <cstdio>
#include <cwchar>

namespace {

const DWORD kTakeWaitMs = 10000;

// One name per installation, whatever case its path was started with.
unsigned long long KeyOf(const wchar_t* directory)
{
    unsigned long long hash = 14695981039346656037ull;  // FNV-1a
    for (const wchar_t* c = directory; *c; ++c) {
        wchar_t upper = *c;
        CharUpperBuffW(&upper, 1);
        hash = (hash ^ static_cast<unsigned short>(upper)) * 1099511628211ull;
    }
    return hash;
}

// A mutex that did not exist before: the slot was free and now is ours.
// Null when another process holds it (or it cannot be made).
HANDLE CreateFresh(const wchar_t* name)
{
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return nullptr;
    }
    return mutex;
}

void RemoveIn(const wchar_t* directory, const bool stale[kDownloadSlots])
{
    size_t length = directory ? std::wcslen(directory) : 0;
    if (length == 0)
        return;
    // The game directory comes with its "/" already.
    const wchar_t* separator = (directory[length - 1] == L'\\' || directory[length - 1] == L'/') ? L"" : L"\\";
    wchar_t pattern[kPathCapacity];
    if (!JoinText(pattern, kPathCapacity, directory, separator, L"*"))
        return;
    WIN32_FIND_DATAW found;
    const ScopedFindHandle search(FindFirstFileW(pattern, &found));
    if (!search)
        return;
    do {
        const wchar_t* name = found.cFileName;
        if (std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0)
            continue;
        wchar_t path[kPathCapacity];
        // What does not fit was never a download target either.
        if (!JoinText(path, kPathCapacity, directory, separator, name))
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveIn(path, stale);
            continue;
        }
        int owner = PartialDownloadSlot(name);
        if (owner >= 0 && stale[owner])
            DeleteFileW(path);
    } while (FindNextFileW(search.Get(), &found));
}

}  // namespace

void DownloadSlot::MutexName(int which, wchar_t* out, size_t capacity) const
{
    _snwprintf(out, capacity, L"Local\\qalUpdate-%016llx-%d", installationKey, which);
    out[capacity - 1] = L'\0';
}

bool DownloadSlot::Claim(int first)
{
    for (int candidate = first; candidate < kDownloadSlots; ++candidate) {
        wchar_t name[64];
        MutexName(candidate, name, 64);
        ScopedHandle mutex(CreateFresh(name));
        if (!mutex)
            continue;
        held.push_back(std::move(mutex));
        slot = candidate;
        return FormPartialName(slot, partialName, 32) && FormProgramPartialName(slot, programPartialName, 32);
    }
    return false;
}

bool DownloadSlot::Take(const wchar_t* moduleDir)
{
    installationKey = KeyOf(moduleDir);
    // Another updater removing stale partial files holds every free slot
    // for that moment: wait for it rather than fail.
    const DWORD started = GetTickCount();
    while (!Claim(0)) {
        if (GetTickCount() - started >= kTakeWaitMs)
            return false;
        Sleep(50);
    }
    return true;
}

bool DownloadSlot::MoveOn()
{
    // The slots held already read as taken, like any other updater's.
    return Claim(0);
}

void DownloadSlot::RemoveStalePartials(const std::vector<const wchar_t*>& directories) const
{
    // The free slots stay held while their files go, so an updater starting
    // meanwhile takes another and never writes a file about to be removed.
    bool stale[kDownloadSlots] = {};
    std::vector<ScopedHandle> borrowed;
    for (int candidate = 0; candidate < kDownloadSlots; ++candidate) {
        if (candidate == slot) {
            stale[candidate] = true;
            continue;
        }
        wchar_t name[64];
        MutexName(candidate, name, 64);
        ScopedHandle mutex(CreateFresh(name));
        if (mutex) {
            stale[candidate] = true;
            borrowed.push_back(std::move(mutex));
        }
    }
    for (const wchar_t* directory : directories)
        RemoveIn(directory, stale);
}

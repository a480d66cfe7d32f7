// Removing the Internet cache entries of the files fetched, on a thread of
// its own, so that a file's two removals overlap its neighbours' transfers
// instead of adding to them.
#pragma once

#include <windows.h>

#include <deque>
#include <string>

#include "ScopedHandles.h"

class CacheEntrySweeper {
public:
    CacheEntrySweeper();
    // Waits for every removal asked for.
    ~CacheEntrySweeper();
    CacheEntrySweeper(const CacheEntrySweeper&) = delete;
    CacheEntrySweeper& operator=(const CacheEntrySweeper&) = delete;

    // Asks for url's entry to be removed ahead of its own transfer, while
    // another transfer runs.
    void RemoveAhead(const wchar_t* url);
    // Returns once url's entry has been removed since its last transfer:
    // the removal asked for ahead, or one made now, and no removal of it is
    // still to come to disturb the transfer about to start.
    void RemoveBeforeTransfer(const wchar_t* url);
    // Asks for url's entry to be removed after its transfer, while the
    // work goes on.
    void RemoveAfterTransfer(const wchar_t* url);
    // Returns once every removal asked for is done: before the process may
    // end, so that none is cut off halfway through the cache's index.
    void Settle();

private:
    static DWORD WINAPI Run(LPVOID parameter);
    void Queue(const wchar_t* url);
    bool Holds(const std::wstring& url) const;

    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    std::deque<std::wstring> queued;
    std::wstring underWay;
    bool busy = false;
    bool stopping = false;
    // The address last asked for ahead; only the asking thread uses it.
    std::wstring ahead;
    ScopedHandle thread;
};

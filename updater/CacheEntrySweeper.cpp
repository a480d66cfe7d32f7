#include "CacheEntrySweeper.h"

#include <wininet.h>

#include <algorithm>

CacheEntrySweeper::CacheEntrySweeper() { thread.Reset(CreateThread(nullptr, 0, Run, this, 0, nullptr)); }

CacheEntrySweeper::~CacheEntrySweeper()
{
    if (!thread)
        return;
    AcquireSRWLockExclusive(&lock);
    stopping = true;
    WakeAllConditionVariable(&changed);
    ReleaseSRWLockExclusive(&lock);
    WaitForSingleObject(thread.Get(), INFINITE);
}

DWORD WINAPI CacheEntrySweeper::Run(LPVOID parameter)
{
    auto* sweeper = static_cast<CacheEntrySweeper*>(parameter);
    AcquireSRWLockExclusive(&sweeper->lock);
    for (;;) {
        while (sweeper->queued.empty() && !sweeper->stopping)
            SleepConditionVariableSRW(&sweeper->changed, &sweeper->lock, INFINITE, 0);
        if (sweeper->queued.empty())
            break;
        sweeper->underWay = std::move(sweeper->queued.front());
        sweeper->queued.pop_front();
        sweeper->busy = true;
        ReleaseSRWLockExclusive(&sweeper->lock);
        DeleteUrlCacheEntryW(sweeper->underWay.c_str());
        AcquireSRWLockExclusive(&sweeper->lock);
        sweeper->busy = false;
        WakeAllConditionVariable(&sweeper->changed);
    }
    ReleaseSRWLockExclusive(&sweeper->lock);
    return 0;
}

void CacheEntrySweeper::Queue(const wchar_t* url)
{
    // Without a thread of its own the removal is made at once, as it would
    // be without a sweeper.
    if (!thread) {
        DeleteUrlCacheEntryW(url);
        return;
    }
    AcquireSRWLockExclusive(&lock);
    queued.emplace_back(url);
    WakeAllConditionVariable(&changed);
    ReleaseSRWLockExclusive(&lock);
}

bool CacheEntrySweeper::Holds(const std::wstring& url) const
{
    return (busy && underWay == url) || std::find(queued.begin(), queued.end(), url) != queued.end();
}

void CacheEntrySweeper::RemoveAhead(const wchar_t* url)
{
    Queue(url);
    ahead = url;
}

void CacheEntrySweeper::RemoveBeforeTransfer(const wchar_t* url)
{
    if (ahead != url)
        Queue(url);
    ahead.clear();
    const std::wstring awaited(url);
    AcquireSRWLockExclusive(&lock);
    while (Holds(awaited))
        SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
    ReleaseSRWLockExclusive(&lock);
}

void CacheEntrySweeper::RemoveAfterTransfer(const wchar_t* url) { Queue(url); }

void CacheEntrySweeper::Settle()
{
    AcquireSRWLockExclusive(&lock);
    while (busy || !queued.empty())
        SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
    ReleaseSRWLockExclusive(&lock);
}

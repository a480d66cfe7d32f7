#include "BoundedTransfer.h"

#include <urlmon.h>

#include <string>

#include "BuildSettings.h"
#include "DownloadProgress.h"
#include "ScopedHandles.h"

namespace {

// How often the waiting thread looks at the transfer.
const DWORD kWatchIntervalMs = 100;
// How long an aborted transfer may take to end before it is left behind.
const DWORD kAbortGraceMs = 10000;

// A thread that runs one transfer after another. Starting a thread for each
// file cost more than the file's own transfer (every module's thread
// notifications, the download service's per-thread set-up); this one
// stays until a transfer of its own will not end, and is then left to it
// with everything it uses.
class TransferLane {
public:
    static TransferLane* Start()
    {
        auto* lane = new TransferLane;
        lane->requested.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        lane->finished.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (lane->requested && lane->finished)
            lane->thread.Reset(CreateThread(nullptr, 0, Run, lane, 0, nullptr));
        if (!lane->thread) {
            delete lane;
            return nullptr;
        }
        return lane;
    }

    void Begin(const wchar_t* newUrl, const wchar_t* newPath, DownloadProgress* newProgress)
    {
        url = newUrl;
        path = newPath;
        progress = newProgress;
        result = E_FAIL;
        SetEvent(requested.Get());
    }
    HANDLE Finished() const { return finished.Get(); }
    HRESULT Result() const { return result; }

private:
    static DWORD WINAPI Run(LPVOID parameter)
    {
        auto* lane = static_cast<TransferLane*>(parameter);
        for (;;) {
            if (WaitForSingleObject(lane->requested.Get(), INFINITE) != WAIT_OBJECT_0)
                return 0;
            lane->result = URLDownloadToFileW(nullptr, lane->url.c_str(), lane->path.c_str(), 0, lane->progress);
            SetEvent(lane->finished.Get());
        }
    }

    ScopedHandle requested;
    ScopedHandle finished;
    ScopedHandle thread;
    // Written by the caller only while the lane is idle, read by the lane
    // only between the two events.
    std::wstring url;
    std::wstring path;
    DownloadProgress* progress = nullptr;
    HRESULT result = E_FAIL;
};

// Each calling thread has its own: the manifest's and the files' transfers
// never share one, and none is used by two threads.
thread_local TransferLane* lane = nullptr;

}  // namespace

// URLDownloadToFileW has no time limit of its own: a server that accepts the
// connection and then sends nothing holds it for good, and one that trickles
// keeps calling back. So the transfer runs on a lane of its own while this
// thread watches the status callback; past a limit the binding is aborted
// (IBinding::Abort, which ends the transfer at once on Windows and under
// Wine). Should the transfer still not end, it is left behind.
Transfer TransferWithinLimits(const wchar_t* url, const wchar_t* path, DownloadProgress* progress,
                              DWORD totalLimitMs, HRESULT* result)
{
    *result = E_FAIL;
    if (!lane && !(lane = TransferLane::Start()))
        return Transfer::Ended;
    progress->BeginDownload();
    const DWORD started = GetTickCount();
    lane->Begin(url, path, progress);
    bool aborting = false;
    DWORD abortStarted = 0;
    for (;;) {
        if (WaitForSingleObject(lane->Finished(), kWatchIntervalMs) == WAIT_OBJECT_0)
            break;
        if (!aborting && (progress->QuietMilliseconds() >= kDownloadStallLimitMs ||
                          (totalLimitMs && GetTickCount() - started >= totalLimitMs))) {
            aborting = true;
            abortStarted = GetTickCount();
        }
        if (aborting) {
            if (GetTickCount() - abortStarted >= kAbortGraceMs) {
                // Never freed: its thread still runs the transfer.
                lane = nullptr;
                return Transfer::Abandoned;
            }
            // Until the service has handed over its binding there is nothing
            // to abort; ask again on every look.
            progress->AbortTransfer();
        }
    }
    *result = aborting ? E_ABORT : lane->Result();
    return Transfer::Ended;
}

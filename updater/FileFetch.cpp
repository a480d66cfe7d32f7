#include "FileFetch.h"

#include <urlmon.h>
#include <wininet.h>

#include <cwchar>
#include <memory>
#include <string>

#include "BuildSettings.h"
#include "DigestText.h"
#include "DownloadProgress.h"
#include "FileDigest.h"
#include "ScopedHandles.h"
#include "UpdateLocations.h"

namespace {

// How often the waiting thread looks at the transfer.
const DWORD kWatchIntervalMs = 100;
// How long an aborted transfer may take to end before it is left behind.
const DWORD kAbortGraceMs = 10000;

struct TransferRequest {
    std::wstring url;
    std::wstring path;
    DownloadProgress* progress;
    HRESULT result;
};

DWORD WINAPI TransferThreadProc(LPVOID parameter)
{
    auto* request = static_cast<TransferRequest*>(parameter);
    request->result = URLDownloadToFileW(nullptr, request->url.c_str(), request->path.c_str(), 0,
                                         request->progress);
    return 0;
}

// URLDownloadToFileW has no time limit of its own: a server that accepts the
// connection and then sends nothing holds it for good. So the transfer runs
// on a thread of its own while this one watches the status callback; after
// kDownloadStallLimitMs of silence the binding is aborted (IBinding::Abort,
// which ends the transfer at once on Windows and under Wine). Should the
// transfer still not end, it is left behind as failed: the updater reports
// the failure and ends, and the process end stops it.
HRESULT TransferWithinStallLimit(const wchar_t* url, const wchar_t* path, DownloadProgress* progress)
{
    auto request = std::make_unique<TransferRequest>(TransferRequest{url, path, progress, E_FAIL});
    progress->BeginDownload();
    const ScopedHandle thread(CreateThread(nullptr, 0, TransferThreadProc, request.get(), 0, nullptr));
    if (!thread)
        return E_FAIL;
    bool aborting = false;
    DWORD abortStarted = 0;
    for (;;) {
        if (WaitForSingleObject(thread.Get(), kWatchIntervalMs) == WAIT_OBJECT_0)
            break;
        if (!aborting && progress->QuietMilliseconds() >= kDownloadStallLimitMs) {
            aborting = true;
            abortStarted = GetTickCount();
        }
        if (aborting) {
            if (GetTickCount() - abortStarted >= kAbortGraceMs) {
                // The thread may still use the request and the callback: both
                // stay alive (the callback is the job's, kept to the end).
                request.release();
                return E_ABORT;
            }
            // Until the service has handed over its binding there is nothing
            // to abort; ask again on every look.
            progress->AbortTransfer();
        }
    }
    return aborting ? E_ABORT : request->result;
}

}  // namespace

bool FetchVerified(const wchar_t* url, const wchar_t* destination, const wchar_t* partialPath,
                   const char* expectedDigest, const char* expectedSha256, DownloadProgress* progress,
                   const DownloadProof& proof)
{
    // A partial file from an interrupted run must not pass for this one.
    DeleteFileW(partialPath);
    DeleteUrlCacheEntryW(url);
    HRESULT result = TransferWithinStallLimit(url, partialPath, progress);
    DeleteUrlCacheEntryW(url);

    // The service reports an error page or a cut body as success; the status
    // callback saw them. Only a listed digest can prove the bytes themselves.
    bool proven = result == S_OK && !progress->DownloadFailed();
    if (proven && IsWellFormedDigest(expectedDigest))
        proven = FileMatchesDigest(partialPath, expectedDigest);
    if (proven && expectedSha256)
        proven = FileMatchesSha256(partialPath, expectedSha256);
    if (proven && proof)
        proven = proof(partialPath);
    if (proven)
        proven = MoveFileExW(partialPath, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    if (!proven)
        DeleteFileW(partialPath);
    return proven;
}

void RemovePartialDownloads(const wchar_t* directory)
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
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemovePartialDownloads(path);
        else if (NamesPartialDownload(name))
            DeleteFileW(path);
    } while (FindNextFileW(search.Get(), &found));
}

#include "FileFetch.h"

#include <urlmon.h>
#include <wininet.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "BuildSettings.h"
#include "DownloadProgress.h"
#include "FileDigest.h"
#include "ScopedHandles.h"

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

enum class Transfer { Ended, Abandoned };

// URLDownloadToFileW has no time limit of its own: a server that accepts the
// connection and then sends nothing holds it for good, and one that trickles
// keeps calling back. So the transfer runs on a thread of its own while this
// one watches the status callback; after kDownloadStallLimitMs of silence,
// or totalLimitMs in all, the binding is aborted (IBinding::Abort, which
// ends the transfer at once on Windows and under Wine). Should the transfer
// still not end, it is left behind: the request and the callback stay
// alive for it, and nothing else may use them or its file.
Transfer TransferWithinLimits(const wchar_t* url, const wchar_t* path, DownloadProgress* progress,
                              DWORD totalLimitMs, HRESULT* result)
{
    *result = E_FAIL;
    auto request = std::make_unique<TransferRequest>(TransferRequest{url, path, progress, E_FAIL});
    progress->BeginDownload();
    const DWORD started = GetTickCount();
    const ScopedHandle thread(CreateThread(nullptr, 0, TransferThreadProc, request.get(), 0, nullptr));
    if (!thread)
        return Transfer::Ended;
    bool aborting = false;
    DWORD abortStarted = 0;
    for (;;) {
        if (WaitForSingleObject(thread.Get(), kWatchIntervalMs) == WAIT_OBJECT_0)
            break;
        if (!aborting && (progress->QuietMilliseconds() >= kDownloadStallLimitMs ||
                          (totalLimitMs && GetTickCount() - started >= totalLimitMs))) {
            aborting = true;
            abortStarted = GetTickCount();
        }
        if (aborting) {
            if (GetTickCount() - abortStarted >= kAbortGraceMs) {
                request.release();
                return Transfer::Abandoned;
            }
            // Until the service has handed over its binding there is nothing
            // to abort; ask again on every look.
            progress->AbortTransfer();
        }
    }
    *result = aborting ? E_ABORT : request->result;
    return Transfer::Ended;
}

// How long a rename waits for a destination another program (another
// updater digesting it, a virus scanner) holds open for a moment.
const DWORD kRenameWaitMs = 5000;
const DWORD kRenameRetryMs = 50;

bool RenameOpenFile(HANDLE file, const wchar_t* destination)
{
    // The whole path: a bare name would be taken relative to the current
    // directory, not the file's.
    const wchar_t* name = destination;
    size_t bytes = std::wcslen(name) * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = DWORD(bytes);
    std::memcpy(rename->FileName, name, bytes);

    // A copy marked read-only (from a disc, by a tool) would refuse the
    // rename on every start; only this one listed file loses the mark, and
    // gets it back if it is not replaced after all.
    DWORD attributes = GetFileAttributesW(destination);
    bool unmarked = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
                    !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                    SetFileAttributesW(destination, attributes & ~FILE_ATTRIBUTE_READONLY);
    const DWORD started = GetTickCount();
    for (;;) {
        if (SetFileInformationByHandle(file, FileRenameInfo, rename, DWORD(buffer.size())))
            return true;
        DWORD error = GetLastError();
        bool busy = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        if (!busy || GetTickCount() - started >= kRenameWaitMs)
            break;
        Sleep(kRenameRetryMs);
    }
    if (unmarked)
        SetFileAttributesW(destination, attributes);
    return false;
}

void DeleteOpenFile(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

}  // namespace

FetchOutcome FetchVerified(const wchar_t* url, const wchar_t* destination, const wchar_t* partialPath,
                           const char* expectedDigest, const char* expectedSha256, DownloadProgress* progress,
                           const DownloadProof& proof, DWORD totalLimitMs)
{
    // The partial file's name is this updater's own slot's: one found here
    // is from an interrupted run and must not pass for this one.
    DeleteFileW(partialPath);
    DeleteUrlCacheEntryW(url);
    HRESULT result;
    if (TransferWithinLimits(url, partialPath, progress, totalLimitMs, &result) == Transfer::Abandoned)
        return FetchOutcome::Abandoned;
    DeleteUrlCacheEntryW(url);

    // The service reports an error page or a cut body as success; the status
    // callback saw them. Only a listed digest can prove the bytes themselves.
    bool proven = result == S_OK && !progress->DownloadFailed();
    // From here until the rename no one else may write or remove the file:
    // the bytes proven are the bytes that take the destination's place.
    ScopedHandle file;
    if (proven)
        file.Reset(CreateFileW(partialPath, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    proven = proven && file && OpenFileMatchesDigests(file.Get(), expectedDigest, expectedSha256);
    if (proven && proof)
        proven = proof(file.Get());
    // Written through before the rename makes it the player's copy.
    proven = proven && FlushFileBuffers(file.Get()) && RenameOpenFile(file.Get(), destination);
    if (proven)
        return FetchOutcome::Replaced;
    if (file) {
        DeleteOpenFile(file.Get());
        file.Reset();
    }
    DeleteFileW(partialPath);
    return FetchOutcome::Failed;
}

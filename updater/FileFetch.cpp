#include "FileFetch.h"

#include <wininet.h>

#include <cstring>
#include <cwchar>
#include <vector>

#include "BoundedTransfer.h"
#include "CacheEntrySweeper.h"
#include "DownloadProgress.h"
#include "FileDigest.h"
#include "ScopedHandles.h"

namespace {

const DWORD kRenameRetryMs = 50;

// Why a fetch did not take, for whoever watches the player's machine with a
// debugger: the box only ever says that it failed.
void TellWhyNotTaken(const wchar_t* what, const wchar_t* name, unsigned long code, const wchar_t* detail = nullptr)
{
    wchar_t line[1024];
    _snwprintf(line, 1024, L"qalUpdate: %ls: %ls%ls%ls (0x%08lX)\n", name, what, detail ? L": " : L"",
               detail ? detail : L"", code);
    line[1023] = L'\0';
    OutputDebugStringW(line);
}

}  // namespace

bool RenameOpenFile(HANDLE file, const wchar_t* destination, DWORD waitMs)
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

    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    bool looked = false;
    bool unmarked = false;
    const DWORD started = GetTickCount();
    for (;;) {
        if (SetFileInformationByHandle(file, FileRenameInfo, rename, DWORD(buffer.size())))
            return true;
        DWORD error = GetLastError();
        // A copy marked read-only (from a disc, by a tool) would refuse the
        // rename on every start; only this one listed file loses the mark,
        // and gets it back if it is not replaced after all. Looked at only
        // once refused: most destinations are new or plainly writable.
        if (error == ERROR_ACCESS_DENIED && !looked) {
            looked = true;
            attributes = GetFileAttributesW(destination);
            unmarked = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
                       !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                       SetFileAttributesW(destination, attributes & ~FILE_ATTRIBUTE_READONLY);
            if (unmarked)
                continue;
        }
        bool busy = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        if (!busy || GetTickCount() - started >= waitMs)
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

FetchOutcome FetchToPartial(const wchar_t* url, const wchar_t* partialPath, DownloadProgress* progress,
                            DWORD totalLimitMs, CacheEntrySweeper* sweeper, const wchar_t* nextUrl)
{
    // The partial file's name is this updater's own slot's: one found here
    // is from an interrupted run and must not pass for this one.
    DeleteFileW(partialPath);
    if (sweeper) {
        sweeper->RemoveBeforeTransfer(url);
        // Never the address about to be fetched: its removal would run
        // during its own transfer.
        if (nextUrl && wcscmp(nextUrl, url) != 0)
            sweeper->RemoveAhead(nextUrl);
    } else {
        DeleteUrlCacheEntryW(url);
    }
    HRESULT result;
    if (TransferWithinLimits(url, partialPath, progress, totalLimitMs, &result) == Transfer::Abandoned)
        return FetchOutcome::Abandoned;
    if (sweeper)
        sweeper->RemoveAfterTransfer(url);
    else
        DeleteUrlCacheEntryW(url);

    // The service reports an error page or a cut body as success: the status
    // callback saw the one, the bytes written show the other.
    WIN32_FILE_ATTRIBUTE_DATA written = {};
    const ULONGLONG bodyBytes = GetFileAttributesExW(partialPath, GetFileExInfoStandard, &written)
                                    ? (ULONGLONG(written.nFileSizeHigh) << 32) | written.nFileSizeLow
                                    : 0;
    if (result == S_OK && !progress->DownloadFailed(bodyBytes))
        return FetchOutcome::Replaced;
    wchar_t outcome[128];
    progress->DescribeOutcome(bodyBytes, outcome, 128);
    TellWhyNotTaken(L"the transfer failed", url, static_cast<unsigned long>(result), outcome);
    DeleteFileW(partialPath);
    return FetchOutcome::Failed;
}

bool PlaceProvenPartial(const wchar_t* partialPath, const wchar_t* destination, const char* expectedDigest,
                        const char* expectedSha256, const DownloadProof& proof)
{
    // From here until the rename no one else may write or remove the file:
    // the bytes proven are the bytes that take the destination's place.
    ScopedHandle file(CreateFileW(partialPath, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    const wchar_t* trouble = nullptr;
    if (!file)
        trouble = L"the downloaded copy cannot be opened";
    else if (!OpenFileMatchesDigests(file.Get(), expectedDigest, expectedSha256))
        trouble = L"the downloaded copy does not match its digests";
    else if (proof && !proof(file.Get()))
        trouble = L"the downloaded copy does not prove";
    // Written through before the rename makes it the player's copy.
    else if (!FlushFileBuffers(file.Get()))
        trouble = L"the downloaded copy cannot be written through";
    else if (!RenameOpenFile(file.Get(), destination))
        trouble = L"the downloaded copy cannot take the place of the old one";
    else
        return true;
    TellWhyNotTaken(trouble, destination, GetLastError());
    if (file) {
        DeleteOpenFile(file.Get());
        file.Reset();
    }
    DeleteFileW(partialPath);
    return false;
}

FetchOutcome FetchVerified(const wchar_t* url, const wchar_t* destination, const wchar_t* partialPath,
                           const char* expectedDigest, const char* expectedSha256, DownloadProgress* progress,
                           const DownloadProof& proof, DWORD totalLimitMs, CacheEntrySweeper* sweeper,
                           const wchar_t* nextUrl)
{
    FetchOutcome fetched = FetchToPartial(url, partialPath, progress, totalLimitMs, sweeper, nextUrl);
    if (fetched != FetchOutcome::Replaced)
        return fetched;
    // Only a listed digest can prove the bytes themselves.
    return PlaceProvenPartial(partialPath, destination, expectedDigest, expectedSha256, proof)
               ? FetchOutcome::Replaced
               : FetchOutcome::Failed;
}

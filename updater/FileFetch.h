// Fetching one file from the resource server so that its destination only
// ever holds a complete, proven copy.
#pragma once

#include <windows.h>

#include <functional>

class CacheEntrySweeper;
class DownloadProgress;

// A further proof of a complete download, given the partial file open for
// reading (no one else may write it while the proof runs).
using DownloadProof = std::function<bool(HANDLE partialFile)>;

enum class FetchOutcome {
    Replaced,  // the destination holds the new, proven copy
    Failed,    // it is as it was, and the partial file is gone
    // The transfer would not end and was left behind: it may still write
    // the partial file and call progress, so neither may be used again.
    Abandoned
};

// Fetches url into partialPath (a name of this updater's own), with the
// cache entries removed as FetchVerified says: Replaced when the whole body
// arrived with a success status (nothing is proven yet), Failed (the
// partial file gone) or Abandoned.
FetchOutcome FetchToPartial(const wchar_t* url, const wchar_t* partialPath, DownloadProgress* progress,
                            DWORD totalLimitMs = 0, CacheEntrySweeper* sweeper = nullptr,
                            const wchar_t* nextUrl = nullptr);

// Holding the partial file open so that no one can change it, proves it as
// FetchVerified says and renames those very bytes over destination; false
// (the partial file gone, the destination as it was) when it does not prove
// or cannot take the destination's place.
bool PlaceProvenPartial(const wchar_t* partialPath, const wchar_t* destination, const char* expectedDigest,
                        const char* expectedSha256, const DownloadProof& proof = nullptr);

// How long a rename waits for a destination another program (another
// updater digesting it, a virus scanner) holds open for a moment.
constexpr DWORD kRenameWaitMs = 5000;

// Renames a file held open with DELETE access over destination (a whole
// path), waiting up to waitMs while the destination is busy; a copy marked
// read-only loses that mark, and gets it back when the rename fails.
bool RenameOpenFile(HANDLE file, const wchar_t* destination, DWORD waitMs = kRenameWaitMs);

// Marks a file held open with DELETE access to go when its last handle closes.
void DeleteOpenFile(HANDLE file);

// Fetches url into partialPath (in the destination's own directory, outside
// the Internet cache). Then, holding the partial file open so that no one
// can change it, checks it against expectedDigest when that is a
// well-formed digest, against expectedSha256 when given, and against proof
// when given, and renames those very bytes over destination. A transfer
// that takes longer than totalLimitMs in all (0: no limit) fails like one
// that goes silent.
// The cache entry of url is removed before the transfer and after it: at
// once, or through sweeper when given, which then also removes nextUrl's
// (the next fetch's address, when known) while this transfer runs.
FetchOutcome FetchVerified(const wchar_t* url, const wchar_t* destination, const wchar_t* partialPath,
                           const char* expectedDigest, const char* expectedSha256, DownloadProgress* progress,
                           const DownloadProof& proof = nullptr, DWORD totalLimitMs = 0,
                           CacheEntrySweeper* sweeper = nullptr, const wchar_t* nextUrl = nullptr);

// Deciding which manifest entries to fetch, and where each one goes.
#pragma once

#include "DigestText.h"
#include "ManifestReader.h"
#include "UpdateLocations.h"

#include <deque>
#include <functional>
#include <vector>

// Where one entry is fetched from and written to.
struct DownloadTarget {
    wchar_t address[kAddressCapacity];
    wchar_t destination[kPathCapacity];
    wchar_t parent[kPathCapacity];
    wchar_t partial[kPathCapacity];  // where the download is written first
};

// Fills the target for a (wide) manifest path, the partial file under the
// given name; false when the path is unsafe or any of its parts does not fit.
bool FormDownloadTarget(DownloadTarget* target, const wchar_t* resourceBase, const wchar_t* gameDir,
                        const wchar_t* path, const wchar_t* partialName = kPartialDownloadName);

// Turns 8-bit manifest text into wide text in a buffer of the given capacity.
using WidenText = std::function<bool(const char* text, wchar_t* out, size_t capacity)>;
// Digests the local file into hexDigest (kDigestTextCapacity characters,
// lowercase hexadecimal); false when there is no file to digest.
using LocalFileDigest = std::function<bool(const wchar_t* localPath, char* hexDigest)>;

// One file the plan queued: its entry, whose digests prove the download, and
// the digest of the local copy it is to replace (empty when there is none),
// which decides whether a patch can make the new file from it.
struct PendingFile {
    ManifestEntry entry;
    char localDigest[kDigestTextCapacity] = {};
};

enum class PlanOutcome {
    Ready,          // pending holds what must be fetched (maybe nothing)
    UnsafePath,     // some entry would leave the game directory, name a
                    // device, or take the partial download's name
    UnformablePath  // some entry's name cannot be converted or does not fit
};

// Checks every entry's path before looking at any file, then queues, in
// manifest order, the path text of each entry whose local copy does not
// match its "ver", and (when asked for) the pending file in step. Nothing is queued unless the outcome is Ready. Each queued
// target must fit with the partial file name the fetch will write.
PlanOutcome PlanDownloads(const std::vector<ManifestEntry>& entries, const wchar_t* resourceBase,
                          const wchar_t* gameDir, const WidenText& widen,
                          const LocalFileDigest& digestOf, std::deque<const char*>* pending,
                          std::deque<PendingFile>* pendingFiles = nullptr,
                          const wchar_t* partialName = kPartialDownloadName);

// Fetching one file from the resource server so that its destination only
// ever holds a complete, proven copy.
#pragma once

#include <windows.h>

#include <functional>

class DownloadProgress;

// A further proof of a complete download, given the partial file's path.
using DownloadProof = std::function<bool(const wchar_t* partialPath)>;

// Fetches url into partialPath (in the destination's own directory, outside
// the Internet cache), then, when expectedDigest is a well-formed digest,
// checks the partial file against it, when expectedSha256 is given against
// that too (and against proof, when given), and only then renames it over
// destination in one step. True when the destination now holds the new
// copy; on false the destination is as it was and the partial file is gone,
// as far as the system allows.
bool FetchVerified(const wchar_t* url, const wchar_t* destination, const wchar_t* partialPath,
                   const char* expectedDigest, const char* expectedSha256, DownloadProgress* progress,
                   const DownloadProof& proof = nullptr);

// Removes the partial files an interrupted run may have left anywhere below
// directory (not following links or junctions out of it).
void RemovePartialDownloads(const wchar_t* directory);

// Whether a local file has the digest the manifest lists for it.
#pragma once

#include <windows.h>

// True only when the file exists and its MD5 digest, as 32 uppercase
// hexadecimal digits, equals expectedDigest exactly. A missing expected
// digest never matches.
bool FileMatchesDigest(const wchar_t* path, const char* expectedDigest);

// Proves a file held open, read from its start: its MD5 against
// expectedDigest when that is a well-formed digest (anything else proves
// nothing, as an unlisted digest never could), and its SHA-256 (as
// sha256sum prints it) against expectedSha256 when one is given.
bool OpenFileMatchesDigests(HANDLE file, const char* expectedDigest, const char* expectedSha256);

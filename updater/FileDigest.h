// Whether a local file has the digest the manifest lists for it.
#pragma once

#include <windows.h>

// True only when the file exists and its MD5 digest, as 32 uppercase
// hexadecimal digits, equals expectedDigest exactly. A missing expected
// digest never matches.
bool FileMatchesDigest(const wchar_t* path, const char* expectedDigest);

// True only when the file exists and its SHA-256, as sha256sum prints it,
// equals expectedSha256 exactly.
bool FileMatchesSha256(const wchar_t* path, const char* expectedSha256);

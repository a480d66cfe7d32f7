// The digests of local files: whether a copy is current, and proofs of
// downloaded ones.
#pragma once

#include <windows.h>

// Writes the MD5 digest of the file at path, as 32 lowercase hexadecimal
// digits, into hexDigest (kDigestTextCapacity characters); false when the
// file does not exist or cannot be read.
bool DigestLocalFile(const wchar_t* path, char* hexDigest);

// Proves a file held open, read from its start: its MD5 against
// expectedDigest when that is a well-formed digest (anything else proves
// nothing, as an unlisted digest never could), and its SHA-256 (as
// sha256sum prints it) against expectedSha256 when one is given.
bool OpenFileMatchesDigests(HANDLE file, const char* expectedDigest, const char* expectedSha256);

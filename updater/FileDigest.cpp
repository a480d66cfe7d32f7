#include "FileDigest.h"

#include <shlwapi.h>

#include <cstring>
#include <memory>
#include <vector>

#include "AnsiText.h"
#include "DigestText.h"
#include "ManifestSignature.h"
#include "Md5.h"
#include "ScopedHandles.h"
#include "SignatureCrypto.h"

bool DigestLocalFile(const wchar_t* path, char* hexDigest)
{
    if (!path || !PathFileExistsW(path))
        return false;
    std::vector<char> narrowPath;
    WideToAnsi(path, &narrowPath);
    MD5Context context;
    const char* digest = MD5File(&context, narrowPath.empty() ? nullptr : narrowPath.data());
    if (!digest)
        return false;
    static_assert(sizeof context.hexDigest == kDigestTextCapacity, "a digest's text fills the buffer");
    std::memcpy(hexDigest, digest, kDigestTextCapacity);
    return true;
}

bool OpenFileMatchesDigests(HANDLE file, const char* expectedDigest, const char* expectedSha256)
{
    const bool checkMd5 = IsWellFormedDigest(expectedDigest);
    if (!checkMd5 && !expectedSha256)
        return true;
    if (expectedSha256 && !IsWellFormedSha256(expectedSha256))
        return false;
    std::unique_ptr<Sha256Stream> sha256;
    if (expectedSha256 && !(sha256 = NewSha256Stream()))
        return false;
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return false;
    MD5Context md5;
    MD5Init(&md5);
    std::vector<unsigned char> block(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, block.data(), DWORD(block.size()), &got, nullptr))
            return false;
        if (got == 0)
            break;
        MD5Update(&md5, block.data(), got);
        if (sha256)
            sha256->Add(block.data(), got);
    }
    MD5Final(&md5);
    if (checkMd5 && !DigestTextMatches(md5.hexDigest, expectedDigest))
        return false;
    unsigned char digest[32];
    return !sha256 || (sha256->Finish(digest) && Sha256Text(digest) == expectedSha256);
}

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

bool FileMatchesDigest(const wchar_t* path, const char* expectedDigest)
{
    if (!path || !PathFileExistsW(path))
        return false;
    std::vector<char> narrowPath;
    WideToAnsi(path, &narrowPath);
    MD5Context context;
    const char* digest = MD5File(&context, narrowPath.empty() ? nullptr : narrowPath.data());
    return DigestTextMatches(digest, expectedDigest);
}

bool FileMatchesSha256(const wchar_t* path, const char* expectedSha256)
{
    if (!path || !IsWellFormedSha256(expectedSha256))
        return false;
    const ScopedHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    std::unique_ptr<Sha256Stream> stream = NewSha256Stream();
    if (!file || !stream)
        return false;
    std::vector<unsigned char> block(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), block.data(), DWORD(block.size()), &got, nullptr))
            return false;
        if (got == 0)
            break;
        stream->Add(block.data(), got);
    }
    unsigned char digest[32];
    return stream->Finish(digest) && Sha256Text(digest) == expectedSha256;
}

#include "FileDigest.h"

#include <shlwapi.h>

#include "AnsiText.h"
#include "DigestText.h"
#include "Md5.h"

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

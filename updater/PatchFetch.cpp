#include "PatchFetch.h"

#include "FileDigest.h"
#include "PatchDecoder.h"
#include "ScopedHandles.h"

const uint64_t kPatchedFileLimit = MaxPatchedFileBytes(sizeof(void*) == 8);

namespace {

// Pages of their own rather than the heap's: the older copy may be hundreds
// of megabytes, and is given back whole the moment the patch is applied.
class PageBuffer {
public:
    explicit PageBuffer(size_t size)
        : data(size ? static_cast<unsigned char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE,
                                                              PAGE_READWRITE))
                    : nullptr)
    {
    }
    ~PageBuffer()
    {
        if (data)
            VirtualFree(data, 0, MEM_RELEASE);
    }
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;

    unsigned char* const data;
};

bool ReadWhole(HANDLE file, unsigned char* out, size_t size)
{
    while (size > 0) {
        DWORD piece = size > (64u << 20) ? DWORD(64u << 20) : DWORD(size);
        DWORD got = 0;
        if (!ReadFile(file, out, piece, &got, nullptr) || got == 0)
            return false;
        out += got;
        size -= got;
    }
    return true;
}

// The patch held open for reading and, when it is closed, gone. No one else
// may open it meanwhile, so the bytes proven are the bytes decoded.
bool OpenProvenPatch(const wchar_t* patchPartial, const PatchOffer& offer, ScopedHandle* patch,
                     const char** trouble)
{
    patch->Reset(CreateFileW(patchPartial, GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!*patch) {
        DeleteFileW(patchPartial);
        *trouble = "the patch could not be opened";
        return false;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(patch->Get(), &size) || uint64_t(size.QuadPart) != offer.size) {
        *trouble = "the patch is not of the listed size";
        return false;
    }
    if (offer.sha256 && !OpenFileMatchesDigests(patch->Get(), nullptr, offer.sha256)) {
        *trouble = "the patch does not match its listed SHA-256";
        return false;
    }
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(patch->Get(), start, nullptr, FILE_BEGIN)) {
        *trouble = "the patch could not be read";
        return false;
    }
    return true;
}

// Decodes the proven patch against the older copy into the partial file.
bool ApplyPatch(HANDLE patch, const DownloadTarget& target, const char** trouble)
{
    // Read only, and no one may write it while it is read.
    ScopedHandle older(CreateFileW(target.destination, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER olderSize;
    if (!older || !GetFileSizeEx(older.Get(), &olderSize)) {
        *trouble = "the local copy could not be read";
        return false;
    }
    if (uint64_t(olderSize.QuadPart) > kPatchedFileLimit) {
        *trouble = "the local copy is larger than this updater patches";
        return false;
    }
    PageBuffer olderBytes(size_t(olderSize.QuadPart));
    if (olderSize.QuadPart > 0 && !olderBytes.data) {
        *trouble = "no memory for the local copy";
        return false;
    }
    if (!ReadWhole(older.Get(), olderBytes.data, size_t(olderSize.QuadPart))) {
        *trouble = "the local copy could not be read";
        return false;
    }
    older.Reset();

    DeleteFileW(target.partial);
    ScopedHandle made(CreateFileW(target.partial, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!made) {
        *trouble = "the new file could not be written";
        return false;
    }
    PatchRead read = [patch](unsigned char* buffer, size_t capacity, bool* failed) -> size_t {
        DWORD got = 0;
        if (!ReadFile(patch, buffer, DWORD(capacity), &got, nullptr)) {
            *failed = true;
            return 0;
        }
        return got;
    };
    PatchWrite write = [&made](const unsigned char* data, size_t size) {
        DWORD wrote = 0;
        return WriteFile(made.Get(), data, DWORD(size), &wrote, nullptr) && wrote == size;
    };
    PatchDecodeResult result =
        DecodePatch(olderBytes.data, size_t(olderSize.QuadPart), read, write, kPatchedFileLimit);
    if (result != PatchDecodeResult::Done) {
        DeleteOpenFile(made.Get());
        *trouble = PatchDecodeResultText(result);
        return false;
    }
    return true;
}

}  // namespace

FetchOutcome FetchByPatch(const wchar_t* patchUrl, const wchar_t* patchPartial, const PatchOffer& offer,
                          const DownloadTarget& target, const char* expectedDigest, const char* expectedSha256,
                          DownloadProgress* progress, CacheEntrySweeper* sweeper, const wchar_t* nextUrl,
                          const char** trouble)
{
    // A patch this build would refuse to apply is not worth its transfer.
    WIN32_FILE_ATTRIBUTE_DATA older;
    if (!GetFileAttributesExW(target.destination, GetFileExInfoStandard, &older)) {
        *trouble = "the local copy could not be read";
        return FetchOutcome::Failed;
    }
    if ((uint64_t(older.nFileSizeHigh) << 32 | older.nFileSizeLow) > kPatchedFileLimit) {
        *trouble = "the local copy is larger than this updater patches";
        return FetchOutcome::Failed;
    }
    FetchOutcome fetched = FetchToPartial(patchUrl, patchPartial, progress, 0, sweeper, nextUrl);
    if (fetched == FetchOutcome::Abandoned)
        return fetched;
    if (fetched != FetchOutcome::Replaced) {
        *trouble = "the patch could not be fetched";
        return FetchOutcome::Failed;
    }
    {
        ScopedHandle patch;
        if (!OpenProvenPatch(patchPartial, offer, &patch, trouble) || !ApplyPatch(patch.Get(), target, trouble)) {
            patch.Reset();
            DeleteFileW(target.partial);
            return FetchOutcome::Failed;
        }
    }
    if (!PlaceProvenPartial(target.partial, target.destination, expectedDigest, expectedSha256)) {
        *trouble = "the patched file did not prove, or could not take the copy's place";
        return FetchOutcome::Failed;
    }
    return FetchOutcome::Replaced;
}

#include "PatchMaking.h"

#include "PatchDecoder.h"
#include "PatchRules.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_createCCtx_advanced: memory of the caller's choosing
#include <zstd.h>
#include <zstd_errors.h>

#include <cstring>
#include <memory>

namespace {

struct EncoderDeleter {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

// A window that reaches from the end of the new file back over the whole
// older one, as the zstd command sets it for --patch-from.
int WindowLogFor(uint64_t bytes)
{
    ZSTD_bounds bounds = ZSTD_cParam_getBounds(ZSTD_c_windowLog);
    int log = bounds.lowerBound;
    while (log < bounds.upperBound && (uint64_t(1) << log) < bytes)
        ++log;
    return log;
}

}  // namespace

PatchMade MakePatch(const std::string& older, const std::string& newer, std::string* patch, std::string* error,
                    const PatchMemory& memory)
{
    std::unique_ptr<ZSTD_CCtx, EncoderDeleter> context(
        memory.allocate ? ZSTD_createCCtx_advanced({memory.allocate, memory.release, memory.opaque})
                        : ZSTD_createCCtx());
    // libzstd answers a failed allocation with an error code, never with
    // std::bad_alloc.
    auto failed = [&](size_t code) {
        *error = std::string("libzstd: ") + ZSTD_getErrorName(code);
        return ZSTD_getErrorCode(code) == ZSTD_error_memory_allocation ? PatchMade::OutOfMemory : PatchMade::Failed;
    };
    if (!context) {
        *error = "libzstd: out of memory";
        return PatchMade::OutOfMemory;
    }
    const uint64_t reach = uint64_t(older.size()) > newer.size() ? older.size() : newer.size();
    size_t status;
    if (ZSTD_isError(status = ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, 1)) ||
        ZSTD_isError(status = ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, WindowLogFor(reach))) ||
        ZSTD_isError(status = ZSTD_CCtx_setParameter(context.get(), ZSTD_c_enableLongDistanceMatching, 1)) ||
        ZSTD_isError(status = ZSTD_CCtx_refPrefix(context.get(), older.data(), older.size())))
        return failed(status);
    std::string out(ZSTD_compressBound(newer.size()), '\0');
    status = ZSTD_compress2(context.get(), &out[0], out.size(), newer.data(), newer.size());
    if (ZSTD_isError(status))
        return failed(status);
    out.resize(status);

    // Decoded as the updater decodes it, with the largest bound any updater has.
    size_t at = 0, matched = 0;
    bool same = true;
    PatchDecodeResult result = DecodePatch(
        reinterpret_cast<const unsigned char*>(older.data()), older.size(),
        [&](unsigned char* buffer, size_t capacity, bool*) {
            size_t n = out.size() - at < capacity ? out.size() - at : capacity;
            std::memcpy(buffer, out.data() + at, n);
            at += n;
            return n;
        },
        [&](const unsigned char* data, size_t size) {
            same = same && size <= newer.size() - matched && std::memcmp(data, newer.data() + matched, size) == 0;
            matched += same ? size : 0;
            return same;
        },
        kMaxPatchedFileBytes64);
    if (result == PatchDecodeResult::OutOfMemory) {
        *error = std::string("libzstd, checking the patch: ") + PatchDecodeResultText(result);
        return PatchMade::OutOfMemory;
    }
    if (result != PatchDecodeResult::Done || !same || matched != newer.size()) {
        *error = std::string("the patch made does not decode to the file (") + PatchDecodeResultText(result) + ")";
        return PatchMade::Failed;
    }
    *patch = std::move(out);
    return PatchMade::Made;
}

bool PatchWorthPublishing(uint64_t patchBytes, uint64_t fileBytes)
{
    return patchBytes <= fileBytes / 4 * 3 + (fileBytes % 4) * 3 / 4;
}

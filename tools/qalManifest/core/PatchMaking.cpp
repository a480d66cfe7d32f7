#include "PatchMaking.h"

#include "PatchDecoder.h"
#include "PatchRules.h"

#include <zstd.h>

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

bool MakePatch(const std::string& older, const std::string& newer, std::string* patch, std::string* error)
{
    std::unique_ptr<ZSTD_CCtx, EncoderDeleter> context(ZSTD_createCCtx());
    auto failed = [&](size_t code) {
        *error = std::string("libzstd: ") + ZSTD_getErrorName(code);
        return false;
    };
    if (!context) {
        *error = "libzstd: out of memory";
        return false;
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
    if (result != PatchDecodeResult::Done || !same || matched != newer.size()) {
        *error = std::string("the patch made does not decode to the file (") + PatchDecodeResultText(result) + ")";
        return false;
    }
    *patch = std::move(out);
    return true;
}

bool PatchWorthPublishing(uint64_t patchBytes, uint64_t fileBytes)
{
    return patchBytes <= fileBytes / 4 * 3 + (fileBytes % 4) * 3 / 4;
}

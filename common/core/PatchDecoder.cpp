#include "PatchDecoder.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <memory>
#include <vector>

namespace {

struct DecoderDeleter {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

// The smallest window log that holds maxBytes, within what this build of
// the decoder accepts at all.
int WindowLogFor(uint64_t maxBytes)
{
    ZSTD_bounds bounds = ZSTD_dParam_getBounds(ZSTD_d_windowLogMax);
    int log = bounds.lowerBound;
    while (log < bounds.upperBound && (uint64_t(1) << log) < maxBytes)
        ++log;
    return log;
}

PatchDecodeResult ResultOf(size_t code)
{
    switch (ZSTD_getErrorCode(code)) {
    case ZSTD_error_frameParameter_windowTooLarge:
        return PatchDecodeResult::WindowTooLarge;
    case ZSTD_error_memory_allocation:
        return PatchDecodeResult::OutOfMemory;
    default:
        return PatchDecodeResult::BadFrame;
    }
}

}  // namespace

PatchDecodeResult DecodePatch(const unsigned char* older, size_t olderSize, const PatchRead& read,
                              const PatchWrite& write, uint64_t maxBytes)
{
    std::unique_ptr<ZSTD_DCtx, DecoderDeleter> context(ZSTD_createDCtx());
    if (!context)
        return PatchDecodeResult::OutOfMemory;
    if (ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, WindowLogFor(maxBytes))) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(context.get(), older, olderSize)))
        return PatchDecodeResult::OutOfMemory;

    std::vector<unsigned char> in(ZSTD_DStreamInSize()), out(ZSTD_DStreamOutSize());
    uint64_t written = 0;
    bool frameEnded = false;
    for (;;) {
        bool failed = false;
        size_t got = read(in.data(), in.size(), &failed);
        if (failed)
            return PatchDecodeResult::ReadFailed;
        if (got == 0)
            return frameEnded ? PatchDecodeResult::Done : PatchDecodeResult::BadFrame;
        // The reference holds for one frame only: a patch is exactly one.
        if (frameEnded)
            return PatchDecodeResult::BadFrame;
        ZSTD_inBuffer input{in.data(), got, 0};
        // A full output buffer may leave decoded bytes held back: they are
        // taken before more input is read.
        bool heldBack = false;
        while (input.pos < input.size || heldBack) {
            ZSTD_outBuffer output{out.data(), out.size(), 0};
            size_t status = ZSTD_decompressStream(context.get(), &output, &input);
            if (ZSTD_isError(status))
                return ResultOf(status);
            if (output.pos > maxBytes - written)
                return PatchDecodeResult::OutputTooLarge;
            written += output.pos;
            if (output.pos > 0 && !write(out.data(), output.pos))
                return PatchDecodeResult::WriteFailed;
            frameEnded = status == 0;
            if (frameEnded && input.pos < input.size)
                return PatchDecodeResult::BadFrame;  // more after the one frame
            heldBack = !frameEnded && output.pos == output.size;
        }
    }
}

const char* PatchDecodeResultText(PatchDecodeResult result)
{
    switch (result) {
    case PatchDecodeResult::Done: return "decoded";
    case PatchDecodeResult::BadFrame: return "not one intact patch frame";
    case PatchDecodeResult::WindowTooLarge: return "the patch asks for more memory than this updater allows";
    case PatchDecodeResult::OutputTooLarge: return "the patch decodes to more than this updater patches";
    case PatchDecodeResult::OutOfMemory: return "out of memory";
    case PatchDecodeResult::ReadFailed: return "the patch could not be read";
    case PatchDecodeResult::WriteFailed: return "the new file could not be written";
    }
    return "?";
}

// Arbitrary bytes as a binary patch, against an older copy made from the
// first bytes: whatever the frame says, decoding ends, never writes more than
// the bound, and reports Done only for what ended one whole frame.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "PatchDecoder.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte: how much of the rest is the older copy, and the bound.
    size_t olderSize = std::min<size_t>(size - 1, size_t(data[0] & 0x3f) * 16);
    uint64_t maxBytes = uint64_t(1) << (10 + (data[0] >> 6) * 4);
    std::vector<unsigned char> older(data + 1, data + 1 + olderSize);
    const uint8_t* patch = data + 1 + olderSize;
    size_t patchSize = size - 1 - olderSize, at = 0;
    uint64_t written = 0;
    PatchDecodeResult result = DecodePatch(
        older.data(), older.size(),
        [&](unsigned char* buffer, size_t capacity, bool*) {
            // Odd pieces, so frames cross every boundary.
            size_t n = std::min({capacity, patchSize - at, size_t(1) + at % 13});
            std::memcpy(buffer, patch + at, n);
            at += n;
            return n;
        },
        [&](const unsigned char*, size_t bytes) {
            written += bytes;
            Require(written <= maxBytes);
            return true;
        },
        maxBytes);
    Require(written <= maxBytes);
    if (result == PatchDecodeResult::Done)
        Require(at == patchSize);
    Require(result != PatchDecodeResult::ReadFailed && result != PatchDecodeResult::WriteFailed);
    return 0;
}

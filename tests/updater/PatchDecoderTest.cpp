#include <gtest/gtest.h>

#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "PatchDecoder.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Random(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (unsigned char& b : bytes)
        b = static_cast<unsigned char>(generator() >> 24);
    return bytes;
}

// What "zstd --patch-from=OLDER" makes: one frame, with its checksum,
// referring to the older file.
Bytes MakePatch(const Bytes& older, const Bytes& newer, int windowLog = 24)
{
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog);
    ZSTD_CCtx_refPrefix(context, older.data(), older.size());
    Bytes patch(ZSTD_compressBound(newer.size()));
    size_t size = ZSTD_compress2(context, patch.data(), patch.size(), newer.data(), newer.size());
    ZSTD_freeCCtx(context);
    EXPECT_FALSE(ZSTD_isError(size)) << ZSTD_getErrorName(size);
    patch.resize(ZSTD_isError(size) ? 0 : size);
    return patch;
}

struct Decoded {
    PatchDecodeResult result;
    Bytes out;
    size_t writes = 0;
};

// Feeds the patch `piece` bytes at a time.
Decoded Decode(const Bytes& older, const Bytes& patch, uint64_t maxBytes = uint64_t(1) << 30, size_t piece = 4096,
               bool failRead = false, bool failWrite = false)
{
    Decoded decoded;
    size_t at = 0;
    decoded.result = DecodePatch(
        older.data(), older.size(),
        [&](unsigned char* buffer, size_t capacity, bool* failed) -> size_t {
            if (failRead && at > 0) {
                *failed = true;
                return 0;
            }
            size_t n = std::min({capacity, piece, patch.size() - at});
            std::copy(patch.begin() + long(at), patch.begin() + long(at + n), buffer);
            at += n;
            return n;
        },
        [&](const unsigned char* data, size_t size) {
            ++decoded.writes;
            decoded.out.insert(decoded.out.end(), data, data + size);
            return !failWrite;
        },
        maxBytes);
    return decoded;
}

// A game archive of the next version: some blocks rewritten, 64 KiB inserted.
struct Versions {
    Bytes older = Random(1 << 20, 1);
    Bytes newer;
    Versions()
    {
        newer = older;
        Bytes changed = Random(4096, 2);
        for (size_t block = 7; block < 256; block += 50)
            std::copy(changed.begin(), changed.end(), newer.begin() + long(block * 4096));
        Bytes inserted = Random(64 << 10, 3);
        newer.insert(newer.begin() + long(newer.size() / 2), inserted.begin(), inserted.end());
    }
};

}  // namespace

TEST(PatchDecoding, AnOlderCopyAndItsPatchGiveTheNewFileInPieces)
{
    Versions v;
    Bytes patch = MakePatch(v.older, v.newer);
    ASSERT_LT(patch.size(), v.newer.size() / 8);
    for (size_t piece : {size_t(1) << 20, size_t(4096), size_t(7), size_t(1)}) {
        Decoded decoded = Decode(v.older, patch, uint64_t(1) << 30, piece);
        EXPECT_EQ(decoded.result, PatchDecodeResult::Done) << "pieces of " << piece;
        EXPECT_TRUE(decoded.out == v.newer) << "pieces of " << piece;
        EXPECT_GT(decoded.writes, 1u);
    }
    // Exactly the bound is allowed.
    EXPECT_EQ(Decode(v.older, patch, v.newer.size()).result, PatchDecodeResult::Done);
}

TEST(PatchDecoding, AnythingButOneIntactFrameIsRefused)
{
    Versions v;
    Bytes patch = MakePatch(v.older, v.newer);
    for (size_t cut : {size_t(0), size_t(1), size_t(5), patch.size() / 2, patch.size() - 4, patch.size() - 1})
        EXPECT_EQ(Decode(v.older, Bytes(patch.begin(), patch.begin() + long(cut))).result,
                  PatchDecodeResult::BadFrame) << "cut at " << cut;
    Bytes twice = patch;
    twice.insert(twice.end(), patch.begin(), patch.end());
    EXPECT_EQ(Decode(v.older, twice).result, PatchDecodeResult::BadFrame);
    Bytes trailing = patch;
    trailing.push_back(0);
    EXPECT_EQ(Decode(v.older, trailing).result, PatchDecodeResult::BadFrame);
    Bytes flipped = patch;
    flipped[flipped.size() / 2] ^= 0x40;
    EXPECT_EQ(Decode(v.older, flipped).result, PatchDecodeResult::BadFrame);
    EXPECT_EQ(Decode(v.older, Random(5000, 9)).result, PatchDecodeResult::BadFrame);
    // A copy the player changed is not the reference the patch was made from:
    // the frame's checksum refuses what it decodes to.
    Bytes edited = v.older;
    edited[100000] ^= 1;
    EXPECT_EQ(Decode(edited, patch).result, PatchDecodeResult::BadFrame);
}

TEST(PatchDecoding, NothingBeyondTheBoundIsDecodedOrHeld)
{
    Versions v;
    Bytes patch = MakePatch(v.older, v.newer);
    Decoded small = Decode(v.older, patch, v.newer.size() - 1);
    EXPECT_TRUE(small.result == PatchDecodeResult::OutputTooLarge || small.result == PatchDecodeResult::WindowTooLarge);
    EXPECT_LT(small.out.size(), v.newer.size());
    // A frame whose window is larger than the bound is refused before it is decoded.
    Bytes big = Random(3 << 20, 4);
    Decoded windowed = Decode(Bytes(), MakePatch(Bytes(), big, 22), 1 << 20);
    EXPECT_EQ(windowed.result, PatchDecodeResult::WindowTooLarge);
    EXPECT_TRUE(windowed.out.empty());
}

TEST(PatchDecoding, ReadAndWriteFailuresAreReportedAsSuch)
{
    Versions v;
    Bytes patch = MakePatch(v.older, v.newer);
    EXPECT_EQ(Decode(v.older, patch, uint64_t(1) << 30, 1000, true).result, PatchDecodeResult::ReadFailed);
    EXPECT_EQ(Decode(v.older, patch, uint64_t(1) << 30, 4096, false, true).result, PatchDecodeResult::WriteFailed);
}

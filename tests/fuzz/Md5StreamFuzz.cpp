// MD5 fed in arbitrary pieces gives the digest of the data fed at once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Md5.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses how many cuts; the next bytes where they fall.
    size_t cuts = data[0] % 8;
    ++data;
    --size;
    size_t positions[8];
    for (size_t i = 0; i < cuts; ++i)
        positions[i] = size ? (size_t(data[i % size]) * 131 + i * 977) % (size + 1) : 0;

    MD5Context whole;
    MD5Init(&whole);
    MD5Update(&whole, data, uint32_t(size));
    MD5Final(&whole);

    MD5Context pieces;
    MD5Init(&pieces);
    size_t done = 0;
    for (size_t i = 0; i < cuts; ++i) {
        size_t cut = positions[i] < done ? done : positions[i];
        MD5Update(&pieces, data + done, uint32_t(cut - done));
        done = cut;
    }
    MD5Update(&pieces, data + done, uint32_t(size - done));
    MD5Final(&pieces);

    if (std::memcmp(whole.digest, pieces.digest, 16) != 0 || std::strcmp(whole.hexDigest, pieces.hexDigest) != 0)
        std::abort();
    return 0;
}

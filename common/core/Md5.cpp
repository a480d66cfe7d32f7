#include "Md5.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t LoadLittleEndian(const unsigned char* p)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint32_t word;
    std::memcpy(&word, p, 4);  // compiles to one unaligned load
    return word;
#else
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
#endif
}

inline void StoreLittleEndian(unsigned char* p, uint32_t word)
{
    p[0] = (unsigned char)word;
    p[1] = (unsigned char)(word >> 8);
    p[2] = (unsigned char)(word >> 16);
    p[3] = (unsigned char)(word >> 24);
}

// The round functions in forms that need the fewest dependent operations:
// F selects c or d by b; G's two halves never share a set bit, so they may be
// added instead of or-ed, which lets them fold into the step's sum.
#define MD5_STEP_F(a, b, c, d, x, t, s) \
    a += (((c ^ d) & b) ^ d) + (x) + (t); a = RotateLeft(a, s) + b
#define MD5_STEP_G(a, b, c, d, x, t, s) \
    a += (x) + (t) + (d & b) + (~d & c); a = RotateLeft(a, s) + b
#define MD5_STEP_H(a, b, c, d, x, t, s) \
    a += (b ^ c ^ d) + (x) + (t); a = RotateLeft(a, s) + b
#define MD5_STEP_I(a, b, c, d, x, t, s) \
    a += (c ^ (b | ~d)) + (x) + (t); a = RotateLeft(a, s) + b

void TransformBlocks(uint32_t state[4], const unsigned char* data, size_t blocks)
{
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; blocks > 0; --blocks, data += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = LoadLittleEndian(data + 4 * i);
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        MD5_STEP_F(a, b, c, d, x[0], 0xd76aa478, 7);
        MD5_STEP_F(d, a, b, c, x[1], 0xe8c7b756, 12);
        MD5_STEP_F(c, d, a, b, x[2], 0x242070db, 17);
        MD5_STEP_F(b, c, d, a, x[3], 0xc1bdceee, 22);
        MD5_STEP_F(a, b, c, d, x[4], 0xf57c0faf, 7);
        MD5_STEP_F(d, a, b, c, x[5], 0x4787c62a, 12);
        MD5_STEP_F(c, d, a, b, x[6], 0xa8304613, 17);
        MD5_STEP_F(b, c, d, a, x[7], 0xfd469501, 22);
        MD5_STEP_F(a, b, c, d, x[8], 0x698098d8, 7);
        MD5_STEP_F(d, a, b, c, x[9], 0x8b44f7af, 12);
        MD5_STEP_F(c, d, a, b, x[10], 0xffff5bb1, 17);
        MD5_STEP_F(b, c, d, a, x[11], 0x895cd7be, 22);
        MD5_STEP_F(a, b, c, d, x[12], 0x6b901122, 7);
        MD5_STEP_F(d, a, b, c, x[13], 0xfd987193, 12);
        MD5_STEP_F(c, d, a, b, x[14], 0xa679438e, 17);
        MD5_STEP_F(b, c, d, a, x[15], 0x49b40821, 22);

        MD5_STEP_G(a, b, c, d, x[1], 0xf61e2562, 5);
        MD5_STEP_G(d, a, b, c, x[6], 0xc040b340, 9);
        MD5_STEP_G(c, d, a, b, x[11], 0x265e5a51, 14);
        MD5_STEP_G(b, c, d, a, x[0], 0xe9b6c7aa, 20);
        MD5_STEP_G(a, b, c, d, x[5], 0xd62f105d, 5);
        MD5_STEP_G(d, a, b, c, x[10], 0x02441453, 9);
        MD5_STEP_G(c, d, a, b, x[15], 0xd8a1e681, 14);
        MD5_STEP_G(b, c, d, a, x[4], 0xe7d3fbc8, 20);
        MD5_STEP_G(a, b, c, d, x[9], 0x21e1cde6, 5);
        MD5_STEP_G(d, a, b, c, x[14], 0xc33707d6, 9);
        MD5_STEP_G(c, d, a, b, x[3], 0xf4d50d87, 14);
        MD5_STEP_G(b, c, d, a, x[8], 0x455a14ed, 20);
        MD5_STEP_G(a, b, c, d, x[13], 0xa9e3e905, 5);
        MD5_STEP_G(d, a, b, c, x[2], 0xfcefa3f8, 9);
        MD5_STEP_G(c, d, a, b, x[7], 0x676f02d9, 14);
        MD5_STEP_G(b, c, d, a, x[12], 0x8d2a4c8a, 20);

        MD5_STEP_H(a, b, c, d, x[5], 0xfffa3942, 4);
        MD5_STEP_H(d, a, b, c, x[8], 0x8771f681, 11);
        MD5_STEP_H(c, d, a, b, x[11], 0x6d9d6122, 16);
        MD5_STEP_H(b, c, d, a, x[14], 0xfde5380c, 23);
        MD5_STEP_H(a, b, c, d, x[1], 0xa4beea44, 4);
        MD5_STEP_H(d, a, b, c, x[4], 0x4bdecfa9, 11);
        MD5_STEP_H(c, d, a, b, x[7], 0xf6bb4b60, 16);
        MD5_STEP_H(b, c, d, a, x[10], 0xbebfbc70, 23);
        MD5_STEP_H(a, b, c, d, x[13], 0x289b7ec6, 4);
        MD5_STEP_H(d, a, b, c, x[0], 0xeaa127fa, 11);
        MD5_STEP_H(c, d, a, b, x[3], 0xd4ef3085, 16);
        MD5_STEP_H(b, c, d, a, x[6], 0x04881d05, 23);
        MD5_STEP_H(a, b, c, d, x[9], 0xd9d4d039, 4);
        MD5_STEP_H(d, a, b, c, x[12], 0xe6db99e5, 11);
        MD5_STEP_H(c, d, a, b, x[15], 0x1fa27cf8, 16);
        MD5_STEP_H(b, c, d, a, x[2], 0xc4ac5665, 23);

        MD5_STEP_I(a, b, c, d, x[0], 0xf4292244, 6);
        MD5_STEP_I(d, a, b, c, x[7], 0x432aff97, 10);
        MD5_STEP_I(c, d, a, b, x[14], 0xab9423a7, 15);
        MD5_STEP_I(b, c, d, a, x[5], 0xfc93a039, 21);
        MD5_STEP_I(a, b, c, d, x[12], 0x655b59c3, 6);
        MD5_STEP_I(d, a, b, c, x[3], 0x8f0ccc92, 10);
        MD5_STEP_I(c, d, a, b, x[10], 0xffeff47d, 15);
        MD5_STEP_I(b, c, d, a, x[1], 0x85845dd1, 21);
        MD5_STEP_I(a, b, c, d, x[8], 0x6fa87e4f, 6);
        MD5_STEP_I(d, a, b, c, x[15], 0xfe2ce6e0, 10);
        MD5_STEP_I(c, d, a, b, x[6], 0xa3014314, 15);
        MD5_STEP_I(b, c, d, a, x[13], 0x4e0811a1, 21);
        MD5_STEP_I(a, b, c, d, x[4], 0xf7537e82, 6);
        MD5_STEP_I(d, a, b, c, x[11], 0xbd3af235, 10);
        MD5_STEP_I(c, d, a, b, x[2], 0x2ad7d2bb, 15);
        MD5_STEP_I(b, c, d, a, x[9], 0xeb86d391, 21);

        a += aa; b += bb; c += cc; d += dd;
    }
    state[0] = a; state[1] = b; state[2] = c; state[3] = d;
}

#undef MD5_STEP_F
#undef MD5_STEP_G
#undef MD5_STEP_H
#undef MD5_STEP_I

}  // namespace

void MD5Transform(uint32_t state[4], const unsigned char block[64])
{
    TransformBlocks(state, block, 1);
}

void MD5Init(MD5Context* context)
{
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
    context->count[0] = 0;
    context->count[1] = 0;
}

void MD5Update(MD5Context* context, const unsigned char* input, uint32_t length)
{
    uint32_t index = (context->count[0] >> 3) & 0x3f;

    context->count[0] += length << 3;
    if (context->count[0] < (length << 3))
        context->count[1]++;
    context->count[1] += length >> 29;

    uint32_t partLength = 64 - index;
    uint32_t i = 0;
    if (length >= partLength) {
        std::memcpy(&context->buffer[index], input, partLength);
        TransformBlocks(context->state, context->buffer, 1);
        i = partLength;
        uint32_t wholeBlocks = (length - i) / 64;
        TransformBlocks(context->state, input + i, wholeBlocks);
        i += wholeBlocks * 64;
        index = 0;
    }
    if (length > i)
        std::memcpy(&context->buffer[index], input + i, length - i);
}

void MD5Final(MD5Context* context)
{
    static const unsigned char padding[64] = {0x80};

    unsigned char bits[8];
    StoreLittleEndian(bits, context->count[0]);
    StoreLittleEndian(bits + 4, context->count[1]);

    uint32_t index = (context->count[0] >> 3) & 0x3f;
    uint32_t padLength = index < 56 ? 56 - index : 120 - index;
    MD5Update(context, padding, padLength);
    MD5Update(context, bits, 8);

    for (int i = 0; i < 4; ++i)
        StoreLittleEndian(context->digest + 4 * i, context->state[i]);

    std::memset(context->state, 0, sizeof context->state);
    std::memset(context->count, 0, sizeof context->count);
    std::memset(context->buffer, 0, sizeof context->buffer);

    static const char hexDigits[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        context->hexDigest[2 * i] = hexDigits[context->digest[i] >> 4];
        context->hexDigest[2 * i + 1] = hexDigits[context->digest[i] & 0x0f];
    }
    context->hexDigest[32] = '\0';
}

namespace {
// Measured under Wine over 2 GiB: 16-64 KiB is fastest; from 256 KiB on the
// copies out of the stream's buffer stop fitting the cache and it gets slower.
constexpr size_t kStreamBufferBytes = 64 * 1024;

struct CloseFile {
    void operator()(FILE* file) const { std::fclose(file); }
};
}  // namespace

const char* MD5File(MD5Context* context, const char* path)
{
    MD5Init(context);
    // The digest takes the file 1024 bytes at a time, but the stream reads
    // the disk in larger blocks: one system call per kilobyte is what made
    // digesting slower than the disk. The buffer is declared first, so the
    // stream is closed before its buffer goes.
    std::unique_ptr<char[]> streamBuffer(new char[kStreamBufferBytes]);
    const std::unique_ptr<FILE, CloseFile> file(path ? std::fopen(path, "rb") : nullptr);
    if (!file) {
        std::printf("%s can't be opened\n", path ? path : "");
        return nullptr;
    }
    std::setvbuf(file.get(), streamBuffer.get(), _IOFBF, kStreamBufferBytes);
    unsigned char chunk[1024];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        MD5Update(context, chunk, (uint32_t)got);
    MD5Final(context);
    return context->hexDigest;
}

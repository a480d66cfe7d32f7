#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Md5.h"
#include "md5_vectors.h"

namespace {

std::vector<unsigned char> RandomBytes(size_t length, unsigned seed)
{
    std::vector<unsigned char> out(length);
    uint32_t state = seed;
    for (size_t i = 0; i < length; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        out[i] = (unsigned char)state;
    }
    return out;
}

std::string DigestInChunks(const std::vector<unsigned char>& data, size_t chunk)
{
    MD5Context context;
    MD5Init(&context);
    for (size_t at = 0; at < data.size(); at += chunk) {
        size_t n = std::min(chunk, data.size() - at);
        MD5Update(&context, data.data() + at, uint32_t(n));
    }
    MD5Final(&context);
    return context.hexDigest;
}

std::string DigestOf(const std::string& text)
{
    std::vector<unsigned char> bytes(text.begin(), text.end());
    return DigestInChunks(bytes, bytes.empty() ? 1 : bytes.size());
}

}  // namespace

TEST(Md5, Rfc1321TestSuite)
{
    EXPECT_EQ(DigestOf(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(DigestOf("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(DigestOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(DigestOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(DigestOf("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(DigestOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(DigestOf("1234567890123456789012345678901234567890"
                       "1234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, RandomDataInAnyChunkingMatchesHashlib)
{
    const size_t chunkSizes[] = {1, 3, 7, 63, 64, 65, 1000, 1024, 4099, size_t(1) << 30};
    for (const RandomDigestVector& vector : kRandomDigestVectors) {
        std::vector<unsigned char> data = RandomBytes(vector.length, vector.seed);
        for (size_t chunk : chunkSizes) {
            if (vector.length > 200000 && chunk < 63)
                continue;  // byte-wise feeding of megabytes only slows the sanitizers
            EXPECT_EQ(DigestInChunks(data, chunk), vector.digest)
                << "length " << vector.length << " in chunks of " << chunk;
        }
    }
}

TEST(Md5, FinalLeavesDigestAndClearsWorkingState)
{
    MD5Context context;
    std::memset(&context, 0xAB, sizeof context);
    MD5Init(&context);
    MD5Update(&context, reinterpret_cast<const unsigned char*>("abc"), 3);
    MD5Final(&context);
    const unsigned char expected[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                        0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    EXPECT_EQ(std::memcmp(context.digest, expected, 16), 0);
    EXPECT_EQ(context.hexDigest[32], '\0');
    for (uint32_t word : context.state)
        EXPECT_EQ(word, 0u);
    EXPECT_EQ(context.count[0], 0u);
    EXPECT_EQ(context.count[1], 0u);
    for (unsigned char byte : context.buffer)
        EXPECT_EQ(byte, 0u);
}

TEST(Md5, TransformIsTheRfcBlockFunction)
{
    // The padded single block of "abc", hashed by the block function alone.
    unsigned char block[64] = {'a', 'b', 'c', 0x80};
    block[56] = 24;
    uint32_t state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    MD5Transform(state, block);
    EXPECT_EQ(state[0], 0x98500190u);
    EXPECT_EQ(state[1], 0xb04fd23cu);
    EXPECT_EQ(state[2], 0x7d3f96d6u);
    EXPECT_EQ(state[3], 0x727fe128u);
}

class Md5FileTest : public ::testing::Test {
protected:
    std::string WriteFile(const std::string& name, const std::vector<unsigned char>& data)
    {
        std::string path = "md5file_" + name + ".bin";
        FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (!data.empty())
            std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
        written.push_back(path);
        return path;
    }
    void TearDown() override
    {
        for (const std::string& path : written)
            std::remove(path.c_str());
    }
    std::vector<std::string> written;
};

TEST_F(Md5FileTest, FileDigestEqualsDigestOfContent)
{
    for (const RandomDigestVector& vector : kRandomDigestVectors) {
        std::string path = WriteFile(std::to_string(vector.length), RandomBytes(vector.length, vector.seed));
        MD5Context context;
        const char* digest = MD5File(&context, path.c_str());
        ASSERT_NE(digest, nullptr);
        EXPECT_STREQ(digest, vector.digest) << "length " << vector.length;
    }
}

TEST_F(Md5FileTest, UnopenableFileSaysSoOnStandardOutput)
{
    MD5Context context;
    testing::internal::CaptureStdout();
    const char* digest = MD5File(&context, "no_such_dir_qal/missing.bin");
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(digest, nullptr);
    EXPECT_EQ(output, "no_such_dir_qal/missing.bin can't be opened\n");
}

// MD5 throughput of the updater's digest code beside OpenSSL's on the same
// buffers. Compare the bytes_per_second columns of equal sizes.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <vector>

#include "Md5.h"

namespace {

std::vector<unsigned char> Buffer(size_t size)
{
    std::vector<unsigned char> data(size);
    uint32_t state = 0x12345678;
    for (auto& byte : data) {
        state = state * 1664525u + 1013904223u;
        byte = (unsigned char)(state >> 24);
    }
    return data;
}

void Updater(benchmark::State& state)
{
    std::vector<unsigned char> data = Buffer(size_t(state.range(0)));
    MD5Context context;
    for (auto _ : state) {
        MD5Init(&context);
        MD5Update(&context, data.data(), uint32_t(data.size()));
        MD5Final(&context);
        benchmark::DoNotOptimize(context.digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void OpenSsl(benchmark::State& state)
{
    std::vector<unsigned char> data = Buffer(size_t(state.range(0)));
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    const EVP_MD* md5 = EVP_md5();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    for (auto _ : state) {
        EVP_DigestInit_ex(context, md5, nullptr);
        EVP_DigestUpdate(context, data.data(), data.size());
        EVP_DigestFinal_ex(context, digest, &length);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(context);
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

// The way the updater reads files: 1024-byte pieces into one running digest.
void UpdaterInFileChunks(benchmark::State& state)
{
    std::vector<unsigned char> data = Buffer(size_t(state.range(0)));
    MD5Context context;
    for (auto _ : state) {
        MD5Init(&context);
        for (size_t at = 0; at < data.size(); at += 1024)
            MD5Update(&context, data.data() + at, uint32_t(std::min<size_t>(1024, data.size() - at)));
        MD5Final(&context);
        benchmark::DoNotOptimize(context.digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void OpenSslInFileChunks(benchmark::State& state)
{
    std::vector<unsigned char> data = Buffer(size_t(state.range(0)));
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    for (auto _ : state) {
        EVP_DigestInit_ex(context, EVP_md5(), nullptr);
        for (size_t at = 0; at < data.size(); at += 1024)
            EVP_DigestUpdate(context, data.data() + at, std::min<size_t>(1024, data.size() - at));
        EVP_DigestFinal_ex(context, digest, &length);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(context);
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(Updater)->Arg(64)->Arg(1024)->Arg(16 << 10)->Arg(1 << 20)->Arg(16 << 20);
BENCHMARK(OpenSsl)->Arg(64)->Arg(1024)->Arg(16 << 10)->Arg(1 << 20)->Arg(16 << 20);
BENCHMARK(UpdaterInFileChunks)->Arg(1 << 20);
BENCHMARK(OpenSslInFileChunks)->Arg(1 << 20);

BENCHMARK_MAIN();

// Peak resident memory while the updater's whole-file digest reads a large
// file: md5_file_memory FILE [SIZE_MIB]. With SIZE_MIB the file is first made
// that large (sparse, so it costs no disk). Prints the digest, the peak RSS
// before and after, and the time taken.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "Md5.h"

namespace {

long PeakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;  // KiB on Linux
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [SIZE_MIB]\n", argv[0]);
        return 2;
    }
    if (argc > 2) {
        FILE* f = std::fopen(argv[1], "wb");
        if (!f || ftruncate(fileno(f), off_t(std::atoll(argv[2])) << 20) != 0) {
            std::perror(argv[1]);
            return 1;
        }
        std::fclose(f);
    }
    long before = PeakKiB();
    auto start = std::chrono::steady_clock::now();
    MD5Context context;
    const char* digest = MD5File(&context, argv[1]);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long after = PeakKiB();
    std::printf("digest %s\npeak RSS before %ld KiB, after %ld KiB\n%.2f s\n", digest ? digest : "(none)",
                before, after, seconds);
    return digest ? 0 : 1;
}

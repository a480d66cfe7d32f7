// The updater's planning comparison, natively: every entry of a manifest
// digested from GAME_DIR with the updater's own file digest and compared as
// the updater compares it. Prints the time and how many entries differ.
//   plan_digests MANIFEST GAME_DIR
#include <chrono>
#include <cstdio>
#include <string>

#include <tinyxml2.h>

#include "DigestText.h"
#include "ManifestReader.h"
#include "Md5.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: plan_digests MANIFEST GAME_DIR\n");
        return 2;
    }
    tinyxml2::XMLDocument manifest;
    if (!LoadManifest(manifest, argv[1])) {
        std::fprintf(stderr, "plan_digests: %s does not load\n", argv[1]);
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    size_t entries = 0, differing = 0;
    for (const ManifestEntry& entry : ManifestEntries(manifest)) {
        std::string path = std::string(argv[2]) + "/" + entry.path;
        for (char& c : path)
            c = c == '\\' ? '/' : c;
        MD5Context context;
        ++entries;
        if (!DigestTextMatches(MD5File(&context, path.c_str()), entry.expectedDigest))
            ++differing;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%zu entries, %zu differing, %.3f s\n", entries, differing, seconds);
    return differing == 0 ? 0 : 1;
}

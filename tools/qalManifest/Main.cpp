// qalManifest: publishes the update manifest qalUpdate reads, and checks a
// published tree against one.
#include <string>
#include <vector>

#include "ManifestTool.h"
#include "Platform.h"
#include "TextCoding.h"

#ifdef _WIN32
// Wide arguments, so paths outside the ANSI code page arrive whole.
int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::string arg;
        if (!Utf16UnitsToUtf8(argv[i], &arg)) {
            WriteText(OutputStream::Error, "qalManifest: argument " + std::to_string(i) + " is not valid Unicode\n");
            return 2;
        }
        args.push_back(arg);
    }
    return RunManifestTool(args);
}
#else
int main(int argc, char** argv)
{
    return RunManifestTool(std::vector<std::string>(argv + 1, argv + argc));
}
#endif

// The platform's own cost of a file: URLDownloadToFileW, nothing else, over
// a list of addresses, one after another, no callback. The yardstick the
// updater's cost a file is held against (bench/per_file.py).
//   bare_fetch.exe LIST_FILE DIRECTORY
// LIST_FILE holds one address a line (UTF-8, ASCII in practice); file N goes
// to DIRECTORY\N.bin. Prints the milliseconds the whole loop took.
#include <windows.h>
#include <urlmon.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    std::ifstream list(argv[1]);
    std::vector<std::wstring> urls;
    for (std::string line; std::getline(list, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            urls.emplace_back(line.begin(), line.end());
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    int failed = 0;
    for (size_t i = 0; i < urls.size(); ++i) {
        std::wstring target = std::wstring(argv[2]) + L"\\" + std::to_wstring(i) + L".bin";
        if (URLDownloadToFileW(nullptr, urls[i].c_str(), target.c_str(), 0, nullptr) != S_OK)
            ++failed;
    }
    QueryPerformanceCounter(&end);
    std::printf("%.1f\n", double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart));
    return failed ? 1 : 0;
}

// A tiny program for the driver's own test: records its raw command line in
// the file named by its first argument, asks a question and exits with the
// button that answered it.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv && argc > 1) {
        if (FILE* f = _wfopen(argv[1], L"wb")) {
            const wchar_t* line = GetCommandLineW();
            std::fwrite(line, sizeof(wchar_t), wcslen(line), f);
            std::fclose(f);
        }
    }
    return MessageBoxW(nullptr, L"此操作将退出游戏,是否继续!", L"警告", MB_OKCANCEL);
}

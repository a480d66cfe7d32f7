// Stands in for the game's micro-client in the updater's end-to-end tests.
// Records how it was started into "launch-record.txt" beside itself: its raw
// command line, its show command and its working directory (UTF-8, one per
// line); and adds its command line as a line to "launch-log.txt", so a test
// can tell how often it was started. When "wait-ms.txt" lies beside it, it waits that long, then writes
// "launch-ended.txt", so a test can tell whether the updater waited for it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring Beside(const wchar_t* name)
{
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    size_t slash = path.find_last_of(L"\\/");
    return path.substr(0, slash + 1) + name;
}

void WriteUtf8(const std::wstring& path, const std::wstring& text, const wchar_t* mode = L"wb")
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), bytes.data(), size, nullptr, nullptr);
    FILE* f = _wfopen(path.c_str(), mode);
    if (!f)
        return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    std::wstring show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? std::to_wstring(startup.wShowWindow) : L"none";
    WriteUtf8(Beside(L"launch-record.txt"),
              std::wstring(GetCommandLineW()) + L"\n" + show + L"\n" + cwd + L"\n");
    WriteUtf8(Beside(L"launch-log.txt"), std::wstring(GetCommandLineW()) + L"\n", L"ab");

    FILE* wait = _wfopen(Beside(L"wait-ms.txt").c_str(), L"rb");
    if (wait) {
        int ms = 0;
        if (std::fscanf(wait, "%d", &ms) == 1 && ms > 0)
            Sleep(DWORD(ms));
        std::fclose(wait);
        WriteUtf8(Beside(L"launch-ended.txt"), L"ended\n");
    }
    return 7;
}

// Stand-in for the programs the launcher starts or ends, chosen by the name it
// is copied under. As "qalUpdate.exe" it records its raw command line (UTF-16)
// to "updater-command-line.txt" beside itself, as "rundll32.exe" to
// "rundll32-command-line.txt"; under any other name (the micro-client) it
// stays running for 90 s and then exits with 7.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 3;
    std::wstring self(path);
    const size_t slash = self.find_last_of(L"\\/");
    const std::wstring dir = self.substr(0, slash + 1);
    const std::wstring name = self.substr(slash + 1);
    const wchar_t* recordName = nullptr;
    if (lstrcmpiW(name.c_str(), L"qalUpdate.exe") == 0)
        recordName = L"updater-command-line.txt";
    else if (lstrcmpiW(name.c_str(), L"rundll32.exe") == 0)
        recordName = L"rundll32-command-line.txt";
    if (recordName) {
        const std::wstring record = dir + recordName;
        HANDLE file = CreateFileW(record.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return 4;
        const wchar_t* line = GetCommandLineW();
        DWORD written = 0;
        WriteFile(file, line, static_cast<DWORD>(lstrlenW(line) * sizeof(wchar_t)), &written, nullptr);
        CloseHandle(file);
        return 0;
    }
    Sleep(90000);  // outlives any test step; the tests end it
    return 7;
}

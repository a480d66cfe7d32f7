#include "WindowsTestSupport.h"

#include "LauncherState.h"

#include <shellapi.h>

#include <cstdio>

std::wstring MakeTestDirectory(const wchar_t* stem)
{
    static int counter;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    for (;;) {
        std::wstring dir = std::wstring(temp) + stem + L" with spaces " + std::to_wstring(GetCurrentProcessId()) +
                           L"-" + std::to_wstring(++counter);
        if (CreateDirectoryW(dir.c_str(), nullptr))
            return dir + L"\\";
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::wstring();
    }
}

std::wstring TestExecutableDir()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring self(path);
    return self.substr(0, self.find_last_of(L"\\/") + 1);
}

void UseLauncherDirectory(const std::wstring& dir)
{
    lstrcpynW(launcherDir, dir.c_str(), kPathChars);
    lstrcpynW(launcherPath, (dir + L"qalLogin.exe").c_str(), kPathChars);
    lstrcpynW(configPath, (dir + L"wdConfig.ini").c_str(), kPathChars);
}

void WriteConfig(const std::wstring& dir, const wchar_t* key, const std::wstring& value)
{
    WritePrivateProfileStringW(L"config", key, value.c_str(), (dir + L"wdConfig.ini").c_str());
}

bool WriteFileText(const std::wstring& path, const std::string& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return written == text.size();
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool InstallUpdaterStub(const std::wstring& dir)
{
    return CopyFileW((TestExecutableDir() + L"launcher_stub.exe").c_str(), (dir + L"qalUpdate.exe").c_str(), FALSE) != 0;
}

std::wstring WaitForUpdaterCommandLine(const std::wstring& dir, DWORD timeoutMs)
{
    const std::wstring record = dir + L"updater-command-line.txt";
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        HANDLE file = CreateFileW(record.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            std::wstring text(GetFileSize(file, nullptr) / sizeof(wchar_t), L'\0');
            DWORD read = 0;
            ReadFile(file, &text[0], static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr);
            CloseHandle(file);
            return text;
        }
        Sleep(50);
    }
    return std::wstring();
}

bool UpdaterStartedLikeTheLauncherIsSeen(DWORD timeoutMs)
{
    const std::wstring control = MakeTestDirectory(L"control");
    if (control.empty() || !InstallUpdaterStub(control))
        return false;
    const HINSTANCE started = ShellExecuteW(nullptr, L"open", (control + L"qalUpdate.exe").c_str(),
                                            L"http://h/entergame.htm?control", nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(started) <= 32)
        return false;
    return !WaitForUpdaterCommandLine(control, timeoutMs).empty();
}

namespace {

std::wstring Variable(const wchar_t* name)
{
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    std::wstring value(size, L'\0');
    if (size == 0)
        return value;
    value.resize(GetEnvironmentVariableW(name, &value[0], size));
    return value;
}

}  // namespace

SearchedDirectory::SearchedDirectory(const std::wstring& dir)
    : previousPath(Variable(L"PATH"))
{
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    previousDir = current;
    SetCurrentDirectoryW(dir.c_str());
    SetEnvironmentVariableW(L"PATH", (dir + L";" + previousPath).c_str());
}

SearchedDirectory::~SearchedDirectory()
{
    SetCurrentDirectoryW(previousDir.c_str());
    SetEnvironmentVariableW(L"PATH", previousPath.c_str());
}

int PumpMessages()
{
    int quitCode = -1;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quitCode = static_cast<int>(message.wParam);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return quitCode;
}

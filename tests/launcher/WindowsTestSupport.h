// Helpers shared by the launcher's in-process Windows tests.
#pragma once

#include <windows.h>

#include <string>

// A fresh directory below the temporary directory, its name holding spaces;
// ends in a backslash.
std::wstring MakeTestDirectory(const wchar_t* stem);

// The directory of the running test executable, ending in a backslash.
std::wstring TestExecutableDir();

// Points the launcher-wide paths at `dir` as if qalLogin.exe lived there.
void UseLauncherDirectory(const std::wstring& dir);

void WriteConfig(const std::wstring& dir, const wchar_t* key, const std::wstring& value);
bool WriteFileText(const std::wstring& path, const std::string& text);
bool Exists(const std::wstring& path);

// The stub that records its command line, copied as dir\qalUpdate.exe.
bool InstallUpdaterStub(const std::wstring& dir);
// Waits for and reads the stub's record; empty after the timeout.
std::wstring WaitForUpdaterCommandLine(const std::wstring& dir, DWORD timeoutMs);

// Starts a stub updater of its own, by its full path, as the launcher starts
// the updater, and waits for its record: once it is there, a stub that a wrong
// search started earlier in the same way has had the time to leave one too.
bool UpdaterStartedLikeTheLauncherIsSeen(DWORD timeoutMs);

// While it lives, `dir` is the working directory and the first directory on
// PATH: where a search for a bare file name looks.
class SearchedDirectory {
public:
    explicit SearchedDirectory(const std::wstring& dir);
    ~SearchedDirectory();
    SearchedDirectory(const SearchedDirectory&) = delete;
    SearchedDirectory& operator=(const SearchedDirectory&) = delete;

private:
    std::wstring previousDir;
    std::wstring previousPath;
};

// Dispatches this thread's messages; returns the quit code when a WM_QUIT
// came by, or -1.
int PumpMessages();

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

// Dispatches this thread's messages; returns the quit code when a WM_QUIT
// came by, or -1.
int PumpMessages();

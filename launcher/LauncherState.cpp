#include "LauncherState.h"

#include "BoundedText.h"

wchar_t launcherPath[kPathChars];
wchar_t launcherDir[kPathChars];
wchar_t configPath[kPathChars];
HINSTANCE appInstance;
ULONG_PTR gdiplusToken;
HWND mainWindow;
HWND panelWindow;
HWND browserHost;
IWebBrowser2* webBrowser;
wchar_t webEnterText[kPathChars];

void InitLauncherPaths()
{
    launcherPath[0] = launcherDir[0] = configPath[0] = L'\0';
    const DWORD length = GetModuleFileNameW(nullptr, launcherPath, kPathChars);
    // A full buffer means the path was cut (and, before Vista, unterminated).
    if (length == 0 || length >= static_cast<DWORD>(kPathChars)) {
        launcherPath[0] = L'\0';
        return;
    }
    DirectoryOfPath(launcherDir, kPathChars, launcherPath);
    if (launcherDir[0] != L'\0')
        JoinText(configPath, kPathChars, launcherDir, L"wdConfig.ini");
}

void ReadConfigValue(const wchar_t* key, wchar_t* value, DWORD capacity)
{
    if (value == nullptr || capacity == 0)
        return;
    value[0] = L'\0';
    // An empty file name would make the INI reader fall back to win.ini.
    if (configPath[0] == L'\0')
        return;
    GetPrivateProfileStringW(L"config", key, L"", value, capacity, configPath);
}

std::wstring ReadWholeConfigValue(const wchar_t* key)
{
    if (configPath[0] == L'\0')
        return std::wstring();
    std::wstring value(kAddressChars, L'\0');
    for (;;) {
        const DWORD capacity = static_cast<DWORD>(value.size());
        const DWORD length = GetPrivateProfileStringW(L"config", key, L"", &value[0], capacity, configPath);
        // The reader answers capacity - 1 when it had to cut the value.
        if (length + 1 < capacity) {
            value.resize(length);
            return value;
        }
        // Beyond any sensible address: refused as a whole rather than cut.
        if (capacity >= 0x100000)
            return std::wstring();
        value.assign(static_cast<std::size_t>(capacity) * 2, L'\0');
    }
}

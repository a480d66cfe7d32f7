// Launcher-wide state: written once during start-up on the user-interface
// thread (except where noted) and read by every window of the launcher.
#pragma once

#include <windows.h>
#include <exdisp.h>

#include <string>

#include "BoundedText.h"

constexpr int kPathChars = int(kPathCapacity);  // paths, terminator included
constexpr int kAddressChars = 1024;  // addresses and configuration values

extern wchar_t launcherPath[kPathChars];  // the executable; empty if it did not fit
extern wchar_t launcherDir[kPathChars];   // drive and directory, ending in a backslash
extern wchar_t configPath[kPathChars];    // launcherDir + "wdConfig.ini"; empty if it did not fit
extern HINSTANCE appInstance;
extern ULONG_PTR gdiplusToken;
extern HWND mainWindow;   // the skin, class "transparent"
extern HWND panelWindow;  // the login panel, class "childTransparent"
extern HWND browserHost;  // the "AtlAxWin100" host; null once the hand-off destroyed it
extern IWebBrowser2* webBrowser;         // borrowed: valid while the control lives
extern wchar_t webEnterText[kPathChars]; // the configured extra entry marker

// Fills launcherPath, launcherDir and configPath from the module's own path.
// A path that does not fit its buffer leaves it (and what derives from it)
// empty rather than naming something else.
void InitLauncherPaths();

// Reads `key` of section "config" of wdConfig.ini into `value` (capacity in
// characters, terminator included); longer values are cut to fit. A missing
// file, section, key, or an unusable configPath read as empty.
void ReadConfigValue(const wchar_t* key, wchar_t* value, DWORD capacity);

// Reads `key` of section "config" whole, however long it is. Used for the
// addresses: a cut address would name another page or server.
std::wstring ReadWholeConfigValue(const wchar_t* key);

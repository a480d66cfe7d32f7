#include "GameEntry.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "BoundedText.h"
#include "GameEntryRules.h"
#include "LauncherState.h"
#include "MovedAsideUpdater.h"

void LaunchUpdater(const wchar_t* entryAddress)
{
    if (browserHost != nullptr && DestroyWindow(browserHost))
        browserHost = nullptr;
    webBrowser = nullptr;  // went with its host

    // Without the launcher's own directory there is no updater to name: a
    // bare file name would be looked for in some other directory.
    wchar_t updaterPath[kPathChars];
    const bool haveUpdaterPath =
        launcherDir[0] != L'\0' && JoinText(updaterPath, kPathChars, launcherDir, kUpdaterFileName);

    const std::wstring urlBase = ReadWholeConfigValue(L"urlBase");
    const std::wstring parameters = BuildUpdaterParameters(entryAddress, urlBase.c_str(), launcherPath);
    if (haveUpdaterPath) {
        RestoreMovedAsideUpdater(launcherDir, updaterPath);
        ShellExecuteW(nullptr, L"open", updaterPath, parameters.c_str(), nullptr, SW_SHOWNORMAL);
    }
    PostQuitMessage(100);
}

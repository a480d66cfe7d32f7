// Hands over to the game's micro-client once the game directory is current.
#include "SimpleWindow.h"

#include <shellapi.h>

#include <string>

#include "AnsiText.h"
#include "InstallLayout.h"

void SimpleWindow::LaunchMicroClient()
{
    // The window is the main thread's: asked to hide without waiting for it.
    // Under Wine a synchronous hide of a window of another thread waits some
    // two seconds for the X server on every run that showed the window.
    ShowWindowAsync(hwnd, SW_HIDE);

    wchar_t clientPath[kPathCapacity];
    // A path that does not fit would name another program: start nothing.
    if (!JoinText(clientPath, kPathCapacity, gameDir, L"/", kMicroClientFileName))
        ExitProcess(0);

    // The argument text goes over whole, however long it is.
    std::wstring parameters = AnsiToWideWhole(commandLine);

    SHELLEXECUTEINFOW request = {};
    request.cbSize = sizeof request;
    request.fMask = SEE_MASK_NOCLOSEPROCESS;
    request.hwnd = nullptr;
    request.lpVerb = L"open";
    request.lpFile = clientPath;
    request.lpParameters = parameters.c_str();
    request.lpDirectory = nullptr;
    request.nShow = SW_HIDE;
    ShellExecuteExW(&request);

    // The handle is not closed: the updater's own process ends right here.
    WaitForSingleObject(request.hProcess, INFINITE);
    ExitProcess(0);
}

// qalUpdate: brings the game directory up to date, then starts the game's
// micro-client with the argument text the launcher gave.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdlib>

#include "SimpleWindow.h"
#include "UpdaterArguments.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int)
{
    if (!ArgumentsCarryWebAddress(arguments)) {
        MessageBoxW(nullptr, L"参数异常", L"", MB_OK);
        return 0;
    }
    appInstance = instance;

    Gdiplus::GdiplusStartupInput gdiplusInput;
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);

    SimpleWindow updater;
    updater.commandLine = arguments;
    updater.PrepareUpdate();

    MSG message = {};
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
        if (got == -1) {
            message.wParam = 100;
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    Gdiplus::GdiplusShutdown(gdiplusToken);

    // The worker may still be inside a download that uses `updater` (the
    // window was closed, or a failure was answered): the object must outlive
    // it, so the process ends here, before `updater` would be destroyed.
    std::exit(int(message.wParam));
}

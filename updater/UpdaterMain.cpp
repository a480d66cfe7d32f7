// qalUpdate: brings the game directory up to date, then starts the game's
// micro-client with the argument text the launcher gave.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "FrontDoorCheckMode.h"
#include "ScopedHandles.h"
#include "SimpleWindow.h"
#include "UpdaterArguments.h"

namespace {

// Answers the quit message's code, or 100 when the loop itself fails.
int RunMessageLoop()
{
    MSG message = {};
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
        if (got == -1)
            return 100;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return int(message.wParam);
}

// Whatever runs out of memory (a manifest's document, a queue), on whichever
// thread: the player is told, as of any failed update, and the updater ends
// with 100 instead of vanishing.
void OnOutOfMemory()
{
    MessageBoxW(nullptr, L"更新失败!", L"警告", MB_OK);
    ExitProcess(100);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int)
{
    // Started by another updater as its possible successor: answer, and
    // touch nothing of the installation.
    int checkAnswer = 0;
    if (AnswerFrontDoorCheck(&checkAnswer))
        return checkAnswer;
    if (!ArgumentsCarryWebAddress(arguments)) {
        MessageBoxW(nullptr, L"参数异常", L"", MB_OK);
        return 0;
    }
    appInstance = instance;
    std::set_new_handler(OnOutOfMemory);

    // The worker may still be inside a download that uses `updater` (the
    // window was closed, or a failure was answered): the object must outlive
    // it, so the process ends at the bottom, before `updater` would be
    // destroyed. GDI+ ends with the block, before that.
    SimpleWindow updater;
    updater.commandLine = arguments;
    int exitCode;
    {
        ULONG_PTR gdiplusToken = 0;
        const GdiPlusSession gdiplus(gdiplusToken);
        updater.PrepareUpdate();
        exitCode = RunMessageLoop();
    }
    std::exit(exitCode);
}

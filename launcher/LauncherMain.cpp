// qalLogin's entry point: paths, GDI+, the skin and the login panel, and the
// one message loop of the process.
#include <windows.h>
#include <ole2.h>

#include <cstdint>
#include <string>

#include "FrontDoorCheck.h"
#include "FrontDoorOffers.h"
#include "LauncherState.h"
#include "LoginPanel.h"
#include "ScopedHandles.h"
#include "SkinWindow.h"

namespace {

void RunMessageLoop()
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (browserHost != nullptr && IsDialogMessageW(browserHost, &message)) {
            ForwardToBrowserAccelerators(&message);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // Started by the updater to prove that this build starts before it
    // takes the place of the launcher: answer, and show nothing.
    uint32_t challenge = 0;
    std::wstring unused;
    if (ParseFrontDoorCheck(ArgumentsOfCommandLine(GetCommandLineW()), &challenge, &unused))
        return int(FrontDoorCheckAnswer(kLauncherProgramName, FrontDoorArch(sizeof(void*) == 8), challenge));

    // The browser control needs OLE on this thread before its host is created.
    // OLE is never stopped: the windows holding the control are not destroyed
    // when the loop ends but go away with the process, and stopping OLE under
    // a live control would unload its code first. So no OleSession here.
    OleInitialize(nullptr);

    InitLauncherPaths();
    appInstance = instance;

    // Shut down on every way out, after the loop.
    const GdiPlusSession gdiplus(gdiplusToken);

    if (!RegisterSkinWindowClass())
        return 0;

    wchar_t title[kAddressChars];
    ReadConfigValue(L"name", title, kAddressChars);
    mainWindow = CreateMainWindow(title);

    if (!RegisterPanelWindowClass())
        return 0;
    panelWindow = CreatePanelWindow(mainWindow);
    if (panelWindow == nullptr)
        return 0;

    SetWindowLongW(panelWindow, GWL_EXSTYLE, GetWindowLongW(panelWindow, GWL_EXSTYLE) | WS_EX_LAYERED);
    SetLayeredWindowAttributes(panelWindow, RGB(255, 255, 0), 0, LWA_COLORKEY);
    RedrawWindow(panelWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);

    ShowWindow(mainWindow, SW_SHOWNORMAL);
    UpdateWindow(mainWindow);

    RunMessageLoop();
    return 0;
}

// A plain window of one known colour covering the whole screen, so that a
// screenshot shows what lies beneath the launcher's transparent pixels.
#include <windows.h>

namespace {

constexpr COLORREF kBackdropColour = RGB(0, 128, 255);

LRESULT CALLBACK BackdropProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = BackdropProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = CreateSolidBrush(kBackdropColour);
    windowClass.lpszClassName = L"qalBackdrop";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"qalBackdrop", L"backdrop", WS_POPUP | WS_VISIBLE, 0, 0,
                                  GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                                  instance, nullptr);
    UpdateWindow(window);
    SetTimer(window, 1, 60000, nullptr);  // never outlives a test by much
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER)
            break;
        DispatchMessageW(&message);
    }
    return 0;
}

#include "SkinWindow.h"

#include "FramelessStyle.h"
#include "GdiPlusBitmap.h"
#include "LauncherState.h"
#include "ScopedHandles.h"
#include "SkinLayout.h"
#include "resource.h"

const wchar_t kSkinWindowClass[] = L"transparent";

namespace {

// The window is placed as if it were 1321 x 839: 50 pixels left of and above
// the true centre for the 1221 x 739 artwork.
constexpr int kPlacementWidth = 1321;
constexpr int kPlacementHeight = 839;

using UpdateLayeredWindowFunction = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF,
                                                   BLENDFUNCTION*, DWORD);

}  // namespace

bool RegisterSkinWindowClass()
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = appInstance;
    windowClass.hIcon = LoadIconW(appInstance, MAKEINTRESOURCEW(IDI_LAUNCHER));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kSkinWindowClass;
    return RegisterClassExW(&windowClass) != 0;
}

HWND CreateMainWindow(const wchar_t* title)
{
    HWND window = CreateWindowExW(WS_EX_LAYERED, kSkinWindowClass, title, WS_POPUP | WS_BORDER | WS_SYSMENU,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    return window != nullptr && IsWindow(window) ? window : nullptr;
}

void SyncPanelToMain()
{
    if (mainWindow == nullptr || panelWindow == nullptr)
        return;
    RECT rect;
    if (!GetWindowRect(mainWindow, &rect))
        return;
    // Right and bottom stay 0 while the skin still sits at the origin without size.
    if (rect.right == 0 || rect.bottom == 0)
        return;
    MoveWindow(panelWindow, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

void PaintSkin(HWND window)
{
    CGdiPlusBitmapResource background;
    CGdiPlusBitmapResource logo;
    background.Load(IDB_SKIN);
    logo.Load(IDB_LOGO);

    RECT rect = {};
    GetWindowRect(window, &rect);
    SIZE size = {rect.right - rect.left, rect.bottom - rect.top};
    if (rect.left == rect.right) {
        // Before the first paint the window has no size; the artwork gives it.
        Gdiplus::Bitmap* image = background.GetBitmap();
        if (image == nullptr)
            return;  // nothing to size the window by: it stays unseen
        size.cx = static_cast<LONG>(image->GetWidth());
        size.cy = static_cast<LONG>(image->GetHeight());
    }

    // Declared in the order they are made, so they are given back in the
    // order the platform needs: the drawing surface before the section is
    // selected out, the section deselected before it is deleted, the memory
    // context deleted before the window's context is released.
    ScopedWindowDc windowDc(window);
    ScopedMemoryDc memoryDc(CreateCompatibleDC(windowDc.Get()));
    GetWindowRect(window, &rect);
    POINT destination = {rect.left, rect.top};

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = size.cx;
    info.bmiHeader.biHeight = size.cy;  // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = 4 * size.cx * size.cy;
    void* bits = nullptr;
    ScopedGdiObject<HBITMAP> surface(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    ScopedSelection selectedSurface(memoryDc.Get(), surface.Get());

    {
        Gdiplus::Graphics graphics(memoryDc.Get());
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeNone);
        if (background.GetBitmap() != nullptr)
            graphics.DrawImage(background.GetBitmap(), 0, 0);
        if (logo.GetBitmap() != nullptr)
            graphics.DrawImage(logo.GetBitmap(), kLogoBox.x, kLogoBox.y);
    }

    ScopedLibrary user32(LoadLibraryW(L"User32.DLL"));
    auto updateLayeredWindow = user32
        ? reinterpret_cast<UpdateLayeredWindowFunction>(
              reinterpret_cast<void*>(GetProcAddress(user32.Get(), "UpdateLayeredWindow")))
        : nullptr;
    if (updateLayeredWindow != nullptr && surface) {
        POINT source = {0, 0};
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        updateLayeredWindow(window, windowDc.Get(), &destination, &size, memoryDc.Get(), &source, 0, &blend,
                            ULW_ALPHA);
    }
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        MakeFrameless(window);
        // The first paint runs from the message loop, once the panel exists.
        PostMessageW(window, WM_PAINT, 0, 0);
        const int x = (GetSystemMetrics(SM_CXSCREEN) - kPlacementWidth) / 2;
        const int y = (GetSystemMetrics(SM_CYSCREEN) - kPlacementHeight) / 2;
        RECT rect = {};
        GetWindowRect(window, &rect);
        SetWindowPos(window, HWND_TOP, x, y, rect.right, rect.bottom, SWP_SHOWWINDOW);
        break;
    }
    case WM_DESTROY:
        PostQuitMessage(100);
        break;
    case WM_ACTIVATE:
    case WM_WINDOWPOSCHANGING:
    case WM_EXITSIZEMOVE:
        SyncPanelToMain();
        break;
    case WM_PAINT:
        PaintSkin(window);
        SyncPanelToMain();
        break;
    case WM_NCHITTEST:
        // Every visible pixel drags the launcher like a caption bar.
        return HTCAPTION;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The progress window: a borderless picture centred on the screen with the
// progress bar, the file counter and the manifest's version text.
#include "SimpleWindow.h"

#include <commctrl.h>

#include <cwchar>

#include "FramelessStyle.h"
#include "ScopedHandles.h"
#include "resource.h"

int imageWidth = 0;
int imageHeight = 0;

namespace {

// The background image's size; used when the image cannot be loaded, so the
// window keeps its usual layout and the bar and texts still show.
constexpr int kFallbackWidth = 810;
constexpr int kFallbackHeight = 340;

}  // namespace

LRESULT SimpleWindow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        MakeFrameless(hwnd);

        background = std::make_unique<CGdiPlusBitmapResource>();
        background->Load(IDB_BACKGROUND);
        Gdiplus::Bitmap* bitmap = background->GetBitmap();
        if (bitmap && bitmap->GetWidth() > 0 && bitmap->GetHeight() > 0) {
            imageWidth = int(bitmap->GetWidth());
            imageHeight = int(bitmap->GetHeight());
        } else {
            imageWidth = kFallbackWidth;
            imageHeight = kFallbackHeight;
        }

        int x = (GetSystemMetrics(SM_CXSCREEN) - imageWidth) / 2;
        int y = (GetSystemMetrics(SM_CYSCREEN) - imageHeight) / 2;
        SetWindowPos(hwnd, HWND_TOP, x, y, imageWidth, imageHeight, SWP_SHOWWINDOW);

        InitCommonControls();
        const CREATESTRUCTW* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        progressBar = CreateWindowExW(0, L"msctls_progress32", nullptr, WS_CHILD | WS_VISIBLE, 5, 280,
                                      imageWidth - 10, 16, hwnd, nullptr,
                                      creation ? creation->hInstance : appInstance, nullptr);
        return 0;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        Paint();
        return 0;
    }
    case WM_CLOSE:
        picture.Reset();
        background.reset();
        if (DestroyWindow(hwnd))
            hwnd = nullptr;
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_COMMAND:
        if (wParam == kCommandFailUpdate)
            PostQuitMessage(100);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

void SimpleWindow::PreparePicture(HDC windowDc)
{
    Gdiplus::Bitmap* bitmap = background ? background->GetBitmap() : nullptr;
    if (!bitmap)
        return;
    ScopedGdiObject<HBITMAP> drawn(CreateCompatibleBitmap(windowDc, imageWidth, imageHeight));
    ScopedMemoryDc memoryDc(CreateCompatibleDC(windowDc));
    if (!drawn || !memoryDc)
        return;
    {
        ScopedSelection selection(memoryDc.Get(), drawn.Get());
        Gdiplus::Graphics graphics(memoryDc.Get());
        if (graphics.DrawImage(bitmap, 0, 0) != Gdiplus::Ok)
            return;
    }
    picture = std::move(drawn);
}

void SimpleWindow::Paint()
{
    // The device context is declared first so that it is handed back last:
    // GDI+ may write to it until its graphics object is gone.
    ScopedWindowDc dc(hwnd);

    // The background is drawn in full on every paint, from a copy made the
    // way it would be drawn here: drawing the decoded image itself each time
    // cost more than all the rest of a repaint after every file.
    if (!picture)
        PreparePicture(dc.Get());
    bool copied = false;
    if (picture) {
        ScopedMemoryDc memoryDc(CreateCompatibleDC(dc.Get()));
        ScopedSelection selection(memoryDc.Get(), picture.Get());
        copied = memoryDc && BitBlt(dc.Get(), 0, 0, imageWidth, imageHeight, memoryDc.Get(), 0, 0, SRCCOPY);
    }

    // Everything else is made afresh for each paint.
    Gdiplus::Graphics graphics(dc.Get());
    Gdiplus::Bitmap* bitmap = background ? background->GetBitmap() : nullptr;
    if (!copied && bitmap)
        graphics.DrawImage(bitmap, 0, 0);

    wchar_t progressText[260];
    int done = totalFiles - pendingCount.load(std::memory_order_acquire);
    _snwprintf(progressText, 260, L"正在为您下载微端,此过程30秒左右->%d/%d", done, totalFiles);
    progressText[259] = L'\0';

    const Gdiplus::FontFamily family(L"宋体");
    const Gdiplus::Font font(&family, 12.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
    Gdiplus::StringFormat format(0, LANG_NEUTRAL);
    format.SetAlignment(Gdiplus::StringAlignmentCenter);
    format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
    const Gdiplus::SolidBrush brush(Gdiplus::Color(0xFFFFFFFF));

    graphics.DrawString(progressText, -1, &font, Gdiplus::RectF(20.0f, 300.0f, 250.0f, 30.0f), &format, &brush);
    graphics.DrawString(versionText, -1, &font, Gdiplus::RectF(710.0f, 300.0f, 100.0f, 25.0f), &format, &brush);
}

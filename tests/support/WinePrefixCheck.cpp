// Runs first in every Windows build's tests: brings the Wine prefix and the
// virtual display up (the first program of a new prefix pays for booting it
// and for scanning the fonts) and checks that the Chinese font family the
// programs draw with resolves, since without it GDI+ silently draws no text.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdio>

int wmain()
{
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
        std::printf("GDI+ does not start\n");
        return 1;
    }
    int failures = 0;
    {
        Gdiplus::FontFamily family(L"宋体");
        if (family.GetLastStatus() != Gdiplus::Ok) {
            std::printf("font family \"宋体\" not found (status %d)\n", int(family.GetLastStatus()));
            ++failures;
        }
        Gdiplus::Bitmap canvas(64, 32, PixelFormat32bppARGB);
        Gdiplus::Graphics graphics(&canvas);
        Gdiplus::Font font(&family, 12.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
        Gdiplus::SolidBrush white(Gdiplus::Color(0xFFFFFFFF));
        graphics.Clear(Gdiplus::Color(0xFF000000));
        graphics.DrawString(L"微端", -1, &font, Gdiplus::PointF(0.0f, 0.0f), &white);
        int lit = 0;
        for (UINT y = 0; y < 32; ++y)
            for (UINT x = 0; x < 64; ++x) {
                Gdiplus::Color c;
                canvas.GetPixel(x, y, &c);
                lit += c.GetR() > 128;
            }
        if (lit == 0) {
            std::printf("Chinese text draws nothing\n");
            ++failures;
        }
    }
    Gdiplus::GdiplusShutdown(token);

    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    if (width != 1920 || height != 1080)
        std::printf("note: screen is %d x %d, not the 1920 x 1080 the geometry tests expect\n", width, height);
    if (failures == 0)
        std::printf("prefix ready\n");
    return failures ? 1 : 0;
}

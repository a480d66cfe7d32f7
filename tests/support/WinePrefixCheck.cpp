// Runs first in every Windows build's tests: brings the Wine prefix and the
// virtual display up (the first program of a new prefix pays for booting it
// and for scanning the fonts) and checks that the Chinese font family the
// programs draw with resolves, since without it GDI+ silently draws no text.
// It also checks that the Wine the tests run is what a player's Windows is
// to these programs, also where 32-bit code runs only under emulation: the
// program runs with its own pointer size, a 32-bit one as a WoW64 process,
// and an access violation reaches the program's own handler.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdio>

namespace {

volatile LONG g_caughtViolation = 0;
int* volatile g_nowhere = nullptr;

LONG CALLBACK CatchViolation(EXCEPTION_POINTERS* info)
{
    if (info->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION)
        return EXCEPTION_CONTINUE_SEARCH;
    InterlockedExchange(&g_caughtViolation, 1);
    // Go on past the faulting read: "mov (%ecx), %eax" / "mov (%rcx), %eax", two bytes.
#ifdef _WIN64
    info->ContextRecord->Rip += 2;
#else
    info->ContextRecord->Eip += 2;
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

int ReadThroughNull()
{
    int value;
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    asm volatile("mov (%1), %0" : "=a"(value) : "c"(g_nowhere) : "memory");
#else
#error "the faulting read is written for x86 and x86-64"
#endif
    return value;
}

int CheckProcessKind()
{
    int failures = 0;
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64)) {
        std::printf("IsWow64Process failed (%lu)\n", GetLastError());
        ++failures;
    }
    const bool expectWow64 = sizeof(void*) == 4;
    if (bool(wow64) != expectWow64) {
        std::printf("a %u-bit program is %sa WoW64 process\n", unsigned(sizeof(void*) * 8), wow64 ? "" : "not ");
        ++failures;
    }
    PVOID handler = AddVectoredExceptionHandler(1, CatchViolation);
    ReadThroughNull();
    RemoveVectoredExceptionHandler(handler);
    if (!g_caughtViolation) {
        std::printf("an access violation did not reach the program's handler\n");
        ++failures;
    }
    return failures;
}

}  // namespace

int wmain()
{
    std::printf("%u-bit program\n", unsigned(sizeof(void*) * 8));
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
        std::printf("GDI+ does not start\n");
        return 1;
    }
    int failures = CheckProcessKind();
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

// The demo's stand-in for the game's micro-client: a window that shows the
// parameters the updater started it with. The updater asks for a hidden
// window; a demo that shows nothing would prove nothing, so this one shows
// itself anyway. It records its command line in "launch-record.txt" beside
// itself and closes when "close.txt" appears there (or after two minutes).
#include <windows.h>

#include <cstdio>
#include <string>

#include "ScopedHandles.h"

namespace {

const wchar_t kClass[] = L"OrvaneDemoMicroClient";
const wchar_t kTitle[] = L"Orvane micro-client (demo)";
const int kWidth = 720;
const int kHeight = 320;
const UINT_PTR kWatchTimer = 1;
const DWORD kLifetimeMs = 120000;

std::wstring commandLine;
std::wstring parameters;
DWORD shownAt;

std::wstring Beside(const wchar_t* name)
{
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

void WriteUtf8(const std::wstring& path, const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), bytes.data(), size, nullptr, nullptr);
    if (FILE* f = _wfopen(path.c_str(), L"wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

// The command line without the program's own (possibly quoted) name.
std::wstring ParametersOf(const std::wstring& line)
{
    size_t at = 0;
    if (!line.empty() && line[0] == L'"') {
        size_t close = line.find(L'"', 1);
        at = close == std::wstring::npos ? line.size() : close + 1;
    } else {
        while (at < line.size() && line[at] != L' ' && line[at] != L'\t')
            ++at;
    }
    while (at < line.size() && (line[at] == L' ' || line[at] == L'\t'))
        ++at;
    return line.substr(at);
}

void DrawParameters(HDC dc, HWND window)
{
    RECT area;
    GetClientRect(window, &area);
    {
        const ScopedGdiObject<HBRUSH> band(CreateSolidBrush(RGB(28, 44, 72)));
        RECT top = {0, 0, area.right, 64};
        FillRect(dc, &top, band.Get());
    }
    SetBkMode(dc, TRANSPARENT);

    // The fonts are declared before their selection, so they are deleted
    // only once the DC holds its own font again.
    const ScopedGdiObject<HFONT> heading(CreateFontW(-26, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                                     0, 0, ANTIALIASED_QUALITY, 0, L"Tahoma"));
    const ScopedGdiObject<HFONT> body(CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                                  0, 0, ANTIALIASED_QUALITY, 0, L"Tahoma"));
    const ScopedSelection selection(dc, heading.Get());
    SetTextColor(dc, RGB(255, 255, 255));
    RECT line = {20, 16, area.right - 20, 60};
    DrawTextW(dc, L"Orvane \x2014 the game starts here", -1, &line, DT_LEFT | DT_SINGLELINE);

    SelectObject(dc, body.Get());
    SetTextColor(dc, RGB(20, 20, 20));
    RECT label = {20, 84, area.right - 20, 110};
    DrawTextW(dc, L"qalUpdate started the micro-client with these parameters:", -1, &label, DT_LEFT | DT_SINGLELINE);
    RECT text = {20, 116, area.right - 20, area.bottom - 16};
    DrawTextW(dc, parameters.empty() ? L"(none)" : parameters.c_str(), -1, &text,
              DT_LEFT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);
}

void Paint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    DrawParameters(dc, window);
    EndPaint(window, &paint);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_TIMER:
        if (GetFileAttributesW(Beside(L"close.txt").c_str()) != INVALID_FILE_ATTRIBUTES ||
            GetTickCount() - shownAt > kLifetimeMs)
            DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand)
{
    commandLine = GetCommandLineW();
    parameters = ParametersOf(commandLine);
    WriteUtf8(Beside(L"launch-record.txt"), commandLine + L"\n");

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = CreateSolidBrush(RGB(244, 241, 232));
    windowClass.lpszClassName = kClass;
    RegisterClassW(&windowClass);

    RECT frame = {0, 0, kWidth, kHeight};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRect(&frame, style, FALSE);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    HWND window = CreateWindowExW(0, kClass, kTitle, style, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                  (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr, nullptr,
                                  instance, nullptr);
    if (!window)
        return 1;
    // The first ShowWindow takes the hidden state the updater asked for; the
    // second one shows the window all the same.
    ShowWindow(window, showCommand);
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
    UpdateWindow(window);
    shownAt = GetTickCount();
    SetTimer(window, kWatchTimer, 200, nullptr);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "XWindow.h"

namespace {

class RecordingWindow : public XWindowImpl<RecordingWindow> {
public:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        seen.push_back({message, hwnd});
        if (message == WM_USER + 7)
            return LRESULT(this);
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    struct Seen {
        UINT message;
        HWND hwnd;
    };
    std::vector<Seen> seen;
};

}  // namespace

TEST(WindowFramework, EveryMessageReachesItsObjectWithTheHandleSet)
{
    appInstance = GetModuleHandleW(nullptr);
    RecordingWindow window;
    window.Create();
    ASSERT_NE(window.hwnd, nullptr);
    ASSERT_FALSE(window.seen.empty());
    // The very first message (before WM_CREATE) already has the handle.
    EXPECT_EQ(window.seen.front().hwnd, window.hwnd);
    bool sawCreate = false;
    for (const auto& s : window.seen) {
        EXPECT_EQ(s.hwnd, window.hwnd);
        sawCreate = sawCreate || s.message == WM_CREATE;
    }
    EXPECT_TRUE(sawCreate);

    wchar_t text[64];
    GetClassNameW(window.hwnd, text, 64);
    EXPECT_STREQ(text, L"SimpleWindow");
    GetWindowTextW(window.hwnd, text, 64);
    EXPECT_STREQ(text, L"Orvane");
    EXPECT_EQ(DWORD(GetWindowLongW(window.hwnd, GWL_STYLE)) & WS_OVERLAPPEDWINDOW, DWORD(WS_OVERLAPPEDWINDOW));

    // Messages the object does not handle get the default treatment.
    SendMessageW(window.hwnd, WM_SETTEXT, 0, LPARAM(L"renamed"));
    GetWindowTextW(window.hwnd, text, 64);
    EXPECT_STREQ(text, L"renamed");
    DestroyWindow(window.hwnd);
}

TEST(WindowFramework, SecondObjectGetsItsOwnThunk)
{
    appInstance = GetModuleHandleW(nullptr);
    RecordingWindow first;
    RecordingWindow second;
    first.Create();
    second.Create();  // the class is registered already: that is fine
    ASSERT_NE(first.hwnd, nullptr);
    ASSERT_NE(second.hwnd, nullptr);
    EXPECT_NE(first.thunk, second.thunk);
    EXPECT_EQ(SendMessageW(first.hwnd, WM_USER + 7, 0, 0), LRESULT(&first));
    EXPECT_EQ(SendMessageW(second.hwnd, WM_USER + 7, 0, 0), LRESULT(&second));
    EXPECT_EQ(GetWindowLongPtrW(first.hwnd, GWLP_WNDPROC), LONG_PTR(first.thunk));
    DestroyWindow(first.hwnd);
    DestroyWindow(second.hwnd);
}

TEST(WindowFramework, ThunkIsExecuteReadOnlyAndHasTheExpectedCode)
{
    appInstance = GetModuleHandleW(nullptr);
    RecordingWindow window;
    window.Create();
    ASSERT_NE(window.thunk, nullptr);

    MEMORY_BASIC_INFORMATION info;
    ASSERT_NE(VirtualQuery(window.thunk, &info, sizeof info), 0u);
    EXPECT_EQ(info.Protect, DWORD(PAGE_EXECUTE_READ));

    const unsigned char* code = static_cast<const unsigned char*>(window.thunk);
    const uintptr_t procedure = uintptr_t(&RecordingWindow::StaticWindowProc);
#if defined(__i386__)
    const unsigned char head[4] = {0xC7, 0x44, 0x24, 0x04};
    EXPECT_EQ(std::memcmp(code, head, 4), 0);
    uint32_t object, displacement;
    std::memcpy(&object, code + 4, 4);
    std::memcpy(&displacement, code + 9, 4);
    EXPECT_EQ(object, uint32_t(uintptr_t(&window)));
    EXPECT_EQ(code[8], 0xE9);
    EXPECT_EQ(uint32_t(uintptr_t(code) + 13 + displacement), uint32_t(procedure));
#else
    uint64_t object, target;
    EXPECT_EQ(code[0], 0x48);
    EXPECT_EQ(code[1], 0xB9);
    std::memcpy(&object, code + 2, 8);
    EXPECT_EQ(object, uint64_t(uintptr_t(&window)));
    EXPECT_EQ(code[10], 0x48);
    EXPECT_EQ(code[11], 0xB8);
    std::memcpy(&target, code + 12, 8);
    EXPECT_EQ(target, uint64_t(procedure));
    EXPECT_EQ(code[20], 0xFF);
    EXPECT_EQ(code[21], 0xE0);
#endif
    DestroyWindow(window.hwnd);
}

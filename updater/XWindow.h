// The updater's small window framework: one object per window, reached from
// every message through the object's own thunk.
#pragma once

#include <windows.h>

#include "WindowThunk.h"

// The program's instance handle, saved by the entry point for window creation.
extern HINSTANCE appInstance;

class XWindow {
public:
    HWND hwnd = nullptr;
    void* thunk = nullptr;
};

template <class T>
class XWindowImpl : public XWindow {
public:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) = 0;

    // Registers "SimpleWindow", creates the window and binds it to this
    // object. Leaves hwnd null when the window cannot be made.
    void Create();

    static LRESULT CALLBACK StartWindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK StaticWindowProc(XWindowImpl* self, UINT message, WPARAM wParam,
                                             LPARAM lParam);

    // The object whose window is being created; the first message of the new
    // window finds its object here. Create must not run on two threads at once.
    static inline XWindowImpl* creatingWindow = nullptr;
};

template <class T>
void XWindowImpl<T>::Create()
{
    static WNDCLASSEXW windowClass = {sizeof(WNDCLASSEXW), CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS,
                                      StartWindowProc, 0, 0, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, nullptr};
    static bool classCompleted = false;
    if (!classCompleted) {
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = nullptr;
        windowClass.lpszMenuName = nullptr;
        windowClass.lpszClassName = L"SimpleWindow";
        windowClass.hIconSm = nullptr;
        classCompleted = true;
    }
    // A second registration fails because the class exists; that is fine.
    RegisterClassExW(&windowClass);

    thunk = AllocateWindowThunk();
    if (!thunk)
        return;
    creatingWindow = this;
    HWND created = CreateWindowExW(0, L"SimpleWindow", L"Orvane", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                   appInstance, nullptr);
    hwnd = created;
}

template <class T>
LRESULT CALLBACK XWindowImpl<T>::StartWindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    XWindowImpl* self = creatingWindow;
    if (!self || !BindWindowThunk(self->thunk, self, reinterpret_cast<const void*>(&StaticWindowProc))) {
        // Without a working thunk the window cannot reach its object: refuse it.
        if (message == WM_NCCREATE)
            return FALSE;
        return DefWindowProcW(handle, message, wParam, lParam);
    }
    self->hwnd = handle;
    WNDPROC bound = reinterpret_cast<WNDPROC>(self->thunk);
    SetWindowLongPtrW(handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(bound));
    return bound(handle, message, wParam, lParam);
}

template <class T>
LRESULT CALLBACK XWindowImpl<T>::StaticWindowProc(XWindowImpl* self, UINT message, WPARAM wParam,
                                                  LPARAM lParam)
{
    return self->WindowProc(message, wParam, lParam);
}

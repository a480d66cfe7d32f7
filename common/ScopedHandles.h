// Handles that release themselves. Each wrapper owns one platform resource
// for the life of a function or an object and gives it back in its
// destructor, on every way out. Locals are destroyed in the reverse order of
// their declaration: declared in the order they are made, they are given
// back in the order the platform needs (a graphics object before the device
// context it draws on, a selection undone before its DC is deleted).
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <ole2.h>

#include <utility>

// Owns one value of a handle type; Traits tells what counts as none and how
// the value is given back.
template <typename Traits>
class UniqueResource {
public:
    using Value = typename Traits::Value;

    UniqueResource() = default;
    explicit UniqueResource(Value value) : value_(value) {}
    ~UniqueResource() { Reset(); }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.Detach()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other)
            Reset(other.Detach());
        return *this;
    }

    Value Get() const { return value_; }
    bool IsValid() const { return !Traits::IsNone(value_); }
    explicit operator bool() const { return IsValid(); }

    // Gives up ownership without releasing.
    Value Detach()
    {
        Value value = value_;
        value_ = Traits::None();
        return value;
    }
    void Reset(Value value = Traits::None())
    {
        if (IsValid())
            Traits::Free(value_);
        value_ = value;
    }

private:
    Value value_ = Traits::None();
};

struct KernelHandleTraits {
    using Value = HANDLE;
    static Value None() { return nullptr; }
    // Creation functions answer either null or INVALID_HANDLE_VALUE on failure.
    static bool IsNone(Value value) { return value == nullptr || value == INVALID_HANDLE_VALUE; }
    static void Free(Value value) { CloseHandle(value); }
};
// A kernel object (process, thread, snapshot, file): CloseHandle.
using ScopedHandle = UniqueResource<KernelHandleTraits>;

struct FindHandleTraits {
    using Value = HANDLE;
    static Value None() { return INVALID_HANDLE_VALUE; }
    static bool IsNone(Value value) { return value == INVALID_HANDLE_VALUE; }
    static void Free(Value value) { FindClose(value); }
};
// A directory listing from FindFirstFileW: FindClose.
using ScopedFindHandle = UniqueResource<FindHandleTraits>;

// Traits of the handle types for which null means none.
template <typename Handle, auto FreeFunction>
struct NullMeansNoneTraits {
    using Value = Handle;
    static Value None() { return nullptr; }
    static bool IsNone(Value value) { return value == nullptr; }
    static void Free(Value value) { FreeFunction(value); }
};

// A module reference from LoadLibraryW: FreeLibrary.
using ScopedLibrary = UniqueResource<NullMeansNoneTraits<HMODULE, &FreeLibrary>>;

// A registry key from RegOpenKeyExW: RegCloseKey.
using ScopedRegistryKey = UniqueResource<NullMeansNoneTraits<HKEY, &RegCloseKey>>;

// A device context from CreateCompatibleDC: DeleteDC.
using ScopedMemoryDc = UniqueResource<NullMeansNoneTraits<HDC, &DeleteDC>>;

// A pen, brush, font or bitmap the caller made: DeleteObject. It must no
// longer be selected into a DC, so declare it before its ScopedSelection.
template <typename Object>
using ScopedGdiObject = UniqueResource<NullMeansNoneTraits<Object, &DeleteObject>>;

// A window's device context from GetDC, handed back with ReleaseDC.
class ScopedWindowDc {
public:
    explicit ScopedWindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~ScopedWindowDc()
    {
        if (dc_ != nullptr)
            ReleaseDC(window_, dc_);
    }
    ScopedWindowDc(const ScopedWindowDc&) = delete;
    ScopedWindowDc& operator=(const ScopedWindowDc&) = delete;

    HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Selects an object into a DC and selects the previous one back on the way
// out. A null object selects nothing.
class ScopedSelection {
public:
    ScopedSelection(HDC dc, HGDIOBJ object)
        : dc_(dc), previous_(dc != nullptr && object != nullptr ? SelectObject(dc, object) : nullptr)
    {
    }
    ~ScopedSelection()
    {
        if (previous_ != nullptr && previous_ != HGDI_ERROR)
            SelectObject(dc_, previous_);
    }
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// One reference to a COM object, released on the way out.
template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : pointer_(other.Detach()) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            Reset();
            pointer_ = other.Detach();
        }
        return *this;
    }

    // Takes a reference of its own.
    static ComPtr Share(Interface* pointer)
    {
        if (pointer != nullptr)
            pointer->AddRef();
        return Adopt(pointer);
    }

    // Takes over a reference the caller already holds.
    static ComPtr Adopt(Interface* pointer)
    {
        ComPtr owned;
        owned.pointer_ = pointer;
        return owned;
    }

    Interface* Get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // For functions that hand out a reference through an out parameter; any
    // reference held before is released first.
    Interface** Put()
    {
        Reset();
        return &pointer_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    Interface* Detach()
    {
        Interface* pointer = pointer_;
        pointer_ = nullptr;
        return pointer;
    }
    void Reset()
    {
        Interface* pointer = Detach();
        if (pointer != nullptr)
            pointer->Release();
    }

private:
    Interface* pointer_ = nullptr;
};

// GDI+ for the life of the object: GdiplusStartup with the default input
// (version 1, no debug callback, background thread and external codecs not
// suppressed); GdiplusShutdown only when the start succeeded.
class GdiPlusSession {
public:
    // The token is written where the caller keeps it.
    explicit GdiPlusSession(ULONG_PTR& token) : token_(token)
    {
        Gdiplus::GdiplusStartupInput input;
        started_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
    }
    ~GdiPlusSession()
    {
        if (started_)
            Gdiplus::GdiplusShutdown(token_);
    }
    GdiPlusSession(const GdiPlusSession&) = delete;
    GdiPlusSession& operator=(const GdiPlusSession&) = delete;

private:
    ULONG_PTR& token_;
    bool started_ = false;
};

// OLE on this thread for the life of the object. Every COM object made on
// the thread must be gone before it ends.
class OleSession {
public:
    OleSession() : started_(SUCCEEDED(OleInitialize(nullptr))) {}
    ~OleSession()
    {
        if (started_)
            OleUninitialize();
    }
    OleSession(const OleSession&) = delete;
    OleSession& operator=(const OleSession&) = delete;

    bool Started() const { return started_; }

private:
    bool started_;
};

// The per-object machine-code stub through which a window's messages reach
// its object: it puts the object where the window handle was and jumps to a
// common procedure.
#pragma once

#include <windows.h>

#if defined(_M_IX86) || defined(__i386__)
constexpr SIZE_T kWindowThunkSize = 13;
#elif defined(_M_X64) || defined(__x86_64__)
constexpr SIZE_T kWindowThunkSize = 22;
#else
#error "No window thunk for this processor"
#endif

// A fresh block for one thunk, readable and writable (not yet executable), or
// null when no memory is left.
void* AllocateWindowThunk();

// Writes the stub that calls procedure(object, message, wParam, lParam) for a
// call made as thunk(hwnd, message, wParam, lParam), then makes the block
// execute-read only so no page stays writable and executable. False when the
// block cannot be made executable (it must not be called then).
bool BindWindowThunk(void* thunk, const void* object, const void* procedure);

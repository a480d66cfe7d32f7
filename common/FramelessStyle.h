// The one window style change all three of the programs' windows make.
#pragma once

#include <windows.h>

// Takes the caption, the sizing frame and the boxes off a window and has it
// clip its children and siblings: the artwork is the whole window.
inline void MakeFrameless(HWND window)
{
    LONG style = GetWindowLongW(window, GWL_STYLE);
    style &= ~LONG(WS_CAPTION | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
    style |= LONG(WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    SetWindowLongW(window, GWL_STYLE, style);
}

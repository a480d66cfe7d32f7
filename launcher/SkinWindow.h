// The skin: a borderless per-pixel-alpha window of class "transparent" that
// shows the artwork and carries the login panel on its rectangle.
#pragma once

#include <windows.h>

extern const wchar_t kSkinWindowClass[];  // "transparent"

// Registers "transparent" with appInstance. False when registration failed.
bool RegisterSkinWindowClass();

// Creates mainWindow's window with `title`; null unless it exists afterwards.
HWND CreateMainWindow(const wchar_t* title);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Composes skin and logo off screen and hands them to UpdateLayeredWindow.
void PaintSkin(HWND window);

// Puts panelWindow onto mainWindow's screen rectangle.
void SyncPanelToMain();

// The login panel: a yellow colour-keyed window of class "childTransparent"
// lying on the skin, with four owner-drawn buttons and the login page in a
// browser control.
#pragma once

#include <windows.h>

class WebBrwoser2EventListener;

extern const wchar_t kPanelWindowClass[];  // "childTransparent"
extern const wchar_t kBrowserProgId[];     // "shell.Explorer.2"

// Button identifiers, which are also their command numbers.
enum PanelButton : int {
    kCloseButton = 1,
    kMinimiseButton = 2,
    kClearButton = 3,
    kRepairButton = 4,
};

// The one navigation listener, once the panel attached it to the browser.
extern WebBrwoser2EventListener* navigationListener;

// Registers "childTransparent" with its yellow brush. False when registration failed.
bool RegisterPanelWindowClass();

// Creates the panel owned by `owner` (its creation builds buttons and browser).
HWND CreatePanelWindow(HWND owner);

LRESULT CALLBACK PanelWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Fetches the hosted control's IWebBrowser2 into webBrowser; the caller
// releases the reference that comes with it.
HRESULT QueryBrowserControl();

// Hands a keyboard message that the browser host's dialog manager took on to
// the control's own accelerator handling, so Tab, Enter and shortcuts work in
// the page.
void ForwardToBrowserAccelerators(MSG* message);

// A small ActiveX containment layer: the host window classes "AtlAxWin100" and
// "AtlAxWinLic100" and their registered messages exist from static
// initialisation on, before WinMain runs.
//
// A host window created with a ProgID (or a CLSID in braces) as its window
// text creates that control at once; otherwise the control is created later
// through the host interface's CreateControlEx. The control is activated in
// place filling the host window and torn down when the window is destroyed.
//
//   "WM_ATLGETHOST"    answers the window's IAxWinHostWindow, borrowed (no
//                      reference added; valid while the window lives).
//   "WM_ATLGETCONTROL" answers the control's IUnknown with a reference added,
//                      or null while no control is hosted.
#pragma once

#include <windows.h>
#include <ole2.h>

extern const wchar_t kAxHostWindowClass[];         // "AtlAxWin100"
extern const wchar_t kAxHostLicensedWindowClass[]; // "AtlAxWinLic100"

// The registered message numbers (0 if registration failed).
UINT AxGetHostMessage();
UINT AxGetControlMessage();

// {B6EA2050-048A-11D1-82B9-00C04FB9942E}
extern const IID IID_IAxWinHostWindow;

struct IDocHostUIHandlerDispatch;

// The host interface, in the layout that code written for the platform's own
// containment framework expects.
struct IAxWinHostWindow : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateControl(LPCOLESTR name, HWND window, IStream* state) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateControlEx(LPCOLESTR name, HWND window, IStream* state,
                                                      IUnknown** control, REFIID adviseInterface,
                                                      IUnknown* adviseSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE AttachControl(IUnknown* control, HWND window) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryControl(REFIID riid, void** object) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetExternalDispatch(IDispatch* external) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetExternalUIHandler(IDocHostUIHandlerDispatch* handler) = 0;
};

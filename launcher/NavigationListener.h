// The sink of the browser control's DWebBrowserEvents2: spots the navigation
// to the game's entry page, stops it and hands the address on.
#pragma once

#include <windows.h>
#include <ole2.h>

// Lives for the whole process and counts no references.
class WebBrwoser2EventListener final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    // The configured extra marker, read afresh at every event; not owned.
    const wchar_t* enterMarker = nullptr;
    // Called with the whole entry address once the navigation is cancelled.
    void (*onEnterGame)(const wchar_t* entryAddress) = nullptr;
};

// Dispatch identifier of DWebBrowserEvents2::BeforeNavigate2.
constexpr DISPID kBeforeNavigate2 = 250;

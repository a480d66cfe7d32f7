#include "NavigationListener.h"

#include <exdisp.h>

#include <string>

#include "GameEntryRules.h"

namespace {

// BeforeNavigate2's arguments arrive last-first.
constexpr UINT kBeforeNavigate2Arguments = 7;
constexpr UINT kUrlArgument = 5;
constexpr UINT kCancelArgument = 0;

// The address text of the URL argument, or null when it holds no string.
const wchar_t* AddressOf(const VARIANT& argument)
{
    const VARIANT* value = &argument;
    if (value->vt == (VT_BYREF | VT_VARIANT))
        value = value->pvarVal;
    if (value == nullptr)
        return nullptr;
    if (value->vt == VT_BSTR)
        return value->bstrVal;
    if (value->vt == (VT_BYREF | VT_BSTR))
        return value->pbstrVal != nullptr ? *value->pbstrVal : nullptr;
    return nullptr;
}

void SetCancel(const VARIANT& argument)
{
    if (argument.vt == (VT_BYREF | VT_BOOL) && argument.pboolVal != nullptr)
        *argument.pboolVal = VARIANT_TRUE;
}

}  // namespace

HRESULT STDMETHODCALLTYPE WebBrwoser2EventListener::QueryInterface(REFIID riid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, DIID_DWebBrowserEvents2)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE WebBrwoser2EventListener::AddRef()
{
    return 1;
}

ULONG STDMETHODCALLTYPE WebBrwoser2EventListener::Release()
{
    return 1;
}

HRESULT STDMETHODCALLTYPE WebBrwoser2EventListener::GetTypeInfoCount(UINT*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE WebBrwoser2EventListener::GetTypeInfo(UINT, LCID, ITypeInfo**)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE WebBrwoser2EventListener::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE WebBrwoser2EventListener::Invoke(DISPID dispIdMember, REFIID, LCID, WORD,
                                                           DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*)
{
    if (dispIdMember != kBeforeNavigate2 || params == nullptr || params->rgvarg == nullptr ||
        params->cArgs < kBeforeNavigate2Arguments)
        return S_OK;
    // The whole address is examined and handed on: a copy cut to some length
    // could hide the marker or name another page.
    const wchar_t* address = AddressOf(params->rgvarg[kUrlArgument]);
    if (!IsGameEntryAddress(address, enterMarker))
        return S_OK;
    SetCancel(params->rgvarg[kCancelArgument]);
    // The hand-off tears the browser down, and the event's own string with it.
    const std::wstring entryAddress(address);
    if (onEnterGame != nullptr)
        onEnterGame(entryAddress.c_str());
    return S_OK;
}

#include "AxHostWindow.h"

#include <mshtmhst.h>
#include <ocidl.h>

#include <utility>

#include "ScopedHandles.h"

const wchar_t kAxHostWindowClass[] = L"AtlAxWin100";
const wchar_t kAxHostLicensedWindowClass[] = L"AtlAxWinLic100";
const IID IID_IAxWinHostWindow = {0xB6EA2050, 0x048A, 0x11D1, {0x82, 0xB9, 0x00, 0xC0, 0x4F, 0xB9, 0x94, 0x2E}};

namespace {

UINT getHostMessage;

// CGID_DocHostCommandHandler, which the MinGW import libraries do not define.
const GUID kDocHostCommandGroup = {0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};
UINT getControlMessage;

// The site of one hosted control: everything the control asks of its
// container. Lives as long as its host window and whatever references the
// control still holds on it.
class AxHostSite final : public IOleClientSite,
                         public IOleInPlaceSite,
                         public IOleInPlaceFrame,
                         public IDocHostUIHandler,
                         public IOleCommandTarget,
                         public IAxWinHostWindow {
public:
    explicit AxHostSite(HWND window) : window(window) {}

    IUnknown* Control() const { return control.Get(); }

    // Keeps the control on the host's whole client area.
    void FitControl()
    {
        if (!inPlaceObject)
            return;
        RECT rect;
        GetClientRect(window, &rect);
        inPlaceObject->SetObjectRects(&rect, &rect);
    }

    void ReleaseControl()
    {
        // Taken out of the site before the calls: the control may call back
        // into the site. Declared in reverse, so the references go in the
        // order the calls are made: the advise point first, the control's
        // own IUnknown last.
        ComPtr<IUnknown> unknown = std::move(control);
        ComPtr<IOleObject> ole = std::move(oleObject);
        ComPtr<IOleInPlaceObject> inPlace = std::move(inPlaceObject);
        ComPtr<IConnectionPoint> advised = std::move(advisePoint);
        if (advised)
            advised->Unadvise(adviseCookie);
        if (inPlace)
            inPlace->InPlaceDeactivate();
        if (ole) {
            ole->Close(OLECLOSE_NOSAVE);
            ole->SetClientSite(nullptr);
        }
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite))
            *object = static_cast<IOleClientSite*>(this);
        else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceSite))
            *object = static_cast<IOleInPlaceSite*>(this);
        else if (IsEqualIID(riid, IID_IOleInPlaceUIWindow) || IsEqualIID(riid, IID_IOleInPlaceFrame))
            *object = static_cast<IOleInPlaceFrame*>(this);
        else if (IsEqualIID(riid, IID_IDocHostUIHandler))
            *object = static_cast<IDocHostUIHandler*>(this);
        else if (IsEqualIID(riid, IID_IOleCommandTarget))
            *object = static_cast<IOleCommandTarget*>(this);
        else if (IsEqualIID(riid, IID_IAxWinHostWindow))
            *object = static_cast<IAxWinHostWindow*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references;
        if (left == 0)
            delete this;
        return left;
    }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override
    {
        if (moniker != nullptr)
            *moniker = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override
    {
        if (container != nullptr)
            *container = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (of both the in-place site and the frame)
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* result) override
    {
        if (result == nullptr)
            return E_POINTER;
        *result = window;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                               LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override
    {
        if (frame != nullptr) {
            *frame = static_cast<IOleInPlaceFrame*>(this);
            AddRef();
        }
        if (document != nullptr)
            *document = nullptr;
        if (position != nullptr)
            GetClientRect(window, position);
        if (clip != nullptr)
            GetClientRect(window, clip);
        if (info != nullptr) {
            info->fMDIApp = FALSE;
            info->hwndFrame = GetAncestor(window, GA_ROOT);
            info->haccel = nullptr;
            info->cAccelEntries = 0;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
    // The host keeps its rectangle; the control is not allowed to change it.
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override
    {
        FitControl();
        return S_OK;
    }

    // IOleInPlaceUIWindow / IOleInPlaceFrame: no menus, toolbars or borders.
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IOleCommandTarget: before it shows a page's script error the HTML
    // engine asks its container. The player gets no dialog in front of the
    // login page, on every error, and the page's scripts go on running.
    // Every other command is left to the engine, as when the site had no
    // command target.
    HRESULT STDMETHODCALLTYPE QueryStatus(const GUID* group, ULONG count, OLECMD* commands, OLECMDTEXT*) override
    {
        if (group == nullptr || !IsEqualGUID(*group, kDocHostCommandGroup))
            return OLECMDERR_E_UNKNOWNGROUP;
        if (commands == nullptr)
            return E_POINTER;
        for (ULONG i = 0; i < count; ++i)
            commands[i].cmdf = commands[i].cmdID == OLECMDID_SHOWSCRIPTERROR ? OLECMDF_SUPPORTED | OLECMDF_ENABLED : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Exec(const GUID* group, DWORD command, DWORD, VARIANT*, VARIANT* out) override
    {
        if (group == nullptr || !IsEqualGUID(*group, kDocHostCommandGroup))
            return OLECMDERR_E_UNKNOWNGROUP;
        if (command != OLECMDID_SHOWSCRIPTERROR)
            return OLECMDERR_E_NOTSUPPORTED;
        // True: go on running the page's scripts.
        if (out != nullptr) {
            VariantClear(out);
            out->vt = VT_BOOL;
            out->boolVal = VARIANT_TRUE;
        }
        return S_OK;
    }

    // IDocHostUIHandler: the page shows neither the browser's context menu
    // nor its sunken 3-D border.
    HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO* info) override
    {
        if (info == nullptr)
            return E_POINTER;
        info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER;
        info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                                     IOleInPlaceUIWindow*) override
    {
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE HideUI() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE UpdateUI() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR* key, DWORD) override
    {
        if (key != nullptr)
            *key = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget*, IDropTarget** result) override
    {
        if (result != nullptr)
            *result = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** external) override
    {
        if (external != nullptr)
            *external = nullptr;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD, LPWSTR, LPWSTR* result) override
    {
        if (result != nullptr)
            *result = nullptr;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject*, IDataObject** result) override
    {
        if (result != nullptr)
            *result = nullptr;
        return S_FALSE;
    }

    // IAxWinHostWindow
    HRESULT STDMETHODCALLTYPE CreateControl(LPCOLESTR name, HWND target, IStream* state) override
    {
        return CreateControlEx(name, target, state, nullptr, IID_NULL, nullptr);
    }
    HRESULT STDMETHODCALLTYPE CreateControlEx(LPCOLESTR name, HWND target, IStream* state, IUnknown** result,
                                              REFIID adviseInterface, IUnknown* adviseSink) override
    {
        if (result != nullptr)
            *result = nullptr;
        if (name == nullptr || name[0] == L'\0')
            return E_INVALIDARG;
        if (target != nullptr && target != window)
            return E_INVALIDARG;
        CLSID clsid;
        HRESULT hr = name[0] == L'{' ? CLSIDFromString(name, &clsid) : CLSIDFromProgID(name, &clsid);
        if (FAILED(hr))
            return hr;
        ComPtr<IUnknown> created;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                              created.PutVoid());
        if (FAILED(hr))
            return hr;
        hr = Site(created.Get(), state);
        if (SUCCEEDED(hr) && adviseSink != nullptr)
            Advise(adviseInterface, adviseSink);
        if (SUCCEEDED(hr) && result != nullptr)
            *result = created.Detach();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE AttachControl(IUnknown* existing, HWND target) override
    {
        if (existing == nullptr)
            return E_INVALIDARG;
        if (target != nullptr && target != window)
            return E_INVALIDARG;
        return Site(existing, nullptr);
    }
    HRESULT STDMETHODCALLTYPE QueryControl(REFIID riid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        return control ? control->QueryInterface(riid, object) : E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE SetExternalDispatch(IDispatch*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetExternalUIHandler(IDocHostUIHandlerDispatch*) override { return E_NOTIMPL; }

private:
    ~AxHostSite() { ReleaseControl(); }

    // Takes `created` into the site and activates it in place over the whole
    // client area.
    HRESULT Site(IUnknown* created, IStream* state)
    {
        ReleaseControl();
        HRESULT hr = created->QueryInterface(IID_IOleObject, oleObject.PutVoid());
        if (FAILED(hr))
            return hr;
        control = ComPtr<IUnknown>::Share(created);
        oleObject->SetClientSite(static_cast<IOleClientSite*>(this));

        ComPtr<IPersistStreamInit> persist;
        if (SUCCEEDED(created->QueryInterface(IID_IPersistStreamInit, persist.PutVoid()))) {
            if (state != nullptr)
                persist->Load(state);
            else
                persist->InitNew();
        }

        RECT rect;
        GetClientRect(window, &rect);
        hr = oleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(this), 0, window,
                               &rect);
        created->QueryInterface(IID_IOleInPlaceObject, inPlaceObject.PutVoid());
        FitControl();
        if (FAILED(hr)) {
            ReleaseControl();
            return hr;
        }
        return S_OK;
    }

    void Advise(REFIID adviseInterface, IUnknown* sink)
    {
        ComPtr<IConnectionPointContainer> container;
        if (FAILED(control->QueryInterface(IID_IConnectionPointContainer, container.PutVoid())))
            return;
        ComPtr<IConnectionPoint> point;
        if (SUCCEEDED(container->FindConnectionPoint(adviseInterface, point.Put())) &&
            SUCCEEDED(point->Advise(sink, &adviseCookie)))
            advisePoint = std::move(point);
    }

    HWND window;
    ULONG references = 1;  // the window's
    ComPtr<IUnknown> control;
    ComPtr<IOleObject> oleObject;
    ComPtr<IOleInPlaceObject> inPlaceObject;
    ComPtr<IConnectionPoint> advisePoint;
    DWORD adviseCookie = 0;
};

AxHostSite* SiteOf(HWND window)
{
    return reinterpret_cast<AxHostSite*>(GetWindowLongPtrW(window, 0));
}

LRESULT CALLBACK AxHostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    AxHostSite* site = SiteOf(window);
    if (message != 0 && message == getHostMessage)
        return reinterpret_cast<LRESULT>(site != nullptr ? static_cast<IAxWinHostWindow*>(site) : nullptr);
    if (message != 0 && message == getControlMessage) {
        IUnknown* control = site != nullptr ? site->Control() : nullptr;
        if (control != nullptr)
            control->AddRef();
        return reinterpret_cast<LRESULT>(control);
    }
    switch (message) {
    case WM_CREATE: {
        site = new AxHostSite(window);
        SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(site));
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        if (create->lpszName != nullptr && !IS_INTRESOURCE(create->lpszName) && create->lpszName[0] != L'\0')
            site->CreateControl(create->lpszName, window, nullptr);
        return 0;
    }
    case WM_SIZE:
        if (site != nullptr)
            site->FitControl();
        return 0;
    case WM_DESTROY:
        if (site != nullptr)
            site->ReleaseControl();
        break;
    case WM_NCDESTROY:
        SetWindowLongPtrW(window, 0, 0);
        if (site != nullptr)
            site->Release();
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Runs during static initialisation, so that the classes and messages exist
// before WinMain creates any host.
struct AxHostRegistration {
    AxHostRegistration()
    {
        getHostMessage = RegisterWindowMessageW(L"WM_ATLGETHOST");
        getControlMessage = RegisterWindowMessageW(L"WM_ATLGETCONTROL");
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.style = CS_DBLCLKS;
        windowClass.lpfnWndProc = AxHostWindowProc;
        windowClass.cbWndExtra = sizeof(LONG_PTR);
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = kAxHostWindowClass;
        RegisterClassExW(&windowClass);
        // Licensed controls are created like any other here.
        windowClass.lpszClassName = kAxHostLicensedWindowClass;
        RegisterClassExW(&windowClass);
    }
};

const AxHostRegistration axHostRegistration;

}  // namespace

UINT AxGetHostMessage()
{
    return getHostMessage;
}

UINT AxGetControlMessage()
{
    return getControlMessage;
}

// A stand-in for the browser control, for the whole-road test only.
//
// Wine draws no web pages and runs no page scripts, so nothing in a page can
// navigate to the game-entry address there. This in-process server is
// registered, in the test's own Wine prefix, under the class id that
// "shell.Explorer.2" names; the real qalLogin.exe then hosts it as its
// browser. It behaves as a page with a link the player follows: it fetches
// the address it is first told to open, finds the link with id="enter" in
// it, and navigates there half a second later (or, when the link carries
// data-follow="click", once the page is clicked), raising BeforeNavigate2
// (dispatch id 250) into whatever listener was attached, and fetching the
// address only when the listener did not cancel. It draws the page's heading
// and the link's text, so a screenshot shows what the player would follow.
// A page with <meta name="script-error-report" content="FILE"> has a script
// error: the stand-in asks its container whether to show it, as the HTML
// engine does, and writes what the container answered into FILE (a Windows
// path) for the test.
#include <windows.h>
#include <exdisp.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <ocidl.h>
#include <oleidl.h>
#include <olectl.h>
#include <urlmon.h>
#include <wininet.h>

#include <cstdio>
#include <string>

namespace {

// {5C0E7A51-3B7D-4E2A-9C61-0F4B8D2E7A13}
const CLSID kStandInClassId = {0x5C0E7A51, 0x3B7D, 0x4E2A, {0x9C, 0x61, 0x0F, 0x4B, 0x8D, 0x2E, 0x7A, 0x13}};
const wchar_t kWindowClass[] = L"qalStandInBrowser";
const UINT kLoadMessage = WM_APP + 1;
const UINT_PTR kFollowLinkTimer = 1;

HINSTANCE moduleInstance;

// CGID_DocHostCommandHandler, which the MinGW import libraries do not define.
const GUID kDocHostCommandGroup = {0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};

std::wstring Widen(const std::string& text)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size);
    return out;
}

// Fetches address through the same service the updater uses; the page text,
// or empty.
std::string FetchPage(const std::wstring& address)
{
    wchar_t file[MAX_PATH];
    if (URLDownloadToCacheFileW(nullptr, address.c_str(), file, MAX_PATH, 0, nullptr) != S_OK)
        return {};
    std::string text;
    if (FILE* f = _wfopen(file, L"rb")) {
        char chunk[4096];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
            text.append(chunk, got);
        std::fclose(f);
    }
    DeleteUrlCacheEntryW(address.c_str());
    return text;
}

// What the stand-in reads of a page: the heading, and the element with
// id="enter" (its href with &amp; resolved, its text, how it is followed).
struct PageSummary {
    std::wstring heading;
    std::wstring link;
    std::wstring linkText;
    bool followOnClick = false;
    std::wstring scriptErrorReport;
};

std::string TextBetween(const std::string& page, size_t from, const char* open, const char* close)
{
    size_t start = page.find(open, from);
    if (start == std::string::npos)
        return {};
    start += std::string(open).size();
    size_t end = page.find(close, start);
    return end == std::string::npos ? std::string() : page.substr(start, end - start);
}

PageSummary Summarise(const std::string& page)
{
    PageSummary summary;
    summary.heading = Widen(TextBetween(page, 0, "<h1>", "</h1>"));
    size_t report = page.find("<meta name=\"script-error-report\"");
    if (report != std::string::npos)
        summary.scriptErrorReport = Widen(TextBetween(page, report, "content=\"", "\""));
    size_t element = page.find("id=\"enter\"");
    if (element == std::string::npos)
        return summary;
    size_t tagStart = page.rfind('<', element);
    size_t tagEnd = page.find('>', element);
    if (tagStart == std::string::npos || tagEnd == std::string::npos)
        return summary;
    std::string tag = page.substr(tagStart, tagEnd - tagStart);
    std::string link = TextBetween(tag, 0, "href=\"", "\"");
    for (size_t at; (at = link.find("&amp;")) != std::string::npos;)
        link.replace(at, 5, "&");
    summary.link = Widen(link);
    summary.followOnClick = tag.find("data-follow=\"click\"") != std::string::npos;
    summary.linkText = Widen(TextBetween(page, tagEnd, ">", "</a>"));
    return summary;
}

class StandInBrowser;

// The DWebBrowserEvents2 connection point: holds one listener.
class EventPoint : public IConnectionPoint {
public:
    explicit EventPoint(StandInBrowser* owner) : owner(owner) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetConnectionInterface(IID* iid) override
    {
        *iid = DIID_DWebBrowserEvents2;
        return S_OK;
    }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override
    {
        if (!sink || !cookie || listener)
            return CONNECT_E_ADVISELIMIT;
        if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&listener))))
            return CONNECT_E_CANNOTCONNECT;
        *cookie = 1;
        return S_OK;
    }
    STDMETHODIMP Unadvise(DWORD cookie) override
    {
        if (cookie != 1 || !listener)
            return CONNECT_E_NOCONNECTION;
        listener->Release();
        listener = nullptr;
        return S_OK;
    }
    STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

    IDispatch* listener = nullptr;

private:
    StandInBrowser* owner;
};

class StandInBrowser : public IWebBrowser2,
                       public IOleObject,
                       public IOleInPlaceObject,
                       public IConnectionPointContainer {
public:
    StandInBrowser() : events(this) {}

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IWebBrowser) ||
            IsEqualIID(iid, IID_IWebBrowserApp) || IsEqualIID(iid, IID_IWebBrowser2))
            *object = static_cast<IWebBrowser2*>(this);
        else if (IsEqualIID(iid, IID_IOleObject))
            *object = static_cast<IOleObject*>(this);
        else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceObject))
            *object = static_cast<IOleInPlaceObject*>(this);
        else if (IsEqualIID(iid, IID_IConnectionPointContainer))
            *object = static_cast<IConnectionPointContainer*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&references)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG left = InterlockedDecrement(&references);
        if (left == 0)
            delete this;
        return ULONG(left);
    }

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        if (count)
            *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    // IWebBrowser, IWebBrowserApp, IWebBrowser2: only navigation does anything.
    STDMETHODIMP Navigate2(VARIANT* url, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override
    {
        const VARIANT* value = url;
        if (value && value->vt == (VT_BYREF | VT_VARIANT))
            value = value->pvarVal;
        if (!value || value->vt != VT_BSTR || !value->bstrVal)
            return E_INVALIDARG;
        pending = value->bstrVal;
        if (window)
            PostMessageW(window, kLoadMessage, 0, 0);
        return S_OK;
    }
    STDMETHODIMP GoBack() override { return E_NOTIMPL; }
    STDMETHODIMP GoForward() override { return E_NOTIMPL; }
    STDMETHODIMP GoHome() override { return E_NOTIMPL; }
    STDMETHODIMP GoSearch() override { return E_NOTIMPL; }
    STDMETHODIMP Navigate(BSTR, VARIANT *, VARIANT *, VARIANT *, VARIANT *) override { return E_NOTIMPL; }
    STDMETHODIMP Refresh() override { return E_NOTIMPL; }
    STDMETHODIMP Refresh2(VARIANT *) override { return E_NOTIMPL; }
    STDMETHODIMP Stop() override { return E_NOTIMPL; }
    STDMETHODIMP get_Application(IDispatch **) override { return E_NOTIMPL; }
    STDMETHODIMP get_Parent(IDispatch **) override { return E_NOTIMPL; }
    STDMETHODIMP get_Container(IDispatch **) override { return E_NOTIMPL; }
    STDMETHODIMP get_Document(IDispatch **) override { return E_NOTIMPL; }
    STDMETHODIMP get_TopLevelContainer(VARIANT_BOOL *) override { return E_NOTIMPL; }
    STDMETHODIMP get_Type(BSTR *) override { return E_NOTIMPL; }
    STDMETHODIMP get_Left(LONG *) override { return E_NOTIMPL; }
    STDMETHODIMP put_Left(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_Top(LONG *) override { return E_NOTIMPL; }
    STDMETHODIMP put_Top(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_Width(LONG *) override { return E_NOTIMPL; }
    STDMETHODIMP put_Width(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_Height(LONG *) override { return E_NOTIMPL; }
    STDMETHODIMP put_Height(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_LocationName(BSTR *) override { return E_NOTIMPL; }
    STDMETHODIMP get_LocationURL(BSTR *) override { return E_NOTIMPL; }
    STDMETHODIMP get_Busy(VARIANT_BOOL *) override { return E_NOTIMPL; }
    STDMETHODIMP Quit() override { return E_NOTIMPL; }
    STDMETHODIMP ClientToWindow(int *, int *) override { return E_NOTIMPL; }
    STDMETHODIMP PutProperty(BSTR, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP GetProperty(BSTR, VARIANT *) override { return E_NOTIMPL; }
    STDMETHODIMP get_Name(BSTR *) override { return E_NOTIMPL; }
    STDMETHODIMP get_HWND(SHANDLE_PTR *) override { return E_NOTIMPL; }
    STDMETHODIMP get_FullName(BSTR *) override { return E_NOTIMPL; }
    STDMETHODIMP get_Path(BSTR *) override { return E_NOTIMPL; }
    STDMETHODIMP get_Visible(VARIANT_BOOL *) override { return E_NOTIMPL; }
    STDMETHODIMP put_Visible(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_StatusBar(VARIANT_BOOL *) override { return E_NOTIMPL; }
    STDMETHODIMP put_StatusBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_StatusText(BSTR *) override { return E_NOTIMPL; }
    STDMETHODIMP put_StatusText(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_ToolBar(int *) override { return E_NOTIMPL; }
    STDMETHODIMP put_ToolBar(int) override { return E_NOTIMPL; }
    STDMETHODIMP get_MenuBar(VARIANT_BOOL *) override { return E_NOTIMPL; }
    STDMETHODIMP put_MenuBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_FullScreen(VARIANT_BOOL *) override { return E_NOTIMPL; }
    STDMETHODIMP put_FullScreen(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP QueryStatusWB(OLECMDID, OLECMDF *) override { return E_NOTIMPL; }
    STDMETHODIMP ExecWB(OLECMDID, OLECMDEXECOPT, VARIANT *, VARIANT *) override { return E_NOTIMPL; }
    STDMETHODIMP ShowBrowserBar(VARIANT *, VARIANT *, VARIANT *) override { return E_NOTIMPL; }
    STDMETHODIMP get_ReadyState(READYSTATE *) override { return E_NOTIMPL; }
    STDMETHODIMP get_Offline(VARIANT_BOOL *) override { return E_NOTIMPL; }
    STDMETHODIMP put_Offline(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_Silent(VARIANT_BOOL *) override { return E_NOTIMPL; }
    STDMETHODIMP put_Silent(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_RegisterAsBrowser(VARIANT_BOOL *) override { return E_NOTIMPL; }
    STDMETHODIMP put_RegisterAsBrowser(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_RegisterAsDropTarget(VARIANT_BOOL *) override { return E_NOTIMPL; }
    STDMETHODIMP put_RegisterAsDropTarget(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_TheaterMode(VARIANT_BOOL *) override { return E_NOTIMPL; }
    STDMETHODIMP put_TheaterMode(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_AddressBar(VARIANT_BOOL *) override { return E_NOTIMPL; }
    STDMETHODIMP put_AddressBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_Resizable(VARIANT_BOOL *) override { return E_NOTIMPL; }
    STDMETHODIMP put_Resizable(VARIANT_BOOL) override { return E_NOTIMPL; }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override
    {
        if (site)
            site->AddRef();
        if (clientSite)
            clientSite->Release();
        clientSite = site;
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** site) override
    {
        *site = clientSite;
        if (clientSite)
            clientSite->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override
    {
        if (window)
            DestroyWindow(window);
        return S_OK;
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND parent, LPCRECT rect) override
    {
        if (verb != OLEIVERB_INPLACEACTIVATE && verb != OLEIVERB_SHOW && verb != OLEIVERB_UIACTIVATE)
            return E_NOTIMPL;
        if (!window && parent) {
            RECT area = rect ? *rect : RECT{0, 0, 0, 0};
            window = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE, area.left, area.top,
                                     area.right - area.left, area.bottom - area.top, parent, nullptr,
                                     moduleInstance, this);
        }
        if (window && !pending.empty())
            PostMessageW(window, kLoadMessage, 0, 0);
        return window ? S_OK : E_FAIL;
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* id) override
    {
        *id = kStandInClassId;
        return S_OK;
    }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return S_OK; }
    STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override
    {
        *status = 0;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleWindow, IOleInPlaceObject
    STDMETHODIMP GetWindow(HWND* out) override
    {
        *out = window;
        return window ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP UIDeactivate() override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT) override
    {
        if (window && position)
            MoveWindow(window, position->left, position->top, position->right - position->left,
                       position->bottom - position->top, TRUE);
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override
    {
        if (!point)
            return E_POINTER;
        *point = nullptr;
        if (!IsEqualIID(iid, DIID_DWebBrowserEvents2))
            return CONNECT_E_NOCONNECTION;
        *point = &events;
        events.AddRef();
        return S_OK;
    }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<StandInBrowser*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self) {
            if (message == kLoadMessage) {
                self->LoadPending();
                return 0;
            }
            if (message == WM_TIMER && wParam == kFollowLinkTimer) {
                KillTimer(window, kFollowLinkTimer);
                self->FollowLink();
                return 0;
            }
            if (message == WM_LBUTTONDOWN && self->page.followOnClick && !self->page.link.empty()) {
                self->FollowLink();
                return 0;
            }
            if (message == WM_PAINT) {
                self->Paint(window);
                return 0;
            }
            if (message == WM_DESTROY) {
                self->window = nullptr;
                SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            }
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

private:
    virtual ~StandInBrowser()
    {
        if (clientSite)
            clientSite->Release();
        if (events.listener)
            events.listener->Release();
    }

    // Raises BeforeNavigate2 as the real control does; true when cancelled.
    bool BeforeNavigate(const std::wstring& address)
    {
        if (!events.listener)
            return false;
        VARIANT url, flags, frame, postData, headers;
        VariantInit(&url);
        url.vt = VT_BSTR;
        url.bstrVal = SysAllocString(address.c_str());
        VariantInit(&flags);
        flags.vt = VT_I4;
        flags.lVal = 0;
        VariantInit(&frame);
        frame.vt = VT_BSTR;
        frame.bstrVal = SysAllocString(L"");
        VariantInit(&postData);
        VariantInit(&headers);
        headers.vt = VT_BSTR;
        headers.bstrVal = SysAllocString(L"");
        VARIANT_BOOL cancel = VARIANT_FALSE;

        VARIANT args[7];
        for (VARIANT& arg : args)
            VariantInit(&arg);
        args[6].vt = VT_DISPATCH;
        args[6].pdispVal = static_cast<IWebBrowser2*>(this);
        args[5].vt = VT_BYREF | VT_VARIANT;
        args[5].pvarVal = &url;
        args[4].vt = VT_BYREF | VT_VARIANT;
        args[4].pvarVal = &flags;
        args[3].vt = VT_BYREF | VT_VARIANT;
        args[3].pvarVal = &frame;
        args[2].vt = VT_BYREF | VT_VARIANT;
        args[2].pvarVal = &postData;
        args[1].vt = VT_BYREF | VT_VARIANT;
        args[1].pvarVal = &headers;
        args[0].vt = VT_BYREF | VT_BOOL;
        args[0].pboolVal = &cancel;
        DISPPARAMS params = {args, nullptr, 7, 0};
        IDispatch* listener = events.listener;
        listener->AddRef();
        listener->Invoke(DISPID_BEFORENAVIGATE2, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                         nullptr, nullptr);
        listener->Release();
        VariantClear(&url);
        VariantClear(&frame);
        VariantClear(&headers);
        return cancel == VARIANT_TRUE;
    }

    void LoadPending()
    {
        std::wstring address;
        address.swap(pending);
        if (address.empty())
            return;
        // A hand-off inside BeforeNavigate2 tears the control down: keep
        // this object alive until the end of the call.
        AddRef();
        if (!BeforeNavigate(address)) {
            page = Summarise(FetchPage(address));
            if (!page.scriptErrorReport.empty())
                ReportScriptError(page.scriptErrorReport);
            if (window) {
                InvalidateRect(window, nullptr, TRUE);
                if (!page.link.empty() && !page.followOnClick)
                    SetTimer(window, kFollowLinkTimer, 500, nullptr);
            }
        }
        Release();
    }

    // Asks the container as the engine does on a script error, and once more
    // with another command of the same group, and reports both answers: the
    // result, and the variant the first one gave back.
    void ReportScriptError(const std::wstring& reportPath)
    {
        HRESULT asked = E_NOINTERFACE;
        HRESULT other = E_NOINTERFACE;
        VARIANT out;
        VariantInit(&out);
        IOleCommandTarget* target = nullptr;
        if (clientSite && SUCCEEDED(clientSite->QueryInterface(IID_IOleCommandTarget,
                                                               reinterpret_cast<void**>(&target)))) {
            // The engine passes its document; this stand-in is all there is.
            VARIANT in;
            VariantInit(&in);
            in.vt = VT_UNKNOWN;
            in.punkVal = static_cast<IWebBrowser2*>(this);
            asked = target->Exec(&kDocHostCommandGroup, OLECMDID_SHOWSCRIPTERROR, OLECMDEXECOPT_DODEFAULT,
                                 &in, &out);
            other = target->Exec(&kDocHostCommandGroup, OLECMDID_SHOWFIND, OLECMDEXECOPT_DODEFAULT, nullptr,
                                 nullptr);
            target->Release();
        }
        // Written to a file rather than fetched: under Wine a second fetch
        // from within this message failed before reaching the server.
        if (FILE* record = _wfopen(reportPath.c_str(), L"w")) {
            std::fprintf(record, "answer=%08lx vt=%u value=%d other=%08lx\n", static_cast<unsigned long>(asked),
                         unsigned(out.vt), out.vt == VT_BOOL ? int(out.boolVal) : 0,
                         static_cast<unsigned long>(other));
            std::fclose(record);
        }
        VariantClear(&out);
    }

    void Paint(HWND target)
    {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(target, &paint);
        RECT area;
        GetClientRect(target, &area);
        SetBkMode(dc, TRANSPARENT);
        HFONT heading = CreateFontW(-28, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0,
                                    ANTIALIASED_QUALITY, 0, L"\u5b8b\u4f53");
        HFONT link = CreateFontW(-22, 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE, DEFAULT_CHARSET, 0, 0,
                                 ANTIALIASED_QUALITY, 0, L"\u5b8b\u4f53");
        HGDIOBJ previous = SelectObject(dc, heading);
        SetTextColor(dc, RGB(40, 40, 40));
        RECT top = {0, area.bottom / 3 - 30, area.right, area.bottom / 3 + 10};
        DrawTextW(dc, page.heading.c_str(), -1, &top, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, link);
        SetTextColor(dc, RGB(0, 70, 200));
        RECT middle = {0, area.bottom / 2 - 15, area.right, area.bottom / 2 + 20};
        DrawTextW(dc, page.linkText.c_str(), -1, &middle, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, previous);
        DeleteObject(heading);
        DeleteObject(link);
        EndPaint(target, &paint);
    }

    void FollowLink()
    {
        std::wstring address;
        address.swap(page.link);
        AddRef();
        if (!BeforeNavigate(address))
            FetchPage(address);
        Release();
    }

    LONG references = 1;
    EventPoint events;
    IOleClientSite* clientSite = nullptr;
    HWND window = nullptr;
    std::wstring pending;
    PageSummary page;

    friend class EventPoint;
};

STDMETHODIMP EventPoint::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) EventPoint::AddRef() { return owner->AddRef(); }
STDMETHODIMP_(ULONG) EventPoint::Release() { return owner->Release(); }
STDMETHODIMP EventPoint::GetConnectionPointContainer(IConnectionPointContainer** container)
{
    *container = static_cast<IConnectionPointContainer*>(owner);
    owner->AddRef();
    return S_OK;
}

class Factory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        static bool registered = [] {
            WNDCLASSW windowClass = {};
            windowClass.lpfnWndProc = StandInBrowser::WindowProc;
            windowClass.hInstance = moduleInstance;
            windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
            windowClass.lpszClassName = kWindowClass;
            return RegisterClassW(&windowClass) != 0;
        }();
        if (!registered)
            return E_FAIL;
        auto* browser = new StandInBrowser();
        HRESULT hr = static_cast<IWebBrowser2*>(browser)->QueryInterface(iid, object);
        static_cast<IWebBrowser2*>(browser)->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        moduleInstance = instance;
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, void** object)
{
    if (!IsEqualCLSID(classId, kStandInClassId))
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, object);
}

// Stays loaded: the launcher's hosted control lives as long as the process.
STDAPI DllCanUnloadNow() { return S_FALSE; }

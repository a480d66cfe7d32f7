#include "LoginPanel.h"

#include <exdisp.h>
#include <ocidl.h>

#include <memory>
#include <string>

#include "AxHostWindow.h"
#include "FramelessStyle.h"
#include "GameEntry.h"
#include "GdiPlusBitmap.h"
#include "LauncherState.h"
#include "Maintenance.h"
#include "NavigationListener.h"
#include "ScopedHandles.h"
#include "SkinLayout.h"
#include "resource.h"

const wchar_t kPanelWindowClass[] = L"childTransparent";
const wchar_t kBrowserProgId[] = L"shell.Explorer.2";

WebBrwoser2EventListener* navigationListener;

namespace {

// Pure yellow is the panel's transparency key.
constexpr COLORREF kPanelKeyColour = RGB(255, 255, 0);

struct ButtonLayout {
    int id;
    UINT image;
    SkinBox box;
};

constexpr ButtonLayout kButtons[] = {
    {kCloseButton, IDB_BTN_CLOSE, kCloseButtonBox},
    {kMinimiseButton, IDB_BTN_MINIMISE, kMinimiseButtonBox},
    {kClearButton, IDB_BTN_CLEAR, kClearButtonBox},
    {kRepairButton, IDB_BTN_REPAIR, kRepairButtonBox},
};

void CreateButtons(HWND panel)
{
    for (const ButtonLayout& button : kButtons) {
        CreateWindowExW(0, L"Button", L"", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, button.box.x, button.box.y,
                        button.box.width, button.box.height, panel,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(button.id)), appInstance, nullptr);
    }
    // The class cursor is shared by all buttons, so setting it through one
    // gives each of them the hand.
    HWND first = GetDlgItem(panel, kCloseButton);
    if (first != nullptr)
        SetClassLongPtrW(first, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(LoadCursorW(nullptr, IDC_HAND)));
}

void CreateBrowserControl(HWND host)
{
    auto* hostInterface = reinterpret_cast<IAxWinHostWindow*>(SendMessageW(host, AxGetHostMessage(), 0, 0));
    if (hostInterface == nullptr)
        return;
    // The host keeps its own reference; this one only proves creation.
    ComPtr<IUnknown> control;
    hostInterface->CreateControlEx(kBrowserProgId, host, nullptr, control.Put(), IID_NULL, nullptr);
}

void Navigate(IWebBrowser2* browser, const std::wstring& address)
{
    VARIANT url;
    VariantInit(&url);
    url.vt = VT_BSTR;
    url.bstrVal = SysAllocStringLen(address.c_str(), static_cast<UINT>(address.size()));
    browser->Navigate2(&url, nullptr, nullptr, nullptr, nullptr);
    VariantClear(&url);
}

WebBrwoser2EventListener* AttachNavigationListener(IWebBrowser2* browser)
{
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(browser->QueryInterface(IID_IConnectionPointContainer, container.PutVoid())))
        return nullptr;
    ComPtr<IConnectionPoint> point;
    if (FAILED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.Put())))
        return nullptr;
    // Lives as long as the process: the connection point holds it to the end.
    auto listener = std::make_unique<WebBrwoser2EventListener>();
    DWORD cookie = 0;
    if (FAILED(point->Advise(listener.get(), &cookie)))
        return nullptr;
    return listener.release();
}

void BuildPanel(HWND panel)
{
    MakeFrameless(panel);

    CreateButtons(panel);

    const std::wstring loginAddress = ReadWholeConfigValue(L"loginURL");
    browserHost = CreateWindowExW(0, kAxHostWindowClass, nullptr, WS_CHILD | WS_VISIBLE, kBrowserBox.x, kBrowserBox.y,
                                  kBrowserBox.width, kBrowserBox.height, panel, nullptr, appInstance, nullptr);
    if (browserHost != nullptr)
        CreateBrowserControl(browserHost);

    // Without a browser the panel still shows its buttons, and they still work.
    WebBrwoser2EventListener* listener = nullptr;
    if (SUCCEEDED(QueryBrowserControl()) && webBrowser != nullptr) {
        const auto browser = ComPtr<IWebBrowser2>::Adopt(webBrowser);
        Navigate(browser.Get(), loginAddress);
        listener = AttachNavigationListener(browser.Get());
    }

    ReadConfigValue(L"webEnter", webEnterText, kPathChars);
    if (listener != nullptr) {
        listener->enterMarker = webEnterText;
        listener->onEnterGame = LaunchUpdater;
        navigationListener = listener;
    }
}

void DrawButton(const DRAWITEMSTRUCT* item)
{
    UINT image = 0;
    for (const ButtonLayout& button : kButtons) {
        if (static_cast<UINT>(button.id) == item->CtlID)
            image = button.image;
    }
    if (image == 0)
        return;
    Gdiplus::Graphics graphics(item->hDC);
    // Loaded afresh on every draw, and gone before the graphics object.
    const auto bitmap = std::make_unique<CGdiPlusBitmapResource>();
    bitmap->Load(image);
    if (bitmap->GetBitmap() != nullptr)
        graphics.DrawImage(bitmap->GetBitmap(), 0, 0);
}

void OnCommand(HWND panel, WPARAM command)
{
    // The whole wParam: only a click (notification 0) of a button counts.
    switch (command) {
    case kCloseButton:
        if (MessageBoxW(panel, L"此操作将退出游戏,是否继续!", L"警告", MB_OKCANCEL) == IDOK)
            PostQuitMessage(100);
        break;
    case kMinimiseButton:
        ShowWindow(mainWindow, SW_SHOWMINIMIZED);
        break;
    case kClearButton:
        ClearBrowserTraces();
        break;
    case kRepairButton:
        RepairInstallation(panel);
        break;
    default:
        break;
    }
}

}  // namespace

bool RegisterPanelWindowClass()
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = PanelWndProc;
    windowClass.hInstance = appInstance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = CreateSolidBrush(kPanelKeyColour);  // kept for the process's life
    windowClass.lpszClassName = kPanelWindowClass;
    return RegisterClassExW(&windowClass) != 0;
}

HWND CreatePanelWindow(HWND owner)
{
    return CreateWindowExW(0, kPanelWindowClass, L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 0, 0, owner, nullptr,
                           appInstance, nullptr);
}

HRESULT QueryBrowserControl()
{
    webBrowser = nullptr;
    if (browserHost == nullptr)
        return E_FAIL;
    // The host hands out the control with a reference of its own.
    const auto control = ComPtr<IUnknown>::Adopt(
        reinterpret_cast<IUnknown*>(SendMessageW(browserHost, AxGetControlMessage(), 0, 0)));
    if (!control)
        return E_FAIL;
    return control->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&webBrowser));
}

void ForwardToBrowserAccelerators(MSG* message)
{
    if (FAILED(QueryBrowserControl()) || webBrowser == nullptr)
        return;
    // The control may start a navigation inside TranslateAccelerator; an
    // entry address then hands off at once, and the hand-off clears the
    // global webBrowser. This call's own reference is released through a
    // local, never through the global.
    const auto browser = ComPtr<IWebBrowser2>::Adopt(webBrowser);
    ComPtr<IOleInPlaceActiveObject> active;
    if (SUCCEEDED(browser->QueryInterface(IID_IOleInPlaceActiveObject, active.PutVoid())))
        active->TranslateAccelerator(message);
}

LRESULT CALLBACK PanelWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        BuildPanel(window);
        break;
    case WM_DESTROY:
        PostQuitMessage(100);
        break;
    case WM_DRAWITEM:
        DrawButton(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return 0;
    case WM_COMMAND:
        OnCommand(window, wParam);
        return 0;
    case WM_CTLCOLORBTN:
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetStockObject(BLACK_BRUSH));
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        SetTextColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
        return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    case WM_LBUTTONDOWN:
        // A press on the panel's own surface drags the whole launcher.
        SendMessageW(mainWindow, WM_NCLBUTTONDOWN, HTCAPTION, 0);
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

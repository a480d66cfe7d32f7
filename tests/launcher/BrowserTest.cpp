// The game entry through the real "shell.Explorer.2" control in our own host:
// the panel is created as at start-up, its browser is sent to addresses on a
// small loopback HTTP server inside this test, and the server's log shows
// which navigations went ahead.
#include <winsock2.h>
#include <windows.h>
#include <exdisp.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AxHostWindow.h"
#include "GameEntry.h"
#include "LauncherState.h"
#include "LoginPanel.h"
#include "NavigationListener.h"
#include "ScopedHandles.h"
#include "WindowsTestSupport.h"

namespace {

// Answers every GET with a small page and logs its request target.
class LoopbackServer {
public:
    bool Start()
    {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            return false;
        listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;  // any free port: builds run side by side
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(listener, 16) != 0)
            return false;
        int length = sizeof(address);
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        worker = std::thread([this] { Serve(); });
        return true;
    }
    void Stop()
    {
        stopping = true;
        closesocket(listener);
        if (worker.joinable())
            worker.join();
        WSACleanup();
    }
    std::wstring Url(const std::wstring& target) const
    {
        return L"http://127.0.0.1:" + std::to_wstring(port) + target;
    }
    bool Saw(const std::string& target)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const std::string& seen : requests)
            if (seen == target)
                return true;
        return false;
    }

private:
    void Serve()
    {
        while (!stopping) {
            SOCKET client = accept(listener, nullptr, nullptr);
            if (client == INVALID_SOCKET)
                return;
            std::string request;
            char buffer[2048];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const int got = recv(client, buffer, sizeof(buffer), 0);
                if (got <= 0)
                    break;
                request.append(buffer, got);
            }
            const size_t start = request.find(' ');
            const size_t end = start == std::string::npos ? start : request.find(' ', start + 1);
            if (end != std::string::npos) {
                std::lock_guard<std::mutex> lock(mutex);
                requests.push_back(request.substr(start + 1, end - start - 1));
            }
            const std::string body = "<html><body>page</body></html>";
            const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                                         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
            send(client, response.data(), static_cast<int>(response.size()), 0);
            shutdown(client, SD_SEND);
            closesocket(client);
        }
    }

    SOCKET listener = INVALID_SOCKET;
    int port = 0;
    std::thread worker;
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::vector<std::string> requests;
};

std::vector<std::wstring> handOffs;

void RecordHandOff(const wchar_t* address)
{
    handOffs.push_back(address);
}

template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs, int* quitCode = nullptr)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        const int quit = PumpMessages();
        if (quit >= 0 && quitCode != nullptr)
            *quitCode = quit;
        if (done())
            return true;
        Sleep(20);
    }
    return false;
}

void Navigate(const std::wstring& address)
{
    ASSERT_EQ(QueryBrowserControl(), S_OK);
    VARIANT url;
    url.vt = VT_BSTR;
    url.bstrVal = SysAllocString(address.c_str());
    webBrowser->Navigate2(&url, nullptr, nullptr, nullptr, nullptr);
    VariantClear(&url);
    webBrowser->Release();
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ole.Started());
        ASSERT_TRUE(server.Start());
        dir = MakeTestDirectory(L"browser");
        UseLauncherDirectory(dir);
        WriteConfig(dir, L"loginURL", server.Url(L"/login.htm"));
        WriteConfig(dir, L"webEnter", L"/door/open");
        WriteConfig(dir, L"urlBase", L"http://res.example/");
        appInstance = GetModuleHandleW(nullptr);
        static bool registered = RegisterPanelWindowClass();
        ASSERT_TRUE(registered);
        handOffs.clear();
        navigationListener = nullptr;
        panelWindow = CreatePanelWindow(nullptr);
        ASSERT_NE(panelWindow, nullptr);
    }
    void TearDown() override
    {
        if (panelWindow != nullptr)
            DestroyWindow(panelWindow);
        panelWindow = nullptr;
        PumpMessages();
        server.Stop();
    }

    // Navigates and waits until the server sees `target` or a hand-off is made.
    void Visit(const std::wstring& target)
    {
        const size_t before = handOffs.size();
        Navigate(server.Url(target));
        PumpUntil([&] { return server.Saw(Narrow(target)) || handOffs.size() > before; }, 15000);
    }

    // First, so OLE ends only after TearDown has destroyed the panel and its
    // control.
    OleSession ole;
    LoopbackServer server;
    std::wstring dir;
};

}  // namespace

TEST_F(BrowserTest, PanelHostsTheControlAndOpensTheLoginPage)
{
    wchar_t className[64] = L"";
    ASSERT_NE(browserHost, nullptr);
    GetClassNameW(browserHost, className, 64);
    EXPECT_STREQ(className, L"AtlAxWin100");
    EXPECT_EQ(GetParent(browserHost), panelWindow);
    EXPECT_TRUE(PumpUntil([&] { return server.Saw("/login.htm"); }, 20000));
    ASSERT_NE(navigationListener, nullptr);
    EXPECT_EQ(navigationListener->enterMarker, webEnterText);
    EXPECT_STREQ(webEnterText, L"/door/open");

    // The host hands out the control (with a reference) and its host interface.
    auto* control = reinterpret_cast<IUnknown*>(SendMessageW(browserHost, AxGetControlMessage(), 0, 0));
    ASSERT_NE(control, nullptr);
    IWebBrowser2* browser = nullptr;
    EXPECT_EQ(control->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&browser)), S_OK);
    browser->Release();
    control->Release();
    EXPECT_NE(SendMessageW(browserHost, AxGetHostMessage(), 0, 0), 0);
}

TEST_F(BrowserTest, OnlyEntryAddressesAreCancelledAndHandedOff)
{
    ASSERT_TRUE(PumpUntil([&] { return server.Saw("/login.htm"); }, 20000));
    ASSERT_NE(navigationListener, nullptr);
    navigationListener->onEnterGame = RecordHandOff;

    const std::wstring markers[] = {L"/entergame.htm?id=7", L"/q1.htm?back=/entergame.htm?x=1", L"/door/open.php?u=2"};
    for (const std::wstring& target : markers) {
        Visit(target);
        ASSERT_FALSE(handOffs.empty()) << Narrow(target);
        EXPECT_EQ(handOffs.back(), server.Url(target));
    }
    const std::wstring nearMisses[] = {L"/EnterGame.htm?id=7", L"/entergame.htm", L"/Door/Open.php"};
    for (const std::wstring& target : nearMisses) {
        Visit(target);
        EXPECT_TRUE(server.Saw(Narrow(target))) << Narrow(target);
    }
    EXPECT_EQ(handOffs.size(), 3u);
    // Give cancelled navigations every chance to reach the server anyway.
    PumpUntil([] { return false; }, 1500);
    EXPECT_FALSE(server.Saw("/entergame.htm?id=7"));
    EXPECT_FALSE(server.Saw("/q1.htm?back=/entergame.htm?x=1"));
    EXPECT_FALSE(server.Saw("/door/open.php?u=2"));
}

TEST_F(BrowserTest, EntryStartsTheUpdaterTearsDownTheBrowserAndQuits)
{
    ASSERT_TRUE(InstallUpdaterStub(dir));
    ASSERT_TRUE(PumpUntil([&] { return server.Saw("/login.htm"); }, 20000));
    HWND host = browserHost;
    const std::wstring entry = server.Url(L"/entergame.htm?final=1");
    Navigate(entry);
    int quitCode = -1;
    EXPECT_TRUE(PumpUntil([&] { return quitCode >= 0; }, 15000, &quitCode));
    EXPECT_EQ(quitCode, 100);
    EXPECT_EQ(browserHost, nullptr);
    EXPECT_FALSE(IsWindow(host));
    const std::wstring line = WaitForUpdaterCommandLine(dir, 15000);
    const std::wstring expected = entry + L"&urlBase=http://res.example/ \"" + dir + L"qalLogin.exe\"";
    ASSERT_GE(line.size(), expected.size());
    EXPECT_EQ(line.substr(line.size() - expected.size()), expected);
    EXPECT_FALSE(server.Saw("/entergame.htm?final=1"));
}

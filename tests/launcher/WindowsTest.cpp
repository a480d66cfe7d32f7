// In-process tests of the launcher's Windows side: the navigation listener's
// entry test, the hand-off to the updater, the configuration reads and the
// deletion of the game directory.
#include <windows.h>
#include <exdisp.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "AxHostWindow.h"
#include "GameEntry.h"
#include "LauncherState.h"
#include "LoginPanel.h"
#include "Maintenance.h"
#include "NavigationListener.h"
#include "WindowsTestSupport.h"

namespace {

std::wstring handedOff;
int handOffs;

void RecordHandOff(const wchar_t* address)
{
    handedOff = address;
    ++handOffs;
}

// Fires BeforeNavigate2 at the listener the way the browser control does and
// answers whether Cancel was set.
bool FireBeforeNavigate2(WebBrwoser2EventListener& listener, VARIANT url, DISPID id = kBeforeNavigate2)
{
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT args[7];
    for (VARIANT& arg : args)
        VariantInit(&arg);
    args[5].vt = VT_BYREF | VT_VARIANT;
    args[5].pvarVal = &url;
    args[0].vt = VT_BYREF | VT_BOOL;
    args[0].pboolVal = &cancel;
    DISPPARAMS params = {args, nullptr, 7, 0};
    EXPECT_EQ(listener.Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    return cancel == VARIANT_TRUE;
}

bool Navigate(WebBrwoser2EventListener& listener, const std::wstring& address)
{
    VARIANT url;
    url.vt = VT_BSTR;
    url.bstrVal = SysAllocStringLen(address.data(), static_cast<UINT>(address.size()));
    const bool cancelled = FireBeforeNavigate2(listener, url);
    SysFreeString(url.bstrVal);
    return cancelled;
}

class ListenerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        handedOff.clear();
        handOffs = 0;
        listener.enterMarker = marker;
        listener.onEnterGame = RecordHandOff;
    }
    wchar_t marker[kPathChars] = L"";
    WebBrwoser2EventListener listener;
};

}  // namespace

TEST_F(ListenerTest, CancelsAndHandsOffOnlyTheEntryAddresses)
{
    EXPECT_TRUE(Navigate(listener, L"http://h/entergame.htm?id=1"));
    EXPECT_EQ(handedOff, L"http://h/entergame.htm?id=1");
    EXPECT_TRUE(Navigate(listener, L"http://h/login.htm?back=/entergame.htm?x"));
    EXPECT_EQ(handOffs, 2);

    EXPECT_FALSE(Navigate(listener, L"http://h/EnterGame.htm?id=1"));
    EXPECT_FALSE(Navigate(listener, L"http://h/entergame.htm"));
    EXPECT_FALSE(Navigate(listener, L"http://h/door/open.php"));
    EXPECT_EQ(handOffs, 2);

    // The configured marker is read at each event.
    lstrcpyW(marker, L"/door/open");
    EXPECT_TRUE(Navigate(listener, L"http://h/door/open.php"));
    EXPECT_EQ(handOffs, 3);
}

TEST_F(ListenerTest, LongAddressIsExaminedAndHandedOnWhole)
{
    const std::wstring address = L"http://h/p?pad=" + std::wstring(3000, L'a') + L"/entergame.htm?k=v";
    EXPECT_TRUE(Navigate(listener, address));
    EXPECT_EQ(handedOff, address);
}

TEST_F(ListenerTest, IgnoresOtherEventsAndUrlsThatAreNoStrings)
{
    VARIANT url;
    url.vt = VT_BSTR;
    url.bstrVal = SysAllocString(L"http://h/entergame.htm?id=1");
    EXPECT_FALSE(FireBeforeNavigate2(listener, url, 259));  // DocumentComplete
    SysFreeString(url.bstrVal);

    VARIANT number;
    number.vt = VT_I4;
    number.lVal = 42;
    EXPECT_FALSE(FireBeforeNavigate2(listener, number));

    VARIANT nullString;
    nullString.vt = VT_BSTR;
    nullString.bstrVal = nullptr;
    EXPECT_FALSE(FireBeforeNavigate2(listener, nullString));

    DISPPARAMS tooFew = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(listener.Invoke(kBeforeNavigate2, IID_NULL, 0, DISPATCH_METHOD, &tooFew, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(handOffs, 0);
}

TEST_F(ListenerTest, AnswersItsThreeInterfacesAndCountsNothing)
{
    void* object = nullptr;
    EXPECT_EQ(listener.QueryInterface(DIID_DWebBrowserEvents2, &object), S_OK);
    EXPECT_EQ(object, static_cast<IDispatch*>(&listener));
    EXPECT_EQ(listener.QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(listener.QueryInterface(IID_IDispatch, &object), S_OK);
    EXPECT_EQ(listener.QueryInterface(IID_IWebBrowser2, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(listener.AddRef(), 1u);
    EXPECT_EQ(listener.Release(), 1u);
    EXPECT_EQ(listener.GetTypeInfoCount(nullptr), E_NOTIMPL);
}

class HandOffTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PumpMessages();
        dir = MakeTestDirectory(L"launcher");
        ASSERT_FALSE(dir.empty());
        UseLauncherDirectory(dir);
    }
    // The raw command line the updater got, after the quoted program path.
    std::wstring ParametersSeen()
    {
        const std::wstring line = WaitForUpdaterCommandLine(dir, 15000);
        const std::wstring program = L"\"" + dir + L"qalUpdate.exe\" ";
        if (line.compare(0, program.size(), program) != 0)
            return L"<unexpected: " + line + L">";
        return line.substr(program.size());
    }
    std::wstring dir;
};

TEST_F(HandOffTest, StartsTheUpdaterWithTheExactParametersAndQuits)
{
    ASSERT_TRUE(InstallUpdaterStub(dir));
    WriteConfig(dir, L"urlBase", L"http://res.example/base/");
    LaunchUpdater(L"http://h/entergame.htm?id=1 two");
    EXPECT_EQ(PumpMessages(), 100);
    EXPECT_EQ(ParametersSeen(),
              L"http://h/entergame.htm?id=1 two&urlBase=http://res.example/base/ \"" + dir + L"qalLogin.exe\"");
}

TEST_F(HandOffTest, LeavesOutABaseAddressWithoutLowerCaseHttp)
{
    ASSERT_TRUE(InstallUpdaterStub(dir));
    WriteConfig(dir, L"urlBase", L"HTTP://RES.EXAMPLE/");
    LaunchUpdater(L"http://h/entergame.htm?id=2");
    EXPECT_EQ(PumpMessages(), 100);
    EXPECT_EQ(ParametersSeen(), L"http://h/entergame.htm?id=2 \"" + dir + L"qalLogin.exe\"");
}

TEST_F(HandOffTest, LongAddressesReachTheUpdaterWhole)
{
    ASSERT_TRUE(InstallUpdaterStub(dir));
    const std::wstring base = L"http://res.example/" + std::wstring(1500, L'b') + L"/";
    WriteConfig(dir, L"urlBase", base);
    const std::wstring entry = L"http://h/entergame.htm?t=" + std::wstring(2000, L'e');
    LaunchUpdater(entry.c_str());
    EXPECT_EQ(PumpMessages(), 100);
    EXPECT_EQ(ParametersSeen(), entry + L"&urlBase=" + base + L" \"" + dir + L"qalLogin.exe\"");
}

TEST_F(HandOffTest, AnUpdaterLeftAsideIsPutBackAndStarted)
{
    // A run ended between the updater's two renames: no qalUpdate.exe, its
    // image aside, and an older image aside from an earlier replacement.
    ASSERT_TRUE(InstallUpdaterStub(dir));
    const std::wstring newest = dir + L"qalUpdate.exe.0000abcd.old", older = dir + L"qalUpdate.exe.00001234.old";
    ASSERT_TRUE(MoveFileW((dir + L"qalUpdate.exe").c_str(), newest.c_str()));
    ASSERT_TRUE(CopyFileW(newest.c_str(), older.c_str(), TRUE));
    {
        HANDLE file = CreateFileW(older.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        FILETIME longAgo = {0x5A5A0000u, 0x01D00000u};  // 2014
        EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &longAgo));
        CloseHandle(file);
    }
    LaunchUpdater(L"http://h/entergame.htm?id=5");
    EXPECT_EQ(PumpMessages(), 100);
    EXPECT_EQ(ParametersSeen(), L"http://h/entergame.htm?id=5 \"" + dir + L"qalLogin.exe\"");
    EXPECT_FALSE(Exists(newest));
    EXPECT_TRUE(Exists(older));
}

TEST_F(HandOffTest, MissingUpdaterStillQuitsAndDestroysTheBrowserHost)
{
    // An updater elsewhere, where a search by bare name would find it, must
    // not be mistaken for the missing one.
    const std::wstring elsewhere = MakeTestDirectory(L"elsewhere");
    ASSERT_TRUE(InstallUpdaterStub(elsewhere));
    SearchedDirectory searched(elsewhere);
    browserHost = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    HWND host = browserHost;
    LaunchUpdater(L"http://h/entergame.htm?id=3");
    EXPECT_EQ(PumpMessages(), 100);
    EXPECT_EQ(browserHost, nullptr);
    EXPECT_FALSE(IsWindow(host));
    ASSERT_TRUE(UpdaterStartedLikeTheLauncherIsSeen(15000));
    EXPECT_FALSE(Exists(elsewhere + L"updater-command-line.txt"));
}

TEST_F(HandOffTest, WithoutALauncherDirectoryNothingIsStartedFromElsewhere)
{
    // An updater in the working directory or on PATH must not be mistaken
    // for ours.
    ASSERT_TRUE(InstallUpdaterStub(dir));
    SearchedDirectory searched(dir);
    launcherPath[0] = launcherDir[0] = configPath[0] = L'\0';
    LaunchUpdater(L"http://h/entergame.htm?id=4");
    EXPECT_EQ(PumpMessages(), 100);
    ASSERT_TRUE(UpdaterStartedLikeTheLauncherIsSeen(15000));
    EXPECT_FALSE(Exists(dir + L"updater-command-line.txt"));
}

namespace {

// Stands in for the browser control: its keyboard handling navigates to an
// entry address synchronously, as the real control may, so the hand-off runs
// inside TranslateAccelerator. Counts its references honestly.
class SynchronousEntryControl : public IOleInPlaceActiveObject {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        // The code under test only calls IUnknown's slots on its
        // IWebBrowser2, so this object's own vtable serves for that too.
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleWindow) ||
            IsEqualIID(iid, IID_IOleInPlaceActiveObject) || IsEqualIID(iid, IID_IWebBrowser2)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(++references); }
    STDMETHODIMP_(ULONG) Release() override
    {
        EXPECT_GT(references, 0) << "released more often than referenced";
        return ULONG(--references);
    }
    STDMETHODIMP GetWindow(HWND*) override { return E_NOTIMPL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*) override
    {
        ++translated;
        LaunchUpdater(L"http://h/entergame.htm?key=1");
        return S_OK;
    }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

    int references = 1;  // the host's
    int translated = 0;
};

SynchronousEntryControl* hostedControl;

// Answers the control the way the real host window does, and drops its
// reference when destroyed.
LRESULT CALLBACK StandInHostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == AxGetControlMessage() && hostedControl) {
        hostedControl->AddRef();
        return reinterpret_cast<LRESULT>(static_cast<IUnknown*>(hostedControl));
    }
    if (message == WM_DESTROY && hostedControl)
        hostedControl->Release();
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

TEST_F(HandOffTest, HandOffInsideKeyboardHandlingLeavesNoDanglingRelease)
{
    WNDCLASSW standIn = {};
    standIn.lpfnWndProc = StandInHostProc;
    standIn.hInstance = GetModuleHandleW(nullptr);
    standIn.lpszClassName = L"qalStandInBrowserHost";
    RegisterClassW(&standIn);
    SynchronousEntryControl control;
    hostedControl = &control;
    browserHost = CreateWindowExW(0, standIn.lpszClassName, L"", 0, 0, 0, 1, 1, nullptr, nullptr,
                                  standIn.hInstance, nullptr);
    ASSERT_NE(browserHost, nullptr);

    MSG key = {browserHost, WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
    ForwardToBrowserAccelerators(&key);
    EXPECT_EQ(control.translated, 1);
    EXPECT_EQ(browserHost, nullptr);
    EXPECT_EQ(webBrowser, nullptr);
    EXPECT_EQ(control.references, 0);
    EXPECT_EQ(PumpMessages(), 100);
    hostedControl = nullptr;
}

TEST(Config, ValuesAreCutToTheirBuffersButAddressesAreReadWhole)
{
    const std::wstring dir = MakeTestDirectory(L"config");
    UseLauncherDirectory(dir);
    WriteConfig(dir, L"name", std::wstring(1500, L'n'));
    WriteConfig(dir, L"loginURL", L"http://h/" + std::wstring(3000, L'u'));
    wchar_t name[kAddressChars];
    ReadConfigValue(L"name", name, kAddressChars);
    EXPECT_EQ(std::wstring(name), std::wstring(1023, L'n'));
    EXPECT_EQ(ReadWholeConfigValue(L"loginURL"), L"http://h/" + std::wstring(3000, L'u'));
    EXPECT_EQ(ReadWholeConfigValue(L"urlBase"), L"");
}

TEST(Config, TheReadmeExampleReadsAsItSays)
{
    // An operator copies the README's example as it stands.
    wchar_t source[MAX_PATH] = L"";
    ASSERT_GT(GetEnvironmentVariableW(L"QAL_SOURCE_DIR", source, MAX_PATH), 0u);
    std::wstring readme = L"Z:" + std::wstring(source) + L"/README.md";
    for (wchar_t& c : readme)
        c = c == L'/' ? L'\\' : c;
    FILE* file = _wfopen(readme.c_str(), L"rb");
    ASSERT_NE(file, nullptr);
    std::string text;
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, file)) > 0;)
        text.append(chunk, got);
    fclose(file);
    size_t begin = text.find("```ini\n");
    ASSERT_NE(begin, std::string::npos);
    begin += 7;
    size_t end = text.find("```", begin);
    ASSERT_NE(end, std::string::npos);

    const std::wstring dir = MakeTestDirectory(L"readme config");
    UseLauncherDirectory(dir);
    ASSERT_TRUE(WriteFileText(dir + L"wdConfig.ini", text.substr(begin, end - begin)));
    wchar_t name[kAddressChars];
    ReadConfigValue(L"name", name, kAddressChars);
    EXPECT_STREQ(name, L"Orvane");
    wchar_t marker[kPathChars];
    ReadConfigValue(L"webEnter", marker, kPathChars);
    EXPECT_STREQ(marker, L"");
    EXPECT_EQ(ReadWholeConfigValue(L"loginURL"), L"https://login.example.com/");
    EXPECT_EQ(ReadWholeConfigValue(L"urlBase"), L"http://cdn.example.com/qal_lianyun/micro/");
}

TEST(Config, UnusableConfigPathReadsAsMissingConfiguration)
{
    const std::wstring dir = MakeTestDirectory(L"config");
    UseLauncherDirectory(dir);
    WriteConfig(dir, L"name", L"Orvane");
    configPath[0] = L'\0';  // what a launcher directory too long for it leaves
    wchar_t name[kAddressChars] = L"stale";
    ReadConfigValue(L"name", name, kAddressChars);
    EXPECT_STREQ(name, L"");
    EXPECT_EQ(ReadWholeConfigValue(L"name"), L"");
}

class DeleteTreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = MakeTestDirectory(L"tree");
        game = root + L"game";
        CreateDirectoryW(game.c_str(), nullptr);
        CreateDirectoryW((game + L"\\a").c_str(), nullptr);
        CreateDirectoryW((game + L"\\a\\b").c_str(), nullptr);
        WriteFileText(game + L"\\top.txt", "1");
        WriteFileText(game + L"\\a\\mid.dat", "2");
        WriteFileText(game + L"\\a\\b\\deep.bin", "3");
    }
    std::wstring root;
    std::wstring game;
};

TEST_F(DeleteTreeTest, RemovesNestedTreeWithOrWithoutTrailingBackslash)
{
    EXPECT_EQ(DeleteDirectoryTree(game.c_str()), 1);
    EXPECT_FALSE(Exists(game));
    SetUp();
    EXPECT_EQ(DeleteDirectoryTree((game + L"\\").c_str()), 1);
    EXPECT_FALSE(Exists(game));
    EXPECT_TRUE(Exists(root));
}

TEST_F(DeleteTreeTest, KeepsReadOnlyFileAndTheDirectoriesAboveIt)
{
    const std::wstring kept = game + L"\\a\\b\\locked.cfg";
    WriteFileText(kept, "keep");
    SetFileAttributesW(kept.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(DeleteDirectoryTree(game.c_str()), 1);
    EXPECT_TRUE(Exists(kept));
    EXPECT_FALSE(Exists(game + L"\\a\\b\\deep.bin"));
    EXPECT_FALSE(Exists(game + L"\\a\\mid.dat"));
    EXPECT_FALSE(Exists(game + L"\\top.txt"));
    SetFileAttributesW(kept.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(DeleteTreeTest, AnswersZeroForMissingOrEmptyPaths)
{
    EXPECT_EQ(DeleteDirectoryTree(nullptr), 0);
    EXPECT_EQ(DeleteDirectoryTree(L""), 0);
    EXPECT_EQ(DeleteDirectoryTree((root + L"no such dir").c_str()), 0);
    EXPECT_TRUE(Exists(game + L"\\top.txt"));
}

TEST_F(DeleteTreeTest, SkipsAnEntryWhosePathDoesNotFitInsteadOfCuttingIt)
{
    // A name that takes the entry's full path past 259 characters: it is left
    // alone (cut, its path would name another entry), the rest still goes.
    const std::wstring prefix = game + L"\\a\\";
    const size_t room = 259 - prefix.size();
    ASSERT_GT(room, 10u);
    const std::wstring longPath = L"\\\\?\\" + prefix + std::wstring(room, L'x') + L"-tail.dat";
    ASSERT_TRUE(WriteFileText(longPath, "long"));

    EXPECT_EQ(DeleteDirectoryTree(game.c_str()), 1);
    EXPECT_TRUE(Exists(longPath));
    EXPECT_FALSE(Exists(game + L"\\a\\b"));
    EXPECT_FALSE(Exists(game + L"\\a\\mid.dat"));
    EXPECT_FALSE(Exists(game + L"\\top.txt"));
    DeleteFileW(longPath.c_str());
}

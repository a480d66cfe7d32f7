#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "DownloadProgress.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace {

class DownloadProgressTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitCommonControls();
        parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
        bar = CreateWindowExW(0, L"msctls_progress32", nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 80, 16, parent,
                              nullptr, nullptr, nullptr);
        ASSERT_NE(bar, nullptr);
    }
    void TearDown() override { DestroyWindow(parent); }
    int Position() { return int(SendMessageW(bar, PBM_GETPOS, 0, 0)); }

    HWND parent = nullptr;
    HWND bar = nullptr;
};

using CallingBack = std::pair<DownloadProgress*, std::atomic<bool>*>;

DWORD WINAPI CallBackUntilStopped(LPVOID parameter)
{
    auto* args = static_cast<CallingBack*>(parameter);
    while (!args->second->load())
        args->first->OnProgress(0, 0, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    return 0;
}

}  // namespace

TEST_F(DownloadProgressTest, MovesTheBarInPercentWithoutOverflow)
{
    DownloadProgress progress(bar);
    EXPECT_EQ(progress.OnProgress(50, 200, BINDSTATUS_DOWNLOADINGDATA, nullptr), S_OK);
    EXPECT_EQ(Position(), 25);
    // 100 x received no longer fits 32 bits here.
    EXPECT_EQ(progress.OnProgress(60000000u, 80000000u, BINDSTATUS_DOWNLOADINGDATA, nullptr), S_OK);
    EXPECT_EQ(Position(), 75);
    EXPECT_EQ(progress.OnProgress(4000000000u, 4000000000u, BINDSTATUS_ENDDOWNLOADDATA, nullptr), S_OK);
    EXPECT_EQ(Position(), 100);
    EXPECT_EQ(ProgressPercent(42949673u, 42949673u), 100u);
    EXPECT_EQ(ProgressPercent(1u, 3u), 33u);
}

TEST_F(DownloadProgressTest, NoTotalLeavesTheBarAlone)
{
    DownloadProgress progress(bar);
    progress.OnProgress(30, 100, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    EXPECT_EQ(progress.OnProgress(500, 0, BINDSTATUS_DOWNLOADINGDATA, nullptr), S_FALSE);
    EXPECT_EQ(Position(), 30);
}

TEST_F(DownloadProgressTest, AnswersForItsInterfacesWithoutCounting)
{
    DownloadProgress progress(nullptr);
    void* object = nullptr;
    EXPECT_EQ(progress.QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(object, static_cast<IBindStatusCallback*>(&progress));
    EXPECT_EQ(progress.QueryInterface(IID_IBindStatusCallback, &object), S_OK);
    EXPECT_EQ(object, static_cast<IBindStatusCallback*>(&progress));
    EXPECT_EQ(progress.QueryInterface(IID_IHttpNegotiate, &object), S_OK);
    EXPECT_EQ(object, static_cast<IHttpNegotiate*>(&progress));
    EXPECT_EQ(progress.QueryInterface(IID_IAuthenticate, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(progress.AddRef(), 1u);
    EXPECT_EQ(progress.Release(), 1u);
    EXPECT_EQ(progress.Release(), 1u);

    EXPECT_EQ(progress.OnStartBinding(0, nullptr), E_NOTIMPL);
    EXPECT_EQ(progress.GetPriority(nullptr), E_NOTIMPL);
    EXPECT_EQ(progress.OnLowResource(0), S_OK);
    EXPECT_EQ(progress.OnStopBinding(S_OK, nullptr), E_NOTIMPL);
    EXPECT_EQ(progress.GetBindInfo(nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(progress.OnDataAvailable(0, 0, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(progress.OnObjectAvailable(IID_IUnknown, nullptr), E_NOTIMPL);
    // Without a bar a download still reports, and moves nothing.
    EXPECT_EQ(progress.OnProgress(1, 2, BINDSTATUS_DOWNLOADINGDATA, nullptr), S_OK);
}

TEST_F(DownloadProgressTest, ErrorStatusAndShortBodyCountAsFailures)
{
    DownloadProgress progress(bar);
    progress.BeginDownload();
    EXPECT_FALSE(progress.DownloadFailed(0));
    progress.OnResponse(200, L"", nullptr, nullptr);
    progress.OnProgress(100, 100, BINDSTATUS_ENDDOWNLOADDATA, nullptr);
    EXPECT_FALSE(progress.DownloadFailed(100));

    progress.BeginDownload();
    progress.OnResponse(404, L"", nullptr, nullptr);
    EXPECT_TRUE(progress.DownloadFailed(9));
    progress.BeginDownload();
    progress.OnResponse(500, L"", nullptr, nullptr);
    EXPECT_TRUE(progress.DownloadFailed(9));

    // A body cut short of its announced length fails, judged by the bytes
    // written; a whole one whose last piece went unreported does not.
    progress.BeginDownload();
    progress.OnResponse(200, L"", nullptr, nullptr);
    progress.OnProgress(40, 100, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    progress.OnProgress(50, 100, BINDSTATUS_ENDDOWNLOADDATA, nullptr);
    EXPECT_TRUE(progress.DownloadFailed(50));
    EXPECT_TRUE(progress.DownloadFailed(99));
    progress.OnProgress(190, 200, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    EXPECT_FALSE(progress.DownloadFailed(200));
    EXPECT_TRUE(progress.DownloadFailed(190));

    progress.BeginDownload();  // a fresh download forgets the last one
    EXPECT_FALSE(progress.DownloadFailed(0));
    LPWSTR extra = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(progress.BeginningTransaction(L"http://h/", L"", 0, &extra), S_OK);
    EXPECT_EQ(extra, nullptr);
}

TEST_F(DownloadProgressTest, ATransferCallingBackIsNeverQuiet)
{
    // The watching thread reads the silence while the transfer's thread
    // keeps calling back; a reading that mixes a note newer than its clock
    // would end a transfer that is going well.
    DownloadProgress progress(nullptr);
    std::atomic<bool> stop{false};
    CallingBack args(&progress, &stop);
    HANDLE thread = CreateThread(nullptr, 0, CallBackUntilStopped, &args, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    DWORD longest = 0;
    const DWORD started = GetTickCount();
    while (GetTickCount() - started < 2000)
        longest = std::max(longest, progress.QuietMilliseconds());
    stop = true;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_LT(longest, 1000u);
}

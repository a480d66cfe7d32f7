// The launcher's Windows-free rules: entry markers, the updater's parameter
// string and path forming that refuses instead of cutting.
#include <gtest/gtest.h>

#include <string>

#include "BoundedText.h"
#include "GameEntryRules.h"

TEST(GameEntryAddress, MatchesBuiltInMarkerAnywhereAndOnlyInItsExactCase)
{
    EXPECT_TRUE(IsGameEntryAddress(L"http://h/entergame.htm?id=1", L""));
    EXPECT_TRUE(IsGameEntryAddress(L"http://h/login?back=http://h/entergame.htm?x", L""));
    EXPECT_FALSE(IsGameEntryAddress(L"http://h/EnterGame.htm?id=1", L""));
    EXPECT_FALSE(IsGameEntryAddress(L"http://h/entergame.htm", L""));
    EXPECT_FALSE(IsGameEntryAddress(L"http://h/entergame.html", L""));
    EXPECT_FALSE(IsGameEntryAddress(nullptr, L"x"));
    EXPECT_FALSE(IsGameEntryAddress(L"", L""));
}

TEST(GameEntryAddress, ConfiguredMarkerCountsOnlyWhenNotEmpty)
{
    EXPECT_TRUE(IsGameEntryAddress(L"http://h/go/play.php", L"/go/play"));
    EXPECT_FALSE(IsGameEntryAddress(L"http://h/GO/PLAY.php", L"/go/play"));
    EXPECT_FALSE(IsGameEntryAddress(L"http://h/index.htm", L""));
    EXPECT_FALSE(IsGameEntryAddress(L"http://h/index.htm", nullptr));
}

TEST(GameEntryAddress, MarkerFarBeyondAnyFixedBufferStillCounts)
{
    std::wstring address = L"http://h/p?pad=" + std::wstring(5000, L'a') + L"/entergame.htm?k=v";
    EXPECT_TRUE(IsGameEntryAddress(address.c_str(), L""));
}

TEST(UpdaterParameters, BaseAddressOnlyWhenItContainsLowerCaseHttp)
{
    const wchar_t* entry = L"http://h/entergame.htm?u=1";
    const wchar_t* launcher = L"C:\\Games\\Orvane\\qalLogin.exe";
    EXPECT_EQ(BuildUpdaterParameters(entry, L"http://res/base/", launcher),
              L"http://h/entergame.htm?u=1&urlBase=http://res/base/ \"C:\\Games\\Orvane\\qalLogin.exe\"");
    EXPECT_EQ(BuildUpdaterParameters(entry, L"HTTP://RES/", launcher),
              L"http://h/entergame.htm?u=1 \"C:\\Games\\Orvane\\qalLogin.exe\"");
    EXPECT_EQ(BuildUpdaterParameters(entry, L"res://x/?proto=http", launcher),
              L"http://h/entergame.htm?u=1&urlBase=res://x/?proto=http \"C:\\Games\\Orvane\\qalLogin.exe\"");
    EXPECT_EQ(BuildUpdaterParameters(entry, L"", launcher), L"http://h/entergame.htm?u=1 \"C:\\Games\\Orvane\\qalLogin.exe\"");
    EXPECT_EQ(BuildUpdaterParameters(entry, nullptr, launcher),
              L"http://h/entergame.htm?u=1 \"C:\\Games\\Orvane\\qalLogin.exe\"");
}

TEST(UpdaterParameters, SpacesStayPlainAndLongPiecesAreKeptWhole)
{
    EXPECT_EQ(BuildUpdaterParameters(L"http://h/entergame.htm?n=a b", L"http://r/", L"C:\\dir with spaces\\qalLogin.exe"),
              L"http://h/entergame.htm?n=a b&urlBase=http://r/ \"C:\\dir with spaces\\qalLogin.exe\"");
    const std::wstring entry = L"http://h/entergame.htm?t=" + std::wstring(3000, L'x');
    const std::wstring base = L"http://r/" + std::wstring(2000, L'y');
    const std::wstring path = L"C:\\" + std::wstring(250, L'z') + L"\\qalLogin.exe";
    EXPECT_EQ(BuildUpdaterParameters(entry.c_str(), base.c_str(), path.c_str()),
              entry + L"&urlBase=" + base + L" \"" + path + L"\"");
}

TEST(BoundedText, JoinFitsExactlyOrRefusesWithEmptyResult)
{
    wchar_t out[8];
    EXPECT_TRUE(JoinText(out, 8, L"abc", L"defg"));  // 7 characters and the terminator
    EXPECT_STREQ(out, L"abcdefg");
    EXPECT_FALSE(JoinText(out, 8, L"abc", L"defgh"));
    EXPECT_STREQ(out, L"");
    EXPECT_FALSE(JoinText(out, 8, L"abcdefgh", L""));
    EXPECT_STREQ(out, L"");
    EXPECT_FALSE(JoinText(out, 0, L"", L""));
}

TEST(BoundedText, NothingIsWrittenPastTheBuffer)
{
    wchar_t buffer[12];
    for (wchar_t& c : buffer)
        c = L'#';
    EXPECT_FALSE(JoinText(buffer, 6, L"C:\\game", L"\\file"));
    EXPECT_EQ(buffer[0], L'\0');
    for (int i = 6; i < 12; ++i)
        EXPECT_EQ(buffer[i], L'#');
}

TEST(BoundedText, DirectoryPrefixAddsOneBackslashOnlyWhenMissing)
{
    wchar_t out[16];
    EXPECT_TRUE(DirectoryPrefixOf(out, 16, L"C:\\game"));
    EXPECT_STREQ(out, L"C:\\game\\");
    EXPECT_TRUE(DirectoryPrefixOf(out, 16, L"C:\\game\\"));
    EXPECT_STREQ(out, L"C:\\game\\");
    EXPECT_FALSE(DirectoryPrefixOf(out, 16, L""));
    EXPECT_FALSE(DirectoryPrefixOf(out, 9, L"C:\\game1"));  // the added backslash would not fit
    EXPECT_STREQ(out, L"");
}

TEST(BoundedText, DirectoryOfPathKeepsDriveAndTrailingSeparator)
{
    wchar_t out[64];
    EXPECT_TRUE(DirectoryOfPath(out, 64, L"C:\\Games\\Orvane\\qalLogin.exe"));
    EXPECT_STREQ(out, L"C:\\Games\\Orvane\\");
    EXPECT_TRUE(DirectoryOfPath(out, 64, L"Z:/tmp/dir with spaces/qalLogin.exe"));
    EXPECT_STREQ(out, L"Z:/tmp/dir with spaces/");
    EXPECT_TRUE(DirectoryOfPath(out, 64, L"C:qalLogin.exe"));
    EXPECT_STREQ(out, L"C:");
    EXPECT_TRUE(DirectoryOfPath(out, 64, L"qalLogin.exe"));
    EXPECT_STREQ(out, L"");
    EXPECT_FALSE(DirectoryOfPath(out, 5, L"C:\\Games\\x.exe"));
    EXPECT_STREQ(out, L"");
}

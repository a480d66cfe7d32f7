#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <string>

#include "ManifestPathCheck.h"
#include "UpdateLocations.h"
#include "UpdatePlan.h"

namespace {
const wchar_t kBase[] = L"http://127.0.0.1:1/qal_lianyun/micro/";
const wchar_t kGameDir[] = L"D:\\Games\\X\\game/";
}  // namespace

TEST(Locations, FileAddressTurnsBackslashesAndBlanksOnly)
{
    wchar_t out[kAddressCapacity];
    ASSERT_TRUE(FormFileAddress(out, kAddressCapacity, kBase, L"a\\b c\\x%41+&.dat"));
    EXPECT_STREQ(out, L"http://127.0.0.1:1/qal_lianyun/micro/game/a/b%20c/x%41+&.dat");
    ASSERT_TRUE(FormFileAddress(out, kAddressCapacity, L"http://h/a b\\", L"y"));
    EXPECT_STREQ(out, L"http://h/a%20b/game/y");
}

TEST(Locations, DestinationKeepsSeparatorsAndParentStopsAtLastBackslash)
{
    wchar_t destination[kPathCapacity];
    wchar_t parent[kPathCapacity];
    ASSERT_TRUE(FormDestination(destination, kPathCapacity, kGameDir, L"a\\b c\\x.dat"));
    EXPECT_STREQ(destination, L"D:\\Games\\X\\game/a\\b c\\x.dat");
    ASSERT_TRUE(FormParentDirectory(parent, kPathCapacity, destination));
    EXPECT_STREQ(parent, L"D:\\Games\\X\\game/a\\b c");

    // Paths with "/" or without any separator get no directory of their own.
    ASSERT_TRUE(FormDestination(destination, kPathCapacity, kGameDir, L"a/b.dat"));
    ASSERT_TRUE(FormParentDirectory(parent, kPathCapacity, destination));
    EXPECT_STREQ(parent, L"D:\\Games\\X");
    ASSERT_TRUE(FormDestination(destination, kPathCapacity, kGameDir, L"x.dat"));
    ASSERT_TRUE(FormParentDirectory(parent, kPathCapacity, destination));
    EXPECT_STREQ(parent, L"D:\\Games\\X");
}

TEST(Locations, TextsThatDoNotFitAreRefusedNotCut)
{
    wchar_t out[8];
    std::wmemset(out, L'#', 8);
    EXPECT_TRUE(JoinText(out, 8, L"abc", L"defg"));  // 7 characters and the terminator
    EXPECT_STREQ(out, L"abcdefg");
    EXPECT_FALSE(JoinText(out, 8, L"abc", L"defgh"));
    EXPECT_STREQ(out, L"");
    EXPECT_FALSE(JoinText(out, 8, L"abc", L"de", L"fgh"));
    EXPECT_STREQ(out, L"");

    // A blank grows into three characters: the limit counts the escaped form.
    wchar_t address[16];
    EXPECT_TRUE(FormFileAddress(address, 16, L"h/", L"ab%20cd"));  // h/game/ab%20cd = 14
    EXPECT_FALSE(FormFileAddress(address, 16, L"h/", L"ab cd e"));  // h/game/ab%20cd%20e = 18
    EXPECT_STREQ(address, L"");
    EXPECT_TRUE(FormFileAddress(address, 16, L"h/", L"abc de"));  // exactly 15
    EXPECT_STREQ(address, L"h/game/abc%20de");

    std::wstring longPath(250, L'p');
    wchar_t path[kPathCapacity];
    EXPECT_FALSE(FormDestination(path, kPathCapacity, kGameDir, longPath.c_str()));
    EXPECT_STREQ(path, L"");
    wchar_t parent[4];
    EXPECT_FALSE(FormParentDirectory(parent, 4, L"abcd\\x"));
    EXPECT_TRUE(FormParentDirectory(parent, 4, L"abc\\x"));
}

TEST(Locations, ShownTextIsCutToItsField)
{
    wchar_t out[kPathCapacity];
    std::wstring version(400, L'v');
    CopyTextCut(out, kPathCapacity, version.c_str());
    EXPECT_EQ(std::wcslen(out), kPathCapacity - 1);
    CopyTextCut(out, kPathCapacity, nullptr);
    EXPECT_STREQ(out, L"");
}

TEST(ManifestPaths, PathsInsideTheGameDirectoryAreSafe)
{
    for (const wchar_t* path : {L"x.dat", L"a\\b\\c.dat", L"a/b.dat", L"with space\\f.x", L"..a\\b..\\c..d",
                                L".hidden\\x", L".\\x.dat", L"a\\.\\b"})
        EXPECT_TRUE(IsSafeManifestPath(path)) << std::wstring(path).size();
}

TEST(ManifestPaths, PathsLeavingTheGameDirectoryAreRefused)
{
    for (const wchar_t* path :
         {L"", L"\\x.dat", L"/x.dat", L"\\\\server\\share\\x", L"//server/share/x", L"\\\\?\\C:\\x",
          L"C:\\x.dat", L"C:x.dat", L"c:/x", L"x.dat:stream", L"..", L"..\\x.dat", L"../x.dat",
          L"a\\..\\..\\x", L"a/../../x", L"a\\..", L"a\\...\\x", L"a\\.. \\x", L"a\\. .\\x"})
        EXPECT_FALSE(IsSafeManifestPath(path)) << std::wstring(path).size();
    // Components Windows opens as devices, in any case, with or without an
    // extension, with trailing dots or blanks.
    for (const wchar_t* path :
         {L"CON", L"con", L"aux.dat", L"COM1", L"data\\NUL.txt", L"lpt9.log", L"PRN.tar.gz", L"nul ",
          L"Aux.", L"com0", L"LPT0\\x", L"CON .txt", L"a/com9/b", L"COM\u00B9", L"lpt\u00B3.x",
          L"conin$", L"CONOUT$.log"})
        EXPECT_FALSE(IsSafeManifestPath(path)) << std::wstring(path).size();
    for (const wchar_t* path : {L"console", L"com10", L"lpt", L"auxx.dat", L"a.con", L"com1x", L"nul-data\\x",
                                L"x.aux", L"COM\u00B4"})
        EXPECT_TRUE(IsSafeManifestPath(path)) << std::wstring(path).size();
    EXPECT_FALSE(IsSafeManifestPath(nullptr));
}

namespace {

// Widens ASCII byte by byte, as the ANSI code page does for it.
bool WidenAscii(const char* text, wchar_t* out, size_t capacity)
{
    size_t length = std::strlen(text);
    if (length >= capacity)
        return false;
    for (size_t i = 0; i <= length; ++i)
        out[i] = wchar_t((unsigned char)text[i]);
    return true;
}

struct PlanFixture : ::testing::Test {
    std::map<std::wstring, std::string> localDigests;  // local path -> lowercase digest
    std::vector<std::wstring> looked;
    std::deque<const char*> pending{"stale"};
    std::deque<PendingFile> files;

    // Digests the files in localDigests, the others are not there.
    LocalFileDigest DigestOf()
    {
        return [this](const wchar_t* localPath, char* hexDigest) {
            looked.push_back(localPath);
            auto found = localDigests.find(localPath);
            if (found == localDigests.end())
                return false;
            std::snprintf(hexDigest, kDigestTextCapacity, "%s", found->second.c_str());
            return true;
        };
    }

    PlanOutcome Plan(const std::vector<ManifestEntry>& entries, const wchar_t* gameDir = kGameDir)
    {
        return PlanDownloads(entries, kBase, gameDir, WidenAscii, DigestOf(), &pending, &files);
    }
};

}  // namespace

TEST_F(PlanFixture, QueuesWhatDiffersInManifestOrder)
{
    localDigests[L"D:\\Games\\X\\game/same.dat"] = "aa";
    localDigests[L"D:\\Games\\X\\game/sub\\changed.dat"] = "bb";
    std::vector<ManifestEntry> entries = {
        {"same.dat", "AA"}, {"sub\\changed.dat", "CC"}, {"missing.dat", "DD"}, {"no ver.dat", nullptr},
        {"same.dat", "aa"}};
    ASSERT_EQ(Plan(entries), PlanOutcome::Ready);
    ASSERT_EQ(pending.size(), 4u);
    EXPECT_STREQ(pending[0], "sub\\changed.dat");
    EXPECT_STREQ(pending[1], "missing.dat");
    EXPECT_STREQ(pending[2], "no ver.dat");
    EXPECT_STREQ(pending[3], "same.dat");
    EXPECT_EQ(pending[0], entries[1].path);  // the document's own text, not a copy
    // Each with the digest of the copy it replaces, from which a patch may
    // make it: none for a file that is not there.
    ASSERT_EQ(files.size(), 4u);
    EXPECT_STREQ(files[0].entry.path, "sub\\changed.dat");
    EXPECT_STREQ(files[0].localDigest, "bb");
    EXPECT_STREQ(files[1].localDigest, "");
    EXPECT_STREQ(files[3].localDigest, "aa");
}

TEST_F(PlanFixture, OneUnsafePathFailsEverythingBeforeAnyFileIsRead)
{
    std::vector<ManifestEntry> entries = {{"fine.dat", "AA"}, {"..\\..\\evil.exe", "BB"}, {"more.dat", "CC"}};
    EXPECT_EQ(Plan(entries), PlanOutcome::UnsafePath);
    EXPECT_TRUE(looked.empty());
    EXPECT_EQ(pending.size(), 1u);  // left as it was
}

TEST_F(PlanFixture, TheUpdatersOwnPartialFileNameIsNoEntry)
{
    for (const char* name : {"qalUpdate.part", "sub\\QALUPDATE.PART", "x/qalupdate.part. ", "qalUpdate.1.part",
                             "d\\QalUpdate.9.Part", "qalUpdate.part.exe", "QALUPDATE.3.PART.EXE"}) {
        std::vector<ManifestEntry> entries = {{"fine.dat", "AA"}, {name, "BB"}};
        EXPECT_EQ(Plan(entries), PlanOutcome::UnsafePath) << name;
    }
    EXPECT_TRUE(looked.empty());
    std::vector<ManifestEntry> entries = {{"qalUpdate.part\\x.dat", "AA"}, {"qalUpdate.partial", "BB"},
                                          {"qalUpdate.0.part", "CC"}, {"qalUpdate.10.part", "DD"},
                                          {"qalUpdate.exe", "EE"}, {"qalUpdate.part.exe.dat", "FF"}};
    EXPECT_EQ(Plan(entries), PlanOutcome::Ready);
}

TEST_F(PlanFixture, NamesThatDoNotFitFailTheUpdate)
{
    std::string longName(250, 'n');
    std::vector<ManifestEntry> entries = {{"fine.dat", "AA"}, {longName.c_str(), "BB"}};
    EXPECT_EQ(Plan(entries), PlanOutcome::UnformablePath);
    EXPECT_EQ(pending.size(), 1u);
    EXPECT_TRUE(looked.empty());

    std::string tooWide(300, 'w');  // does not even convert into a path buffer
    entries = {{tooWide.c_str(), "AA"}};
    EXPECT_EQ(Plan(entries), PlanOutcome::UnformablePath);
    EXPECT_TRUE(looked.empty());
}

TEST_F(PlanFixture, AddressThatDoesNotFitFailsOnlyWhenTheFileMustBeFetched)
{
    // 200 blanks fit a path buffer but grow to 600 characters in the address.
    std::string blanks = "d\\" + std::string(200, ' ') + "x";
    std::wstring local = std::wstring(kGameDir) + std::wstring(blanks.begin(), blanks.end());
    std::wstring base = L"http://h/" + std::wstring(420, L'b') + L"/";
    std::vector<ManifestEntry> entries = {{blanks.c_str(), "AA"}};
    localDigests[local] = "aa";
    EXPECT_EQ(PlanDownloads(entries, base.c_str(), kGameDir, WidenAscii, DigestOf(), &pending),
              PlanOutcome::Ready);
    EXPECT_TRUE(pending.empty());
    localDigests[local] = "00";
    EXPECT_EQ(PlanDownloads(entries, base.c_str(), kGameDir, WidenAscii, DigestOf(), &pending),
              PlanOutcome::UnformablePath);
}

TEST(DownloadTargets, FormsAddressDestinationAndParentTogether)
{
    DownloadTarget target;
    ASSERT_TRUE(FormDownloadTarget(&target, kBase, kGameDir, L"a\\b\\x y.dat"));
    EXPECT_STREQ(target.address, L"http://127.0.0.1:1/qal_lianyun/micro/game/a/b/x%20y.dat");
    EXPECT_STREQ(target.destination, L"D:\\Games\\X\\game/a\\b\\x y.dat");
    EXPECT_STREQ(target.parent, L"D:\\Games\\X\\game/a\\b");
    EXPECT_STREQ(target.partial, L"D:\\Games\\X\\game/a\\b\\qalUpdate.part");
    ASSERT_TRUE(FormDownloadTarget(&target, kBase, kGameDir, L"a/b.dat"));
    EXPECT_STREQ(target.partial, L"D:\\Games\\X\\game/a/qalUpdate.part");  // beside the file itself
    ASSERT_TRUE(FormDownloadTarget(&target, kBase, kGameDir, L"a\\b.dat", L"qalUpdate.4.part"));
    EXPECT_STREQ(target.partial, L"D:\\Games\\X\\game/a\\qalUpdate.4.part");
    EXPECT_EQ(PartialDownloadSlot(L"x\\QALUPDATE.4.PART"), 4);
    wchar_t program[32];
    ASSERT_TRUE(FormProgramPartialName(4, program, 32));
    EXPECT_STREQ(program, L"qalUpdate.4.part.exe");
    EXPECT_EQ(PartialDownloadSlot(program), 4);
    EXPECT_FALSE(FormProgramPartialName(0, program, 18));
    EXPECT_STREQ(program, L"");
    // A destination that fits with no room for the partial file's name is
    // refused, not written under a cut name.
    std::wstring deep = std::wstring(240, L'd') + L"\\f";
    EXPECT_FALSE(FormDownloadTarget(&target, kBase, kGameDir, deep.c_str()));
    EXPECT_FALSE(FormDownloadTarget(&target, kBase, kGameDir, L"a\\..\\..\\x"));
}

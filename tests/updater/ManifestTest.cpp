#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "FrontDoorCheck.h"
#include "FrontDoorOffers.h"
#include "ManifestReader.h"
#include "MovedAsideNames.h"
#include "ObjectStore.h"
#include "PatchRules.h"

namespace {

std::vector<std::pair<std::string, std::string>> EntriesOf(const char* xml)
{
    tinyxml2::XMLDocument document;
    EXPECT_EQ(document.Parse(xml), tinyxml2::XML_SUCCESS);
    std::vector<std::pair<std::string, std::string>> out;
    for (const ManifestEntry& entry : ManifestEntries(document))
        out.emplace_back(entry.path, entry.expectedDigest ? entry.expectedDigest : "<none>");
    return out;
}

using Entries = std::vector<std::pair<std::string, std::string>>;

}  // namespace

TEST(ManifestReading, EntriesStartAtFirstFileAndTakeEverySiblingAfter)
{
    EXPECT_EQ(EntriesOf("<list>"
                        "<other path='before.dat' ver='A'/>"
                        "<file path='one.dat' ver='B'><file path='nested.dat' ver='C'/></file>"
                        "<thing path='two.dat' ver='D'/>"
                        "<file path='three.dat' ver='E'/>"
                        "</list>"),
              (Entries{{"one.dat", "B"}, {"two.dat", "D"}, {"three.dat", "E"}}));
}

TEST(ManifestReading, RootWithoutFileChildHasNoEntries)
{
    EXPECT_TRUE(EntriesOf("<list><other path='a' ver='B'/></list>").empty());
    EXPECT_TRUE(EntriesOf("<list/>").empty());
}

TEST(ManifestReading, AttributeNamesAreCaseSensitiveAndOrderFree)
{
    EXPECT_EQ(EntriesOf("<r><file Path='x' ver='A'/><file ver='B' path='y'/><file path='z' VER='C'/></r>"),
              (Entries{{"y", "B"}, {"z", "<none>"}}));
    EXPECT_TRUE(EntriesOf("<r><FILE path='x' ver='A'/></r>").empty());
}

TEST(ManifestReading, EntityReferencesAreResolved)
{
    EXPECT_EQ(EntriesOf("<r><file path='a&amp;b&#32;c&#x41;.dat' ver='&#65;B'/></r>"),
              (Entries{{"a&b cA.dat", "AB"}}));
}

TEST(ManifestReading, VersionComesFromTheRootOnly)
{
    tinyxml2::XMLDocument document;
    document.Parse("<r version='1.2.3'><file path='a' version='9'/></r>");
    ASSERT_NE(ManifestVersion(document), nullptr);
    EXPECT_STREQ(ManifestVersion(document), "1.2.3");

    document.Parse("<r><file path='a' version='9'/></r>");
    EXPECT_EQ(ManifestVersion(document), nullptr);
}

TEST(ManifestReading, DuplicatePathsAreListedTwice)
{
    EXPECT_EQ(EntriesOf("<r><file path='a' ver='1'/><file path='a' ver='1'/></r>"),
              (Entries{{"a", "1"}, {"a", "1"}}));
}

class ManifestLoadTest : public ::testing::Test {
protected:
    const char* Write(const std::string& content)
    {
        FILE* f = std::fopen(kPath, "wb");
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        return kPath;
    }
    void TearDown() override { std::remove(kPath); }
    static constexpr const char* kPath = "manifest_load_test.xml";
    tinyxml2::XMLDocument document;
};

TEST_F(ManifestLoadTest, WellFormedManifestLoads)
{
    EXPECT_TRUE(LoadManifest(document, Write("<?xml version='1.0'?><r version='v'><file path='a'/></r>")));
    EXPECT_EQ(ManifestEntries(document).size(), 1u);
}

TEST_F(ManifestLoadTest, UnreadableDocumentsAreRefused)
{
    EXPECT_FALSE(LoadManifest(document, nullptr));
    EXPECT_FALSE(LoadManifest(document, "no_such_manifest.xml"));
    EXPECT_FALSE(LoadManifest(document, Write("")));
    EXPECT_FALSE(LoadManifest(document, Write("<r><file path='a'></r>")));
    EXPECT_FALSE(LoadManifest(document, Write("<r><file path='a' ver='B'/>")));  // cut short
    std::string deep;
    for (int i = 0; i < 600; ++i)
        deep += "<a>";
    EXPECT_FALSE(LoadManifest(document, Write(deep)));
}

TEST_F(ManifestLoadTest, DocumentWithoutAnyElementIsRefused)
{
    EXPECT_FALSE(LoadManifest(document, Write("<?xml version='1.0'?>\n<!-- nothing here -->\n")));
}

namespace {

const char* const kOld = "0123456789ABCDEF0123456789ABCDEF";
const char* const kNew = "FEDCBA9876543210FEDCBA9876543210";
const std::string kSha(64, 'a');

// The "from" of each offer the single entry of `xml` makes.
std::vector<std::string> OffersOf(const std::string& xml, bool requireSha256 = false)
{
    tinyxml2::XMLDocument document;
    EXPECT_EQ(document.Parse(xml.c_str()), tinyxml2::XML_SUCCESS);
    std::vector<ManifestEntry> entries = ManifestEntries(document);
    EXPECT_EQ(entries.size(), 1u);
    std::vector<std::string> froms;
    for (const PatchOffer& offer : PatchOffers(entries.at(0), requireSha256))
        froms.push_back(offer.from);
    return froms;
}

std::string Entry(const std::string& ver, const std::string& patches)
{
    return "<r><file path='big.pak' ver='" + ver + "'>" + patches + "</file></r>";
}

std::string Patch(const std::string& from, const std::string& size, const std::string& sha = kSha)
{
    return "<patch from='" + from + "' size='" + size + "'" + (sha.empty() ? "" : " sha256='" + sha + "'") + "/>";
}

using Froms = std::vector<std::string>;

}  // namespace

TEST(PatchOffers, OnlyOffersKeepingEveryRuleAreUsable)
{
    const std::string other = "00000000000000000000000000000001";
    EXPECT_EQ(OffersOf(Entry(kNew, Patch(kOld, "2770000") + Patch(other, "1"))), (Froms{kOld, other}));
    // Children of other names, and patches of a later sibling, are not this entry's.
    EXPECT_EQ(OffersOf(Entry(kNew, "<delta from='" + std::string(kOld) + "' size='5'/>")), Froms{});
    for (const char* size : {"0", "", "-5", "+5", "05", " 5", "5 ", "0x10", "1e3", "2147483649",
                                    "99999999999999999999999"})
        EXPECT_EQ(OffersOf(Entry(kNew, Patch(kOld, size))), Froms{}) << "size " << size;
    EXPECT_EQ(OffersOf(Entry(kNew, Patch(kOld, "2147483648"))), Froms{kOld});
    for (const std::string& from : {std::string(kNew), std::string(kOld).substr(1), std::string("0123456789abcdef0123456789abcdef"),
                                    std::string(kOld) + "0", std::string("")})
        EXPECT_EQ(OffersOf(Entry(kNew, Patch(from, "9"))), Froms{}) << "from " << from;
    for (const std::string& sha : {std::string(64, 'A'), std::string(63, 'a'), std::string(65, 'a'), std::string(64, 'g')})
        EXPECT_EQ(OffersOf(Entry(kNew, Patch(kOld, "9", sha))), Froms{}) << "sha256 " << sha;
    // The entry's own digest must be well formed for any patch to prove into it.
    EXPECT_EQ(OffersOf(Entry("new", Patch(kOld, "9"))), Froms{});
    // The same older version offered twice: neither is taken.
    EXPECT_EQ(OffersOf(Entry(kNew, Patch(kOld, "9") + Patch(kOld, "10"))), Froms{});
}

TEST(PatchOffers, SignedManifestsNeedEveryPatchsSha256)
{
    EXPECT_EQ(OffersOf(Entry(kNew, Patch(kOld, "9", "")), false), Froms{kOld});
    EXPECT_EQ(OffersOf(Entry(kNew, Patch(kOld, "9", "")), true), Froms{});
    EXPECT_EQ(OffersOf(Entry(kNew, Patch(kOld, "9")), true), Froms{kOld});
}

TEST(PatchOffers, TheLocalCopysDigestChoosesTheOffer)
{
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.Parse(Entry(kNew, Patch(kOld, "9")).c_str()), tinyxml2::XML_SUCCESS);
    std::vector<PatchOffer> offers = PatchOffers(ManifestEntries(document).at(0), false);
    ASSERT_NE(PatchFor(offers, "0123456789abcdef0123456789abcdef"), nullptr);
    EXPECT_EQ(PatchFor(offers, "0123456789abcdef0123456789abcdef")->size, 9u);
    EXPECT_EQ(PatchFor(offers, "fedcba9876543210fedcba9876543210"), nullptr);  // already current
    EXPECT_EQ(PatchFor(offers, nullptr), nullptr);                             // no local copy
}

TEST(PatchOffers, PatchPathIsNamedByBothDigestsOrNotFormed)
{
    char path[80];
    ASSERT_TRUE(FormPatchPath(path, sizeof path, kOld, kNew));
    EXPECT_STREQ(path, "patch/0123456789ABCDEF0123456789ABCDEF-FEDCBA9876543210FEDCBA9876543210.zst");
    char tight[sizeof "patch/-.zst" + 63];
    EXPECT_FALSE(FormPatchPath(tight, sizeof tight, kOld, kNew));
    EXPECT_STREQ(tight, "");
    EXPECT_FALSE(FormPatchPath(path, sizeof path, "../../x", kNew));
    EXPECT_STREQ(path, "");
}

TEST(ObjectStore, OnlyPlainRelativeDirectoriesHoldObjects)
{
    for (const char* good : {"objects/", "o/", "cdn/objects-2/", "a.b_c/x/"})
        EXPECT_TRUE(IsWellFormedObjectsPath(good)) << good;
    for (const char* bad : {"", "objects", "/objects/", "objects//", "./", "../", "a/../", "a/./", "http://x/",
                            "C:/", "o\\", "o /", "o%2e/", "o?/", "o#/", "\xe5\x9b\xbe/"})
        EXPECT_FALSE(IsWellFormedObjectsPath(bad)) << bad;
    EXPECT_FALSE(IsWellFormedObjectsPath(nullptr));
    EXPECT_TRUE(IsWellFormedObjectsPath((std::string(127, 'o') + "/").c_str()));
    EXPECT_FALSE(IsWellFormedObjectsPath((std::string(128, 'o') + "/").c_str()));

    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.Parse("<update objects='objects/'><file path='a' ver='x'/></update>"), tinyxml2::XML_SUCCESS);
    EXPECT_STREQ(ManifestObjectsPath(document), "objects/");
    ASSERT_EQ(document.Parse("<update objects='../objects/'/>"), tinyxml2::XML_SUCCESS);
    EXPECT_EQ(ManifestObjectsPath(document), nullptr);

    char path[64];
    ASSERT_TRUE(FormObjectPath(path, sizeof path, "objects/", kNew));
    EXPECT_STREQ(path, "objects/FEDCBA9876543210FEDCBA9876543210");
    EXPECT_FALSE(FormObjectPath(path, sizeof path, "objects/", "fedcba9876543210fedcba9876543210"));
    EXPECT_STREQ(path, "");
    char tight[sizeof "objects/" + 31];
    EXPECT_FALSE(FormObjectPath(tight, sizeof tight, "objects/", kNew));
    EXPECT_STREQ(tight, "");
}

namespace {

const char kSha2[] = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";

std::string Offer(const std::string& arch, const std::string& name, const std::string& extra = "",
                  const std::string& size = "4096", const std::string& sha = kSha2)
{
    return "<frontdoor arch='" + arch + "' name='" + name + "' ver='" + kNew + "' size='" + size + "'" +
           (sha.empty() ? "" : " sha256='" + sha + "'") + extra + "/>";
}

// "arch name" of each usable offer.
std::vector<std::string> OffersIn(const std::string& xml, bool requireSha256 = false)
{
    tinyxml2::XMLDocument document;
    EXPECT_EQ(document.Parse(xml.c_str()), tinyxml2::XML_SUCCESS) << xml;
    std::vector<std::string> found;
    for (const FrontDoorOffer& offer : FrontDoorOffers(document, requireSha256))
        found.push_back(std::string(offer.arch) + " " + offer.name);
    return found;
}

using Offers = std::vector<std::string>;

}  // namespace

TEST(FrontDoorOffers, OnlyOffersBeforeTheFirstEntryKeepingEveryRuleCount)
{
    const std::string file = "<file path='a.dat' ver='" + std::string(kOld) + "'/>";
    EXPECT_EQ(OffersIn("<u>" + Offer("x86_64", "qalUpdate.exe") + "<note/>" + Offer("i686", "qalLogin.exe") + file +
                       "</u>"),
              (Offers{"x86_64 qalUpdate.exe", "i686 qalLogin.exe"}));
    // After the first entry an element is an entry itself; below one it is nobody's.
    EXPECT_EQ(OffersIn("<u>" + file + Offer("x86_64", "qalUpdate.exe") + "</u>"), Offers{});
    EXPECT_EQ(OffersIn("<u><x>" + Offer("x86_64", "qalUpdate.exe") + "</x>" + file + "</u>"), Offers{});
    for (const char* arch : {"x64", "amd64", "I686", "", "arm64"})
        EXPECT_EQ(OffersIn("<u>" + Offer(arch, "qalUpdate.exe") + "</u>"), Offers{}) << arch;
    for (const char* name : {"qalupdate.exe", "PelMicroLauncher.exe", "..\\qalUpdate.exe", "qalUpdate.exe "})
        EXPECT_EQ(OffersIn("<u>" + Offer("i686", name) + "</u>"), Offers{}) << name;
    for (const char* size : {"0", "", "-1", "012", "1 ", "67108865", "99999999999999999999999"})
        EXPECT_EQ(OffersIn("<u>" + Offer("i686", "qalLogin.exe", "", size) + "</u>"), Offers{}) << size;
    EXPECT_EQ(OffersIn("<u>" + Offer("i686", "qalLogin.exe", "", "67108864") + "</u>"), Offers{"i686 qalLogin.exe"});
    EXPECT_EQ(OffersIn("<u>" + Offer("i686", "qalLogin.exe", "", "9", std::string(64, 'A')) + "</u>"), Offers{});
    EXPECT_EQ(OffersIn("<u><frontdoor arch='i686' name='qalLogin.exe' ver='abc' size='9'/></u>"), Offers{});
    // A program offered twice for one arch: which one would be meant?
    EXPECT_EQ(OffersIn("<u>" + Offer("i686", "qalLogin.exe") + Offer("x86_64", "qalLogin.exe") +
                       Offer("i686", "qalLogin.exe", "", "99") + "</u>"),
              Offers{"x86_64 qalLogin.exe"});
    // A signed manifest covers only what it names by SHA-256.
    EXPECT_EQ(OffersIn("<u>" + Offer("i686", "qalLogin.exe", "", "9", "") + "</u>", false), Offers{"i686 qalLogin.exe"});
    EXPECT_EQ(OffersIn("<u>" + Offer("i686", "qalLogin.exe", "", "9", "") + "</u>", true), Offers{});
}

TEST(FrontDoorOffers, AddressVersionAndLookup)
{
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.Parse(("<u>" + Offer("i686", "qalUpdate.exe", " version='1.0.5'") +
                              Offer("x86_64", "qalUpdate.exe", " version='1.0.5 beta'") + "</u>").c_str()),
              tinyxml2::XML_SUCCESS);
    std::vector<FrontDoorOffer> offers = FrontDoorOffers(document, true);
    const FrontDoorOffer* offer = FrontDoorOfferFor(offers, "i686", "qalUpdate.exe");
    ASSERT_NE(offer, nullptr);
    EXPECT_EQ(offer->size, 4096u);
    EXPECT_STREQ(offer->version, "1.0.5");
    EXPECT_EQ(FrontDoorOfferFor(offers, "x86_64", "qalUpdate.exe")->version, nullptr);
    EXPECT_EQ(FrontDoorOfferFor(offers, "i686", "qalLogin.exe"), nullptr);
    char path[96];
    ASSERT_TRUE(FormFrontDoorPath(path, sizeof path, *offer));
    EXPECT_STREQ(path, "frontdoor/i686/FEDCBA9876543210FEDCBA9876543210/qalUpdate.exe");
    char tight[sizeof "frontdoor/i686//qalUpdate.exe" + 31];
    EXPECT_FALSE(FormFrontDoorPath(tight, sizeof tight, *offer));
    EXPECT_STREQ(tight, "");
    for (const char* version : {"1", "1.0.3", "65535.0.0.99999"})
        EXPECT_TRUE(IsWellFormedFrontDoorVersion(version)) << version;
    for (const char* version : {"", ".1", "1.", "1..2", "1.2.3.4.5", "v1", "123456", "1,2"})
        EXPECT_FALSE(IsWellFormedFrontDoorVersion(version)) << version;
}

TEST(FrontDoorCheck, TheCheckIsAskedForExactlyAndAnsweredByNameAndArch)
{
    uint32_t challenge = 0;
    std::wstring manifest;
    std::wstring arguments = FormFrontDoorCheckArguments(4294967295u, L"C:\\游戏\\download/qupdater.xml");
    EXPECT_EQ(arguments, L"--front-door-check 4294967295 \"C:\\游戏\\download/qupdater.xml\"");
    ASSERT_TRUE(ParseFrontDoorCheck(arguments.c_str(), &challenge, &manifest));
    EXPECT_EQ(challenge, 4294967295u);
    EXPECT_EQ(manifest, L"C:\\游戏\\download/qupdater.xml");
    ASSERT_TRUE(ParseFrontDoorCheck(L"--front-door-check 7", &challenge, &manifest));
    EXPECT_EQ(challenge, 7u);
    EXPECT_EQ(manifest, L"");
    // The launcher's hand-off and anything else is no check.
    for (const wchar_t* other : {L"", L"--front-door-check", L"--front-door-check ", L"--front-door-check x",
                                 L"--front-door-check 4294967296", L"--front-door-check 7 x", L"--front-door-check 7 \"\"",
                                 L"--front-door-check 7 \"a", L"--front-door-check 7 \"a\" b",
                                 L"http://h/entergame.htm?--front-door-check 7", L" --front-door-check 7"})
        EXPECT_FALSE(ParseFrontDoorCheck(other, &challenge, &manifest)) << other;

    EXPECT_STREQ(ArgumentsOfCommandLine(L"\"C:\\a b\\qalUpdate.exe\"  --front-door-check 7"), L"--front-door-check 7");
    EXPECT_STREQ(ArgumentsOfCommandLine(L"qalUpdate.exe\thttp://h/"), L"http://h/");
    EXPECT_STREQ(ArgumentsOfCommandLine(L"qalUpdate.exe"), L"");

    // A fresh challenge gives a fresh answer, and each program and arch its own.
    const uint32_t answer = FrontDoorCheckAnswer("qalUpdate.exe", "x86_64", 12345);
    EXPECT_EQ(answer, FrontDoorCheckAnswer("qalUpdate.exe", "x86_64", 12345));
    EXPECT_NE(answer, FrontDoorCheckAnswer("qalUpdate.exe", "x86_64", 12346));
    EXPECT_NE(answer, FrontDoorCheckAnswer("qalUpdate.exe", "i686", 12345));
    EXPECT_NE(answer, FrontDoorCheckAnswer("qalLogin.exe", "x86_64", 12345));
    for (uint32_t c = 0; c < 2000; ++c) {
        uint32_t code = FrontDoorCheckAnswer("qalLogin.exe", "i686", c);
        ASSERT_TRUE(code >= 0x10000000u && code <= 0x1FFFFFFFu) << c;
    }
}

TEST(FrontDoorCheck, ImagesAsideAreNamedForTheirProgramAndFoundInAnyCase)
{
    wchar_t name[64];
    ASSERT_TRUE(FormMovedAsideName(name, 64, L"qalUpdate.exe", 0xABCDEF01u));
    EXPECT_STREQ(name, L"qalUpdate.exe.abcdef01.old");
    EXPECT_TRUE(IsMovedAsideName(name, L"qalUpdate.exe"));
    EXPECT_TRUE(IsMovedAsideName(L"QALUPDATE.EXE.ABCDEF01.OLD", L"qalUpdate.exe"));
    for (const wchar_t* other : {L"qalUpdate.exe", L"qalUpdate.exe.abcdef0.old", L"qalUpdate.exe.abcdef012.old",
                                 L"qalUpdate.exe.abcdefg1.old", L"qalLogin.exe.abcdef01.old", L"qalUpdate.exe.abcdef01.olds",
                                 L"xqalUpdate.exe.abcdef01.old", L"qalUpdate.exe-abcdef01.old"})
        EXPECT_FALSE(IsMovedAsideName(other, L"qalUpdate.exe")) << other;
    wchar_t tight[sizeof "qalUpdate.exe.12345678.old" - 1];
    EXPECT_FALSE(FormMovedAsideName(tight, sizeof tight / sizeof tight[0], L"qalUpdate.exe", 1));
    EXPECT_STREQ(tight, L"");
    ASSERT_TRUE(FormMovedAsidePattern(name, 64, L"qalUpdate.exe"));
    EXPECT_STREQ(name, L"qalUpdate.exe.*.old");
}

// The publishing tool's rules, natively: which names are refused and why, the
// manifest text as the updater's own reader reads it back, the order, the
// code page, the comparison of verify and the walk over a real tree.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "CodePage.h"
#include "FileHashing.h"
#include "FrontDoorOffers.h"
#include "FrontDoorPrograms.h"
#include "ManifestReader.h"
#include "ManifestSignature.h"
#include "ManifestWriter.h"
#include "NameRules.h"
#include "ObjectStore.h"
#include "PatchMaking.h"
#include "Platform.h"
#include "TreeListing.h"
#include "VerifyReport.h"

namespace {

const char kInstallDir[] = "C:\\Program Files (x86)\\Orvane\\";
const char kBase[] = "http://updates.example.com/qal_lianyun/micro/";

std::unique_ptr<CodePage> Open(unsigned number)
{
    std::string error;
    std::unique_ptr<CodePage> codePage = OpenCodePage(number, &error);
    EXPECT_TRUE(codePage) << error;
    return codePage;
}

UpdaterSite DefaultSite()
{
    UpdaterSite site;
    EXPECT_TRUE(FormUpdaterSite(kInstallDir, kBase, &site));
    return site;
}

// "C:\Program Files (x86)\Orvane\game/" takes 35 of the updater's 259
// characters.
const size_t kRoomForPath = 259 - 35;

struct NameRow {
    std::string path;
    std::string reason;  // a part of the expected reason; empty: accepted
    unsigned codePage;
};

TEST(ManifestNames, EachRefusalNamesItsReason)
{
    const std::string windows = "which Windows does not allow in a file name";
    const std::string address = "which the updater's download address cannot carry";
    const std::string device = "Windows opens a device";
    const std::vector<NameRow> rows = {
        {"data/maps/town.dat", "", 936},
        {"sub dir/x y.dat", "", 936},
        {"a&b'c(1)[2]{3}~!@$^+=,;.dat", "", 936},
        {"数据/地图.dat", "", 936},
        {"€.dat", "", 936},  // 0x80 in the GBK of Windows
        {".hidden", "", 936},
        {"a<b.dat", "\"<\", " + windows, 936},
        {"a>b.dat", "\">\", " + windows, 936},
        {"dir/a:b.dat", "\":\", " + windows, 936},
        {"a\"b.dat", "\"\"\", " + windows, 936},
        {"a|b.dat", "\"|\", " + windows, 936},
        {"a*b.dat", "\"*\", " + windows, 936},
        {"a\\b.dat", "\"\\\", " + windows, 936},
        {"tab\there.dat", "control character", 936},
        {"line\nbreak.dat", "control character", 936},
        {"a#b.dat", "\"#\", " + address, 936},
        {"why?.dat", "\"?\", " + address, 936},
        {"100%.dat", "\"%\", " + address, 936},
        {"name.", "ending in a dot or a blank", 936},
        {"name ", "ending in a dot or a blank", 936},
        {"dir./x.dat", "ending in a dot or a blank", 936},
        {"...", "ending in a dot or a blank", 936},
        {"bad\xff\xfe.dat", "not valid UTF-8", 936},
        {"ä.dat", "code page 936 cannot carry its name exactly", 936},  // best fit would make it "a.dat"
        {"ॐ/x.dat", "code page 936 cannot carry its name exactly", 936},
        {"ä.dat", "", 1252},
        {"数据.dat", "code page 1252 cannot carry", 1252},
        {"aux.dat", device, 936},
        {"data/NUL.txt", device, 936},
        {"COM1", device, 936},
        {"lpt9.log", device, 936},
        {"con/readme.txt", device, 936},
        {"com10", "", 936},
        {"NAME~1.EXT", "short (8.3) name", 936},
        {"progr~12", "short (8.3) name", 936},
        {"progra~12", "", 936},
        {"dir/ab~3.d", "short (8.3) name", 936},
        {"ab~3/x.dat", "short (8.3) name", 936},
        {"name~1.text", "", 936},
        {"longname~1.dat", "", 936},
        {"name~.dat", "", 936},
        {"~1.dat", "", 936},
        {"na~me1.dat", "", 936},
        {"qalUpdate.part", "partial download name", 936},
        {"sub/QALUPDATE.PART", "partial download name", 936},
        {"qalUpdate.parts", "", 936},
        {"QalUpdate.Part/a.dat", "partial download name", 936},  // no place for partial files
        {std::string(kRoomForPath, 'x'), "", 936},
        {std::string(kRoomForPath + 1, 'x'), "its path in the installation would exceed 259", 936},
        // The partial file in a long directory is longer than a short name.
        {std::string(215, 'd') + "/f", "partial download path beside it would exceed 259", 936},
        // Windows counts a character beyond the BMP as two.
        {std::string(kRoomForPath - 2, 'x') + "😀", "", 65001},
        {std::string(kRoomForPath - 1, 'x') + "😀", "would exceed 259", 65001},
    };
    UpdaterSite site = DefaultSite();
    for (const NameRow& row : rows) {
        std::unique_ptr<CodePage> codePage = Open(row.codePage);
        ASSERT_TRUE(codePage);
        std::string reason = PathRefusal(row.path, *codePage, site);
        if (row.reason.empty())
            EXPECT_EQ(reason, "") << row.path;
        else
            EXPECT_NE(reason.find(row.reason), std::string::npos) << row.path << ": " << reason;
    }
}

TEST(ManifestNames, AddressAndInstallationLimitsFollowTheSite)
{
    std::unique_ptr<CodePage> codePage = Open(936);
    UpdaterSite site;
    // base + "game/" + path must stay within 1023 characters, a blank counting three:
    // here 1010 + 5 leave 8.
    std::string base = "http://h/" + std::string(1000, 'p') + "/";
    ASSERT_TRUE(FormUpdaterSite(kInstallDir, base, &site));
    EXPECT_EQ(PathRefusal("abcdefgh", *codePage, site), "");
    EXPECT_EQ(PathRefusal("a b", *codePage, site), "");
    for (const char* path : {"abcdefghi", "a b c"})
        EXPECT_NE(PathRefusal(path, *codePage, site).find("download address would exceed 1023"), std::string::npos);

    ASSERT_TRUE(FormUpdaterSite("D:\\g", kBase, &site));  // the "\" the updater's module path ends with
    EXPECT_EQ(site.gameDir, L"D:\\g\\game/");
    EXPECT_FALSE(FormUpdaterSite("C:\\" + std::string(260, 'i'), kBase, &site));
}

TEST(ManifestNames, NamesDifferingOnlyInCaseAsNtfsComparesThemCollide)
{
    struct Row {
        std::vector<std::string> paths;
        std::set<std::string> refused;
    };
    const std::vector<Row> rows = {
        {{"a.dat", "A.DAT", "b.dat"}, {"a.dat", "A.DAT"}},
        {{"Data/a.dat", "data/b.dat"}, {"Data", "data"}},
        {{"readme", "README/x"}, {"readme", "README"}},
        {{"x/a.dat", "y/A.dat"}, {}},
        {{"é.dat", "É.dat"}, {"é.dat", "É.dat"}},
        {{"Карта.dat", "карта.dat"}, {"Карта.dat", "карта.dat"}},
        {{"Ａ.dat", "ａ.dat", "A.dat"}, {"Ａ.dat", "ａ.dat"}},  // full width is not ASCII
        {{"ß.dat", "SS.dat"}, {}},  // one letter, never two
        {{"Σ/a", "σ/b", "ς/c"}, {"Σ", "σ", "ς"}},
        {{"sub/Map.dat", "sub/map.dat", "sub/MAP.dat"}, {"sub/Map.dat", "sub/map.dat", "sub/MAP.dat"}},
    };
    for (const Row& row : rows) {
        std::vector<ListedFile> files;
        for (const std::string& path : row.paths)
            files.push_back({path, path, 0});
        std::set<std::string> refused;
        for (const RefusedEntry& entry : FindCaseCollisions(files)) {
            refused.insert(entry.path);
            EXPECT_NE(entry.reason.find("differs only in letter case from"), std::string::npos);
        }
        EXPECT_EQ(refused, row.refused) << row.paths[0];
    }
}

TEST(ManifestText, AttributesAreEscaped)
{
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"plain 1.0", "plain 1.0"},
        {"a&b", "a&amp;b"},
        {"<tag attr=\"x\" 'y'>", "&lt;tag attr=&quot;x&quot; &apos;y&apos;&gt;"},
        {"tab\tline\ncr\r\x01", "tab&#9;line&#10;cr&#13;&#1;"},
        {"数据", "数据"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(EscapeAttribute(row.first), row.second);
}

std::string WriteTemporary(const std::string& bytes)
{
    char name[] = "/tmp/qal-manifest-test-XXXXXX";
    int descriptor = mkstemp(name);
    EXPECT_GE(descriptor, 0);
    EXPECT_EQ(write(descriptor, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    close(descriptor);
    return name;
}

TEST(ManifestText, TheUpdatersReaderReadsBackExactlyWhatWasWritten)
{
    std::unique_ptr<CodePage> gbk = Open(936);
    const std::string version = "2.0 \"beta\" <&> 'x'\tend\n";
    const std::vector<ManifestLine> lines = {
        {"a&b'c.dat", "0123456789ABCDEF0123456789ABCDEF"},
        {"数据\\地图.dat", "FEDCBA9876543210FEDCBA9876543210"},
    };
    std::string manifest, failed;
    ASSERT_TRUE(ComposeManifest(*gbk, version, lines, &manifest, &failed));
    EXPECT_EQ(manifest,
              "<?xml version=\"1.0\" encoding=\"GBK\"?>\n"
              "<update version=\"2.0 &quot;beta&quot; &lt;&amp;&gt; &apos;x&apos;&#9;end&#10;\">\n"
              "  <file path=\"a&amp;b&apos;c.dat\" ver=\"0123456789ABCDEF0123456789ABCDEF\"/>\n"
              "  <file path=\"\xca\xfd\xbe\xdd\\\xb5\xd8\xcd\xbc.dat\" ver=\"FEDCBA9876543210FEDCBA9876543210\"/>\n"
              "</update>\n");

    std::string file = WriteTemporary(manifest);
    tinyxml2::XMLDocument document;
    ASSERT_TRUE(LoadManifest(document, file.c_str()));
    std::remove(file.c_str());
    ASSERT_STREQ(ManifestVersion(document), version.c_str());
    std::vector<ManifestEntry> entries = ManifestEntries(document);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_STREQ(entries[0].path, "a&b'c.dat");
    EXPECT_STREQ(entries[1].path, "\xca\xfd\xbe\xdd\\\xb5\xd8\xcd\xbc.dat");  // GBK bytes
    EXPECT_STREQ(entries[1].expectedDigest, lines[1].digest.c_str());

    EXPECT_FALSE(ComposeManifest(*gbk, "ä", lines, &manifest, &failed));
    EXPECT_EQ(failed, "ä");
}

TEST(ManifestText, TheUpdatersReaderFindsTheObjectsAndEveryOfferBeforeTheEntries)
{
    const std::string sha(64, 'a');
    ManifestAdditions additions{"objects/",
                                {{"i686", "qalLogin.exe", "0123456789ABCDEF0123456789ABCDEF", sha, 70000, "1.0.5"},
                                 {"x86_64", "qalUpdate.exe", "FEDCBA9876543210FEDCBA9876543210", sha, 1, ""}}};
    const uint64_t sequence = 7;
    std::string manifest, failed;
    ASSERT_TRUE(ComposeManifest(*Open(936), "1", {{"a.dat", "00000000000000000000000000000000", sha}}, &manifest,
                                &failed, &sequence, additions));
    tinyxml2::XMLDocument document;
    ASSERT_TRUE(ParseManifest(document, manifest.data(), manifest.size()));
    EXPECT_STREQ(ManifestObjectsPath(document), "objects/");
    std::vector<FrontDoorOffer> offers = FrontDoorOffers(document, true);
    ASSERT_EQ(offers.size(), 2u) << manifest;
    EXPECT_STREQ(offers[0].ver, "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(offers[0].size, 70000u);
    EXPECT_STREQ(offers[0].version, "1.0.5");
    EXPECT_EQ(offers[1].version, nullptr);
    ASSERT_EQ(ManifestEntries(document).size(), 1u);
    uint64_t read = 0;
    EXPECT_EQ(CheckSignedManifest(document, 0, &read), SignedManifestFault::None);
    EXPECT_EQ(read, sequence);
}

// A header as the linker writes it, enough for the check: "MZ", e_lfanew
// at 0x3C, "PE\0\0" there and the machine after it.
std::string PeHeader(uint16_t machine, uint32_t at = 0x80)
{
    std::string bytes(at + 0x40, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    for (int i = 0; i < 4; ++i)
        bytes[0x3C + i] = char(at >> (8 * i));
    bytes.replace(at, 4, std::string("PE\0\0", 4));
    bytes[at + 4] = char(machine);
    bytes[at + 5] = char(machine >> 8);
    return bytes;
}

TEST(FrontDoorPrograms, OnlyAWindowsProgramOfItsArchitectureIsOffered)
{
    struct Row {
        std::string bytes;
        const char* arch;
        std::string refusal;  // a part of it; empty: taken
    };
    std::string noSignature = PeHeader(0x14c), farOut = PeHeader(0x14c);
    noSignature[0x81] = 'X';
    farOut.replace(0x3C, 4, "\xf0\xff\xff\xff");  // near 4 GiB, where an unsigned sum would wrap
    const std::vector<Row> rows = {
        {PeHeader(0x14c), "i686", ""},
        {PeHeader(0x8664, 0x40), "x86_64", ""},
        {PeHeader(0x8664), "i686", "a program for x86_64, not for i686 (are the architecture directories swapped?)"},
        {PeHeader(0x14c), "x86_64", "a program for i686, not for x86_64"},
        {PeHeader(0xaa64), "x86_64", "a program for machine 0xaa64, not for x86_64"},
        {"MZ", "i686", "no MZ header"},
        {"ZM" + PeHeader(0x14c).substr(2), "i686", "no MZ header"},
        {noSignature, "i686", "no PE header"},
        {PeHeader(0x14c).substr(0, 0x85), "i686", "no PE header"},  // the machine cut off
        {farOut, "i686", "no PE header"},
    };
    for (const Row& row : rows) {
        std::string refusal = FrontDoorProgramRefusal(row.bytes, row.arch);
        if (row.refusal.empty())
            EXPECT_EQ(refusal, "") << row.arch;
        else
            EXPECT_NE(refusal.find(row.refusal), std::string::npos) << refusal;
    }
}

TEST(FrontDoorPrograms, TheVersionFileHoldsOneLine)
{
    const std::vector<std::pair<std::string, const char*>> rows = {
        {"1.0.5\n", "1.0.5"}, {"1.0.5", "1.0.5"}, {"2\r\n", "2"}, {"1.2.3.4", "1.2.3.4"},
        {"", nullptr}, {"\n", nullptr}, {"1.0.5\n\n", nullptr}, {"1.0.5\r", nullptr}, {" 1.0.5", nullptr},
        {"v1.0", nullptr}, {"1.2.3.4.5", nullptr}, {std::string("1\0", 2), nullptr},
    };
    for (const auto& row : rows) {
        std::string version = "unset";
        EXPECT_EQ(ReadFrontDoorVersionFile(row.first, &version), row.second != nullptr) << row.first;
        if (row.second) {
            EXPECT_EQ(version, row.second);
        }
    }
}

TEST(ManifestText, EncodingNameFollowsTheCodePage)
{
    const std::vector<std::pair<unsigned, std::string>> rows = {
        {936, "encoding=\"GBK\""}, {65001, "encoding=\"UTF-8\""}, {1252, "encoding=\"windows-1252\""}};
    for (const auto& row : rows) {
        std::string manifest, failed;
        ASSERT_TRUE(ComposeManifest(*Open(row.first), "1", {}, &manifest, &failed));
        EXPECT_NE(manifest.find(row.second), std::string::npos) << manifest;
    }
}

TEST(ManifestText, OrderIsByteOrderOfTheBackslashForm)
{
    // With "/" between directories "a/x" would come before "a0" and "aB".
    std::vector<ListedFile> files = {{"b", "", 0}, {"a/x", "", 0}, {"a0", "", 0}, {"aB", "", 0},
                                     {"a[", "", 0}, {"数", "", 0},  {"Z", "", 0},  {"a/X", "", 0}};
    SortInManifestForm(&files);
    std::vector<std::string> order;
    for (const ListedFile& file : files)
        order.push_back(file.path);
    EXPECT_EQ(order, (std::vector<std::string>{"Z", "a0", "aB", "a[", "a\\X", "a\\x", "b", "数"}));
}

class FakeInput : public InputFile {
public:
    FakeInput(size_t total, size_t step, bool failAtEnd) : left_(total), step_(step), failAtEnd_(failAtEnd) {}
    long long Read(unsigned char* buffer, size_t capacity) override
    {
        if (left_ == 0)
            return failAtEnd_ ? -1 : 0;
        size_t n = std::min({left_, step_, capacity});
        std::fill(buffer, buffer + n, 'a');
        left_ -= n;
        return (long long)n;
    }
    std::string Error() const override { return "device gone"; }

private:
    size_t left_, step_;
    bool failAtEnd_;
};

TEST(ManifestDigest, ShortReadsAndFailures)
{
    std::vector<unsigned char> buffer(65536);
    struct Row {
        size_t total, step;
        const char* digest;
    };
    // MD5 of the empty text and of one million "a" (RFC 1321's suite).
    const std::vector<Row> rows = {{0, 1, "D41D8CD98F00B204E9800998ECF8427E"},
                                   {1000000, 7777, "7707D6AE4E027C70EEA2A935C2296F21"},
                                   {1000000, 1000000, "7707D6AE4E027C70EEA2A935C2296F21"}};
    for (const Row& row : rows) {
        FakeInput input(row.total, row.step, false);
        std::string digest, error;
        uint64_t reported = 0;
        ASSERT_TRUE(DigestInput(input, buffer.data(), buffer.size(), &digest,
                                [&](uint64_t bytes) { reported += bytes; }, &error));
        EXPECT_EQ(digest, row.digest);
        EXPECT_EQ(reported, row.total);
    }
    FakeInput failing(100, 10, true);
    std::string digest, error;
    EXPECT_FALSE(DigestInput(failing, buffer.data(), buffer.size(), &digest, nullptr, &error));
    EXPECT_EQ(error, "device gone");
}

TEST(ManifestVerify, FindingsForEachKindOfEntry)
{
    std::unique_ptr<CodePage> gbk = Open(936);
    TreeListing listing;
    for (const char* path : {"ok.dat", "lower.dat", "nover.dat", "sub/slash.dat", "a.dat", "extra.dat",
                             "\xe6\x95\xb0/x.dat"})
        listing.files.push_back({path, path, 1});
    listing.refused.push_back({"out.lnk", "a link leading outside GAME_DIR, which is never followed"});
    const char* good = "0123456789ABCDEF0123456789ABCDEF";
    std::vector<ManifestEntry> entries = {
        {"ok.dat", good},
        {"lower.dat", "0123456789abcdef0123456789abcdef"},
        {"nover.dat", nullptr},
        {"sub/slash.dat", good},
        {"A.dat", good},  // a mirror serves names exactly
        {"gone\\file.dat", good},
        {"..\\escape.dat", good},
        {"data\\aux.dat", good},
        {"qalUpdate.part", good},
        {"bad\x81", good},  // a lead byte without its trail
        {"\xca\xfd\\x.dat", good},  // GBK for "数\x.dat"
        {"PROGRA~1.DAT", good},
        {"\xa7\xac\xa7\xd1\xa7\xe2\xa7\xe4\xa7\xd1.dat", good},  // GBK for "Карта.dat"
        {"\xa7\xdc\xa7\xd1\xa7\xe2\xa7\xe4\xa7\xd1.dat", good},  // and "карта.dat"
        {"name. \\x.dat", good},
    };
    std::string deep(230, 'd');
    entries.push_back({deep.c_str(), good});
    VerifyPlan plan = PlanVerify(entries, listing, *gbk, DefaultSite());
    SortFindings(&plan.findings);
    EXPECT_EQ(plan.findings, (std::vector<std::string>{
                                 "different: lower.dat",
                                 "different: nover.dat",
                                 "missing: A.dat",
                                 "missing: gone\\file.dat",
                                 "missing: Карта.dat",
                                 "missing: карта.dat",
                                 "refused: ..\\escape.dat (the updater refuses it: it leaves the game directory or "
                                 "names a device)",
                                 "refused: PROGRA~1.DAT (shaped like a short (8.3) name such as NAME~1.EXT, which "
                                 "Windows may have given another file of the same directory)",
                                 "refused: bad<0x81> (not text in code page 936)",
                                 "refused: data\\aux.dat (the updater refuses it: it leaves the game directory or "
                                 "names a device)",
                                 "refused: " + deep + " (too long for the updater: its path in the installation "
                                 "would exceed 259 characters)",
                                 "refused: name. \\x.dat (a name ending in a dot or a blank, which Windows drops)",
                                 "refused: out.lnk (a link leading outside GAME_DIR, which is never followed)",
                                 "refused: qalUpdate.part (the updater's own partial download name)",
                                 "refused: sub/slash.dat (separates directories with \"/\", for which the updater "
                                 "makes no directory: a fresh installation cannot take it; use \"\\\")",
                                 "refused: Карта.dat (differs only in letter case from карта.dat, the same file on "
                                 "Windows)",
                                 "refused: карта.dat (differs only in letter case from Карта.dat, the same file on "
                                 "Windows)",
                                 "unlisted: a.dat",
                                 "unlisted: extra.dat",
                                 "unlisted: sub\\slash.dat",
                             }));
    std::set<std::string> checked;
    for (const VerifyPlan::Check& check : plan.checks)
        checked.insert(check.path);
    EXPECT_EQ(checked, (std::set<std::string>{"ok.dat", "数\\x.dat"}));
}

TEST(ManifestPatches, LibzstdOutOfMemoryIsToldApartFromOtherFailures)
{
    std::string older(1 << 20, '\0');
    for (size_t i = 0; i < older.size(); ++i)
        older[i] = char((i * 2654435761u) >> 13);
    std::string newer = older.substr(0, 500000) + "inserted" + older.substr(500000);
    // Room for the context, never for the tables of a window over a whole MiB.
    PatchMemory scarce;
    scarce.allocate = [](void* refused, size_t size) -> void* {
        if (size <= 64 * 1024)
            return std::malloc(size);
        ++*static_cast<int*>(refused);
        return nullptr;
    };
    scarce.release = [](void*, void* address) { std::free(address); };
    int refused = 0;
    scarce.opaque = &refused;
    std::string patch, error;
    EXPECT_EQ(MakePatch(older, newer, &patch, &error, scarce), PatchMade::OutOfMemory) << error;
    EXPECT_GT(refused, 0);
    EXPECT_EQ(MakePatch(older, newer, &patch, &error), PatchMade::Made) << error;
}

// A scratch directory removed with everything in it.
class ScratchTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/qal-tree-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root_ = name;
        ASSERT_EQ(mkdir((root_ + "/game").c_str(), 0755), 0);
        char outside[] = "/tmp/qal-outside-XXXXXX";
        ASSERT_NE(mkdtemp(outside), nullptr);
        outside_ = outside;
    }
    void TearDown() override
    {
        std::system(("rm -rf '" + root_ + "' '" + outside_ + "'").c_str());
    }
    void Put(const std::string& path, const std::string& content)
    {
        std::string full = root_ + "/game/" + path;
        std::system(("mkdir -p \"$(dirname '" + full + "')\"").c_str());
        std::ofstream(full, std::ios::binary) << content;
    }
    std::string Game() const { return root_ + "/game"; }

    std::string root_, outside_;
};

TEST_F(ScratchTree, LinksAreFollowedOnlyToRegularFilesInside)
{
    Put("real.dat", "real");
    Put("sub/deep.dat", "deep");
    ASSERT_EQ(mkdir((Game() + "/empty").c_str(), 0755), 0);
    std::ofstream(outside_ + "/secret.dat") << "secret";
    ASSERT_EQ(symlink("real.dat", (Game() + "/inside.lnk").c_str()), 0);
    // Out of the directory and back in: still inside.
    ASSERT_EQ(symlink("../game/sub/deep.dat", (Game() + "/up.lnk").c_str()), 0);
    ASSERT_EQ(symlink((outside_ + "/secret.dat").c_str(), (Game() + "/outside.lnk").c_str()), 0);
    ASSERT_EQ(symlink("nowhere.dat", (Game() + "/dangling.lnk").c_str()), 0);
    ASSERT_EQ(symlink("sub", (Game() + "/dir.lnk").c_str()), 0);
    ASSERT_EQ(symlink(".", (Game() + "/self.lnk").c_str()), 0);
    ASSERT_EQ(mkfifo((Game() + "/pipe").c_str(), 0644), 0);

    TreeListing listing;
    std::string error;
    ASSERT_TRUE(ListTree(Game(), &listing, &error)) << error;
    std::set<std::pair<std::string, uint64_t>> files;
    for (const ListedFile& file : listing.files)
        files.insert({file.path, file.size});
    EXPECT_EQ(files, (std::set<std::pair<std::string, uint64_t>>{
                         {"real.dat", 4}, {"sub/deep.dat", 4}, {"inside.lnk", 4}, {"up.lnk", 4}}));
    std::set<std::pair<std::string, std::string>> refused;
    for (const RefusedEntry& entry : listing.refused)
        refused.insert({entry.path, entry.reason.substr(0, entry.reason.find(", "))});
    EXPECT_EQ(refused, (std::set<std::pair<std::string, std::string>>{
                           {"outside.lnk", "a link leading outside GAME_DIR"},
                           {"dangling.lnk", "a link that leads nowhere: No such file or directory"},
                           {"dir.lnk", "a link to a directory"},
                           {"self.lnk", "a link to a directory"},
                           {"pipe", "a fifo"}}));

    // The link's entry is read from its target.
    for (const ListedFile& file : listing.files) {
        if (file.path != "inside.lnk")
            continue;
        std::string openError, digest;
        std::unique_ptr<InputFile> input = OpenInputFile(file.source, &openError);
        ASSERT_TRUE(input) << openError;
        std::vector<unsigned char> buffer(16);
        ASSERT_TRUE(DigestInput(*input, buffer.data(), buffer.size(), &digest, nullptr, &openError));
        EXPECT_EQ(digest, "4BCA24304861ACDE5770FDBE3CC2503B");
    }
}

TEST_F(ScratchTree, ANewFileNeverTakesThePlaceOfAnother)
{
    Put("object", "first");
    std::string error;
    std::unique_ptr<NewFile> file = StartNewFile(Game() + "/object", &error);
    ASSERT_TRUE(file) << error;
    ASSERT_TRUE(file->Write(reinterpret_cast<const unsigned char*>("second"), 6, &error)) << error;
    EXPECT_EQ(file->Place(&error), NewFile::Placed::TargetExists) << error;
    file.reset();
    file = StartNewFile(Game() + "/fresh", &error);
    ASSERT_TRUE(file) << error;
    ASSERT_TRUE(file->Write(reinterpret_cast<const unsigned char*>("new"), 3, &error)) << error;
    EXPECT_EQ(file->Place(&error), NewFile::Placed::Done) << error;
    file = StartNewFile(Game() + "/abandoned", &error);
    ASSERT_TRUE(file) << error;
    file.reset();

    std::vector<std::string> names;
    ASSERT_TRUE(ListDirectoryFiles(Game(), &names, &error)) << error;
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), (std::set<std::string>{"object", "fresh"}));
    std::string content;
    ASSERT_TRUE(ReadWholeFile(Game() + "/object", 100, &content, &error));
    EXPECT_EQ(content, "first");
}

TEST_F(ScratchTree, ARootThatIsNoDirectoryIsAnError)
{
    Put("file.dat", "x");
    TreeListing listing;
    std::string error;
    EXPECT_FALSE(ListTree(Game() + "/file.dat", &listing, &error));
    EXPECT_EQ(error, "not a directory");
    EXPECT_FALSE(ListTree(Game() + "/missing", &listing, &error));
    EXPECT_EQ(error, "No such file or directory");
}

}  // namespace

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ManifestReader.h"
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

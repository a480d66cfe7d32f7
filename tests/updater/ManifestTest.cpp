#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ManifestReader.h"

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

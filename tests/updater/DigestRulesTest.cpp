#include <gtest/gtest.h>

#include "DigestText.h"

namespace {
const char kLower[] = "900150983cd24fb0d6963f7d28e17f72";
const char kUpper[] = "900150983CD24FB0D6963F7D28E17F72";
}  // namespace

TEST(DigestRules, OnlyTheExactUppercaseFormMatches)
{
    EXPECT_TRUE(DigestTextMatches(kLower, kUpper));
    EXPECT_FALSE(DigestTextMatches(kLower, kLower));
    EXPECT_FALSE(DigestTextMatches(kLower, "900150983Cd24FB0D6963F7D28E17F72"));
    EXPECT_FALSE(DigestTextMatches(kLower, " 900150983CD24FB0D6963F7D28E17F72"));
    EXPECT_FALSE(DigestTextMatches(kLower, "900150983CD24FB0D6963F7D28E17F72 "));
    EXPECT_FALSE(DigestTextMatches(kLower, "900150983CD24FB0D6963F7D28E17F7"));
    EXPECT_FALSE(DigestTextMatches(kLower, "900150983CD24FB0D6963F7D28E17F720"));
    EXPECT_FALSE(DigestTextMatches(kLower, ""));
}

TEST(DigestRules, MissingDigestNeverMatches)
{
    EXPECT_FALSE(DigestTextMatches(kLower, nullptr));
    EXPECT_FALSE(DigestTextMatches(nullptr, kUpper));
    EXPECT_FALSE(DigestTextMatches(nullptr, nullptr));
}

TEST(DigestRules, OnlyThirtyTwoUppercaseHexDigitsCanProveADownload)
{
    EXPECT_TRUE(IsWellFormedDigest(kUpper));
    EXPECT_TRUE(IsWellFormedDigest("0123456789ABCDEF0123456789ABCDEF"));
    for (const char* text : {kLower, "900150983CD24FB0D6963F7D28E17F7", "900150983CD24FB0D6963F7D28E17F720",
                             " 900150983CD24FB0D6963F7D28E17F7", "900150983CD24FB0D6963F7D28E17F7G", "", "00"})
        EXPECT_FALSE(IsWellFormedDigest(text)) << text;
    EXPECT_FALSE(IsWellFormedDigest(nullptr));
}

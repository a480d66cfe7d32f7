#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "AnsiText.h"
#include "DigestText.h"
#include "EnsureDirectory.h"
#include "FileDigest.h"

namespace {

class FileDigestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t base[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, base);
        dir = std::wstring(base) + L"\\file_digest_test";
        CreateDirectoryW(dir.c_str(), nullptr);
    }
    void TearDown() override
    {
        for (const std::wstring& file : files)
            DeleteFileW(file.c_str());
        RemoveDirectoryW((dir + L"\\a directory").c_str());
        RemoveDirectoryW(dir.c_str());
    }
    std::wstring Write(const wchar_t* name, const std::string& content)
    {
        std::wstring path = dir + L"\\" + name;
        FILE* f = _wfopen(path.c_str(), L"wb");
        EXPECT_NE(f, nullptr);
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        files.push_back(path);
        return path;
    }
    std::wstring dir;
    std::vector<std::wstring> files;
};


}  // namespace

TEST_F(FileDigestTest, DigestsTheFileAsLowercaseText)
{
    char digest[kDigestTextCapacity];
    std::wstring abc = Write(L"abc with space.txt", "abc");
    ASSERT_TRUE(DigestLocalFile(abc.c_str(), digest));
    EXPECT_STREQ(digest, "900150983cd24fb0d6963f7d28e17f72");
    std::wstring empty = Write(L"empty.bin", "");
    ASSERT_TRUE(DigestLocalFile(empty.c_str(), digest));
    EXPECT_STREQ(digest, "d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(FileDigestTest, MissingFileIsSilentlyNone)
{
    char digest[kDigestTextCapacity];
    testing::internal::CaptureStdout();
    EXPECT_FALSE(DigestLocalFile((dir + L"\\nothing.bin").c_str(), digest));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(FileDigestTest, DirectoryCannotBeOpenedAndSaysSo)
{
    char digest[kDigestTextCapacity];
    std::wstring sub = dir + L"\\a directory";
    CreateDirectoryW(sub.c_str(), nullptr);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(DigestLocalFile(sub.c_str(), digest));
    std::string output = testing::internal::GetCapturedStdout();
    char narrow[MAX_PATH * 2];
    WideCharToMultiByte(CP_THREAD_ACP, 0, sub.c_str(), -1, narrow, sizeof narrow, nullptr, nullptr);
    EXPECT_EQ(output, std::string(narrow) + " can't be opened\n");
}

TEST(EnsureDirectoryTest, CreatesEveryMissingLevel)
{
    wchar_t base[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, base);
    std::wstring root = std::wstring(base) + L"\\ensure_dir_test";
    std::wstring deep = root + L"\\a\\b c\\d";
    EXPECT_TRUE(EnsureDirectory(deep.c_str()));
    DWORD attributes = GetFileAttributesW(deep.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(EnsureDirectory(deep.c_str()));  // already there
    EXPECT_TRUE(EnsureDirectory(L"C:\\"));
    EXPECT_FALSE(EnsureDirectory(L""));
    EXPECT_FALSE(EnsureDirectory(nullptr));
    RemoveDirectoryW(deep.c_str());
    RemoveDirectoryW((root + L"\\a\\b c").c_str());
    RemoveDirectoryW((root + L"\\a").c_str());
    RemoveDirectoryW(root.c_str());
}

TEST(AnsiTextTest, NarrowBufferIsAsLargeAsTheCodePageNeeds)
{
    // Under the system-wide UTF-8 option a CJK character takes three bytes:
    // an installation below a Chinese directory name must still convert whole.
    const wchar_t path[] = L"D:\\\u6e38\u620f\u76ee\u5f55\\\u5965\u6587\\download/qupdater.xml";
    std::vector<char> narrow;
    ASSERT_TRUE(WideToCodePage(CP_UTF8, path, &narrow));
    EXPECT_EQ(std::string(narrow.data()),
              "D:\\\xe6\xb8\xb8\xe6\x88\x8f\xe7\x9b\xae\xe5\xbd\x95\\\xe5\xa5\xa5\xe6\x96\x87\\download/qupdater.xml");
    EXPECT_EQ(narrow.size(), std::string(narrow.data()).size() + 1);
    std::wstring cjkOnly(200, L'\u6e38');
    ASSERT_TRUE(WideToCodePage(CP_UTF8, cjkOnly.c_str(), &narrow));
    EXPECT_EQ(std::strlen(narrow.data()), 600u);
    EXPECT_FALSE(WideToCodePage(CP_UTF8, nullptr, &narrow));
    EXPECT_TRUE(narrow.empty());
}

// Checks the shipped executables' resources where the programs and Windows
// look for them: ids, types, image formats and sizes, icons, version, manifest.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::wstring launcherExe, updaterExe;

std::wstring ToWindowsPath(const char* path)
{
    std::string p = path;
    if (!p.empty() && p[0] == '/') {
        for (auto& c : p)
            if (c == '/')
                c = '\\';
        p = "Z:" + p;
    }
    return std::wstring(p.begin(), p.end());
}

class Module {
public:
    explicit Module(const std::wstring& path)
        : handle(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    ~Module()
    {
        if (handle)
            FreeLibrary(handle);
    }
    HMODULE get() const { return handle; }

    std::vector<uint8_t> Bytes(LPCWSTR name, LPCWSTR type) const
    {
        HRSRC found = FindResourceW(handle, name, type);
        if (!found)
            return {};
        HGLOBAL loaded = LoadResource(handle, found);
        auto* data = static_cast<const uint8_t*>(LockResource(loaded));
        return std::vector<uint8_t>(data, data + SizeofResource(handle, found));
    }

private:
    HMODULE handle;
};

uint32_t BigEndian32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

struct PngInfo {
    bool valid = false;
    uint32_t width = 0, height = 0;
    int bitDepth = 0, colourType = 0;
    std::vector<uint8_t> transparency;  // the tRNS chunk
};

PngInfo ReadPng(const std::vector<uint8_t>& bytes)
{
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    PngInfo info;
    if (bytes.size() < 33 || std::memcmp(bytes.data(), signature, 8) != 0)
        return info;
    size_t at = 8;
    while (at + 12 <= bytes.size()) {
        uint32_t length = BigEndian32(&bytes[at]);
        std::string type(reinterpret_cast<const char*>(&bytes[at + 4]), 4);
        if (at + 12 + length > bytes.size())
            return info;
        const uint8_t* data = &bytes[at + 8];
        if (type == "IHDR") {
            info.width = BigEndian32(data);
            info.height = BigEndian32(data + 4);
            info.bitDepth = data[8];
            info.colourType = data[9];
        } else if (type == "tRNS") {
            info.transparency.assign(data, data + length);
        } else if (type == "IEND") {
            info.valid = true;
            break;
        }
        at += 12 + length;
    }
    return info;
}

void ExpectPng(const Module& m, UINT id, uint32_t w, uint32_t h, PngInfo* out = nullptr)
{
    SCOPED_TRACE(testing::Message() << "PNG " << id);
    PngInfo png = ReadPng(m.Bytes(MAKEINTRESOURCEW(id), L"PNG"));
    ASSERT_TRUE(png.valid);
    EXPECT_EQ(png.width, w);
    EXPECT_EQ(png.height, h);
    if (out)
        *out = png;
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

void ExpectIconGroup(const Module& m, UINT id)
{
    SCOPED_TRACE(testing::Message() << "icon group " << id);
    std::vector<uint8_t> group = m.Bytes(MAKEINTRESOURCEW(id), RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u);
    WORD count;
    std::memcpy(&count, &group[4], 2);
    ASSERT_EQ(count, 4);
    ASSERT_GE(group.size(), 6u + count * sizeof(GroupIconEntry));
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        GroupIconEntry entry;
        std::memcpy(&entry, &group[6 + i * sizeof(GroupIconEntry)], sizeof entry);
        int size = entry.width ? entry.width : 256;
        sizes.push_back(size);
        EXPECT_EQ(entry.bitCount, 32);
        std::vector<uint8_t> image = m.Bytes(MAKEINTRESOURCEW(entry.id), RT_ICON);
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER header;
        std::memcpy(&header, image.data(), sizeof header);
        EXPECT_EQ(header.biSize, sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(header.biBitCount, 32);
        EXPECT_EQ(header.biWidth, size);
        EXPECT_EQ(header.biHeight, 2 * size);
        // The system turns the group into a usable icon of each size.
        HICON icon = CreateIconFromResourceEx(image.data(), (DWORD)image.size(), TRUE, 0x00030000, size, size, 0);
        EXPECT_NE(icon, nullptr);
        if (icon)
            DestroyIcon(icon);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 128}));
}

std::wstring VersionString(const std::wstring& exe, const wchar_t* key)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    std::vector<uint8_t> info(size);
    if (!size || !GetFileVersionInfoW(exe.c_str(), 0, size, info.data()))
        return L"<no version info>";
    struct Translation { WORD language, codePage; }* translations = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &length) || !length)
        return L"<no translation>";
    wchar_t path[128];
    swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translations->language, translations->codePage, key);
    wchar_t* value = nullptr;
    if (!VerQueryValueW(info.data(), path, reinterpret_cast<void**>(&value), &length))
        return L"<missing>";
    return value;
}

void ExpectVersion(const std::wstring& exe, WORD build, const wchar_t* text)
{
    EXPECT_EQ(VersionString(exe, L"FileDescription"), L"Orvane");
    EXPECT_EQ(VersionString(exe, L"ProductName"), L"Orvane");
    EXPECT_EQ(VersionString(exe, L"FileVersion"), text);
    EXPECT_EQ(VersionString(exe, L"ProductVersion"), text);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    std::vector<uint8_t> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(build, 0));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 1));
    EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(build, 0));
}

void ExpectManifest(const Module& m)
{
    std::vector<uint8_t> bytes = m.Bytes(MAKEINTRESOURCEW(1), RT_MANIFEST);
    std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_EQ(text.find("dpiAware"), std::string::npos);
    EXPECT_EQ(text.find("dpiAwareness"), std::string::npos);
    EXPECT_EQ(text.find("requireAdministrator"), std::string::npos);
}

TEST(LauncherResources, ImagesHaveTheirSizesAndFormats)
{
    Module m(launcherExe);
    ASSERT_NE(m.get(), nullptr);
    PngInfo skin, logo;
    ExpectPng(m, 102, 1221, 739, &skin);
    EXPECT_EQ(skin.colourType, 3);  // palette
    EXPECT_EQ(skin.bitDepth, 8);
    bool partial = false, clear = false;
    for (uint8_t alpha : skin.transparency) {
        partial = partial || (alpha > 0 && alpha < 255);
        clear = clear || alpha == 0;
    }
    EXPECT_TRUE(partial) << "the palette carries per-entry alpha, not only on/off";
    EXPECT_TRUE(clear);
    ExpectPng(m, 103, 369, 177, &logo);
    EXPECT_EQ(logo.colourType, 6);  // 32-bit RGBA
    EXPECT_EQ(logo.bitDepth, 8);
    ExpectPng(m, 104, 35, 31);
    ExpectPng(m, 105, 35, 31);
    ExpectPng(m, 106, 73, 24);
    ExpectPng(m, 109, 42, 24);
    EXPECT_TRUE(m.Bytes(MAKEINTRESOURCEW(101), L"JPG").empty());
}

TEST(LauncherResources, IconVersionAndManifest)
{
    Module m(launcherExe);
    ASSERT_NE(m.get(), nullptr);
    ExpectIconGroup(m, 113);
    ExpectVersion(launcherExe, 1, L"1.0.0.1");
    ExpectManifest(m);
}

TEST(UpdaterResources, ImagesHaveTheirSizesAndFormats)
{
    Module m(updaterExe);
    ASSERT_NE(m.get(), nullptr);
    std::vector<uint8_t> jpeg = m.Bytes(MAKEINTRESOURCEW(101), L"JPG");
    ASSERT_GT(jpeg.size(), 4u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    // Walk the JPEG markers to its frame header.
    size_t at = 2;
    int width = 0, height = 0;
    while (at + 9 < jpeg.size() && jpeg[at] == 0xFF) {
        uint8_t marker = jpeg[at + 1];
        size_t length = (jpeg[at + 2] << 8) | jpeg[at + 3];
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            height = (jpeg[at + 5] << 8) | jpeg[at + 6];
            width = (jpeg[at + 7] << 8) | jpeg[at + 8];
            break;
        }
        at += 2 + length;
    }
    EXPECT_EQ(width, 810);
    EXPECT_EQ(height, 340);

    std::vector<uint8_t> bmp = m.Bytes(MAKEINTRESOURCEW(102), L"JPG");
    ASSERT_GT(bmp.size(), 54u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    BITMAPINFOHEADER header;
    std::memcpy(&header, &bmp[14], sizeof header);
    EXPECT_EQ(header.biWidth, 37);
    EXPECT_EQ(std::abs(header.biHeight), 37);
    EXPECT_TRUE(m.Bytes(MAKEINTRESOURCEW(102), L"PNG").empty());
}

TEST(UpdaterResources, IconVersionAndManifest)
{
    Module m(updaterExe);
    ASSERT_NE(m.get(), nullptr);
    ExpectIconGroup(m, 105);
    ExpectVersion(updaterExe, 2, L"1.0.0.2");
    ExpectManifest(m);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: resources_test qalLogin.exe qalUpdate.exe\n");
        return 2;
    }
    launcherExe = ToWindowsPath(argv[1]);
    updaterExe = ToWindowsPath(argv[2]);
    return RUN_ALL_TESTS();
}

#include "GdiPlusBitmap.h"

#include <gtest/gtest.h>
#include <psapi.h>

// The program-wide type the one-argument Load uses; this test plays the launcher.
const wchar_t kImageResourceType[] = L"PNG";

namespace {

class GdiplusEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(token); }

private:
    ULONG_PTR token = 0;
};

::testing::Environment* const gdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

void ExpectEmpty(const CGdiPlusBitmapResource& image)
{
    EXPECT_EQ(image.GetBitmap(), nullptr);
    EXPECT_EQ(image.GetGlobalBuffer(), nullptr);
}

void ExpectLoaded(const CGdiPlusBitmapResource& image, UINT width, UINT height)
{
    ASSERT_NE(image.GetBitmap(), nullptr);
    EXPECT_EQ(image.GetBitmap()->GetWidth(), width);
    EXPECT_EQ(image.GetBitmap()->GetHeight(), height);
    // The bitmap reads from the block: it must stay allocated and locked once.
    ASSERT_NE(image.GetGlobalBuffer(), nullptr);
    EXPECT_EQ(GlobalFlags(image.GetGlobalBuffer()) & GMEM_LOCKCOUNT, 1u);
}

// The process's committed private memory. Wine leaves PrivateUsage at 0 and
// fills PagefileUsage, which Windows reports as the same commit charge.
SIZE_T CommittedBytes()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        ADD_FAILURE() << "GetProcessMemoryInfo failed: " << GetLastError();
        return 0;
    }
    return counters.PagefileUsage;
}

struct ImageCase {
    UINT id;
    const wchar_t* type;
    UINT width;
    UINT height;
};

TEST(ImageLoader, EveryProgramImageLoadsWithItsSize)
{
    const ImageCase cases[] = {
        {102, L"PNG", 1221, 739}, {103, L"PNG", 369, 177}, {104, L"PNG", 35, 31},
        {105, L"PNG", 35, 31},    {106, L"PNG", 73, 24},   {109, L"PNG", 42, 24},
        {101, L"JPG", 810, 340},  {102, L"JPG", 37, 37},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "resource " << c.id);
        CGdiPlusBitmapResource image;
        ASSERT_TRUE(image.Load(c.id, c.type));
        ExpectLoaded(image, c.width, c.height);
    }
}

TEST(ImageLoader, ProgramTypeIsUsedWhenNoneIsGiven)
{
    CGdiPlusBitmapResource image;
    EXPECT_TRUE(image.Load(102));
    ExpectLoaded(image, 1221, 739);
    EXPECT_FALSE(image.Load(101));  // only a "JPG" resource has that id
    ExpectEmpty(image);
}

TEST(ImageLoader, MissingIdentifierOrWrongTypeLeavesObjectEmpty)
{
    CGdiPlusBitmapResource image;
    EXPECT_FALSE(image.Load(999, L"PNG"));
    ExpectEmpty(image);
    EXPECT_FALSE(image.Load(104, L"JPG"));
    ExpectEmpty(image);
    EXPECT_FALSE(image.Load(101, L"PNG"));
    ExpectEmpty(image);
}

TEST(ImageLoader, UndecodableBytesFailAndReleaseEverything)
{
    CGdiPlusBitmapResource image;
    EXPECT_FALSE(image.Load(900, L"PNG"));
    ExpectEmpty(image);
}

TEST(ImageLoader, FailedReloadLeavesObjectEmpty)
{
    CGdiPlusBitmapResource image;
    ASSERT_TRUE(image.Load(103, L"PNG"));
    EXPECT_FALSE(image.Load(999, L"PNG"));
    ExpectEmpty(image);
    ASSERT_TRUE(image.Load(103, L"PNG"));
    EXPECT_FALSE(image.Load(900, L"PNG"));
    ExpectEmpty(image);
}

TEST(ImageLoader, ReloadingReleasesTheFirstImage)
{
    CGdiPlusBitmapResource image;
    ASSERT_TRUE(image.Load(102, L"PNG"));
    ExpectLoaded(image, 1221, 739);
    ASSERT_TRUE(image.Load(104, L"PNG"));
    ExpectLoaded(image, 35, 31);

    // The skin costs a few MB decoded; keeping earlier loads alive would grow
    // the process by far more than the bound below.
    for (int i = 0; i < 5; ++i)
        image.Load(102, L"PNG");
    const SIZE_T before = CommittedBytes();
    ASSERT_GT(before, 0u);
    for (int i = 0; i < 60; ++i) {
        ASSERT_TRUE(image.Load(102, L"PNG"));
        image.GetBitmap()->GetWidth();
    }
    for (int i = 0; i < 60; ++i)
        EXPECT_FALSE(image.Load(900, L"PNG"));
    const SIZE_T after = CommittedBytes();
    EXPECT_LT(after, before + 40u * 1024 * 1024) << "before " << before << " after " << after;
}

TEST(ImageLoader, ClearAndDestructionAreHarmlessWhenEmpty)
{
    CGdiPlusBitmapResource image;
    image.Clear();
    image.Clear();
    ExpectEmpty(image);

    CGdiPlusBitmap* empty = new CGdiPlusBitmapResource;
    delete empty;

    CGdiPlusBitmap* loaded = new CGdiPlusBitmapResource;
    ASSERT_TRUE(static_cast<CGdiPlusBitmapResource*>(loaded)->Load(106, L"PNG"));
    delete loaded;  // through the base: the virtual destructor frees both parts
}

TEST(ImageLoader, LoadedBitmapDrawsItsPixels)
{
    CGdiPlusBitmapResource image;
    ASSERT_TRUE(image.Load(101, L"JPG"));
    Gdiplus::Bitmap canvas(810, 340, PixelFormat32bppARGB);
    Gdiplus::Graphics graphics(&canvas);
    graphics.Clear(Gdiplus::Color(0, 0, 0, 0));
    ASSERT_EQ(graphics.DrawImage(image.GetBitmap(), 0, 0), Gdiplus::Ok);
    Gdiplus::Color pixel;
    canvas.GetPixel(405, 170, &pixel);
    EXPECT_EQ(pixel.GetA(), 255);  // a JPEG is opaque everywhere
}

} // namespace

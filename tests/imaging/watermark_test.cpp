// The watermark, read back from the saved JPEG: plain and polygon placement, colour key, order, files.

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <filesystem>
#include <cstddef>
#include <source_location>
#include <string>
#include <thread>
#include <vector>

#include "ImagingTestSupport.h"
#include "framework/Handles.h"
#include "imaging/ImageComposer.h"

namespace lumetra::test {
namespace {

constexpr Rgb Frame_{40, 40, 40};
constexpr Rgb Red{230, 20, 20};
constexpr Rgb Blue{20, 40, 230};
constexpr Rgb Green{20, 210, 40};
constexpr Rgb Yellow{230, 220, 20};
constexpr Rgb White{255, 255, 255};
constexpr Rgb NearWhite{254, 254, 254};
constexpr Rgb Black{0, 0, 0};
constexpr int Tolerance = 30;

// A pixel of a composed image and the colour it must have, within the tolerance.
struct Probe {
    int x, y;
    Rgb colour;
};

// Looks at every probe; a failure names the probe and the line that asked.
template <std::size_t N>
void ExpectColours(const Image& image, const Probe (&probes)[N],
                   std::source_location listed = std::source_location::current()) {
    const ::testing::ScopedTrace where(listed.file_name(), static_cast<int>(listed.line()), "probes");
    for (const Probe& probe : probes) {
        SCOPED_TRACE("at (" + std::to_string(probe.x) + ", " + std::to_string(probe.y) + ")");
        const Rgb actual = image.At(probe.x, probe.y);
        EXPECT_TRUE(Near(actual, probe.colour, Tolerance))
            << Describe(actual) << " expected " << Describe(probe.colour);
    }
}

OverlaySettings WatermarkSettings(const std::string& picture) {
    OverlaySettings overlay;
    overlay.useWatermark = 1;
    overlay.watermarkPath = picture;
    return overlay;
}

Image Compose(const OverlaySettings& overlay, const char* name, int width = 200, int height = 150) {
    return ComposeAndRead(Frame(width, height, Frame_), overlay, TempPath(name));
}

// Left half red, right half blue.
std::string SplitPicture() {
    const std::string path = TempPath("split.png");
    if (!FileExists(path))
        WritePicture(path, 40, 30, [](int x, int) { return x < 20 ? Red : Blue; });
    return path;
}

TEST(Watermark, PlainAtNaturalSizeAndOnlyWhenSwitchedOn) {
    OverlaySettings overlay = WatermarkSettings(SplitPicture());
    const Image image = Compose(overlay, "wm-natural.jpg");
    const Probe probes[] = {{5, 5, Red},    {15, 25, Red},    {25, 5, Blue},
                            {36, 26, Blue}, {44, 15, Frame_}, {15, 34, Frame_}};
    ExpectColours(image, probes);

    // Only exactly 1 switches it on; a desired size with one side 0 is ignored.
    overlay.useWatermark = 2;
    EXPECT_EQ(CountPixels(Compose(overlay, "wm-off.jpg"), [](Rgb c) { return !Near(c, Frame_, Tolerance); }),
              0);
    overlay.useWatermark = 1;
    overlay.watermarkWidth = 100;
    const Image ignoredSize = Compose(overlay, "wm-half-size.jpg");
    ExpectColours(ignoredSize, {{36, 26, Blue}, {44, 15, Frame_}});
}

TEST(Watermark, PlainRectangleCountsItsSizeFromTheFramesCorner) {
    OverlaySettings overlay = WatermarkSettings(SplitPicture());
    overlay.watermarkX = 10;
    overlay.watermarkY = 20;
    overlay.watermarkWidth = 100;
    overlay.watermarkHeight = 50;
    const Image image = Compose(overlay, "wm-rect.jpg");
    // Drawn into (10, 20) .. (120, 90): 110 x 70, split in the middle at x = 65.
    const Probe probes[] = {{13, 23, Red},   {61, 86, Red},    {69, 23, Blue},    {116, 86, Blue},
                            {6, 50, Frame_}, {60, 16, Frame_}, {124, 50, Frame_}, {60, 94, Frame_}};
    ExpectColours(image, probes);
    // Clearly covered pixels only: JPEG rings a little around the picture's edges.
    const Box covered = FindPixels(image, [](Rgb c) { return !Near(c, Frame_, 100); });
    EXPECT_NEAR(covered.left, 10, 2);
    EXPECT_NEAR(covered.top, 20, 2);
    EXPECT_NEAR(covered.Width(), 110, 3);
    EXPECT_NEAR(covered.Height(), 70, 3);
}

TEST(Watermark, ExtremeOffsetsAndSizesStillSave) {
    OverlaySettings overlay = WatermarkSettings(SplitPicture());
    overlay.watermarkX = INT_MAX - 10;
    overlay.watermarkY = 5;
    overlay.watermarkWidth = 100;
    overlay.watermarkHeight = 50;
    const auto untouched = [](const Image& image) {
        return CountPixels(image, [](Rgb c) { return !Near(c, Frame_, Tolerance); }) == 0;
    };
    EXPECT_TRUE(untouched(Compose(overlay, "wm-far.jpg")));
    overlay.watermarkX = INT_MIN;
    EXPECT_TRUE(untouched(Compose(overlay, "wm-far.jpg")));
    overlay.polygonWatermark = 1;
    overlay.watermarkX = 0;
    overlay.watermarkWidth = INT_MAX;
    overlay.watermarkHeight = INT_MAX;
    EXPECT_EQ(Compose(overlay, "wm-huge.jpg").width, 200);
}

// 120 x 80: top half green, bottom half yellow.
std::string PolygonPicture() {
    const std::string path = TempPath("poly.png");
    if (!FileExists(path))
        WritePicture(path, 120, 80, [](int, int y) { return y < 40 ? Green : Yellow; });
    return path;
}

TEST(Watermark, PolygonIsADiamondTiledFromTheFramesCorner) {
    OverlaySettings overlay = WatermarkSettings(PolygonPicture());
    overlay.polygonWatermark = 1;
    overlay.polygonSides = 4;
    const Image image = Compose(overlay, "wm-diamond.jpg");
    // Vertices (100, 50), (50, 100), (0, 50), (50, 0); tiles start at (0, 0), so below y = 80
    // the picture's green top half begins again.
    const Probe probes[] = {{50, 8, Green},   {50, 34, Green},  {12, 48, Yellow},  {88, 52, Yellow},
                            {50, 75, Yellow}, {50, 92, Green},  {15, 15, Frame_},  {85, 15, Frame_},
                            {15, 85, Frame_}, {85, 85, Frame_}, {106, 50, Frame_}, {50, 106, Frame_},
                            {150, 50, Frame_}};
    ExpectColours(image, probes);
    const Box covered = FindPixels(image, [](Rgb c) { return !Near(c, Frame_, Tolerance); });
    EXPECT_NEAR(covered.left, 0, 2);
    EXPECT_NEAR(covered.top, 0, 2);
    EXPECT_NEAR(covered.right, 100, 2);
    EXPECT_NEAR(covered.bottom, 100, 2);

    // Offsets move the polygon over the same tiling.
    overlay.watermarkX = 60;
    overlay.watermarkY = 30;
    const Image moved = Compose(overlay, "wm-diamond-moved.jpg");
    const Probe movedProbes[] = {{110, 36, Green},   {110, 45, Yellow}, {110, 90, Green},
                                 {110, 125, Yellow}, {70, 40, Frame_},  {50, 80, Frame_}};
    ExpectColours(moved, movedProbes);
}

TEST(Watermark, PolygonWithDesiredSizeScalesRadiusAndTiles) {
    OverlaySettings overlay = WatermarkSettings(PolygonPicture());
    overlay.polygonWatermark = 1;
    overlay.polygonSides = 4;
    overlay.watermarkX = 30;
    overlay.watermarkY = 30;
    overlay.watermarkWidth = 40;
    overlay.watermarkHeight = 40;
    const Image image = Compose(overlay, "wm-diamond-sized.jpg");
    // r = 20, centre (50, 50); tiles 40 x 40: green rows 0-19, yellow 20-39, green 40-59, yellow 60-79.
    const Probe probes[] = {{50, 35, Yellow}, {50, 46, Green},  {50, 55, Green}, {50, 65, Yellow},
                            {50, 75, Frame_}, {75, 50, Frame_}, {36, 36, Frame_}};
    ExpectColours(image, probes);
}

TEST(Watermark, PolygonSideCounts) {
    OverlaySettings overlay = WatermarkSettings(PolygonPicture());
    overlay.polygonWatermark = 1;
    const auto anythingDrawn = [](const Image& image) {
        return CountPixels(image, [](Rgb c) { return !Near(c, Frame_, Tolerance); }) > 0;
    };
    for (int sides : {2, 0, -1, 1000000}) {
        overlay.polygonSides = sides;
        EXPECT_FALSE(anythingDrawn(Compose(overlay, "wm-sides.jpg"))) << sides << " sides";
    }
    // More sides than the dialog offers: close to a circle of radius 50 around (50, 50).
    overlay.polygonSides = 40;
    const Image circle = Compose(overlay, "wm-circle.jpg");
    const Probe circleProbes[] = {
        {95, 50, Yellow}, {50, 5, Green}, {18, 18, Green}, {10, 10, Frame_}, {92, 92, Frame_}};
    ExpectColours(circle, circleProbes);
    // The dialog's default, a pentagon with its first vertex straight right of the centre.
    overlay.polygonSides = 5;
    const Image pentagon = Compose(overlay, "wm-pentagon.jpg");
    ExpectColours(pentagon, {{96, 50, Yellow}, {4, 50, Frame_}});
}

// 80 x 80 in quadrants: white, nearly white / red, black.
std::string KeyPicture() {
    const std::string path = TempPath("key.png");
    if (!FileExists(path))
        WritePicture(path, 80, 80, [](int x, int y) {
            if (y < 40)
                return x < 40 ? White : NearWhite;
            return x < 40 ? Red : Black;
        });
    return path;
}

void SetKey(OverlaySettings& overlay, Rgb low, Rgb high) {
    overlay.useTransparent = 1;
    overlay.lowRed = static_cast<BYTE>(low.r);
    overlay.lowGreen = static_cast<BYTE>(low.g);
    overlay.lowBlue = static_cast<BYTE>(low.b);
    overlay.highRed = static_cast<BYTE>(high.r);
    overlay.highGreen = static_cast<BYTE>(high.g);
    overlay.highBlue = static_cast<BYTE>(high.b);
}

TEST(Watermark, ColourKeyMakesExactlyTheKeyedPixelsTransparent) {
    OverlaySettings overlay = WatermarkSettings(KeyPicture());
    const Image unkeyed = Compose(overlay, "key-none.jpg");
    ExpectColours(unkeyed, {{20, 20, White}});

    SetKey(overlay, White, White);
    const Image white = Compose(overlay, "key-white.jpg");
    ExpectColours(white, {{20, 20, Frame_}, {60, 20, NearWhite}, {20, 60, Red}, {60, 60, Black}});

    // Each component is checked against its own range.
    SetKey(overlay, Rgb{200, 0, 0}, Rgb{255, 60, 60});
    const Image red = Compose(overlay, "key-red.jpg");
    ExpectColours(red, {{20, 20, White}, {20, 60, Frame_}, {60, 60, Black}});

    SetKey(overlay, Black, White);
    EXPECT_EQ(CountPixels(Compose(overlay, "key-all.jpg"), [](Rgb c) { return !Near(c, Frame_, Tolerance); }),
              0);

    // The same key in a polygon (r = 40 around (40, 40)).
    overlay.polygonWatermark = 1;
    overlay.polygonSides = 4;
    SetKey(overlay, White, White);
    const Image polygon = Compose(overlay, "key-polygon.jpg");
    ExpectColours(polygon, {{25, 25, Frame_}, {55, 25, NearWhite}, {25, 55, Red}, {55, 55, Black}});
}

TEST(Watermark, CoversTheTextWhereTheyOverlap) {
    const std::string picture = TempPath("cover.png");
    WritePicture(picture, 60, 40, [](int, int) { return Blue; });
    OverlaySettings overlay = TextSettings("MMMMMMMM", "Tahoma", 24, RGB(255, 0, 0), 0, 0);
    overlay.useWatermark = 1;
    overlay.watermarkPath = picture;
    const Image image = ComposeAndRead(Frame(300, 100, Black), overlay, TempPath("cover.jpg"));
    int redUnder = 0, redBeside = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 300; ++x) {
            if (!IsRedInk(image.At(x, y)))
                continue;
            if (x < 57 && y < 37)
                ++redUnder;
            else if (x > 63)
                ++redBeside;
        }
    EXPECT_EQ(redUnder, 0);
    EXPECT_GT(redBeside, 100);
    ExpectColours(image, {{30, 20, Blue}});
}

TEST(Watermark, MissingPictureLeavesTheFrameAndTheText) {
    OverlaySettings overlay = TextSettings("Still here", "Tahoma", 16, RGB(255, 0, 0), 10, 10);
    const Image textOnly = Compose(overlay, "wm-text-only.jpg");
    EXPECT_GT(CountPixels(textOnly, IsRedInk), 30);
    const std::string notAPicture = TempPath("not-a-picture.png");
    WriteFileBytes(notAPicture, "this is text, not an image");
    overlay.useWatermark = 1;
    for (int polygon : {0, 1}) {
        overlay.polygonWatermark = polygon;
        for (const std::string& path : {std::string(), TempPath("missing.png"), notAPicture}) {
            overlay.watermarkPath = path;
            EXPECT_EQ(Compose(overlay, "wm-missing.jpg").pixels, textOnly.pixels)
                << path << " polygon " << polygon;
        }
    }
}

TEST(Watermark, RewrittenPictureIsUsedByTheNextImage) {
    const std::string path = TempPath("swap.png");
    WritePicture(path, 30, 30, [](int, int) { return Red; });
    const OverlaySettings overlay = WatermarkSettings(path);
    ExpectColours(Compose(overlay, "swap-1.jpg"), {{15, 15, Red}});
    WritePicture(path, 30, 30, [](int, int) { return Blue; });
    ExpectColours(Compose(overlay, "swap-2.jpg"), {{15, 15, Blue}});
}

// A picture stays decoded between images, yet a file replaced by one of the same size is seen whether
// its time moved on or back (an older copy put back), and a removed file draws nothing.
TEST(Watermark, ReplacedOrRemovedPictureIsSeenByTheNextImage) {
    const std::string path = TempPath("replaced.bmp");
    const auto writeAt = [&](Rgb colour, LONGLONG hoursFromNow) {
        const auto solid = [&](int, int) { return colour; };
        WritePicture(path, 30, 30, solid, L"image/bmp"); // a size that does not change with the colour
        FILETIME now;
        ::GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
        time.QuadPart += hoursFromNow * 3600 * 10'000'000;
        const FILETIME stamp{time.LowPart, time.HighPart};
        UniqueFile file(
            ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(file.valid() && ::SetFileTime(file.get(), nullptr, nullptr, &stamp));
        return ReadFileBytes(path).size();
    };
    const OverlaySettings overlay = WatermarkSettings(path);
    const size_t redBytes = writeAt(Red, 0);
    ExpectColours(Compose(overlay, "replaced-1.jpg"), {{15, 15, Red}});
    ASSERT_EQ(writeAt(Blue, 1), redBytes);
    ExpectColours(Compose(overlay, "replaced-2.jpg"), {{15, 15, Blue}});
    ASSERT_EQ(writeAt(Green, -24), redBytes);
    ExpectColours(Compose(overlay, "replaced-3.jpg"), {{15, 15, Green}});
    ASSERT_TRUE(::DeleteFileA(path.c_str()));
    ExpectColours(Compose(overlay, "replaced-4.jpg"), {{15, 15, Frame_}});
}

// Threads composing at once, more pictures than are kept decoded, each with text as well.
TEST(Watermark, ThreadsComposingAtOnceEachGetTheirOwnPicture) {
    const Rgb colours[] = {Red, Blue, Green, Yellow, White, Rgb{200, 40, 200}};
    std::vector<OverlaySettings> overlays;
    for (const Rgb& colour : colours) {
        const std::string picture = TempPath("thread-" + Describe(colour) + ".png");
        WritePicture(picture, 30, 30, [&](int, int) { return colour; });
        overlays.push_back(TextSettings("busy", "Tahoma", 10, RGB(255, 0, 0), 100, 100));
        overlays.back().useWatermark = 1;
        overlays.back().watermarkPath = picture;
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (size_t index = 0; index < overlays.size(); ++index)
        threads.emplace_back([&, index] {
            const Frame frame(200, 150, Frame_);
            const std::string target = TempPath("thread-" + std::to_string(index) + ".jpg");
            for (int round = 0; round < 8; ++round) {
                const int status =
                    ComposeAndSaveFrame(0.0, frame.bytes.data(), static_cast<uint32_t>(frame.bytes.size()),
                                        frame.width, frame.height, target.c_str(), overlays[index]);
                const Image image = ReadImage(target);
                if (status != 0 || image.width != 200 || !Near(image.At(15, 15), colours[index], Tolerance) ||
                    CountPixels(image, IsRedInk) == 0)
                    ++wrong;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
}

TEST(Watermark, LongAndNonAsciiPathsAreUsedWhole) {
    // A picture path of 258 characters, over the old limit of 255.
    std::string folder = ImagingFolder();
    while (folder.size() < 200) {
        folder += "\\" + std::string(40, 'd');
        ::CreateDirectoryA(folder.c_str(), nullptr);
    }
    std::string path = folder + "\\" + std::string(258 - folder.size() - 1 - 4, 'w') + ".png";
    ASSERT_EQ(path.size(), 258u);
    WritePicture(path, 30, 30, [](int, int) { return Blue; });
    ASSERT_TRUE(FileExists(path));
    ExpectColours(Compose(WatermarkSettings(path), "wm-long.jpg"), {{15, 15, Blue}});

    char euro[8] = {};
    BOOL defaulted = FALSE;
    const int length = ::WideCharToMultiByte(CP_ACP, 0, L"\u20AC", 1, euro, sizeof euro, nullptr, &defaulted);
    if (length <= 0 || defaulted)
        GTEST_SKIP() << "the ANSI code page " << ::GetACP() << " has no euro sign";
    const std::string euroPath = TempPath("mark " + std::string(euro, length) + ".png");
    WritePicture(euroPath, 30, 30, [](int, int) { return Green; });
    ExpectColours(Compose(WatermarkSettings(euroPath), "wm-euro.jpg"), {{15, 15, Green}});
}

} // namespace
} // namespace lumetra::test

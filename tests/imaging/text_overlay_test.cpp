// The text overlay, read back from the saved JPEG: placement, colour, box wrapping, direction, fonts.

#include <gtest/gtest.h>

#include <cstring>

#include "ImagingTestSupport.h"
#include "imaging/ImageComposer.h"

namespace lumetra::test {
namespace {

constexpr Rgb Black{0, 0, 0};
constexpr COLORREF RedText = RGB(255, 0, 0); // 0x000000FF

Image Compose(const OverlaySettings& overlay, const char* name, int width = 400, int height = 200) {
    return ComposeAndRead(Frame(width, height, Black), overlay, TempPath(name));
}

TEST(TextOverlay, DrawsInItsColourAtItsOffset) {
    const Image image = Compose(TextSettings("Hello", "Tahoma", 20, RedText, 60, 40), "text-offset.jpg");
    const Box ink = FindPixels(image, IsRedInk);
    ASSERT_FALSE(ink.Empty());
    // GDI+ leaves a little room before the first glyph, never less than none.
    EXPECT_GE(ink.left, 60);
    EXPECT_LE(ink.left, 75);
    EXPECT_GE(ink.top, 40);
    EXPECT_LE(ink.top, 60);
    EXPECT_GT(ink.Width(), 40);
    // Red in COLORREF order is red in the image, not blue.
    EXPECT_EQ(CountPixels(image, [](Rgb c) { return c.b > 120 && c.r < 90; }), 0);
    int strongest = 0;
    for (int y = ink.top; y <= ink.bottom; ++y)
        for (int x = ink.left; x <= ink.right; ++x)
            strongest = std::max(strongest, image.At(x, y).r);
    EXPECT_GE(strongest, 200);
}

TEST(TextOverlay, EmptyTextDrawsNothingAndTextWithNoFontChosenIsSansSerifAt12Points) {
    OverlaySettings noText = TextSettings("", "Tahoma", 20, RedText, 10, 10);
    EXPECT_EQ(CountPixels(Compose(noText, "text-empty.jpg"), IsRedInk), 0);

    OverlaySettings unchosen = TextSettings("Hello", "", 0, RedText, 10, 10);
    std::memset(&unchosen.textFont, 0, sizeof unchosen.textFont);
    const Image unchosenImage = Compose(unchosen, "text-unchosen.jpg");
    EXPECT_GT(CountPixels(unchosenImage, IsRedInk), 50);
    // An empty face is the generic sans-serif family.
    EXPECT_EQ(unchosenImage.pixels,
              Compose(TextSettings("Hello", "", 12, RedText, 10, 10), "text-12pt.jpg").pixels);
    // A chosen font is used as it is: of height 0, it draws nothing.
    EXPECT_EQ(
        CountPixels(Compose(TextSettings("Hello", "Tahoma", 0, RedText, 10, 10), "text-zero.jpg"), IsRedInk),
        0);
}

TEST(TextOverlay, UnknownOrEmptyFaceFallsBackToSansSerif) {
    const Image tahoma = Compose(TextSettings("Fallback", "Tahoma", 18, RedText, 10, 10), "face-tahoma.jpg");
    EXPECT_GT(CountPixels(tahoma, IsRedInk), 50);
    const Image empty = Compose(TextSettings("Fallback", "", 18, RedText, 10, 10), "face-empty.jpg");
    const Image unknown =
        Compose(TextSettings("Fallback", "No Such Face 123", 18, RedText, 10, 10), "face-unknown.jpg");
    const Image arial = Compose(TextSettings("Fallback", "Arial", 18, RedText, 10, 10), "face-arial.jpg");
    EXPECT_GT(CountPixels(empty, IsRedInk), 50);
    EXPECT_EQ(empty.pixels, unknown.pixels);
    // "Arial" is not installed in the test prefix.
    EXPECT_EQ(empty.pixels, arial.pixels);
}

TEST(TextOverlay, StyleComesFromTheLogFont) {
    OverlaySettings regular = TextSettings("Weight and lines", "Tahoma", 18, RedText, 10, 10);
    const Box regularBox = FindPixels(Compose(regular, "style-regular.jpg"), IsRedInk);
    OverlaySettings bold = regular;
    bold.textFont.lfWeight = FW_BOLD;
    // Bold Tahoma runs wider (Wine draws its glyphs no thicker, so width is what both show).
    const Box boldBox = FindPixels(Compose(bold, "style-bold.jpg"), IsRedInk);
    EXPECT_GT(boldBox.Width(), regularBox.Width() * 21 / 20);
    bold.textFont.lfWeight = FW_SEMIBOLD;
    EXPECT_NEAR(FindPixels(Compose(bold, "style-semibold.jpg"), IsRedInk).Width(), regularBox.Width(), 1);

    OverlaySettings underlined = regular;
    underlined.textFont.lfUnderline = 1;
    const Image underlinedImage = Compose(underlined, "style-underline.jpg");
    // The underline is one long run of ink across the whole text, which plain text does not have.
    const Box ink = FindPixels(underlinedImage, IsRedInk);
    int longestRun = 0;
    for (int y = ink.top; y <= ink.bottom; ++y) {
        int run = 0;
        for (int x = ink.left; x <= ink.right; ++x) {
            run = IsRedInk(underlinedImage.At(x, y)) ? run + 1 : 0;
            longestRun = std::max(longestRun, run);
        }
    }
    EXPECT_GT(longestRun, ink.Width() * 8 / 10);
}

TEST(TextOverlay, EachCrLfStartsANewLine) {
    const Box oneLine =
        FindPixels(Compose(TextSettings("ABCDEFGH", "Tahoma", 16, RedText, 20, 10), "dir-h.jpg"), IsRedInk);
    ASSERT_FALSE(oneLine.Empty());
    EXPECT_GT(oneLine.Width(), 2 * oneLine.Height());

    const Box twoLines = FindPixels(
        Compose(TextSettings("ABCDEFGH\r\nABCDEFGH", "Tahoma", 16, RedText, 20, 10), "dir-lines.jpg"),
        IsRedInk);
    EXPECT_GT(twoLines.Height(), oneLine.Height() * 3 / 2);
    EXPECT_NEAR(twoLines.Width(), oneLine.Width(), 2); // nothing drawn for the line ends
}

// Whether this GDI+ lays out vertical text top to bottom (Wine 8's lays it out horizontally).
bool VerticalLayoutSupported() {
    using namespace Gdiplus::DllExports;
    Gdiplus::GpBitmap* bitmap = nullptr;
    Gdiplus::GpGraphics* graphics = nullptr;
    Gdiplus::GpFontFamily* family = nullptr;
    Gdiplus::GpFont* font = nullptr;
    Gdiplus::GpStringFormat* format = nullptr;
    GdipCreateBitmapFromScan0(16, 16, 0, PixelFormat24bppRGB, nullptr, &bitmap);
    GdipGetImageGraphicsContext(bitmap, &graphics);
    GdipGetGenericFontFamilySansSerif(&family);
    GdipCreateFont(family, 12.0f, 0, Gdiplus::UnitPoint, &font);
    GdipCreateStringFormat(Gdiplus::StringFormatFlagsDirectionVertical, LANG_NEUTRAL, &format);
    Gdiplus::RectF layout(0, 0, 0, 0), bounds;
    GdipMeasureString(graphics, L"ABCDEFGHIJ", -1, font, &layout, format, &bounds, nullptr, nullptr);
    GdipDeleteStringFormat(format);
    GdipDeleteFont(font);
    GdipDeleteFontFamily(family);
    GdipDeleteGraphics(graphics);
    GdipDisposeImage(bitmap);
    return bounds.Height > bounds.Width;
}

TEST(TextOverlay, VerticalTextRunsTopToBottom) {
    if (!VerticalLayoutSupported())
        GTEST_SKIP() << "this GDI+ lays vertical text out horizontally";
    OverlaySettings vertical = TextSettings("ABCDEFGH", "Tahoma", 16, RedText, 20, 10);
    vertical.verticalText = 1;
    const Box down = FindPixels(Compose(vertical, "dir-v.jpg", 200, 400), IsRedInk);
    ASSERT_FALSE(down.Empty());
    EXPECT_GT(down.Height(), 2 * down.Width());
    EXPECT_GE(down.top, 8);

    // Vertical text in a box behaves the same when the box is large enough.
    vertical.wrapInBox = 1;
    const Box downInBox = FindPixels(Compose(vertical, "dir-v-box.jpg", 200, 400), IsRedInk);
    EXPECT_GT(downInBox.Height(), 2 * downInBox.Width());
}

// Width in pixels of the text as GDI+ lays it out on one line, in the overlay's font.
float MeasuredWidth(const wchar_t* text, int emSize) {
    using namespace Gdiplus::DllExports;
    Gdiplus::GpBitmap* bitmap = nullptr;
    Gdiplus::GpGraphics* graphics = nullptr;
    Gdiplus::GpFontFamily* family = nullptr;
    Gdiplus::GpFont* font = nullptr;
    EXPECT_EQ(GdipCreateBitmapFromScan0(16, 16, 0, PixelFormat24bppRGB, nullptr, &bitmap), Gdiplus::Ok);
    GdipGetImageGraphicsContext(bitmap, &graphics);
    GdipCreateFontFamilyFromName(L"Tahoma", nullptr, &family);
    GdipCreateFont(family, static_cast<float>(emSize), 0, Gdiplus::UnitPoint, &font);
    Gdiplus::RectF layout(0, 0, 0, 0), bounds;
    GdipMeasureString(graphics, text, -1, font, &layout, nullptr, &bounds, nullptr, nullptr);
    GdipDeleteFont(font);
    GdipDeleteFontFamily(family);
    GdipDeleteGraphics(graphics);
    GdipDisposeImage(bitmap);
    return bounds.Width;
}

TEST(TextOverlay, BoxWrapsWithinTheWidthCountedFromTheFramesCorner) {
    const float wholeWidth = MeasuredWidth(L"Wrapping words here", 14);
    const float lastWord = MeasuredWidth(L"here", 14);
    ASSERT_GT(wholeWidth, 3 * lastWord);
    const int boxWidth = static_cast<int>(wholeWidth - lastWord); // too narrow for the last word
    const Box singleLine = FindPixels(
        Compose(TextSettings("Wrapping words here", "Tahoma", 14, RedText, 0, 10), "box-none.jpg"), IsRedInk);

    OverlaySettings boxAtCorner = TextSettings("Wrapping words here", "Tahoma", 14, RedText, 0, 10);
    boxAtCorner.wrapInBox = 1;
    boxAtCorner.boxWidth = boxWidth;
    boxAtCorner.boxDepth = 150;
    const Box wrapped = FindPixels(Compose(boxAtCorner, "box-corner.jpg"), IsRedInk);
    EXPECT_GT(wrapped.Height(), singleLine.Height() * 3 / 2);
    EXPECT_LE(wrapped.right, boxWidth + 2);

    // Moved right by 60, the box is 60 wider too: the same text now fits on one line.
    OverlaySettings boxMoved = boxAtCorner;
    boxMoved.textX = 60;
    const Box moved = FindPixels(Compose(boxMoved, "box-moved.jpg"), IsRedInk);
    EXPECT_NEAR(moved.Height(), singleLine.Height(), 2);
    EXPECT_NEAR(moved.left, singleLine.left + 60, 2);

    // Without a box size the box is the frame's size placed at the offset: wrapping only past the frame.
    const wchar_t* longLine = L"Wrapping words here and there";
    const float longWidth = MeasuredWidth(longLine, 14);
    ASSERT_GT(longWidth, 200.0f);
    ASSERT_LT(longWidth, 290.0f);
    OverlaySettings frameBox = TextSettings("Wrapping words here and there", "Tahoma", 14, RedText, 100, 10);
    frameBox.wrapInBox = 1;
    const Box frameSized = FindPixels(Compose(frameBox, "box-frame.jpg", 300, 200), IsRedInk);
    EXPECT_GE(frameSized.right, 295); // runs off the frame's right edge
    EXPECT_NEAR(frameSized.Height(), singleLine.Height(), 2);
}

} // namespace
} // namespace lumetra::test

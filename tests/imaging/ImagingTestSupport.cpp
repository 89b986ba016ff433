#include "ImagingTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "imaging/ImageComposer.h"

namespace lumetra::test {

using namespace Gdiplus::DllExports;

namespace {

// GDI+ is started by the program; the tests start it for the whole run.
class GdiplusEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

  private:
    ULONG_PTR token_ = 0;
};

[[maybe_unused]] ::testing::Environment* const gdiplusEnvironment =
    ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

} // namespace

Frame::Frame(int frameWidth, int frameHeight, Rgb fill)
    : width(frameWidth), height(frameHeight), stride((static_cast<size_t>(frameWidth) * 3 + 3) & ~size_t{3}),
      bytes(stride * frameHeight, 0xAB) {
    FillRect(0, 0, width, height, fill);
}

void Frame::Set(int x, int y, Rgb colour) {
    BYTE* pixel = bytes.data() + static_cast<size_t>(height - 1 - y) * stride + static_cast<size_t>(x) * 3;
    pixel[0] = static_cast<BYTE>(colour.b);
    pixel[1] = static_cast<BYTE>(colour.g);
    pixel[2] = static_cast<BYTE>(colour.r);
}

void Frame::FillRect(int left, int top, int rectWidth, int rectHeight, Rgb colour) {
    for (int y = top; y < top + rectHeight; ++y)
        for (int x = left; x < left + rectWidth; ++x)
            Set(x, y, colour);
}

Rgb Image::At(int x, int y) const {
    const uint32_t argb = pixels.at(static_cast<size_t>(y) * width + x);
    return {static_cast<int>((argb >> 16) & 0xFF), static_cast<int>((argb >> 8) & 0xFF),
            static_cast<int>(argb & 0xFF)};
}

const std::string& ImagingFolder() {
    static const TempFolder folder("imaging");
    return folder.path();
}

std::string TempPath(const std::string& name) {
    return ImagingFolder() + "\\" + name;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
}

static std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int length =
        ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(length > 0 ? length - 1 : 0);
    return wide;
}

Image ReadImage(const std::string& path) {
    Image image;
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromFile(Wide(path).c_str(), &bitmap) != Gdiplus::Ok)
        return image;
    UINT width = 0, height = 0;
    GdipGetImageWidth(bitmap, &width);
    GdipGetImageHeight(bitmap, &height);
    Gdiplus::Rect whole(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    Gdiplus::BitmapData data{};
    if (GdipBitmapLockBits(bitmap, &whole, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) ==
        Gdiplus::Ok) {
        image.width = static_cast<int>(width);
        image.height = static_cast<int>(height);
        image.pixels.resize(static_cast<size_t>(width) * height);
        for (UINT y = 0; y < height; ++y)
            std::memcpy(&image.pixels[static_cast<size_t>(y) * width],
                        static_cast<const BYTE*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride,
                        width * 4);
        GdipBitmapUnlockBits(bitmap, &data);
    }
    GdipDisposeImage(bitmap);
    return image;
}

void WritePicture(const std::string& path, int width, int height,
                  const std::function<Rgb(int, int)>& colourAt, const WCHAR* mimeType) {
    Gdiplus::GpBitmap* bitmap = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &bitmap),
              Gdiplus::Ok);
    Gdiplus::Rect whole(0, 0, width, height);
    Gdiplus::BitmapData data{};
    ASSERT_EQ(GdipBitmapLockBits(bitmap, &whole, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB, &data),
              Gdiplus::Ok);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(static_cast<BYTE*>(data.Scan0) +
                                                static_cast<ptrdiff_t>(y) * data.Stride);
        for (int x = 0; x < width; ++x) {
            const Rgb colour = colourAt(x, y);
            row[x] = 0xFF000000u | (static_cast<uint32_t>(colour.r) << 16) |
                     (static_cast<uint32_t>(colour.g) << 8) | static_cast<uint32_t>(colour.b);
        }
    }
    GdipBitmapUnlockBits(bitmap, &data);
    CLSID encoder;
    ASSERT_GE(FindEncoderClsid(mimeType, &encoder), 0);
    const Gdiplus::GpStatus saved = GdipSaveImageToFile(bitmap, Wide(path).c_str(), &encoder, nullptr);
    GdipDisposeImage(bitmap);
    ASSERT_EQ(saved, Gdiplus::Ok) << path;
}

Image ComposeAndRead(const Frame& frame, const OverlaySettings& overlay, const std::string& path) {
    ::DeleteFileA(path.c_str());
    EXPECT_EQ(ComposeAndSaveFrame(0.0, frame.bytes.data(), static_cast<uint32_t>(frame.bytes.size()),
                                  frame.width, frame.height, path.c_str(), overlay),
              0);
    Image image = ReadImage(path);
    EXPECT_EQ(image.width, frame.width) << path;
    EXPECT_EQ(image.height, frame.height) << path;
    return image;
}

OverlaySettings TextSettings(const char* text, const char* face, int emSize, COLORREF colour, int x, int y) {
    OverlaySettings overlay;
    std::snprintf(overlay.text, sizeof overlay.text, "%s", text);
    std::snprintf(overlay.textFont.lfFaceName, sizeof overlay.textFont.lfFaceName, "%s", face);
    overlay.textFont.lfHeight = -emSize;
    overlay.textFont.lfWeight = FW_NORMAL;
    overlay.fontColour = colour;
    overlay.textX = x;
    overlay.textY = y;
    return overlay;
}

Box FindPixels(const Image& image, const std::function<bool(Rgb)>& match) {
    Box box{image.width, image.height, -1, -1};
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            if (match(image.At(x, y))) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x);
                box.bottom = std::max(box.bottom, y);
            }
    if (box.right < 0)
        return Box{};
    return box;
}

int CountPixels(const Image& image, const std::function<bool(Rgb)>& match) {
    int count = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            count += match(image.At(x, y)) ? 1 : 0;
    return count;
}

bool IsRedInk(Rgb colour) {
    return colour.r > 120 && colour.g < 90 && colour.b < 90;
}

} // namespace lumetra::test

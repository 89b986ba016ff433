// The frame-to-JPEG path: encoder lookup, orientation and size, refused frames, target paths.

#include <gtest/gtest.h>

#include <cstring>

#include "ImagingTestSupport.h"
#include "imaging/ImageComposer.h"

namespace lumetra::test {
namespace {

constexpr Rgb Red{230, 20, 20};
constexpr Rgb Green{20, 200, 40};
constexpr Rgb Blue{30, 40, 220};
constexpr Rgb Grey{128, 128, 128};
constexpr int JpegTolerance = 24;

TEST(FindEncoderClsid, FindsJpegAndRefusesUnknownOrMiscasedTypes) {
    CLSID jpeg{};
    const int index = FindEncoderClsid(L"image/jpeg", &jpeg);
    ASSERT_GE(index, 0);
    EXPECT_NE(jpeg, CLSID{});

    // The index is the encoder's place in the system's list.
    UINT count = 0, bytes = 0;
    ASSERT_EQ(Gdiplus::DllExports::GdipGetImageEncodersSize(&count, &bytes), Gdiplus::Ok);
    std::vector<BYTE> block(bytes);
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(block.data());
    ASSERT_EQ(Gdiplus::DllExports::GdipGetImageEncoders(count, bytes, encoders), Gdiplus::Ok);
    ASSERT_LT(static_cast<UINT>(index), count);
    EXPECT_STREQ(encoders[index].MimeType, L"image/jpeg");
    EXPECT_EQ(encoders[index].Clsid, jpeg);

    CLSID untouched;
    std::memset(&untouched, 0x5A, sizeof untouched);
    const CLSID before = untouched;
    EXPECT_EQ(FindEncoderClsid(L"image/x-none", &untouched), -1);
    EXPECT_EQ(FindEncoderClsid(L"IMAGE/JPEG", &untouched), -1);
    EXPECT_EQ(untouched, before);
}

// Three bands, top to bottom, and a darker right half, so both flips would show.
Frame BandedFrame(int width, int height) {
    Frame frame(width, height, Green);
    frame.FillRect(0, 0, width, height / 3, Red);
    frame.FillRect(0, 2 * height / 3, width, height - 2 * height / 3, Blue);
    frame.FillRect(width / 2, 0, width - width / 2, height, Grey);
    return frame;
}

TEST(ComposeAndSaveFrame, WithoutOverlaysTheFileIsTheFrameUpright) {
    // 50 pixels make 150-byte rows, padded to 152.
    const Frame frame = BandedFrame(50, 48);
    const Image image = ComposeAndRead(frame, OverlaySettings{}, TempPath("plain.jpg"));
    ASSERT_EQ(image.width, 50);
    ASSERT_EQ(image.height, 48);
    EXPECT_EQ(ReadFileBytes(TempPath("plain.jpg")).substr(0, 2), "\xFF\xD8");
    for (int y : {2, 8, 13}) {
        EXPECT_TRUE(Near(image.At(10, y), Red, JpegTolerance)) << y << Describe(image.At(10, y));
        EXPECT_TRUE(Near(image.At(40, y), Grey, JpegTolerance)) << y << Describe(image.At(40, y));
    }
    for (int y : {19, 24, 28})
        EXPECT_TRUE(Near(image.At(10, y), Green, JpegTolerance)) << y << Describe(image.At(10, y));
    for (int y : {35, 40, 46})
        EXPECT_TRUE(Near(image.At(10, y), Blue, JpegTolerance)) << y << Describe(image.At(10, y));
}

TEST(ComposeAndSaveFrame, TopDownFrameWithNegativeHeightComesOutUpright) {
    const Frame bottomUp = BandedFrame(50, 48);
    Frame topDown = bottomUp;
    for (int row = 0; row < 48; ++row)
        std::copy_n(bottomUp.bytes.begin() + static_cast<ptrdiff_t>((47 - row) * bottomUp.stride),
                    bottomUp.stride, topDown.bytes.begin() + static_cast<ptrdiff_t>(row * bottomUp.stride));
    const std::string path = TempPath("topdown.jpg");
    ASSERT_EQ(ComposeAndSaveFrame(0.0, topDown.bytes.data(), static_cast<uint32_t>(topDown.bytes.size()), 50,
                                  -48, path.c_str(), {}),
              0);
    const Image image = ReadImage(path);
    ASSERT_EQ(image.width, 50);
    ASSERT_EQ(image.height, 48);
    EXPECT_TRUE(Near(image.At(10, 4), Red, JpegTolerance)) << Describe(image.At(10, 4));
    EXPECT_TRUE(Near(image.At(10, 44), Blue, JpegTolerance)) << Describe(image.At(10, 44));
}

TEST(ComposeAndSaveFrame, LargeFrameKeepsItsSize) {
    const Frame frame = BandedFrame(1920, 1080);
    const Image image = ComposeAndRead(frame, OverlaySettings{}, TempPath("large.jpg"));
    ASSERT_EQ(image.width, 1920);
    ASSERT_EQ(image.height, 1080);
    EXPECT_TRUE(Near(image.At(100, 100), Red, JpegTolerance));
    EXPECT_TRUE(Near(image.At(100, 1000), Blue, JpegTolerance));
}

// The frame placed at the very end of a readable page, followed by an inaccessible page:
// any read past its last byte faults.
class GuardedFrame {
  public:
    explicit GuardedFrame(const Frame& frame) : size_(frame.bytes.size()) {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        const size_t page = info.dwPageSize;
        readable_ = (size_ + page - 1) / page * page;
        base_ = static_cast<BYTE*>(
            ::VirtualAlloc(nullptr, readable_ + page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD old = 0;
        ::VirtualProtect(base_ + readable_, page, PAGE_NOACCESS, &old);
        std::memcpy(Data(), frame.bytes.data(), size_);
    }
    ~GuardedFrame() { ::VirtualFree(base_, 0, MEM_RELEASE); }
    BYTE* Data() const { return base_ + readable_ - size_; }

  private:
    size_t size_;
    size_t readable_ = 0;
    BYTE* base_ = nullptr;
};

TEST(ComposeAndSaveFrame, RefusesShortFramesAndBadSizesWithoutReadingPastTheBuffer) {
    const Frame frame = BandedFrame(50, 48);
    const auto wholeBytes = static_cast<uint32_t>(frame.bytes.size());
    ASSERT_EQ(Rgb24FrameBytes(50, 48), wholeBytes);
    const std::string path = TempPath("refused.jpg");

    // One byte short of a whole frame, ending right at the guard page.
    Frame shortFrame = frame;
    shortFrame.bytes.pop_back();
    GuardedFrame guardedShort(shortFrame);
    ::DeleteFileA(path.c_str());
    EXPECT_NE(ComposeAndSaveFrame(0.0, guardedShort.Data(), wholeBytes - 1, 50, 48, path.c_str(), {}), 0);
    EXPECT_FALSE(FileExists(path));

    // A frame one row short of its recorded height.
    EXPECT_NE(ComposeAndSaveFrame(0.0, frame.bytes.data(), wholeBytes, 50, 49, path.c_str(), {}), 0);
    EXPECT_FALSE(FileExists(path));

    for (auto [width, height] : {std::pair{0, 48}, {50, 0}, {-50, 48}, {50, -49}}) {
        EXPECT_NE(ComposeAndSaveFrame(0.0, frame.bytes.data(), wholeBytes, width, height, path.c_str(), {}),
                  0);
        EXPECT_FALSE(FileExists(path)) << width << " x " << height;
    }
    EXPECT_NE(ComposeAndSaveFrame(0.0, nullptr, wholeBytes, 50, 48, path.c_str(), {}), 0);
    EXPECT_FALSE(FileExists(path));

    // A whole frame ending right at the guard page is read exactly, and a larger buffer is fine too.
    GuardedFrame guardedWhole(frame);
    EXPECT_EQ(ComposeAndSaveFrame(0.0, guardedWhole.Data(), wholeBytes, 50, 48, path.c_str(), {}), 0);
    EXPECT_EQ(ReadImage(path).width, 50);
    Frame longer = frame;
    longer.bytes.resize(longer.bytes.size() + 1000, 0);
    ::DeleteFileA(path.c_str());
    EXPECT_EQ(ComposeAndSaveFrame(0.0, longer.bytes.data(), static_cast<uint32_t>(longer.bytes.size()), 50,
                                  48, path.c_str(), {}),
              0);
    EXPECT_EQ(ReadImage(path).height, 48);
}

// Each refusal is reported (a non-zero status), so nothing is sent for an image that is not there.
TEST(ComposeAndSaveFrame, UnwritablePathsWriteNothingAndTheNextGoodPathSucceeds) {
    const Frame frame = BandedFrame(64, 48);
    const auto bytes = static_cast<uint32_t>(frame.bytes.size());
    const std::string missingFolder = TempPath("no such folder\\image.jpg");
    const std::string invalidName = TempPath("bad<name>|.jpg");

    EXPECT_NE(ComposeAndSaveFrame(0.0, frame.bytes.data(), bytes, 64, 48, missingFolder.c_str(), {}), 0);
    EXPECT_FALSE(FileExists(missingFolder));
    EXPECT_FALSE(FileExists(TempPath("no such folder")));
    EXPECT_NE(ComposeAndSaveFrame(0.0, frame.bytes.data(), bytes, 64, 48, invalidName.c_str(), {}), 0);
    EXPECT_FALSE(FileExists(invalidName));
    EXPECT_NE(ComposeAndSaveFrame(0.0, frame.bytes.data(), bytes, 64, 48, "", {}), 0);
    EXPECT_NE(ComposeAndSaveFrame(0.0, frame.bytes.data(), bytes, 64, 48, nullptr, {}), 0);

    const Image image = ComposeAndRead(frame, OverlaySettings{}, TempPath("after failures.jpg"));
    EXPECT_EQ(image.width, 64);
}

TEST(ComposeAndSaveFrame, ReplacesAnExistingFile) {
    const std::string path = TempPath("existing.jpg");
    WriteFileBytes(path, std::string(200000, 'x'));
    const Frame frame = BandedFrame(64, 48);
    EXPECT_EQ(ComposeAndSaveFrame(1234.5, frame.bytes.data(), static_cast<uint32_t>(frame.bytes.size()), 64,
                                  48, path.c_str(), {}),
              0);
    const std::string written = ReadFileBytes(path);
    EXPECT_LT(written.size(), 200000u); // not the old content with a JPEG written over its start
    EXPECT_EQ(written.substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(written.substr(written.size() - 2), "\xFF\xD9");
    EXPECT_EQ(ReadImage(path).width, 64);
}

TEST(ComposeAndSaveFrame, TargetPathIsReadInTheAnsiCodePage) {
    // The euro sign is one byte in the Western code page, not the same number as its Unicode value.
    char euro[8] = {};
    BOOL defaulted = FALSE;
    const int length = ::WideCharToMultiByte(CP_ACP, 0, L"\u20AC", 1, euro, sizeof euro, nullptr, &defaulted);
    if (length <= 0 || defaulted)
        GTEST_SKIP() << "the ANSI code page " << ::GetACP() << " has no euro sign";
    const std::string path = TempPath(std::string("price ") + std::string(euro, length) + ".jpg");
    const Frame frame = BandedFrame(64, 48);
    EXPECT_EQ(ComposeAndSaveFrame(0.0, frame.bytes.data(), static_cast<uint32_t>(frame.bytes.size()), 64, 48,
                                  path.c_str(), {}),
              0);
    char folder[MAX_PATH];
    std::snprintf(folder, sizeof folder, "%s", ImagingFolder().c_str());
    std::wstring widePath(MAX_PATH, L'\0');
    widePath.resize(::MultiByteToWideChar(CP_ACP, 0, folder, -1, widePath.data(), MAX_PATH) - 1);
    widePath += L"\\price \u20AC.jpg";
    EXPECT_NE(::GetFileAttributesW(widePath.c_str()), INVALID_FILE_ATTRIBUTES);
}

} // namespace
} // namespace lumetra::test

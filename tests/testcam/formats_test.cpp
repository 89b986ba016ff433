// Formats offered and configured through IAMStreamConfig.

#include "CameraTestHelpers.h"
#include "TestCamCommon.h"
#include "TestPattern.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

using namespace lumetra;
using namespace lumetra::test;

namespace {

struct MediaTypeDeleter {
    void operator()(AM_MEDIA_TYPE* type) const { testcam::DeleteMediaType(type); }
};
using MediaTypePtr = std::unique_ptr<AM_MEDIA_TYPE, MediaTypeDeleter>;

const VIDEOINFOHEADER& VideoInfo(const AM_MEDIA_TYPE& type) {
    return *reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
}

// What every type of the camera must look like: bottom-up RGB24 with 4-byte padded rows.
void ExpectRgb24VideoInfo(const AM_MEDIA_TYPE& type) {
    EXPECT_TRUE(IsEqualGUID(type.majortype, MEDIATYPE_Video));
    EXPECT_TRUE(IsEqualGUID(type.subtype, MEDIASUBTYPE_RGB24));
    ASSERT_TRUE(IsEqualGUID(type.formattype, FORMAT_VideoInfo));
    ASSERT_GE(type.cbFormat, sizeof(VIDEOINFOHEADER));
    const BITMAPINFOHEADER& header = VideoInfo(type).bmiHeader;
    EXPECT_EQ(24, header.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), header.biCompression);
    EXPECT_GT(header.biHeight, 0);
    const DWORD stride = (header.biWidth * 3 + 3) & ~3;
    EXPECT_EQ(stride * header.biHeight, header.biSizeImage);
    EXPECT_TRUE(type.bFixedSizeSamples);
    EXPECT_EQ(header.biSizeImage, type.lSampleSize);
}

class TestCameraFormats : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_TRUE(cameras.loaded());
        camera = std::make_unique<ScopedTestCamera>(cameras, "Format Cam");
        ASSERT_TRUE(camera->registered());
        filter = BindCamera(L"Format Cam");
        ASSERT_TRUE(filter);
        ASSERT_TRUE(SUCCEEDED(FirstPin(filter.Get(), PINDIR_OUTPUT).As(&config)));
    }
    void TearDown() override {
        config.Reset();
        filter.Reset();
        camera.reset();
        CoUninitialize();
    }

    TestCameras cameras;
    std::unique_ptr<ScopedTestCamera> camera;
    ComPtr<IBaseFilter> filter;
    ComPtr<IAMStreamConfig> config;
};

TEST_F(TestCameraFormats, CapabilitiesIncludeTheCommonSizesInRgb24) {
    int count = 0, size = 0;
    ASSERT_TRUE(SUCCEEDED(config->GetNumberOfCapabilities(&count, &size)));
    ASSERT_GE(count, 2);
    ASSERT_EQ(static_cast<int>(sizeof(testcam::VIDEO_STREAM_CONFIG_CAPS)), size);

    std::set<std::pair<LONG, LONG>> sizes;
    for (int index = 0; index < count; ++index) {
        AM_MEDIA_TYPE* raw = nullptr;
        testcam::VIDEO_STREAM_CONFIG_CAPS caps{};
        ASSERT_EQ(S_OK, config->GetStreamCaps(index, &raw, reinterpret_cast<BYTE*>(&caps)));
        MediaTypePtr type(raw);
        ExpectRgb24VideoInfo(*type);
        const BITMAPINFOHEADER& header = VideoInfo(*type).bmiHeader;
        EXPECT_TRUE(IsEqualGUID(caps.guid, FORMAT_VideoInfo));
        EXPECT_EQ(header.biWidth, caps.MaxOutputSize.cx);
        EXPECT_EQ(header.biHeight, caps.MaxOutputSize.cy);
        EXPECT_LE(caps.MinFrameInterval, 666666);
        EXPECT_GE(caps.MaxFrameInterval, 666666);
        sizes.insert({header.biWidth, header.biHeight});
    }
    for (const auto& size : {std::pair<LONG, LONG>{320, 240}, {640, 480}, {1280, 720}, {1920, 1080}})
        EXPECT_TRUE(sizes.count(size)) << size.first << "x" << size.second;

    AM_MEDIA_TYPE* beyond = nullptr;
    testcam::VIDEO_STREAM_CONFIG_CAPS caps{};
    EXPECT_EQ(S_FALSE, config->GetStreamCaps(count, &beyond, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(nullptr, beyond);
}

TEST_F(TestCameraFormats, DefaultIsVgaAtFifteenFramesPerSecond) {
    AM_MEDIA_TYPE* raw = nullptr;
    ASSERT_TRUE(SUCCEEDED(config->GetFormat(&raw)));
    MediaTypePtr type(raw);
    ExpectRgb24VideoInfo(*type);
    EXPECT_EQ(640, VideoInfo(*type).bmiHeader.biWidth);
    EXPECT_EQ(480, VideoInfo(*type).bmiHeader.biHeight);
    EXPECT_EQ(921600u, type->lSampleSize);
    EXPECT_EQ(10'000'000 / 15, VideoInfo(*type).AvgTimePerFrame);
}

TEST_F(TestCameraFormats, SetFormatChangesWhatIsOffered) {
    AM_MEDIA_TYPE* hdRaw = nullptr;
    testcam::VIDEO_STREAM_CONFIG_CAPS caps{};
    int count = 0, size = 0;
    ASSERT_TRUE(SUCCEEDED(config->GetNumberOfCapabilities(&count, &size)));
    for (int index = 0; index < count && !hdRaw; ++index) {
        AM_MEDIA_TYPE* raw = nullptr;
        ASSERT_EQ(S_OK, config->GetStreamCaps(index, &raw, reinterpret_cast<BYTE*>(&caps)));
        if (VideoInfo(*raw).bmiHeader.biWidth == 1280)
            hdRaw = raw;
        else
            testcam::DeleteMediaType(raw);
    }
    ASSERT_TRUE(hdRaw);
    MediaTypePtr hd(hdRaw);
    reinterpret_cast<VIDEOINFOHEADER*>(hd->pbFormat)->AvgTimePerFrame = 10'000'000 / 30;
    ASSERT_EQ(S_OK, config->SetFormat(hd.get()));

    AM_MEDIA_TYPE* raw = nullptr;
    ASSERT_TRUE(SUCCEEDED(config->GetFormat(&raw)));
    MediaTypePtr current(raw);
    EXPECT_EQ(1280, VideoInfo(*current).bmiHeader.biWidth);
    EXPECT_EQ(720, VideoInfo(*current).bmiHeader.biHeight);
    EXPECT_EQ(10'000'000 / 30, VideoInfo(*current).AvgTimePerFrame);

    // The pin now offers just that format.
    ComPtr<IEnumMediaTypes> types;
    ASSERT_TRUE(SUCCEEDED(FirstPin(filter.Get(), PINDIR_OUTPUT)->EnumMediaTypes(&types)));
    AM_MEDIA_TYPE* offered[4] = {};
    ULONG fetched = 0;
    types->Next(4, offered, &fetched);
    ASSERT_EQ(1u, fetched);
    MediaTypePtr only(offered[0]);
    EXPECT_EQ(1280, VideoInfo(*only).bmiHeader.biWidth);
}

TEST_F(TestCameraFormats, SetFormatRejectsWhatTheCameraCannotDeliver) {
    AM_MEDIA_TYPE* raw = nullptr;
    ASSERT_TRUE(SUCCEEDED(config->GetFormat(&raw)));
    MediaTypePtr type(raw);
    auto& info = *reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);

    info.bmiHeader.biHeight = -480; // top-down
    info.bmiHeader.biSizeImage = 0;
    EXPECT_TRUE(FAILED(config->SetFormat(type.get())));
    info.bmiHeader.biHeight = 481; // a size not offered
    EXPECT_TRUE(FAILED(config->SetFormat(type.get())));
    info.bmiHeader.biHeight = 480;
    info.AvgTimePerFrame = 10'000'000 / 1000; // 1000 fps
    EXPECT_TRUE(FAILED(config->SetFormat(type.get())));
    info.AvgTimePerFrame = 0;
    type->subtype = MEDIASUBTYPE_YUY2;
    EXPECT_TRUE(FAILED(config->SetFormat(type.get())));
    EXPECT_EQ(E_POINTER, config->SetFormat(nullptr));

    // The default is unchanged by the failures.
    AM_MEDIA_TYPE* afterRaw = nullptr;
    ASSERT_TRUE(SUCCEEDED(config->GetFormat(&afterRaw)));
    MediaTypePtr after(afterRaw);
    EXPECT_EQ(640, VideoInfo(*after).bmiHeader.biWidth);
    EXPECT_TRUE(IsEqualGUID(after->subtype, MEDIASUBTYPE_RGB24));
}

} // namespace

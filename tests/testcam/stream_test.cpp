// Frames from the test-pattern camera through real graphs: format, rate, picture.

#include "CameraTestHelpers.h"
#include "TestCamCommon.h"
#include "TestPattern.h"

#include <gdiplus.h>
#include <gtest/gtest.h>

#include <cstdlib>

using namespace lumetra;
using namespace lumetra::test;
using namespace lumetra::testcam;

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr size_t kFrameBytes = 640 * 3 * 480;

// Pixel (x, y) in top-down terms of a bottom-up RGB24 frame.
struct Pixel {
    BYTE r, g, b;
};
Pixel PixelAt(const std::vector<BYTE>& frame, int width, int height, int x, int y) {
    const BYTE* p = frame.data() + static_cast<size_t>(height - 1 - y) * Rgb24Stride(width) + x * 3;
    return {p[2], p[1], p[0]};
}

bool AreaDiffers(const std::vector<BYTE>& a, const std::vector<BYTE>& b, const PatternArea& area, int width) {
    const int areaWidth = area.width ? area.width : width;
    for (int y = area.y; y < area.y + area.height; ++y)
        for (int x = area.x; x < area.x + areaWidth; ++x) {
            const Pixel pa = PixelAt(a, kWidth, kHeight, x, y), pb = PixelAt(b, kWidth, kHeight, x, y);
            if (pa.r != pb.r || pa.g != pb.g || pa.b != pb.b)
                return true;
        }
    return false;
}

class TestCameraStream : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_TRUE(cameras.loaded());
        camera = std::make_unique<ScopedTestCamera>(cameras, "Stream Cam");
        ASSERT_TRUE(camera->registered());
    }
    void TearDown() override {
        camera.reset();
        CoUninitialize();
    }

    TestCameras cameras;
    std::unique_ptr<ScopedTestCamera> camera;
};

TEST_F(TestCameraStream, DeliversBottomUpVgaFramesAtFifteenPerSecond) {
    FrameCollector collector;
    GrabberGraph graph;
    ASSERT_TRUE(SUCCEEDED(graph.Build(L"Stream Cam", collector)));

    AM_MEDIA_TYPE connected{};
    ASSERT_TRUE(SUCCEEDED(graph.grabber->GetConnectedMediaType(&connected)));
    ASSERT_TRUE(IsEqualGUID(connected.formattype, FORMAT_VideoInfo));
    const auto& info = *reinterpret_cast<VIDEOINFOHEADER*>(connected.pbFormat);
    EXPECT_TRUE(IsEqualGUID(connected.subtype, MEDIASUBTYPE_RGB24));
    EXPECT_EQ(kWidth, info.bmiHeader.biWidth);
    EXPECT_EQ(kHeight, info.bmiHeader.biHeight);
    EXPECT_TRUE(connected.bFixedSizeSamples);
    EXPECT_EQ(kFrameBytes, connected.lSampleSize);
    FreeMediaType(connected);

    ASSERT_EQ(S_OK, graph.Run());
    ASSERT_TRUE(collector.WaitForFrames(1, 3000));
    const long first = collector.frames();
    Sleep(2000);
    const long delivered = collector.frames() - first;
    EXPECT_GE(delivered, 22);
    EXPECT_LE(delivered, 38);
    EXPECT_EQ(kFrameBytes, collector.latestFrame().size());
    EXPECT_TRUE(SUCCEEDED(graph.Stop()));
}

TEST_F(TestCameraStream, CounterAndSquareMoveWhileNameAndPatchesStay) {
    FrameCollector collector;
    GrabberGraph graph;
    ASSERT_TRUE(SUCCEEDED(graph.Build(L"Stream Cam", collector)));
    ASSERT_EQ(S_OK, graph.Run());
    ASSERT_TRUE(collector.WaitForFrames(2, 3000));
    const std::vector<BYTE> earlier = collector.latestFrame();
    const long earlierCount = collector.frames();
    ASSERT_TRUE(collector.WaitForFrames(earlierCount + 2, 3000));
    const std::vector<BYTE> later = collector.latestFrame();
    graph.Stop();
    ASSERT_EQ(kFrameBytes, earlier.size());
    ASSERT_EQ(kFrameBytes, later.size());

    EXPECT_TRUE(AreaDiffers(earlier, later, kFrameCounterArea, kWidth));
    EXPECT_TRUE(AreaDiffers(earlier, later, kMovingBand, kWidth));
    EXPECT_FALSE(AreaDiffers(earlier, later, kNameArea, kWidth));
    EXPECT_FALSE(AreaDiffers(earlier, later, kColourBarBand, kWidth));
    // The name is written in: its area is not plain background.
    const PatternArea blank = {kNameArea.x, kNameArea.y, kNameArea.width, kNameArea.height};
    std::vector<BYTE> background(kFrameBytes, kBackgroundGrey);
    EXPECT_TRUE(AreaDiffers(later, background, blank, kWidth));
}

TEST_F(TestCameraStream, ReferencePatchesAreExactInFramesAndCloseInJpeg) {
    FrameCollector collector;
    GrabberGraph graph;
    ASSERT_TRUE(SUCCEEDED(graph.Build(L"Stream Cam", collector)));
    ASSERT_EQ(S_OK, graph.Run());
    ASSERT_TRUE(collector.WaitForFrames(2, 3000));
    std::vector<BYTE> frame = collector.latestFrame();
    graph.Stop();
    ASSERT_EQ(kFrameBytes, frame.size());

    for (const ReferencePatch& patch : ReferencePatches())
        for (int y = patch.y; y < patch.y + patch.size; ++y)
            for (int x = patch.x; x < patch.x + patch.size; ++x) {
                const Pixel pixel = PixelAt(frame, kWidth, kHeight, x, y);
                ASSERT_TRUE(pixel.r == patch.r && pixel.g == patch.g && pixel.b == patch.b)
                    << "patch at " << patch.x << "," << patch.y << " pixel " << x << "," << y;
            }

    // Through a JPEG file and back, the patches' middles keep their colour.
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    ASSERT_EQ(Gdiplus::Ok, Gdiplus::GdiplusStartup(&token, &input, nullptr));
    wchar_t tempDirectory[MAX_PATH];
    GetTempPathW(MAX_PATH, tempDirectory);
    const std::wstring path = std::wstring(tempDirectory) + L"testcam_patches.jpg";
    {
        BITMAPINFO bitmapInfo{};
        bitmapInfo.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, kHeight, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
        Gdiplus::Bitmap bitmap(&bitmapInfo, frame.data());
        CLSID jpegEncoder{};
        CLSIDFromString(L"{557CF401-1A04-11D3-9A73-0000F81EF32E}", &jpegEncoder);
        ASSERT_EQ(Gdiplus::Ok, bitmap.Save(path.c_str(), &jpegEncoder, nullptr));
    }
    {
        Gdiplus::Bitmap saved(path.c_str());
        ASSERT_EQ(Gdiplus::Ok, saved.GetLastStatus());
        ASSERT_EQ(static_cast<UINT>(kWidth), saved.GetWidth());
        for (const ReferencePatch& patch : ReferencePatches()) {
            long sum[3] = {};
            const int margin = patch.size / 4, side = patch.size - 2 * margin;
            for (int y = patch.y + margin; y < patch.y + margin + side; ++y)
                for (int x = patch.x + margin; x < patch.x + margin + side; ++x) {
                    Gdiplus::Color colour;
                    saved.GetPixel(x, y, &colour);
                    sum[0] += colour.GetR();
                    sum[1] += colour.GetG();
                    sum[2] += colour.GetB();
                }
            const long count = side * side;
            EXPECT_NEAR(patch.r, sum[0] / count, 12) << "patch at " << patch.x;
            EXPECT_NEAR(patch.g, sum[1] / count, 12) << "patch at " << patch.x;
            EXPECT_NEAR(patch.b, sum[2] / count, 12) << "patch at " << patch.x;
        }
    }
    DeleteFileW(path.c_str());
    Gdiplus::GdiplusShutdown(token);
}

TEST_F(TestCameraStream, ConfiguredSizeAndRateAreDelivered) {
    ComPtr<IBaseFilter> bound = BindCamera(L"Stream Cam");
    ASSERT_TRUE(bound);
    ComPtr<IAMStreamConfig> config;
    ASSERT_TRUE(SUCCEEDED(FirstPin(bound.Get(), PINDIR_OUTPUT).As(&config)));
    AM_MEDIA_TYPE hd{};
    ASSERT_TRUE(SUCCEEDED(MakeVideoType(hd, 1280, 720, 10'000'000 / 30)));
    ASSERT_EQ(S_OK, config->SetFormat(&hd));
    FreeMediaType(hd);

    FrameCollector collector;
    GrabberGraph graph;
    ASSERT_TRUE(SUCCEEDED(graph.BuildWith(bound, collector)));
    ASSERT_EQ(S_OK, graph.Run());
    ASSERT_TRUE(collector.WaitForFrames(1, 3000));
    const long first = collector.frames();
    Sleep(1000);
    const long delivered = collector.frames() - first;
    graph.Stop();
    EXPECT_GE(delivered, 20);
    EXPECT_LE(delivered, 38);
    EXPECT_EQ(static_cast<size_t>(Rgb24Stride(1280) * 720), collector.latestFrame().size());
}

TEST_F(TestCameraStream, SetFormatOnAConnectedPinReconnectsWithTheNewSize) {
    FrameCollector collector;
    GrabberGraph graph;
    ASSERT_TRUE(SUCCEEDED(graph.Build(L"Stream Cam", collector)));
    ComPtr<IAMStreamConfig> config;
    ASSERT_TRUE(SUCCEEDED(FirstPin(graph.camera.Get(), PINDIR_OUTPUT).As(&config)));
    AM_MEDIA_TYPE hd{};
    ASSERT_TRUE(SUCCEEDED(MakeVideoType(hd, 1280, 720, 10'000'000 / 15)));
    const HRESULT hr = config->SetFormat(&hd);
    FreeMediaType(hd);
    ASSERT_TRUE(SUCCEEDED(hr)) << std::hex << hr;

    AM_MEDIA_TYPE connected{};
    ASSERT_TRUE(SUCCEEDED(graph.grabber->GetConnectedMediaType(&connected)));
    EXPECT_EQ(1280, reinterpret_cast<VIDEOINFOHEADER*>(connected.pbFormat)->bmiHeader.biWidth);
    FreeMediaType(connected);
    ASSERT_EQ(S_OK, graph.Run());
    ASSERT_TRUE(collector.WaitForFrames(2, 3000));
    EXPECT_EQ(static_cast<size_t>(Rgb24Stride(1280) * 720), collector.latestFrame().size());
    graph.Stop();
}

TEST_F(TestCameraStream, ConnectingWithAnUnofferedCompleteTypeFails) {
    ComPtr<IBaseFilter> bound = BindCamera(L"Stream Cam");
    ASSERT_TRUE(bound);
    FrameCollector collector;
    GrabberGraph graph;
    ASSERT_TRUE(SUCCEEDED(graph.BuildWith(bound, collector)));
    ComPtr<IPin> cameraOut = FirstPin(bound.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> grabberIn;
    ASSERT_TRUE(SUCCEEDED(cameraOut->ConnectedTo(&grabberIn)));
    ASSERT_TRUE(SUCCEEDED(graph.graph->Disconnect(cameraOut.Get())));
    ASSERT_TRUE(SUCCEEDED(graph.graph->Disconnect(grabberIn.Get())));

    AM_MEDIA_TYPE odd{};
    ASSERT_TRUE(SUCCEEDED(MakeVideoType(odd, 1024, 768, 10'000'000 / 15)));
    EXPECT_TRUE(FAILED(cameraOut->Connect(grabberIn.Get(), &odd)));
    FreeMediaType(odd);
    ComPtr<IPin> peer;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, cameraOut->ConnectedTo(&peer));
}

TEST_F(TestCameraStream, PreviewPathThroughTheCaptureGraphBuilder) {
    ComPtr<IGraphBuilder> graph;
    ASSERT_TRUE(
        SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph))));
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_TRUE(SUCCEEDED(
        CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&builder))));
    ASSERT_TRUE(SUCCEEDED(builder->SetFiltergraph(graph.Get())));
    ComPtr<IBaseFilter> cam = BindCamera(L"Stream Cam");
    ASSERT_TRUE(cam);
    ASSERT_TRUE(SUCCEEDED(graph->AddFilter(cam.Get(), L"Video Capture")));
    ComPtr<IBaseFilter> grabberFilter;
    ASSERT_TRUE(SUCCEEDED(
        CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&grabberFilter))));
    ComPtr<ISampleGrabber> grabber;
    ASSERT_TRUE(SUCCEEDED(grabberFilter.As(&grabber)));
    AM_MEDIA_TYPE wanted{};
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = MEDIASUBTYPE_RGB24;
    ASSERT_TRUE(SUCCEEDED(grabber->SetMediaType(&wanted)));
    FrameCollector collector;
    ASSERT_TRUE(SUCCEEDED(grabber->SetCallback(&collector, 1)));
    ASSERT_TRUE(SUCCEEDED(graph->AddFilter(grabberFilter.Get(), L"Grabber")));

    const HRESULT rendered = builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, cam.Get(),
                                                   grabberFilter.Get(), nullptr);
    ASSERT_TRUE(SUCCEEDED(rendered)) << std::hex << rendered;

    ComPtr<IMediaControl> control;
    ASSERT_TRUE(SUCCEEDED(graph.As(&control)));
    ComPtr<IVideoWindow> window;
    if (SUCCEEDED(graph->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(window.GetAddressOf()))))
        window->put_AutoShow(OAFALSE);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(collector.WaitForFrames(1, 3000));
    const long first = collector.frames();
    EXPECT_TRUE(collector.WaitForFrames(first + 10, 5000)) << collector.frames() - first;
    EXPECT_EQ(kFrameBytes, collector.latestFrame().size());
    EXPECT_TRUE(SUCCEEDED(control->Stop()));
}

TEST_F(TestCameraStream, TwoGraphsOnOneCameraBothRun) {
    FrameCollector firstCollector, secondCollector;
    GrabberGraph first, second;
    ASSERT_TRUE(SUCCEEDED(first.Build(L"Stream Cam", firstCollector)));
    ASSERT_TRUE(SUCCEEDED(second.Build(L"Stream Cam", secondCollector)));
    ASSERT_EQ(S_OK, first.Run());
    ASSERT_EQ(S_OK, second.Run());
    EXPECT_TRUE(firstCollector.WaitForFrames(12, 3000));
    EXPECT_TRUE(secondCollector.WaitForFrames(12, 3000));
    EXPECT_TRUE(SUCCEEDED(first.Stop()));
    // The other graph goes on after the first one stopped.
    const long secondCount = secondCollector.frames();
    EXPECT_TRUE(secondCollector.WaitForFrames(secondCount + 5, 2000));
    EXPECT_TRUE(SUCCEEDED(second.Stop()));
}

} // namespace

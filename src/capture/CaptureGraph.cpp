#include "capture/CaptureGraph.h"

#include "capture/CameraSlots.h"
#include "capture/DeviceBinding.h"
#include "capture/StreamConfigCaps.h"
#include "framework/EventLog.h"

#include <cguid.h>
#include <dvdmedia.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace lumetra {

namespace {

constexpr DWORD AnyClassContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD InProcessContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

// The editing services' classes, which MinGW's qedit.h does not declare.
constexpr CLSID SampleGrabberClass = {
    0xC1F400A0, 0x3F08, 0x11d3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
constexpr CLSID NullRendererClass = {
    0xC1F400A4, 0x3F08, 0x11d3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

// MinGW's headers give no __uuidof for several DirectShow interfaces: query by IID.
template <typename Interface> HRESULT QueryAs(IUnknown* object, REFIID iid, ComPtr<Interface>& result) {
    return object->QueryInterface(iid, reinterpret_cast<void**>(result.ReleaseAndGetAddressOf()));
}

// Frees what a media type returned by the grabber holds.
class ScopedMediaType {
  public:
    ScopedMediaType() = default;
    ~ScopedMediaType() {
        if (type_.cbFormat != 0 && type_.pbFormat != nullptr)
            ::CoTaskMemFree(type_.pbFormat);
        ComPtr<IUnknown> object;
        object.Attach(type_.pUnk); // released with `object`
    }
    ScopedMediaType(const ScopedMediaType&) = delete;
    ScopedMediaType& operator=(const ScopedMediaType&) = delete;
    AM_MEDIA_TYPE* get() { return &type_; }
    const AM_MEDIA_TYPE& operator*() const { return type_; }

  private:
    AM_MEDIA_TYPE type_{};
};

// The bitmap header of a connected video format; null for a format that carries none.
const BITMAPINFOHEADER* BitmapHeaderOf(const AM_MEDIA_TYPE& type) {
    if (type.pbFormat == nullptr)
        return nullptr;
    if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER))
        return &reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
    if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2))
        return &reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader;
    return nullptr;
}

// A media type the device allocated whole (GetStreamCaps), freed with what it holds.
struct DeviceMediaTypeDeleter {
    void operator()(AM_MEDIA_TYPE* type) const {
        if (type->cbFormat != 0 && type->pbFormat != nullptr)
            ::CoTaskMemFree(type->pbFormat);
        if (type->pUnk != nullptr)
            type->pUnk->Release();
        ::CoTaskMemFree(type);
    }
};
using DeviceMediaType = std::unique_ptr<AM_MEDIA_TYPE, DeviceMediaTypeDeleter>;

// One format of a pin's IAMStreamConfig capabilities.
struct StreamFormat {
    DeviceMediaType type;
    PictureSize size;
    REFERENCE_TIME shortestFrameInterval = 0; // 100 ns units; 0 when the device names none
};

std::vector<StreamFormat> ReadStreamFormats(IAMStreamConfig& config) {
    std::vector<StreamFormat> formats;
    int count = 0, capsSize = 0;
    if (FAILED(config.GetNumberOfCapabilities(&count, &capsSize)) ||
        capsSize < static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)))
        return formats;
    std::vector<BYTE> capsBytes(static_cast<size_t>(capsSize));
    for (int index = 0; index < count; ++index) {
        AM_MEDIA_TYPE* raw = nullptr;
        const HRESULT hr = config.GetStreamCaps(index, &raw, capsBytes.data());
        DeviceMediaType type(raw);
        if (hr != S_OK || !type || type->majortype != MEDIATYPE_Video)
            continue;
        const BITMAPINFOHEADER* header = BitmapHeaderOf(*type);
        if (header == nullptr || header->biWidth <= 0 || header->biHeight == 0)
            continue;
        VIDEO_STREAM_CONFIG_CAPS caps{};
        std::memcpy(&caps, capsBytes.data(), sizeof caps);
        formats.push_back({std::move(type), PictureSize{header->biWidth, std::abs(header->biHeight)},
                           std::max<REFERENCE_TIME>(caps.MinFrameInterval, 0)});
    }
    return formats;
}

int FramesPerSecond(REFERENCE_TIME frameInterval) {
    return frameInterval > 0 ? static_cast<int>(std::lround(10'000'000.0 / frameInterval)) : 0;
}

// Each size once, with its fastest format's rate, smallest first.
std::vector<OfferedPictureSize> OfferedSizesOf(const std::vector<StreamFormat>& formats) {
    std::vector<OfferedPictureSize> offered;
    for (const StreamFormat& format : formats) {
        const int rate = FramesPerSecond(format.shortestFrameInterval);
        auto same = std::find_if(offered.begin(), offered.end(),
                                 [&](const OfferedPictureSize& known) { return known.size == format.size; });
        if (same == offered.end())
            offered.push_back({format.size, rate});
        else
            same->maxFramesPerSecond = std::max(same->maxFramesPerSecond, rate);
    }
    std::stable_sort(offered.begin(), offered.end(), [](const auto& a, const auto& b) {
        return static_cast<long long>(a.size.width) * a.size.height <
               static_cast<long long>(b.size.width) * b.size.height;
    });
    return offered;
}

REFERENCE_TIME* FrameIntervalOf(AM_MEDIA_TYPE& type) {
    if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER))
        return &reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
    if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2))
        return &reinterpret_cast<VIDEOINFOHEADER2*>(type.pbFormat)->AvgTimePerFrame;
    return nullptr;
}

// Sets the pin to its fastest format of `size`, at that format's highest rate (the rate the
// drop-down names); a device that refuses the rate gets the format as it offered it.
// S_FALSE: the pin offers no format of that size.
HRESULT SetPinSize(IAMStreamConfig& config, const PictureSize& size) {
    std::vector<StreamFormat> formats = ReadStreamFormats(config);
    StreamFormat* chosen = nullptr;
    for (StreamFormat& format : formats) {
        if (format.size != size)
            continue;
        const auto faster = [](REFERENCE_TIME a, REFERENCE_TIME b) { return a > 0 && (b == 0 || a < b); };
        if (!chosen || faster(format.shortestFrameInterval, chosen->shortestFrameInterval))
            chosen = &format;
    }
    if (!chosen)
        return S_FALSE;
    REFERENCE_TIME* interval = FrameIntervalOf(*chosen->type);
    const REFERENCE_TIME offeredInterval = interval ? *interval : 0;
    if (interval && chosen->shortestFrameInterval > 0) {
        *interval = chosen->shortestFrameInterval;
        if (SUCCEEDED(config.SetFormat(chosen->type.get())))
            return S_OK;
        *interval = offeredInterval;
    }
    return config.SetFormat(chosen->type.get());
}

ComPtr<IAMStreamConfig> StreamConfigOf(ICaptureGraphBuilder2& builder, IBaseFilter* filter,
                                       const GUID& category, ComPtr<IPin>& pin) {
    ComPtr<IAMStreamConfig> config;
    if (builder.FindPin(filter, PINDIR_OUTPUT, &category, nullptr, FALSE, 0, pin.ReleaseAndGetAddressOf()) ==
        S_OK)
        QueryAs(pin.Get(), IID_IAMStreamConfig, config);
    return config;
}

} // namespace

bool CaptureGraph::Fail(const char* message) {
    lastFailure_ = message;
    if (failures_ == Failures::Shown)
        ::MessageBoxA(nullptr, message, "Error!", MB_OK | MB_SETFOREGROUND | MB_TASKMODAL);
    return false;
}

bool CaptureGraph::Build(const char* cameraName, int cameraIndex, HWND videoHost, Failures failures) {
    TearDown();
    videoHost_ = videoHost;
    if (HWND parent = videoHost ? ::GetParent(videoHost) : nullptr) {
        RECT host{}, parentClient{};
        ::GetWindowRect(videoHost, &host);
        ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&host), 2);
        ::GetClientRect(parent, &parentClient);
        hostRightMargin_ = parentClient.right - host.right;
        hostBottomMargin_ = parentClient.bottom - host.bottom;
    }
    // A camera is silent from now until its first frame; the session measures from here.
    if (IsValidCameraIndex(cameraIndex))
        CameraSlotAt(cameraIndex).lastFrameTick.store(::GetTickCount64(), std::memory_order_relaxed);
    // With a size asked for, a failure is shown only once it is clear the size was not the cause.
    running_ = BuildSteps(cameraName, cameraIndex, wantedSize_, wantedSize_ ? Failures::Quiet : failures);
    if (running_ || !wantedSize_)
        return running_;
    if (!appliedSize_) {
        failures_ = failures;
        return Fail(std::string(lastFailure_).c_str());
    }
    // The pin took the size, but nothing downstream took its format (no decoder for it, say).
    LogEvent(cameraName, "the camera did not start at picture size " + PictureSizeText(appliedSize_) + " (" +
                             lastFailure_ + "); it starts at its default size");
    TearDown();
    running_ = BuildSteps(cameraName, cameraIndex, std::nullopt, failures);
    return running_;
}

bool CaptureGraph::TakeDeviceLost() {
    if (!graph_)
        return false;
    ComPtr<IMediaEvent> events;
    if (FAILED(QueryAs(graph_.Get(), IID_IMediaEvent, events)))
        return false;
    bool lost = false;
    long code = 0;
    LONG_PTR first = 0, second = 0;
    while (events->GetEvent(&code, &first, &second, 0) == S_OK) {
        // The second parameter is 0 when the device went away, 1 when it came back.
        if (code == EC_DEVICE_LOST && second == 0)
            lost = true;
        events->FreeEventParams(code, first, second);
    }
    return lost;
}

// What only the build holds; afterwards the graph keeps the filters alive.
struct CaptureGraph::BuildParts {
    ComPtr<IBaseFilter> captureFilter;
    ComPtr<IBaseFilter> grabberFilter;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IBaseFilter> nullRenderer; // only for a device with a video-port pin
    std::optional<PictureSize> size;  // asked of the capture pin; none: its default
};

bool CaptureGraph::BuildSteps(const char* cameraName, int cameraIndex, std::optional<PictureSize> size,
                              Failures failures) {
    failures_ = failures;
    lastFailure_.clear();
    offeredSizes_.clear();
    appliedSize_.reset();
    if (!IsValidCameraIndex(cameraIndex))
        return Fail("No camera slot for this camera");
    FrameGrabberCallback& callback = CameraSlotAt(cameraIndex).callback;
    BuildParts parts;
    parts.size = size;
    return CreateGraph() && AddCaptureFilter(cameraName, parts) && AddGrabber(parts) && MakeBuilder(parts) &&
           ApplyPictureSize(cameraName, parts) && AddNullRendererForVideoPort(parts) && Connect(parts) &&
           ReadFrameSize(cameraName, callback) && InstallCallback(callback) && PlacePreview() && RunGraph();
}

bool CaptureGraph::CreateGraph() {
    if (FAILED(::CoCreateInstance(CLSID_FilterGraph, nullptr, AnyClassContext, IID_IGraphBuilder,
                                  reinterpret_cast<void**>(graph_.GetAddressOf()))) ||
        !graph_)
        return Fail("failed filter graph");
    return true;
}

// The device, by its friendly name, as "Cap".
bool CaptureGraph::AddCaptureFilter(const char* cameraName, BuildParts& parts) {
    parts.captureFilter = FindCaptureFilter(cameraName);
    if (!parts.captureFilter)
        return Fail("No video capture device fouind.\r\n\r\na device like a USB web cam is needed.");
    if (FAILED(graph_->AddFilter(parts.captureFilter.Get(), L"Cap")))
        return Fail("Could not add device");
    return true;
}

// The Sample Grabber, taking any RGB24 video format, as "Grabber".
bool CaptureGraph::AddGrabber(BuildParts& parts) {
    if (FAILED(::CoCreateInstance(SampleGrabberClass, nullptr, AnyClassContext, IID_ISampleGrabber,
                                  reinterpret_cast<void**>(grabber_.GetAddressOf()))) ||
        !grabber_ || FAILED(QueryAs(grabber_.Get(), IID_IBaseFilter, parts.grabberFilter)))
        return Fail("::qedit.dll?)");
    AM_MEDIA_TYPE wanted{};
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = MEDIASUBTYPE_RGB24;
    wanted.bFixedSizeSamples = TRUE;
    wanted.bTemporalCompression = FALSE;
    wanted.lSampleSize = 1;
    wanted.formattype = GUID_NULL;
    if (FAILED(grabber_->SetMediaType(&wanted)))
        return Fail("no media type found");
    if (FAILED(graph_->AddFilter(parts.grabberFilter.Get(), L"Grabber")))
        return Fail("Could not add the grabber");
    return true;
}

bool CaptureGraph::MakeBuilder(BuildParts& parts) {
    if (FAILED(::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, InProcessContext,
                                  IID_ICaptureGraphBuilder2,
                                  reinterpret_cast<void**>(parts.builder.GetAddressOf()))) ||
        !parts.builder || FAILED(parts.builder->SetFiltergraph(graph_.Get())))
        return Fail("Could not make the capture graph builder");
    return true;
}

// Before anything connects: the capture pin's sizes, and the wanted one set on it. A device with a
// preview pin of its own previews through that pin, which the grabber then sits on: it is asked for
// the same size.
bool CaptureGraph::ApplyPictureSize(const char* cameraName, const BuildParts& parts) {
    ComPtr<IPin> capturePin;
    const ComPtr<IAMStreamConfig> capture =
        StreamConfigOf(*parts.builder.Get(), parts.captureFilter.Get(), PIN_CATEGORY_CAPTURE, capturePin);
    if (capture)
        offeredSizes_ = OfferedSizesOf(ReadStreamFormats(*capture.Get()));
    if (!parts.size)
        return true;
    const std::string wanted = PictureSizeText(parts.size);
    const HRESULT hr = capture ? SetPinSize(*capture.Get(), *parts.size) : S_FALSE;
    if (hr == S_FALSE) {
        LogEvent(cameraName,
                 "picture size " + wanted + " is not offered by the camera; it runs at its default size");
        return true;
    }
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
        LogEvent(cameraName, "the camera refused picture size " + wanted + " (" + code +
                                 "); it runs at its default size");
        return true;
    }
    appliedSize_ = parts.size;
    ComPtr<IPin> previewPin;
    const ComPtr<IAMStreamConfig> preview =
        StreamConfigOf(*parts.builder.Get(), parts.captureFilter.Get(), PIN_CATEGORY_PREVIEW, previewPin);
    if (preview && previewPin.Get() != capturePin.Get())
        SetPinSize(*preview.Get(), *parts.size);
    return true;
}

// A device with a video-port pin previews through it; the grabber's branch then ends in a NULL
// renderer. Any other device's branch ends in the builder's video renderer, the preview window.
bool CaptureGraph::AddNullRendererForVideoPort(BuildParts& parts) {
    ComPtr<IPin> videoPortPin;
    if (parts.builder->FindPin(parts.captureFilter.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_VIDEOPORT, nullptr,
                               FALSE, 0, videoPortPin.GetAddressOf()) != S_OK)
        return true;
    if (FAILED(::CoCreateInstance(NullRendererClass, nullptr, AnyClassContext, IID_IBaseFilter,
                                  reinterpret_cast<void**>(parts.nullRenderer.GetAddressOf()))) ||
        !parts.nullRenderer)
        return Fail("Unable to make a NULL renderer");
    if (FAILED(graph_->AddFilter(parts.nullRenderer.Get(), L"NULL renderer")))
        return Fail("Can't add the filter to graph");
    return true;
}

// Capture filter -> grabber -> renderer, by the first connection that works.
bool CaptureGraph::Connect(const BuildParts& parts) {
    const struct {
        const GUID* category;
        const GUID* mediaType;
    } connections[] = {
        {&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Interleaved},
        {&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video},
        {&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video},
    };
    for (const auto& connection : connections)
        if (SUCCEEDED(parts.builder->RenderStream(connection.category, connection.mediaType,
                                                  parts.captureFilter.Get(), parts.grabberFilter.Get(),
                                                  parts.nullRenderer.Get())))
            return true;
    return Fail("Can't build the graph");
}

// The frame size, before the callback can see a frame.
bool CaptureGraph::ReadFrameSize(const char* cameraName, FrameGrabberCallback& callback) {
    ScopedMediaType connectedType;
    const BITMAPINFOHEADER* header = nullptr;
    if (SUCCEEDED(grabber_->GetConnectedMediaType(connectedType.get())))
        header = BitmapHeaderOf(*connectedType);
    if (header == nullptr)
        return Fail("Could not read the connected media type");
    callback.frameWidth = header->biWidth;
    callback.frameHeight = header->biHeight;
    // A preview pin that would not take the size gives the grabber its own.
    const PictureSize delivered{header->biWidth, std::abs(header->biHeight)};
    if (appliedSize_ && delivered != *appliedSize_) {
        LogEvent(cameraName, "the camera delivers " + PictureSizeText(delivered) + ", not picture size " +
                                 PictureSizeText(appliedSize_));
        appliedSize_.reset();
    }
    return true;
}

// No copies kept by the grabber; BufferCB for every frame.
bool CaptureGraph::InstallCallback(FrameGrabberCallback& callback) {
    if (FAILED(grabber_->SetBufferSamples(FALSE)) || FAILED(grabber_->SetOneShot(FALSE)) ||
        FAILED(grabber_->SetCallback(&callback, 1)))
        return Fail("Could not set up the grabber");
    return true;
}

// The preview inside the host control. A graph whose grabber branch ends in the NULL renderer has
// no video window: its placing calls fail, and the camera still delivers its frames.
bool CaptureGraph::PlacePreview() {
    ComPtr<IVideoWindow> videoWindow;
    if (FAILED(QueryAs(graph_.Get(), IID_IVideoWindow, videoWindow)))
        return Fail("Could not get video window interface");
    RECT host{};
    if (videoHost_)
        ::GetWindowRect(videoHost_, &host);
    videoWindow->put_Owner(reinterpret_cast<OAHWND>(videoHost_));
    videoWindow->put_Left(0);
    videoWindow->put_Top(0);
    videoWindow->put_Width(host.right - host.left);
    videoWindow->put_Height(host.bottom - host.top);
    videoWindow->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS);
    videoWindow->put_Visible(OATRUE);
    // Wine's renderer mixes screen coordinates into put_Left/put_Top of an owned window; placing it
    // once more as a whole puts it where the calls above meant.
    videoWindow->SetWindowPosition(0, 0, host.right - host.left, host.bottom - host.top);
    return true;
}

// S_FALSE from Run means the change completes later.
bool CaptureGraph::RunGraph() {
    ComPtr<IMediaControl> mediaControl;
    if (FAILED(QueryAs(graph_.Get(), IID_IMediaControl, mediaControl)) || FAILED(mediaControl->Run()))
        return Fail("Could not run graph");
    return true;
}

void CaptureGraph::TearDown() {
    running_ = false;
    if (!graph_) {
        grabber_.Reset();
        return;
    }
    ComPtr<IMediaControl> mediaControl;
    if (SUCCEEDED(QueryAs(graph_.Get(), IID_IMediaControl, mediaControl)))
        mediaControl->Stop();
    // The video window must leave its owner before the owner goes.
    ComPtr<IVideoWindow> videoWindow;
    if (SUCCEEDED(QueryAs(graph_.Get(), IID_IVideoWindow, videoWindow))) {
        videoWindow->put_Visible(OAFALSE);
        videoWindow->put_Owner(0);
    }
    graph_.Reset();
    grabber_.Reset();
}

void CaptureGraph::ResizeVideo() {
    if (videoHost_ == nullptr || !::IsWindow(videoHost_))
        return;
    RECT host{};
    ::GetWindowRect(videoHost_, &host);
    if (HWND parent = ::GetParent(videoHost_)) {
        ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&host), 2);
        RECT parentClient{};
        ::GetClientRect(parent, &parentClient);
        const int width = std::max<int>(0, parentClient.right - hostRightMargin_ - host.left);
        const int height = std::max<int>(0, parentClient.bottom - hostBottomMargin_ - host.top);
        ::SetWindowPos(videoHost_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        ::InvalidateRect(videoHost_, nullptr, TRUE);
    }
    if (!graph_)
        return;
    ComPtr<IVideoWindow> videoWindow;
    if (FAILED(QueryAs(graph_.Get(), IID_IVideoWindow, videoWindow)))
        return;
    RECT client{};
    ::GetClientRect(videoHost_, &client);
    videoWindow->SetWindowPosition(0, 0, client.right, client.bottom);
}

} // namespace lumetra

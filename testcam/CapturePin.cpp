#include "CapturePin.h"

#include "Enumerators.h"
#include "PatternRenderer.h"
#include "TestCamFilter.h"
#include "TestPattern.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace lumetra::testcam {

namespace {

constexpr wchar_t kPinName[] = L"Capture";
constexpr REFERENCE_TIME kDefaultFrameInterval = kUnitsPerSecond / kDefaultFramesPerSecond;
constexpr REFERENCE_TIME kMinFrameInterval = kUnitsPerSecond / kMaxFramesPerSecond;
constexpr REFERENCE_TIME kMaxFrameInterval = kUnitsPerSecond / kMinFramesPerSecond;
constexpr long kBufferCount = 4;

MediaType DefaultTypeOfSize(const FrameSize& size) {
    MediaType type;
    MakeVideoType(type.get(), size.width, size.height, kDefaultFrameInterval);
    return type;
}

// Does the (possibly partial) type asked for by a connecting pin allow the one offered?
bool MatchesPartialType(const AM_MEDIA_TYPE& wanted, const AM_MEDIA_TYPE& offered) {
    if (wanted.majortype != GUID_NULL && wanted.majortype != offered.majortype)
        return false;
    if (wanted.subtype != GUID_NULL && wanted.subtype != offered.subtype)
        return false;
    if (wanted.formattype != GUID_NULL && wanted.formattype != offered.formattype)
        return false;
    return true;
}

int64_t PerformanceCounterNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

} // namespace

CapturePin::CapturePin(TestCamFilter& filter) : filter_(filter) {
    wakeEvent_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
}

CapturePin::~CapturePin() {
    StopStreaming();
    ReleaseConnection();
}

STDMETHODIMP CapturePin::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IPin)
        *object = static_cast<IPin*>(this);
    else if (iid == IID_IKsPropertySet)
        *object = static_cast<IKsPropertySet*>(this);
    else if (iid == IID_IAMStreamConfig)
        *object = static_cast<IAMStreamConfig*>(this);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CapturePin::AddRef() {
    return filter_.AddRef();
}
STDMETHODIMP_(ULONG) CapturePin::Release() {
    return filter_.Release();
}

// --- formats -----------------------------------------------------------------------------------

bool CapturePin::IsSupportedType(const AM_MEDIA_TYPE& type) const {
    if (type.majortype != MEDIATYPE_Video || type.subtype != MEDIASUBTYPE_RGB24 ||
        type.formattype != FORMAT_VideoInfo || type.cbFormat < sizeof(VIDEOINFOHEADER) || !type.pbFormat)
        return false;
    const auto& info = *reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    const BITMAPINFOHEADER& header = info.bmiHeader;
    if (header.biBitCount != 24 || header.biCompression != BI_RGB || header.biPlanes != 1)
        return false;
    if (info.AvgTimePerFrame != 0 &&
        (info.AvgTimePerFrame < kMinFrameInterval || info.AvgTimePerFrame > kMaxFrameInterval))
        return false;
    if (header.biSizeImage != 0 &&
        header.biSizeImage != static_cast<DWORD>(Rgb24Stride(header.biWidth) * header.biHeight))
        return false;
    return std::any_of(std::begin(kFrameSizes), std::end(kFrameSizes), [&](const FrameSize& size) {
        return size.width == header.biWidth && size.height == header.biHeight;
    });
}

std::vector<MediaType> CapturePin::OfferedTypes() {
    std::lock_guard guard(lock_);
    if (!configuredType_.empty())
        return {configuredType_};
    std::vector<MediaType> types;
    for (const FrameSize& size : kFrameSizes)
        types.push_back(DefaultTypeOfSize(size));
    return types;
}

STDMETHODIMP CapturePin::SetFormat(AM_MEDIA_TYPE* type) {
    if (!type)
        return E_POINTER;
    if (!IsSupportedType(*type))
        return VFW_E_INVALIDMEDIATYPE;
    if (filter_.state() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    const auto& info = *reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
    MediaType normalised;
    HRESULT hr = MakeVideoType(normalised.get(), info.bmiHeader.biWidth, info.bmiHeader.biHeight,
                               info.AvgTimePerFrame ? info.AvgTimePerFrame : kDefaultFrameInterval);
    if (FAILED(hr))
        return hr;
    ComPtr<IPin> peer;
    {
        std::lock_guard guard(lock_);
        peer = connectedPin_;
        if (peer && peer->QueryAccept(&normalised.get()) != S_OK)
            return VFW_E_INVALIDMEDIATYPE;
        configuredType_ = normalised;
    }
    // Already connected: the graph reconnects the pins with the new format.
    if (peer) {
        if (IFilterGraph* graph = filter_.graph())
            return graph->Reconnect(this);
        return VFW_E_NOT_IN_GRAPH;
    }
    return S_OK;
}

STDMETHODIMP CapturePin::GetFormat(AM_MEDIA_TYPE** type) {
    if (!type)
        return E_POINTER;
    MediaType current;
    {
        std::lock_guard guard(lock_);
        current = !connectionType_.empty()   ? connectionType_
                  : !configuredType_.empty() ? configuredType_
                                             : DefaultTypeOfSize(kFrameSizes[0]);
    }
    *type = CreateMediaTypeCopy(current.get());
    return *type ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CapturePin::GetNumberOfCapabilities(int* count, int* size) {
    if (!count || !size)
        return E_POINTER;
    *count = static_cast<int>(std::size(kFrameSizes));
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

STDMETHODIMP CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* capsBytes) {
    if (!type || !capsBytes)
        return E_POINTER;
    *type = nullptr;
    if (index < 0)
        return E_INVALIDARG;
    if (index >= static_cast<int>(std::size(kFrameSizes)))
        return S_FALSE;
    const FrameSize& size = kFrameSizes[index];
    *type = CreateMediaTypeCopy(DefaultTypeOfSize(size).get());
    if (!*type)
        return E_OUTOFMEMORY;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    caps.guid = FORMAT_VideoInfo;
    caps.VideoStandard = 0; // AnalogVideo_None
    caps.InputSize = caps.MinCroppingSize = caps.MaxCroppingSize = {size.width, size.height};
    caps.MinOutputSize = caps.MaxOutputSize = {size.width, size.height};
    caps.CropGranularityX = caps.CropGranularityY = 1;
    caps.CropAlignX = caps.CropAlignY = 1;
    caps.OutputGranularityX = caps.OutputGranularityY = 0;
    caps.MinFrameInterval = kMinFrameInterval;
    caps.MaxFrameInterval = kMaxFrameInterval;
    const LONG frameBits = Rgb24Stride(size.width) * size.height * 8;
    caps.MinBitsPerSecond = frameBits * kMinFramesPerSecond;
    caps.MaxBitsPerSecond = frameBits * kMaxFramesPerSecond;
    std::memcpy(capsBytes, &caps, sizeof(caps));
    return S_OK;
}

// --- connection ------------------------------------------------------------------------------

STDMETHODIMP CapturePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
    if (!receivePin)
        return E_POINTER;
    {
        std::lock_guard guard(lock_);
        if (connectedPin_)
            return VFW_E_ALREADY_CONNECTED;
    }
    if (filter_.state() != State_Stopped)
        return VFW_E_NOT_STOPPED;

    // A complete type asked for by the caller is tried as it is, or not at all.
    if (type && type->formattype != GUID_NULL && type->pbFormat) {
        if (!IsSupportedType(*type))
            return VFW_E_TYPE_NOT_ACCEPTED;
        MediaType wanted;
        CopyMediaType(wanted.get(), *type);
        return TryConnect(receivePin, wanted.get());
    }
    for (const MediaType& offered : OfferedTypes()) {
        if (type && !MatchesPartialType(*type, offered.get()))
            continue;
        if (SUCCEEDED(TryConnect(receivePin, offered.get())))
            return S_OK;
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CapturePin::TryConnect(IPin* receivePin, const AM_MEDIA_TYPE& type) {
    HRESULT hr = receivePin->QueryAccept(&type);
    if (hr != S_OK)
        return VFW_E_TYPE_NOT_ACCEPTED;
    {
        std::lock_guard guard(lock_);
        connectedPin_ = receivePin;
        connectionType_.clear();
        CopyMediaType(connectionType_.get(), type);
    }
    hr = receivePin->ReceiveConnection(this, &type);
    if (SUCCEEDED(hr)) {
        ComPtr<IMemInputPin> input;
        hr = receivePin->QueryInterface(IID_PPV_ARGS(&input));
        if (SUCCEEDED(hr))
            hr = DecideAllocator(input.Get(), type);
        if (SUCCEEDED(hr)) {
            std::lock_guard guard(lock_);
            connectedInput_ = input;
            return S_OK;
        }
        receivePin->Disconnect();
    }
    ReleaseConnection();
    return hr;
}

HRESULT CapturePin::DecideAllocator(IMemInputPin* input, const AM_MEDIA_TYPE& type) {
    ALLOCATOR_PROPERTIES wanted{};
    input->GetAllocatorRequirements(&wanted); // optional for the input pin
    wanted.cBuffers = std::max(wanted.cBuffers, kBufferCount);
    wanted.cbBuffer = std::max(wanted.cbBuffer, static_cast<long>(type.lSampleSize));
    wanted.cbAlign = std::max(wanted.cbAlign, 1L);
    wanted.cbPrefix = std::max(wanted.cbPrefix, 0L);

    auto tryAllocator = [&](IMemAllocator* allocator) {
        ALLOCATOR_PROPERTIES actual{};
        HRESULT hr = allocator->SetProperties(&wanted, &actual);
        if (SUCCEEDED(hr) && actual.cbBuffer < static_cast<long>(type.lSampleSize))
            hr = E_FAIL;
        if (SUCCEEDED(hr))
            hr = input->NotifyAllocator(allocator, FALSE);
        return hr;
    };

    ComPtr<IMemAllocator> allocator;
    if (SUCCEEDED(input->GetAllocator(&allocator)) && SUCCEEDED(tryAllocator(allocator.Get()))) {
        std::lock_guard guard(lock_);
        allocator_ = allocator;
        return S_OK;
    }
    allocator.Reset();
    HRESULT hr =
        CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&allocator));
    if (SUCCEEDED(hr))
        hr = tryAllocator(allocator.Get());
    if (FAILED(hr))
        return hr;
    std::lock_guard guard(lock_);
    allocator_ = allocator;
    return S_OK;
}

void CapturePin::ReleaseConnection() {
    std::lock_guard guard(lock_);
    connectedPin_.Reset();
    connectedInput_.Reset();
    allocator_.Reset();
    connectionType_.clear();
}

bool CapturePin::IsConnected() {
    std::lock_guard guard(lock_);
    return connectedPin_ != nullptr;
}

STDMETHODIMP CapturePin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) {
    return E_UNEXPECTED; // an output pin only connects outwards
}

STDMETHODIMP CapturePin::Disconnect() {
    if (filter_.state() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (!IsConnected())
        return S_FALSE;
    ComPtr<IMemAllocator> allocator;
    {
        std::lock_guard guard(lock_);
        allocator = allocator_;
    }
    if (allocator)
        allocator->Decommit();
    ReleaseConnection();
    return S_OK;
}

STDMETHODIMP CapturePin::ConnectedTo(IPin** pin) {
    if (!pin)
        return E_POINTER;
    std::lock_guard guard(lock_);
    *pin = connectedPin_.Get();
    if (!*pin)
        return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
}

STDMETHODIMP CapturePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
    if (!type)
        return E_POINTER;
    std::lock_guard guard(lock_);
    if (!connectedPin_) {
        *type = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(*type, connectionType_.get());
}

STDMETHODIMP CapturePin::QueryPinInfo(PIN_INFO* info) {
    if (!info)
        return E_POINTER;
    *info = PIN_INFO{};
    info->pFilter = &filter_;
    filter_.AddRef();
    info->dir = PINDIR_OUTPUT;
    lstrcpynW(info->achName, kPinName, MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP CapturePin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction)
        return E_POINTER;
    *direction = PINDIR_OUTPUT;
    return S_OK;
}

STDMETHODIMP CapturePin::QueryId(LPWSTR* id) {
    if (!id)
        return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(kPinName)));
    if (!*id)
        return E_OUTOFMEMORY;
    std::memcpy(*id, kPinName, sizeof(kPinName));
    return S_OK;
}

STDMETHODIMP CapturePin::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (!type)
        return E_POINTER;
    return IsSupportedType(*type) ? S_OK : S_FALSE;
}

STDMETHODIMP CapturePin::EnumMediaTypes(IEnumMediaTypes** enumerator) {
    if (!enumerator)
        return E_POINTER;
    *enumerator = new (std::nothrow) MediaTypeEnumerator(OfferedTypes());
    return *enumerator ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CapturePin::QueryInternalConnections(IPin**, ULONG*) {
    return E_NOTIMPL;
}
STDMETHODIMP CapturePin::EndOfStream() {
    return E_UNEXPECTED;
}
STDMETHODIMP CapturePin::BeginFlush() {
    return E_UNEXPECTED;
}
STDMETHODIMP CapturePin::EndFlush() {
    return E_UNEXPECTED;
}
STDMETHODIMP CapturePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {
    return S_OK;
}

// --- IKsPropertySet -------------------------------------------------------------------------

STDMETHODIMP CapturePin::Set(REFGUID, DWORD, void*, DWORD, void*, DWORD) {
    return E_NOTIMPL;
}

STDMETHODIMP CapturePin::Get(REFGUID propertySet, DWORD id, void*, DWORD, void* data, DWORD dataSize,
                             DWORD* returned) {
    if (propertySet != AMPROPSETID_Pin)
        return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (returned)
        *returned = sizeof(GUID);
    if (!data) // the caller asks for the size only
        return returned ? S_OK : E_POINTER;
    if (dataSize < sizeof(GUID))
        return E_UNEXPECTED;
    *static_cast<GUID*>(data) = PIN_CATEGORY_CAPTURE;
    return S_OK;
}

STDMETHODIMP CapturePin::QuerySupported(REFGUID propertySet, DWORD id, DWORD* support) {
    if (propertySet != AMPROPSETID_Pin)
        return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (support)
        *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

// --- streaming -------------------------------------------------------------------------------

HRESULT CapturePin::StartStreaming(IReferenceClock* clock) {
    ComPtr<IMemAllocator> allocator;
    {
        std::lock_guard guard(lock_);
        allocator = allocator_;
    }
    if (!allocator)
        return S_OK; // unconnected: nothing to deliver
    HRESULT hr = allocator->Commit();
    if (FAILED(hr))
        return hr;
    clock_ = clock;
    stopRequested_ = false;
    running_ = false;
    ResetEvent(wakeEvent_.get());
    // Opened, or created when no one has unplugged the camera yet, so that a later unplug reaches us.
    unplugEvent_.reset(CreateEventW(nullptr, TRUE, FALSE, UnplugEventName(filter_.cameraName()).c_str()));
    scene_.Open(filter_.cameraName());
    thread_.reset(CreateThread(nullptr, 0, &CapturePin::StreamingThreadMain, this, 0, &threadId_));
    if (!thread_) {
        allocator->Decommit();
        return HRESULT_FROM_WIN32(GetLastError());
    }
    return S_OK;
}

void CapturePin::SetRunning(bool running, REFERENCE_TIME startTime) {
    startTime_ = startTime;
    running_ = running;
    SetEvent(wakeEvent_.get());
}

void CapturePin::StopStreaming() {
    running_ = false;
    if (!thread_)
        return;
    stopRequested_ = true;
    SetEvent(wakeEvent_.get());
    // Decommitting first wakes a thread blocked in GetBuffer; it fails there and sees the stop.
    ComPtr<IMemAllocator> allocator;
    {
        std::lock_guard guard(lock_);
        allocator = allocator_;
    }
    if (allocator)
        allocator->Decommit();
    if (GetCurrentThreadId() != threadId_)
        WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
    threadId_ = 0;
    clock_.Reset();
}

DWORD WINAPI CapturePin::StreamingThreadMain(void* parameter) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    static_cast<CapturePin*>(parameter)->StreamingLoop();
    CoUninitialize();
    return 0;
}

void CapturePin::StreamingLoop() {
    // Fixed while streaming: Disconnect and SetFormat need the filter stopped.
    ComPtr<IMemAllocator> allocator;
    ComPtr<IMemInputPin> input;
    MediaType type;
    {
        std::lock_guard guard(lock_);
        allocator = allocator_;
        input = connectedInput_;
        type = connectionType_;
    }
    const VIDEOINFOHEADER* info = type.videoInfo();
    if (!allocator || !input || !info)
        return;
    const REFERENCE_TIME frameInterval =
        info->AvgTimePerFrame ? info->AvgTimePerFrame : kDefaultFrameInterval;
    PatternRenderer renderer(info->bmiHeader.biWidth, info->bmiHeader.biHeight, filter_.cameraName());

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const int64_t ticksPerFrame = frequency.QuadPart * frameInterval / kUnitsPerSecond;
    int64_t nextDue = 0;
    bool wasRunning = false;
    bool discontinuity = true;
    REFERENCE_TIME streamTimeWithoutClock = 0;

    while (!stopRequested_) {
        if (DeviceLost() || !running_) { // in this order: a paused filter notices an unplug too
            wasRunning = false;
            WaitForWake(INFINITE);
            continue;
        }
        const int64_t now = PerformanceCounterNow();
        if (!wasRunning) {
            wasRunning = true;
            discontinuity = true;
            nextDue = now;
        }
        if (now < nextDue) {
            const DWORD waitMs = static_cast<DWORD>((nextDue - now) * 1000 / frequency.QuadPart);
            WaitForWake(std::max<DWORD>(waitMs, 1));
            continue;
        }
        // Late by more than a frame (a slow consumer): skip ahead rather than burst.
        nextDue = now - nextDue > ticksPerFrame ? now + ticksPerFrame : nextDue + ticksPerFrame;
        const DWORD scene = scene_.Current();
        if (scene & kSceneSilent)
            continue;

        ComPtr<IMediaSample> sample;
        if (FAILED(allocator->GetBuffer(&sample, nullptr, nullptr, 0)))
            continue; // decommitted: a stop is under way
        // Unplugged while this thread waited for the buffer.
        if (DeviceLost())
            continue;
        BYTE* buffer = nullptr;
        if (FAILED(sample->GetPointer(&buffer)) ||
            sample->GetSize() < static_cast<long>(renderer.imageSize()))
            continue;
        if (scene & kSceneStill)
            renderer.RenderScene(scene, buffer);
        else
            renderer.Render(framesDelivered_, buffer);
        sample->SetActualDataLength(static_cast<long>(renderer.imageSize()));

        REFERENCE_TIME start = streamTimeWithoutClock;
        REFERENCE_TIME clockNow = 0;
        if (clock_ && SUCCEEDED(clock_->GetTime(&clockNow)))
            start = clockNow - startTime_;
        REFERENCE_TIME stop = start + frameInterval;
        streamTimeWithoutClock += frameInterval;
        sample->SetTime(&start, &stop);
        LONGLONG mediaStart = static_cast<LONGLONG>(framesDelivered_), mediaStop = mediaStart + 1;
        sample->SetMediaTime(&mediaStart, &mediaStop);
        sample->SetSyncPoint(TRUE);
        sample->SetDiscontinuity(discontinuity);
        discontinuity = false;
        ++framesDelivered_;
        input->Receive(sample.Get());
    }
}

bool CapturePin::DeviceLost() {
    if (deviceLost_)
        return true;
    if (!unplugEvent_ || WaitForSingleObject(unplugEvent_.get(), 0) != WAIT_OBJECT_0)
        return false;
    deviceLost_ = true;
    filter_.ReportDeviceLost();
    return true;
}

void CapturePin::WaitForWake(DWORD timeoutMs) {
    if (deviceLost_ || !unplugEvent_) {
        WaitForSingleObject(wakeEvent_.get(), timeoutMs);
        return;
    }
    const HANDLE events[] = {wakeEvent_.get(), unplugEvent_.get()};
    WaitForMultipleObjects(static_cast<DWORD>(std::size(events)), events, FALSE, timeoutMs);
}

} // namespace lumetra::testcam

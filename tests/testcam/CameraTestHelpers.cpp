#include "CameraTestHelpers.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace lumetra::test {

namespace {

// A property bag in memory, to receive what a filter saves.
class MemoryPropertyBag : public IPropertyBag {
  public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IPropertyBag) {
            *object = static_cast<IPropertyBag*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        auto found = strings_.find(name);
        if (found == strings_.end())
            return E_INVALIDARG;
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString(found->second.c_str());
        return S_OK;
    }
    STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) override {
        if (value->vt != VT_BSTR)
            return E_INVALIDARG;
        strings_[name] = value->bstrVal ? value->bstrVal : L"";
        return S_OK;
    }
    std::map<std::wstring, std::wstring> strings_;
};

} // namespace

std::vector<ListedDevice> ListVideoInputDevices() {
    std::vector<ListedDevice> devices;
    ComPtr<ICreateDevEnum> enumerator;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&enumerator))))
        return devices;
    ComPtr<IEnumMoniker> monikers;
    if (enumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK || !monikers)
        return devices;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK && moniker) {
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag))))
            continue;
        ScopedVariant name, classId;
        name.get()->vt = VT_BSTR;
        classId.get()->vt = VT_BSTR;
        if (FAILED(bag->Read(L"FriendlyName", name.get(), nullptr)) || name.get()->vt != VT_BSTR)
            continue;
        ListedDevice device;
        device.friendlyName = name.get()->bstrVal;
        if (SUCCEEDED(bag->Read(L"CLSID", classId.get(), nullptr)) && classId.get()->vt == VT_BSTR)
            device.classIdParsed = CLSIDFromString(classId.get()->bstrVal, &device.classId) == S_OK;
        devices.push_back(device);
    }
    return devices;
}

bool IsListed(const std::vector<ListedDevice>& devices, const std::wstring& name) {
    return std::any_of(devices.begin(), devices.end(),
                       [&](const ListedDevice& device) { return device.friendlyName == name; });
}

ComPtr<IBaseFilter> BindCamera(const std::wstring& name) {
    ComPtr<ICreateDevEnum> enumerator;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&enumerator))))
        return nullptr;
    ComPtr<IEnumMoniker> monikers;
    if (enumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK || !monikers)
        return nullptr;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK && moniker) {
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag))))
            continue;
        ScopedVariant friendlyName;
        friendlyName.get()->vt = VT_BSTR;
        if (FAILED(bag->Read(L"FriendlyName", friendlyName.get(), nullptr)) ||
            friendlyName.get()->vt != VT_BSTR || name != friendlyName.get()->bstrVal)
            continue;
        ComPtr<IBaseFilter> filter;
        if (SUCCEEDED(moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&filter))))
            return filter;
    }
    return nullptr;
}

std::wstring CameraNameOf(IBaseFilter* camera) {
    ComPtr<IPersistPropertyBag> persist;
    if (!camera || FAILED(camera->QueryInterface(IID_PPV_ARGS(&persist))))
        return {};
    MemoryPropertyBag bag;
    if (FAILED(persist->Save(&bag, FALSE, TRUE)))
        return {};
    return bag.strings_[L"FriendlyName"];
}

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins)))
        return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION pinDirection;
        if (SUCCEEDED(pin->QueryDirection(&pinDirection)) && pinDirection == direction)
            return pin;
    }
    return nullptr;
}

STDMETHODIMP FrameCollector::QueryInterface(REFIID iid, void** object) {
    if (iid == IID_IUnknown || iid == IID_ISampleGrabberCB) {
        *object = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP FrameCollector::SampleCB(double, IMediaSample* sample) {
    lastThreadId_ = GetCurrentThreadId();
    BYTE* data = nullptr;
    if (SUCCEEDED(sample->GetPointer(&data))) {
        std::lock_guard guard(lock_);
        latest_.assign(data, data + sample->GetActualDataLength());
        if (holdSamples_)
            held_.emplace_back(sample);
    }
    ++frames_;
    return S_OK;
}

STDMETHODIMP FrameCollector::BufferCB(double, BYTE* buffer, long length) {
    lastThreadId_ = GetCurrentThreadId();
    {
        std::lock_guard guard(lock_);
        latest_.assign(buffer, buffer + length);
    }
    ++frames_;
    return S_OK;
}

std::vector<BYTE> FrameCollector::latestFrame() {
    std::lock_guard guard(lock_);
    return latest_;
}

bool FrameCollector::WaitForFrames(long count, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (frames_ < count) {
        if (GetTickCount64() > deadline)
            return false;
        Sleep(10);
    }
    return true;
}

void FrameCollector::ReleaseHeldSamples() {
    std::lock_guard guard(lock_);
    held_.clear();
}

HRESULT GrabberGraph::Build(const std::wstring& cameraName, FrameCollector& collector, long callbackKind) {
    ComPtr<IBaseFilter> bound = BindCamera(cameraName);
    if (!bound)
        return VFW_E_NOT_FOUND;
    return BuildWith(bound, collector, callbackKind);
}

HRESULT GrabberGraph::BuildWith(ComPtr<IBaseFilter> boundCamera, FrameCollector& collector,
                                long callbackKind) {
    camera = std::move(boundCamera);
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph));
    if (SUCCEEDED(hr))
        hr = graph.As(&control);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&grabberFilter));
    if (SUCCEEDED(hr))
        hr = grabberFilter.As(&grabber);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&renderer));
    if (FAILED(hr))
        return hr;
    AM_MEDIA_TYPE wanted{};
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = MEDIASUBTYPE_RGB24;
    if (FAILED(hr = grabber->SetMediaType(&wanted)) ||
        FAILED(hr = grabber->SetCallback(&collector, callbackKind)) ||
        FAILED(hr = graph->AddFilter(camera.Get(), L"Camera")) ||
        FAILED(hr = graph->AddFilter(grabberFilter.Get(), L"Grabber")) ||
        FAILED(hr = graph->AddFilter(renderer.Get(), L"Renderer")))
        return hr;
    auto cameraOut = FirstPin(camera.Get(), PINDIR_OUTPUT);
    auto grabberIn = FirstPin(grabberFilter.Get(), PINDIR_INPUT);
    auto grabberOut = FirstPin(grabberFilter.Get(), PINDIR_OUTPUT);
    auto rendererIn = FirstPin(renderer.Get(), PINDIR_INPUT);
    if (!cameraOut || !grabberIn || !grabberOut || !rendererIn)
        return E_FAIL;
    if (FAILED(hr = graph->ConnectDirect(cameraOut.Get(), grabberIn.Get(), nullptr)))
        return hr;
    return graph->ConnectDirect(grabberOut.Get(), rendererIn.Get(), nullptr);
}

HRESULT GrabberGraph::Run() {
    HRESULT hr = control->Run();
    if (FAILED(hr))
        return hr;
    OAFilterState state = State_Stopped;
    hr = control->GetState(5000, &state);
    return SUCCEEDED(hr) && state == State_Running ? S_OK : E_FAIL;
}

HRESULT GrabberGraph::Stop() {
    return control ? control->Stop() : S_OK;
}

void GrabberGraph::Release() {
    renderer.Reset();
    grabber.Reset();
    grabberFilter.Reset();
    camera.Reset();
    control.Reset();
    graph.Reset();
}

std::vector<DWORD> ProcessThreadIds() {
    std::vector<DWORD> ids;
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot)
        return ids;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ids.push_back(entry.th32ThreadID);
    return ids;
}

bool ThreadExists(DWORD threadId) {
    const auto ids = ProcessThreadIds();
    return std::find(ids.begin(), ids.end(), threadId) != ids.end();
}

} // namespace lumetra::test

#include "TestCamFilter.h"

#include "Enumerators.h"

#include <cstring>
#include <new>

namespace lumetra::testcam {

namespace {

LPWSTR CoTaskStringCopy(const std::wstring& text) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (copy)
        std::memcpy(copy, text.c_str(), bytes);
    return copy;
}

} // namespace

TestCamFilter::TestCamFilter() : pin_(*this) {}

TestCamFilter::~TestCamFilter() {
    // A graph normally stops its filters before releasing them; make sure the thread is gone anyway.
    pin_.StopStreaming();
}

HRESULT TestCamFilter::Create(REFIID iid, void** object) {
    auto* filter = new (std::nothrow) TestCamFilter;
    if (!filter)
        return E_OUTOFMEMORY;
    const HRESULT hr = filter->QueryInterface(iid, object);
    filter->Release();
    return hr;
}

STDMETHODIMP TestCamFilter::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter || iid == IID_IBaseFilter)
        *object = static_cast<IBaseFilter*>(this);
    else if (iid == IID_IPersistPropertyBag)
        *object = static_cast<IPersistPropertyBag*>(this);
    else if (iid == IID_IAMFilterMiscFlags)
        *object = static_cast<IAMFilterMiscFlags*>(this);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) TestCamFilter::AddRef() {
    return ++referenceCount_;
}

STDMETHODIMP_(ULONG) TestCamFilter::Release() {
    const ULONG count = --referenceCount_;
    if (count == 0)
        delete this;
    return count;
}

STDMETHODIMP TestCamFilter::GetClassID(CLSID* classId) {
    if (!classId)
        return E_POINTER;
    *classId = kClsidTestCamera;
    return S_OK;
}

STDMETHODIMP TestCamFilter::Stop() {
    std::lock_guard transition(transitionLock_);
    {
        std::lock_guard guard(lock_);
        if (state_ == State_Stopped)
            return S_OK;
        state_ = State_Stopped;
    }
    pin_.StopStreaming();
    return S_OK;
}

STDMETHODIMP TestCamFilter::Pause() {
    std::lock_guard transition(transitionLock_);
    return PauseLocked();
}

HRESULT TestCamFilter::PauseLocked() {
    FILTER_STATE previous;
    ComPtr<IReferenceClock> clock;
    {
        std::lock_guard guard(lock_);
        previous = state_;
        clock = clock_;
    }
    if (previous == State_Stopped) {
        const HRESULT hr = pin_.StartStreaming(clock.Get());
        if (FAILED(hr))
            return hr;
    } else if (previous == State_Running) {
        pin_.SetRunning(false, 0);
    }
    std::lock_guard guard(lock_);
    state_ = State_Paused;
    return S_OK;
}

STDMETHODIMP TestCamFilter::Run(REFERENCE_TIME startTime) {
    std::lock_guard transition(transitionLock_);
    if (state() == State_Stopped) {
        const HRESULT hr = PauseLocked();
        if (FAILED(hr))
            return hr;
    }
    pin_.SetRunning(true, startTime);
    std::lock_guard guard(lock_);
    state_ = State_Running;
    return S_OK;
}

STDMETHODIMP TestCamFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    std::lock_guard guard(lock_);
    *state = state_;
    // A live source has no data to cue while paused.
    return state_ == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP TestCamFilter::SetSyncSource(IReferenceClock* clock) {
    std::lock_guard guard(lock_);
    clock_ = clock;
    return S_OK;
}

STDMETHODIMP TestCamFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock)
        return E_POINTER;
    std::lock_guard guard(lock_);
    *clock = clock_.Get();
    if (*clock)
        (*clock)->AddRef();
    return S_OK;
}

STDMETHODIMP TestCamFilter::EnumPins(IEnumPins** enumerator) {
    if (!enumerator)
        return E_POINTER;
    *enumerator =
        new (std::nothrow) PinEnumerator(static_cast<IBaseFilter*>(this), {static_cast<IPin*>(&pin_)});
    return *enumerator ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP TestCamFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin)
        return E_POINTER;
    if (std::wcscmp(id, L"Capture") != 0) {
        *pin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    *pin = &pin_;
    pin_.AddRef();
    return S_OK;
}

STDMETHODIMP TestCamFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info)
        return E_POINTER;
    std::lock_guard guard(lock_);
    *info = FILTER_INFO{};
    lstrcpynW(info->achName, graphName_.c_str(), MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_)
        graph_->AddRef();
    return S_OK;
}

STDMETHODIMP TestCamFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    std::lock_guard guard(lock_);
    graph_ = graph;
    graphName_ = name ? name : L"";
    return S_OK;
}

STDMETHODIMP TestCamFilter::QueryVendorInfo(LPWSTR* vendorInfo) {
    if (!vendorInfo)
        return E_POINTER;
    *vendorInfo = CoTaskStringCopy(L"Lumetra test-pattern camera");
    return *vendorInfo ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP TestCamFilter::InitNew() {
    return S_OK;
}

STDMETHODIMP TestCamFilter::Load(IPropertyBag* bag, IErrorLog* errorLog) {
    if (!bag)
        return E_POINTER;
    ScopedVariant name;
    name.get()->vt = VT_BSTR;
    if (SUCCEEDED(bag->Read(L"FriendlyName", name.get(), errorLog)) && name.get()->vt == VT_BSTR &&
        name.get()->bstrVal) {
        std::lock_guard guard(lock_);
        cameraName_ = name.get()->bstrVal;
    }
    return S_OK;
}

STDMETHODIMP TestCamFilter::Save(IPropertyBag* bag, BOOL, BOOL) {
    if (!bag)
        return E_POINTER;
    ScopedVariant name;
    name.get()->vt = VT_BSTR;
    name.get()->bstrVal = SysAllocString(cameraName().c_str());
    if (!name.get()->bstrVal)
        return E_OUTOFMEMORY;
    return bag->Write(L"FriendlyName", name.get());
}

STDMETHODIMP_(ULONG) TestCamFilter::GetMiscFlags() {
    return AM_FILTER_MISC_FLAGS_IS_SOURCE;
}

FILTER_STATE TestCamFilter::state() {
    std::lock_guard guard(lock_);
    return state_;
}

std::wstring TestCamFilter::cameraName() {
    std::lock_guard guard(lock_);
    return cameraName_;
}

IFilterGraph* TestCamFilter::graph() {
    std::lock_guard guard(lock_);
    return graph_;
}

void TestCamFilter::ReportDeviceLost() {
    ComPtr<IMediaEventSink> sink;
    if (IFilterGraph* filterGraph = graph();
        !filterGraph || FAILED(filterGraph->QueryInterface(IID_PPV_ARGS(&sink))))
        return;
    // param1 the filter that stands for the device, param2 0: removed (1 would be arrived).
    sink->Notify(EC_DEVICE_LOST,
                 reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(static_cast<IBaseFilter*>(this))), 0);
}

} // namespace lumetra::testcam

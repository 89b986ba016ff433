#pragma once
// The test-pattern camera filter: a live video capture source with one output pin.

#include "CapturePin.h"
#include "TestCamCommon.h"

#include <mutex>
#include <string>

namespace lumetra::testcam {

class TestCamFilter final : public IBaseFilter, public IPersistPropertyBag, public IAMFilterMiscFlags {
  public:
    static HRESULT Create(REFIID iid, void** object);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPersist (shared by IBaseFilter and IPersistPropertyBag)
    STDMETHODIMP GetClassID(CLSID* classId) override;

    // IMediaFilter
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME startTime) override;
    STDMETHODIMP GetState(DWORD timeout, FILTER_STATE* state) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;

    // IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** enumerator) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* vendorInfo) override;

    // IPersistPropertyBag: the device moniker hands over the registration's FriendlyName.
    STDMETHODIMP InitNew() override;
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* errorLog) override;
    STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

    // IAMFilterMiscFlags
    STDMETHODIMP_(ULONG) GetMiscFlags() override;

    // For the pin.
    FILTER_STATE state();
    std::wstring cameraName();
    IFilterGraph* graph(); // not referenced: the graph owns the filter
    // Tells the graph, through its IMediaEventSink, that the device has gone (EC_DEVICE_LOST).
    void ReportDeviceLost();

  private:
    TestCamFilter();
    ~TestCamFilter();
    HRESULT PauseLocked(); // with transitionLock_ held

    ModuleObject moduleObject_;
    std::atomic<ULONG> referenceCount_{1};
    std::mutex transitionLock_; // serialises state changes
    std::mutex lock_;           // the fields below
    FILTER_STATE state_ = State_Stopped;
    ComPtr<IReferenceClock> clock_;
    IFilterGraph* graph_ = nullptr;
    std::wstring graphName_;
    std::wstring cameraName_ = kDefaultCameraName;
    CapturePin pin_;
};

} // namespace lumetra::testcam

#pragma once
// The camera's one output pin: capture category, RGB24 formats, allocator negotiation and the
// streaming thread that delivers the pattern.

#include "Scene.h"
#include "TestCamCommon.h"
#include "framework/Handles.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace lumetra::testcam {

class TestCamFilter;

class CapturePin : public IPin, public IKsPropertySet, public IAMStreamConfig {
  public:
    explicit CapturePin(TestCamFilter& filter);
    ~CapturePin();

    // IUnknown: the pin lives and dies with its filter.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPin
    STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** enumerator) override;
    STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // IKsPropertySet
    STDMETHODIMP Set(REFGUID propertySet, DWORD id, void* instanceData, DWORD instanceSize, void* data,
                     DWORD dataSize) override;
    STDMETHODIMP Get(REFGUID propertySet, DWORD id, void* instanceData, DWORD instanceSize, void* data,
                     DWORD dataSize, DWORD* returned) override;
    STDMETHODIMP QuerySupported(REFGUID propertySet, DWORD id, DWORD* support) override;

    // IAMStreamConfig
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* type) override;
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** type) override;
    STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
    STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;

    // Called by the filter on its state changes, under its transition lock.
    HRESULT StartStreaming(IReferenceClock* clock); // stopped -> paused
    void SetRunning(bool running, REFERENCE_TIME startTime);
    void StopStreaming(); // -> stopped; returns once the streaming thread has ended
    bool IsConnected();

  private:
    // The types this pin offers now: the configured one, or every capability.
    std::vector<MediaType> OfferedTypes();
    bool IsSupportedType(const AM_MEDIA_TYPE& type) const;
    HRESULT TryConnect(IPin* receivePin, const AM_MEDIA_TYPE& type);
    HRESULT DecideAllocator(IMemInputPin* input, const AM_MEDIA_TYPE& type);
    void ReleaseConnection();
    static DWORD WINAPI StreamingThreadMain(void* parameter);
    void StreamingLoop();
    // Whether the camera has been unplugged; the first time it sees so, the graph is told.
    bool DeviceLost();
    // Sleeps until woken by a state change, an unplug not yet seen, or the timeout.
    void WaitForWake(DWORD timeoutMs);

    TestCamFilter& filter_;
    std::mutex lock_; // connection fields and the configured format
    ComPtr<IPin> connectedPin_;
    ComPtr<IMemInputPin> connectedInput_;
    ComPtr<IMemAllocator> allocator_;
    MediaType connectionType_;
    MediaType configuredType_; // empty until SetFormat

    // Streaming thread and what it reads; fixed while the thread runs except for the atomics.
    UniqueHandle thread_;
    DWORD threadId_ = 0;
    UniqueHandle wakeEvent_;
    UniqueHandle unplugEvent_;            // set while the camera of this name is unplugged
    SceneControl scene_;                  // what a test asked this camera to show
    std::atomic<bool> deviceLost_{false}; // once unplugged, this filter never delivers again
    ComPtr<IReferenceClock> clock_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> running_{false};
    std::atomic<REFERENCE_TIME> startTime_{0};
    uint64_t framesDelivered_ = 0; // pattern frame counter, kept across runs
};

} // namespace lumetra::testcam

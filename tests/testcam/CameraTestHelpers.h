#pragma once
// Helpers shared by the test-pattern camera tests: the device category, binding by name and a
// Sample Grabber callback that keeps what it saw.

#include <dshow.h>
#include <qedit.h>

#include <cguid.h>

#include "TestCameras.h"
#include "framework/Handles.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace lumetra::test {

// Missing from MinGW's headers.
inline constexpr CLSID kClsidSampleGrabber = {
    0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
inline constexpr CLSID kClsidNullRenderer = {
    0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
// The camera filter's class, as registered by the DLL.
inline constexpr CLSID kClsidTestCamera = {
    0x9358a95a, 0xcd75, 0x45cd, {0xa1, 0x1a, 0x7e, 0x43, 0x29, 0x04, 0xa8, 0x67}};

struct ListedDevice {
    std::wstring friendlyName;
    CLSID classId{};
    bool classIdParsed = false;
};

// Every device of the video input category with its FriendlyName and CLSID.
std::vector<ListedDevice> ListVideoInputDevices();
bool IsListed(const std::vector<ListedDevice>& devices, const std::wstring& name);
// Binds the first device of this friendly name.
ComPtr<IBaseFilter> BindCamera(const std::wstring& name);
// The camera's own friendly name, read through IPersistPropertyBag::Save.
std::wstring CameraNameOf(IBaseFilter* camera);
ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction);

// Counts frames and keeps a copy of the latest one.
class FrameCollector : public ISampleGrabberCB {
  public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; } // lives on the test's stack
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double time, IMediaSample* sample) override;
    STDMETHODIMP BufferCB(double time, BYTE* buffer, long length) override;

    long frames() const { return frames_; }
    DWORD lastThreadId() const { return lastThreadId_; }
    std::vector<BYTE> latestFrame();
    // Waits until at least count frames arrived; false on timeout.
    bool WaitForFrames(long count, DWORD timeoutMs);
    // SampleCB mode: hold on to every sample instead of letting it go (to starve the allocator).
    void HoldSamples(bool hold) { holdSamples_ = hold; }
    void ReleaseHeldSamples();

  private:
    std::atomic<long> frames_{0};
    std::atomic<DWORD> lastThreadId_{0};
    std::atomic<bool> holdSamples_{false};
    std::mutex lock_;
    std::vector<BYTE> latest_;
    std::vector<ComPtr<IMediaSample>> held_;
};

// Filter Graph Manager + camera -> Sample Grabber (RGB24) -> Null Renderer, connected directly.
struct GrabberGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> camera;
    ComPtr<IBaseFilter> grabberFilter;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IBaseFilter> renderer;

    // callbackKind: 0 = SampleCB, 1 = BufferCB.
    HRESULT Build(const std::wstring& cameraName, FrameCollector& collector, long callbackKind = 1);
    HRESULT BuildWith(ComPtr<IBaseFilter> boundCamera, FrameCollector& collector, long callbackKind = 1);
    HRESULT Run(); // waits until running
    HRESULT Stop();
    void Release();
};

// Threads of this process.
std::vector<DWORD> ProcessThreadIds();
bool ThreadExists(DWORD threadId);

} // namespace lumetra::test

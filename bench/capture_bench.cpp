// Capture layer figures: CPU share and private memory of 1, 4 and 20 running test cameras at their
// default 640x480, 15 frames per second, with nothing saved; and the time from RequestFrame to the
// session window's WM_FRAME_READY. Then 4 and 20 cameras with a picture size chosen (640x480,
// 1280x720, 1920x1080, each at its highest rate, 30 frames per second), measured in the same run
// and given as ratios to the default's figures for as many cameras.
//
// Run under Wine with LUMETRA_BUILD_DIR set to the build directory (for the test camera DLL).

#include "BenchClock.h"
#include "capture/CameraSlots.h"
#include "capture/CaptureGraph.h"

#include "TestCameras.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace lumetra;

using lumetra::bench::Median;
using lumetra::bench::Now;

namespace {

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& time) {
        return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

double PrivateMegabytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof counters);
    // Wine leaves PrivateUsage at 0; its PagefileUsage counts the same private commit.
    const SIZE_T bytes = counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
    return bytes / (1024.0 * 1024.0);
}

void Pump(double seconds) {
    const double end = Now() + seconds;
    MSG message;
    while (Now() < end) {
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageA(&message);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

// When the frame of the request in flight was announced, or 0.
double frameReadyAt = 0.0;
int frameReadyIndex = -1;

LRESULT CALLBACK SessionProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_FRAME_READY) {
        const int cameraIndex = static_cast<int>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        FrameReadLock frame(cameraIndex);
        if (frame.holdsFrame() && cameraIndex == frameReadyIndex)
            frameReadyAt = Now();
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

// Counts the frames a graph delivers on their way to the slot's own callback.
class CountingCallback : public ISampleGrabberCB {
  public:
    explicit CountingCallback(ISampleGrabberCB& slotCallback) : slotCallback_(slotCallback) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, IID_ISampleGrabberCB) || IsEqualIID(iid, IID_IUnknown)) {
            *object = static_cast<ISampleGrabberCB*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double, IMediaSample*) override { return S_OK; }
    STDMETHODIMP BufferCB(double sampleTime, BYTE* buffer, LONG length) override {
        frames.fetch_add(1, std::memory_order_relaxed);
        return slotCallback_.BufferCB(sampleTime, buffer, length);
    }
    std::atomic<long> frames{0};

  private:
    ISampleGrabberCB& slotCallback_;
};

struct Session {
    HWND window = nullptr;
    HWND host = nullptr;
    CaptureGraph graph;
    std::unique_ptr<CountingCallback> counter;
    ~Session() {
        graph.TearDown();
        ::DestroyWindow(window);
    }
};

// The counter goes in while the graph is stopped, as the grabber's callback may not change under
// a running stream.
bool CountFrames(Session& session, int cameraIndex) {
    ComPtr<IMediaControl> control;
    if (FAILED(session.graph.graph()->QueryInterface(IID_IMediaControl,
                                                     reinterpret_cast<void**>(control.GetAddressOf()))))
        return false;
    control->Stop();
    session.counter = std::make_unique<CountingCallback>(CameraSlotAt(cameraIndex).callback);
    return SUCCEEDED(session.graph.grabber()->SetCallback(session.counter.get(), 1)) &&
           SUCCEEDED(control->Run());
}

struct Figures {
    double cpuShare = 0;        // of one core
    double graphMemory = 0;     // MB the graphs added
    double framesPerCamera = 0; // per second, as delivered
};

std::optional<Figures> Run(test::TestCameras& cameras, int cameraCount, std::optional<PictureSize> size) {
    ResetCameraSlots();
    std::vector<std::unique_ptr<test::ScopedTestCamera>> registered;
    std::vector<std::unique_ptr<Session>> sessions;
    const double memoryBefore = PrivateMegabytes();
    for (int i = 0; i < cameraCount; ++i) {
        registered.push_back(
            std::make_unique<test::ScopedTestCamera>(cameras, "Bench Cam " + std::to_string(i + 1)));
        auto session = std::make_unique<Session>();
        session->window =
            ::CreateWindowA("CaptureBenchSession", "Live View", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10 + 20 * i,
                            10 + 20 * i, 680, 520, nullptr, nullptr, nullptr, nullptr);
        session->host = ::CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE | SS_BLACKRECT | WS_CLIPCHILDREN,
                                        13, 8, 640, 480, session->window, nullptr, nullptr, nullptr);
        const int cameraIndex = AcquireFreeSlot();
        ::SetWindowLongPtrA(session->window, GWLP_USERDATA, cameraIndex);
        BindSlotToWindow(cameraIndex, session->window);
        session->graph.UsePictureSize(size);
        if (!session->graph.Build(registered.back()->name().c_str(), cameraIndex, session->host) ||
            session->graph.AppliedSize() != size || !CountFrames(*session, cameraIndex)) {
            std::printf("graph %d did not run at the size asked for\n", i + 1);
            return std::nullopt;
        }
        sessions.push_back(std::move(session));
    }
    Pump(2.0); // settle

    // Running, nothing requested.
    long framesBefore = 0;
    for (const auto& session : sessions)
        framesBefore += session->counter->frames.load();
    const double wallStart = Now();
    const double cpuStart = ProcessCpuSeconds();
    Pump(8.0);
    const double wall = Now() - wallStart;
    const double cpuShare = (ProcessCpuSeconds() - cpuStart) / wall;
    long frames = -framesBefore;
    for (const auto& session : sessions)
        frames += session->counter->frames.load();
    const double memory = PrivateMegabytes();
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);

    // Request to announcement, round the cameras.
    std::vector<double> latencies;
    int unanswered = 0;
    for (int request = 0; request < 40; ++request) {
        const int cameraIndex = request % cameraCount;
        frameReadyIndex = cameraIndex;
        frameReadyAt = 0.0;
        const double requestedAt = Now();
        RequestFrame(cameraIndex, "Z:\\tmp\\capture-bench.jpg");
        const double deadline = requestedAt + 2.0;
        MSG message;
        while (frameReadyAt == 0.0 && Now() < deadline) {
            while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                ::DispatchMessageA(&message);
            if (frameReadyAt == 0.0)
                ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLPOSTMESSAGE);
        }
        if (frameReadyAt == 0.0)
            ++unanswered;
        else
            latencies.push_back((frameReadyAt - requestedAt) * 1000.0);
        Pump(0.15); // past the streaming thread's pause after the copy
    }
    std::sort(latencies.begin(), latencies.end());
    const double median = latencies.empty() ? 0.0 : latencies[latencies.size() / 2];
    const double worst = latencies.empty() ? 0.0 : latencies.back();
    const double framesPerCamera = frames / wall / cameraCount;
    std::printf("%2d camera(s) at %-9s: CPU %5.1f %% of one core (%4.1f %% of %lu cores), private memory "
                "%6.1f MB (+%6.1f MB for the graphs), %4.1f frames/s per camera; RequestFrame -> "
                "WM_FRAME_READY median %5.1f ms, worst %5.1f ms (%zu answered, %d unanswered)\n",
                cameraCount, size ? PictureSizeText(size).c_str() : "default", cpuShare * 100.0,
                cpuShare * 100.0 / system.dwNumberOfProcessors, system.dwNumberOfProcessors, memory,
                memory - memoryBefore, framesPerCamera, median, worst, latencies.size(), unanswered);
    std::fflush(stdout);
    sessions.clear();
    for (int i = 0; i < cameraCount; ++i)
        ReleaseSlot(i);
    return Figures{cpuShare, memory - memoryBefore, framesPerCamera};
}

} // namespace

int main() {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &SessionProcedure;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "CaptureBenchSession";
    ::RegisterClassA(&windowClass);
    {
        test::TestCameras cameras;
        if (!cameras.loaded()) {
            std::printf("lumetra_testcam.dll not found: set LUMETRA_BUILD_DIR to the build directory\n");
            return 1;
        }
        std::printf("Capture, test cameras at their default 640x480, 15 frames per second\n");
        std::map<int, Figures> byDefault;
        for (int cameraCount : {1, 4, 20})
            if (const auto figures = Run(cameras, cameraCount, std::nullopt))
                byDefault[cameraCount] = *figures;
        std::printf("\nCapture, picture size chosen, at its highest rate (30 frames per second)\n");
        struct Ratio {
            int cameraCount;
            PictureSize size;
            Figures figures;
        };
        std::vector<Ratio> ratios;
        for (const PictureSize size :
             {PictureSize{640, 480}, PictureSize{1280, 720}, PictureSize{1920, 1080}})
            for (int cameraCount : {4, 20})
                if (const auto figures = Run(cameras, cameraCount, size))
                    ratios.push_back({cameraCount, size, *figures});
        std::printf("\nAgainst the default 640x480 at 15 frames per second, as many cameras:\n");
        for (const Ratio& ratio : ratios) {
            const Figures& base = byDefault[ratio.cameraCount];
            std::printf("%2d cameras at %-9s: CPU x %5.2f, graph memory x %5.2f, frames/s x %4.2f\n",
                        ratio.cameraCount, PictureSizeText(ratio.size).c_str(),
                        base.cpuShare > 0 ? ratio.figures.cpuShare / base.cpuShare : 0.0,
                        base.graphMemory > 0 ? ratio.figures.graphMemory / base.graphMemory : 0.0,
                        base.framesPerCamera > 0 ? ratio.figures.framesPerCamera / base.framesPerCamera
                                                 : 0.0);
        }
    }
    ::CoUninitialize();
    return 0;
}

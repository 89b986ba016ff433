// Capture layer figures: CPU share and private memory of 1, 4 and 20 running test cameras at
// 640x480, 15 frames per second, with nothing saved; and the time from RequestFrame to the session
// window's WM_FRAME_READY.
//
// Run under Wine with LUMETRA_BUILD_DIR set to the build directory (for the test camera DLL).

#include "BenchClock.h"
#include "capture/CameraSlots.h"
#include "capture/CaptureGraph.h"

#include "TestCameras.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <memory>
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

struct Session {
    HWND window = nullptr;
    HWND host = nullptr;
    CaptureGraph graph;
    ~Session() {
        graph.TearDown();
        ::DestroyWindow(window);
    }
};

void Run(test::TestCameras& cameras, int cameraCount) {
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
        if (!session->graph.Build(registered.back()->name().c_str(), cameraIndex, session->host)) {
            std::printf("graph %d did not run\n", i + 1);
            return;
        }
        sessions.push_back(std::move(session));
    }
    Pump(2.0); // settle

    // Running, nothing requested.
    const double wallStart = Now();
    const double cpuStart = ProcessCpuSeconds();
    Pump(8.0);
    const double cpuShare = (ProcessCpuSeconds() - cpuStart) / (Now() - wallStart);
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
    std::printf("%2d camera(s): CPU %5.1f %% of one core (%4.1f %% of %lu cores), private memory %6.1f MB "
                "(+%5.1f MB for the graphs); RequestFrame -> WM_FRAME_READY median %5.1f ms, worst %5.1f ms "
                "(%zu answered, %d unanswered)\n",
                cameraCount, cpuShare * 100.0, cpuShare * 100.0 / system.dwNumberOfProcessors,
                system.dwNumberOfProcessors, memory, memory - memoryBefore, median, worst, latencies.size(),
                unanswered);
    std::fflush(stdout);
    sessions.clear();
    for (int i = 0; i < cameraCount; ++i)
        ReleaseSlot(i);
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
        std::printf("Capture, test cameras at 640x480, 15 frames per second\n");
        for (int cameraCount : {1, 4, 20})
            Run(cameras, cameraCount);
    }
    ::CoUninitialize();
    return 0;
}

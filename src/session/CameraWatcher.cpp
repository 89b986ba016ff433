#include "session/CameraWatcher.h"

#include "capture/CameraSlots.h"
#include "capture/DeviceList.h"
#include "framework/EventLog.h"

namespace lumetra {

namespace {
// A running camera that delivers nothing for this long counts as lost.
constexpr ULONGLONG FrameSilenceMs = 5000;
// How often a lost camera is looked for in the device list: every second at first (a cable pulled
// and put back), then every four, which still reopens it within five seconds of its return but reads
// the device list less (Wine keeps a registry handle for every device entry read).
constexpr ULONGLONG DeviceCheckMs = 1000;
constexpr ULONGLONG SlowDeviceCheckMs = 4000;
constexpr ULONGLONG FastDeviceChecksForMs = 30000;
} // namespace

CameraWatcher::CameraWatcher(CaptureGraph& graph, std::function<void()> whenLost,
                             std::function<void()> whenBack)
    : graph_(graph), whenLost_(std::move(whenLost)), whenBack_(std::move(whenBack)) {}

void CameraWatcher::Watch(const std::string& cameraName, int cameraIndex, HWND videoHost) {
    if (!IsValidCameraIndex(cameraIndex))
        return;
    const ULONGLONG now = ::GetTickCount64();
    if (!lost_) {
        if (!graph_.running())
            return; // never started: nothing to watch
        const ULONGLONG lastFrame = CameraSlotAt(cameraIndex).lastFrameTick.load(std::memory_order_relaxed);
        const bool deviceGone = graph_.TakeDeviceLost();
        if (!deviceGone && now - lastFrame <= FrameSilenceMs)
            return;
        lost_ = true;
        rebuildFailureLogged_ = false;
        graph_.TearDown();
        // The frame asked for will not come; the camera, once back, is asked afresh.
        CameraSlotAt(cameraIndex).frameWanted.store(0, std::memory_order_release);
        LogEvent(cameraName,
                 deviceGone ? "camera lost (the device went away)" : "camera lost (no picture for 5 s)");
        lostSince_ = now;
        nextDeviceCheck_ = now + DeviceCheckMs;
        whenLost_();
        return;
    }
    if (now < nextDeviceCheck_)
        return;
    nextDeviceCheck_ = now + (now - lostSince_ < FastDeviceChecksForMs ? DeviceCheckMs : SlowDeviceCheckMs);
    if (!IsCaptureDeviceListed(cameraName.c_str()))
        return;
    // Same window, slot and settings; no box when nobody is there to answer it.
    if (!graph_.Build(cameraName.c_str(), cameraIndex, videoHost, CaptureGraph::Failures::Quiet)) {
        if (!rebuildFailureLogged_)
            LogEvent(cameraName, "camera listed again, but it did not start: " + graph_.LastFailure());
        rebuildFailureLogged_ = true;
        graph_.TearDown();
        return;
    }
    lost_ = false;
    LogEvent(cameraName, "camera back");
    whenBack_();
}

} // namespace lumetra

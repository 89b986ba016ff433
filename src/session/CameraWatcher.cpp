#include "session/CameraWatcher.h"

#include "capture/CameraSlots.h"
#include "capture/DeviceList.h"
#include "framework/EventLog.h"

#include <algorithm>

namespace lumetra {

namespace {
// A running camera that delivers nothing for this long counts as lost.
constexpr ULONGLONG FrameSilenceMs = 5000;

MillisecondsClock lookClock = [] { return ::GetTickCount64(); };

// How long a lost camera waits before its next look at the device list, once it has looked for
// `lookingForMs`: every second at first (a cable pulled and put back), every four seconds for the
// first five minutes, then a second longer for every ten seconds more, up to a minute (from about
// fourteen minutes on). A camera that comes back is found within a minute, while one gone for a
// month reads the list some 43,000 times rather than 650,000: Wine keeps a registry handle for
// every device entry read.
ULONGLONG WaitBeforeNextLook(ULONGLONG lookingForMs) {
    constexpr ULONGLONG QuickLooksForMs = 30000;
    constexpr ULONGLONG SteadyLooksForMs = 5 * 60000;
    if (lookingForMs < QuickLooksForMs)
        return 1000;
    if (lookingForMs < SteadyLooksForMs)
        return 4000;
    return std::min<ULONGLONG>(60000, 4000 + (lookingForMs - SteadyLooksForMs) / 10);
}
} // namespace

void SetDeviceLookClock(MillisecondsClock clock) {
    lookClock = clock ? std::move(clock) : MillisecondsClock([] { return ::GetTickCount64(); });
}

CameraWatcher::CameraWatcher(CaptureGraph& graph, std::function<void()> whenLost,
                             std::function<void()> whenBack)
    : graph_(graph), whenLost_(std::move(whenLost)), whenBack_(std::move(whenBack)) {}

void CameraWatcher::DeviceArrived() {
    if (!lost_)
        return;
    // Looked at from the next tick rather than here: the system waits for every window it tells.
    lookingSince_ = nextDeviceCheck_ = lookClock();
}

void CameraWatcher::Watch(const std::string& cameraName, int cameraIndex, HWND videoHost) {
    if (!IsValidCameraIndex(cameraIndex))
        return;
    if (!lost_) {
        if (!graph_.running())
            return; // never started: nothing to watch
        const ULONGLONG lastFrame = CameraSlotAt(cameraIndex).lastFrameTick.load(std::memory_order_relaxed);
        const bool deviceGone = graph_.TakeDeviceLost();
        if (!deviceGone && ::GetTickCount64() - lastFrame <= FrameSilenceMs)
            return;
        lost_ = true;
        startFailureLogged_ = false;
        TearDownGraph(cameraIndex);
        LogEvent(cameraName,
                 deviceGone ? "camera lost (the device went away)" : "camera lost (no picture for 5 s)");
        lookingSince_ = lookClock();
        nextDeviceCheck_ = lookingSince_ + WaitBeforeNextLook(0);
        whenLost_();
        return;
    }
    if (startedAgainAt_ != 0) {
        WaitForFirstPicture(cameraName, cameraIndex);
        return;
    }
    const ULONGLONG now = lookClock();
    if (now < nextDeviceCheck_)
        return;
    nextDeviceCheck_ = now + WaitBeforeNextLook(now - lookingSince_);
    ++deviceListReads_;
    if (!IsCaptureDeviceListed(cameraName.c_str()))
        return;
    // Same window, slot and settings; no box when nobody is there to answer it.
    if (!graph_.Build(cameraName.c_str(), cameraIndex, videoHost, CaptureGraph::Failures::Quiet)) {
        if (!startFailureLogged_)
            LogEvent(cameraName, "camera listed again, but it did not start: " + graph_.LastFailure());
        startFailureLogged_ = true;
        graph_.TearDown();
        return;
    }
    startedAgainAt_ = ::GetTickCount64();
}

// A camera started again is back with its first picture. One that starts and sends nothing (a stalled
// device) stays lost and is looked for at the pace its looks had reached: counted back at every start,
// it would be lost again 5 s later and read the list every few seconds for as long as it stalls, and
// its trouble would never last long enough for a mail.
void CameraWatcher::WaitForFirstPicture(const std::string& cameraName, int cameraIndex) {
    const ULONGLONG lastFrame = CameraSlotAt(cameraIndex).lastFrameTick.load(std::memory_order_relaxed);
    const bool deviceGone = graph_.TakeDeviceLost();
    if (!deviceGone && lastFrame > startedAgainAt_) {
        startedAgainAt_ = 0;
        lost_ = false;
        LogEvent(cameraName, "camera back");
        whenBack_();
        return;
    }
    if (!deviceGone && ::GetTickCount64() - startedAgainAt_ <= FrameSilenceMs)
        return;
    startedAgainAt_ = 0;
    if (!startFailureLogged_)
        LogEvent(cameraName, "camera listed again, but it sent no picture for 5 s");
    startFailureLogged_ = true;
    TearDownGraph(cameraIndex);
}

void CameraWatcher::TearDownGraph(int cameraIndex) {
    graph_.TearDown();
    // The frame asked for will not come; the camera, once back, is asked afresh.
    CameraSlotAt(cameraIndex).frameWanted.store(0, std::memory_order_release);
}

} // namespace lumetra

#pragma once
// Watching one open camera: a camera that stops delivering pictures (unplugged, or silent for 5 s)
// counts as lost and its graph is taken down; while lost, the device list is looked at, and once a
// device of its name is listed again the graph is built again in the same window, with the same
// slot and settings; the camera is back with its first picture. What the Live View shows about it is
// told through two callbacks.

#include "capture/CaptureGraph.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace lumetra {

class CameraWatcher {
  public:
    // `graph` is the camera's, which the watcher takes down and builds again.
    CameraWatcher(CaptureGraph& graph, std::function<void()> whenLost, std::function<void()> whenBack);

    // One look, at each tick of the camera timer.
    void Watch(const std::string& cameraName, int cameraIndex, HWND videoHost);
    // Windows announced a new video device: a lost camera looks at the device list at its next
    // Watch, and quickly again for a while, as in its first seconds lost.
    void DeviceArrived();
    // The camera stopped delivering and is waited for.
    bool Lost() const { return lost_; }
    // Times the device list was read while the camera was lost.
    std::uint64_t DeviceListReads() const { return deviceListReads_; }

  private:
    void WaitForFirstPicture(const std::string& cameraName, int cameraIndex);
    void TearDownGraph(int cameraIndex);

    CaptureGraph& graph_;
    std::function<void()> whenLost_;
    std::function<void()> whenBack_;
    bool lost_ = false;
    bool startFailureLogged_ = false; // a camera listed but failing to start is logged once
    // GetTickCount64 when the graph of a lost camera was built again; 0 while none waits for its
    // first picture.
    ULONGLONG startedAgainAt_ = 0;
    // On the look clock: since when the looks follow their schedule (lost, or a device arrived).
    ULONGLONG lookingSince_ = 0;
    ULONGLONG nextDeviceCheck_ = 0;
    std::uint64_t deviceListReads_ = 0;
};

// The clock a lost camera's looks at the device list are timed by, in milliseconds that only move
// forward; tests set one of their own. An empty clock restores GetTickCount64. (Frame silence is
// always timed by GetTickCount64, as the capture thread stamps frames with it.)
using MillisecondsClock = std::function<ULONGLONG()>;
void SetDeviceLookClock(MillisecondsClock clock);

} // namespace lumetra

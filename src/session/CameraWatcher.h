#pragma once
// Watching one open camera: a camera that stops delivering pictures (unplugged, or silent for 5 s)
// counts as lost and its graph is taken down; while lost, the device list is looked at, and once a
// device of its name is listed again the graph is built again in the same window, with the same
// slot and settings. What the Live View shows about it is told through two callbacks.

#include "capture/CaptureGraph.h"

#include <windows.h>

#include <functional>
#include <string>

namespace lumetra {

class CameraWatcher {
  public:
    // `graph` is the camera's, which the watcher takes down and builds again.
    CameraWatcher(CaptureGraph& graph, std::function<void()> whenLost, std::function<void()> whenBack);

    // One look, at each tick of the camera timer.
    void Watch(const std::string& cameraName, int cameraIndex, HWND videoHost);
    // The camera stopped delivering and is waited for.
    bool Lost() const { return lost_; }

  private:
    CaptureGraph& graph_;
    std::function<void()> whenLost_;
    std::function<void()> whenBack_;
    bool lost_ = false;
    bool rebuildFailureLogged_ = false; // a camera listed but failing to start is logged once
    ULONGLONG lostSince_ = 0;
    ULONGLONG nextDeviceCheck_ = 0;
};

} // namespace lumetra

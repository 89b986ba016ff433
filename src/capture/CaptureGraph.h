#pragma once
// One camera's DirectShow graph: capture filter -> Sample Grabber (the camera slot's callback) ->
// video renderer, whose window lives inside the session's video host control.

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include "capture/PictureSize.h"
#include "framework/Handles.h"

#include <optional>
#include <string>
#include <vector>

namespace lumetra {

class FrameGrabberCallback;

class CaptureGraph {
  public:
    CaptureGraph() = default;
    ~CaptureGraph() { TearDown(); }
    CaptureGraph(const CaptureGraph&) = delete;
    CaptureGraph& operator=(const CaptureGraph&) = delete;

    enum class Failures { Shown, Quiet };
    // Builds, connects and runs the graph for the device named cameraName, with the grabber calling
    // back into slot cameraIndex and the preview inside videoHost. Each failure ends the build and
    // is shown in an "Error!" box where it happens, or only kept in LastFailure() when quiet (a
    // camera rebuilt with nobody watching); what was built stays until TearDown. A graph that does
    // not start at the picture size asked for is built once more at the device's default size.
    // Returns true when the graph runs.
    bool Build(const char* cameraName, int cameraIndex, HWND videoHost, Failures failures = Failures::Shown);
    const std::string& LastFailure() const { return lastFailure_; }
    // The size the next builds ask of the capture pin; none leaves the camera at its default. A
    // size the device does not offer, or refuses, leaves it at its default too, with a log line.
    void UsePictureSize(std::optional<PictureSize> size) { wantedSize_ = size; }
    // What the device's capture pin offered at the last build, smallest first; read before the
    // graph connected, so asking never touches a running graph.
    const std::vector<OfferedPictureSize>& OfferedSizes() const { return offeredSizes_; }
    // The size set on the capture pin at the last build; none when the camera runs at its default.
    std::optional<PictureSize> AppliedSize() const { return appliedSize_; }
    // Whether the graph reported its device lost (EC_DEVICE_LOST) since the last call; reads and
    // drops the graph's pending events.
    bool TakeDeviceLost();
    // Stops the graph, detaches the video window from the host and releases graph and grabber.
    void TearDown();
    // The session window was resized: the host keeps its margins inside its parent, and the video
    // window fills the host.
    void ResizeVideo();

    bool running() const { return running_; }
    IGraphBuilder* graph() const { return graph_.Get(); }
    ISampleGrabber* grabber() const { return grabber_.Get(); }

  private:
    struct BuildParts;
    // The build at `size` (none: the device's default), one step after the other; each step shows
    // (or keeps) its own failure.
    bool BuildSteps(const char* cameraName, int cameraIndex, std::optional<PictureSize> size,
                    Failures failures);
    bool CreateGraph();
    bool AddCaptureFilter(const char* cameraName, BuildParts& parts);
    bool AddGrabber(BuildParts& parts);
    bool MakeBuilder(BuildParts& parts);
    // Reads the sizes offered and sets the wanted one; never fails the build.
    bool ApplyPictureSize(const char* cameraName, const BuildParts& parts);
    bool AddNullRendererForVideoPort(BuildParts& parts);
    bool Connect(const BuildParts& parts);
    bool ReadFrameSize(const char* cameraName, FrameGrabberCallback& callback);
    bool InstallCallback(FrameGrabberCallback& callback);
    bool PlacePreview();
    bool RunGraph();
    // Shows the failure in an "Error!" box (or only keeps it, when quiet); returns false.
    bool Fail(const char* message);

    ComPtr<IGraphBuilder> graph_;
    ComPtr<ISampleGrabber> grabber_;
    HWND videoHost_ = nullptr;
    // The host's distance from its parent's right and bottom edges when the graph was built.
    int hostRightMargin_ = 0;
    int hostBottomMargin_ = 0;
    bool running_ = false;
    Failures failures_ = Failures::Shown;
    std::string lastFailure_;
    std::optional<PictureSize> wantedSize_;
    std::optional<PictureSize> appliedSize_;
    std::vector<OfferedPictureSize> offeredSizes_;
};

} // namespace lumetra

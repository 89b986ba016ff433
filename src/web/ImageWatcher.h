#pragma once
// Watches Lumetra's blocks and the files they name, on a thread of its own, and keeps the hub's
// status up to date: the path of the first block and every camera of the roster, each followed by a
// PublishedPath.

#include "web/CameraFolders.h"
#include "web/CameraRosterReader.h"
#include "web/ImageHub.h"
#include "web/MirrorBlockReader.h"
#include "web/PublishedPath.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace lumetra::web {

class ImageWatcher {
  public:
    using Clock = std::chrono::steady_clock;

    explicit ImageWatcher(std::shared_ptr<ImageHub> hub);
    ~ImageWatcher() { Stop(); }
    ImageWatcher(const ImageWatcher&) = delete;
    ImageWatcher& operator=(const ImageWatcher&) = delete;

    void Start();
    void Stop();

  private:
    struct WatchedCamera {
        CameraStatus status;
        PublishedPath path;
    };

    void Run();
    void Poll(Clock::time_point now);
    void PollMirror(Clock::time_point now);
    void PollRoster(Clock::time_point now);
    void SetMirrorStatus(PublicationState state, std::string message);
    FileRead ReadFile(const std::wstring& path);

    std::shared_ptr<ImageHub> hub_;
    MirrorBlockReader block_;
    CameraRosterReader roster_;
    CameraFolders folders_;
    std::thread thread_;
    std::atomic<bool> stop_{false};

    ServiceStatus next_; // what the hub is given after each poll
    // The files read in this poll: Lumetra names each image in both blocks, and it is read once.
    std::vector<std::pair<std::wstring, FileRead>> readThisPoll_;
    bool sawPath_ = false;
    Clock::time_point noPathSince_{};
    std::uint64_t mirrorImageCount_ = 0;
    PublishedPath mirror_{mirrorImageCount_};
    Clock::time_point unsettledSince_{}; // of the roster block
    std::uint64_t cameraImageCount_ = 0; // shared by every camera: one may leave and come back
    std::vector<WatchedCamera> cameras_; // in the roster's order
};

} // namespace lumetra::web

#pragma once
// Watches Lumetra's block and the file it names, on a thread of its own, and keeps the hub's status
// up to date: a new image as soon as the named file is completely written, a plain sentence for
// everything else.

#include "web/CameraFolders.h"
#include "web/ImageHub.h"
#include "web/MirrorBlockReader.h"
#include "web/PublishedFile.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

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
    void Run();
    void Poll(Clock::time_point now);
    void Evaluate(Clock::time_point now);
    void Publish(PublicationState state, std::string message, std::shared_ptr<const ServedImage> image);

    std::shared_ptr<ImageHub> hub_;
    MirrorBlockReader block_;
    CameraFolders folders_;
    std::thread thread_;
    std::atomic<bool> stop_{false};

    bool sawPath_ = false;
    Clock::time_point noPathSince_{};
    std::wstring path_;             // the path the block names
    Clock::time_point changedAt_{}; // when it was published, or its file last changed
    FileStamp lastStamp_{};         // of the named file at the last look
    bool haveStamp_ = false;
    bool settled_ = false;                     // the file with lastStamp_ was judged for good
    std::shared_ptr<const ServedImage> image_; // the newest image read
    std::uint64_t imageCount_ = 0;
};

} // namespace lumetra::web

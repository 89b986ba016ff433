#pragma once
// What the service knows about the newest published image, shared between the thread that watches
// Lumetra's block and the threads that answer clients. Every state is an immutable snapshot; the
// hub swaps them and wakes whoever waits for a change (streams, long polls).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace lumetra::web {

// An image as read from disk, checked to be a JPEG.
struct ServedImage {
    std::string bytes;
    std::string path;           // UTF-8
    std::string name;           // the file name part of path
    std::uint64_t sequence = 0; // 1, 2, ... for each new image the service read
    std::string modifiedIso;    // the file's last write time, "2026-01-31T12:00:00Z"
    std::string lastModified;   // the same as an HTTP date
    std::string etag;           // quoted
};

enum class PublicationState {
    Waiting,  // no block, or nothing published in it yet
    Pending,  // the named file is not (completely) written yet
    Ready,    // the named file is served
    Refused,  // the named path is not one the service reads
    Missing,  // the named file does not exist
    Unusable, // the named file exists but is no JPEG, or cannot be read
};
const char* StateName(PublicationState state);

struct ServiceStatus {
    PublicationState state = PublicationState::Waiting;
    std::string message;   // a plain sentence for every state but Ready
    std::string published; // UTF-8 path the block names now; empty when none
    // The image /latest.jpg serves: the one named when Ready, the previous one while the named file
    // is still being written, none otherwise.
    std::shared_ptr<const ServedImage> image;
    std::uint64_t sequence = 0; // set by the hub: changes with every change of the fields above
};

class ImageHub {
  public:
    ImageHub();

    std::shared_ptr<const ServiceStatus> Current() const;
    // Takes the status when it differs from the current one, and wakes every waiter.
    void Update(ServiceStatus status);
    // Waits until the status sequence is no longer `seen`, the deadline passes or the hub stops;
    // returns the status then.
    std::shared_ptr<const ServiceStatus> WaitForChange(std::uint64_t seen,
                                                       std::chrono::steady_clock::time_point deadline) const;
    void Stop();
    bool Stopped() const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::shared_ptr<const ServiceStatus> current_;
    bool stopped_ = false;
};

} // namespace lumetra::web

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
#include <string_view>
#include <vector>

namespace lumetra {
enum class CameraHealth; // delivery/CameraRoster.h, kept out of here with the Windows headers it needs
}

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

// What the service makes of one published path: the one of Lumetra's first block, or a camera's.
struct ImageStatus {
    PublicationState state = PublicationState::Waiting;
    std::string message;   // a plain sentence for every state but Ready
    std::string published; // UTF-8 path named now; empty when none
    // The image served: the one named when Ready, the previous one while the named file is still
    // being written, none otherwise.
    std::shared_ptr<const ServedImage> image;

    bool operator==(const ImageStatus&) const = default;
};

// A camera of the roster block: its health as Lumetra reports it, and its image as the service
// judges it.
struct CameraStatus : ImageStatus {
    std::string name;          // UTF-8
    CameraHealth health{};     // Live
    std::string reason;        // why its saves fail, while Failing
    std::int64_t lastSave = 0; // seconds since 1970 (UTC), 0 for never
    std::int64_t lastFailure = 0;
    std::string lastFailureReason;

    bool operator==(const CameraStatus&) const = default;
};

// The fields of ImageStatus are those of the first block's path (/latest.jpg, /stream.mjpg).
struct ServiceStatus : ImageStatus {
    std::vector<CameraStatus> cameras; // in the roster's order; empty without a roster
    std::uint64_t sequence = 0;        // set by the hub: changes with every change of the fields above

    const CameraStatus* FindCamera(std::string_view name) const;
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

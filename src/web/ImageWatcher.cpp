#include "web/ImageWatcher.h"

#include <cstdio>

namespace lumetra::web {
namespace {

using namespace std::chrono_literals;

// A path can be named before its file is complete (a writer may publish first); a file still missing
// or unfinished this long after it was named (or last changed) is reported as it is.
constexpr auto kWriteGrace = 3s;
// A file that begins as a JPEG but never gets its end marker is served once it stops changing.
constexpr auto kSettleTime = 1s;
constexpr auto kPollInterval = 10ms;
// While a named file is being written, it is looked at more often: it is served the moment it is done.
constexpr auto kPendingPollInterval = 2ms;
constexpr auto kAbsentPollInterval = 200ms;

const char kNotStarted[] = "Waiting for Lumetra: it is not running, or has not started yet.";
const char kNothingPublished[] =
    "Waiting for Lumetra: no image has been published yet. Tick \"Mirror file path to HTTP service\" in a "
    "camera's CAM ACTION window and save an image.";
const char kNoPathAnyMore[] = "Lumetra's shared memory names no image any more.";

std::string EntityTag(const std::string& bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : bytes)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char text[48];
    std::snprintf(text, sizeof text, "\"%016llx-%llx\"", static_cast<unsigned long long>(hash),
                  static_cast<unsigned long long>(bytes.size()));
    return text;
}

} // namespace

ImageWatcher::ImageWatcher(std::shared_ptr<ImageHub> hub) : hub_(std::move(hub)) {}

void ImageWatcher::Start() {
    if (!thread_.joinable())
        thread_ = std::thread([this] { Run(); });
}

void ImageWatcher::Stop() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void ImageWatcher::Run() {
    while (!stop_) {
        Poll(Clock::now());
        const PublicationState state = hub_->Current()->state;
        std::this_thread::sleep_for(state == PublicationState::Pending                ? kPendingPollInterval
                                    : state == PublicationState::Waiting && !sawPath_ ? kAbsentPollInterval
                                                                                      : kPollInterval);
    }
}

void ImageWatcher::Publish(PublicationState state, std::string message,
                           std::shared_ptr<const ServedImage> image) {
    ServiceStatus status;
    status.state = state;
    status.message = std::move(message);
    status.published = state == PublicationState::Waiting ? std::string() : Utf8(path_);
    status.image = std::move(image);
    hub_->Update(std::move(status));
}

void ImageWatcher::Poll(Clock::time_point now) {
    // The cameras' folders changed: the file served now is judged again.
    if (folders_.Refresh())
        settled_ = false;
    std::wstring path;
    switch (block_.Read(path)) {
    case BlockContent::Absent:
        Publish(PublicationState::Waiting, kNotStarted, nullptr);
        return;
    case BlockContent::Unsettled:
        return;
    case BlockContent::NoPath:
        if (!sawPath_) {
            Publish(PublicationState::Waiting, kNothingPublished, nullptr);
            return;
        }
        // Lumetra clears the block before each write, so a short moment without a path is a write.
        if (noPathSince_ == Clock::time_point{})
            noPathSince_ = now;
        if (now - noPathSince_ > kSettleTime)
            Publish(PublicationState::Waiting, kNoPathAnyMore, nullptr);
        return;
    case BlockContent::Path:
        break;
    }
    sawPath_ = true;
    noPathSince_ = {};
    if (path != path_) {
        path_ = std::move(path);
        changedAt_ = now;
        haveStamp_ = false;
        settled_ = false;
    }
    Evaluate(now);
}

void ImageWatcher::Evaluate(Clock::time_point now) {
    const std::string shown = Utf8(path_);
    if (const auto refusal = RefusalOf(path_)) {
        Publish(PublicationState::Refused,
                "The published path " + shown + " is not served: " + *refusal + ".", nullptr);
        return;
    }
    const bool young = now - changedAt_ < kWriteGrace;
    const auto pending = [&] {
        const std::size_t slash = shown.find_last_of('\\');
        Publish(PublicationState::Pending,
                "Waiting for Lumetra to finish writing " +
                    shown.substr(slash == std::string::npos ? 0 : slash + 1) + ".",
                image_);
    };
    const auto unusable = [&](const std::string& why) {
        Publish(PublicationState::Unusable, "The published file " + shown + " " + why + ".", nullptr);
    };

    const FileRead look = StampOf(path_);
    if (look.check == FileCheck::Missing) {
        haveStamp_ = false;
        if (young)
            pending();
        else
            Publish(PublicationState::Missing, "The published image " + shown + " does not exist.", nullptr);
        return;
    }
    if (look.check == FileCheck::Folder)
        return unusable("is a folder, not an image file");
    if (look.check == FileCheck::Unreadable)
        return young ? pending() : unusable("cannot be read: " + SystemMessage(look.systemError));

    if (!haveStamp_ || look.stamp != lastStamp_) {
        lastStamp_ = look.stamp;
        haveStamp_ = true;
        settled_ = false;
        changedAt_ = now;
    }
    if (settled_)
        return;

    FileRead read = ReadPublishedFile(path_, folders_);
    if (read.stamp != lastStamp_ && read.check != FileCheck::Unreadable)
        return; // changed while being read: look again at the next poll
    switch (read.check) {
    case FileCheck::Unfinished:
        if (now - changedAt_ < kSettleTime || read.bytes.size() < 3)
            return young ? pending() : unusable("is not a JPEG image");
        [[fallthrough]];
    case FileCheck::Jpeg: {
        const std::string etag = EntityTag(read.bytes);
        settled_ = true;
        // Judged again as it was (the cameras' folders changed): not a new image for the streams.
        if (image_ && image_->path == shown && image_->etag == etag &&
            image_->lastModified == HttpDate(read.stamp.lastWrite))
            return Publish(PublicationState::Ready, {}, image_);
        auto image = std::make_shared<ServedImage>();
        image->etag = etag;
        image->bytes = std::move(read.bytes);
        image->path = shown;
        const std::size_t slash = shown.find_last_of('\\');
        image->name = shown.substr(slash == std::string::npos ? 0 : slash + 1);
        image->sequence = ++imageCount_;
        image->modifiedIso = IsoTime(read.stamp.lastWrite);
        image->lastModified = HttpDate(read.stamp.lastWrite);
        image_ = std::move(image);
        Publish(PublicationState::Ready, {}, image_);
        return;
    }
    case FileCheck::NotJpeg:
        settled_ = true;
        return unusable("is not a JPEG image");
    case FileCheck::Refused:
        settled_ = true;
        Publish(PublicationState::Refused,
                "The published path " + shown + " is not served: " + read.refusal + ".", nullptr);
        return;
    case FileCheck::TooLarge:
        settled_ = true;
        return unusable("is larger than 64 MB");
    case FileCheck::NotRegular:
        settled_ = true;
        return unusable("is not a regular file");
    case FileCheck::Folder:
        return unusable("is a folder, not an image file");
    case FileCheck::Missing:
        return; // removed a moment ago: the next poll tells
    case FileCheck::Unreadable:
        return young ? pending() : unusable("cannot be read: " + SystemMessage(read.systemError));
    }
}

} // namespace lumetra::web

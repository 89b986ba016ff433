#include "web/ImageWatcher.h"

#include <algorithm>

namespace lumetra::web {
namespace {

using namespace std::chrono_literals;

// Lumetra clears its first block before each write: a path missing this long is gone.
constexpr auto kNoPathTime = 1s;
// A roster still being written after this long is not being written: its writer left it so.
constexpr auto kUnsettledRosterTime = 2s;
constexpr auto kPollInterval = 10ms;
// While a named file is being written, it is looked at more often: it is served the moment it is done.
constexpr auto kPendingPollInterval = 2ms;
constexpr auto kAbsentPollInterval = 200ms;

const char kNotStarted[] = "Waiting for Lumetra: it is not running, or has not started yet.";
const char kNothingPublished[] =
    "Waiting for Lumetra: no image has been published yet. Tick \"Mirror file path to HTTP service\" in a "
    "camera's CAM ACTION window and save an image.";
const char kNoPathAnyMore[] = "Lumetra's shared memory names no image any more.";
const char kNoImageYet[] = "No image from this camera has been saved yet.";
// Lumetra rewrites its roster every 5 seconds: one that stands still three times as long was left
// behind by a Lumetra that no longer watches its cameras.
constexpr auto kRosterSilenceTime = 15s;
const char kLumetraSilent[] =
    "Waiting for Lumetra: it has not been heard from for 15 seconds, so nothing watches this camera now.";

} // namespace

ImageWatcher::ImageWatcher(std::shared_ptr<ImageHub> hub) : hub_(std::move(hub)) {}

void ImageWatcher::Start() {
    if (thread_.joinable())
        return;
    // The first look is taken before the service answers anyone: on a busy machine its thread may
    // start late, and a client must never get the empty status the hub begins with.
    Poll(Clock::now());
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
        const auto pending = [](const ImageStatus& status) {
            return status.state == PublicationState::Pending;
        };
        const bool idle = next_.state == PublicationState::Waiting && !sawPath_ && next_.cameras.empty();
        std::this_thread::sleep_for(pending(next_) ||
                                            std::any_of(next_.cameras.begin(), next_.cameras.end(), pending)
                                        ? kPendingPollInterval
                                    : idle ? kAbsentPollInterval
                                           : kPollInterval);
    }
}

void ImageWatcher::Poll(Clock::time_point now) {
    // The cameras' folders changed: the files served now are judged again.
    if (folders_.Refresh()) {
        mirror_.Rejudge();
        for (WatchedCamera& camera : cameras_)
            camera.path.Rejudge();
    }
    readThisPoll_.clear();
    PollMirror(now);
    PollRoster(now);
    hub_->Update(next_);
}

FileRead ImageWatcher::ReadFile(const std::wstring& path) {
    for (const auto& [readPath, read] : readThisPoll_)
        if (readPath == path)
            return read;
    FileRead read = ReadPublishedFile(path, folders_);
    readThisPoll_.emplace_back(path, read);
    return read;
}

void ImageWatcher::SetMirrorStatus(PublicationState state, std::string message) {
    static_cast<ImageStatus&>(next_) = ImageStatus{state, std::move(message), {}, nullptr};
}

void ImageWatcher::PollMirror(Clock::time_point now) {
    std::wstring path;
    switch (block_.Read(path)) {
    case BlockContent::Absent:
        return SetMirrorStatus(PublicationState::Waiting, kNotStarted);
    case BlockContent::Unsettled:
        return;
    case BlockContent::NoPath:
        if (!sawPath_)
            return SetMirrorStatus(PublicationState::Waiting, kNothingPublished);
        // Lumetra clears the block before each write, so a short moment without a path is a write.
        if (noPathSince_ == Clock::time_point{})
            noPathSince_ = now;
        if (now - noPathSince_ > kNoPathTime)
            SetMirrorStatus(PublicationState::Waiting, kNoPathAnyMore);
        return;
    case BlockContent::Path:
        break;
    }
    sawPath_ = true;
    noPathSince_ = {};
    mirror_.Name(path, now);
    if (auto status = mirror_.Look(now, [this](const std::wstring& path) { return ReadFile(path); }))
        static_cast<ImageStatus&>(next_) = std::move(*status);
}

void ImageWatcher::PollRoster(Clock::time_point now) {
    std::vector<RosterCamera> listed;
    const RosterContent content = roster_.Read(listed);
    if (content != RosterContent::Unsettled)
        unsettledSince_ = {};
    else if (unsettledSince_ == Clock::time_point{})
        unsettledSince_ = now;
    switch (content) {
    case RosterContent::Absent:
        cameras_.clear();
        break;
    case RosterContent::Unsettled:
        // The cameras as listed before, their files looked at all the same, for a while.
        if (now - unsettledSince_ > kUnsettledRosterTime)
            cameras_.clear();
        break;
    case RosterContent::Cameras: {
        std::vector<WatchedCamera> watched;
        watched.reserve(listed.size());
        for (RosterCamera& camera : listed) {
            // A camera listed before keeps what was read of its file.
            const auto before =
                std::find_if(cameras_.begin(), cameras_.end(),
                             [&](const WatchedCamera& known) { return known.status.name == camera.name; });
            if (before != cameras_.end())
                watched.push_back(std::move(*before));
            else
                watched.push_back({CameraStatus{}, PublishedPath(cameraImageCount_)});
            CameraStatus& status = watched.back().status;
            status.name = std::move(camera.name);
            status.health = camera.health;
            status.reason = std::move(camera.reason);
            status.lastSave = camera.lastSave;
            status.lastFailure = camera.lastFailure;
            status.lastFailureReason = std::move(camera.lastFailureReason);
            if (camera.image.empty())
                static_cast<ImageStatus&>(status) =
                    ImageStatus{PublicationState::Waiting, kNoImageYet, {}, nullptr};
            watched.back().path.Name(camera.image, now);
        }
        cameras_ = std::move(watched);
        break;
    }
    }
    next_.cameras.clear();
    const bool lumetraSilent = roster_.SilentFor(now) > kRosterSilenceTime;
    for (WatchedCamera& camera : cameras_) {
        if (!camera.path.Path().empty())
            if (auto status =
                    camera.path.Look(now, [this](const std::wstring& path) { return ReadFile(path); }))
                static_cast<ImageStatus&>(camera.status) = std::move(*status);
        next_.cameras.push_back(camera.status);
        if (lumetraSilent) {
            next_.cameras.back().health = CameraHealth::Waiting;
            next_.cameras.back().reason = kLumetraSilent;
        }
    }
}

} // namespace lumetra::web

#include "session/MotionWatcher.h"

#include <utility>

namespace lumetra {

namespace {
// A frame asked for and not come in this time is asked for again.
constexpr ULONGLONG FrameWaitMs = 1000;
// After a pause this long between looks, the background is learnt afresh: the scene may have
// changed meanwhile without anything moving.
constexpr ULONGLONG StaleBackgroundMs = 3000;
// A motion save that failed is tried again no sooner than this, as a failed timed save is.
constexpr ULONGLONG RetryMs = 1000;
} // namespace

bool MotionWatcher::WantsFrame(bool watching) {
    if (!watching) {
        if (watching_)
            Stop();
        return false;
    }
    watching_ = true;
    return !frameAsked_ || ::GetTickCount64() - askedAt_ >= FrameWaitMs;
}

void MotionWatcher::FrameAsked() {
    frameAsked_ = true;
    askedAt_ = ::GetTickCount64();
}

void MotionWatcher::Look(const BYTE* pixels, std::uint32_t byteCount, int width, int height, int pixelChange,
                         int shareTenths) {
    frameAsked_ = false;
    const ULONGLONG now = ::GetTickCount64();
    if (now - lastLook_ > StaleBackgroundMs)
        detector_.Reset();
    lastLook_ = now;
    const double share = detector_.Measure(pixels, byteCount, width, height, pixelChange);
    lastShare_ = share;
    found_ = share * 1000 > shareTenths;
}

bool MotionWatcher::TakeSaveDue(int gapSeconds) {
    if (!std::exchange(found_, false))
        return false;
    const ULONGLONG now = ::GetTickCount64();
    const ULONGLONG gapMs = static_cast<ULONGLONG>(gapSeconds) * 1000;
    return now >= retryAt_ && (lastSave_ == 0 || now - lastSave_ >= gapMs);
}

void MotionWatcher::Saved() {
    lastSave_ = ::GetTickCount64();
}

void MotionWatcher::SaveFailed() {
    lastSave_ = 0;
    retryAt_ = ::GetTickCount64() + RetryMs;
}

void MotionWatcher::Stop() {
    watching_ = false;
    frameAsked_ = false; // a frame still coming is only looked at by nobody
    detector_.Reset();
    lastLook_ = 0;
    lastShare_.reset();
    found_ = false;
}

} // namespace lumetra

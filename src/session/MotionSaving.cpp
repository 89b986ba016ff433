// Saving on motion. While "Save on Motion" is on, each tick of the camera timer asks the camera's
// slot for a frame to look at (so at most 5 a second); the frame is measured against the background
// while the slot holds it, on this thread, and a frame in which enough changed is followed by a save
// made as the schedule makes one: same name, same upload and mail, same guards.
#include "session/LiveView.h"

#include "capture/CameraSlots.h"
#include "session/CameraSchedule.h"
#include "settings/CamActionDialog.h"

#include <utility>

namespace lumetra {

namespace {
// A frame asked for and not come in this time is asked for again.
constexpr ULONGLONG MotionFrameWaitMs = 1000;
// After a pause this long between looks, the background is learnt afresh: the scene may have
// changed meanwhile without anything moving.
constexpr ULONGLONG StaleBackgroundMs = 3000;
// A motion save that failed is tried again no sooner than this, as a failed timed save is.
constexpr ULONGLONG MotionRetryMs = 1000;
} // namespace

void LiveView::AskForMotionFrame() {
    if (!MotionSaveOn || !actionDialog_ || watcher_.Lost() || !graph_.running()) {
        if (watchingMotion_)
            StopWatchingMotion();
        return;
    }
    watchingMotion_ = true;
    const ULONGLONG now = ::GetTickCount64();
    if (motionFrameAsked_ && now - motionAskedAt_ < MotionFrameWaitMs)
        return;
    // A save on its way brings a frame anyway, and the path it was armed with must stay.
    if (!pendingImage_ && !RequestFrameToView(cameraIndex))
        return;
    motionFrameAsked_ = true;
    motionAskedAt_ = now;
}

// Runs while the slot holds the frame: measuring only, nothing that could run a message loop.
void LiveView::LookForMotion(const BYTE* pixels, uint32_t byteCount, int width, int height) {
    motionFrameAsked_ = false;
    if (!MotionSaveOn || !actionDialog_)
        return;
    const ULONGLONG now = ::GetTickCount64();
    if (now - lastMotionLook_ > StaleBackgroundMs)
        motion_.Reset();
    lastMotionLook_ = now;
    const double share = motion_.Measure(pixels, byteCount, width, height, actionDialog_->PixelChange());
    motionShare_ = share;
    // The setting is in tenths of a percent.
    motionFound_ = share * 1000 > actionDialog_->MotionShare();
}

void LiveView::SaveOnMotion() {
    if (!GetSafeHwnd() || !actionDialog_ || !MotionSaveOn)
        return;
    actionDialog_->ShowMotionLevel(motionShare_);
    if (!std::exchange(motionFound_, false) || watcher_.Lost() || pendingImage_)
        return;
    const ULONGLONG now = ::GetTickCount64();
    const ULONGLONG gapMs = static_cast<ULONGLONG>(actionDialog_->MotionGapSeconds()) * 1000;
    if (now < motionRetryAt_ || (lastMotionSave_ != 0 && now - lastMotionSave_ < gapMs))
        return;

    const auto saved = SaveAutomatically([this](std::int32_t, AfterSaving& afterSaving) {
        afterSaving.motion = true;
        return !pendingImage_;
    });
    if (saved)
        lastMotionSave_ = now;
}

void LiveView::FailedMotionSave() {
    lastMotionSave_ = 0;
    motionRetryAt_ = ::GetTickCount64() + MotionRetryMs;
}

void LiveView::StopWatchingMotion() {
    watchingMotion_ = false;
    motionFrameAsked_ = false; // a frame still coming is only looked at by nobody
    motion_.Reset();
    lastMotionLook_ = 0;
    motionShare_.reset();
    motionFound_ = false;
    if (actionDialog_)
        actionDialog_->ShowMotionLevel(std::nullopt);
}

} // namespace lumetra

// The Live View's side of saving on motion. While "Save on Motion" is on, each tick of the camera
// timer asks the camera's slot for a frame to look at (so at most 5 a second); the motion watcher
// measures it while the slot holds it, on this thread, and a frame in which enough changed is
// followed by the automatic save the schedule makes too: same name, same upload and mail.
#include "session/LiveView.h"

#include "capture/CameraSlots.h"
#include "session/CameraSchedule.h"
#include "settings/CamActionDialog.h"

namespace lumetra {

void LiveView::AskForMotionFrame() {
    const bool wasWatching = motion_.Watching();
    if (!motion_.WantsFrame(SwitchOn(SessionSwitch::SaveOnMotion) && actionDialog_ && !watcher_.Lost() &&
                            graph_.running())) {
        if (wasWatching && !motion_.Watching() && actionDialog_)
            actionDialog_->ShowMotionLevel(std::nullopt);
        return;
    }
    // A save on its way brings a frame anyway, and the path it was armed with must stay.
    if (!pendingImage_ && !RequestFrameToView(cameraIndex_))
        return;
    motion_.FrameAsked();
}

// Runs while the slot holds the frame: measuring only, nothing that could run a message loop.
void LiveView::LookForMotion(const BYTE* pixels, uint32_t byteCount, int width, int height) {
    motion_.FrameArrived();
    if (SwitchOn(SessionSwitch::SaveOnMotion) && actionDialog_)
        motion_.Look(pixels, byteCount, width, height, actionDialog_->PixelChange(),
                     actionDialog_->MotionShare());
}

void LiveView::SaveOnMotion() {
    if (!GetSafeHwnd() || !actionDialog_ || !SwitchOn(SessionSwitch::SaveOnMotion))
        return;
    actionDialog_->ShowMotionLevel(motion_.LastShare());
    if (!motion_.TakeSaveDue(actionDialog_->MotionGapSeconds()) || watcher_.Lost() || pendingImage_)
        return;
    const auto saved = SaveAutomatically([this](std::int32_t, AfterSaving& afterSaving) {
        afterSaving.motion = true;
        return !pendingImage_;
    });
    if (saved)
        motion_.Saved();
}

} // namespace lumetra

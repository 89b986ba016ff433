#pragma once
// Watching one camera's picture for motion: when to ask for a frame to look at (once a tick at the
// most, again after a second without one), measuring it against the background while the slot
// holds it, and whether a motion save may be made now (after the gap since the last one, not right
// after one that failed). It knows no window: the Live View asks for the frames and makes the saves.

#include "imaging/MotionDetector.h"

#include <windows.h>

#include <cstdint>
#include <optional>

namespace lumetra {

class MotionWatcher {
  public:
    // Whether to ask for a frame now. `watching`: motion saving runs (its box ticked, the camera
    // live); a watcher that stops forgets its background and its last look.
    bool WantsFrame(bool watching);
    // The frame was asked for.
    void FrameAsked();
    bool FrameAskedFor() const { return frameAsked_; }
    // The frame asked for came (looked at or not).
    void FrameArrived() { frameAsked_ = false; }
    // Measures a frame while the slot holds it: nothing that could run a message loop.
    // `shareTenths`: tenths of a percent of the picture that must change for motion.
    void Look(const BYTE* pixels, std::uint32_t byteCount, int width, int height, int pixelChange,
              int shareTenths);
    // The share (0 to 1) of the picture that changed at the last look; none while not watching.
    const std::optional<double>& LastShare() const { return lastShare_; }
    bool Watching() const { return watching_; }

    // Takes the last look's finding: whether it moved and a motion save may be made now.
    bool TakeSaveDue(int gapSeconds);
    void Saved();
    // A motion save that wrote nothing is not a save: the next motion may save again soon.
    void SaveFailed();

  private:
    void Stop();

    MotionDetector detector_;
    bool watching_ = false;
    bool frameAsked_ = false;
    ULONGLONG askedAt_ = 0;
    ULONGLONG lastLook_ = 0;
    std::optional<double> lastShare_;
    bool found_ = false;
    ULONGLONG lastSave_ = 0; // GetTickCount64; 0 none
    ULONGLONG retryAt_ = 0;  // after a failed motion save, none before this
};

} // namespace lumetra

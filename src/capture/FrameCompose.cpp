// The frame's way into the image composer, kept apart so that programs using only the slots and
// the graph do not pull the composer in.
#include "capture/CameraSlots.h"

#include "imaging/ImageComposer.h"

namespace lumetra {

int FrameGrabberCallback::ComposeAndSaveFrame(double sampleTime, BYTE* pixels, uint32_t byteCount) {
    return lumetra::ComposeAndSaveFrame(sampleTime, pixels, byteCount, frameWidth, frameHeight, targetPath,
                                        overlay);
}

int HandleFrameReady(int cameraIndex) {
    FrameReadLock frame(cameraIndex);
    if (!frame.holdsFrame())
        return -1;
    return CameraSlotAt(cameraIndex)
        .callback.ComposeAndSaveFrame(frame.sampleTime(), frame.pixels(), frame.byteCount());
}

} // namespace lumetra

// The frame's way into the image composer, kept apart so that programs using only the slots and
// the graph do not pull the composer in.
#include "capture/CameraSlots.h"

#include "imaging/ImageComposer.h"

namespace lumetra {

int FrameGrabberCallback::ComposeAndSaveFrame(double sampleTime, BYTE* pixels, uint32_t byteCount, int width,
                                              int height) {
    return lumetra::ComposeAndSaveFrame(sampleTime, pixels, byteCount, width, height, targetPath, overlay);
}

FrameOutcome HandleFrameReady(int cameraIndex, const FrameViewer& viewer) {
    FrameReadLock frame(cameraIndex);
    if (!frame.holdsFrame())
        return {FrameHandled::NoFrame};
    FrameGrabberCallback& callback = CameraSlotAt(cameraIndex).callback;
    if (viewer)
        viewer(frame.pixels(), frame.byteCount(), frame.width(), frame.height());
    if (callback.targetPath[0] == '\0')
        return {FrameHandled::OnlyViewed};
    return {FrameHandled::Composed,
            callback.ComposeAndSaveFrame(frame.sampleTime(), frame.pixels(), frame.byteCount(), frame.width(),
                                         frame.height())};
}

} // namespace lumetra

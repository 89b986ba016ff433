#pragma once
// What the platform itself keeps per camera open. Wine's device enumerator and filter graph manager
// keep a few handles per use (Windows keeps none); leak checks subtract this share, counted by
// making the same calls directly.

namespace lumetra::test {

// Enumerates the video input devices, reads every property bag and makes a filter graph manager,
// releasing everything, as one camera open does. COM must be initialised on the calling thread.
void DirectShowPlatformCycle();

// Reads the video input device list as a lost camera looks for itself: every device's friendly
// name, everything released. COM must be initialised on the calling thread.
void DirectShowDeviceListRead();

} // namespace lumetra::test

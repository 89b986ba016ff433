#pragma once
// What the platform itself keeps per camera open, and per program started. Wine's device enumerator
// and filter graph manager keep a few handles per use (Windows keeps none), and Wine keeps a handle
// to the file of each host program it starts; leak checks subtract this share, counted by making
// the same calls directly.

namespace lumetra::test {

// Enumerates the video input devices, reads every property bag and makes a filter graph manager,
// releasing everything, as one camera open does. COM must be initialised on the calling thread.
void DirectShowPlatformCycle();

// Reads the video input device list as a lost camera looks for itself: every device's friendly
// name, everything released. COM must be initialised on the calling thread.
void DirectShowDeviceListRead();

// Starts python3, a program of the host as the test servers are, and waits for its end.
void HostProgramRun();

} // namespace lumetra::test

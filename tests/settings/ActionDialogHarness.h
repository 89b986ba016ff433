#pragma once
// Opens a camera's action dialog the way Open Cam does, on the test thread, and closes it again.

#include "CameraKeys.h"
#include "WindowDriver.h"
#include "capture/CameraSlots.h"
#include "settings/CamActionDialog.h"

#include <string>

namespace lumetra::test {

constexpr int TestCameraIndex = 11;
constexpr std::int32_t FixedClock = 1000000000;

// Index, name (which loads), shown. The dialog deletes itself when its window goes.
CamActionDialog* OpenCamera(const std::string& name, MirrorSwitch* mirror = nullptr,
                            ActionSession* session = nullptr, int cameraIndex = TestCameraIndex);
// Escape on the camera name edit, as the user presses it; true when the window is gone.
bool CloseWithEscape(HWND window);
// The overlay the camera's slot holds now.
const OverlaySettings& Published(int cameraIndex = TestCameraIndex);

// Types into an edit whose change handler shows a validation box, answers the box and returns its
// text ("" when none came).
std::string TypeExpectingBox(HWND window, int id, const std::string& text);

// Runs `answer` on a driver thread while the test thread clicks `id` (sent: the handler's boxes run
// inside it); true when `answer` is done within the timeout.
bool ClickAndAnswer(HWND window, int id, const std::function<void()>& answer, DWORD timeoutMs = 15000);

// Text of the camera name edit etc.
inline std::string Item(HWND window, int id) {
    return GetItemText(window, id);
}

} // namespace lumetra::test

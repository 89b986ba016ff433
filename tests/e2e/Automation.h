#pragma once
// Drives lumetra.exe from another process the way a user would, through window messages only:
// finds its windows by caption, types into edits, presses buttons, clicks check boxes and
// answers message boxes. Texts cross the process boundary only through WM_GETTEXT/WM_SETTEXT,
// which the system marshals.

#include "BoxWatcher.h"
#include "StartProcess.h"
#include "app/CameraListIds.h"
#include "session/LiveViewIds.h"
#include "settings/CamActionIds.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace lumetra::e2e {

// Control ids of the program's windows, as a user sees them: the program's own tables.
namespace ids {
using namespace lumetra::camera_list_ids;
using namespace lumetra::cam_action_ids;
constexpr int Exit = IDOK;
constexpr int LiveViewName = lumetra::live_view_ids::CameraNameEdit;
constexpr int VideoHost = lumetra::live_view_ids::VideoHost;
} // namespace ids

// Windows path of the build directory (from %LUMETRA_BUILD_DIR%).
std::string BuildDirectory();

// One run of lumetra.exe.
using LumetraProcess = lumetra::test::ChildProcess;

// Visible top-level windows of process `pid` with this caption.
std::vector<HWND> WindowsOf(DWORD pid, const std::string& caption);
// Waits for a visible top-level window of `pid` with this caption that has control `itemId`.
HWND WaitForWindow(DWORD pid, const std::string& caption, int itemId, DWORD timeoutMs = 10000);
// Waits until the window is gone (destroyed or hidden).
bool WaitForGone(HWND window, DWORD timeoutMs = 10000);

// The camera's pair of windows, found by the name they show.
struct CameraWindows {
    HWND liveView = nullptr;
    HWND camAction = nullptr;
};
CameraWindows WaitForCamera(DWORD pid, const std::string& cameraName, DWORD timeoutMs = 15000);

std::string WindowText(HWND window);
std::string ItemText(HWND dialog, int id);
// Types `text` into an edit (WM_SETTEXT: the edit tells its dialog as typing does). Returns false
// when the dialog had not handled it after `waitMs` (its handler opened a message box).
bool Type(HWND dialog, int id, const std::string& text, DWORD waitMs = 10000);
// Presses a push button and waits until its handler has returned. False after `waitMs` (the
// handler is still running, for instance inside a message box).
bool Press(HWND dialog, int id, DWORD waitMs = 30000);
// Presses a push button without waiting (for buttons that open modal windows).
void PressLater(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);
// Clicks a check box until it shows `checked` (one click when it differs), the way a mouse click
// does: the box toggles and its dialog's click handler runs.
bool SetChecked(HWND dialog, int id, bool checked, DWORD waitMs = 10000);
// Enter (IDOK) or Escape (IDCANCEL) as the dialog manager turns the keys into commands.
void SendCommandLater(HWND dialog, int command);

// A message box of the program.
using MessageBoxSeen = lumetra::test::SeenBox;
// Waits for a message box (a dialog with the message text in static 0xFFFF that is none of the
// program's own windows) of process `pid`.
std::optional<MessageBoxSeen> WaitForMessageBox(DWORD pid, DWORD timeoutMs = 10000);
// Presses `command` on the box and waits until it is gone.
bool AnswerBox(const MessageBoxSeen& box, int command = IDOK);
// Answers every box that shows up within `quietMs` of the last one; returns them in order.
std::vector<MessageBoxSeen> AnswerAllBoxes(DWORD pid, DWORD quietMs);

// Names in the camera list, read by selecting each entry and reading the CAM edit (list texts
// do not cross processes). Leaves the CAM edit showing the last entry.
std::vector<std::string> ListedCameras(HWND cameraList);
// Selects the entry whose text is `name` (as a click on it does); false when there is none.
bool SelectCamera(HWND cameraList, const std::string& name);

} // namespace lumetra::e2e

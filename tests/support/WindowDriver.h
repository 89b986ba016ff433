#pragma once
// Drives windows from outside the way a user would, through window messages only.
// Typical use: the test thread runs a modal dialog while a Driver thread finds and answers it.

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace lumetra::test {

// Waits for a visible top-level window with this caption (any thread of this process unless
// `anyProcess`); returns null after the timeout.
HWND WaitForWindow(const std::string& caption, DWORD timeoutMs = 5000, bool anyProcess = false);
// Waits for a dialog with this caption that has a control `itemId` (tells a main window from a
// message box of the same caption).
HWND WaitForDialogWithItem(const std::string& caption, int itemId, DWORD timeoutMs = 5000,
                           bool anyProcess = false);
// Waits until the window is gone.
bool WaitForWindowGone(HWND window, DWORD timeoutMs = 5000);
// From another thread: returns once the window's thread takes messages again (a message sent from
// another thread is handled only then), so a handler running there has ended; false after the timeout.
bool AwaitMessageLoop(HWND window, DWORD timeoutMs = 5000);
// All visible top-level windows of this process with this caption.
std::vector<HWND> FindWindows(const std::string& caption);

std::string GetText(HWND window);
std::string GetItemText(HWND dialog, int id);
// The message text of a standard message box.
std::string MessageBoxText(HWND box);
// Sets an edit's text as typing would (the control notifies its parent).
void SetItemText(HWND dialog, int id, const std::string& text);
// Clicks a button; posted, so a press that opens a modal window does not block the caller.
void Click(HWND dialog, int id);
// Clicks a button and returns once its handler has run (sent): for a press whose boxes another
// thread answers, or that opens none.
void SendClick(HWND dialog, int id);
// Answers a message box or dialog with a command (IDOK, IDCANCEL, ...).
void Answer(HWND dialog, int command);
bool IsChecked(HWND dialog, int id);
// Sends a key press to a control (WM_KEYDOWN/WM_KEYUP posted to it).
void PressKey(HWND control, UINT virtualKey);

// Waits for a message box with `caption`, records its text and presses OK. Returns "" on timeout.
std::string AnswerMessageBox(const std::string& caption, DWORD timeoutMs = 5000, int command = IDOK);

// Runs `work` on a thread of its own; Join() waits for it. Destruction joins too.
// When a check fails on that thread (or `work` throws), the test thread is set free at once: every
// dialog and message box it shows is cancelled until it joins, so a test whose thread waits in a
// modal loop ends with its failure instead of waiting for CTest's timeout. A test thread that still
// has not joined 20 s later ends the program.
class Driver {
  public:
    explicit Driver(std::function<void()> work);
    ~Driver();
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;
    void Join();

  private:
    void Run(const std::function<void()>& work);
    void ReleaseTestThread();

    DWORD testThread_;
    std::atomic<bool> joining_{false};
    std::thread thread_;
};

// Pumps this thread's messages for `milliseconds` (for modeless windows under test).
void PumpMessages(DWORD milliseconds);
// Pumps until `done` is true or the timeout passes; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

} // namespace lumetra::test

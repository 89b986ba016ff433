#pragma once
// Message boxes, of this process or another: found, read and answered, one at a time or by a
// BoxWatcher from a thread of its own.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lumetra::test {

struct SeenBox {
    HWND window = nullptr;
    std::string caption;
    std::string text;
    HWND owner = nullptr;
    long long seenAt = 0; // wall-clock seconds since 1970 when it was first seen, as image stamps are
};

// Visible message boxes of process `processId`: dialogs with the message text static (0xFFFF) and
// none of the controls `notBoxItems` lists (a program's own dialogs may carry an unnamed static).
std::vector<HWND> MessageBoxesOf(DWORD processId, const std::vector<int>& notBoxItems = {});
// Caption, text and owner of a box, read with time limits (a hung window gives empty texts).
SeenBox ReadMessageBox(HWND box);
// Waits for a message box of the process; nullopt after the timeout.
std::optional<SeenBox> WaitForMessageBox(DWORD processId, DWORD timeoutMs,
                                         const std::vector<int>& notBoxItems = {});
// Presses `command` on the box (posted) and waits until it is gone.
bool AnswerBox(HWND box, int command = IDOK, DWORD timeoutMs = 5000);
// Answers every box of the process that shows up within `quietMs` of the last one, in order.
std::vector<SeenBox> AnswerAllBoxes(DWORD processId, DWORD quietMs, const std::vector<int>& notBoxItems = {});

// Answers this process's message boxes (not its other dialogs) from a thread of its own: records each
// box's caption, text and owner, then presses its OK button once it has been shown for a while.
class BoxWatcher {
  public:
    explicit BoxWatcher(std::chrono::milliseconds closeAfter = std::chrono::milliseconds(150));
    ~BoxWatcher();
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;

    std::vector<SeenBox> Seen() const;

  private:
    struct OpenBox {
        HWND window;
        std::chrono::steady_clock::time_point firstSeen;
    };
    void Run();
    void Poll();

    std::chrono::milliseconds closeAfter_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<SeenBox> seen_;
    std::vector<OpenBox> open_;
    std::thread thread_;
};

} // namespace lumetra::test

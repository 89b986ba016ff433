#pragma once
// Answers the message boxes of this process (not its other dialogs) from a thread of its own: records each
// box's caption, text and owner, then presses its OK button once it has been shown for a while.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lumetra::test {

struct SeenBox {
    std::string caption;
    std::string text;
    HWND owner = nullptr;
    long long seenAt = 0; // wall-clock seconds since 1970 when it was first seen, as image stamps are
};

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

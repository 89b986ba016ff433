#include "BoxWatcher.h"

#include <algorithm>

namespace lumetra::test {
namespace {

constexpr int kMessageTextId = 0xFFFF;

std::string WindowText(HWND window) {
    const int length = ::GetWindowTextLengthA(window);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = ::GetWindowTextA(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(copied, 0)));
    return text;
}

BOOL CALLBACK CollectDialogs(HWND window, LPARAM param) {
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    char className[16] = {};
    ::GetClassNameA(window, className, sizeof(className));
    // A message box has its text in control 0xFFFF; the program's own dialogs (the camera list, Live
    // View, CAM ACTION) are of the same class and must be left alone.
    if (processId == ::GetCurrentProcessId() && std::string(className) == "#32770" &&
        ::IsWindowVisible(window) && ::GetDlgItem(window, kMessageTextId) != nullptr)
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

} // namespace

BoxWatcher::BoxWatcher(std::chrono::milliseconds closeAfter)
    : closeAfter_(closeAfter), thread_([this] { Run(); }) {}

BoxWatcher::~BoxWatcher() {
    stop_ = true;
    thread_.join();
}

std::vector<SeenBox> BoxWatcher::Seen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

void BoxWatcher::Run() {
    while (!stop_) {
        Poll();
        ::Sleep(20);
    }
}

void BoxWatcher::Poll() {
    std::vector<HWND> dialogs;
    ::EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&dialogs));
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(open_, [&](const OpenBox& box) {
        return std::find(dialogs.begin(), dialogs.end(), box.window) == dialogs.end();
    });
    for (HWND dialog : dialogs) {
        auto known = std::find_if(open_.begin(), open_.end(),
                                  [&](const OpenBox& box) { return box.window == dialog; });
        if (known == open_.end()) {
            HWND textControl = ::GetDlgItem(dialog, kMessageTextId);
            seen_.push_back({WindowText(dialog), textControl ? WindowText(textControl) : std::string(),
                             ::GetWindow(dialog, GW_OWNER)});
            open_.push_back({dialog, now});
        } else if (now - known->firstSeen >= closeAfter_) {
            ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
    }
}

} // namespace lumetra::test

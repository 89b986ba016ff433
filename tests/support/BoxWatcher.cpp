#include "BoxWatcher.h"

#include <algorithm>
#include <cstring>

namespace lumetra::test {
namespace {

constexpr int kMessageTextId = 0xFFFF;

struct BoxSearch {
    DWORD processId;
    const std::vector<int>* notBoxItems;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectBoxes(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<BoxSearch*>(param);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    char className[16] = {};
    ::GetClassNameA(window, className, sizeof className);
    if (processId != search->processId || std::strcmp(className, "#32770") != 0 ||
        !::IsWindowVisible(window) || !::GetDlgItem(window, kMessageTextId))
        return TRUE;
    const auto& excluded = *search->notBoxItems;
    if (std::none_of(excluded.begin(), excluded.end(), [&](int id) { return ::GetDlgItem(window, id); }))
        search->found.push_back(window);
    return TRUE;
}

// WM_GETTEXT with a time limit: the window may belong to another process or a busy thread.
std::string TextWithin(HWND window, DWORD waitMs) {
    DWORD_PTR length = 0;
    if (!window || !::SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, waitMs, &length))
        return {};
    std::vector<char> buffer(length + 1, '\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                          SMTO_NORMAL, waitMs, &copied);
    return std::string(buffer.data());
}

} // namespace

std::vector<HWND> MessageBoxesOf(DWORD processId, const std::vector<int>& notBoxItems) {
    BoxSearch search{processId, &notBoxItems, {}};
    ::EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

SeenBox ReadMessageBox(HWND box) {
    return {
        box, TextWithin(box, 5000), TextWithin(::GetDlgItem(box, kMessageTextId), 5000),
        ::GetWindow(box, GW_OWNER),
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count()};
}

std::optional<SeenBox> WaitForMessageBox(DWORD processId, DWORD timeoutMs,
                                         const std::vector<int>& notBoxItems) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        const std::vector<HWND> boxes = MessageBoxesOf(processId, notBoxItems);
        if (!boxes.empty())
            return ReadMessageBox(boxes.front());
        if (::GetTickCount() - start >= timeoutMs)
            return std::nullopt;
        ::Sleep(20);
    }
}

bool AnswerBox(HWND box, int command, DWORD timeoutMs) {
    ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
    const DWORD start = ::GetTickCount();
    while (::IsWindow(box) && ::IsWindowVisible(box)) {
        if (::GetTickCount() - start >= timeoutMs)
            return false;
        ::Sleep(20);
    }
    return true;
}

std::vector<SeenBox> AnswerAllBoxes(DWORD processId, DWORD quietMs, const std::vector<int>& notBoxItems) {
    std::vector<SeenBox> seen;
    while (auto box = WaitForMessageBox(processId, quietMs, notBoxItems)) {
        seen.push_back(*box);
        AnswerBox(box->window);
    }
    return seen;
}

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
    const std::vector<HWND> boxes = MessageBoxesOf(::GetCurrentProcessId());
    const auto now = std::chrono::steady_clock::now();
    // open_ is this thread's own; the lock guards only seen_, and is never held while a window is
    // asked for its text (its thread may be waiting for the lock in Seen()).
    std::erase_if(open_, [&](const OpenBox& box) {
        return std::find(boxes.begin(), boxes.end(), box.window) == boxes.end();
    });
    for (HWND box : boxes) {
        auto known =
            std::find_if(open_.begin(), open_.end(), [&](const OpenBox& open) { return open.window == box; });
        if (known == open_.end()) {
            SeenBox seen = ReadMessageBox(box);
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.push_back(std::move(seen));
            open_.push_back({box, now});
        } else if (now - known->firstSeen >= closeAfter_) {
            ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
    }
}

} // namespace lumetra::test

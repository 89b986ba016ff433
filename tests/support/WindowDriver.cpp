#include "WindowDriver.h"

#include "BoxWatcher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace lumetra::test {

namespace {
struct FindRequest {
    std::string caption;
    bool anyProcess;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
    auto* request = reinterpret_cast<FindRequest*>(param);
    if (!::IsWindowVisible(window))
        return TRUE;
    if (!request->anyProcess) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(window, &pid);
        if (pid != ::GetCurrentProcessId())
            return TRUE;
    }
    if (GetText(window) == request->caption)
        request->found.push_back(window);
    return TRUE;
}

// Tab, Enter and Escape reach dialogs as in the program's own loop.
bool IsDialogKey(MSG& msg) {
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST || !msg.hwnd)
        return false;
    HWND root = ::GetAncestor(msg.hwnd, GA_ROOT);
    char className[16] = {};
    ::GetClassNameA(root, className, sizeof className);
    return ::lstrcmpA(className, "#32770") == 0 && ::IsDialogMessageA(root, &msg);
}

std::vector<HWND> Collect(const std::string& caption, bool anyProcess) {
    FindRequest request{caption, anyProcess, {}};
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&request));
    return request.found;
}
} // namespace

std::vector<HWND> FindWindows(const std::string& caption) {
    return Collect(caption, false);
}

HWND WaitForWindow(const std::string& caption, DWORD timeoutMs, bool anyProcess) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        auto found = Collect(caption, anyProcess);
        if (!found.empty())
            return found.front();
        if (::GetTickCount() - start >= timeoutMs)
            return nullptr;
        ::Sleep(20);
    }
}

HWND WaitForDialogWithItem(const std::string& caption, int itemId, DWORD timeoutMs, bool anyProcess) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        for (HWND window : Collect(caption, anyProcess))
            if (::GetDlgItem(window, itemId))
                return window;
        if (::GetTickCount() - start >= timeoutMs)
            return nullptr;
        ::Sleep(20);
    }
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    while (::IsWindow(window) && ::IsWindowVisible(window)) {
        if (::GetTickCount() - start >= timeoutMs)
            return false;
        ::Sleep(20);
    }
    return true;
}

bool AwaitMessageLoop(HWND window, DWORD timeoutMs) {
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}

std::string GetText(HWND window) {
    if (!window)
        return {};
    const int length = static_cast<int>(::SendMessageA(window, WM_GETTEXTLENGTH, 0, 0));
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    ::SendMessageA(window, WM_GETTEXT, static_cast<WPARAM>(length + 1),
                   reinterpret_cast<LPARAM>(buffer.data()));
    return std::string(buffer.data());
}

std::string GetItemText(HWND dialog, int id) {
    return GetText(::GetDlgItem(dialog, id));
}

std::string MessageBoxText(HWND box) {
    return GetItemText(box, 0xFFFF);
}

void SetItemText(HWND dialog, int id, const std::string& text) {
    ::SendMessageA(::GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Click(HWND dialog, int id) {
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

void SendClick(HWND dialog, int id) {
    ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

void Answer(HWND dialog, int command) {
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
}

bool IsChecked(HWND dialog, int id) {
    return ::IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void PressKey(HWND control, UINT virtualKey) {
    ::PostMessageA(control, WM_KEYDOWN, virtualKey, 1);
    ::PostMessageA(control, WM_KEYUP, virtualKey, 0xC0000001);
}

std::string AnswerMessageBox(const std::string& caption, DWORD timeoutMs, int command) {
    HWND box = WaitForDialogWithItem(caption, 0xFFFF, timeoutMs); // the message text
    if (!box)
        return {};
    std::string text = MessageBoxText(box);
    AnswerBox(box, command, timeoutMs);
    return text;
}

namespace {

// Set on a thread when a check fails there; read by that thread only.
thread_local bool checkFailedOnThisThread = false;

class FailureOnThisThread : public ::testing::EmptyTestEventListener {
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (result.failed())
            checkFailedOnThisThread = true;
    }
};

// Installed by the first driver, on the test thread, while no other driver thread runs.
void WatchFailures() {
    static std::once_flag once;
    std::call_once(once,
                   [] { ::testing::UnitTest::GetInstance()->listeners().Append(new FailureOnThisThread); });
}

BOOL CALLBACK CollectThreadDialogs(HWND window, LPARAM param) {
    char className[16] = {};
    ::GetClassNameA(window, className, sizeof className);
    if (::lstrcmpA(className, "#32770") == 0 && ::IsWindowVisible(window) && ::IsWindowEnabled(window))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

// Cancel for a dialog; for a message box the button that stands for it (No, else OK).
void Cancel(HWND dialog) {
    int command = IDCANCEL;
    if (::GetDlgItem(dialog, 0xFFFF) && !::GetDlgItem(dialog, IDCANCEL))
        command = ::GetDlgItem(dialog, IDNO) ? IDNO : IDOK;
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, command)));
}

} // namespace

Driver::Driver(std::function<void()> work) : testThread_(::GetCurrentThreadId()) {
    WatchFailures();
    thread_ = std::thread([this, work = std::move(work)] { Run(work); });
}

Driver::~Driver() {
    Join();
}

void Driver::Join() {
    joining_ = true;
    if (thread_.joinable())
        thread_.join();
}

void Driver::Run(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& error) {
        ADD_FAILURE() << "the driver thread threw: " << error.what();
    } catch (...) {
        ADD_FAILURE() << "the driver thread threw";
    }
    if (checkFailedOnThisThread)
        ReleaseTestThread();
}

void Driver::ReleaseTestThread() {
    const DWORD start = ::GetTickCount();
    while (!joining_) {
        std::vector<HWND> dialogs;
        ::EnumThreadWindows(testThread_, CollectThreadDialogs, reinterpret_cast<LPARAM>(&dialogs));
        for (HWND dialog : dialogs)
            Cancel(dialog);
        if (::GetTickCount() - start >= 20000) {
            std::fprintf(stderr,
                         "A check failed in a driver thread and the test thread is still held 20 s later; "
                         "ending the test program.\n");
            std::fflush(stderr);
            std::_Exit(3);
        }
        ::Sleep(100);
    }
}

void PumpMessages(DWORD milliseconds) {
    PumpUntil([] { return false; }, milliseconds);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    MSG msg;
    while (!done()) {
        if (::GetTickCount() - start >= timeoutMs)
            return done();
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (IsDialogKey(msg))
                continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

} // namespace lumetra::test

#include "Automation.h"

#include <algorithm>
#include <cstring>

namespace lumetra::e2e {

namespace {

// Controls that tell the program's own dialogs from its message boxes.
const std::vector<int>& ProgramWindowItems() {
    static const std::vector<int> items{ids::DeviceList, ids::VideoHost, ids::CameraName, ids::CamEdit};
    return items;
}

struct Search {
    DWORD pid;
    const std::string* caption; // null: any
    std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid || !::IsWindowVisible(window))
        return TRUE;
    if (!search->caption || WindowText(window) == *search->caption)
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevel(DWORD pid, const std::string* caption) {
    Search search{pid, caption, {}};
    ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD waitMs) {
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, waitMs, &result) != 0;
}

} // namespace

std::string BuildDirectory() {
    char value[MAX_PATH * 2] = {};
    const DWORD length = ::GetEnvironmentVariableA("LUMETRA_BUILD_DIR", value, sizeof value);
    if (length == 0 || length >= sizeof value)
        return {};
    std::string path(value, length);
    if (path[0] == '/') { // a Linux path set by ctest: the Linux root is drive Z:
        std::replace(path.begin(), path.end(), '/', '\\');
        path = "Z:" + path;
    }
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

// --- Windows ---

std::vector<HWND> WindowsOf(DWORD pid, const std::string& caption) {
    return TopLevel(pid, &caption);
}

HWND WaitForWindow(DWORD pid, const std::string& caption, int itemId, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        for (HWND window : TopLevel(pid, &caption))
            if (::GetDlgItem(window, itemId))
                return window;
        if (::GetTickCount() - start >= timeoutMs)
            return nullptr;
        ::Sleep(25);
    }
}

bool WaitForGone(HWND window, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    while (::IsWindow(window) && ::IsWindowVisible(window)) {
        if (::GetTickCount() - start >= timeoutMs)
            return false;
        ::Sleep(25);
    }
    return true;
}

CameraWindows WaitForCamera(DWORD pid, const std::string& cameraName, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    const std::string liveViewCaption = "Live View", camActionCaption = "CAM ACTION";
    CameraWindows windows;
    for (;;) {
        for (HWND window : TopLevel(pid, &liveViewCaption))
            if (ItemText(window, ids::LiveViewName) == cameraName)
                windows.liveView = window;
        for (HWND window : TopLevel(pid, &camActionCaption))
            if (ItemText(window, ids::CameraName) == cameraName)
                windows.camAction = window;
        if ((windows.liveView && windows.camAction) || ::GetTickCount() - start >= timeoutMs)
            return windows;
        ::Sleep(25);
    }
}

std::string WindowText(HWND window) {
    if (!window)
        return {};
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 5000, &length))
        return {};
    std::vector<char> buffer(length + 1, '\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                          SMTO_NORMAL, 5000, &copied);
    return std::string(buffer.data());
}

std::string ItemText(HWND dialog, int id) {
    return WindowText(::GetDlgItem(dialog, id));
}

bool Type(HWND dialog, int id, const std::string& text, DWORD waitMs) {
    return SendWithin(::GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                      waitMs);
}

bool Press(HWND dialog, int id, DWORD waitMs) {
    return SendWithin(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)), waitMs);
}

void PressLater(HWND dialog, int id) {
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

bool IsChecked(HWND dialog, int id) {
    DWORD_PTR state = 0;
    ::SendMessageTimeoutA(::GetDlgItem(dialog, id), BM_GETCHECK, 0, 0, SMTO_NORMAL, 5000, &state);
    return state == BST_CHECKED;
}

bool SetChecked(HWND dialog, int id, bool checked, DWORD waitMs) {
    if (IsChecked(dialog, id) == checked)
        return true;
    // BM_CLICK presses and releases the mouse button on the box: it toggles and notifies.
    return SendWithin(::GetDlgItem(dialog, id), BM_CLICK, 0, 0, waitMs) && IsChecked(dialog, id) == checked;
}

void SendCommandLater(HWND dialog, int command) {
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
}

// --- Message boxes ---

std::optional<MessageBoxSeen> WaitForMessageBox(DWORD pid, DWORD timeoutMs) {
    return lumetra::test::WaitForMessageBox(pid, timeoutMs, ProgramWindowItems());
}

bool AnswerBox(const MessageBoxSeen& box, int command) {
    return lumetra::test::AnswerBox(box.window, command);
}

std::vector<MessageBoxSeen> AnswerAllBoxes(DWORD pid, DWORD quietMs) {
    return lumetra::test::AnswerAllBoxes(pid, quietMs, ProgramWindowItems());
}

// --- Camera list ---

std::vector<std::string> ListedCameras(HWND cameraList) {
    HWND list = ::GetDlgItem(cameraList, ids::DeviceList);
    DWORD_PTR count = 0;
    ::SendMessageTimeoutA(list, LB_GETCOUNT, 0, 0, SMTO_NORMAL, 5000, &count);
    std::vector<std::string> names;
    for (int i = 0; i < static_cast<int>(count); ++i) {
        SendWithin(list, LB_SETCURSEL, static_cast<WPARAM>(i), 0, 5000);
        SendWithin(cameraList, WM_COMMAND, MAKEWPARAM(ids::DeviceList, LBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(list), 5000);
        names.push_back(ItemText(cameraList, ids::CamEdit));
    }
    return names;
}

bool SelectCamera(HWND cameraList, const std::string& name) {
    const std::vector<std::string> names = ListedCameras(cameraList);
    const auto found = std::find(names.begin(), names.end(), name);
    if (found == names.end())
        return false;
    HWND list = ::GetDlgItem(cameraList, ids::DeviceList);
    SendWithin(list, LB_SETCURSEL, static_cast<WPARAM>(found - names.begin()), 0, 5000);
    SendWithin(cameraList, WM_COMMAND, MAKEWPARAM(ids::DeviceList, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(list), 5000);
    return ItemText(cameraList, ids::CamEdit) == name;
}

} // namespace lumetra::e2e
